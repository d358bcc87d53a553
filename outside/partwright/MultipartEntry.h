// MultipartEntry: one part of a parsed multipart body, with its headers and content.
#pragma once

#include <memory>

#include "partwright/PartwrightExport.h"

// A part read by MultipartParser. Only the parser makes entries; they belong
// to it and live until its Clear, SetBoundary or destruction. Every pointer an
// entry returns belongs to the entry and stays valid as long as the entry.
// The content is held in memory, or, for a part the parser stored as a file,
// in that file (whose path is the header "FullPath"); such a file belongs to
// the host, which may move or delete it. Not thread-safe: one thread at a
// time per parser.
class PARTWRIGHT_API MultipartEntry {
 public:
  virtual ~MultipartEntry();
  MultipartEntry(const MultipartEntry&) = delete;
  MultipartEntry& operator=(const MultipartEntry&) = delete;

  // The value of the first header of that name (compared without regard to
  // case) as received, with folded lines joined by a space; null when the
  // part has no such header or name is null. "FullPath" is set only by the
  // parser: a header of that name sent by the peer is dropped.
  const char* GetHeader(const char* name) const;
  // The filename= parameter of the Content-Disposition header as the sender
  // wrote it (quotes removed); null when absent. It is the sender's text: do
  // not use it as a path; a stored part's safe path is GetHeader("FullPath").
  const char* GetFileName() const;

  // The content bytes followed by one NUL byte that is not counted, so text
  // content can be read as a C string (binary content may contain NUL bytes
  // of its own; use GetLength). For a part stored as a file the file is read
  // on the first call; null, with a log line, when it can no longer be read
  // whole. An empty part gives a pointer to a single NUL byte.
  virtual unsigned char* GetContent();
  // The number of content bytes (for a stored part, the bytes written to its
  // file).
  virtual unsigned long GetLength() const;
  // The name= parameter of the Content-Disposition header; null when absent.
  virtual const char* GetName() const;
  // The Content-ID header without its angle brackets; null when absent.
  virtual const char* GetId() const;

 private:
  friend struct MultipartEntryAccess;
  struct Impl;

  MultipartEntry();

  std::unique_ptr<Impl> impl_;
};
