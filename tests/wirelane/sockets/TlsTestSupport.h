// Test certificates, openssl peer processes and fresh-process isolation for the TLS socket tests.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tlstest {

using Clock = std::chrono::steady_clock;

inline std::string ReadText(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A CA, a server certificate for localhost and 127.0.0.1, a client
// certificate, a server certificate for another name and one from an
// untrusted CA, made with the openssl program in a private folder once per
// test process (EC keys: fast to make). Keys follow the "<name>Private.pem"
// convention; the folder is removed when the process that made it ends.
class TestCertificates {
 public:
  static const TestCertificates& Get() {
    static const TestCertificates certificates;
    return certificates;
  }

  const std::string& Dir() const { return dir_; }
  std::string Cert(const std::string& name) const { return dir_ + "/" + name + ".pem"; }
  std::string Key(const std::string& name) const { return dir_ + "/" + name + "Private.pem"; }

  ~TestCertificates() {
    if (::getpid() == owner_ && !dir_.empty()) std::filesystem::remove_all(dir_);
  }

 private:
  TestCertificates() : owner_(::getpid()) {
    std::string pattern = ::testing::TempDir() + "corvane-tls-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a temporary folder";
      return;
    }
    dir_ = pattern;
    std::ofstream(dir_ + "/make.sh") << kScript;
    const std::string command =
        "sh '" + dir_ + "/make.sh' '" + dir_ + "' > '" + dir_ + "/make.log' 2>&1";
    if (std::system(command.c_str()) != 0)
      ADD_FAILURE() << "making test certificates failed:\n" << ReadText(dir_ + "/make.log");
  }

  static constexpr const char* kScript = R"SH(set -e
cd "$1"
cat > req.cnf <<'EOF'
[req]
distinguished_name = dn
prompt = no
[dn]
CN = unused
[ca_ext]
basicConstraints = critical,CA:TRUE
keyUsage = critical,keyCertSign,cRLSign
subjectKeyIdentifier = hash
[server_ext]
basicConstraints = CA:FALSE
subjectAltName = DNS:localhost,IP:127.0.0.1
extendedKeyUsage = serverAuth,clientAuth
[other_ext]
basicConstraints = CA:FALSE
subjectAltName = DNS:elsewhere.invalid
extendedKeyUsage = serverAuth,clientAuth
[client_ext]
basicConstraints = CA:FALSE
extendedKeyUsage = clientAuth
EOF
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"; }
ca() {
  key "$1.key"
  openssl req -config req.cnf -new -x509 -key "$1.key" -subj "/CN=$2" -days 3650 -extensions ca_ext -out "$1.pem"
}
leaf() {
  key "$1Private.pem"
  openssl req -config req.cnf -new -key "$1Private.pem" -subj "/CN=$2" -out "$1.csr"
  openssl x509 -req -in "$1.csr" -CA "$4.pem" -CAkey "$4.key" -CAcreateserial -days 825 -extfile req.cnf -extensions "$3" -out "$1.pem"
}
ca ca "Corvane Test CA"
ca rogueca "Rogue Test CA"
leaf server localhost server_ext ca
leaf client "Corvane Test Client" client_ext ca
leaf wronghost elsewhere.invalid other_ext ca
leaf rogue localhost server_ext rogueca
cat server.pem serverPrivate.pem > combined.pem
# The same keys under "<name>.key", the other convention certificate names use.
for name in server wronghost rogue client; do cp "${name}Private.pem" "$name.key"; done
cp client.pem locked.pem
openssl pkey -in clientPrivate.pem -aes256 -passout pass:open-sesame -out lockedPrivate.pem
)SH";

  std::string dir_;
  pid_t owner_;
};

// The not-after date of a PEM certificate as "Dec 11 10:00:00 2027 GMT",
// read with the openssl program; empty when it fails.
inline std::string ExpiryOf(const std::string& certificate) {
  const std::string out = TestCertificates::Get().Dir() + "/enddate-" + std::to_string(::getpid()) + ".txt";
  const std::string command = "openssl x509 -noout -enddate -in '" + certificate + "' > '" + out + "'";
  if (std::system(command.c_str()) != 0) return {};
  std::string text = ReadText(out);
  const auto equals = text.find('=');
  if (equals != std::string::npos) text.erase(0, equals + 1);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// A free loopback port for programs that need a port number up front. It is
// drawn at random below the kernel's ephemeral range (32768 and up), so the
// ports that listeners bound to 0 receive meanwhile can never take it; a
// candidate counts as free when it can be bound.
inline int FreePort() {
  static std::atomic<unsigned> sequence{static_cast<unsigned>(::getpid()) * 7919u};
  for (int attempt = 0; attempt < 200; ++attempt) {
    const int port = 20000 + static_cast<int>((sequence.fetch_add(104729u) * 2654435761u) % 12000u);
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool free = ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (free) return port;
  }
  return 0;
}

// An outside program (openssl s_server or s_client) started by the test:
// its standard input is a pipe fed with input and then closed, standard
// output and errors are collected. Stopped by its pid when the object ends.
class PeerProcess {
 public:
  explicit PeerProcess(const std::vector<std::string>& args, const std::string& input = "") {
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe failed";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDERR_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    output_fd_ = out[0];
    if (pid_ < 0) ADD_FAILURE() << "cannot start " << args[0];
    if (!input.empty() && ::write(in[1], input.data(), input.size()) < 0)
      ADD_FAILURE() << "cannot feed " << args[0];
    input_fd_ = in[1];
  }
  ~PeerProcess() {
    Stop();
    if (output_fd_ >= 0) ::close(output_fd_);
    CloseInput();
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  // Ends the program's input (some programs wait for it).
  void CloseInput() {
    if (input_fd_ >= 0) ::close(input_fd_);
    input_fd_ = -1;
  }

  // Collects output until it contains text or limit_ms passed.
  bool WaitForOutput(const std::string& text, int limit_ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    while (output_.find(text) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0 || !ReadSome(static_cast<int>(left))) return false;
    }
    return true;
  }

  // Waits up to limit_ms for the program to end (collecting its output).
  // Returns its exit status, or -1 when it did not end in time or by a signal.
  int WaitExit(int limit_ms = 5000) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    while (pid_ > 0 && Clock::now() < deadline) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        while (ReadSome(200)) {
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      ReadSome(20);
    }
    return -1;
  }

  // Stops the program by its pid (SIGTERM, then SIGKILL after a second).
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto deadline = Clock::now() + std::chrono::seconds(1);
    while (::waitpid(pid_, nullptr, WNOHANG) == 0) {
      if (Clock::now() > deadline) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
  }

  const std::string& Output() {
    while (ReadSome(0)) {
    }
    return output_;
  }

 private:
  bool ReadSome(int limit_ms) {
    if (output_fd_ < 0) return false;
    pollfd ready{output_fd_, POLLIN, 0};
    if (::poll(&ready, 1, limit_ms) <= 0) return false;
    char piece[4096];
    const ssize_t count = ::read(output_fd_, piece, sizeof piece);
    if (count <= 0) return false;
    output_.append(piece, static_cast<size_t>(count));
    return true;
  }

  pid_t pid_ = -1;
  int input_fd_ = -1;
  int output_fd_ = -1;
  std::string output_;
};

// openssl s_server on a free loopback port with the named test certificate,
// answering "GET /" with its status page (which says "New" or "Reused").
class OpensslServer {
 public:
  OpensslServer(const std::string& certificate, const std::string& key,
                const std::vector<std::string>& extra = {})
      : port_(FreePort()), process_(Args(certificate, key, port_, extra)) {
    ready_ = process_.WaitForOutput("ACCEPT");
    EXPECT_TRUE(ready_) << "s_server did not start:\n" << process_.Output();
  }
  int Port() const { return port_; }
  bool Ready() const { return ready_; }
  PeerProcess& Process() { return process_; }

 private:
  static std::vector<std::string> Args(const std::string& certificate, const std::string& key,
                                       int port, const std::vector<std::string>& extra) {
    std::vector<std::string> args = {
        "openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(port), "-cert", certificate,
        "-key",    key,        "-www"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  }

  int port_;
  PeerProcess process_;
  bool ready_ = false;
};

// Runs body in a forked child process and expects it to pass. The shared
// OpenSSL context of SSLSocket is made once per process from the first
// socket, so every test that needs its own context settings runs in a
// process of its own. Failures inside are printed by the child; the parent
// fails when the child reports one, crashes or overruns limit_ms.
inline void InFreshProcess(const std::function<void()>& body, int limit_ms = 60000) {
  TestCertificates::Get();  // made by the parent, shared by every child
  std::fflush(nullptr);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0) << "fork failed";
  if (child == 0) {
    body();
    std::fflush(nullptr);
    ::_exit(::testing::Test::HasFailure() ? 1 : 0);
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
  int status = 0;
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      FAIL() << "test process overran " << limit_ms << " ms";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(WIFEXITED(status)) << "test process ended by signal";
  EXPECT_EQ(0, WIFEXITED(status) ? WEXITSTATUS(status) : -1) << "test process reported failures";
}

}  // namespace tlstest
