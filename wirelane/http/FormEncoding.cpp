// Form encoding of name/value maps and texts for request queries and form bodies.
#include "wirelane/http/FormEncoding.h"

#include <cstring>
#include <string_view>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// ASCII only: bytes of multibyte characters are always escaped, whatever the
// process locale says.
bool IsUnreserved(char c) {
  return IsDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '*' || c == '-' ||
         c == '.' || c == '_';
}

// True when text[at] is a "%" that the encoding lets through as an escape that
// is already there. strict additionally wants no third digit after the two.
bool IsKeptEscape(std::string_view text, size_t at, bool strict) {
  if (at + 2 >= text.size()) return false;
  if (!IsDigit(text[at + 1]) || !IsDigit(text[at + 2])) return false;
  return !strict || at + 3 >= text.size() || !IsDigit(text[at + 3]);
}

void AppendEncoded(std::string& out, std::string_view text, bool strict) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (size_t at = 0; at < text.size(); ++at) {
    const char c = text[at];
    if (IsUnreserved(c) || (c == '%' && IsKeptEscape(text, at, strict))) {
      out += c;
    } else if (c == ' ') {
      out += '+';
    } else {
      const auto byte = static_cast<unsigned char>(c);
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
}

}  // namespace

std::string EncodeFormData(const CObjMap* map) {
  std::string text;
  if (map == nullptr) return text;
  for (unsigned slot = 0; slot < map->GetCount(); ++slot) {
    const char* name = map->GetKey(slot);
    if (name == nullptr) continue;
    if (!text.empty()) text += '&';
    // Names are encoded like values: a name with "&", "=" or a line break
    // would otherwise split the field or the request line.
    AppendEncoded(text, name, false);
    text += '=';
    if (const char* value = map->Get(slot)) AppendEncoded(text, value, false);
  }
  return text;
}

std::string URLEncode(const char* text) {
  std::string out;
  if (text == nullptr) return out;
  const std::string_view view(text);
  out.reserve(view.size() * 3);
  AppendEncoded(out, view, true);
  return out;
}
