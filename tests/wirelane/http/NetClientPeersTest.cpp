// Tests of NetClient against real servers: nginx (plain and TLS), apache2 with Digest, tinyproxy.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "wirelane/http/HttpPeerServers.h"
#include "wirelane/http/NetClient.h"
#include "wirelane/http/NetClientTestSupport.h"
#include "wirelane/sockets/SocketStartup.h"
#include "wirelane/sockets/TlsTestCertificates.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

using httptest::Content;
using httptest::Status;
using peertest::DigestApache;
using peertest::Nginx;
using peertest::TinyProxy;
using testing::HasSubstr;
using tlstest::ReadText;
using tlstest::TestCertificates;

constexpr const char* kBasicUser = "bob";
constexpr const char* kBasicPassword = "s3cret pass";

// Long enough for nginx to compress; sub_filter rewrites MARK.
std::string Page() {
  std::string page = "<html><body>\n";
  for (int line = 0; line < 2000; ++line) page += "line " + std::to_string(line) + " MARK\n";
  return page + "</body></html>\n";
}

// The locations every test shares; the "/basic/" area needs kBasicUser, and
// a missing file there redirects to the TLS server (another port).
const char* kLocations = R"(    absolute_redirect off;
    location /sub/ { sub_filter MARK mark; sub_filter_once off; }
    location = /rel { return 302 /page.html; }
    location = /loop { return 302 /loop; }
    location = /notmod { return 304; }
    location /totls/ { return 302 https://127.0.0.1:{TLS}/page.html?$args; }
    location /basic/ {
      auth_basic "Corvane Area";
      auth_basic_user_file {DIR}/htpasswd;
      error_page 404 = @away;
    }
    location @away {
      add_header Set-Cookie "track=1; path=/";
      return 302 https://127.0.0.1:{TLS}/page.html;
    }
)";

// nginx with the pages, the gzip settings and the Basic user file.
class Server : public Nginx {
 public:
  Server()
      : Nginx(kLocations,
              "  gzip on;\n  gzip_min_length 0;\n  gzip_types *;\n  gzip_http_version 1.0;\n") {
    std::filesystem::create_directories(Root() + "/sub");
    std::filesystem::create_directories(Root() + "/basic");
    std::ofstream(Root() + "/page.html") << Page();
    std::ofstream(Root() + "/sub/page.html") << Page();
    std::ofstream(Root() + "/basic/page.html") << "members only\n";
    tlstest::PeerProcess hash({"openssl", "passwd", "-apr1", "-stdin"},
                              std::string(kBasicPassword) + "\n");
    hash.CloseInput();
    EXPECT_EQ(0, hash.WaitExit());
    std::ofstream(Dir() + "/htpasswd") << kBasicUser << ":" << hash.Output();
  }
  std::string Plain(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(PlainPort()) + path;
  }
  std::string Tls(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(TlsPort()) + path;
  }
  // Access log lines whose request line contains text.
  std::vector<std::string> Logged(const std::string& text) const {
    std::vector<std::string> lines;
    std::istringstream log(AccessLog());
    for (std::string line; std::getline(log, line);)
      if (line.find(text) != std::string::npos) lines.push_back(line);
    return lines;
  }
};

class NetClientPeersTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_TRUE(tlstest::ChannelCertificates().ready); }
  void SetUp() override { ASSERT_EQ(0, WSAStartup(0x0202, nullptr)); }
  void TearDown() override { WSACleanup(); }
};

TEST_F(NetClientPeersTest, BodiesByLengthChunkedAndGzipOverPlainAndSecureChannel) {
  Server nginx;
  ASSERT_TRUE(nginx.Ready());
  std::string rewritten = Page();
  for (size_t at; (at = rewritten.find("MARK")) != std::string::npos;)
    rewritten.replace(at, 4, "mark");
  struct Case {
    const char* path;
    const char* version;
    bool gzip;
    const std::string& content;
    const char* framing;  // the response field that shows how the body came, if any
  } cases[] = {
      {"/page.html", nullptr, false, Page(), "Content-Length"},
      {"/sub/page.html", "HTTP/1.1", false, rewritten, "Transfer-Encoding"},
      {"/sub/page.html", nullptr, false, rewritten, nullptr},  // HTTP/1.0: until close
      {"/page.html", nullptr, true, Page(), "Content-Encoding"},
  };
  for (const bool secure : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.path) + (c.version ? c.version : "") + (c.gzip ? " gzip" : "") +
                   (secure ? " tls" : ""));
      NetClient client(nullptr, nullptr, nullptr, nullptr, c.version);
      if (c.gzip) client.AddHeader("Accept-Encoding", "gzip");
      const int result =
          client.SendRequest("GET", (secure ? nginx.Tls(c.path) : nginx.Plain(c.path)).c_str());
      EXPECT_GT(result, 0);
      EXPECT_EQ("200", Status(client));
      if (c.framing != nullptr) {
        EXPECT_NE(nullptr, client.Get((std::string("header|") + c.framing).c_str()));
      }
      EXPECT_TRUE(Content(client) == c.content) << Content(client).substr(0, 200);
      if (c.gzip) {
        EXPECT_LT(result, static_cast<int>(c.content.size()));  // what travelled was compressed
      }
      if (secure) {
        EXPECT_EQ(
            ReadText(TestCertificates::Get().Cert("server")),
            client.GetProperty("ServerCertificate") ? client.GetProperty("ServerCertificate") : "");
        EXPECT_NE(nullptr, client.GetProperty("PeerCertExpires"));
      }
    }
  }
}

TEST_F(NetClientPeersTest, SecureChannelRefusesAnUntrustedServer) {
  const TestCertificates& certs = TestCertificates::Get();
  tlstest::OpensslServer rogue(certs.Cert("rogue"), certs.Key("rogue"));
  ASSERT_TRUE(rogue.Ready());
  NetClient client;
  EXPECT_LT(client.SendRequest("GET",
                               ("https://127.0.0.1:" + std::to_string(rogue.Port()) + "/").c_str()),
            0);
  EXPECT_EQ(nullptr, client.GetProperty("ServerCertificate"));
}

TEST_F(NetClientPeersTest, PemCertificateSelectsOpenSslWithVerification) {
  // The OpenSSL context is made once per process from the first socket's
  // properties, so this runs in a process of its own.
  tlstest::InFreshProcess([] {
    Server nginx;
    ASSERT_TRUE(nginx.Ready());
    const TestCertificates& certs = TestCertificates::Get();
    tlstest::OpensslServer rogue(certs.Cert("rogue"), certs.Key("rogue"));
    ASSERT_TRUE(rogue.Ready());
    NetClient client(nullptr, nullptr, nullptr, certs.Cert("client").c_str());
    client.SetProperty("VerifyMode", "1");
    client.SetProperty("CAList", certs.Cert("ca").c_str());
    client.SetProperty("HomeDir", certs.Dir().c_str());
    EXPECT_GT(client.SendRequest("GET", nginx.Tls("/page.html").c_str()), 0);
    EXPECT_TRUE(Content(client) == Page());
    EXPECT_EQ(ReadText(certs.Cert("server")), client.GetProperty("ServerCertificate")
                                                  ? client.GetProperty("ServerCertificate")
                                                  : "");
    EXPECT_LT(client.SendRequest(
                  "GET", ("https://127.0.0.1:" + std::to_string(rogue.Port()) + "/").c_str()),
              0);
  });
}

TEST_F(NetClientPeersTest, RedirectsRelativeOnTlsLoopsAndNotModified) {
  Server nginx;
  ASSERT_TRUE(nginx.Ready());
  NetClient client;
  // A relative target keeps the scheme and port of the URL it came from.
  EXPECT_GT(client.SendRequest("GET", nginx.Tls("/rel").c_str()), 0);
  EXPECT_STREQ(nginx.Tls("/page.html").c_str(), client.GetRedirectURL());
  EXPECT_TRUE(Content(client) == Page());

  EXPECT_GE(client.SendRequest("GET", nginx.Plain("/loop").c_str()), 0);
  EXPECT_EQ("302", Status(client));
  EXPECT_EQ(5u, nginx.Logged("GET /loop").size());

  EXPECT_GE(client.SendRequest("GET", nginx.Plain("/notmod").c_str()), 0);
  EXPECT_EQ("304", Status(client));
  EXPECT_EQ(1u, nginx.Logged("GET /notmod").size());
}

TEST_F(NetClientPeersTest, BasicAuthenticationWithHtpasswd) {
  Server nginx;
  ASSERT_TRUE(nginx.Ready());
  struct Case {
    const char* name;
    const char* user;
    const char* password;
    const char* status;
    size_t tries;  // requests nginx saw
  } cases[] = {
      {"right", kBasicUser, kBasicPassword, "200", 2},
      {"wrong-password", kBasicUser, "nope", "401", 4},
      {"no-user", nullptr, nullptr, "401", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = std::string("/basic/page.html?") + c.name;
    const size_t before = nginx.Logged("GET /basic/page.html").size();
    NetClient client(c.user, c.password);
    EXPECT_GE(client.SendRequest("GET", nginx.Plain(path).c_str()), 0);
    EXPECT_EQ(c.status, Status(client));
    if (std::string(c.status) == "200") {
      EXPECT_EQ("members only\n", Content(client));
    }
    EXPECT_EQ(before + c.tries, nginx.Logged("GET /basic/page.html").size());
  }
}

TEST_F(NetClientPeersTest, RedirectToAnotherPortDropsCredentialsAndCookies) {
  Server nginx;
  ASSERT_TRUE(nginx.Ready());
  NetClient client(kBasicUser, kBasicPassword);
  client.SetCookie("pref", "1");
  EXPECT_GT(client.SendRequest("GET", nginx.Plain("/basic/missing").c_str()), 0);
  EXPECT_EQ("200", Status(client));
  EXPECT_TRUE(Content(client) == Page());
  EXPECT_STREQ(nginx.Tls("/page.html").c_str(), client.GetRedirectURL());

  const auto asked = nginx.Logged("GET /basic/missing");
  ASSERT_EQ(2u, asked.size());
  EXPECT_THAT(asked[1], HasSubstr("auth=Basic "));
  const auto landed = nginx.Logged("GET /page.html");
  ASSERT_EQ(1u, landed.size());
  EXPECT_THAT(landed[0], HasSubstr(std::to_string(nginx.TlsPort()) + " GET /page.html"));
  EXPECT_THAT(landed[0], HasSubstr("|auth=-|cookie=-|"));
}

TEST_F(NetClientPeersTest, DigestAuthenticationWithARealmHoldingBlanks) {
  if (!DigestApache::Installed()) GTEST_SKIP() << "apache2 is missing (scripts/setup-deps.sh)";
  DigestApache apache("Corvane Test Realm");
  ASSERT_TRUE(apache.Ready());
  const std::string url =
      "http://127.0.0.1:" + std::to_string(apache.Port()) + "/private/secret.txt";
  NetClient client(DigestApache::kUser, DigestApache::kPassword);
  EXPECT_EQ(11, client.SendRequest("GET", url.c_str()));
  EXPECT_EQ("200", Status(client)) << apache.ErrorLog();
  EXPECT_EQ("the secret\n", Content(client));

  NetClient wrong(DigestApache::kUser, "wrong");
  EXPECT_GE(wrong.SendRequest("GET", url.c_str()), 0);
  EXPECT_EQ("401", Status(wrong));
}

TEST_F(NetClientPeersTest, ForwardProxyForPlainRequestsAndTlsTunnels) {
  if (!TinyProxy::Installed()) GTEST_SKIP() << "tinyproxy is missing (scripts/setup-deps.sh)";
  Server nginx;
  ASSERT_TRUE(nginx.Ready());
  struct Case {
    const char* name;
    const char* proxy_user;  // demanded by the proxy when not null
    const char* given_user;  // given to the client
    bool carried;
  } cases[] = {
      {"open-proxy", nullptr, nullptr, true},
      {"credentials", "puser", "puser", true},
      {"credentials-missing", "puser", nullptr, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TinyProxy proxy({nginx.TlsPort()}, c.proxy_user ? c.proxy_user : "", "ppass");
    ASSERT_TRUE(proxy.Ready());
    for (const std::string way : {"plain", "tunnel", "redirected"}) {
      SCOPED_TRACE(way);
      // The redirected request starts as plain HTTP and is sent on to the TLS server.
      const bool secure = way == "tunnel";
      const std::string query = std::string("?") + c.name + "-" + way;
      const std::string path = "/page.html" + query;
      NetClient client;
      client.SetProxy("127.0.0.1", proxy.Port(), c.given_user, "ppass");
      const std::string url =
          secure ? nginx.Tls(path) : nginx.Plain(way == "plain" ? path : "/totls/" + query);
      const int result = client.SendRequest("GET", url.c_str());
      const auto logged = nginx.Logged(path);
      if (!c.carried) {
        if (secure) {
          EXPECT_LT(result, 0);  // the proxy refused the tunnel
        } else {
          EXPECT_EQ("407", Status(client));
        }
        EXPECT_EQ(0u, logged.size());
        continue;
      }
      EXPECT_GT(result, 0) << proxy.Log();
      EXPECT_TRUE(Content(client) == Page());
      ASSERT_EQ(1u, logged.size());
      // Proxy credentials end at the proxy; inside a tunnel nothing carries them.
      EXPECT_THAT(logged[0], HasSubstr("|proxy=-"));
    }
  }
}

}  // namespace
