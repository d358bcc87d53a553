// Fuzz target for the text helpers that read protocol lines and URL escapes from peers.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/TextFunctions.h"

namespace {

// Walks text with GetToken until it reports the end, as the cookie and header
// readers do; the position must move forward on every call.
void WalkTokens(const char* text, char* out, const char* delimiters) {
  const char* p = text;
  const char* end = text + std::strlen(text);
  while (p != nullptr) {
    const char* next = GetToken(p, out, delimiters);
    if (next != nullptr && (next <= p || next > end)) __builtin_trap();
    if (std::strlen(out) > static_cast<size_t>(end - p)) __builtin_trap();
    p = next;
  }
}

// Walks text with both forms of SplitToken, skipping runs of delimiters.
void WalkFields(const char* text, char* out, const char* delimiters) {
  std::string field;
  const char* p = text;
  while (p != nullptr && *p != '\0') {
    const char* next = SplitToken(p, out, delimiters, true);
    const char* same = SplitToken(p, field, delimiters, true);
    if (next != same || field != out) __builtin_trap();
    // A field that stops at once on a delimiter-free position cannot happen
    // with runs skipped unless the text ended; stop rather than loop.
    if (next == p) break;
    p = next;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The first byte picks how many of the following bytes form the delimiter
  // set; the rest is the text.
  const size_t delimiterLength = size > 0 ? data[0] % 4 : 0;
  const size_t skip = size > 0 ? 1 + (delimiterLength < size - 1 ? delimiterLength : size - 1) : 0;
  const std::string delimiters(reinterpret_cast<const char*>(data) + (size > 0 ? 1 : 0),
                               skip > 0 ? skip - 1 : 0);
  std::vector<char> text(data + skip, data + size);
  text.push_back('\0');
  std::vector<char> out(text.size() + 1);

  WalkTokens(text.data(), out.data(), delimiters.c_str());
  WalkFields(text.data(), out.data(), delimiters.c_str());

  std::unique_ptr<char[]> decoded(URLUnescape(text.data()));
  if (!decoded || std::strlen(decoded.get()) > std::strlen(text.data())) __builtin_trap();

  if (HexToInt(text.data()) < 0) __builtin_trap();

  std::vector<char> searched(text);
  const std::string pattern(delimiters.empty() ? "x" : delimiters.c_str());
  char* found = FindText(searched.data(), pattern.c_str(), (size & 1) != 0);
  if (found != nullptr && (found < searched.data() || found >= searched.data() + searched.size())) {
    __builtin_trap();
  }
  std::vector<char> trimmed(text);
  TrimRight(trimmed.data(), delimiters.c_str());
  return 0;
}
