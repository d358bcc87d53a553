// System error texts from strerror_r.
#include "platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace corvane::platform {

int LastSystemError() { return errno; }

void SetLastSystemError(int code) { errno = code; }

std::string SystemErrorText(int code) {
  if (code == 0) return std::string();
  char buffer[256];
  // GNU strerror_r returns a pointer that may or may not be buffer.
  const char* text = ::strerror_r(code, buffer, sizeof buffer);
  return text != nullptr ? std::string(text) : std::string();
}

}  // namespace corvane::platform
