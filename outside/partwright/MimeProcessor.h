// MimeProcessor: builds a MIME multipart message (multipart/related, XOP) from text and file parts.
#pragma once

#include <memory>

#include "partwright/PartwrightExport.h"

class IOHandler;

// Collects parts and formats them as one multipart message:
//
//   --boundary CRLF
//   Content-Type: <part type> CRLF
//   Content-Transfer-Encoding: 8bit (text parts) or binary (file parts) CRLF
//   Content-ID: <id> CRLF            (when the part has an id)
//   CRLF
//   <content> CRLF
//   ... further parts ...
//   --boundary-- CRLF
//
// The root part (the first text part, or the first part when there is no
// text part) is written first, then the other parts in the order they were
// added. Contents are copied when added and may hold any bytes.
//
// When a part's content contains "--" + boundary, the boundary is replaced by
// a new random one that no part contains, so that no content can end a part
// early; call GetFullContentType after the last AddMIMEPart to learn the
// boundary used.
//
// Not thread-safe: one thread uses an object at a time.
class PARTWRIGHT_API MimeProcessor {
 public:
  // contentType: the type of the whole message (copied), such as
  // "Multipart/Related; type=text/xml" or "application/xop+xml"; null gives
  // "Multipart/Related". CR and LF in it are replaced by spaces.
  // boundary: the boundary text (copied), without the leading "--"; null, or
  // one that RFC 2046 does not allow (empty, over 70 characters, or holding
  // other characters than letters, digits, space and '()+_,-./:=?), is
  // replaced by a random one, with a log line for a refused one.
  MimeProcessor(const char* contentType, const char* boundary);
  virtual ~MimeProcessor();
  MimeProcessor(const MimeProcessor&) = delete;
  MimeProcessor& operator=(const MimeProcessor&) = delete;

  // Adds a part.
  // source: mode -1, the path of a file whose whole content (read now) is the
  // part; mode 0, the part's text (NUL-terminated, copied).
  // contentType: the part's Content-Type value (copied); null or empty gives
  // "text/plain" for text and "application/octet-stream" for a file.
  // contentId: the part's Content-ID without angle brackets (brackets given
  // are removed; copied); null or empty gives a part without Content-ID.
  // Returns the number of parts (> 0) on success; 0 when the file cannot be
  // read or the message would pass 4 GB - 1 bytes; -1 for a null source, a
  // mode other than -1 and 0, or a type or id holding CR or LF. Every failure
  // writes a log line and adds nothing.
  int AddMIMEPart(const char* source, const char* contentType, const char* contentId, int mode);

  // The Content-Type value of the whole message: the type given to the
  // constructor with its parameters, then boundary="...". A type that is not
  // multipart/* becomes the type= parameter of Multipart/Related. For
  // multipart/related, missing parameters are added: type= (the root part's
  // media type), start="<root id>" (when the root part has an id) and, when
  // type is application/xop+xml, start-info= (the root part's own type=
  // parameter). Example: Multipart/Related; type="text/xml";
  // boundary="b"; start="<id>". The text belongs to the object and is valid
  // until the next call or the destruction.
  const char* GetFullContentType();

  // The exact byte length of the message FormatMessageA writes; 0 when there
  // is no part. The argument is not used.
  unsigned GetMessageLength(int reserved);

  // Formats the message. out (not owned; may be null): the handler that
  // receives the bytes, appended after what it holds; without handler the
  // object keeps the bytes itself. length (may be null) receives the byte
  // count, 0 on failure. Returns the first formatted byte (inside out, valid
  // until out changes; or inside the object, valid until the next call or the
  // destruction), or null, with a log line, when there is no part or out did
  // not take every byte. The first argument is not used.
  const char* FormatMessageA(int reserved, unsigned* length, IOHandler* out);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};
