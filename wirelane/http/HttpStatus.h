// Reason phrases of the HTTP status codes written in status lines.
#pragma once

#include "wirelane/WirelaneExport.h"

// The reason phrase written after status in a status line ("OK" for 200);
// "Unknow Error" for a code outside the table. The text is static.
// Thread-safe.
WIRELANE_API const char* GetHttpStatusPhrase(int status);
