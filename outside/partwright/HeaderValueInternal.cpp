// HeaderValue: a MIME header value split into its leading value and its parameters.
#include "partwright/HeaderValueInternal.h"

namespace partwright {

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads a quoted-string starting after its opening quote; pos ends after the
// closing quote (or at the end of an unterminated one).
std::string ReadQuoted(std::string_view text, size_t& pos) {
  std::string out;
  while (pos < text.size() && text[pos] != '"') {
    if (text[pos] == '\\' && pos + 1 < text.size() &&
        (text[pos + 1] == '"' || text[pos + 1] == '\\')) {
      ++pos;
    }
    out += text[pos++];
  }
  if (pos < text.size()) ++pos;
  return out;
}

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (Lower(a[i]) != Lower(b[i])) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

HeaderValue HeaderValue::Parse(std::string_view text) {
  HeaderValue result;
  size_t pos = text.find(';');
  result.value = std::string(TrimBlanks(text.substr(0, pos)));
  while (pos < text.size()) {
    ++pos;  // the ';'
    const size_t name_end = text.find_first_of("=;", pos);
    std::string_view name = TrimBlanks(text.substr(pos, name_end - pos));
    if (name_end == std::string_view::npos || text[name_end] == ';') {
      pos = name_end;
      continue;
    }
    pos = name_end + 1;
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    std::string value;
    if (pos < text.size() && text[pos] == '"') {
      ++pos;
      value = ReadQuoted(text, pos);
      pos = text.find(';', pos);
    } else {
      const size_t end = text.find(';', pos);
      value = std::string(TrimBlanks(text.substr(pos, end - pos)));
      pos = end;
    }
    if (!name.empty()) result.params.push_back({std::string(name), std::move(value)});
  }
  return result;
}

const std::string* HeaderValue::Find(std::string_view name) const {
  for (const Param& param : params) {
    if (EqualsNoCase(param.name, name)) return &param.value;
  }
  return nullptr;
}

void HeaderValue::Remove(std::string_view name) {
  std::erase_if(params, [name](const Param& param) { return EqualsNoCase(param.name, name); });
}

std::string HeaderValue::ToString() const {
  std::string out = value;
  for (const Param& param : params) {
    out += "; ";
    out += param.name;
    out += '=';
    out += QuoteParam(param.value);
  }
  return out;
}

std::string QuoteParam(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace partwright
