// Case-insensitive comparison of narrow (UTF-8) texts, shared by every map of names.
#pragma once

#include <string>
#include <string_view>

#include "common/CommonExport.h"

namespace corvane {

// ASCII letters folded to lower case; every other byte as it is.
constexpr unsigned char FoldAscii(unsigned char c) noexcept {
  return (c >= 'A' && c <= 'Z') ? static_cast<unsigned char>(c + ('a' - 'A')) : c;
}

// Compares two texts byte-wise with ASCII letters folded to lower case; bytes of
// multibyte UTF-8 characters (all 0x80 and above) compare as they are.
// Returns <0, 0 or >0 like strcmp.
CORVANE_COMMON_API int CompareNoCase(std::string_view a, std::string_view b) noexcept;

// True when both texts are equal without regard to ASCII letter case.
inline bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(static_cast<unsigned char>(a[i])) != FoldAscii(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

// True when the NUL-terminated text equals b without regard to ASCII letter
// case. Inline and stopping at the first difference, because map lookups run
// it over every key.
inline bool EqualsNoCase(const char* text, std::string_view b) noexcept {
  if (text == nullptr) return false;
  size_t i = 0;
  for (; i < b.size(); ++i) {
    if (text[i] == '\0' ||
        FoldAscii(static_cast<unsigned char>(text[i])) != FoldAscii(static_cast<unsigned char>(b[i])))
      return false;
  }
  return text[i] == '\0';
}

// Ordering for std::map and std::set keyed by names compared without regard to case.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    return CompareNoCase(a, b) < 0;
  }
};

}  // namespace corvane
