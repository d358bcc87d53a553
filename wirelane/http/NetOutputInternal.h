// Internal: text checks shared by the NetOutput source files.
#pragma once

#include <cstring>
#include <string_view>

#include "common/NoCase.h"

namespace corvane::netoutput {

// Source-file tag of the log lines written by NetOutput.
inline constexpr const char* kTag = "NetOutput";

inline bool ContainsNoCase(std::string_view text, std::string_view part) {
  if (part.size() > text.size()) return false;
  for (size_t at = 0; at + part.size() <= text.size(); ++at) {
    if (EqualsNoCase(text.substr(at, part.size()), part)) return true;
  }
  return false;
}

inline bool IsMethod(const char* method, std::string_view name) {
  return method != nullptr && EqualsNoCase(method, name);
}

// A CR or LF inside a header name, value or request line would end the line
// early and let the rest pass as further fields (header injection).
inline bool HasLineBreak(const char* text) {
  return text != nullptr && std::strpbrk(text, "\r\n") != nullptr;
}

}  // namespace corvane::netoutput
