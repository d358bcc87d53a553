// Tests of CSocket::ProxyConnect against a small CONNECT proxy running in the test.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "SocketTestSupport.h"
#include "wirelane/sockets/CSocket.h"

namespace {

using sockettest::InstrumentedSocket;
using sockettest::LogCapture;
using sockettest::MakeListener;

const char kTarget[] = "target.example";
const char kRequestStart[] = "CONNECT target.example:443 HTTP/1.0\r\nHost: target.example";
const char kRequestEnd[] = "\r\nProxy-Connection: Keep-Alive\r\nPragma: no-cache\r\n\r\n";

// Accepts one connection, records the request up to its empty line, then
// sends the reply pieces (with a pause between them) and closes.
class FakeProxy {
 public:
  explicit FakeProxy(std::vector<std::string> reply) : listener_(MakeListener()) {
    thread_ = std::thread([this, reply = std::move(reply)] { Serve(reply); });
  }
  ~FakeProxy() { Join(); }

  int Port() const { return listener_->GetLocalPort(); }
  // The request as received; call after the client is done.
  const std::string& Request() {
    Join();
    return request_;
  }

 private:
  void Serve(const std::vector<std::string>& reply) {
    std::unique_ptr<CSocket> peer(listener_->Accept());
    if (!peer) return;
    sockettest::LimitWaits(*peer);
    std::string line;
    while (peer->ReadLine(line) > 0) {
      request_ += line;
      if (line == "\r\n") break;
    }
    for (size_t i = 0; i < reply.size(); ++i) {
      if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(30));
      peer->Write(reply[i].data(), static_cast<unsigned int>(reply[i].size()));
    }
    peer->Close();
  }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  std::unique_ptr<CSocket> listener_;
  std::string request_;
  std::thread thread_;
};

struct CredentialCase {
  const char* user;
  const char* password;
  std::string authorization;  // expected field, empty when none may be sent
};

TEST(CSocketProxyTest, RequestBytesAreExactWithAndWithoutCredentials) {
  const CredentialCase cases[] = {
      {nullptr, nullptr, ""},
      {"", "secret", ""},
      {"alice", nullptr, ""},
      {nullptr, "secret", ""},
      // Base64 of "alice:secret".
      {"alice", "secret", "\r\nProxy-Authorization: Basic YWxpY2U6c2VjcmV0"},
      // Base64 of "bob:" (an empty password still counts).
      {"bob", "", "\r\nProxy-Authorization: Basic Ym9iOg=="},
  };
  for (const CredentialCase& c : cases) {
    SCOPED_TRACE(c.authorization);
    FakeProxy proxy({"HTTP/1.0 200 Connection established\r\n\r\n"});
    CSocket client;
    sockettest::LimitWaits(client);
    EXPECT_EQ(0, client.ProxyConnect("127.0.0.1", proxy.Port(), c.user, c.password, kTarget, 443));
    EXPECT_EQ(std::string(kRequestStart) + c.authorization + kRequestEnd, proxy.Request());
  }
}

struct ReplyCase {
  const char* name;
  std::vector<std::string> reply;  // pieces written with pauses; the last carries tunnel bytes
  int result;
  std::string after;  // bytes the client must read next
};

TEST(CSocketProxyTest, ReplyHeadersAreConsumedAndNothingAfterThem) {
  const ReplyCase cases[] = {
      {"granted",
       {"HTTP/1.0 200 Connection established\r\n\r\nTUNNEL-LINE\r\nrest"},
       0,
       "TUNNEL-LINE\r\nrest"},
      {"granted with fields in pieces",
       {"HTTP/1.1 200 OK\r", "\nVia: 1.1 proxy\r\nX-Long: " + std::string(6000, 'v') + "\r\n", "\r",
        "\nTUNNEL"},
       0,
       "TUNNEL"},
      {"bare LF lines", {"HTTP/1.0 200 OK\nVia: x\n\nAB\r\n"}, 0, "AB\r\n"},
      {"refused with headers",
       {"HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"p\"\r\n"
        "Content-Length: 5\r\n\r\nAFTER"},
       -1,
       "AFTER"},
      {"200 outside the first line",
       {"HTTP/1.0 403 Forbidden\r\nX-Code: 200\r\n\r\nbody"},
       -1,
       "body"},
      {"cut off before the empty line", {"HTTP/1.0 200 Connection established\r\n"}, -1, ""},
      {"oversized reply", {"HTTP/1.0 200 OK\r\n" + std::string(70000, 'x')}, -1, ""},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    FakeProxy proxy(c.reply);
    InstrumentedSocket client;
    sockettest::LimitWaits(client);
    LogCapture log;
    EXPECT_EQ(c.result,
              client.ProxyConnect("127.0.0.1", proxy.Port(), nullptr, nullptr, kTarget, 443));
    // The tunnel is set up with the plain calls, never the subclass's.
    EXPECT_TRUE(client.write_sizes.empty());
    EXPECT_EQ(0, client.read_calls);
    if (c.result != 0) {
      EXPECT_NE("", log.Text());
    }
    if (!c.after.empty()) {
      std::string line;
      const size_t line_end = c.after.find('\n');
      size_t offset = 0;
      if (line_end != std::string::npos) {
        ASSERT_EQ(static_cast<int>(line_end + 1), client.ReadLine(line));
        EXPECT_EQ(c.after.substr(0, line_end + 1), line);
        offset = line_end + 1;
      }
      const std::string rest = c.after.substr(offset);
      std::string received(rest.size() + 4, '\0');
      EXPECT_EQ(static_cast<int>(rest.size()),
                client.Read(received.data(), static_cast<unsigned int>(received.size())));
      EXPECT_EQ(rest, received.substr(0, rest.size()));
    }
    client.Close();
  }
}

TEST(CSocketProxyTest, UnreachableProxyIsReported) {
  sockettest::RefusingPort refusing;
  CSocket client;
  LogCapture log;
  EXPECT_EQ(-1, client.ProxyConnect("127.0.0.1", refusing.port, "u", "p", kTarget, 443));
  EXPECT_NE(std::string::npos, log.Text().find("Error connect to proxy server : 127.0.0.1:" +
                                               std::to_string(refusing.port)))
      << log.Text();
}

TEST(CSocketProxyTest, TargetHostThatCouldInjectFieldsIsRefused) {
  sockettest::RefusingPort refusing;
  for (const char* host :
       {"evil.example\r\nX-Injected: 1", "two words", "", static_cast<const char*>(nullptr)}) {
    CSocket client;
    LogCapture log;
    EXPECT_EQ(-1, client.ProxyConnect("127.0.0.1", refusing.port, nullptr, nullptr, host, 443));
    const std::string text = log.Text();
    EXPECT_NE(std::string::npos, text.find("Invalid tunnel host")) << text;
    EXPECT_EQ(std::string::npos, text.find("Error connect")) << "no connection may be tried";
  }
}

}  // namespace
