// Crypto: symmetric encryption of messages and socket blocks under a pass phrase, and the
// reversible file-name encoding of cache keys.
#pragma once

#include <memory>

#include "sealvault/SealvaultExport.h"

// Cipher names (the algorithm argument, compared without regard to case) and
// what carries them. The old names stand for ciphers that are no longer safe,
// so each maps to a modern authenticated cipher for whole messages and to the
// matching counter-mode keystream for socket blocks:
//
//   null, "", "idea" (the default), "aes", "aes256", "aes-256", "aes192",
//   "aes-192", "des", "des3", "3des", "tripledes", "des-ede3", "blowfish",
//   "bf", "cast", "cast5", "rc2", "rc4", "rc5"     AES-256-GCM / AES-256-CTR
//   "aes128", "aes-128"                           AES-128-GCM / AES-128-CTR
//   "chacha20", "chacha20-poly1305"               ChaCha20-Poly1305 / ChaCha20
//
// A name after "aes-…" that ends in a mode ("aes-256-cbc") is read by its key
// size. Any other name is logged once per object and falls back to the default.
//
// Pass phrases become keys through PBKDF2-HMAC-SHA256 (10,000 rounds, run once
// per pass phrase per process) followed by HKDF-SHA256 with each message's
// random salt, or for blocks with the iv text.
//
// One object is used by one thread at a time; separate objects may be used
// concurrently. No function throws.
class SEALVAULT_API Crypto {
 public:
  // algorithm: a cipher name from the table above, or null for the default;
  // copied. key: accepted for hosts written against three arguments and not
  // used (every operation takes its own pass phrase). mode: 1 for the
  // encrypting side, 0 for the decrypting side; only recorded, because both
  // one-shot directions are separate calls and the block keystream is the same
  // operation in both directions.
  Crypto(const char* algorithm, const char* key, int mode);
  ~Crypto();
  Crypto(const Crypto&) = delete;
  Crypto& operator=(const Crypto&) = delete;

  // Encrypts *length bytes of data under the NUL-terminated pass phrase key.
  // The result is a fresh salt, a fresh nonce, the ciphertext and an
  // authentication tag (46 bytes more than the input), so encrypting the same
  // data twice gives different bytes. On success *length is the result's byte
  // count and the result is a buffer allocated with malloc, followed by one NUL
  // byte not counted in *length; the CALLER owns it and releases it with free().
  // It does not depend on this object, which may be destroyed first.
  // out must be null (a non-null out is logged and ignored: its size is
  // unknown). Returns null and sets *length to 0 when key, data or length is
  // null, *length is negative or too large for the result to fit in an int,
  // or the cipher fails.
  unsigned char* Encrypt(const char* key, const unsigned char* data, int* length,
                         unsigned char* out);
  // Reverses Encrypt: data and *length are what Encrypt returned. The cipher
  // is read from the data, so any Crypto object decrypts what any other made.
  // On success the result is allocated with malloc and owned by the CALLER
  // (free()), *length is the plain byte count and one NUL byte follows the
  // bytes, so text comes back as a C string. Returns null, sets *length to 0
  // and logs when the data is too short, of an unknown format, altered, or was
  // not encrypted with this pass phrase. out: as for Encrypt.
  unsigned char* Decrypt(const char* key, const unsigned char* data, int* length,
                         unsigned char* out);

  // Block form, used once per block: Init, one Update with the whole block,
  // Final, GetLength. key and iv are NUL-terminated texts (iv may be null or
  // empty) from which the keystream is derived; both sides of a connection
  // give the same texts. Encrypting and decrypting are the same operation and
  // keep the byte count. Because each block must decrypt on its own, the same
  // texts give the same keystream for every block: the form hides contents
  // from onlookers but neither detects tampering nor hides the XOR of two
  // blocks, so it should carry nothing that needs more than that. Init
  // discards the previous block's result. The key derivation runs only when
  // the texts change. Returns false (and logs) when key is null or the cipher
  // cannot be set up; Update and Final then fail too.
  bool Init(const char* key, const unsigned char* iv);
  // Processes length bytes of data into the current block's result. Returns
  // false without Init, after Final, for null data or a negative length (the
  // block then fails as a whole).
  bool Update(const unsigned char* data, int length);
  // The processed bytes of the block (GetLength() of them, followed by a NUL
  // byte), owned by this object and valid until the next Init or the object's
  // destruction. Null when the block failed.
  unsigned char* Final();
  // Byte count of the result of Final; 0 before Final or after a failure.
  int GetLength() const;

  // Deterministic, reversible encoding of a cache key as one file name.
  // text and length: the key and its byte count including the terminating NUL
  // (a length without a NUL at the end encodes all length bytes). The same key
  // always gives the same name: the URL-safe Base64 alphabet (A-Z a-z 0-9 - _)
  // without padding, so no "/", NUL, "." or ".." and no leading ".". Keys of up
  // to 191 bytes fit in the 255-byte name limit; a longer key gets a one-way
  // name "~" + the hex SHA-256 of the key + "~" + the encoded first 141 bytes
  // (254 characters), still unique per key, which DecodeOpaque does not
  // reverse. key: must be null (there is no keyed form; a non-null key is
  // ignored). The bool is accepted for hosts written against four arguments.
  // The result is owned by this object and valid until the next EncodeOpaque
  // or DecodeOpaque call or its destruction. Null for null text, a length below
  // 1 or an empty key.
  char* EncodeOpaque(const char* text, int length, const char* key, bool textMode);
  // Reverses EncodeOpaque. text: the encoded name; length: its length
  // including the terminating NUL (decoding stops at the first NUL anyway).
  // Returns the key as NUL-terminated text, owned as for EncodeOpaque, or null
  // for a name that EncodeOpaque did not make and for the one-way long form.
  char* DecodeOpaque(const char* text, int length, const char* key, bool textMode);

 private:
  struct State;
  std::unique_ptr<State> state_;
};
