// New UUIDs from libuuid.
#include "platform/UuidSource.h"

#include <uuid/uuid.h>

namespace corvane::platform {

bool AppendNewUuidText(std::string& out) {
  uuid_t id;
  // libuuid reads the kernel's random source and falls back to its own
  // generator, so this cannot fail; the null check guards the contract.
  uuid_generate_random(id);
  if (uuid_is_null(id)) return false;
  char text[37];
  uuid_unparse_lower(id, text);
  out.append(text);
  return true;
}

}  // namespace corvane::platform
