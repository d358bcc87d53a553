// Tests of SChannel: real loopback TLS connections with a test CA made by the openssl tool.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sealvault/Debug.h"
#include "sealvault/SChannel.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

fs::path g_dir;  // the test CA, certificates and logs of this process

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool Shell(const std::string& command) { return std::system(command.c_str()) == 0; }
bool Quiet(const std::string& command) { return Shell(command + " >/dev/null 2>&1"); }

// A CA key and self-signed certificate in <name>.key/.pem.
bool MakeCa(const std::string& name) {
  return Quiet(
      "cd " + g_dir.string() +
      " && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes"
      " -keyout " +
      name + ".key -out " + name + ".pem -days 2 -subj '/CN=" + name +
      "'"
      " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign");
}

// A localhost server certificate signed by ca, in <name>.pem with its key in <name>.key.
bool MakeServer(const std::string& name, const std::string& ca) {
  const std::string dir = g_dir.string();
  std::ofstream(g_dir / "server.ext") << "basicConstraints=CA:FALSE\n"
                                         "subjectAltName=DNS:localhost,IP:127.0.0.1\n";
  return Quiet("cd " + dir +
               " && openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout " +
               name + ".key -out " + name + ".csr -subj '/O=Corvane Test/CN=localhost'") &&
         Quiet("cd " + dir + " && openssl x509 -req -in " + name + ".csr -CA " + ca +
               ".pem -CAkey " + ca + ".key -CAcreateserial -days 2 -extfile server.ext -out " +
               name + ".pem");
}

class SChannelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    char pattern[] = "/tmp/schannel-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    g_dir = pattern;
    ASSERT_TRUE(MakeCa("ca") && MakeServer("server", "ca")) << "openssl tool failed in " << g_dir;
    ASSERT_TRUE(MakeCa("rogue") && MakeServer("rogueserver", "rogue"));
    ASSERT_TRUE(MakeCa("extra") && MakeServer("extraserver", "extra"));
    // One file with certificate and key, named by its path.
    std::ofstream(g_dir / "rogue-combined.pem")
        << ReadFile(g_dir / "rogueserver.pem") << ReadFile(g_dir / "rogueserver.key");
    // Read when the first client context is made, which is later in this process.
    setenv("SSL_CERT_FILE", (g_dir / "ca.pem").c_str(), 1);
    setenv("CORVANE_CERTS", g_dir.c_str(), 1);
  }
  static void TearDownTestSuite() { fs::remove_all(g_dir); }

  void SetUp() override {
    log_ = g_dir /
           (std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".log");
    ASSERT_TRUE(Debug::SetLogFile(log_.c_str()));
  }
  void TearDown() override { Debug::SetLogFile(nullptr); }

  // A listener on 127.0.0.1 with an ephemeral port.
  static std::unique_ptr<SChannel> Listener(const char* certificate, int* port) {
    auto listener =
        std::make_unique<SChannel>(SChannel::kInvalidSocket, certificate, 192, 0, false, "tls");
    if (listener->Listen("127.0.0.1", 0) != 0) return nullptr;
    *port = listener->GetLocalPort();
    return listener;
  }
  static std::unique_ptr<SChannel> Client() {
    return std::make_unique<SChannel>(SChannel::kInvalidSocket, nullptr, 192, 0, false, "tls");
  }
  std::string Log() const { return ReadFile(log_); }

  fs::path log_;
};

// A plain TCP connection to 127.0.0.1:port, or -1.
int PlainConnect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

std::string ReadExactly(SChannel& channel, size_t count) {
  std::string got;
  char buffer[16384];
  while (got.size() < count) {
    const int n = channel.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

TEST_F(SChannelTest, DataFlowsBothWaysWithPeerDetails) {
  int port = 0;
  auto listener = Listener("server", &port);  // resolved through CORVANE_CERTS
  ASSERT_NE(listener, nullptr) << Log();
  std::string payload;
  for (int i = 0; i < 300000; ++i) payload += static_cast<char>(i * 31 % 251);

  struct Served {
    std::string received, address;
    bool client_certificate = true;
    int after_close = -2;
  };
  auto served = std::async(std::launch::async, [&] {
    Served result;
    std::unique_ptr<SChannel> peer(listener->Accept());
    if (peer == nullptr) return result;
    result.received = ReadExactly(*peer, payload.size());
    result.address = peer->GetPeerAddress();
    result.client_certificate = peer->GetPeerCertificate() != nullptr;
    peer->Write("pong", 4);
    char byte;
    result.after_close = peer->Read(&byte, 1);
    return result;
  });

  auto client = Client();
  ASSERT_EQ(client->Connect("localhost", port), 0) << Log();
  EXPECT_EQ(client->Write(payload.data(), static_cast<unsigned>(payload.size())),
            static_cast<int>(payload.size()));
  EXPECT_EQ(ReadExactly(*client, 4), "pong");

  const char* pem = client->GetPeerCertificate();
  ASSERT_NE(pem, nullptr);
  EXPECT_EQ(std::string(pem), ReadFile(g_dir / "server.pem"));
  const char* expiry = client->GetCertAttribute("expiration");
  ASSERT_NE(expiry, nullptr);
  ASSERT_TRUE(Shell("openssl x509 -enddate -noout -in " + (g_dir / "server.pem").string() + " > " +
                    (g_dir / "enddate.txt").string()));
  EXPECT_EQ("notAfter=" + std::string(expiry) + "\n", ReadFile(g_dir / "enddate.txt"));
  EXPECT_STREQ(client->GetCertAttribute("Subject"), "CN=localhost,O=Corvane Test");
  EXPECT_STREQ(client->GetCertAttribute("Issuer"), "CN=ca");
  EXPECT_EQ(client->GetCertAttribute("Colour"), nullptr);
  client->Disconnect();
  EXPECT_EQ(client->Read(const_cast<char*>(payload.data()), 1), -1) << "no reads after Disconnect";

  ASSERT_EQ(served.wait_for(30s), std::future_status::ready);
  const Served result = served.get();
  EXPECT_TRUE(result.received == payload) << "received " << result.received.size() << " bytes";
  EXPECT_EQ(result.address, "127.0.0.1");
  EXPECT_FALSE(result.client_certificate);
  EXPECT_EQ(result.after_close, 0) << "the client's close reads as end of stream" << Log();
}

TEST_F(SChannelTest, NumericAddressIsVerifiedAgainstTheCertificate) {
  int port = 0;
  auto listener = Listener((g_dir / "server.pem").c_str(), &port);  // path, key beside it
  ASSERT_NE(listener, nullptr) << Log();
  auto served =
      std::async(std::launch::async, [&] { return std::unique_ptr<SChannel>(listener->Accept()); });
  auto client = Client();
  EXPECT_EQ(client->Connect("127.0.0.1", port), 0) << Log();
  EXPECT_NE(served.get(), nullptr);
}

TEST_F(SChannelTest, WrongHostNameIsRefused) {
  int port = 0;
  auto listener = Listener("server", &port);
  ASSERT_NE(listener, nullptr);
  auto served =
      std::async(std::launch::async, [&] { return std::unique_ptr<SChannel>(listener->Accept()); });
  // The handshake runs on a socket handed over, as through a proxy tunnel.
  const int fd = PlainConnect(port);
  ASSERT_GE(fd, 0);
  auto client = Client();
  client->SetFd(static_cast<unsigned>(fd));
  EXPECT_EQ(client->ConnectSSL("other.example"), -1);
  EXPECT_EQ(client->GetPeerCertificate(), nullptr);
  EXPECT_EQ(client->Write("x", 1), -1);
  EXPECT_EQ(served.get(), nullptr);
  EXPECT_NE(Log().find("certificate of other.example not accepted: hostname mismatch"),
            std::string::npos)
      << Log();
}

TEST_F(SChannelTest, UntrustedCertificateIsRefused) {
  int port = 0;
  auto listener = Listener((g_dir / "rogue-combined.pem").c_str(), &port);  // key in the same file
  ASSERT_NE(listener, nullptr) << Log();
  auto served =
      std::async(std::launch::async, [&] { return std::unique_ptr<SChannel>(listener->Accept()); });
  auto client = Client();
  EXPECT_EQ(client->Connect("localhost", port), -1);
  EXPECT_EQ(served.get(), nullptr);
  EXPECT_NE(
      Log().find("certificate of localhost not accepted: unable to get local issuer certificate"),
      std::string::npos)
      << Log();
}

TEST_F(SChannelTest, AddedCaIsTrusted) {
  EXPECT_FALSE(SChannel::AddTrustedCA((g_dir / "missing.pem").c_str()));
  EXPECT_FALSE(SChannel::AddTrustedCA(nullptr));
  // Another CA than the untrusted test's, since trust is process-wide.
  ASSERT_TRUE(SChannel::AddTrustedCA((g_dir / "extra.pem").c_str()));
  int port = 0;
  auto listener = Listener((g_dir / "extraserver.pem").c_str(), &port);
  ASSERT_NE(listener, nullptr);
  auto served =
      std::async(std::launch::async, [&] { return std::unique_ptr<SChannel>(listener->Accept()); });
  auto client = Client();
  EXPECT_EQ(client->Connect("localhost", port), 0) << Log();
  EXPECT_NE(served.get(), nullptr);
}

TEST_F(SChannelTest, NonTlsClientsFailAcceptWithoutHanging) {
  int port = 0;
  auto listener = Listener("server", &port);
  ASSERT_NE(listener, nullptr);
  listener->SetTimeout(500);
  // one client sends junk and waits; one says nothing at all
  for (const char* junk : {"GET / HTTP/1.0\r\nHost: x\r\n\r\n", ""}) {
    SCOPED_TRACE(junk);
    auto served = std::async(std::launch::async,
                             [&] { return std::unique_ptr<SChannel>(listener->Accept()); });
    const int fd = PlainConnect(port);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, junk, std::strlen(junk), 0), static_cast<ssize_t>(std::strlen(junk)));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(served.wait_for(20s), std::future_status::ready);
    EXPECT_EQ(served.get(), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    ::close(fd);
  }
}

TEST_F(SChannelTest, MisuseAndUnreachablePeersFail) {
  auto unlisted = std::make_unique<SChannel>(SChannel::kInvalidSocket, "no-such-certificate", 192,
                                             0, false, "tls");
  EXPECT_EQ(unlisted->Listen("127.0.0.1", 0), -1);
  EXPECT_NE(Log().find("no certificate with its key found for \"no-such-certificate\""),
            std::string::npos);
  EXPECT_EQ(unlisted->Accept(), nullptr);
  auto nobody = Client();
  EXPECT_EQ(nobody->Listen("127.0.0.1", 0), -1) << "a listener needs a certificate";
  char buffer[8];
  EXPECT_EQ(nobody->Read(buffer, sizeof buffer), -1);
  EXPECT_EQ(nobody->Write("x", 1), -1);
  EXPECT_EQ(nobody->ConnectSSL("localhost"), -1);
  EXPECT_EQ(nobody->GetPeerCertificate(), nullptr);
  EXPECT_EQ(nobody->GetCertAttribute("Expiration"), nullptr);
  EXPECT_STREQ(nobody->GetPeerAddress(), "");

  int port = 0;
  { auto closed = Listener("server", &port); }  // a port nobody listens on any more
  EXPECT_EQ(nobody->Connect("127.0.0.1", port), -1);
  EXPECT_EQ(nobody->Connect(nullptr, 443), -1);
  EXPECT_EQ(nobody->Connect("127.0.0.1", 70000), -1);
  EXPECT_EQ(nobody->Disconnect(), 0);
  EXPECT_EQ(nobody->Disconnect(), 0);
}

TEST_F(SChannelTest, WriteToAVanishedPeerFailsWithoutSigpipe) {
  int port = 0;
  auto listener = Listener("server", &port);
  ASSERT_NE(listener, nullptr);
  auto served =
      std::async(std::launch::async, [&] { return std::unique_ptr<SChannel>(listener->Accept()); });
  auto client = Client();
  ASSERT_EQ(client->Connect("localhost", port), 0);
  served.get().reset();  // the server side closes at once
  const std::string block(65536, 'z');
  int result = 0;
  for (int i = 0; i < 50 && result >= 0; ++i) result = client->Write(block.data(), block.size());
  EXPECT_EQ(result, -1);
}

TEST_F(SChannelTest, ConcurrentClientsShareOneTrustStore) {
  int port = 0;
  auto listener = Listener("server", &port);
  ASSERT_NE(listener, nullptr);
  constexpr int kClients = 6;
  auto served = std::async(std::launch::async, [&] {
    int accepted = 0;
    for (int i = 0; i < kClients + 1; ++i) {
      std::unique_ptr<SChannel> peer(listener->Accept());
      if (peer != nullptr && peer->Write("ok", 2) == 2) ++accepted;
    }
    return accepted;
  });
  // The first handshakes of the process race to set up the shared context.
  std::vector<std::future<std::string>> clients;
  for (int i = 0; i < kClients; ++i) {
    clients.push_back(std::async(std::launch::async, [port] {
      auto client = Client();
      return client->Connect("localhost", port) == 0 ? ReadExactly(*client, 2) : "<failed>";
    }));
  }
  for (auto& client : clients) EXPECT_EQ(client.get(), "ok");
  // The trust store was loaded once: a changed variable no longer matters.
  const std::string saved = std::getenv("SSL_CERT_FILE");
  setenv("SSL_CERT_FILE", (g_dir / "missing.pem").c_str(), 1);
  auto late = Client();
  EXPECT_EQ(late->Connect("localhost", port), 0) << Log();
  setenv("SSL_CERT_FILE", saved.c_str(), 1);
  EXPECT_EQ(served.get(), kClients + 1);
}

TEST_F(SChannelTest, SilentServerTimesOutARead) {
  int port = 0;
  auto listener = Listener("server", &port);
  ASSERT_NE(listener, nullptr);
  auto served =
      std::async(std::launch::async, [&] { return std::unique_ptr<SChannel>(listener->Accept()); });
  auto client = Client();
  ASSERT_EQ(client->Connect("localhost", port), 0);
  auto peer = served.get();  // accepted, then says nothing
  ASSERT_NE(peer, nullptr);
  client->SetTimeout(300);
  char buffer[16];
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(client->Read(buffer, sizeof buffer), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  EXPECT_NE(Log().find("timed out after 300 ms"), std::string::npos) << Log();
  // the connection is still usable after a time-out
  ASSERT_EQ(peer->Write("late", 4), 4);
  EXPECT_EQ(ReadExactly(*client, 4), "late");
}

void NoteSignal(int) {}

TEST_F(SChannelTest, SignalsDuringReadsAndHandshakesAreNotFailures) {
  // A handler without SA_RESTART makes every blocking socket call fail with
  // EINTR, as an ignored SIGCHLD does on sockets with time-outs.
  struct sigaction action {};
  action.sa_handler = NoteSignal;
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  int port = 0;
  auto listener = Listener("server", &port);
  ASSERT_NE(listener, nullptr);

  // Workers stay alive until the pestering stops, so no signal targets a
  // finished thread.
  std::atomic<int> finished{0};
  std::atomic<bool> done{false};
  auto linger = [&] {
    ++finished;
    while (!done) std::this_thread::sleep_for(1ms);
  };
  std::atomic<bool> server_ok{false};
  std::string received;
  std::thread server([&] {
    std::unique_ptr<SChannel> peer(listener->Accept());
    std::this_thread::sleep_for(300ms);
    server_ok = peer != nullptr && peer->Write("late", 4) == 4;
    linger();
  });
  std::thread reader([&] {
    auto client = Client();
    received =
        client->Connect("localhost", port) == 0 ? ReadExactly(*client, 4) : "<connect failed>";
    linger();
  });
  std::thread pester(
      [&, targets = std::vector<pthread_t>{server.native_handle(), reader.native_handle()}] {
        while (!done) {
          for (pthread_t target : targets) pthread_kill(target, SIGUSR1);
          std::this_thread::sleep_for(2ms);
        }
      });
  while (finished < 2) std::this_thread::sleep_for(1ms);
  done = true;
  pester.join();
  reader.join();
  server.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(received, "late") << Log();
  EXPECT_TRUE(server_ok);
}

// A child process (the openssl tool) with stdin and stdout redirected to files.
class Child {
 public:
  Child(const std::vector<std::string>& args, const fs::path& in, const fs::path& out) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ > 0 && !Exited(0ms)) {
      ::kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool Exited(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    do {
      if (waitpid(pid_, &status_, WNOHANG) == pid_) return true;
      std::this_thread::sleep_for(20ms);
    } while (std::chrono::steady_clock::now() < end);
    return false;
  }
  int status() const { return status_; }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int status_ = -1;
};

// Waits until text appears in the file, for at most ten seconds.
std::string WaitForText(const fs::path& file, const std::string& text) {
  for (int i = 0; i < 500; ++i) {
    std::string content = ReadFile(file);
    if (content.find(text) != std::string::npos) return content;
    std::this_thread::sleep_for(20ms);
  }
  return ReadFile(file);
}

TEST_F(SChannelTest, TalksToTheOpensslServer) {
  const fs::path out = g_dir / "s_server.out";
  std::ofstream(g_dir / "empty.txt");
  Child server(
      {"openssl", "s_server", "-accept", "127.0.0.1:0", "-cert", (g_dir / "server.pem").string(),
       "-key", (g_dir / "server.key").string(), "-rev", "-naccept", "1"},
      g_dir / "empty.txt", out);
  ASSERT_TRUE(server.started());
  const std::string banner = WaitForText(out, "ACCEPT 127.0.0.1:");
  const size_t at = banner.find("ACCEPT 127.0.0.1:");
  ASSERT_NE(at, std::string::npos) << banner;
  const int port = std::stoi(banner.substr(at + 17));

  auto client = Client();
  ASSERT_EQ(client->Connect("localhost", port), 0) << Log();
  ASSERT_EQ(client->Write("hello\n", 6), 6);
  EXPECT_EQ(ReadExactly(*client, 6), "olleh\n");
}

TEST_F(SChannelTest, ServesTheOpensslClient) {
  int port = 0;
  auto listener = Listener("server", &port);
  ASSERT_NE(listener, nullptr);
  auto served = std::async(std::launch::async, [&] {
    std::unique_ptr<SChannel> peer(listener->Accept());
    if (peer == nullptr) return std::string("<accept failed>");
    std::string got = ReadExactly(*peer, 5);
    peer->Write("pong\n", 5);
    peer->Disconnect();
    return got;
  });
  std::ofstream(g_dir / "ping.txt") << "ping\n";
  const fs::path out = g_dir / "s_client.out";
  Child client({"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(port), "-CAfile",
                (g_dir / "ca.pem").string(), "-verify_return_error", "-verify_hostname",
                "localhost", "-servername", "localhost", "-ign_eof"},
               g_dir / "ping.txt", out);
  ASSERT_TRUE(client.started());
  ASSERT_EQ(served.wait_for(20s), std::future_status::ready);
  EXPECT_EQ(served.get(), "ping\n");
  ASSERT_TRUE(client.Exited(10s));
  EXPECT_EQ(client.status(), 0);
  const std::string transcript = ReadFile(out);
  EXPECT_NE(transcript.find("Verify return code: 0 (ok)"), std::string::npos) << transcript;
  EXPECT_NE(transcript.find("pong"), std::string::npos) << transcript;
}

}  // namespace
