// Fuzz target: parsing arbitrary text as an HTTP header block (request or status line and fields).
#include <cstddef>
#include <cstdint>
#include <string>

#include "sealvault/Debug.h"

#include "wirelane/http/HTTPSock.h"

namespace {

// Reaches the protected parser without a connection.
class HeaderParser : public HTTPSock {
 public:
  HeaderParser() : HTTPSock(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain) {}
  bool Parse(const char* text, KVMapImp<StringMap>* header) { return ParseHttpHeader(text, header); }
};

}  // namespace

// Error lines for every malformed input would only slow the run down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Debug::SetLogFile("/dev/null");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static HeaderParser* parser = new HeaderParser;  // one socket for the whole run
  const std::string text(reinterpret_cast<const char*>(data), size);
  KVMapImp<StringMap> header;
  parser->Parse(text.c_str(), &header);
  std::string out;
  header.ToString(out, ": ", "\r\n", nullptr);
  if (URL* url = parser->GetURL()) {
    url->ToString();
    url->GetPathInfo();
  }
  parser->ParseCookie(text.c_str());
  return 0;
}
