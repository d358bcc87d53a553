// PassphraseKeysInternal: PBKDF2 master keys cached per pass phrase, HKDF for each use.
#include "PassphraseKeysInternal.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <array>
#include <map>
#include <memory>
#include <mutex>

namespace corvane {

namespace {

using Block = std::array<unsigned char, 32>;

constexpr int kIterations = 10000;
constexpr size_t kMaxCached = 32;
// A fixed salt lets the stretched key be reused across messages; each message
// still gets its own key through the random salt given to HKDF.
constexpr std::string_view kMasterSalt = "corvane.sealvault.passphrase.v1";

struct Cache {
  std::mutex lock;
  std::map<Block, Block> masters;  // SHA-256 of the pass phrase -> PBKDF2 output
  ~Cache() {
    for (auto& [index, master] : masters) OPENSSL_cleanse(master.data(), master.size());
  }
};

Cache& Masters() {
  static Cache cache;
  return cache;
}

bool Master(std::string_view passphrase, Block& master) {
  Block index{};
  unsigned int size = 0;
  if (EVP_Digest(passphrase.data(), passphrase.size(), index.data(), &size, EVP_sha256(),
                 nullptr) != 1)
    return false;
  Cache& cache = Masters();
  {
    std::lock_guard<std::mutex> guard(cache.lock);
    if (auto found = cache.masters.find(index); found != cache.masters.end()) {
      master = found->second;
      return true;
    }
  }
  // Stretched outside the lock; two threads may both stretch a new pass
  // phrase, with the same result.
  if (PKCS5_PBKDF2_HMAC(passphrase.data(), static_cast<int>(passphrase.size()),
                        reinterpret_cast<const unsigned char*>(kMasterSalt.data()),
                        static_cast<int>(kMasterSalt.size()), kIterations, EVP_sha256(),
                        static_cast<int>(master.size()), master.data()) != 1)
    return false;
  std::lock_guard<std::mutex> guard(cache.lock);
  if (cache.masters.size() >= kMaxCached) cache.masters.clear();
  cache.masters[index] = master;
  return true;
}

struct KdfFree {
  void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
  void operator()(EVP_KDF_CTX* context) const { EVP_KDF_CTX_free(context); }
};

}  // namespace

bool PassphraseKeys::Derive(std::string_view passphrase, std::span<const unsigned char> salt,
                            std::string_view purpose, std::span<unsigned char> out) {
  Block master{};
  if (!Master(passphrase, master)) return false;
  std::unique_ptr<EVP_KDF, KdfFree> kdf(EVP_KDF_fetch(nullptr, "HKDF", nullptr));
  std::unique_ptr<EVP_KDF_CTX, KdfFree> context(kdf != nullptr ? EVP_KDF_CTX_new(kdf.get())
                                                               : nullptr);
  // HKDF takes an empty salt as "no salt"; the parameter must still point somewhere.
  static const unsigned char kNoSalt = 0;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, master.data(), master.size()),
      OSSL_PARAM_construct_octet_string(
          OSSL_KDF_PARAM_SALT, const_cast<unsigned char*>(salt.empty() ? &kNoSalt : salt.data()),
          salt.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, const_cast<char*>(purpose.data()),
                                        purpose.size()),
      OSSL_PARAM_construct_end(),
  };
  const bool derived =
      context != nullptr && EVP_KDF_derive(context.get(), out.data(), out.size(), params) == 1;
  OPENSSL_cleanse(master.data(), master.size());
  return derived;
}

}  // namespace corvane
