// Reading of the Cookie header field ("a=1; b=2") into a map.
#pragma once

#include "common/KVMapImp.h"
#include "wirelane/WirelaneExport.h"

// Repeatedly skips blanks, commas and semicolons; the name runs up to "="
// (a leading "$" is dropped, so "$Version" becomes "Version"); the value is
// the next token as GetToken reads it with the delimiter ";" (a quoted value
// loses its quotes). Each pair is set in cookies, so a later cookie replaces
// an earlier one of the same name. Parsing ends at a name without "=".
// Null text or a null map does nothing. The map is owned by the caller.
WIRELANE_API void ParseCookieText(const char* text, KVMapImp<StringMap>* cookies);
