// Media types of file names by extension, for Content-Type fields of files sent or attached.
#pragma once

#include "common/CommonExport.h"

// The media type listed for the extension of fileName (the text after its last
// "."), compared without regard to ASCII letter case: "photo.JPG" gives
// "image/jpeg". When several table rows list the extension the last one wins
// ("x.mpeg" gives "video/mpeg"). Some extensions map to the empty text ("cgi",
// "class", "jar"). Null or empty names, names without ".", and unlisted
// extensions give "application/octet-stream". The result is a static text that
// must not be changed or released. Thread-safe.
CORVANE_COMMON_API const char* GetContentType(const char* fileName);
