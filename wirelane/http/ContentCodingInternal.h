// Internal: zlib-based content codings of HTTP bodies (deflate, gzip) in memory.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "wirelane/WirelaneExport.h"

namespace corvane {

// Exported for the library's own tests and HTTP classes; not an installed header.

// Compresses input in the zlib format ("deflate" content coding) at the
// default level into out. Returns false (out unspecified) on failure.
WIRELANE_API bool DeflateZlib(std::string_view input, std::string& out);

// Compresses input in the gzip format ("gzip" content coding) at the default
// level into out. Returns false (out unspecified) on failure.
WIRELANE_API bool CompressGzip(std::string_view input, std::string& out);

// Decompresses gzip (or zlib) data into out, refusing to produce more than
// limit bytes so a small hostile body cannot expand without bound. Returns
// false when the data is not valid, is cut short, or would pass the limit;
// error (when not null) then gets a short reason.
WIRELANE_API bool DecompressGzip(std::string_view input, size_t limit, std::string& out,
                    std::string* error = nullptr);

}  // namespace corvane
