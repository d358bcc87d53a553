// CertificateStore: finds the PEM certificate and private key files a certificate name stands for.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace corvane::platform {

// Where a certificate name leads: the PEM file holding the certificate, and
// the PEM file holding its private key (the same file when it holds both).
struct CertificateFiles {
  std::string certificate;
  std::string key;
};

// Certificate names, as hosts give them to secure sockets, resolve to files:
//   - a name that is the path of an existing regular file is used as it is;
//   - any other name means "<directory>/<name>.pem" in the certificate
//     directory: $CORVANE_CERTS, else $XDG_CONFIG_HOME/corvane/certs, else
//     $HOME/.config/corvane/certs.
// The private key is in the certificate file itself when that file holds a
// "PRIVATE KEY" block, else in "<certificate path without .pem>.key" beside it.
// Stateless; every function is thread-safe (the environment is read per call).
class CertificateStore {
 public:
  // The certificate directory as described above; empty when none of the
  // variables is set.
  static std::string Directory();

  // Resolves name. nullopt for an empty name, a name naming no existing file
  // (neither as a path nor inside the directory), or a certificate file that
  // holds no private key and has no ".key" file beside it.
  static std::optional<CertificateFiles> Resolve(std::string_view name);
};

}  // namespace corvane::platform
