// Case-insensitive comparison of narrow (UTF-8) texts, shared by every map of names.
#pragma once

#include <string>
#include <string_view>

#include "common/CommonExport.h"

namespace corvane {

// Compares two texts byte-wise with ASCII letters folded to lower case; bytes of
// multibyte UTF-8 characters (all 0x80 and above) compare as they are.
// Returns <0, 0 or >0 like strcmp.
CORVANE_COMMON_API int CompareNoCase(std::string_view a, std::string_view b) noexcept;

// True when both texts are equal without regard to ASCII letter case.
inline bool EqualsNoCase(std::string_view a, std::string_view b) noexcept {
  return a.size() == b.size() && CompareNoCase(a, b) == 0;
}

// Ordering for std::map and std::set keyed by names compared without regard to case.
struct NoCaseLess {
  using is_transparent = void;
  bool operator()(std::string_view a, std::string_view b) const noexcept {
    return CompareNoCase(a, b) < 0;
  }
};

}  // namespace corvane
