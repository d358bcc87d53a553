// Case-insensitive comparison of narrow texts.
#include "common/NoCase.h"

namespace corvane {

int CompareNoCase(std::string_view a, std::string_view b) noexcept {
  const size_t common = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < common; ++i) {
    const unsigned char ca = FoldAscii(static_cast<unsigned char>(a[i]));
    const unsigned char cb = FoldAscii(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

}  // namespace corvane
