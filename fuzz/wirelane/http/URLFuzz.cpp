// Fuzz target: URL parsing and composing of arbitrary lines, and form decoding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "wirelane/http/URL.h"
#include "wirelane/http/URLDecode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);  // NUL-terminated copy
  URL url;
  url.Parse(text.c_str());
  url.GetDirectory();
  url.GetPathInfo();
  url.GetFileExtension();
  url.GetBase();
  url.GetFileAndParam();
  url.ToString();
  URL copy(url);
  copy.SubstituteDirectory("/", "/x/");

  KVMapImp<StringMap> map;
  URLDecode(text.c_str(), &map, size % 2 == 0);
  return 0;
}
