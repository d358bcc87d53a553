// Owned key and value texts kept in slot arrays, shared by the string and object maps.
#pragma once

#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace corvane {

// A NUL-terminated text owned by a map slot; null marks a free slot. The text
// never moves while the slot holds it, so pointers handed out stay valid when
// the slot array itself grows.
using OwnedText = std::unique_ptr<char[]>;

inline OwnedText CopyText(std::string_view text) {
  auto copy = std::make_unique_for_overwrite<char[]>(text.size() + 1);
  std::memcpy(copy.get(), text.data(), text.size());
  copy[text.size()] = '\0';
  return copy;
}

// Index of the lowest free slot, or keys.size() when every slot is taken.
inline size_t LowestFreeSlot(const std::vector<OwnedText>& keys) noexcept {
  size_t i = 0;
  while (i < keys.size() && keys[i]) ++i;
  return i;
}

inline unsigned CountUsedSlots(const std::vector<OwnedText>& keys) noexcept {
  unsigned used = 0;
  for (const auto& key : keys) used += key ? 1u : 0u;
  return used;
}

}  // namespace corvane
