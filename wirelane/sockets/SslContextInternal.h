// SslContextInternal: the one OpenSSL context that every SSLSocket of the process shares.
#pragma once

#include <string>

struct ssl_st;
struct ssl_ctx_st;
struct ssl_session_st;

namespace corvane::tls {

// What the shared context is made from (the arguments of the static
// SSLSocket::InitializeSSL). Texts are only read during the call.
struct ContextSettings {
  const char* certificate = nullptr;  // PEM certificate (chain) file, or null for none
  const char* key_file = nullptr;     // PEM private key file; null: the certificate file
  const char* password = nullptr;     // pass phrase of an encrypted key, or null
  const char* home_dir = nullptr;     // null: DefaultHomeDir()
  int verify_mode = 0;                // SSL_VERIFY_* flags
  int version = 23;                   // 3, 4 or anything else (see InitializeSharedContext)
  const char* cipher_list = nullptr;  // OpenSSL cipher list, or null/empty for the default
  const char* ca_list = nullptr;      // PEM file of trusted CAs, also sent to clients; may be null
  const char* ca_path = nullptr;      // hashed CA directory; null: <home>/ca
  // Receives every new client-side session (OpenSSL's new-session callback);
  // may be null. Returns 1 when it kept the reference.
  int (*new_session)(ssl_st*, ssl_session_st*) = nullptr;
};

// Stores the home directory and, when no context exists yet, builds it from
// settings: TLS_method (versions 3 and 4 asked for SSLv3 or TLSv1 only, which
// OpenSSL 3 refuses; they get TLS 1.2 as the lowest version instead), session
// id context "Corvane1", client and server session cache with a 600 s
// timeout, the verify mode with depth 9, CA file and directory plus the
// system's trusted CAs, and the certificate and key. The cipher lists
// "SSLv3" and "TLSv1" (the old protocol-family names) keep OpenSSL's default
// list. Returns 1 on success or when the context already existed, 0 when a
// step failed (logged). Once made, the context is kept even when loading the
// certificate or key failed, and later calls use it as it is. Thread-safe:
// concurrent callers are serialised and one context is made.
int InitializeSharedContext(const ContextSettings& settings);

// The shared context, or null before InitializeSharedContext. Thread-safe.
ssl_ctx_st* SharedContext();

// Frees the shared context (connections made on it keep their own reference)
// and this thread's OpenSSL state. The next InitializeSharedContext builds a
// new one. Thread-safe.
void ReleaseSharedContext();

// Loads the Diffie-Hellman parameters found in file (PEM, may be a
// certificate file that also holds them) into the shared context; without
// them, or when OpenSSL refuses them as too weak (logged), the context picks
// its groups itself. Returns 1, or 0 when there is no context or nothing
// could be set.
int SetSharedDhParameters(const char* file);

// The home directory stored by the last InitializeSharedContext, or "" before
// the first. Thread-safe.
std::string HomeDir();

// The installation home used when none is given: $CORVANE when set and not
// empty, else the parent of the folder holding the executable
// (/opt/corvane/bin/host gives /opt/corvane), else ".".
std::string DefaultHomeDir();

}  // namespace corvane::tls
