// TlsIdentityInternal: reads certificate and key PEM files named through the certificate store.
#include "TlsIdentityInternal.h"

#include <openssl/pem.h>

#include <string>

#include "OpenSslErrorInternal.h"
#include "platform/CertificateStore.h"
#include "sealvault/Debug.h"

namespace corvane {

namespace {

constexpr const char* kTag = "SChannel";

struct BioFree {
  void operator()(BIO* bio) const { BIO_free(bio); }
};
using BioPtr = std::unique_ptr<BIO, BioFree>;

// Refuses every pass phrase request: without it OpenSSL would prompt on the
// terminal for an encrypted key and block the caller.
int NoPassphrase(char*, int, int, void*) { return 0; }

}  // namespace

TlsIdentity::~TlsIdentity() = default;

std::shared_ptr<const TlsIdentity> TlsIdentity::Load(const char* name, Debug& log) {
  const auto files = platform::CertificateStore::Resolve(name != nullptr ? name : "");
  if (!files) {
    log.logerror(
        kTag, __LINE__,
        "SChannel - no certificate with its key found for \"%s\" (certificate directory %s)\n",
        name != nullptr ? name : "", platform::CertificateStore::Directory().c_str());
    return nullptr;
  }
  std::shared_ptr<TlsIdentity> identity(new TlsIdentity);
  ClearOpenSslErrors();
  BioPtr certificates(BIO_new_file(files->certificate.c_str(), "r"));
  if (certificates != nullptr)
    identity->certificate_.reset(
        PEM_read_bio_X509(certificates.get(), nullptr, NoPassphrase, nullptr));
  if (identity->certificate_ != nullptr) {
    identity->chain_.reset(sk_X509_new_null());
    while (X509* next = PEM_read_bio_X509(certificates.get(), nullptr, NoPassphrase, nullptr))
      if (identity->chain_ == nullptr || sk_X509_push(identity->chain_.get(), next) == 0)
        X509_free(next);
    ClearOpenSslErrors();  // the chain read ends with a "no start line" entry
  }
  BioPtr key(BIO_new_file(files->key.c_str(), "r"));
  if (key != nullptr)
    identity->key_.reset(PEM_read_bio_PrivateKey(key.get(), nullptr, NoPassphrase, nullptr));

  const char* problem = nullptr;
  if (identity->certificate_ == nullptr)
    problem = "cannot read the certificate in";
  else if (identity->key_ == nullptr)
    problem = "cannot read an unencrypted private key for";
  else if (X509_check_private_key(identity->certificate_.get(), identity->key_.get()) != 1)
    problem = "the private key does not match the certificate in";
  if (problem != nullptr) {
    const std::string what = std::string("SChannel - ") + problem + " " + files->certificate;
    LogOpenSslErrors(log, kTag, __LINE__, what.c_str());
    return nullptr;
  }
  return identity;
}

bool TlsIdentity::ApplyTo(SSL* ssl) const {
  return SSL_use_cert_and_key(ssl, certificate_.get(), key_.get(), chain_.get(), 1) == 1;
}

}  // namespace corvane
