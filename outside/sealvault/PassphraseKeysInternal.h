// PassphraseKeysInternal: turns pass phrases into cipher keys (PBKDF2 once per pass phrase, then
// HKDF per use).
#pragma once

#include <span>
#include <string_view>

namespace corvane {

// Stretching a pass phrase with PBKDF2 costs milliseconds, and a Crypto object
// lives for one message only, so the stretched master key of each pass phrase
// is kept process-wide (a few dozen, indexed by the pass phrase's SHA-256) and
// every message or block key is drawn from it with HKDF-SHA256 using that use's
// salt. Thread-safe.
class PassphraseKeys {
 public:
  // Fills out (at most 255 * 32 bytes) with key material for passphrase,
  // salt and purpose (a label that keeps keys for different uses apart).
  // False when OpenSSL fails; out is then unspecified.
  static bool Derive(std::string_view passphrase, std::span<const unsigned char> salt,
                     std::string_view purpose, std::span<unsigned char> out);
};

}  // namespace corvane
