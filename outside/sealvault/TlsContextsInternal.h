// TlsContextsInternal: the process-wide client and server TLS contexts every SChannel shares.
#pragma once

#include <openssl/ssl.h>

namespace corvane {

// Loading the system CA bundle costs about 20 ms, so each context is made once
// per process, on first use, under a lock, and lives until the process ends.
// Both allow TLS 1.2 and later only.
class TlsContexts {
 public:
  // The client context: verifies the server's chain against OpenSSL's default
  // trust locations (SSL_CERT_FILE and SSL_CERT_DIR, read when the context is
  // made) plus every CA added through AddTrustedCa. Null (logged) when it
  // cannot be made; a later call tries again. Thread-safe.
  static SSL_CTX* Client();
  // The server context: no client certificate is requested; each connection
  // gets its listener's certificate and key. Null (logged) on failure.
  // Thread-safe.
  static SSL_CTX* Server();
  // Adds the CA certificates in the PEM file at path to the client trust
  // store, for every later handshake. False (logged) when the file cannot be
  // read. Thread-safe.
  static bool AddTrustedCa(const char* path);
};

}  // namespace corvane
