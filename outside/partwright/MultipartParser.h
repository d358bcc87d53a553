// MultipartParser: splits a multipart body, fed in pieces, into its parts.
#pragma once

#include <memory>

#include "partwright/MultipartEntry.h"
#include "partwright/PartwrightExport.h"

// Reads one multipart body at a time, as consecutive pieces of any size (a
// delimiter may be split across pieces). Lines may end in CRLF or a bare LF.
// The preamble before the first delimiter and the epilogue after the closing
// delimiter are ignored.
//
// Each part's headers are parsed (names compared without regard to case). A
// part whose Content-Disposition carries a non-empty filename= is stored as a
// file when the parser has a folder: the file is created in that folder under
// the sanitised file name (see below) and its path becomes the part header
// "FullPath". Every other part, and every part of a parser without folder,
// stays in memory. When the file cannot be created the part stays in memory
// too (with a log line).
//
// A part counts once the delimiter after it has been read; only counted parts
// are visible through getLength and operator[]. A part not closed by a
// delimiter (the body ended early) is never presented: the first getLength
// or operator[] after such a body logs that the part is unfinished, and its
// partly written file, if any, is deleted by Clear, SetBoundary or the
// destructor.
//
// Limits against hostile input, each reported by a log line: a part whose
// header block passes 65536 bytes or 100 header lines is dropped (parsing
// goes on with the next part); after 10000 parts the rest of the body is
// ignored.
//
// Stored file names: only the last path segment of the sender's filename is
// kept, with every byte other than ASCII letters, digits, '.', '-', '_' (and
// non-ASCII bytes) turned into '_' and leading dots removed; a random suffix
// is added when the name is taken. Files are created owner-only and never
// replace an existing file. Stored files stay after the parser is gone; they
// belong to the host.
//
// Not thread-safe: one thread uses a parser (and its entries) at a time.
class PARTWRIGHT_API MultipartParser {
 public:
  // folder: the directory that receives stored parts (copied); null or empty
  // keeps every part in memory. The folder must exist.
  explicit MultipartParser(const char* folder = nullptr);
  // Deletes the entries and the partly written file of an unfinished part.
  virtual ~MultipartParser();
  MultipartParser(const MultipartParser&) = delete;
  MultipartParser& operator=(const MultipartParser&) = delete;

  // Starts a new body whose delimiter lines begin with delimiter, which is
  // "--" followed by the boundary of the Content-Type (copied). The parts
  // read so far are dropped, as by Clear. A null or empty delimiter, or one
  // longer than 256 bytes, is refused with a log line and leaves the parser
  // without delimiter, so that ParseStream reads nothing.
  void SetBoundary(const char* delimiter);
  // Drops every entry and the state of the body being read, so the next
  // ParseStream starts a new body with the same delimiter and folder. Stored
  // files of counted parts stay; the file of an unfinished part is deleted.
  void Clear();
  // Reads the next length bytes of the body (data is not kept after the call;
  // null data or length 0 reads nothing). Returns the number of parts counted
  // so far. Without a delimiter nothing is read and the call logs an error.
  // Bytes after the closing delimiter are ignored.
  unsigned ParseStream(unsigned char* data, unsigned length);
  // True once the closing delimiter has been read.
  bool IsComplete() const;

  // Number of counted parts.
  unsigned getLength();
  // The counted part at index (0 first), or null when index >= getLength().
  // The entry belongs to the parser.
  MultipartEntry* operator[](unsigned index);
  // Same as the unsigned form, so that parser[0] is not ambiguous; null for a
  // negative index.
  MultipartEntry* operator[](int index);
  // The first counted part whose Content-Disposition name equals name
  // (case-sensitive), else the first whose Content-ID equals name (angle
  // brackets and a leading "cid:" of name are ignored); null when none or
  // name is null. The entry belongs to the parser.
  MultipartEntry* operator[](const char* name);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
