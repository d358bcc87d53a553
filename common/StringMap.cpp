// Slot storage, lookup with the "key[n]" selector and text forms of the string map.
#include "common/StringMap.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string_view>

#include "common/NoCase.h"
#include "common/TextSlotsInternal.h"

namespace {

constexpr unsigned kInitialSlots = 50;
constexpr unsigned kGrowthStep = 50;
constexpr int kNone = -1;
constexpr const char kDumpRule[] = "------------------------------------\n";

bool IsBlank(const char* text) { return text == nullptr || *text == '\0'; }

std::string_view TextOrEmpty(const char* text) {
  return text == nullptr ? std::string_view() : text;
}

// Reads the number of a "[n]" selector the way atoi does (sign, then digits,
// stopping at anything else), after skipping spaces and tabs only. Saturates
// instead of overflowing.
int ParseSelectorNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long number = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    number = number * 10 + (text[i] - '0');
    if (number > INT_MAX) {
      number = INT_MAX;
      break;
    }
  }
  return static_cast<int>(negative ? -number : number);
}

// The parts of a lookup name: the whole name, and for "base[n]" the base
// (empty when there is no selector) and n.
struct Selector {
  std::string_view whole;
  std::string_view base;
  int nth = 0;
};

Selector ParseSelector(std::string_view name) {
  Selector selector{name, {}, 0};
  const size_t open = name.rfind('[');
  if (open == std::string_view::npos || name.back() != ']') return selector;
  selector.base = name.substr(0, open);
  selector.nth = ParseSelectorNumber(name.substr(open + 1));
  return selector;
}

}  // namespace

StringMap::StringMap() : keys_(kInitialSlots), values_(kInitialSlots), growStep_(kGrowthStep) {}

StringMap::~StringMap() = default;

const char* StringMap::Get(unsigned index) const {
  return index < values_.size() ? values_[index].get() : nullptr;
}

const char* StringMap::Get(const char* name) const {
  const int index = GetIndex(name);
  return index == kNone ? nullptr : values_[static_cast<unsigned>(index)].get();
}

int StringMap::GetIndex(const char* name) const {
  if (name == nullptr || *name == '\0') return kNone;
  const Selector selector = ParseSelector(name);
  if (selector.base.empty()) {
    // The common lookup, a plain name: most keys differ in their first letter.
    const unsigned char first = corvane::FoldAscii(static_cast<unsigned char>(selector.whole[0]));
    for (size_t i = 0; i < usedEnd_; ++i) {
      const char* key = keys_[i].get();
      if (key != nullptr && corvane::FoldAscii(static_cast<unsigned char>(*key)) == first &&
          corvane::EqualsNoCase(key, selector.whole))
        return static_cast<int>(i);
    }
    return kNone;
  }
  int baseMatches = 0;
  for (size_t i = 0; i < usedEnd_; ++i) {
    if (!keys_[i]) continue;
    const char* key = keys_[i].get();
    if (corvane::EqualsNoCase(key, selector.whole)) return static_cast<int>(i);
    if (!selector.base.empty() && corvane::EqualsNoCase(key, selector.base)) {
      if (baseMatches >= selector.nth) return static_cast<int>(i);
      ++baseMatches;
    }
  }
  return kNone;
}

const char* StringMap::GetKey(unsigned index) const {
  return index < keys_.size() ? keys_[index].get() : nullptr;
}

unsigned StringMap::TakeFreeSlot() {
  const size_t slot = corvane::LowestFreeSlot(keys_);
  if (slot == keys_.size()) {
    // Resizing moves only the owning pointers, never the texts, so indexes and
    // pointers already handed out stay valid.
    const size_t grown = keys_.size() + growStep_;
    keys_.reserve(grown);
    values_.reserve(grown);  // both reserved first so a failure leaves the arrays alike
    keys_.resize(grown);
    values_.resize(grown);
  }
  return static_cast<unsigned>(slot);
}

int StringMap::Add(const char* name, const char* value) {
  if (IsBlank(name) || value == nullptr) return kNone;
  corvane::OwnedText keyCopy = corvane::CopyText(name);
  corvane::OwnedText valueCopy = corvane::CopyText(value);
  const unsigned slot = TakeFreeSlot();
  keys_[slot] = std::move(keyCopy);
  values_[slot] = std::move(valueCopy);
  if (slot >= usedEnd_) usedEnd_ = slot + 1;
  return static_cast<int>(slot);
}

int StringMap::remove(const char* name) {
  const int index = GetIndex(name);
  if (index == kNone) return kNone;
  keys_[static_cast<unsigned>(index)].reset();
  values_[static_cast<unsigned>(index)].reset();
  return index;
}

void StringMap::StoreValue(unsigned slot, const char* value) {
  if (values_[slot].get() == value) return;
  values_[slot] = corvane::CopyText(value);
}

int StringMap::Set(const char* name, const char* value) {
  if (IsBlank(name)) return kNone;
  const int index = GetIndex(name);
  if (index == kNone) return Add(name, value);
  const unsigned slot = static_cast<unsigned>(index);
  if (value == nullptr) {
    keys_[slot].reset();
    values_[slot].reset();
    return kNone;
  }
  StoreValue(slot, value);
  return index;
}

int StringMap::Replace(const char* name, const char* value) {
  if (IsBlank(name) || value == nullptr) return kNone;
  const int index = GetIndex(name);
  if (index == kNone) return kNone;
  // An entry copied without a value gets one too: reporting its slot while
  // leaving it empty would claim a change that did not happen.
  StoreValue(static_cast<unsigned>(index), value);
  return index;
}

int StringMap::Append(const char* name, const char* value) {
  if (IsBlank(name) || value == nullptr) return kNone;
  const int index = GetIndex(name);
  if (index == kNone) return Set(name, value);
  const unsigned slot = static_cast<unsigned>(index);
  if (!values_[slot]) {
    values_[slot] = corvane::CopyText(value);
    return index;
  }
  try {
    std::string joined(values_[slot].get());
    joined += value;
    values_[slot] = corvane::CopyText(joined);
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory for string map.\n", stdout);
    return kNone;
  }
  return index;
}

unsigned StringMap::GetCount() const { return static_cast<unsigned>(keys_.size()); }

unsigned StringMap::GetItemCount() const { return corvane::CountUsedSlots(keys_); }

const char* StringMap::ToString(std::string& out, const char* separator, const char* terminator,
                                const char* prefix) const {
  out.clear();
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (!keys_[i]) continue;
    if (prefix != nullptr) {
      out += prefix;
      const size_t keyStart = out.size();
      out += keys_[i].get();
      for (size_t c = keyStart; c < out.size(); ++c) {
        if (out[c] == '-') out[c] = '_';
      }
    } else {
      out += keys_[i].get();
    }
    out += TextOrEmpty(separator);
    out += TextOrEmpty(values_[i].get());
    out += TextOrEmpty(terminator);
  }
  return out.c_str();
}

void StringMap::Copy(const CObjMap& source) {
  // Copying onto itself would first empty the very map being read.
  if (&source == this) return;
  const unsigned count = source.GetCount();
  std::vector<corvane::OwnedText> keys(count);
  std::vector<corvane::OwnedText> values(count);
  for (unsigned i = 0; i < count; ++i) {
    const char* key = source.GetKey(i);
    if (key == nullptr) continue;
    keys[i] = corvane::CopyText(key);
    if (const char* value = source.Get(i)) values[i] = corvane::CopyText(value);
  }
  keys_.swap(keys);
  values_.swap(values);
  usedEnd_ = keys_.size();
  while (usedEnd_ > 0 && !keys_[usedEnd_ - 1]) --usedEnd_;
}

int StringMap::Add(const char* name, int value) {
  char text[40];
  std::snprintf(text, sizeof text, "%d", value);
  return Add(name, static_cast<const char*>(text));
}

int StringMap::Set(const char* name, int value) {
  char text[40];
  std::snprintf(text, sizeof text, "%d", value);
  return Set(name, static_cast<const char*>(text));
}

void StringMap::RemoveAll() {
  usedEnd_ = 0;
  keys_.clear();
  keys_.shrink_to_fit();
  values_.clear();
  values_.shrink_to_fit();
}

void StringMap::Dump() const {
  std::fputs(kDumpRule, stdout);
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (!keys_[i]) continue;
    const char* value = values_[i] ? values_[i].get() : "null";
    std::fputs(keys_[i].get(), stdout);
    std::fputs(" = ", stdout);
    std::fputs(value, stdout);
    std::fputs("\n", stdout);
  }
  std::fputs(kDumpRule, stdout);
  std::fflush(stdout);
}
