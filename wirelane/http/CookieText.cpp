// Cookie header field reader shared by the HTTP socket and incoming messages.
#include "wirelane/http/CookieText.h"

#include <cstring>
#include <memory>
#include <string>

#include "common/TextFunctions.h"

void ParseCookieText(const char* text, KVMapImp<StringMap>* cookies) {
  if (text == nullptr || cookies == nullptr) return;
  // GetToken writes at most the rest of the text into its output.
  std::unique_ptr<char[]> value(new char[std::strlen(text) + 1]);
  const char* at = text;
  while (at != nullptr && *at != '\0') {
    at += std::strspn(at, " ,;");
    if (*at == '\0') break;
    const char* equals = std::strchr(at, '=');
    if (equals == nullptr) break;
    std::string name(at, equals);
    if (!name.empty() && name.front() == '$') name.erase(0, 1);
    value[0] = '\0';
    at = GetToken(equals + 1, value.get(), ";");
    cookies->Set(name.c_str(), value.get());
  }
}
