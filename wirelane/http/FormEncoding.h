// Form encoding of name/value maps and texts for request queries and form bodies.
#pragma once

#include <string>

#include "common/CObjMap.h"
#include "wirelane/WirelaneExport.h"

// The query or form-body text of map: every entry in slot order (free slots
// skipped) as name "=" value, joined by "&". Names and values are encoded
// byte by byte: ASCII letters, digits and "*-._" stay; a blank becomes "+";
// "%" followed by two decimal digits stays as it is (text that is already
// encoded, such as "%20", passes through); every other byte becomes "%" and
// two lower-case hexadecimal digits. An entry without value gives name "=".
// Returns "" for a null or empty map. The map is only read. Thread-safe for
// distinct maps.
WIRELANE_API std::string EncodeFormData(const CObjMap* map);

// text encoded like a form value, except that "%" stays only when exactly two
// decimal digits follow it ("%20" stays, "%123" becomes "%25123"). At most
// three times as long as text. Returns "" for null text. Thread-safe.
WIRELANE_API std::string URLEncode(const char* text);
