// Internal: helpers shared by the NetInput sources (content filling, header text tests).
#pragma once

#include <cstddef>
#include <string_view>

#include "common/MemoryMapIOHandler.h"
#include "wirelane/WirelaneExport.h"

namespace corvane::netinput {

// Bodies are read in pieces of at most this many bytes.
constexpr size_t kReadPiece = 262144;
// The content holder is sized from Content-Length up to this many bytes up
// front; longer bodies grow with what arrives, so a peer that announces a
// large body and sends little cannot make the holder reserve it all.
constexpr unsigned kPresizeLimit = 64u << 20;
// A chunk-size line (size, extensions and CR LF) may not be longer.
constexpr unsigned kMaxChunkLine = 4096;
// The largest StreamBufferSize honoured.
constexpr unsigned kMaxStreamPiece = 64u << 20;

// True when text contains pattern, compared without regard to ASCII case.
bool ContainsNoCase(std::string_view text, std::string_view pattern);
// The media type of a Content-Type value: the text before ";" without
// surrounding blanks and tabs.
std::string_view MediaType(std::string_view contentType);
// The boundary parameter of a Content-Type value ("boundary=" case-sensitive,
// one opening quote skipped, up to a quote, ";", CR, LF or blank); empty when
// there is none.
std::string_view BoundaryOf(std::string_view contentType);

// Exported for the library's own tests; not an installed header.
// Appends bytes to a content holder, growing its room geometrically (the
// holder itself grows by fixed steps, which would remap a large body once
// per piece), and keeps a NUL byte after the content. Bytes are either
// copied in (Append) or received straight into the holder (Space, Commit).
class WIRELANE_API ContentWriter {
 public:
  explicit ContentWriter(MemoryMapIOHandler& holder) : holder_(holder) {}
  // Makes room for expected more bytes plus the NUL.
  void Reserve(size_t expected);
  // Room for length more bytes (and the NUL after them) at the end of the
  // content, for the caller to fill; null when the holder cannot grow. Valid
  // until the next call on this writer or the holder.
  char* Space(size_t length);
  // Makes count bytes stored in the last Space (count at most its length)
  // part of the content.
  void Commit(size_t count);
  // Appends length bytes; false when the holder could not store them.
  bool Append(const char* data, size_t length);
  // Writes the NUL after the content (room for it is always kept).
  void Terminate();

 private:
  MemoryMapIOHandler& holder_;
  size_t room_end_ = 0;  // the holder has room up to this write position
};

}  // namespace corvane::netinput
