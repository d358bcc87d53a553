// Crypto: pass-phrase encryption over OpenSSL's AEAD and keystream ciphers, and the opaque
// file-name encoding.
#include "sealvault/Crypto.h"

#include <openssl/evp.h>
#include <openssl/rand.h>
#include <strings.h>

#include <array>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "OpenSslErrorInternal.h"
#include "PassphraseKeysInternal.h"
#include "sealvault/Debug.h"

namespace {

constexpr const char* kTag = "Crypto";

// One cipher family: the authenticated cipher for whole messages and the
// keystream cipher for socket blocks. id is written into every message.
struct CipherSpec {
  unsigned char id;
  const char* label;
  const EVP_CIPHER* (*message)();
  const EVP_CIPHER* (*block)();
};

constexpr std::array<CipherSpec, 3> kCiphers{{
    {1, "AES-256", EVP_aes_256_gcm, EVP_aes_256_ctr},
    {2, "AES-128", EVP_aes_128_gcm, EVP_aes_128_ctr},
    {3, "ChaCha20", EVP_chacha20_poly1305, EVP_chacha20},
}};
constexpr const CipherSpec& kDefaultCipher = kCiphers[0];

struct CipherName {
  const char* name;
  unsigned char id;
};
constexpr std::array<CipherName, 22> kCipherNames{{
    {"idea", 1},     {"aes", 1},
    {"aes256", 1},   {"aes-256", 1},
    {"aes192", 1},   {"aes-192", 1},
    {"des", 1},      {"des3", 1},
    {"3des", 1},     {"tripledes", 1},
    {"des-ede3", 1}, {"blowfish", 1},
    {"bf", 1},       {"cast", 1},
    {"cast5", 1},    {"rc2", 1},
    {"rc4", 1},      {"rc5", 1},
    {"aes128", 2},   {"aes-128", 2},
    {"chacha20", 3}, {"chacha20-poly1305", 3},
}};

const CipherSpec* CipherById(unsigned char id) {
  for (const CipherSpec& spec : kCiphers)
    if (spec.id == id) return &spec;
  return nullptr;
}

// Null for a name the table does not know.
const CipherSpec* CipherByName(const char* name) {
  if (name == nullptr || *name == '\0') return &kDefaultCipher;
  std::string_view wanted(name);
  // "aes-256-cbc" and the like are read by their key size alone.
  if (wanted.size() > 8 && strncasecmp(name, "aes-", 4) == 0 && wanted[7] == '-')
    wanted = wanted.substr(0, 7);
  for (const CipherName& entry : kCipherNames)
    if (wanted.size() == std::strlen(entry.name) &&
        strncasecmp(wanted.data(), entry.name, wanted.size()) == 0)
      return CipherById(entry.id);
  return nullptr;
}

// Message layout: format, cipher id, salt, nonce, ciphertext, tag.
constexpr unsigned char kMessageFormat = 1;
constexpr size_t kSaltSize = 16;
constexpr size_t kNonceSize = 12;
constexpr size_t kTagSize = 16;
constexpr size_t kHeaderSize = 2 + kSaltSize + kNonceSize;
constexpr size_t kMaxKeySize = 32;

struct CipherContextFree {
  void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

// A malloc'd copy of bytes followed by a NUL, for results the caller frees.
unsigned char* CallerOwnedCopy(std::span<const unsigned char> bytes) {
  auto* copy = static_cast<unsigned char*>(std::malloc(bytes.size() + 1));
  if (copy == nullptr) return nullptr;
  if (!bytes.empty()) std::memcpy(copy, bytes.data(), bytes.size());
  copy[bytes.size()] = '\0';
  return copy;
}

// Runs one AEAD pass. Encrypting writes the tag to tag; decrypting checks it.
// Returns false when the cipher fails or the tag does not match.
bool RunAead(const EVP_CIPHER* cipher, bool encrypt, std::span<const unsigned char> key,
             std::span<const unsigned char> nonce, std::span<const unsigned char> aad,
             std::span<const unsigned char> in, unsigned char* out, unsigned char* tag) {
  CipherContext context(EVP_CIPHER_CTX_new());
  int produced = 0;
  int finished = 0;
  return context != nullptr &&
         EVP_CipherInit_ex(context.get(), cipher, nullptr, nullptr, nullptr, encrypt) == 1 &&
         EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_IVLEN, static_cast<int>(nonce.size()),
                             nullptr) == 1 &&
         EVP_CipherInit_ex(context.get(), nullptr, nullptr, key.data(), nonce.data(), encrypt) ==
             1 &&
         EVP_CipherUpdate(context.get(), nullptr, &produced, aad.data(),
                          static_cast<int>(aad.size())) == 1 &&
         EVP_CipherUpdate(context.get(), out, &produced, in.data(), static_cast<int>(in.size())) ==
             1 &&
         (encrypt ||
          EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_SET_TAG, kTagSize, tag) == 1) &&
         EVP_CipherFinal_ex(context.get(), out + produced, &finished) == 1 &&
         (!encrypt ||
          EVP_CIPHER_CTX_ctrl(context.get(), EVP_CTRL_AEAD_GET_TAG, kTagSize, tag) == 1);
}

// Keeps keys of different uses and ciphers apart.
std::string Purpose(const char* use, const CipherSpec& spec) {
  return std::string(use) + ":" + std::to_string(spec.id);
}

// URL-safe Base64 without padding (RFC 4648 section 5).
std::string EncodeUrlSafe(std::span<const unsigned char> bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()), bytes.data(),
                                      static_cast<int>(bytes.size()));
  text.resize(written > 0 ? static_cast<size_t>(written) : 0);
  while (!text.empty() && text.back() == '=') text.pop_back();
  for (char& c : text) c = c == '+' ? '-' : c == '/' ? '_' : c;
  return text;
}

// Strict inverse of EncodeUrlSafe: false for any text it would not produce.
bool DecodeUrlSafe(std::string_view text, std::string& bytes) {
  if (text.empty() || text.size() % 4 == 1) return false;
  std::string standard(text);
  for (char& c : standard) {
    if (c == '-')
      c = '+';
    else if (c == '_')
      c = '/';
    else if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
      return false;
  }
  const size_t padding = (4 - standard.size() % 4) % 4;
  standard.append(padding, '=');
  bytes.assign(standard.size() / 4 * 3, '\0');
  const int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(bytes.data()),
                                      reinterpret_cast<const unsigned char*>(standard.data()),
                                      static_cast<int>(standard.size()));
  if (decoded < static_cast<int>(padding)) return false;
  bytes.resize(static_cast<size_t>(decoded) - padding);
  // Unused low bits in the last character would let two names decode to one key.
  return EncodeUrlSafe({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}) ==
         text;
}

constexpr size_t kMaxFileName = 255;
constexpr size_t kLongFormHead = 141;  // 188 encoded characters: 1 + 64 + 1 + 188 = 254

std::string HexSha256(std::span<const unsigned char> bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned int i = 0; i < size; ++i) {
    hex += kHex[digest[i] >> 4];
    hex += kHex[digest[i] & 15];
  }
  return hex;
}

}  // namespace

struct Crypto::State {
  const CipherSpec* cipher = &kDefaultCipher;
  int mode = 0;

  // Block form: the keystream material derived for the last key and iv texts.
  bool block_ready = false;
  std::string block_key_text;
  std::string block_iv_text;
  std::array<unsigned char, kMaxKeySize + 16> block_material{};
  std::vector<unsigned char> block_input;
  std::vector<unsigned char> block_result;  // Final's bytes and a NUL
  int block_length = 0;
  bool block_failed = true;  // no usable Init, or the block went wrong
  bool block_done = false;   // Final has run for this block

  std::string opaque;
};

Crypto::Crypto(const char* algorithm, const char* key, int mode)
    : state_(std::make_unique<State>()) {
  state_->mode = mode;
  const CipherSpec* spec = CipherByName(algorithm);
  if (spec == nullptr) {
    Debug log;
    log.logerror(kTag, __LINE__, "Crypto - unknown cipher name %s, using %s\n", algorithm,
                 kDefaultCipher.label);
    spec = &kDefaultCipher;
  }
  state_->cipher = spec;
}

Crypto::~Crypto() { OPENSSL_cleanse(state_->block_material.data(), state_->block_material.size()); }

unsigned char* Crypto::Encrypt(const char* key, const unsigned char* data, int* length,
                               unsigned char* out) {
  Debug log;
  if (key == nullptr || data == nullptr || length == nullptr || *length < 0 ||
      *length > INT_MAX - static_cast<int>(kHeaderSize + kTagSize)) {
    log.logerror(kTag, __LINE__, "Crypto::Encrypt - missing pass phrase, data or length\n");
    if (length != nullptr) *length = 0;
    return nullptr;
  }
  if (out != nullptr) log.logerror(kTag, __LINE__, "Crypto::Encrypt - output buffer ignored\n");
  const size_t plain = static_cast<size_t>(*length);
  *length = 0;
  std::vector<unsigned char> message(kHeaderSize + plain + kTagSize);
  message[0] = kMessageFormat;
  message[1] = state_->cipher->id;
  std::span<unsigned char> salt(message.data() + 2, kSaltSize);
  std::span<unsigned char> nonce(salt.data() + kSaltSize, kNonceSize);
  std::array<unsigned char, kMaxKeySize> derived{};
  const EVP_CIPHER* cipher = state_->cipher->message();
  std::span<unsigned char> derived_key(derived.data(),
                                       static_cast<size_t>(EVP_CIPHER_key_length(cipher)));

  corvane::ClearOpenSslErrors();
  const bool sealed = RAND_bytes(salt.data(), static_cast<int>(salt.size())) == 1 &&
                      RAND_bytes(nonce.data(), static_cast<int>(nonce.size())) == 1 &&
                      corvane::PassphraseKeys::Derive(
                          key, salt, Purpose("message", *state_->cipher), derived_key) &&
                      RunAead(cipher, true, derived_key, nonce, {message.data(), 2}, {data, plain},
                              message.data() + kHeaderSize, message.data() + kHeaderSize + plain);
  OPENSSL_cleanse(derived.data(), derived.size());
  if (!sealed) {
    corvane::LogOpenSslErrors(log, kTag, __LINE__, "Crypto::Encrypt - cipher failed");
    return nullptr;
  }
  unsigned char* result = CallerOwnedCopy(message);
  if (result != nullptr) *length = static_cast<int>(message.size());
  return result;
}

unsigned char* Crypto::Decrypt(const char* key, const unsigned char* data, int* length,
                               unsigned char* out) {
  Debug log;
  if (key == nullptr || data == nullptr || length == nullptr || *length < 0) {
    log.logerror(kTag, __LINE__, "Crypto::Decrypt - missing pass phrase, data or length\n");
    if (length != nullptr) *length = 0;
    return nullptr;
  }
  if (out != nullptr) log.logerror(kTag, __LINE__, "Crypto::Decrypt - output buffer ignored\n");
  const size_t total = static_cast<size_t>(*length);
  *length = 0;
  const CipherSpec* spec =
      total >= kHeaderSize + kTagSize && data[0] == kMessageFormat ? CipherById(data[1]) : nullptr;
  if (spec == nullptr) {
    log.logerror(kTag, __LINE__, "Crypto::Decrypt - %zu bytes are not an encrypted message\n",
                 total);
    return nullptr;
  }
  const size_t plain = total - kHeaderSize - kTagSize;
  std::vector<unsigned char> opened(plain);
  std::array<unsigned char, kTagSize> tag;
  std::memcpy(tag.data(), data + kHeaderSize + plain, kTagSize);
  std::array<unsigned char, kMaxKeySize> derived{};
  const EVP_CIPHER* cipher = spec->message();
  std::span<unsigned char> derived_key(derived.data(),
                                       static_cast<size_t>(EVP_CIPHER_key_length(cipher)));

  corvane::ClearOpenSslErrors();
  const bool verified = corvane::PassphraseKeys::Derive(key, {data + 2, kSaltSize},
                                                        Purpose("message", *spec), derived_key) &&
                        RunAead(cipher, false, derived_key, {data + 2 + kSaltSize, kNonceSize},
                                {data, 2}, {data + kHeaderSize, plain}, opened.data(), tag.data());
  OPENSSL_cleanse(derived.data(), derived.size());
  if (!verified) {
    corvane::ClearOpenSslErrors();
    log.logerror(kTag, __LINE__,
                 "Crypto::Decrypt - message altered or not encrypted with this pass phrase\n");
    return nullptr;
  }
  unsigned char* result = CallerOwnedCopy(opened);
  OPENSSL_cleanse(opened.data(), opened.size());
  if (result != nullptr) *length = static_cast<int>(plain);
  return result;
}

bool Crypto::Init(const char* key, const unsigned char* iv) {
  State& state = *state_;
  state.block_input.clear();
  state.block_result.clear();
  state.block_length = 0;
  state.block_failed = true;
  state.block_done = false;
  if (key == nullptr) {
    Debug log;
    log.logerror(kTag, __LINE__, "Crypto::Init - missing key text\n");
    state.block_ready = false;
    return false;
  }
  const std::string iv_text = iv != nullptr ? reinterpret_cast<const char*>(iv) : "";
  if (state.block_ready && state.block_key_text == key && state.block_iv_text == iv_text) {
    state.block_failed = false;
    return true;
  }
  // The iv text is the salt, so both ends derive the same key and counter
  // block from the same texts.
  state.block_ready = corvane::PassphraseKeys::Derive(
      key, {reinterpret_cast<const unsigned char*>(iv_text.data()), iv_text.size()},
      Purpose("block", *state.cipher), state.block_material);
  if (!state.block_ready) {
    Debug log;
    corvane::LogOpenSslErrors(log, kTag, __LINE__, "Crypto::Init - key derivation failed");
    return false;
  }
  state.block_key_text = key;
  state.block_iv_text = iv_text;
  state.block_failed = false;
  return true;
}

bool Crypto::Update(const unsigned char* data, int length) {
  State& state = *state_;
  // After Final the block is closed; the next block needs its own Init.
  if (state.block_failed || state.block_done || data == nullptr || length < 0) {
    state.block_failed = true;
    return false;
  }
  state.block_input.insert(state.block_input.end(), data, data + length);
  return true;
}

unsigned char* Crypto::Final() {
  State& state = *state_;
  if (state.block_failed) return nullptr;
  if (state.block_done) return state.block_result.data();
  const EVP_CIPHER* cipher = state.cipher->block();
  const auto key_size = static_cast<size_t>(EVP_CIPHER_key_length(cipher));
  // Every block starts the keystream afresh from the derived key and counter,
  // which is what lets the peer decrypt each block on its own.
  state.block_result.assign(state.block_input.size() + 1, 0);
  CipherContext context(EVP_CIPHER_CTX_new());
  int produced = 0;
  const bool done =
      context != nullptr &&
      EVP_CipherInit_ex(context.get(), cipher, nullptr, state.block_material.data(),
                        state.block_material.data() + key_size, 1) == 1 &&
      EVP_CipherUpdate(context.get(), state.block_result.data(), &produced,
                       state.block_input.data(), static_cast<int>(state.block_input.size())) == 1 &&
      static_cast<size_t>(produced) == state.block_input.size();
  OPENSSL_cleanse(state.block_input.data(), state.block_input.size());
  state.block_input.clear();
  if (!done) {
    Debug log;
    corvane::LogOpenSslErrors(log, kTag, __LINE__, "Crypto::Final - cipher failed");
    state.block_failed = true;
    state.block_result.clear();
    return nullptr;
  }
  state.block_done = true;
  state.block_length = produced;
  return state.block_result.data();
}

int Crypto::GetLength() const { return state_->block_done ? state_->block_length : 0; }

char* Crypto::EncodeOpaque(const char* text, int length, const char* key, bool textMode) {
  std::string& opaque = state_->opaque;
  if (text == nullptr || length < 1) return nullptr;
  auto size = static_cast<size_t>(length);
  if (text[size - 1] == '\0') --size;
  if (size == 0) return nullptr;
  const std::span<const unsigned char> bytes(reinterpret_cast<const unsigned char*>(text), size);
  opaque = EncodeUrlSafe(bytes);
  if (opaque.size() > kMaxFileName)
    opaque = "~" + HexSha256(bytes) + "~" + EncodeUrlSafe(bytes.first(kLongFormHead));
  return opaque.data();
}

char* Crypto::DecodeOpaque(const char* text, int length, const char* key, bool textMode) {
  std::string& opaque = state_->opaque;
  if (text == nullptr || length < 1) return nullptr;
  const std::string_view name(text, strnlen(text, static_cast<size_t>(length)));
  if (name.size() > kMaxFileName || !DecodeUrlSafe(name, opaque)) {
    opaque.clear();
    return nullptr;
  }
  return opaque.data();
}
