// Digestor: digests through OpenSSL's EVP interface, rendered as Base64 text.
#include "sealvault/Digestor.h"

#include <openssl/evp.h>

#include <memory>

#include "OpenSslErrorInternal.h"
#include "sealvault/Debug.h"

namespace {
constexpr const char* kTag = "Digest";

struct MdFree {
  void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
}  // namespace

Digestor::Digestor(const char* algorithm) : algorithm_(algorithm != nullptr ? algorithm : "sha1") {}

Digestor::~Digestor() = default;

char* Digestor::GetDigest(const unsigned char* data, int* length, const char* algorithm) {
  Debug log;
  if (data == nullptr || length == nullptr || *length < 0) {
    log.logerror(kTag, __LINE__, "Digestor::GetDigest - missing data or length\n");
    if (length != nullptr) *length = 0;
    return nullptr;
  }
  const char* name = algorithm != nullptr ? algorithm : algorithm_.c_str();
  const auto size = static_cast<size_t>(*length);
  *length = 0;
  corvane::ClearOpenSslErrors();
  std::unique_ptr<EVP_MD, MdFree> md(EVP_MD_fetch(nullptr, name, nullptr));
  unsigned char value[EVP_MAX_MD_SIZE];
  unsigned int value_size = 0;
  if (md == nullptr || EVP_Digest(data, size, value, &value_size, md.get(), nullptr) != 1) {
    const std::string what = std::string("Digestor::GetDigest - cannot compute digest ") + name;
    corvane::LogOpenSslErrors(log, kTag, __LINE__, what.c_str());
    return nullptr;
  }
  text_.assign(4 * ((value_size + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text_.data()), value,
                                      static_cast<int>(value_size));
  text_.resize(static_cast<size_t>(written));
  *length = written;
  return text_.data();
}
