// TlsIdentityInternal: a certificate, its chain and its private key, loaded once and given to TLS
// connections.
#pragma once

#include <openssl/ssl.h>

#include <memory>

class Debug;

namespace corvane {

// Immutable once loaded, so one identity may serve many connections on many
// threads (OpenSSL reference-counts what SSL_use_cert_and_key takes).
class TlsIdentity {
 public:
  // Resolves name through the certificate store and loads the first
  // certificate of the PEM file, the certificates after it as its chain, and
  // the private key. Returns null (logged through log with the "SChannel"
  // tag) when the name resolves to nothing, a file cannot be read, the key is
  // encrypted or does not belong to the certificate.
  static std::shared_ptr<const TlsIdentity> Load(const char* name, Debug& log);

  // Puts the certificate, chain and key on ssl. False when OpenSSL refuses.
  bool ApplyTo(SSL* ssl) const;

  ~TlsIdentity();
  TlsIdentity(const TlsIdentity&) = delete;
  TlsIdentity& operator=(const TlsIdentity&) = delete;

 private:
  struct Free {
    void operator()(X509* certificate) const { X509_free(certificate); }
    void operator()(STACK_OF(X509) * chain) const { sk_X509_pop_free(chain, X509_free); }
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
  };

  TlsIdentity() = default;
  std::unique_ptr<X509, Free> certificate_;
  std::unique_ptr<STACK_OF(X509), Free> chain_;
  std::unique_ptr<EVP_PKEY, Free> key_;
};

}  // namespace corvane
