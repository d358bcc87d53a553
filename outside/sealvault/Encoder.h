// Encoder: Base64 encoding of bytes and files, and decoding of Base64 text.
#pragma once

#include <string>

#include "sealvault/SealvaultExport.h"

// Made on the stack with a scheme name; "base64" is the only scheme known
// (compared without regard to case). Results belong to the Encoder and stay
// valid until its next call or its destruction; callers copy them.
// One thread uses an object at a time.
class SEALVAULT_API Encoder {
 public:
  // scheme is copied; an unknown or null scheme makes every call fail.
  explicit Encoder(const char* scheme);
  ~Encoder();
  Encoder(const Encoder&) = delete;
  Encoder& operator=(const Encoder&) = delete;

  // Base64 of *length bytes of data as one line (no line breaks), so the text
  // fits in a header field. On return *length is the text length. Returns null
  // (and *length 0) for null data, a negative length, an input whose text
  // would not fit an int length (over about 1.5 GiB) or an unknown scheme.
  const char* Encode(const unsigned char* data, int* length);
  // Base64 of the whole file at path, in lines of 76 characters each ended by
  // CR LF, valid as the body of a MIME part. *length is set to the text length.
  // Returns null (and *length 0) when the file cannot be read or its text would
  // not fit an int length; an empty file gives the empty text.
  const char* EncodeFile(const char* path, int* length);
  // Decodes *length characters of Base64 text; CR, LF, blanks and tabs are
  // skipped and missing "=" padding is tolerated; any other character, or "="
  // anywhere but at the end, makes the text invalid. On return *length is the
  // byte count; a NUL byte follows the bytes. Returns null (and *length 0) for
  // null text or text that is not Base64.
  unsigned char* Decode(const char* text, int* length);

 private:
  bool known_;
  std::string result_;
};
