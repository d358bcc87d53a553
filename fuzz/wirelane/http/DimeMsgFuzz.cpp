// Fuzz target: parsing arbitrary bytes as a DIME message and reading its records back.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sealvault/Debug.h"

#include "wirelane/http/DimeMsg.h"

// Error lines for every malformed input would only slow the run down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Debug::SetLogFile("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // An exactly sized copy, so any read past the end is caught.
  std::vector<char> bytes(data, data + size);
  DimeMsg message;
  message.ParseMessage(bytes.data(), bytes.size());
  for (unsigned i = 0; i < message.GetRecordCount(); ++i) {
    unsigned long length = 0;
    message.GetRecord(i, length);
    message.GetRecordProperty(i, "type");
    message.GetRecordType(message.GetRecordProperty(i, "id"));
  }
  return 0;
}
