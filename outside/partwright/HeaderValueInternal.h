// HeaderValue: a MIME header value split into its leading value and its parameters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace partwright {

// ASCII case folding, as MIME header and parameter names are compared.
bool EqualsNoCase(std::string_view a, std::string_view b);
bool StartsWithNoCase(std::string_view text, std::string_view prefix);
// Spaces and tabs removed from both ends.
std::string_view TrimBlanks(std::string_view text);

// "form-data; name=\"a\"; filename=b.txt" reads as value "form-data" with the
// parameters name = a and filename = b.txt. Quoted parameter values lose their
// quotes; inside quotes a backslash escapes only '"' and '\' (so a Windows path
// such as "C:\dir\f.txt" keeps its backslashes). Parameters without '=' are
// dropped. Parameter order is kept.
struct HeaderValue {
  struct Param {
    std::string name;
    std::string value;
  };

  static HeaderValue Parse(std::string_view text);

  // The value of the first parameter of that name (any case), or null.
  const std::string* Find(std::string_view name) const;
  // Removes every parameter of that name (any case).
  void Remove(std::string_view name);
  // The value followed by "; name=\"value\"" for each parameter.
  std::string ToString() const;

  std::string value;
  std::vector<Param> params;
};

// text as a MIME quoted-string: in double quotes, with '"' and '\' escaped.
std::string QuoteParam(std::string_view text);

}  // namespace partwright
