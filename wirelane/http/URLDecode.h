// URLDecode: adds the fields of form-encoded text to a name/value map.
#pragma once

#include "common/KVMapImp.h"
#include "wirelane/WirelaneExport.h"

// Cuts text at every "&" into fields; in each field "+" becomes a blank, "%"
// followed by a decimal digit takes the next two characters as one hexadecimal
// byte, any other "%" stays as it is, CR and LF are dropped. The decoded field
// is split at its first "=" into name and value (a field without "=" is
// dropped) and a value in double quotes loses them. With replace the pair is
// set (an existing field of that name takes the new value); without, it is
// added, so repeated names are all kept in order. Fields with an empty name are
// not stored. Null or empty text, or a null map, adds nothing. The map is owned
// by the caller. Thread-safe for distinct maps.
WIRELANE_API void URLDecode(const char* text, KVMapImp<StringMap>* map, bool replace);
