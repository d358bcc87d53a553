// Tests of the corvane program run as a user runs it: send against serve, nginx and tinyproxy.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wirelane/sockets/TlsTestSupport.h"

namespace {

using testing::AnyOf;
using testing::EndsWith;
using testing::HasSubstr;
using testing::Not;
using testing::StartsWith;
using tlstest::Clock;
using tlstest::FreePort;
using tlstest::PeerProcess;
using tlstest::ReadText;
using tlstest::TestCertificates;

constexpr int kLimitMs = 20000;  // no single run of the program may take longer

// The corvane program run once: standard input fed and closed, standard
// output and standard error kept apart. Killed by its pid if still running
// when the object ends.
class Program {
 public:
  explicit Program(const std::vector<std::string>& args, const std::string& input = "") {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 ||
        ::pipe2(err, O_CLOEXEC) != 0) {
      ADD_FAILURE() << "pipe failed";
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    std::vector<std::string> full = {CORVANE_PROGRAM};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : full) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    EXPECT_GT(pid_, 0) << "cannot start " << CORVANE_PROGRAM;
    if (!input.empty() &&
        ::write(in[1], input.data(), input.size()) != static_cast<ssize_t>(input.size()))
      ADD_FAILURE() << "cannot feed the program";
    ::close(in[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : fds_) {
      if (fd >= 0) ::close(fd);
    }
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  // Reads until standard error holds text or limit_ms passed.
  bool WaitForError(const std::string& text, int limit_ms = kLimitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    while (streams_[1].find(text) == std::string::npos) {
      if (Clock::now() > deadline || !ReadSome(deadline)) return false;
    }
    return true;
  }
  void Signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
  }
  // The exit status once the program ended (its output read to the end);
  // -1 when it ended by a signal or overran limit_ms.
  int Wait(int limit_ms = kLimitMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(limit_ms);
    while (ReadSome(deadline)) {
    }
    int status = 0;
    while (pid_ > 0 && ::waitpid(pid_, &status, WNOHANG) == 0) {
      if (Clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& Out() const { return streams_[0]; }
  const std::string& Err() const { return streams_[1]; }

 private:
  // Reads what either stream offers; false once both ended or at the deadline.
  bool ReadSome(Clock::time_point deadline) {
    pollfd ready[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || ::poll(ready, 2, static_cast<int>(left)) <= 0) return false;
    for (int i = 0; i < 2; ++i) {
      if (fds_[i] < 0 || ready[i].revents == 0) continue;
      char piece[8192];
      const ssize_t count = ::read(fds_[i], piece, sizeof piece);
      if (count > 0) {
        streams_[i].append(piece, static_cast<size_t>(count));
      } else {
        ::close(fds_[i]);
        fds_[i] = -1;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  int fds_[2] = {-1, -1};
  std::string streams_[2];
};

struct Outcome {
  int status;
  std::string out;
  std::string err;
};

Outcome RunCorvane(const std::vector<std::string>& args, const std::string& input = "") {
  Program program(args, input);
  const int status = program.Wait();
  return {status, program.Out(), program.Err()};
}

size_t LineCount(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// A private folder for one test, removed afterwards.
class Folder {
 public:
  Folder() {
    std::string pattern = ::testing::TempDir() + "corvane-cli-XXXXXX";
    EXPECT_NE(nullptr, ::mkdtemp(pattern.data()));
    path_ = pattern;
  }
  ~Folder() { std::filesystem::remove_all(path_); }
  std::string Write(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path file = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file.string();
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// "corvane serve" on a free port over <folder>/www, with the credentials
// user:secret below /private/; beside www lies outside.txt, which must never
// be served. Stopped by its pid.
class Serve {
 public:
  Serve() {
    folder_.Write("www/hello.txt", "hello\n");
    folder_.Write("www/private/secret.txt", "the secret\n");
    folder_.Write("www/sub/index.html", "<p>index</p>\n");
    folder_.Write("outside.txt", "OUTSIDE\n");
    program_ = std::make_unique<Program>(std::vector<std::string>{
        "serve", "--port", "0", "--root", folder_.Path() + "/www", "--user", "user:secret"});
    const std::string marker = "listening on http://127.0.0.1:";
    if (!program_->WaitForError(marker, 10000) || !program_->WaitForError("/ (root", 2000)) {
      ADD_FAILURE() << "serve did not start: " << program_->Err();
      return;
    }
    port_ = std::atoi(program_->Err().c_str() + program_->Err().find(marker) + marker.size());
  }
  std::string Url(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(port_) + path;
  }
  int Port() const { return port_; }
  Program& Process() { return *program_; }
  const Folder& Files() const { return folder_; }

 private:
  Folder folder_;
  std::unique_ptr<Program> program_;
  int port_ = 0;
};

// Sends raw bytes to 127.0.0.1:port and returns all that comes back.
std::string RawExchange(int port, const std::string& request) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval limit{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  std::string reply;
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
          static_cast<ssize_t>(request.size())) {
    char piece[4096];
    for (ssize_t count; (count = ::recv(fd, piece, sizeof piece, 0)) > 0;)
      reply.append(piece, static_cast<size_t>(count));
  }
  ::close(fd);
  return reply;
}

// The text between the first <tag> and </tag> of an echo reply.
std::string Between(const std::string& text, const std::string& tag) {
  const size_t start = text.find("<" + tag + ">");
  const size_t end = text.find("</" + tag + ">");
  if (start == std::string::npos || end == std::string::npos) return "(no " + tag + ")";
  return text.substr(start + tag.size() + 2, end - start - tag.size() - 2);
}

TEST(CorvaneTest, EveryVerbExplainsItselfOnStandardOutput) {
  const std::vector<std::vector<std::string>> cases = {
      {"--help"}, {"send", "--help"}, {"send", "-h"}, {"serve", "--help"}, {"demo", "--help"}};
  for (const auto& args : cases) {
    SCOPED_TRACE(args.back() + " of " + args.front());
    const Outcome run = RunCorvane(args);
    EXPECT_EQ(0, run.status);
    EXPECT_THAT(run.out, StartsWith("Usage: corvane"));
    EXPECT_EQ("", run.err);
  }
  EXPECT_THAT(RunCorvane({"send", "--help"}).out, HasSubstr("--cacert"));
  EXPECT_THAT(RunCorvane({"serve", "--help"}).out, HasSubstr("--root"));
}

TEST(CorvaneTest, BadCommandLinesGiveOneLineOnStandardErrorAndStatusTwo) {
  Folder folder;
  struct Case {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"frobnicate"}, "unknown verb 'frobnicate'"},
      {{"send"}, "no URL given"},
      {{"send", "http://127.0.0.1:1/a", "http://127.0.0.1:1/b"}, "more than one URL"},
      {{"send", "--bogus", "http://127.0.0.1:1/"}, "unknown option --bogus"},
      {{"send", "-q", "http://127.0.0.1:1/"}, "unknown option -q"},
      {{"send", "http://127.0.0.1:1/", "-H"}, "option -H needs a value"},
      {{"send", "-d", "@" + folder.Path() + "/missing.xml", "http://127.0.0.1:1/"},
       "missing.xml: No such file"},
      {{"send", "-d", "@" + folder.Path(), "http://127.0.0.1:1/"}, "it is a folder"},
      {{"send", "--cacert", folder.Path() + "/none.pem", "https://127.0.0.1:1/"},
       "--cacert: cannot read"},
      {{"send", "-H", "NoColon", "http://127.0.0.1:1/"}, "-H: expected 'Name: value'"},
      {{"send", "--kind", "eight", "http://127.0.0.1:1/"}, "--kind: expected a number"},
      {{"send", "-x", "127.0.0.1:70000", "http://127.0.0.1:1/"}, "-x: expected HOST[:PORT]"},
      {{"send", "--include=yes", "http://127.0.0.1:1/"}, "--include takes no value"},
      {{"serve", "--port", "http"}, "--port: expected 0 to 65535"},
      {{"serve", "--root", folder.Path() + "/none"}, "--root: no folder"},
      {{"serve", "extra"}, "unexpected operand extra"},
      {{"demo", "--fast"}, "unknown option --fast"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const Outcome run = RunCorvane(c.args);
    EXPECT_EQ(2, run.status);
    EXPECT_EQ("", run.out);
    EXPECT_THAT(run.err, HasSubstr(c.message));
    EXPECT_THAT(run.err, StartsWith("corvane"));
    EXPECT_EQ(1u, LineCount(run.err)) << run.err;
  }
  const Outcome bare = RunCorvane({});
  EXPECT_EQ(2, bare.status);
  EXPECT_THAT(bare.err, StartsWith("Usage: corvane"));
}

TEST(CorvaneTest, RefusedConnectionIsOneLineAndStatusOne) {
  const std::string url = "http://127.0.0.1:" + std::to_string(FreePort()) + "/hello.txt";
  const Outcome run = RunCorvane({"send", url});
  EXPECT_EQ(1, run.status);
  EXPECT_EQ("", run.out);
  EXPECT_THAT(run.err, StartsWith("corvane send: no reply from " + url + ": "));
  EXPECT_THAT(run.err, HasSubstr("Connection refused"));
  EXPECT_EQ(1u, LineCount(run.err)) << run.err;
}

TEST(CorvaneTest, SendPrintsTheBodyAndServeLogsOneLine) {
  Serve serve;
  const Outcome run = RunCorvane({"send", serve.Url("/hello.txt")});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_EQ("hello\n", run.out);
  EXPECT_EQ("", run.err);
  EXPECT_TRUE(serve.Process().WaitForError("127.0.0.1 \"GET /hello.txt HTTP/1.0\" 200 6\n", 5000))
      << serve.Process().Err();
  // A folder is answered with its index page.
  EXPECT_EQ("<p>index</p>\n", RunCorvane({"send", serve.Url("/sub/")}).out);
}

TEST(CorvaneTest, IncludePrintsTheStatusLineAndTheReplyFields) {
  Serve serve;
  const Outcome found = RunCorvane({"send", "-i", serve.Url("/hello.txt")});
  EXPECT_EQ(0, found.status) << found.err;
  EXPECT_THAT(found.out, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(found.out, HasSubstr("\r\nContent-Type: text/plain\r\n"));
  EXPECT_THAT(found.out, HasSubstr("\r\nContent-Length: 6\r\n"));
  EXPECT_THAT(found.out, EndsWith("\r\n\r\nhello\n"));
  EXPECT_THAT(found.out, Not(HasSubstr("HTTPStatus")));
  // A reply that is an error is still a reply: status 0, and the status line tells.
  const Outcome missing = RunCorvane({"send", "--include", serve.Url("/nothing.txt")});
  EXPECT_EQ(0, missing.status);
  EXPECT_THAT(missing.out, StartsWith("HTTP/1.1 404 Not Found\r\n"));
}

TEST(CorvaneTest, MethodAndHeaderFieldsReachTheServerInOrder) {
  Serve serve;
  const Outcome run = RunCorvane({"send", "-H", "X-One: 1", "-H", "X-Two:  two words ", "-H",
                                  "SOAPAction: urn:corvane:t", "-H", "X-Three: 3", "-d", "<a/>",
                                  serve.Url("/echo")});
  ASSERT_EQ(0, run.status) << run.err;
  const std::string fields = Between(run.out, "Fields");
  const size_t one = fields.find("<Field name=\"X-One\">1</Field>");
  const size_t two = fields.find("<Field name=\"X-Two\">two words</Field>");
  const size_t action = fields.find("<Field name=\"SOAPAction\">&quot;urn:corvane:t&quot;</Field>");
  const size_t three = fields.find("<Field name=\"X-Three\">3</Field>");
  ASSERT_NE(std::string::npos, one) << fields;
  ASSERT_NE(std::string::npos, two) << fields;
  ASSERT_NE(std::string::npos, action) << fields;
  ASSERT_NE(std::string::npos, three) << fields;
  EXPECT_LT(one, two);
  EXPECT_LT(two, action);
  EXPECT_LT(action, three);
  EXPECT_TRUE(serve.Process().WaitForError("\"POST /echo HTTP/1.0\" 200", 5000));

  // -X wins over the POST that -d implies.
  const Outcome put = RunCorvane({"send", "-X", "PUT", "-d", "x", "-i", serve.Url("/echo")});
  EXPECT_EQ(0, put.status);
  EXPECT_THAT(put.out, StartsWith("HTTP/1.1 405 "));
  EXPECT_TRUE(serve.Process().WaitForError("\"PUT /echo HTTP/1.0\" 405", 5000));
}

TEST(CorvaneTest, DataComesFromTextFilesAndStandardInput) {
  Serve serve;
  Folder folder;
  const std::string file_body = "first line\nsecond line\n";
  const std::string file = folder.Write("body.txt", file_body);
  struct Case {
    const char* name;
    std::vector<std::string> data;
    std::string input;
    std::string expected;
  } cases[] = {
      {"text", {"-d", "plain text"}, "", "plain text"},
      {"file kept byte for byte", {"-d", "@" + file}, "", file_body},
      {"standard input", {"-d", "@-"}, "piped\nin\n", "piped\nin\n"},
      {"several joined with &", {"-d", "a=1", "--data", "b=2"}, "", "a=1&amp;b=2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"send"};
    args.insert(args.end(), c.data.begin(), c.data.end());
    args.push_back(serve.Url("/echo"));
    const Outcome run = RunCorvane(args, c.input);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(c.expected, Between(run.out, "Request"));
  }
}

TEST(CorvaneTest, UserOptionOpensThePrivateFolder) {
  Serve serve;
  struct Case {
    std::vector<std::string> credentials;
    const char* status_line;
    bool opened;
  } cases[] = {
      {{}, "HTTP/1.1 401 ", false},
      {{"-u", "user:wrong"}, "HTTP/1.1 401 ", false},
      {{"-u", "user:secret"}, "HTTP/1.1 200 OK\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status_line);
    std::vector<std::string> args = {"send", "-i"};
    args.insert(args.end(), c.credentials.begin(), c.credentials.end());
    args.push_back(serve.Url("/private/secret.txt"));
    const Outcome run = RunCorvane(args);
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_THAT(run.out, StartsWith(c.status_line));
    EXPECT_EQ(c.opened, run.out.find("the secret\n") != std::string::npos) << run.out;
  }
}

TEST(CorvaneTest, ServeRefusesPathsThatLeaveTheRootOrSkirtThePrivateCheck) {
  Serve serve;
  struct Case {
    const char* path;
    const char* status;
  } cases[] = {
      {"/../outside.txt", " 403 "},
      {"/%2e%2e/outside.txt", " 403 "},
      {"/sub/%2E%2E/%2e%2e/outside.txt", " 403 "},
      {"/sub/..%2f..%2foutside.txt", " 403 "},
      {"//private/secret.txt", " 401 "},
      {"/./private/secret.txt", " 401 "},
      {"/sub/../private/secret.txt", " 403 "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    const std::string reply =
        RawExchange(serve.Port(), std::string("GET ") + c.path + " HTTP/1.0\r\n\r\n");
    EXPECT_THAT(reply.substr(0, reply.find("\r\n")), HasSubstr(c.status));
    EXPECT_THAT(reply, Not(HasSubstr("OUTSIDE")));
    EXPECT_THAT(reply, Not(HasSubstr("the secret")));
  }
  // The program's own client gets the same answer.
  EXPECT_THAT(RunCorvane({"send", "-i", serve.Url("/%2e%2e/outside.txt")}).out,
              StartsWith("HTTP/1.1 403 "));
  EXPECT_TRUE(serve.Process().WaitForError("\"GET /../outside.txt HTTP/1.0\" 403 0\n", 5000));
}

TEST(CorvaneTest, ServeLogLinesStayOneLine) {
  Serve serve;
  RawExchange(serve.Port(), "GET /x%0d%0aForged: 1 HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(serve.Process().WaitForError("\"GET /x\\x0D\\x0AForged: 1 HTTP/1.0\" 404 0\n", 5000))
      << serve.Process().Err();
  const std::string redirect =
      RawExchange(serve.Port(), "GET /redirect?to=/a%0d%0aForged:%201 HTTP/1.0\r\n\r\n");
  EXPECT_THAT(redirect, Not(HasSubstr("\r\nForged:")));
}

TEST(CorvaneTest, ServeStopsCleanlyOnSigtermAndSigint) {
  for (const int number : {SIGTERM, SIGINT}) {
    SCOPED_TRACE(strsignal(number));
    Serve serve;
    ASSERT_EQ("hello\n", RunCorvane({"send", serve.Url("/hello.txt")}).out);
    serve.Process().Signal(number);
    EXPECT_EQ(0, serve.Process().Wait(10000)) << serve.Process().Err();
    EXPECT_THAT(serve.Process().Err(), HasSubstr("stopping on"));
    EXPECT_NE(0, RunCorvane({"send", serve.Url("/hello.txt")}).status)
        << "still answering after the signal";
  }
}

TEST(CorvaneTest, KindEightSendsThroughThePlatformStack) {
  Serve serve;
  const Outcome run = RunCorvane({"send", "--kind", "8", "-i", serve.Url("/hello.txt")});
  EXPECT_EQ(0, run.status) << run.err;
  EXPECT_THAT(run.out, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(run.out, EndsWith("\r\n\r\nhello\n"));
  const Outcome echo =
      RunCorvane({"send", "--kind", "8", "-H", "X-Kind: eight", "-d", "k8", serve.Url("/echo")});
  EXPECT_EQ("k8", Between(echo.out, "Request"));
  EXPECT_THAT(echo.out, HasSubstr("<Field name=\"X-Kind\">eight</Field>"));
}

// True once something accepts on the loopback port (after a short pause when not).
bool PortOpen(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  if (!open) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return open;
}

// An outside server started by start(port) on a port of FreePort(). Another
// process may take that port first; then the server ends at once, and the
// next try takes another port. Stopped by its pid when the object ends.
class OutsideServer {
 public:
  using Starter = std::function<std::unique_ptr<PeerProcess>(int port)>;
  explicit OutsideServer(const Starter& start) {
    for (int attempt = 0; attempt < 3 && !ready_; ++attempt) {
      port_ = FreePort();
      process_ = start(port_);
      const auto deadline = Clock::now() + std::chrono::seconds(5);
      bool open = false;
      while (!open && Clock::now() < deadline) open = PortOpen(port_);
      // Still running a moment later: the port is its own.
      ready_ = open && process_->WaitExit(300) == -1;
    }
  }
  int Port() const { return port_; }
  bool Ready() const { return ready_; }

 private:
  int port_ = 0;
  std::unique_ptr<PeerProcess> process_;
  bool ready_ = false;
};

// nginx with a TLS port of the test CA's server certificate: /page.txt, and
// /whoami answering the subject of the client certificate (if any).
class TlsNginx {
 public:
  TlsNginx()
      : server_([this](int port) {
          folder_.Write("nginx.conf", Config(port));
          const std::string dir = folder_.Path();
          return std::make_unique<PeerProcess>(std::vector<std::string>{
              "/usr/sbin/nginx", "-p", dir, "-e", dir + "/error.log", "-c", dir + "/nginx.conf",
              "-g", "daemon off; pid " + dir + "/nginx.pid;"});
        }) {
    EXPECT_TRUE(server_.Ready()) << ReadText(folder_.Path() + "/error.log");
  }
  std::string Url(const std::string& path) const {
    return "https://127.0.0.1:" + std::to_string(server_.Port()) + path;
  }
  bool Ready() const { return server_.Ready(); }

 private:
  std::string Config(int port) const {
    const TestCertificates& certs = TestCertificates::Get();
    folder_.Write("www/page.txt", "over tls\n");
    const std::string dir = folder_.Path();
    std::string temp;
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      temp += std::string("  ") + kind + "_temp_path " + dir + "/tmp-" + kind + ";\n";
    return "master_process off;\nerror_log " + dir + "/error.log;\n" +
           "events { worker_connections 16; }\nhttp {\n  access_log off;\n" + temp + "  root " +
           dir + "/www;\n  server {\n    listen 127.0.0.1:" + std::to_string(port) + " ssl;\n" +
           "    ssl_certificate " + certs.Cert("server") + ";\n" + "    ssl_certificate_key " +
           certs.Key("server") + ";\n" + "    ssl_client_certificate " + certs.Cert("ca") + ";\n" +
           "    ssl_verify_client optional;\n" +
           "    location /whoami { return 200 \"[$ssl_client_s_dn]\\n\"; }\n  }\n}\n";
  }

  Folder folder_;  // made before server_, which writes into it
  OutsideServer server_;
};

TEST(CorvaneTest, CacertAndClientCertificateOverTls) {
  TlsNginx nginx;
  ASSERT_TRUE(nginx.Ready());
  const TestCertificates& certs = TestCertificates::Get();
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::string path;
    int status;
    std::string body;  // expected on standard output when status is 0
  } cases[] = {
      {"trusted CA", {"--cacert", certs.Cert("ca")}, "/page.txt", 0, "over tls\n"},
      {"trusted CA, platform stack",
       {"--kind", "8", "--cacert", certs.Cert("ca")},
       "/page.txt",
       0,
       "over tls\n"},
      {"server not trusted without the CA", {}, "/page.txt", 1, ""},
      {"another CA", {"--cacert", certs.Cert("rogueca")}, "/page.txt", 1, ""},
      {"client certificate presented",
       {"--cacert", certs.Cert("ca"), "-E", certs.Cert("client")},
       "/whoami",
       0,
       "[CN=Corvane Test Client]\n"},
      {"no client certificate", {"--cacert", certs.Cert("ca")}, "/whoami", 0, "[]\n"},
      {"client certificate still verifies the server",
       {"--cacert", certs.Cert("rogueca"), "--cert", certs.Cert("client")},
       "/whoami",
       1,
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"send"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.push_back(nginx.Url(c.path));
    const Outcome run = RunCorvane(args);
    EXPECT_EQ(c.status, run.status) << run.err;
    EXPECT_EQ(c.body, run.out);
    if (c.status != 0) {
      EXPECT_THAT(run.err, StartsWith("corvane send: no reply from "));
      EXPECT_EQ(1u, LineCount(run.err)) << run.err;
    }
  }
  const Outcome head =
      RunCorvane({"send", "-i", "--cacert", certs.Cert("ca"), nginx.Url("/page.txt")});
  EXPECT_THAT(head.out, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(head.out, HasSubstr("\r\nServer: nginx"));
  EXPECT_THAT(head.out, Not(HasSubstr("PeerCertificate")));
}

// tinyproxy on a free port, asking for proxyuser:proxypass.
class Tinyproxy {
 public:
  Tinyproxy()
      : server_([this](int port) {
          const std::string config =
              folder_.Write("tinyproxy.conf", "Port " + std::to_string(port) +
                                                  "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\n"
                                                  "Allow 127.0.0.1\nBasicAuth proxyuser proxypass\n"
                                                  "LogLevel Info\nLogFile \"" +
                                                  folder_.Path() + "/tinyproxy.log\"\n");
          return std::make_unique<PeerProcess>(
              std::vector<std::string>{"/usr/bin/tinyproxy", "-d", "-c", config});
        }) {
    EXPECT_TRUE(server_.Ready()) << ReadText(folder_.Path() + "/tinyproxy.log");
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(server_.Port()); }
  bool Ready() const { return server_.Ready(); }

 private:
  Folder folder_;
  OutsideServer server_;
};

TEST(CorvaneTest, ProxyWithCredentials) {
  if (!std::filesystem::exists("/usr/bin/tinyproxy"))
    GTEST_SKIP() << "/usr/bin/tinyproxy is not installed";
  Serve serve;
  TlsNginx nginx;
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.Ready());
  // Ephemeral ports lie above 32767, which the transport's port argument cannot carry.
  const Outcome plain = RunCorvane(
      {"send", "-x", proxy.Address(), "-U", "proxyuser:proxypass", serve.Url("/hello.txt")});
  EXPECT_EQ(0, plain.status) << plain.err;
  EXPECT_EQ("hello\n", plain.out);

  const Outcome refused = RunCorvane({"send", "-i", "-x", "http://" + proxy.Address(), "-U",
                                      "proxyuser:wrong", serve.Url("/hello.txt")});
  EXPECT_EQ(0, refused.status) << refused.err;
  // tinyproxy answers refused credentials with 401 or 407 depending on its version.
  EXPECT_THAT(refused.out, AnyOf(StartsWith("HTTP/1.0 407 "), StartsWith("HTTP/1.0 401 ")));
  EXPECT_THAT(refused.out, Not(HasSubstr("hello\n")));

  const Outcome tunnel =
      RunCorvane({"send", "-x", proxy.Address(), "-U", "proxyuser:proxypass", "--cacert",
                  TestCertificates::Get().Cert("ca"), nginx.Url("/page.txt")});
  EXPECT_EQ(0, tunnel.status) << tunnel.err;
  EXPECT_EQ("over tls\n", tunnel.out);
}

}  // namespace
