// Digestor: message digests of byte strings as printable text.
#pragma once

#include <string>

#include "sealvault/SealvaultExport.h"

// Computes a digest and returns it as standard Base64 text (A-Z a-z 0-9 + /,
// "=" padding), e.g. the 20 bytes of a SHA-1 value as 28 characters ending in
// "=". One object is used by one thread at a time; no function throws.
class SEALVAULT_API Digestor {
 public:
  // algorithm: the default digest name for GetDigest ("sha1" when null);
  // copied. Any name OpenSSL knows is accepted ("sha1", "sha256", "md5", …).
  explicit Digestor(const char* algorithm = nullptr);
  virtual ~Digestor();
  Digestor(const Digestor&) = delete;
  Digestor& operator=(const Digestor&) = delete;

  // Digest of *length bytes of data with the named algorithm (null: the one
  // given to the constructor). On success *length becomes the text length and
  // the NUL-terminated text is returned; it is owned by this object and valid
  // until the next GetDigest or the object's destruction, and the caller may
  // change its characters in place (the cache cuts it into a file name).
  // Returns null, sets *length to 0 and logs for null data or length, a
  // negative length or an unknown algorithm.
  char* GetDigest(const unsigned char* data, int* length, const char* algorithm);

 private:
  std::string algorithm_;
  std::string text_;
};
