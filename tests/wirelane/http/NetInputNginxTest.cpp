// Tests of NetInput reading real responses from nginx: plain, chunked, gzip, until close and over
// TLS.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "wirelane/http/HttpPeerServers.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/sockets/SocketStartup.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;
using testing::HasSubstr;
using tlstest::ReadText;
using tlstest::TestCertificates;

// A page long enough for nginx to compress, with a marker sub_filter rewrites.
std::string Page() {
  std::string page = "<html><body>\n";
  for (int line = 0; line < 2000; ++line)
    page += "line " + std::to_string(line) + " MARK of the page\n";
  return page + "</body></html>\n";
}

// nginx serving Page() as /page.html and /sub/page.html on a plain and a TLS
// port; below /sub/ a sub_filter rewrites the page, which drops its length,
// so nginx sends it in chunks.
class Nginx : public peertest::Nginx {
 public:
  Nginx()
      : peertest::Nginx(
            "    location /sub/ { sub_filter MARK mark; sub_filter_once off; }\n",
            "  gzip on;\n  gzip_min_length 0;\n  gzip_types *;\n  gzip_http_version 1.0;\n") {
    std::filesystem::create_directories(Root() + "/sub");
    std::ofstream(Root() + "/page.html") << Page();
    std::ofstream(Root() + "/sub/page.html") << Page();
  }
};

class NetInputNginxTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { TestCertificates::Get(); }
  void SetUp() override { ASSERT_EQ(0, WSAStartup(0x0202, nullptr)); }
  void TearDown() override { WSACleanup(); }
};

std::string ContentOf(NetInput& input) {
  const char* content = input.GetContent();
  return content == nullptr ? std::string() : std::string(content, input.GetContentLength());
}

// Writes request on socket (connected) and reads the response into input.
int Exchange(HTTPSock& socket, NetInput& input, const std::string& request) {
  socket.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  socket.SetTimeOut(SO_SNDTIMEO, kWaitLimitMs);
  EXPECT_EQ(static_cast<int>(request.size()), socket.Write(request.data(), request.size()));
  return input.Receive();
}

TEST_F(NetInputNginxTest, PlainChunkedGzipAndUntilCloseResponses) {
  Nginx nginx;
  ASSERT_TRUE(nginx.Ready());
  std::string rewritten = Page();
  for (size_t at; (at = rewritten.find("MARK")) != std::string::npos;)
    rewritten.replace(at, 4, "mark");
  struct Case {
    const char* name;
    std::string request;
    std::string content;
    const char* framing;  // the response field that shows how the body came
  } cases[] = {
      {"by length", "GET /page.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", Page(),
       "Content-Length"},
      {"chunked", "GET /sub/page.html HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n", rewritten,
       "Transfer-Encoding"},
      {"chunked gzip",
       "GET /page.html HTTP/1.1\r\nHost: x\r\nAccept-Encoding: gzip\r\nConnection: close\r\n\r\n",
       Page(), "Content-Encoding"},
      {"gzip until close", "GET /page.html HTTP/1.0\r\nAccept-Encoding: gzip\r\n\r\n", Page(),
       "Content-Encoding"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HTTPSock socket(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain);
    ASSERT_EQ(0, socket.Connect("127.0.0.1", nginx.PlainPort()));
    NetInput input(&socket);
    const int result = Exchange(socket, input, c.request);
    EXPECT_GT(result, 0);
    EXPECT_STREQ("200", input.GetHeader("HTTPStatus"));
    EXPECT_NE(nullptr, input.GetHeader(c.framing));
    EXPECT_EQ(c.content.size(), input.GetContentLength());
    EXPECT_TRUE(ContentOf(input) == c.content) << ContentOf(input).substr(0, 200);
    if (std::string(c.framing) == "Content-Encoding") {
      EXPECT_LT(result, static_cast<int>(c.content.size()));  // what travelled was compressed
    }
  }
}

TEST_F(NetInputNginxTest, ResponseOverTlsCarriesThePeerCertificate) {
  Nginx nginx;
  ASSERT_TRUE(nginx.Ready());
  const TestCertificates& certs = TestCertificates::Get();
  SocketPropertyMap properties;
  properties["VerifyMode"] = "1";
  properties["CAList"] = certs.Cert("ca");
  properties["HomeDir"] = certs.Dir();
  HTTPSock socket(CSocket::kNoDescriptor, certs.Cert("client").c_str(), -1, HTTPSock::Auto,
                  &properties);
  socket.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  ASSERT_EQ(1, socket.Connect("127.0.0.1", nginx.TlsPort()));
  NetInput input(&socket);
  const int result = Exchange(socket, input,
                              "GET /page.html HTTP/1.1\r\nHost: localhost\r\nAccept-Encoding: "
                              "gzip\r\nConnection: close\r\n\r\n");
  EXPECT_GT(result, 0);
  EXPECT_STREQ("200", input.GetHeader("HTTPStatus"));
  EXPECT_TRUE(ContentOf(input) == Page());
  const char* certificate = input.GetHeader("PeerCertificate");
  ASSERT_NE(nullptr, certificate);
  EXPECT_EQ(ReadText(certs.Cert("server")), certificate);
  EXPECT_NE(nullptr, input.GetHeader("PeerCertExpires"));
}

}  // namespace
