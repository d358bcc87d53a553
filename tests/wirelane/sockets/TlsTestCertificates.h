// Throw-away CA and server certificates for TLS socket tests, made once per test process.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sealvault/SChannel.h"

namespace tlstest {

// Files made by the openssl command line in a private temporary folder. Each
// server certificate "<name>.pem" has its key in "<name>.key" beside it.
struct Certificates {
  std::string folder;
  std::string trusted_ca;  // added to SChannel's trust store
  std::string server;      // signed by trusted_ca for localhost and 127.0.0.1
  std::string wrong_name;  // signed by trusted_ca for other.invalid only
  std::string untrusted;   // for 127.0.0.1, signed by a CA nobody trusts
  bool ready = false;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

inline bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

inline bool MakeCa(const std::string& base) {
  return Run(
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
      " -subj '/CN=Corvane Test CA' -keyout " +
      base + ".key -out " + base + ".pem" +
      " -addext basicConstraints=critical,CA:TRUE"
      " -addext keyUsage=critical,keyCertSign,cRLSign");
}

inline bool MakeServer(const std::string& base, const std::string& ca, const std::string& names) {
  std::ofstream(base + ".ext") << "subjectAltName=" << names
                               << "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
  return Run("openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
             " -subj /CN=localhost -keyout " +
             base + ".key -out " + base + ".csr") &&
         Run("openssl x509 -req -days 2 -in " + base + ".csr -CA " + ca + ".pem -CAkey " + ca +
             ".key -CAcreateserial -out " + base + ".pem -extfile " + base + ".ext");
}

inline Certificates MakeCertificates() {
  Certificates made;
  std::string pattern = ::testing::TempDir() + "tls-certs-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return made;
  made.folder = pattern;
  const std::string ca = made.folder + "/ca";
  const std::string stranger = made.folder + "/stranger-ca";
  made.trusted_ca = ca + ".pem";
  made.server = made.folder + "/server.pem";
  made.wrong_name = made.folder + "/wrongname.pem";
  made.untrusted = made.folder + "/untrusted.pem";
  made.ready = MakeCa(ca) && MakeCa(stranger) &&
               MakeServer(made.folder + "/server", ca, "DNS:localhost,IP:127.0.0.1") &&
               MakeServer(made.folder + "/wrongname", ca, "DNS:other.invalid") &&
               MakeServer(made.folder + "/untrusted", stranger, "DNS:localhost,IP:127.0.0.1") &&
               SChannel::AddTrustedCA(made.trusted_ca.c_str());
  return made;
}

// Removes the folder when the test process ends.
struct CertificateFolder {
  Certificates certificates = MakeCertificates();
  ~CertificateFolder() {
    if (!certificates.folder.empty()) std::filesystem::remove_all(certificates.folder);
  }
};

// The certificates of this process, made at the first call (thread-safe).
inline const Certificates& TestCertificates() {
  static CertificateFolder folder;
  return folder.certificates;
}

// The not-after date of a PEM certificate as "Dec 11 10:00:00 2027 GMT".
inline std::string ExpiryOf(const std::string& certificate) {
  const std::string out = TestCertificates().folder + "/enddate.txt";
  const std::string command = "openssl x509 -noout -enddate -in " + certificate + " >" + out;
  if (std::system(command.c_str()) != 0) return {};
  std::string text = ReadText(out);
  const auto equals = text.find('=');
  if (equals != std::string::npos) text.erase(0, equals + 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

}  // namespace tlstest
