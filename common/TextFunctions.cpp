// Token, search, escape and path helpers on NUL-terminated texts.
//
// Texts are UTF-8. The original stepped over multibyte lead bytes as whole
// characters; stepping byte by byte is equivalent here because every lead and
// continuation byte of UTF-8 is 0x80 or above and so never equals one of the
// ASCII blanks, quotes, separators or delimiters these functions look for.
#include "common/TextFunctions.h"

#include <climits>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/NoCase.h"

namespace {

bool IsIn(char c, const char* characters) {
  return c != '\0' && characters != nullptr && std::strchr(characters, c) != nullptr;
}

bool IsQuote(char c) { return c == '"' || c == '\''; }

// Value of one hexadecimal digit, or -1.
int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

const char* SkipBlanksAndTabs(const char* p) {
  while (*p == ' ' || *p == '\t') ++p;
  return p;
}

// Length of the field at p: up to the first character of delimiters or the end.
size_t FieldLength(const char* p, const char* delimiters) {
  return delimiters != nullptr ? std::strcspn(p, delimiters) : std::strlen(p);
}

const char* SkipRun(const char* p, const char* delimiters) {
  while (IsIn(*p, delimiters)) ++p;
  return p;
}

const char* LastSeparator(const char* path) {
  const char* last = nullptr;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') last = p;
  }
  return last;
}

}  // namespace

const char* GetToken(const char* text, char* out, const char* delimiters) {
  if (text == nullptr) return nullptr;
  const char* p = text;
  while (*p == ' ') ++p;
  const char* begin = p;
  const char* end = p;
  if (IsQuote(*p)) {
    begin = ++p;
    while (*p != '\0' && !IsQuote(*p)) ++p;
    end = p;
    if (*p != '\0') ++p;
  } else {
    while (*p != '\0' && *p != ' ' && *p != '\r' && *p != '\n' && !IsQuote(*p) &&
           !IsIn(*p, delimiters)) {
      ++p;
    }
    end = p;
    // A token that stops on a line end without reading anything would hand the
    // same position back forever; step over the line end instead.
    if (end == begin) {
      while (*p == '\r' || *p == '\n') ++p;
    }
  }
  if (out != nullptr) {
    std::memcpy(out, begin, static_cast<size_t>(end - begin));
    out[end - begin] = '\0';
  }
  while (*p == ' ' || IsIn(*p, delimiters)) ++p;
  return *p == '\0' ? nullptr : p;
}

const char* SplitToken(const char* text, char* out, const char* delimiters, bool skipRun) {
  if (out != nullptr) *out = '\0';
  if (text == nullptr || *text == '\0') return nullptr;
  const char* p = SkipBlanksAndTabs(text);
  const size_t length = FieldLength(p, delimiters);
  if (out != nullptr) {
    std::memcpy(out, p, length);
    out[length] = '\0';
  }
  p += length;
  return skipRun ? SkipRun(p, delimiters) : p;
}

const char* SplitToken(const char* text, std::string& out, const char* delimiters, bool skipRun) {
  if (text == nullptr || *text == '\0') return nullptr;
  const char* p = SkipBlanksAndTabs(text);
  const size_t length = FieldLength(p, delimiters);
  out.assign(p, length);
  p += length;
  return skipRun ? SkipRun(p, delimiters) : p;
}

char* FindText(char* text, const char* pattern, bool caseSensitive) {
  if (text == nullptr || pattern == nullptr) return nullptr;
  const std::string_view wanted(pattern);
  for (char* p = text; *p != '\0'; ++p) {
    // strnlen keeps the comparison inside text; once fewer characters remain
    // than the pattern has, no later position can match either.
    const size_t available = ::strnlen(p, wanted.size());
    if (available < wanted.size()) break;
    const std::string_view here(p, wanted.size());
    const bool match = caseSensitive ? here == wanted : corvane::EqualsNoCase(here, wanted);
    if (!match) continue;
    if (p == text || p[-1] != '\\') return p;
    p[-1] = ' ';
  }
  return nullptr;
}

char* TrimRight(char* text, const char* characters) {
  if (text == nullptr) return nullptr;
  size_t length = std::strlen(text);
  while (length > 0 && IsIn(text[length - 1], characters)) --length;
  text[length] = '\0';
  return text;
}

int HexToInt(const char* text) {
  if (text == nullptr) return 0;
  unsigned long long value = 0;
  for (const char* p = text; HexDigit(*p) >= 0; ++p) {
    value = value * 16 + static_cast<unsigned>(HexDigit(*p));
    // Saturate instead of overflowing: a hostile chunk size must not turn into
    // a small or negative number.
    if (value > static_cast<unsigned long long>(INT_MAX)) return INT_MAX;
  }
  return static_cast<int>(value);
}

char* URLUnescape(const char* text) {
  if (text == nullptr) return nullptr;
  const size_t length = std::strlen(text);
  auto result = std::make_unique_for_overwrite<char[]>(length + 1);
  char* out = result.get();
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '+') {
      *out++ = ' ';
    } else if (*p == '%') {
      if (p[1] == '\0' || p[2] == '\0') break;
      int value = 0;
      if (HexDigit(p[1]) >= 0) {
        value = HexDigit(p[1]);
        if (HexDigit(p[2]) >= 0) value = value * 16 + HexDigit(p[2]);
      }
      *out++ = static_cast<char>(value);
      p += 2;
    } else {
      *out++ = *p;
    }
  }
  *out = '\0';
  return result.release();
}

bool IsIPAddress(const char* text) {
  if (text == nullptr || *text == '\0') return false;
  return std::strspn(text, "0123456789.") == std::strlen(text);
}

const char* GetPathDirectory(std::string& out, const char* path) {
  if (path == nullptr) return out.c_str();
  const char* last = LastSeparator(path);
  if (last == path) {
    out.push_back(*path);
  } else if (last != nullptr) {
    out.append(path, static_cast<size_t>(last - path));
  }
  return out.c_str();
}

const char* GetPathFileName(const char* path) {
  if (path == nullptr) return nullptr;
  const char* last = LastSeparator(path);
  return last != nullptr ? last + 1 : path;
}
