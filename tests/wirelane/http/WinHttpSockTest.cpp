// Tests of WinHttpSock: requests through the platform request object to in-test servers and nginx.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <strings.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "wirelane/http/NetInput.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/http/WinHttpSock.h"
#include "wirelane/sockets/SocketStartup.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/http/HttpPeerServers.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;
using sockettest::LogCapture;
using testing::HasSubstr;
using testing::Not;
using tlstest::Clock;
using tlstest::TestCertificates;

// Sets an environment variable for the enclosing scope (null: unset).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value != nullptr)
      ::setenv(name, value, 1);
    else
      ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (old_)
      ::setenv(name_.c_str(), old_->c_str(), 1);
    else
      ::unsetenv(name_.c_str());
  }

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Body bytes of every value, NUL included, that no framing can hide in.
std::string Bytes(size_t length) {
  std::string bytes(length, '\0');
  unsigned state = 12345;
  for (char& c : bytes) {
    state = state * 1103515245u + 12345u;
    c = static_cast<char>(state >> 16);
  }
  return bytes;
}

std::string Chunked(const std::string& body, const std::vector<size_t>& sizes) {
  std::string out;
  size_t at = 0;
  for (size_t i = 0; at < body.size(); ++i) {
    const size_t size = std::min(sizes[i % sizes.size()], body.size() - at);
    char line[32];
    std::snprintf(line, sizeof line, "%zx\r\n", size);
    out += line + body.substr(at, size) + "\r\n";
    at += size;
  }
  return out + "0\r\nX-Trailer: t\r\n\r\n";
}

// Serves one connection on a thread: records the request header block as it
// arrived and its body (by Content-Length), answers with reply, keeps the
// connection open holdMs longer, and closes.
class OneShotServer {
 public:
  explicit OneShotServer(std::string reply, int holdMs = 0)
      : listener_(sockettest::MakeListener()), reply_(std::move(reply)), holdMs_(holdMs) {
    thread_ = std::thread([this] { Serve(); });
  }
  ~OneShotServer() { Join(); }
  int Port() const { return listener_->GetLocalPort(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  // Read after Join.
  std::string header;
  std::string body;

 private:
  void Serve() {
    std::unique_ptr<CSocket> peer(listener_->Accept());
    if (!peer) return;
    sockettest::LimitWaits(*peer);
    std::string line;
    long length = 0;
    while (peer->ReadLine(line) > 0) {
      header += line;
      if (line == "\r\n") break;
      if (strncasecmp(line.c_str(), "Content-Length:", 15) == 0)
        length = std::atol(line.c_str() + 15);
    }
    body.resize(static_cast<size_t>(length));
    size_t got = 0;
    while (got < body.size()) {
      const int count = peer->Read(body.data() + got, static_cast<unsigned>(body.size() - got));
      if (count <= 0) break;
      got += static_cast<size_t>(count);
    }
    const bool whole = got == body.size();
    body.resize(got);
    // A client that left early gets no answer (writing to it could raise SIGPIPE).
    if (header.empty() || !whole) return;
    peer->Write(reply_.data(), static_cast<unsigned>(reply_.size()));
    peer->Flush();
    std::this_thread::sleep_for(std::chrono::milliseconds(holdMs_));
    peer->Close();
  }

  std::unique_ptr<CSocket> listener_;
  std::string reply_;
  int holdMs_;
  std::thread thread_;
};

std::vector<std::string> Lines(const std::string& block) {
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = block.find("\r\n", at)) != std::string::npos; at = end + 2)
    if (end > at) lines.push_back(block.substr(at, end - at));
  return lines;
}

size_t CountPrefix(const std::vector<std::string>& lines, const char* prefix) {
  size_t count = 0;
  for (const std::string& line : lines)
    count += strncasecmp(line.c_str(), prefix, std::strlen(prefix)) == 0;
  return count;
}

std::string ContentOf(NetInput& input) {
  const char* content = input.GetContent();
  return content == nullptr ? std::string() : std::string(content, input.GetContentLength());
}

class WinHttpSockTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { TestCertificates::Get(); }
  void SetUp() override { ASSERT_EQ(0, WSAStartup(0x0202, nullptr)); }
  void TearDown() override { WSACleanup(); }
};

TEST_F(WinHttpSockTest, RequestFieldsAndBodyReachTheServerAsNetOutputFormattedThem) {
  OneShotServer server(
      "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: 5\r\n\r\nhello");
  WinHttpSock socket(0, nullptr, false);
  socket.SetTimeOut(0, kWaitLimitMs);
  ASSERT_EQ(1, socket.Connect("127.0.0.1", server.Port()));
  NetOutput request(&socket);
  request.AddHeader("SOAPAction", "\"urn:test#Op\"");
  request.AddHeader("X-Empty", "");
  request.AddHeader("Content-Type", "text/xml; charset=utf-8");
  const std::string body = "<a>1 2</a>";
  request.Write(body.data(), static_cast<int>(body.size()));
  EXPECT_EQ(static_cast<int>(body.size()), request.Send(2, false, "POST", "/svc/op x?y=1"));
  NetInput response(&socket);
  EXPECT_EQ(5, response.Receive());
  EXPECT_EQ("hello", ContentOf(response));
  server.Join();

  const std::vector<std::string> lines = Lines(server.header);
  ASSERT_FALSE(lines.empty());
  // One request line, written by the request object (the space encoded).
  EXPECT_EQ("POST /svc/op%20x?y=1 HTTP/1.1", lines[0]);
  EXPECT_EQ(1u, CountPrefix(lines, "POST "));
  // NetOutput's fields in NetOutput's order, each once and as written.
  const std::vector<std::string> expected = {"User-Agent: Corvane Client/3.02", "Accept: */*",
                                             "SOAPAction: \"urn:test#Op\"",
                                             "X-Empty:", "Content-Type: text/xml; charset=utf-8"};
  size_t at = 1;
  for (const std::string& field : expected) {
    const auto found =
        std::find_if(lines.begin() + static_cast<long>(at), lines.end(),
                     [&](const std::string& line) { return line == field || line == field + " "; });
    ASSERT_NE(lines.end(), found) << field << " missing or out of order in:\n" << server.header;
    at = static_cast<size_t>(found - lines.begin()) + 1;
  }
  EXPECT_EQ(1u, CountPrefix(lines, "Content-Length: 10"));
  EXPECT_EQ(1u, CountPrefix(lines, "Content-Length:"));
  EXPECT_EQ(1u, CountPrefix(lines, "Content-Type:"));
  EXPECT_EQ(1u, CountPrefix(lines, "User-Agent:"));
  EXPECT_EQ(0u, CountPrefix(lines, "Expect:"));
  EXPECT_EQ(body, server.body);
}

TEST_F(WinHttpSockTest, ResponseBodiesArriveWholeAndDeChunked) {
  const std::string large = Bytes(3 * 1024 * 1024 + 17);
  const std::string small = Bytes(70000);
  struct Case {
    const char* name;
    std::string reply;
    const char* status;
    std::string content;
  } cases[] = {
      {"by length",
       "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(large.size()) + "\r\n\r\n" + large,
       "200", large},
      {"chunked",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
           Chunked(large, {1, 4096, 700001, 3, 65536}),
       "200", large},
      {"until close", "HTTP/1.0 200 OK\r\nContent-Type: x/y\r\n\r\n" + small, "200", small},
      {"after 100 Continue",
       "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 201 Created\r\nContent-Length: 2\r\n\r\nok", "201",
       "ok"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    OneShotServer server(c.reply);
    WinHttpSock socket(0, nullptr, false);
    socket.SetTimeOut(0, kWaitLimitMs);
    ASSERT_EQ(1, socket.Connect("127.0.0.1", server.Port()));
    NetOutput request(&socket);
    EXPECT_EQ(0, request.Send(2, false, "GET", "/x"));
    NetInput response(&socket);
    EXPECT_EQ(static_cast<int>(c.content.size()), response.Receive());
    EXPECT_STREQ(c.status, response.GetHeader("HTTPStatus"));
    EXPECT_EQ(nullptr, response.GetHeader("Transfer-Encoding"));
    EXPECT_TRUE(ContentOf(response) == c.content) << ContentOf(response).size();
  }
}

TEST_F(WinHttpSockTest, SmallReadsReassembleAChunkedBody) {
  const std::string body = Bytes(900000);
  OneShotServer server("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" +
                       Chunked(body, {100000, 7, 524288}));
  WinHttpSock socket(0, nullptr, false);
  socket.SetTimeOut(0, kWaitLimitMs);
  ASSERT_EQ(1, socket.Connect("127.0.0.1", server.Port()));
  ASSERT_TRUE(socket.OpenHttpRequest("GET", "/"));
  const std::string header = "Accept: */*\r\n\r\n";
  ASSERT_EQ(0, socket.SendHttpMessage(header.data(), static_cast<int>(header.size()), nullptr, 0));
  KVMapImp<StringMap> fields;
  ASSERT_TRUE(socket.ReadHTTPHeader(&fields));
  EXPECT_EQ(nullptr, fields.Get("Transfer-Encoding"));
  std::string received;
  char piece[7];
  for (int count; (count = socket.Read(piece, sizeof piece)) > 0;) received.append(piece, count);
  EXPECT_TRUE(received == body) << received.size();
}

TEST_F(WinHttpSockTest, BodyAnnouncedInTheHeaderIsCompletedThroughWrite) {
  OneShotServer server("HTTP/1.1 204 No Content\r\n\r\n");
  WinHttpSock socket(0, nullptr, false);
  socket.SetTimeOut(0, kWaitLimitMs);
  ASSERT_EQ(1, socket.Connect("127.0.0.1", server.Port()));
  ASSERT_TRUE(socket.OpenHttpRequest("PUT", "/upload"));
  const std::string header = "X-A: 1\r\nContent-Length: 10\r\n\r\n";
  EXPECT_EQ(10, socket.SendHttpHeader(header.data(), static_cast<int>(header.size()), 10));
  EXPECT_EQ(4, socket.Write("abcd", 4));
  EXPECT_EQ(6, socket.Write("efghij", 6));
  {
    LogCapture log;
    EXPECT_EQ(0, socket.Write("k", 1));  // past the announced length
    EXPECT_THAT(log.Text(), HasSubstr("Error sending data to server.\n"));
  }
  KVMapImp<StringMap> fields;
  ASSERT_TRUE(socket.ReadHTTPHeader(&fields));
  EXPECT_STREQ("204", fields.Get("HTTPStatus"));
  server.Join();
  EXPECT_EQ("abcdefghij", server.body);
  EXPECT_THAT(server.header, HasSubstr("PUT /upload HTTP/1.1\r\n"));
  EXPECT_THAT(server.header, HasSubstr("X-A: 1\r\n"));
}

TEST_F(WinHttpSockTest, IncompleteBodyIsNotSentAsARequest) {
  OneShotServer server("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n");
  WinHttpSock socket(0, nullptr, false);
  socket.SetTimeOut(0, kWaitLimitMs);
  ASSERT_EQ(1, socket.Connect("127.0.0.1", server.Port()));
  ASSERT_TRUE(socket.OpenHttpRequest("POST", "/"));
  const std::string header = "Content-Length: 8\r\n\r\n";
  EXPECT_EQ(8, socket.SendHttpHeader(header.data(), static_cast<int>(header.size()), 8));
  EXPECT_EQ(3, socket.Write("abc", 3));
  LogCapture log;
  KVMapImp<StringMap> fields;
  EXPECT_FALSE(socket.ReadHTTPHeader(&fields));
  EXPECT_THAT(log.Text(), HasSubstr("Error receiving HTTP response message , error="));
  EXPECT_THAT(log.Text(), HasSubstr("3 of 8 bytes"));
  socket.Close();
}

TEST_F(WinHttpSockTest, TimeOutEndsWaitsOnASilentServer) {
  // The listener never accepts: the connection completes in its backlog and
  // the request is taken by the kernel, but no answer ever comes.
  auto silent = sockettest::MakeListener();
  WinHttpSock socket(0, nullptr, false);
  socket.SetTimeOut(SO_RCVTIMEO, 300);
  ASSERT_EQ(1, socket.Connect("127.0.0.1", silent->GetLocalPort()));
  ASSERT_TRUE(socket.OpenHttpRequest("GET", "/"));
  const std::string header = "Accept: */*\r\n\r\n";
  ASSERT_EQ(0, socket.SendHttpMessage(header.data(), static_cast<int>(header.size()), nullptr, 0));
  LogCapture log;
  const auto start = Clock::now();
  KVMapImp<StringMap> fields;
  EXPECT_FALSE(socket.ReadHTTPHeader(&fields));
  const auto waited = Clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(250));
  EXPECT_LT(waited, std::chrono::milliseconds(3000));
  EXPECT_THAT(log.Text(), HasSubstr("Error receiving HTTP response message , error=28\n"));
  EXPECT_THAT(log.Text(), HasSubstr("Timed out after 300 ms"));
}

TEST_F(WinHttpSockTest, TimeOutEndsABodyThatStopsComing) {
  OneShotServer server("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789", 2500);
  WinHttpSock socket(0, nullptr, false);
  socket.SetTimeOut(0, 300);
  ASSERT_EQ(1, socket.Connect("127.0.0.1", server.Port()));
  ASSERT_TRUE(socket.OpenHttpRequest("GET", "/"));
  ASSERT_EQ(0, socket.SendHttpMessage("\r\n", 2, nullptr, 0));
  KVMapImp<StringMap> fields;
  ASSERT_TRUE(socket.ReadHTTPHeader(&fields));
  char buffer[100];
  const auto start = Clock::now();
  EXPECT_EQ(10, socket.Read(buffer, sizeof buffer));
  LogCapture log;
  EXPECT_EQ(0, socket.Read(buffer, sizeof buffer));
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_THAT(log.Text(), HasSubstr("Error reading response messages.\n"));
}

TEST_F(WinHttpSockTest, FailuresAreReportedAndLogged) {
  LogCapture log;
  {
    WinHttpSock socket(0, nullptr, false);
    EXPECT_EQ(-1, socket.Connect(nullptr, 80));
    EXPECT_EQ(-1, socket.Connect("", 80));
    EXPECT_THAT(log.Text(), HasSubstr("WinHttpSock::Connect - Failed in connecting to "));
    // Without a connection the request line is still never written by NetOutput.
    EXPECT_TRUE(socket.OpenHttpRequest("GET", "/"));
    EXPECT_EQ(-1, socket.SendHttpMessage("\r\n", 2, nullptr, 0));
    KVMapImp<StringMap> fields;
    EXPECT_FALSE(socket.ReadHTTPHeader(&fields));
    socket.SetTimeOut(0, -5);
    EXPECT_THAT(log.Text(), HasSubstr("in WinHttpSetTimeouts.\n"));
  }
  {
    sockettest::RefusingPort refusing;
    WinHttpSock socket(0, nullptr, false);
    ASSERT_EQ(1, socket.Connect("127.0.0.1", refusing.port));
    ASSERT_TRUE(socket.OpenHttpRequest("GET", "/"));
    EXPECT_EQ(-1, socket.SendHttpMessage("\r\n", 2, nullptr, 0));
    EXPECT_THAT(log.Text(), HasSubstr("Error sending request message - "));
  }
  {
    // Refused before anything is connected.
    sockettest::RefusingPort nobody;
    WinHttpSock socket(0, nullptr, false);
    ASSERT_EQ(1, socket.Connect("127.0.0.1", nobody.port));
    ASSERT_TRUE(socket.OpenHttpRequest("GET", "/"));
    const std::string bad = "No colon here\r\nX-B: 2\r\nbroken line\r\n\r\n";
    EXPECT_EQ(-1, socket.SendHttpMessage(bad.data(), static_cast<int>(bad.size()), nullptr, 0));
    EXPECT_THAT(log.Text(),
                HasSubstr("Error add HTTP request headers : invalid header line: broken line"));
  }
}

// A page long enough for nginx to compress, with a marker sub_filter rewrites
// (rewriting drops the length, so nginx sends that body in chunks).
std::string Page() {
  std::string page = "<html><body>\n";
  for (int line = 0; line < 3000; ++line) page += "line " + std::to_string(line) + " MARK\n";
  return page + "</body></html>\n";
}

std::string Rewritten() {
  std::string page = Page();
  for (size_t at; (at = page.find("MARK")) != std::string::npos;) page.replace(at, 4, "mark");
  return page;
}

// nginx in a private prefix folder: a plain port; TLS ports with the test
// server certificate, one from an untrusted CA and one for another host name;
// and a TLS port that asks for a client certificate and answers with what it
// got. Stopped by its pid.
class Nginx {
 public:
  enum Port { kPlain, kTls, kRogue, kWrongHost, kClientAuth, kPortCount };

  Nginx() {
    for (int& port : ports_) port = tlstest::FreePort();
    std::string pattern = ::testing::TempDir() + "winhttp-nginx-XXXXXX";
    EXPECT_NE(nullptr, ::mkdtemp(pattern.data()));
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/www/sub");
    std::ofstream(dir_ + "/www/page.html") << Page();
    std::ofstream(dir_ + "/www/sub/page.html") << Page();
    std::ofstream(dir_ + "/nginx.conf") << Config();
    process_ = std::make_unique<tlstest::PeerProcess>(std::vector<std::string>{
        "/usr/sbin/nginx", "-p", dir_, "-e", dir_ + "/error.log", "-c", dir_ + "/nginx.conf", "-g",
        "daemon off; pid " + dir_ + "/nginx.pid;"});
    ready_ = true;
    for (int port : ports_) ready_ = ready_ && peertest::WaitForPort(port, 5000);
    EXPECT_TRUE(ready_) << process_->Output() << tlstest::ReadText(dir_ + "/error.log");
  }
  ~Nginx() {
    process_.reset();
    std::filesystem::remove_all(dir_);
  }
  int operator[](Port which) const { return ports_[which]; }
  bool Ready() const { return ready_; }

 private:
  std::string Server(Port which, const std::string& certificate, const std::string& extra) const {
    const TestCertificates& certs = TestCertificates::Get();
    std::string text = "  server {\n    listen 127.0.0.1:" + std::to_string(ports_[which]) +
                       (certificate.empty() ? "" : " ssl") + ";\n" +
                       "    location /sub/ { sub_filter MARK mark; sub_filter_once off; }\n" +
                       extra;
    if (!certificate.empty()) {
      text += "    ssl_certificate " + certs.Cert(certificate) + ";\n" +
              "    ssl_certificate_key " + certs.Key(certificate) + ";\n";
    }
    return text + "  }\n";
  }

  std::string Config() const {
    const TestCertificates& certs = TestCertificates::Get();
    const std::string temp = " " + dir_ + "/tmp-";
    const std::string clientAuth =
        "    ssl_verify_client optional;\n    ssl_client_certificate " + certs.Cert("ca") +
        ";\n    default_type text/plain;\n"
        "    location = /who { return 200 \"$ssl_client_verify $ssl_client_s_dn\"; }\n";
    return "master_process off;\nerror_log " + dir_ + "/error.log;\n" +
           "events { worker_connections 32; }\nhttp {\n  access_log " + dir_ + "/access.log;\n" +
           "  client_body_temp_path" + temp + "body;\n  proxy_temp_path" + temp + "proxy;\n" +
           "  fastcgi_temp_path" + temp + "fastcgi;\n  uwsgi_temp_path" + temp + "uwsgi;\n" +
           "  scgi_temp_path" + temp + "scgi;\n" +
           "  gzip on;\n  gzip_min_length 0;\n  gzip_types *;\n  root " + dir_ + "/www;\n" +
           Server(kPlain, "", "") + Server(kTls, "server", "") + Server(kRogue, "rogue", "") +
           Server(kWrongHost, "wronghost", "") + Server(kClientAuth, "server", clientAuth) + "}\n";
  }

  int ports_[kPortCount] = {};
  std::string dir_;
  std::unique_ptr<tlstest::PeerProcess> process_;
  bool ready_ = false;
};

struct Fetched {
  int result = -2;
  std::string status;
  std::string content;
  bool transferEncoding = false;
};

// One GET through a WinHttpSock and NetOutput/NetInput, as the HTTP client does it.
Fetched Fetch(int port, bool secure, const char* path, const char* certificate = nullptr,
              const char* acceptEncoding = nullptr) {
  WinHttpSock socket(0, certificate, secure);
  socket.SetTimeOut(0, kWaitLimitMs);
  Fetched fetched;
  if (socket.Connect("127.0.0.1", port) != 1) return fetched;
  NetOutput request(&socket);
  if (acceptEncoding != nullptr) request.AddHeader("Accept-Encoding", acceptEncoding);
  fetched.result = request.Send(2, false, "GET", path);
  if (fetched.result < 0) return fetched;
  NetInput response(&socket);
  fetched.result = response.Receive();
  if (const char* status = response.GetHeader("HTTPStatus")) fetched.status = status;
  fetched.content = ContentOf(response);
  fetched.transferEncoding = response.GetHeader("Transfer-Encoding") != nullptr;
  return fetched;
}

TEST_F(WinHttpSockTest, NginxResponsesPlainAndTls) {
  Nginx nginx;
  ASSERT_TRUE(nginx.Ready());
  ScopedEnv trust("SSL_CERT_FILE", TestCertificates::Get().Cert("ca").c_str());
  struct Case {
    const char* name;
    Nginx::Port port;
    const char* path;
    const char* encoding;
    std::string content;
  } cases[] = {
      {"by length", Nginx::kPlain, "/page.html", nullptr, Page()},
      {"chunked", Nginx::kPlain, "/sub/page.html", nullptr, Rewritten()},
      {"chunked gzip", Nginx::kPlain, "/sub/page.html", "gzip", Rewritten()},
      {"gzip over TLS", Nginx::kTls, "/page.html", "gzip", Page()},
      {"chunked over TLS", Nginx::kTls, "/sub/page.html", nullptr, Rewritten()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Fetched fetched =
        Fetch(nginx[c.port], c.port == Nginx::kTls, c.path, nullptr, c.encoding);
    EXPECT_GT(fetched.result, 0);
    EXPECT_EQ("200", fetched.status);
    EXPECT_FALSE(fetched.transferEncoding);
    EXPECT_TRUE(fetched.content == c.content) << fetched.content.substr(0, 100);
    if (c.encoding != nullptr) {
      EXPECT_LT(fetched.result, static_cast<int>(c.content.size()));
    }
  }
}

TEST_F(WinHttpSockTest, UntrustedServersAreRefused) {
  Nginx nginx;
  ASSERT_TRUE(nginx.Ready());
  struct Case {
    const char* name;
    Nginx::Port port;
    bool trustTestCa;
    const char* reason;
  } cases[] = {
      {"untrusted CA", Nginx::kRogue, true, "unable to get local issuer certificate"},
      {"other host name", Nginx::kWrongHost, true,
       "subject name matches target host name '127.0.0.1'"},
      {"test CA not trusted", Nginx::kTls, false, "unable to get local issuer certificate"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv trust("SSL_CERT_FILE",
                    c.trustTestCa ? TestCertificates::Get().Cert("ca").c_str() : nullptr);
    LogCapture log;
    const Fetched fetched = Fetch(nginx[c.port], true, "/page.html");
    EXPECT_EQ(-1, fetched.result);
    EXPECT_THAT(log.Text(), HasSubstr("Error sending request message - "));
    EXPECT_THAT(log.Text(), HasSubstr(c.reason));
  }
}

TEST_F(WinHttpSockTest, ClientCertificateIsPresentedWhenAsked) {
  Nginx nginx;
  ASSERT_TRUE(nginx.Ready());
  const TestCertificates& certs = TestCertificates::Get();
  ScopedEnv trust("SSL_CERT_FILE", certs.Cert("ca").c_str());
  // The certificate store: "<subject>.pem" holding certificate and key.
  const std::string store = certs.Dir() + "/store";
  std::filesystem::create_directories(store);
  std::ofstream(store + "/Corvane Test Client.pem")
      << tlstest::ReadText(certs.Cert("client")) << tlstest::ReadText(certs.Key("client"));
  ScopedEnv storeDir("CORVANE_CERTS", store.c_str());
  struct Case {
    const char* subject;
    const char* answer;
    const char* log;
  } cases[] = {
      {"Corvane Test Client", "SUCCESS CN=Corvane Test Client", nullptr},
      {nullptr, "NONE ", nullptr},
      {"Nobody Here", "NONE ",
       "Certificate for subject Nobody Here could not be located in store MY.\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.subject != nullptr ? c.subject : "<none>");
    LogCapture log;
    const Fetched fetched = Fetch(nginx[Nginx::kClientAuth], true, "/who", c.subject);
    EXPECT_EQ("200", fetched.status);
    EXPECT_EQ(c.answer, fetched.content);
    if (c.log != nullptr) {
      EXPECT_THAT(log.Text(), HasSubstr(c.log));
    }
  }
}

}  // namespace
