// Tests of SSLSocket against openssl s_server/s_client and against itself over loopback TLS.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "SocketTestSupport.h"
#include "TlsTestSupport.h"
#include "sealvault/Debug.h"
#include "wirelane/sockets/SSLSocket.h"
#include "wirelane/sockets/SocketStartup.h"

namespace {

using sockettest::LimitWaits;
using sockettest::LogCapture;
using sockettest::MakeListener;
using sockettest::ReadAll;
using testing::HasSubstr;
using testing::Not;
using tlstest::InFreshProcess;
using tlstest::OpensslServer;
using tlstest::PeerProcess;
using tlstest::ReadText;
using tlstest::TestCertificates;

const TestCertificates& Certs() { return TestCertificates::Get(); }

// Context properties: trust the test CA, keep the home in the test folder.
SocketPropertyMap TlsProperties(const char* verify_mode) {
  SocketPropertyMap properties;
  properties["VerifyMode"] = verify_mode;
  properties["CAList"] = Certs().Cert("ca");
  properties["HomeDir"] = Certs().Dir();
  return properties;
}

// "notAfter=..." of the openssl program, the reference for PeerCertExpires.
std::string EndDate(const std::string& certificate) {
  PeerProcess x509({"openssl", "x509", "-noout", "-enddate", "-in", certificate});
  EXPECT_EQ(0, x509.WaitExit());
  std::string text = x509.Output();
  const auto start = text.find('=');
  const auto end = text.find('\n');
  return start == std::string::npos ? text : text.substr(start + 1, end - start - 1);
}

// Asks s_server's status page and reads it line by line up to its end.
std::string FetchStatusPage(SSLSocket& client) {
  const char request[] = "GET / HTTP/1.0\r\n\r\n";
  EXPECT_EQ(static_cast<int>(sizeof request - 1), client.Write(request, sizeof request - 1));
  std::string page;
  std::string line;
  EXPECT_GT(client.ReadLine(line), 0);
  EXPECT_EQ("HTTP/1.0 200 ok\r\n", line);
  while (client.ReadLine(line) > 0) {
    page += line;
    if (line.find("</HTML>") != std::string::npos) break;
  }
  return page;
}

class SSLSocketTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Certs(); }
  void SetUp() override { ASSERT_EQ(0, WSAStartup(0x0202, nullptr)); }
  void TearDown() override { WSACleanup(); }
};

TEST_F(SSLSocketTest, ClientWithVerificationChecksChainAndHostName) {
  InFreshProcess([] {
    struct Case {
      const char* server;
      const char* host;
      bool succeeds;
      const char* logged;
    };
    const Case cases[] = {
        {"server", "127.0.0.1", true, nullptr},
        {"wronghost", "127.0.0.1", false, "IP address mismatch"},
        {"rogue", "127.0.0.1", false, "unable to get local issuer certificate"},
    };
    const SocketPropertyMap properties = TlsProperties("1");
    for (const Case& c : cases) {
      SCOPED_TRACE(c.server);
      OpensslServer server(Certs().Cert(c.server), Certs().Key(c.server));
      SSLSocket client(CSocket::kNoDescriptor, Certs().Cert("client").c_str(), &properties);
      ASSERT_TRUE(client.IsSecure());
      LimitWaits(client);
      LogCapture log;
      const int result = client.Connect(c.host, server.Port());
      if (!c.succeeds) {
        EXPECT_EQ(-1, result);
        EXPECT_THAT(log.Text(), HasSubstr("TLS handshake with 127.0.0.1"));
        EXPECT_THAT(log.Text(), HasSubstr(c.logged));
        continue;
      }
      ASSERT_EQ(1, result) << log.Text();
      EXPECT_THAT(FetchStatusPage(client), HasSubstr("New, TLSv1.3"));
      const char* pem = client.GetProperty("peercertificate");
      ASSERT_NE(nullptr, pem);
      EXPECT_EQ(ReadText(Certs().Cert(c.server)), pem);
      const char* expires = client.GetProperty("PeerCertExpires");
      ASSERT_NE(nullptr, expires);
      EXPECT_EQ(EndDate(Certs().Cert(c.server)), expires);
    }
  });
}

TEST_F(SSLSocketTest, ClientWithoutVerificationAcceptsAnyServerButLogsTheVerdict) {
  InFreshProcess([] {
    Debug::SetDebugMode(4);  // also traces the handshake
    const SocketPropertyMap properties = TlsProperties("0");
    for (const char* name : {"rogue", "wronghost"}) {
      SCOPED_TRACE(name);
      OpensslServer server(Certs().Cert(name), Certs().Key(name));
      SSLSocket client(CSocket::kNoDescriptor, Certs().Cert("client").c_str(), &properties);
      LimitWaits(client);
      LogCapture log;
      ASSERT_EQ(1, client.Connect("127.0.0.1", server.Port()));
      EXPECT_THAT(FetchStatusPage(client), HasSubstr("New, "));
      const char* pem = client.GetProperty("PeerCertificate");
      ASSERT_NE(nullptr, pem);
      EXPECT_EQ(ReadText(Certs().Cert(name)), pem);
      EXPECT_THAT(log.Text(), HasSubstr("SSL peer verify error:num="));
      EXPECT_THAT(log.Text(), HasSubstr("SSL_connect:SSLv3/TLS write client hello"));
      EXPECT_THAT(log.Text(), HasSubstr("Server X509 Certificate:\n-----BEGIN CERTIFICATE-----"));
    }
  });
}

TEST_F(SSLSocketTest, ReconnectOfTheSameSocketResumesItsSession) {
  InFreshProcess([] {
    const SocketPropertyMap properties = TlsProperties("1");
    OpensslServer server(Certs().Cert("server"), Certs().Key("server"));
    SSLSocket client(CSocket::kNoDescriptor, Certs().Cert("client").c_str(), &properties);
    for (const char* expected : {"New, ", "Reused, ", "Reused, "}) {
      SCOPED_TRACE(expected);
      ASSERT_EQ(1, client.Connect("127.0.0.1", server.Port()));
      LimitWaits(client);
      EXPECT_THAT(FetchStatusPage(client), HasSubstr(expected));
      client.Close();
    }
    // The session belongs to that server: another port gets a full handshake.
    OpensslServer other(Certs().Cert("server"), Certs().Key("server"));
    ASSERT_EQ(1, client.Connect("127.0.0.1", other.Port()));
    LimitWaits(client);
    EXPECT_THAT(FetchStatusPage(client), HasSubstr("New, "));
  });
}

// A CONNECT proxy for one connection: records the request, grants the
// tunnel and relays bytes to target_port until either side ends.
void RelayOneTunnel(CSocket& listener, int target_port, std::string* request) {
  std::unique_ptr<CSocket> client(listener.Accept());
  if (!client) return;
  LimitWaits(*client);
  std::string line;
  while (client->ReadLine(line) > 0 && line != "\r\n") *request += line;
  CSocket target;
  LimitWaits(target);
  if (target.Connect("127.0.0.1", target_port) != 0) return;
  client->Write("HTTP/1.0 200 Connection established\r\n\r\n");
  pollfd ends[2] = {{static_cast<int>(client->GetFd()), POLLIN, 0},
                    {static_cast<int>(target.GetFd()), POLLIN, 0}};
  char piece[16384];
  while (::poll(ends, 2, sockettest::kWaitLimitMs) > 0) {
    for (int i = 0; i < 2; ++i) {
      if (ends[i].revents == 0) continue;
      const ssize_t count = ::recv(ends[i].fd, piece, sizeof piece, 0);
      if (count <= 0 ||
          ::send(ends[1 - i].fd, piece, static_cast<size_t>(count), MSG_NOSIGNAL) != count)
        return;
    }
  }
}

TEST_F(SSLSocketTest, ProxyTunnelVerifiesTheTargetHostName) {
  InFreshProcess([] {
    const SocketPropertyMap properties = TlsProperties("1");
    OpensslServer server(Certs().Cert("server"), Certs().Key("server"));
    struct Case {
      std::string host;
      int result;
    };
    for (const Case& c : {Case{"localhost", 1}, Case{"elsewhere.invalid", -1}}) {
      SCOPED_TRACE(c.host);
      auto proxy = MakeListener();
      std::string request;
      std::thread relay([&] { RelayOneTunnel(*proxy, server.Port(), &request); });
      SSLSocket client(CSocket::kNoDescriptor, Certs().Cert("client").c_str(), &properties);
      LimitWaits(client);
      EXPECT_EQ(c.result, client.ProxyConnect("127.0.0.1", proxy->GetLocalPort(), nullptr, nullptr,
                                              c.host.c_str(), 443));
      if (c.result == 1) {
        EXPECT_THAT(FetchStatusPage(client), HasSubstr("New, "));
      }
      client.Close();
      relay.join();
      EXPECT_THAT(request, HasSubstr("CONNECT " + c.host + ":443 HTTP/1.0\r\n"));
    }
  });
}

TEST_F(SSLSocketTest, DiffieHellmanParametersTooWeakAreReplaced) {
  const std::string strong = Certs().Dir() + "/dh-strong.pem";
  const std::string weak = Certs().Dir() + "/dh-weak.pem";
  PeerProcess make_strong({"openssl", "genpkey", "-genparam", "-algorithm", "DH", "-pkeyopt",
                           "group:ffdhe2048", "-out", strong});
  PeerProcess make_weak({"openssl", "genpkey", "-genparam", "-algorithm", "DH", "-pkeyopt",
                         "dh_paramgen_prime_len:512", "-out", weak});
  ASSERT_EQ(0, make_strong.WaitExit(20000));
  ASSERT_EQ(0, make_weak.WaitExit(20000));
  InFreshProcess([&] {
    EXPECT_EQ(0, SSLSocket::SetDHParam(strong.c_str()));  // no context yet
    ASSERT_EQ(1, SSLSocket::InitializeSSL(nullptr, nullptr, nullptr, Certs().Dir().c_str(), 0, 23,
                                          nullptr, nullptr, nullptr));
    LogCapture log;
    EXPECT_EQ(1, SSLSocket::SetDHParam(strong.c_str()));
    EXPECT_THAT(log.Text(), Not(HasSubstr("Diffie-Hellman parameters refused")));
    EXPECT_EQ(1, SSLSocket::SetDHParam(weak.c_str()));
    EXPECT_THAT(log.Text(), HasSubstr("Diffie-Hellman parameters refused"));
  });
}

struct ServerCase {
  const char* verify_mode;
  const char* client_certificate;  // null: s_client sends none
  bool accepted;
  const char* logged;  // what a refused handshake leaves in the log
};

// Accepts one s_client connection on a secure listener and exchanges a line.
void ServeOpensslClient(const ServerCase& c) {
  const SocketPropertyMap properties = TlsProperties(c.verify_mode);
  SSLSocket listener(CSocket::kNoDescriptor, Certs().Cert("server").c_str(), &properties);
  ASSERT_EQ(0, listener.Listen("127.0.0.1", 0));
  listener.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
  std::vector<std::string> args = {"openssl",
                                   "s_client",
                                   "-connect",
                                   "127.0.0.1:" + std::to_string(listener.GetLocalPort()),
                                   "-CAfile",
                                   Certs().Cert("ca"),
                                   "-verify_return_error",
                                   "-verify_hostname",
                                   "localhost",
                                   "-ign_eof"};
  if (c.client_certificate != nullptr) {
    args.insert(args.end(), {"-cert", Certs().Cert(c.client_certificate), "-key",
                             Certs().Key(c.client_certificate)});
  }
  PeerProcess peer(args, "hello from s_client\n");
  LogCapture log;
  std::unique_ptr<CSocket> accepted(listener.Accept());
  if (!c.accepted) {
    EXPECT_EQ(nullptr, accepted);
    EXPECT_THAT(log.Text(), HasSubstr("SSLSocket::Accept - TLS handshake with 127.0.0.1 failed"));
    EXPECT_THAT(log.Text(), HasSubstr(c.logged));
    return;
  }
  ASSERT_NE(nullptr, accepted) << log.Text() << peer.Output();
  LimitWaits(*accepted);
  EXPECT_STREQ("127.0.0.1", accepted->GetIPAddr());
  std::string line;
  EXPECT_EQ(20, accepted->ReadLine(line));
  EXPECT_EQ("hello from s_client\n", line);
  const char* pem = accepted->GetProperty("PeerCertificate");
  if (c.client_certificate == nullptr) {
    EXPECT_EQ(nullptr, pem);
  } else {
    ASSERT_NE(nullptr, pem);
    EXPECT_EQ(ReadText(Certs().Cert(c.client_certificate)), pem);
    EXPECT_EQ(EndDate(Certs().Cert(c.client_certificate)),
              accepted->GetProperty("PeerCertExpires"));
  }
  EXPECT_EQ(13, accepted->Write("reply from us"));
  accepted->Close();
  EXPECT_EQ(0, peer.WaitExit());
  EXPECT_THAT(peer.Output(), HasSubstr("reply from us"));
  EXPECT_THAT(peer.Output(), HasSubstr("Verification: OK"));
}

TEST_F(SSLSocketTest, ServerHandshakesWithOpensslClient) {
  const ServerCase cases[] = {
      {"0", nullptr, true, nullptr},   // no client certificate asked for
      {"1", "client", true, nullptr},  // asked for and verified
      {"1", nullptr, true, nullptr},   // asked for, not required
      {"3", nullptr, false, "peer did not return a certificate"},
      {"1", "rogue", false,
       "SSLSocket::Accept - X509 verification error : unable to get local issuer certificate."},
  };

  for (const ServerCase& c : cases) {
    SCOPED_TRACE(std::string("VerifyMode ") + c.verify_mode + " client " +
                 (c.client_certificate != nullptr ? c.client_certificate : "none"));
    InFreshProcess([&] { ServeOpensslClient(c); });
  }
}

TEST_F(SSLSocketTest, JunkOrClosingPeersFailTheAcceptQuickly) {
  InFreshProcess([] {
    const SocketPropertyMap properties = TlsProperties("0");
    SSLSocket listener(CSocket::kNoDescriptor, Certs().Cert("server").c_str(), &properties);
    ASSERT_EQ(0, listener.Listen("127.0.0.1", 0));
    listener.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
    for (const char* junk : {"GET / HTTP/1.0\r\n\r\n", "\x16\x03\x01\x00\x05hello", ""}) {
      SCOPED_TRACE(junk);
      CSocket plain;
      LimitWaits(plain);
      ASSERT_EQ(0, plain.Connect("127.0.0.1", listener.GetLocalPort()));
      if (*junk != '\0') {
        EXPECT_GT(plain.Write(junk), 0);
      }
      plain.Close();  // ends the stream; nothing more is coming
      LogCapture log;
      const auto start = std::chrono::steady_clock::now();
      EXPECT_EQ(nullptr, listener.Accept());
      EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
      EXPECT_THAT(log.Text(), HasSubstr("SSLSocket::Accept - TLS handshake with 127.0.0.1 failed"));
    }
    // The listener still serves a proper client afterwards.
    PeerProcess peer({"openssl", "s_client", "-connect",
                      "127.0.0.1:" + std::to_string(listener.GetLocalPort()), "-ign_eof"},
                     "still here\n");
    std::unique_ptr<CSocket> accepted(listener.Accept());
    ASSERT_NE(nullptr, accepted);
    LimitWaits(*accepted);
    std::string line;
    accepted->ReadLine(line);
    EXPECT_EQ("still here\n", line);
  });
}

// Both ends in this process share the context: the client presents the
// server certificate, which the CA vouches for, and checks 127.0.0.1.
TEST_F(SSLSocketTest, LinesBufferingAndResumptionBetweenOwnSockets) {
  InFreshProcess([] {
    Debug::SetDebugMode(1);
    const SocketPropertyMap properties = TlsProperties("3");
    const std::string certificate = Certs().Cert("server");
    SSLSocket listener(CSocket::kNoDescriptor, certificate.c_str(), &properties);
    ASSERT_EQ(0, listener.Listen("127.0.0.1", 0));
    listener.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);

    SSLSocket client(CSocket::kNoDescriptor, certificate.c_str(), &properties);
    std::thread talker([&] {
      ASSERT_EQ(1, client.Connect("127.0.0.1", listener.GetLocalPort()));
      LimitWaits(client);
      std::string line;
      for (const char* expected : {"one\r\n", "two\r\n", "three\r\n"}) {
        EXPECT_EQ(static_cast<int>(strlen(expected)), client.ReadLine(line));
        EXPECT_EQ(expected, line);
        if (std::string(expected) == "one\r\n") {
          EXPECT_EQ(12u, client.BufferedInputLength());  // the rest came in the same record
        }
      }
      client.SetBufferOutput(1);
      EXPECT_EQ(6, client.Write("alpha "));
      EXPECT_EQ(5, client.Write("beta\n"));
      // Reads keep going through TLS while output is held back.
      char buffer[16] = {};
      EXPECT_EQ(5, client.ReadLine(buffer, sizeof buffer));
      EXPECT_STREQ("four\n", buffer);
      EXPECT_EQ(11, client.Flush());
      client.Close();
      ASSERT_EQ(1, client.Connect("127.0.0.1", listener.GetLocalPort()));
      LimitWaits(client);
      EXPECT_EQ(0, client.ReadLine(line));  // the server closes cleanly
    });

    std::unique_ptr<CSocket> first(listener.Accept());
    ASSERT_NE(nullptr, first);
    LimitWaits(*first);
    EXPECT_EQ(ReadText(certificate), first->GetProperty("PeerCertificate"));
    EXPECT_EQ(17, first->Write("one\r\ntwo\r\nthree\r\n"));
    EXPECT_EQ(5, first->Write("four\n"));
    std::string line;
    EXPECT_EQ(11, first->ReadLine(line));
    EXPECT_EQ("alpha beta\n", line);
    first->Close();
    std::unique_ptr<CSocket> second(listener.Accept());
    ASSERT_NE(nullptr, second);
    second->Close();
    talker.join();

    LogCapture log;
    client.PrintStatus(stdout);
    EXPECT_THAT(log.Text(), HasSubstr("   2 client connects (SSL_connect())"));
    EXPECT_THAT(log.Text(), HasSubstr("   2 server connects that finished"));
    // Both ends share the context and each counts the resumption.
    EXPECT_THAT(log.Text(), HasSubstr("   2 session cache hits"));
    EXPECT_THAT(log.Text(), HasSubstr("   0 session cache misses"));
  });
}

TEST_F(SSLSocketTest, ConcurrentFirstSocketsShareOneContext) {
  InFreshProcess([] {
    const SocketPropertyMap properties = TlsProperties("0");
    const std::string certificate = Certs().Cert("server");
    std::vector<const void*> contexts(8, nullptr);
    std::vector<std::thread> makers;
    for (size_t i = 0; i < contexts.size(); ++i) {
      makers.emplace_back([&, i] {
        SSLSocket socket(CSocket::kNoDescriptor, certificate.c_str(), &properties);
        contexts[i] = socket.GetCTX();
      });
    }
    for (std::thread& maker : makers) maker.join();
    EXPECT_NE(nullptr, contexts[0]);
    for (const void* context : contexts) EXPECT_EQ(contexts[0], context);
  });
}

TEST_F(SSLSocketTest, WritingAfterTheConnectionEndedFailsWithoutSigpipe) {
  InFreshProcess([] {
    const SocketPropertyMap properties = TlsProperties("0");
    SSLSocket listener(CSocket::kNoDescriptor, Certs().Cert("server").c_str(), &properties);
    ASSERT_EQ(0, listener.Listen("127.0.0.1", 0));
    listener.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
    SSLSocket client(CSocket::kNoDescriptor, Certs().Cert("server").c_str(), &properties);
    std::thread connector(
        [&] { EXPECT_EQ(1, client.Connect("127.0.0.1", listener.GetLocalPort())); });
    std::unique_ptr<CSocket> accepted(listener.Accept());
    connector.join();
    ASSERT_NE(nullptr, accepted);
    // A send on a socket whose sending side is shut raises SIGPIPE unless
    // told not to; the write must fail instead.
    ASSERT_EQ(0, ::shutdown(static_cast<int>(client.GetFd()), SHUT_WR));
    EXPECT_EQ(-1, client.Write("after the end", 13u));
  });
}

TEST_F(SSLSocketTest, SharedContextFailuresAreReportedAndTheContextKept) {
  struct Case {
    std::string certificate;
    std::string key;  // empty: the certificate file
    const char* password;
    int result;
    const char* logged;
  };
  const Case cases[] = {
      {Certs().Cert("combined"), "", nullptr, 1, nullptr},
      {Certs().Cert("locked"), Certs().Key("locked"), "open-sesame", 1, nullptr},
      {Certs().Cert("locked"), Certs().Key("locked"), "wrong", 0,
       "SSLSocket:: InitializeSSL - unable to set private key file: "},
      {Certs().Dir() + "/missing.pem", "", nullptr, 0,
       "SSLSocket:: InitializeSSL - unable to set certificate file: "},
      {Certs().Cert("server"), Certs().Key("client"), nullptr, 0,
       "SSLSocket:: InitializeSSL - Private key does not match the certificate public key"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.certificate + " " + c.key);
    InFreshProcess([&] {
      LogCapture log;
      const char* key = c.key.empty() ? nullptr : c.key.c_str();
      EXPECT_EQ(c.result,
                SSLSocket::InitializeSSL(c.certificate.c_str(), key, c.password,
                                         Certs().Dir().c_str(), 0, 23, "SSLv3", nullptr, nullptr));
      if (c.logged != nullptr) {
        EXPECT_THAT(log.Text(), HasSubstr(c.logged));
      }
      // Made once: a later call does not rebuild it, even after a failure.
      EXPECT_EQ(1, SSLSocket::InitializeSSL(Certs().Cert("server").c_str(), nullptr, nullptr,
                                            nullptr, 0, 23, nullptr, nullptr, nullptr));
      SSLSocket socket(CSocket::kNoDescriptor, c.certificate.c_str());
      EXPECT_TRUE(socket.IsSecure());
      EXPECT_NE(nullptr, socket.GetSSL());
    });
  }
}

TEST_F(SSLSocketTest, SocketWithoutContextRefusesToFallBackToPlainText) {
  InFreshProcess([] {
    // A certificate whose context cannot be made at all: no connection object.
    const SocketPropertyMap properties = TlsProperties("0");
    SSLSocket::UninitializeSSL();
    auto listener = MakeListener();
    SSLSocket first(CSocket::kNoDescriptor, (Certs().Dir() + "/missing.pem").c_str(), &properties);
    EXPECT_EQ(nullptr, first.GetSSL());
    LogCapture log;
    EXPECT_EQ(-1, first.Connect("127.0.0.1", listener->GetLocalPort()));
    EXPECT_THAT(log.Text(), HasSubstr("not sending in the clear"));
    std::unique_ptr<CSocket> accepted(listener->Accept());
    ASSERT_NE(nullptr, accepted);
    LimitWaits(*accepted);
    EXPECT_EQ(-1, first.Write("secret", 6u));
    first.Close();
    EXPECT_EQ("", ReadAll(*accepted));
  });
}

TEST_F(SSLSocketTest, KeyFileFollowsThePrivatePemConvention) {
  InFreshProcess([] {
    const std::string dir = Certs().Dir();
    struct Case {
      std::string certificate;
      std::string key;
    };
    const Case cases[] = {
        {dir + "/server.pem", dir + "/serverPrivate.pem"},
        {dir + "/server.PEM", dir + "/serverPrivate.pem"},
        {dir + "/combined.pem", dir + "/combined.pem"},  // no combinedPrivate.pem
        {dir + "/noextension", dir + "/noextension"},
    };
    const SocketPropertyMap properties = TlsProperties("0");
    for (const Case& c : cases) {
      SSLSocket socket(CSocket::kNoDescriptor, c.certificate.c_str(), &properties);
      ASSERT_NE(nullptr, socket.GetPrivateKeyFile());
      EXPECT_EQ(c.key, socket.GetPrivateKeyFile());
      EXPECT_EQ(c.certificate, socket.GetCertificateFile());
    }
  });
}

TEST_F(SSLSocketTest, SocketWithoutCertificateIsPlainTcp) {
  auto listener = MakeListener();
  SSLSocket client;
  LimitWaits(client);
  EXPECT_FALSE(client.IsSecure());
  EXPECT_EQ(nullptr, client.GetPrivateKeyFile());
  EXPECT_EQ(nullptr, client.GetCertificateFile());
  client.SetProperty("PeerCertificate", "stored text");
  EXPECT_STREQ("stored text", client.GetProperty("peercertificate"));
  EXPECT_EQ(0, client.Connect("127.0.0.1", listener->GetLocalPort()));
  std::unique_ptr<CSocket> server(listener->Accept());
  ASSERT_NE(nullptr, server);
  LimitWaits(*server);
  EXPECT_EQ(10, client.Write("plain text"));
  client.Close();
  EXPECT_EQ("plain text", ReadAll(*server));
}

TEST_F(SSLSocketTest, SendCertificateWritesHeaderAndFileBytes) {
  const std::string file = Certs().Dir() + "/payload.der";
  const std::string payload("\x30\x82\x00\x00\x00binary\nbytes", 17);
  std::ofstream(file, std::ios::binary) << payload;
  struct Case {
    std::string path;
    bool ca;
    long result;
    std::string wire;
  };
  const Case cases[] = {
      {file, true, 17,
       "HTTP/1.1 200 OK\nServer: Corvane Server/3.01\nContent-Type: "
       "application/x-x509-ca-cert\n\n" +
           payload},
      {file, false, 17,
       "HTTP/1.1 200 OK\nServer: Corvane Server/3.01\nContent-Type: "
       "application/x-x509-user-cert\n\n" +
           payload},
      {Certs().Dir() + "/absent.der", true, 0, ""},
  };
  auto listener = MakeListener();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    SSLSocket client;
    LimitWaits(client);
    ASSERT_EQ(0, client.Connect("127.0.0.1", listener->GetLocalPort()));
    std::unique_ptr<CSocket> server(listener->Accept());
    ASSERT_NE(nullptr, server);
    LimitWaits(*server);
    EXPECT_EQ(c.result, client.SendCertificate(c.path.c_str(), c.ca));
    client.Close();
    EXPECT_EQ(c.wire, ReadAll(*server));
  }
}

// A CA for "openssl ca" under <home>/ca, as ProcessSPKAC expects it.
void MakeSigningHome(const std::string& home) {
  std::filesystem::create_directories(home + "/ca/newcerts");
  std::filesystem::create_directories(home + "/certs");
  std::ofstream(home + "/ca/index.txt");
  std::ofstream(home + "/ca/serial") << "1000\n";
  std::ofstream(home + "/ca/portico.conf")
      << "[ca]\ndefault_ca = test_ca\n[test_ca]\ndir = " << home
      << "/ca\ndatabase = $dir/index.txt\nnew_certs_dir = $dir/newcerts\n"
      << "certificate = " << Certs().Cert("ca") << "\nprivate_key = " << Certs().Dir()
      << "/ca.key\nserial = $dir/serial\ndefault_md = sha256\ndefault_days = 30\n"
      << "policy = anything\nunique_subject = no\n[anything]\ncommonName = supplied\n";
}

TEST_F(SSLSocketTest, ProcessSpkacSignsTheRequestAndSendsTheCertificate) {
  InFreshProcess([] {
    const std::string home = Certs().Dir() + "/signing-home";
    MakeSigningHome(home);
    PeerProcess spkac({"openssl", "spkac", "-key", Certs().Key("client"), "-challenge", "hi",
                       "-digest", "sha256"});
    ASSERT_EQ(0, spkac.WaitExit());
    ASSERT_EQ(0, ::chdir(Certs().Dir().c_str()));
    std::ofstream("request.spkac") << "CN=Spkac User\n" << spkac.Output();

    SocketPropertyMap properties = TlsProperties("0");
    properties["HomeDir"] = home;
    SSLSocket secure(CSocket::kNoDescriptor, Certs().Cert("server").c_str(), &properties);
    ASSERT_TRUE(secure.IsSecure());  // made the context, which keeps the home directory

    auto listener = MakeListener();
    SSLSocket client;  // plain: the bytes are checked as sent
    LimitWaits(client);
    ASSERT_EQ(0, client.Connect("127.0.0.1", listener->GetLocalPort()));
    std::unique_ptr<CSocket> server(listener->Accept());
    ASSERT_NE(nullptr, server);
    LimitWaits(*server);

    LogCapture log;
    for (const char* hostile : {"-out", "../request.spkac", "none;touch pwned", ""}) {
      EXPECT_FALSE(client.ProcessSPKAC(hostile)) << hostile;
    }
    EXPECT_FALSE(std::filesystem::exists("pwned"));
    EXPECT_THAT(log.Text(), HasSubstr("SSLSocket::ProcessSPKAC - refused request file name"));
    EXPECT_THAT(log.Text(), HasSubstr("signing none;touch pwned with " + home));

    ASSERT_TRUE(client.ProcessSPKAC("request.spkac")) << log.Text();
    client.Close();
    const std::string issued = ReadText(home + "/certs/request.spkac.tmp");
    ASSERT_FALSE(issued.empty());
    EXPECT_EQ(
        "HTTP/1.1 200 OK\nServer: Corvane Server/3.01\nContent-Type: "
        "application/x-x509-user-cert\n\n" +
            issued,
        ReadAll(*server));
    PeerProcess x509({"openssl", "x509", "-inform", "DER", "-noout", "-subject", "-issuer", "-in",
                      home + "/certs/request.spkac.tmp"});
    EXPECT_EQ(0, x509.WaitExit());
    EXPECT_THAT(x509.Output(), HasSubstr("CN = Spkac User"));
    EXPECT_THAT(x509.Output(), HasSubstr("CN = Corvane Test CA"));

    // Without a home directory given, $CORVANE names it.
    const std::string elsewhere = Certs().Dir() + "/no-such-home";
    ASSERT_EQ(0, ::setenv("CORVANE", elsewhere.c_str(), 1));
    EXPECT_EQ(1, SSLSocket::InitializeSSL(nullptr, nullptr, nullptr, nullptr, 0, 23, nullptr,
                                          nullptr, nullptr));
    EXPECT_FALSE(client.ProcessSPKAC("request.spkac"));
    EXPECT_THAT(log.Text(), HasSubstr("with " + elsewhere + "/ca/portico.conf failed"));
  });
}

}  // namespace
