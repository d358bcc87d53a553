// The shared test certificates seen the way the secure-channel tests use them, trusted by SChannel.
#pragma once

#include <string>

#include "sealvault/SChannel.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace tlstest {

// Certificate files of this process (see TestCertificates); each has its key
// in "<name>.key" beside it, as certificate names expect.
struct Certificates {
  std::string folder;
  std::string trusted_ca;  // added to SChannel's trust store
  std::string server;      // signed by trusted_ca for localhost and 127.0.0.1
  std::string wrong_name;  // signed by trusted_ca for another name only
  std::string untrusted;   // for localhost and 127.0.0.1, signed by a CA nobody trusts
  bool ready = false;
};

// Made at the first call (thread-safe).
inline const Certificates& ChannelCertificates() {
  static const Certificates made = [] {
    const TestCertificates& all = TestCertificates::Get();
    Certificates certificates{all.Dir(), all.Cert("ca"), all.Cert("server"), all.Cert("wronghost"),
                              all.Cert("rogue"), false};
    certificates.ready =
        !certificates.folder.empty() && SChannel::AddTrustedCA(certificates.trusted_ca.c_str());
    return certificates;
  }();
  return made;
}

}  // namespace tlstest
