// Tests of NetInput reading real responses from nginx: plain, chunked, gzip, until close and over
// TLS.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "wirelane/http/NetInput.h"
#include "wirelane/sockets/SocketStartup.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;
using testing::HasSubstr;
using tlstest::FreePort;
using tlstest::PeerProcess;
using tlstest::ReadText;
using tlstest::TestCertificates;

// A page long enough for nginx to compress, with a marker sub_filter rewrites.
std::string Page() {
  std::string page = "<html><body>\n";
  for (int line = 0; line < 2000; ++line)
    page += "line " + std::to_string(line) + " MARK of the page\n";
  return page + "</body></html>\n";
}

// nginx in a private prefix folder, serving Page() as /page.html on a plain
// and a TLS port (certificate of the test CA). Stopped by its pid.
class Nginx {
 public:
  Nginx() : plain_port_(FreePort()), tls_port_(FreePort()) {
    std::string pattern = ::testing::TempDir() + "netinput-nginx-XXXXXX";
    EXPECT_NE(nullptr, ::mkdtemp(pattern.data()));
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/www/sub");
    std::ofstream(dir_ + "/www/page.html") << Page();
    std::ofstream(dir_ + "/www/sub/page.html") << Page();
    std::ofstream(dir_ + "/nginx.conf") << Config();
    process_ = std::make_unique<PeerProcess>(std::vector<std::string>{
        "/usr/sbin/nginx", "-p", dir_, "-e", dir_ + "/error.log", "-c", dir_ + "/nginx.conf", "-g",
        "daemon off; pid " + dir_ + "/nginx.pid;"});
    ready_ = WaitForPort(plain_port_) && WaitForPort(tls_port_);
    EXPECT_TRUE(ready_) << process_->Output() << ReadText(dir_ + "/error.log");
  }
  ~Nginx() {
    process_.reset();
    std::filesystem::remove_all(dir_);
  }
  int PlainPort() const { return plain_port_; }
  int TlsPort() const { return tls_port_; }
  bool Ready() const { return ready_; }

 private:
  std::string Config() const {
    const TestCertificates& certs = TestCertificates::Get();
    const std::string temp = " " + dir_ + "/tmp-";
    // Rewriting the body drops its length, so nginx sends it in chunks.
    const std::string sub_filter =
        "    location /sub/ { sub_filter MARK mark; sub_filter_once off; }\n";
    return "master_process off;\nerror_log " + dir_ + "/error.log;\n" +
           "events { worker_connections 32; }\n"
           "http {\n  access_log " +
           dir_ + "/access.log;\n" + "  client_body_temp_path" + temp + "body;\n  proxy_temp_path" +
           temp + "proxy;\n" + "  fastcgi_temp_path" + temp + "fastcgi;\n  uwsgi_temp_path" + temp +
           "uwsgi;\n" + "  scgi_temp_path" + temp + "scgi;\n" +
           "  gzip on;\n  gzip_min_length 0;\n  gzip_types *;\n  gzip_http_version 1.0;\n" +
           "  root " + dir_ + "/www;\n" +
           "  server {\n    listen 127.0.0.1:" + std::to_string(plain_port_) + ";\n" + sub_filter +
           "  }\n  server {\n    listen 127.0.0.1:" + std::to_string(tls_port_) + " ssl;\n" +
           sub_filter + "    ssl_certificate " + certs.Cert("server") + ";\n" +
           "    ssl_certificate_key " + certs.Key("server") + ";\n  }\n}\n";
  }

  static bool WaitForPort(int port) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
      CSocket probe;
      if (probe.Connect("127.0.0.1", port) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  int plain_port_;
  int tls_port_;
  std::string dir_;
  std::unique_ptr<PeerProcess> process_;
  bool ready_ = false;
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
