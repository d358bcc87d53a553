// Digest: a Digestor made for one named algorithm, as the cache creates it.
#pragma once

#include "sealvault/Digestor.h"
#include "sealvault/SealvaultExport.h"

// Digest("sha1") followed by GetDigest(data, &length, "sha1") gives the
// Base64 text of the SHA-1 value; see Digestor for ownership and results.
class SEALVAULT_API Digest : public Digestor {
 public:
  // algorithm: the digest name used when GetDigest is given none; copied;
  // null selects "sha1".
  explicit Digest(const char* algorithm);
  ~Digest() override;
};
