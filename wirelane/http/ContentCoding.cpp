// zlib deflate and gzip codings of HTTP bodies, all in memory.
#include "wirelane/http/ContentCodingInternal.h"

#include <zlib.h>

#include <algorithm>

namespace corvane {

namespace {

constexpr int kGzipWindow = 15 + 16;      // deflate/inflate with a gzip wrapper
constexpr int kAutoDetectWindow = 15 + 32;  // inflate accepting gzip or zlib
constexpr size_t kInflatePiece = 65536;

bool Compress(std::string_view input, int window_bits, std::string& out) {
  z_stream stream{};
  if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, window_bits, 8,
                   Z_DEFAULT_STRATEGY) != Z_OK)
    return false;
  out.resize(deflateBound(&stream, static_cast<uLong>(input.size())));
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int result = deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return result == Z_STREAM_END;
}

}  // namespace

bool DeflateZlib(std::string_view input, std::string& out) { return Compress(input, 15, out); }

bool CompressGzip(std::string_view input, std::string& out) {
  return Compress(input, kGzipWindow, out);
}

bool DecompressGzip(std::string_view input, size_t limit, std::string& out, std::string* error) {
  auto fail = [&](const char* reason) {
    if (error != nullptr) *error = reason;
    return false;
  };
  z_stream stream{};
  if (inflateInit2(&stream, kAutoDetectWindow) != Z_OK) return fail("cannot start inflating");
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
  stream.avail_in = static_cast<uInt>(input.size());
  out.clear();
  int result = Z_OK;
  while (result != Z_STREAM_END) {
    if (out.size() >= limit) {
      inflateEnd(&stream);
      return fail("decompressed size passes the limit");
    }
    const size_t before = out.size();
    out.resize(before + std::min(kInflatePiece, limit - before));
    stream.next_out = reinterpret_cast<Bytef*>(out.data() + before);
    stream.avail_out = static_cast<uInt>(out.size() - before);
    result = inflate(&stream, Z_NO_FLUSH);
    out.resize(out.size() - stream.avail_out);
    if (result == Z_BUF_ERROR && stream.avail_in == 0) break;  // input cut short
    if (result != Z_OK && result != Z_STREAM_END) break;
  }
  inflateEnd(&stream);
  if (result != Z_STREAM_END) return fail(result == Z_BUF_ERROR ? "data cut short" : "invalid data");
  return true;
}

}  // namespace corvane
