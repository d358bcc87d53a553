// Tests of NetOutput's certificate answers: SendCertificate and signing SPKAC requests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "wirelane/http/NetOutput.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

std::string ReadFile(const std::string& path) { return tlstest::ReadText(path); }

TEST(NetOutputCertificateTest, SendCertificateTypesTheBody) {
  const std::string path = ::testing::TempDir() + std::to_string(::getpid()) + "-cert.der";
  std::ofstream(path, std::ios::binary) << std::string(
      "\x30\x82\x01\x00\x00"
      "der",
      8);
  for (const bool ca : {true, false}) {
    NetOutput out;
    ASSERT_TRUE(out.SendCertificate(path.c_str(), ca));
    EXPECT_STREQ(ca ? "application/x-x509-ca-cert" : "application/x-x509-user-cert",
                 out.GetHeader("Content-Type"));
    EXPECT_EQ(std::string("\x30\x82\x01\x00\x00"
                          "der",
                          8),
              std::string(out.GetBuffer(), out.GetOutputStream()->GetLength()));
  }
  std::remove(path.c_str());

  NetOutput missing;
  EXPECT_FALSE(missing.SendCertificate("/nonexistent/cert.der", true));
  EXPECT_EQ(nullptr, missing.GetHeader("Content-Type"));
  EXPECT_EQ(nullptr, missing.GetBuffer());
}

TEST(NetOutputCertificateTest, RequestNamesThatAreNotPlainAreRefused) {
  // Run where a shell, had it seen the name, would leave a file behind.
  const std::string dir =
      ::testing::TempDir() + "netoutput-spkac-refused-" + std::to_string(::getpid());
  std::filesystem::create_directories(dir);
  const char* names[] = {
      nullptr, "",        "a;touch pwned", "$(touch pwned)",  "`touch pwned`", "../req", "sub/req",
      "a b",   "-config", ".hidden",       "req|touch pwned", "r\nq",          "a\\b"};
  tlstest::InFreshProcess([&] {
    ASSERT_EQ(0, ::chdir(dir.c_str()));
    for (const char* name : names) {
      SCOPED_TRACE(name != nullptr ? name : "<null>");
      sockettest::LogCapture log;
      NetOutput out;
      EXPECT_FALSE(out.ProcessSPKAC(name));
      EXPECT_NE(std::string::npos, log.Text().find("Refused an SPKAC request name"));
      EXPECT_EQ(nullptr, out.GetBuffer());
    }
    EXPECT_FALSE(std::filesystem::exists("pwned"));
  });
  std::filesystem::remove_all(dir);
}

// A CA laid out as the signing command expects it: <root>/ca/portico.conf,
// <root>/certs for the output, and the working folder <root>/work holding
// the request file "req".
constexpr const char* kCaScript = R"SH(set -e
cd "$1"
mkdir -p ca/newcerts certs work
cat > ca/portico.conf <<EOF
[ ca ]
default_ca = CA_default
[ CA_default ]
database = $1/ca/index.txt
new_certs_dir = $1/ca/newcerts
certificate = $1/ca/ca.pem
private_key = $1/ca/ca.key
serial = $1/ca/serial
default_md = sha256
default_days = 30
policy = policy_any
[ policy_any ]
commonName = supplied
EOF
: > ca/index.txt
echo 01 > ca/serial
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout ca/ca.key -out ca/ca.pem -subj /CN=SpkacTestCA -days 30
openssl genrsa -out user.key 2048
openssl spkac -key user.key -challenge hello > work/req
echo "CN=Spkac User" >> work/req
)SH";

TEST(NetOutputCertificateTest, SignedSpkacRequestIsSentAsUserCertificate) {
  std::string root = ::testing::TempDir() + "netoutput-spkac-XXXXXX";
  ASSERT_NE(nullptr, ::mkdtemp(root.data()));
  std::ofstream(root + "/make.sh") << kCaScript;
  ASSERT_EQ(
      0, std::system(
             ("sh '" + root + "/make.sh' '" + root + "' > '" + root + "/make.log' 2>&1").c_str()))
      << ReadFile(root + "/make.log");

  tlstest::InFreshProcess([&] {
    ASSERT_EQ(0, ::chdir((root + "/work").c_str()));
    NetOutput out;
    ASSERT_TRUE(out.ProcessSPKAC("req"));
    EXPECT_STREQ("application/x-x509-user-cert", out.GetHeader("Content-Type"));
    const std::string issued = ReadFile(root + "/certs/req.tmp");
    ASSERT_FALSE(issued.empty());
    EXPECT_EQ(issued, std::string(out.GetBuffer(), out.GetOutputStream()->GetLength()));

    // A request file that does not exist: the tool fails and nothing is sent.
    NetOutput again;
    EXPECT_FALSE(again.ProcessSPKAC("missing-request"));
    EXPECT_EQ(nullptr, again.GetBuffer());
  });
  // The issued certificate names the requester.
  const std::string subject = root + "/subject.txt";
  ASSERT_EQ(0, std::system(("openssl x509 -inform DER -in '" + root +
                            "/certs/req.tmp' -noout "
                            "-subject > '" +
                            subject + "' 2>&1")
                               .c_str()));
  EXPECT_NE(std::string::npos, ReadFile(subject).find("Spkac User"));
  std::filesystem::remove_all(root);
}

}  // namespace
