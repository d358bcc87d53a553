// Form decoding into a name/value map.
#include "wirelane/http/URLDecode.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <string_view>

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%" takes the next two characters as a hexadecimal byte only when a decimal
// digit follows it; a second character that is no hex digit ends the number
// early ("%4z" is the byte 4), as strtol would read it.
std::string DecodeField(std::string_view field) {
  std::string decoded;
  decoded.reserve(field.size());
  for (size_t i = 0; i < field.size(); ++i) {
    const char c = field[i];
    if (c == '+') {
      decoded += ' ';
    } else if (c == '%' && i + 2 < field.size() &&
               std::isdigit(static_cast<unsigned char>(field[i + 1]))) {
      const int low = HexValue(field[i + 2]);
      const int value = low < 0 ? HexValue(field[i + 1]) : HexValue(field[i + 1]) * 16 + low;
      decoded += static_cast<char>(value);
      i += 2;
    } else if (c != '\r' && c != '\n') {
      decoded += c;
    }
  }
  return decoded;
}

void StoreField(const std::string& field, KVMapImp<StringMap>& map, bool replace) {
  const size_t equals = field.find('=');
  if (equals == std::string::npos) return;
  const std::string name = field.substr(0, equals);
  std::string value = field.substr(equals + 1);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
    value = value.substr(1, value.size() - 2);
  if (replace)
    map.Set(name.c_str(), value.c_str());
  else
    map.Add(name.c_str(), value.c_str());
}

}  // namespace

void URLDecode(const char* text, KVMapImp<StringMap>* map, bool replace) {
  if (text == nullptr || *text == '\0' || map == nullptr) return;
  try {
    std::string_view rest(text);
    for (;;) {
      const size_t amp = rest.find('&');
      StoreField(DecodeField(rest.substr(0, amp)), *map, replace);
      if (amp == std::string_view::npos) break;
      rest.remove_prefix(amp + 1);
    }
  } catch (const std::bad_alloc&) {
    std::fputs("Out of memory in URLDecode.\n", stdout);
  }
}
