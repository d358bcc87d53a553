// Tests of SSPSocket: TLS between SSPSockets on loopback, verification, tunnels and an openssl
// peer.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sealvault/SChannel.h"
#include "wirelane/sockets/SSPSocket.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/sockets/TlsTestCertificates.h"

extern char** environ;

namespace {

using sockettest::kWaitLimitMs;
using sockettest::LimitWaits;
using sockettest::LogCapture;

const tlstest::Certificates& Certs() {
  const tlstest::Certificates& certificates = tlstest::ChannelCertificates();
  EXPECT_TRUE(certificates.ready) << "the openssl command line could not make certificates";
  return certificates;
}

// A secure listener on 127.0.0.1 and a free port; handshakes and transfers
// of the connections it accepts give up after the wait limit.
std::unique_ptr<SSPSocket> MakeTlsListener(const std::string& certificate,
                                           const SocketPropertyMap* properties = nullptr) {
  auto listener =
      std::make_unique<SSPSocket>(CSocket::kNoDescriptor, certificate.c_str(), nullptr, properties);
  EXPECT_EQ(0, listener->Listen("127.0.0.1", 0));
  listener->GetChannel()->SetTimeout(kWaitLimitMs);
  return listener;
}

int PortOf(SSPSocket& listener) { return listener.GetChannel()->GetLocalPort(); }

// A client whose TCP connection (made by Connect on its own descriptor, then
// handed to the channel) gives up after the wait limit.
std::unique_ptr<SSPSocket> MakeTlsClient() {
  auto client = std::make_unique<SSPSocket>();
  LimitWaits(*client);
  return client;
}

std::string Pattern(std::size_t size) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>('a' + (i * 7) % 26);
  return text;
}

TEST(SSPSocketTest, ExchangesDataAndPublishesThePeerCertificate) {
  const SocketPropertyMap properties{{"ChunkSize", "1000"}};
  auto listener = MakeTlsListener(Certs().server, &properties);
  const int port = PortOf(*listener);
  const std::string reply = Pattern(100000);

  auto client_side = std::async(std::launch::async, [&] {
    auto client = MakeTlsClient();
    ASSERT_EQ(0, client->Connect("127.0.0.1", port));
    EXPECT_EQ(SSPSocket::kChannelDescriptor, client->GetFd());
    EXPECT_TRUE(client->IsOpen());
    EXPECT_EQ(port, client->GetPort());
    const char* certificate = client->GetProperty("peercertificate");
    ASSERT_NE(nullptr, certificate);
    EXPECT_EQ(tlstest::ReadText(Certs().server), certificate);
    const char* expires = client->GetProperty("PeerCertExpires");
    ASSERT_NE(nullptr, expires);
    EXPECT_EQ(tlstest::ExpiryOf(Certs().server), expires);

    EXPECT_EQ(25, client->Write("first line\r\nsecond line\r\n"));
    std::string received(reply.size(), '\0');
    EXPECT_EQ(static_cast<int>(reply.size()),
              client->Read(received.data(), static_cast<unsigned int>(received.size())));
    EXPECT_EQ(reply, received);
    client->Close();
    EXPECT_FALSE(client->IsOpen());
  });

  std::unique_ptr<CSocket> accepted(listener->Accept());
  ASSERT_NE(nullptr, accepted);
  auto* secure = dynamic_cast<SSPSocket*>(accepted.get());
  ASSERT_NE(nullptr, secure);
  EXPECT_STREQ("127.0.0.1", accepted->GetIPAddr());
  EXPECT_STREQ("1000", accepted->GetProperty("ChunkSize"));
  EXPECT_STREQ(Certs().server.c_str(), accepted->GetCert());
  EXPECT_EQ(listener->GetPort(), secure->GetPort());
  EXPECT_EQ(SSPSocket::kChannelDescriptor, accepted->GetFd());
  EXPECT_EQ(nullptr, accepted->GetProperty("PeerCertificate"));  // the client sent none

  std::string line;
  EXPECT_EQ(12, accepted->ReadLine(line));
  EXPECT_EQ("first line\r\n", line);
  char buffer[64];
  EXPECT_EQ(13, accepted->ReadLine(buffer, sizeof buffer));
  EXPECT_STREQ("second line\r\n", buffer);
  EXPECT_EQ(static_cast<int>(reply.size()),
            accepted->Write(reply.data(), static_cast<unsigned int>(reply.size())));
  client_side.get();
  EXPECT_EQ(0, accepted->Read(buffer, sizeof buffer));  // the client has closed
}

struct VerificationCase {
  const char* name;
  std::string tlstest::Certificates::*certificate;
  const char* host;
  bool accepted;
};

TEST(SSPSocketTest, ClientVerifiesTheServersChainAndName) {
  const VerificationCase cases[] = {
      {"trusted, named localhost", &tlstest::Certificates::server, "localhost", true},
      {"trusted, other name", &tlstest::Certificates::wrong_name, "127.0.0.1", false},
      {"trusted, other name by host name", &tlstest::Certificates::wrong_name, "localhost", false},
      {"unknown issuer", &tlstest::Certificates::untrusted, "127.0.0.1", false},
  };
  for (const VerificationCase& test : cases) {
    SCOPED_TRACE(test.name);
    LogCapture log;
    auto listener = MakeTlsListener(Certs().*test.certificate);
    const int port = PortOf(*listener);
    auto client_side = std::async(std::launch::async, [&] {
      auto client = MakeTlsClient();
      const int result = client->Connect(test.host, port);
      EXPECT_EQ(test.accepted ? 0 : -1, result);
      EXPECT_EQ(test.accepted, client->GetProperty("PeerCertificate") != nullptr);
      EXPECT_EQ(test.accepted, client->GetProperty("PeerCertExpires") != nullptr);
      if (!test.accepted) {
        EXPECT_LT(client->Write("must not be sent"), 1);
      }
    });
    std::unique_ptr<CSocket> accepted(listener->Accept());
    client_side.get();
    EXPECT_EQ(test.accepted, accepted != nullptr);
    if (!test.accepted) {
      EXPECT_NE(std::string::npos, log.Text().find("not accepted"));
    }
  }
}

TEST(SSPSocketTest, ConnectFailsWithoutAServer) {
  sockettest::RefusingPort refusing;
  const std::string port = std::to_string(refusing.port);
  const struct {
    const char* name;
    const char* host;
    const char* port;
  } cases[] = {
      {"null host", nullptr, port.c_str()},
      {"empty host", "", port.c_str()},
      {"null port", "127.0.0.1", nullptr},
      {"nobody listening", "127.0.0.1", port.c_str()},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    LogCapture log;
    auto client = MakeTlsClient();
    EXPECT_EQ(-1, client->Connect(test.host, test.port));
    EXPECT_EQ(nullptr, client->GetProperty("PeerCertificate"));
    EXPECT_NE(SSPSocket::kChannelDescriptor, client->GetFd());
    EXPECT_LT(client->Write("x"), 1);
  }
}

TEST(SSPSocketTest, ClosedSocketConnectsAfresh) {
  auto listener = MakeTlsListener(Certs().server);
  const int port = PortOf(*listener);
  auto server_side = std::async(std::launch::async, [&] {
    for (const char* expected : {"one\n", "two\n"}) {
      std::unique_ptr<CSocket> accepted(listener->Accept());
      ASSERT_NE(nullptr, accepted);
      std::string line;
      accepted->ReadLine(line);
      EXPECT_EQ(expected, line);
    }
  });
  auto client = MakeTlsClient();
  ASSERT_EQ(0, client->Connect("127.0.0.1", port));
  EXPECT_EQ(4, client->Write("one\n"));
  client->Close();
  EXPECT_FALSE(client->IsOpen());
  EXPECT_EQ(0, client->Write("lost"));
  ASSERT_EQ(0, client->Connect("127.0.0.1", port));
  EXPECT_TRUE(client->IsOpen());
  EXPECT_EQ(4, client->Write("two\n"));
  server_side.get();
}

TEST(SSPSocketTest, ListenNeedsAUsableCertificate) {
  const std::string key_only = Certs().folder + "/ca.key";
  const char* names[] = {nullptr, "", "no-such-certificate", key_only.c_str()};
  for (const char* name : names) {
    SCOPED_TRACE(name != nullptr ? name : "(null)");
    LogCapture log;
    SSPSocket listener(CSocket::kNoDescriptor, name, nullptr, nullptr);
    EXPECT_EQ(-1, listener.Listen("127.0.0.1", 0));
    EXPECT_EQ(nullptr, listener.Accept());
    EXPECT_FALSE(log.Text().empty());
  }
}

TEST(SSPSocketTest, BufferedOutputIsSentOnlyByFlush) {
  auto listener = MakeTlsListener(Certs().server);
  const int port = PortOf(*listener);
  auto client_side = std::async(std::launch::async, [&] {
    auto client = MakeTlsClient();
    ASSERT_EQ(0, client->Connect("127.0.0.1", port));
    client->SetBufferOutput(1);
    EXPECT_EQ(9, client->Write("discarded"));
    client->ClearBuffer();
    EXPECT_EQ(5, client->Write("kept\n"));
    EXPECT_EQ(5, client->Flush());
    client->SetBufferOutput(0);
    EXPECT_EQ(5, client->Write("more\n"));
  });
  std::unique_ptr<CSocket> accepted(listener->Accept());
  ASSERT_NE(nullptr, accepted);
  std::string line;
  accepted->ReadLine(line);
  EXPECT_EQ("kept\n", line);
  accepted->ReadLine(line);
  EXPECT_EQ("more\n", line);
  client_side.get();
}

// Copies bytes both ways between two connected descriptors until one side
// closes or nothing moves for the wait limit.
void Relay(int first, int second) {
  pollfd sides[2] = {{first, POLLIN, 0}, {second, POLLIN, 0}};
  char piece[16384];
  while (::poll(sides, 2, kWaitLimitMs) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (sides[i].revents == 0) continue;
      const ssize_t count = ::recv(sides[i].fd, piece, sizeof piece, 0);
      if (count <= 0 ||
          ::send(sides[1 - i].fd, piece, static_cast<size_t>(count), MSG_NOSIGNAL) != count)
        return;
    }
  }
}

// A proxy that takes one CONNECT request and either refuses it with 407 or
// opens the tunnel to 127.0.0.1:target and relays it.
void ServeProxy(CSocket& proxy, int target, bool grant, std::string* request) {
  std::unique_ptr<CSocket> client(proxy.Accept());
  ASSERT_NE(nullptr, client);
  LimitWaits(*client);
  std::string line;
  while (client->ReadLine(line) > 0 && line != "\r\n") request->append(line);
  if (!grant) {
    client->Write("HTTP/1.1 407 Proxy Authentication Required\r\n\r\n");
    return;
  }
  CSocket upstream;
  LimitWaits(upstream);
  ASSERT_EQ(0, upstream.Connect("127.0.0.1", target));
  client->Write("HTTP/1.0 200 Connection established\r\n\r\n");
  Relay(static_cast<int>(client->GetFd()), static_cast<int>(upstream.GetFd()));
}

TEST(SSPSocketTest, ProxyConnectRunsTheHandshakeInsideTheTunnel) {
  auto listener = MakeTlsListener(Certs().server);
  const int tls_port = PortOf(*listener);
  auto proxy = sockettest::MakeListener();
  std::string request;
  auto proxy_side =
      std::async(std::launch::async, [&] { ServeProxy(*proxy, tls_port, true, &request); });
  auto server_side = std::async(std::launch::async, [&] {
    std::unique_ptr<CSocket> accepted(listener->Accept());
    ASSERT_NE(nullptr, accepted);
    std::string line;
    accepted->ReadLine(line);
    accepted->Write(("echo: " + line).c_str());
  });

  auto client = MakeTlsClient();
  ASSERT_EQ(0, client->ProxyConnect("127.0.0.1", proxy->GetLocalPort(), nullptr, nullptr,
                                    "localhost", tls_port));
  EXPECT_EQ(SSPSocket::kChannelDescriptor, client->GetFd());
  EXPECT_EQ(0, client->GetPort());  // a tunnel does not change the port
  EXPECT_NE(nullptr, client->GetProperty("PeerCertExpires"));
  EXPECT_EQ(6, client->Write("hello\n"));
  std::string line;
  EXPECT_EQ(12, client->ReadLine(line));
  EXPECT_EQ("echo: hello\n", line);
  server_side.get();
  client->Close();
  proxy_side.get();
  EXPECT_EQ(0u, request.find("CONNECT localhost:" + std::to_string(tls_port) + " HTTP/1.0\r\n"));
}

TEST(SSPSocketTest, RefusedTunnelLeavesTheDescriptorWithTheSocket) {
  auto proxy = sockettest::MakeListener();
  std::string request;
  auto proxy_side = std::async(std::launch::async, [&] { ServeProxy(*proxy, 0, false, &request); });
  LogCapture log;
  auto client = MakeTlsClient();
  const unsigned int descriptor = client->GetFd();
  EXPECT_EQ(-1, client->ProxyConnect("127.0.0.1", proxy->GetLocalPort(), nullptr, nullptr,
                                     "localhost", 443));
  EXPECT_EQ(descriptor, client->GetFd());
  EXPECT_NE(SSPSocket::kChannelDescriptor, client->GetFd());
  proxy_side.get();
}

// Runs argv with stdin from input and stdout and stderr into output; returns
// the process id (or -1).
pid_t Spawn(const std::vector<std::string>& arguments, const std::string& input,
            const std::string& output) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  std::vector<char*> argv;
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}

// Waits for pid to end within the wait limit, then stops it. True when it
// ended by itself with status 0.
bool WaitForExit(pid_t pid) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWaitLimitMs);
  int status = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    if (::waitpid(pid, &status, WNOHANG) == pid)
      return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  ::kill(pid, SIGKILL);
  ::waitpid(pid, &status, 0);
  return false;
}

TEST(SSPSocketTest, ServesAnOpensslClientWithACertificateName) {
  const tlstest::Certificates& certificates = Certs();
  // "server" names server.pem (with server.key beside it) in the folder.
  ASSERT_EQ(0, ::setenv("CORVANE_CERTS", certificates.folder.c_str(), 1));
  auto listener = MakeTlsListener("server");
  const int port = PortOf(*listener);
  ASSERT_GT(port, 0);
  const std::string input = certificates.folder + "/s_client-in.txt";
  const std::string output = certificates.folder + "/s_client-out.txt";
  std::ofstream(input) << "ping from openssl\n";

  const pid_t pid =
      Spawn({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-CAfile",
             certificates.trusted_ca, "-verify_return_error", "-verify_ip", "127.0.0.1", "-quiet"},
            input, output);
  ASSERT_GT(pid, 0);
  std::unique_ptr<CSocket> accepted(listener->Accept());
  if (accepted == nullptr) WaitForExit(pid);
  ASSERT_NE(nullptr, accepted);
  std::string line;
  accepted->ReadLine(line);
  EXPECT_EQ("ping from openssl\n", line);
  EXPECT_EQ(5, accepted->Write("pong\n"));
  accepted->Close();  // s_client ends when the server closes
  EXPECT_TRUE(WaitForExit(pid));
  EXPECT_NE(std::string::npos, tlstest::ReadText(output).find("pong\n"));
}

}  // namespace
