// Real HTTP peers for the tests on free loopback ports: nginx, apache2 with Digest, tinyproxy.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "wirelane/sockets/TlsTestSupport.h"

namespace peertest {

// True once a TCP connection to 127.0.0.1:port succeeds, false after limit_ms.
inline bool WaitForPort(int port, int limit_ms = 10000) {
  const auto deadline = tlstest::Clock::now() + std::chrono::milliseconds(limit_ms);
  while (tlstest::Clock::now() < deadline) {
    const int probe = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool up = ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(probe);
    if (up) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

// A private folder under the test temp folder, removed with the object.
// Readable by all, as servers started by root drop to "nobody".
class TempFolder {
 public:
  explicit TempFolder(const std::string& prefix) {
    std::string pattern = ::testing::TempDir() + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
      ADD_FAILURE() << "cannot make a temporary folder";
      return;
    }
    path_ = pattern;
    ::chmod(path_.c_str(), 0755);
  }
  ~TempFolder() {
    if (!path_.empty()) std::filesystem::remove_all(path_);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// nginx with one plain and one TLS server (the test CA's "server"
// certificate for localhost and 127.0.0.1), both with the given server-block
// lines (locations, ...) and document root <dir>/www. http_lines go into the
// http block (gzip, ...). In both texts "{PLAIN}", "{TLS}" and "{DIR}" stand
// for the two ports and the server's folder. Each access log line reads
// "<port> <request line>|auth=<Authorization>|cookie=<Cookie>|proxy=<Proxy-Authorization>"
// ("-" for an absent field). Stopped by its pid.
class Nginx {
 public:
  explicit Nginx(const std::string& server_lines, const std::string& http_lines = "")
      : plain_port_(tlstest::FreePort()), tls_port_(tlstest::FreePort()), dir_("corvane-nginx") {
    std::filesystem::create_directories(Root());
    std::ofstream(Dir() + "/nginx.conf") << Config(server_lines, http_lines);
    process_ = std::make_unique<tlstest::PeerProcess>(std::vector<std::string>{
        "/usr/sbin/nginx", "-p", Dir(), "-e", Dir() + "/error.log", "-c", Dir() + "/nginx.conf",
        "-g", "daemon off; pid " + Dir() + "/nginx.pid;"});
    ready_ = WaitForPort(plain_port_) && WaitForPort(tls_port_);
    EXPECT_TRUE(ready_) << process_->Output() << tlstest::ReadText(Dir() + "/error.log");
  }
  ~Nginx() { process_.reset(); }  // stopped before its folder goes

  int PlainPort() const { return plain_port_; }
  int TlsPort() const { return tls_port_; }
  bool Ready() const { return ready_; }
  const std::string& Dir() const { return dir_.Path(); }
  // The document root; tests put their files here.
  std::string Root() const { return Dir() + "/www"; }
  // Lines of the access log written so far (format "main" unless the
  // http_lines define another and the server lines use it).
  std::string AccessLog() const { return tlstest::ReadText(Dir() + "/access.log"); }

 private:
  std::string Config(const std::string& server_lines, const std::string& http_lines) const {
    const tlstest::TestCertificates& certs = tlstest::TestCertificates::Get();
    const std::string temp = " " + Dir() + "/tmp-";
    std::string config = "master_process off;\nerror_log " + Dir() + "/error.log;\n" +
                         "events { worker_connections 64; }\nhttp {\n" + Expand(http_lines) +
                         "  log_format peer '$server_port $request|auth=$http_authorization|"
                         "cookie=$http_cookie|proxy=$http_proxy_authorization';\n"
                         "  access_log " +
                         Dir() + "/access.log peer;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
      config += std::string("  ") + kind + "_temp_path" + temp + kind + ";\n";
    config += "  root " + Root() + ";\n";
    config += "  server {\n    listen 127.0.0.1:" + std::to_string(plain_port_) + ";\n" +
              Expand(server_lines) + "  }\n";
    config += "  server {\n    listen 127.0.0.1:" + std::to_string(tls_port_) + " ssl;\n" +
              "    ssl_certificate " + certs.Cert("server") + ";\n" + "    ssl_certificate_key " +
              certs.Key("server") + ";\n" + Expand(server_lines) + "  }\n}\n";
    return config;
  }

  std::string Expand(std::string text) const {
    const std::pair<std::string, std::string> names[] = {{"{PLAIN}", std::to_string(plain_port_)},
                                                         {"{TLS}", std::to_string(tls_port_)},
                                                         {"{DIR}", Dir()}};
    for (const auto& [name, value] : names) {
      for (size_t at; (at = text.find(name)) != std::string::npos;)
        text.replace(at, name.size(), value);
    }
    return text;
  }

  int plain_port_;
  int tls_port_;
  TempFolder dir_;
  std::unique_ptr<tlstest::PeerProcess> process_;
  bool ready_ = false;
};

// apache2 with mod_auth_digest, guarding /private with an htdigest user file
// for realm; /private/secret.txt holds "the secret\n". Stopped by its pid.
class DigestApache {
 public:
  static constexpr const char* kUser = "alice";
  static constexpr const char* kPassword = "open-sesame";

  explicit DigestApache(std::string realm = "corvane-test")
      : realm_(std::move(realm)), port_(tlstest::FreePort()), dir_("corvane-apache") {
    if (Dir().empty()) return;
    std::filesystem::create_directories(Dir() + "/htdocs/private");
    std::ofstream(Dir() + "/htdocs/private/secret.txt") << "the secret\n";
    tlstest::PeerProcess htdigest({"htdigest", "-c", Dir() + "/digest.pw", realm_, kUser},
                                  std::string(kPassword) + "\n" + kPassword + "\n");
    htdigest.CloseInput();
    EXPECT_EQ(0, htdigest.WaitExit()) << htdigest.Output();
    for (const std::string file : {"/digest.pw", "/htdocs/private/secret.txt"}) {
      std::filesystem::permissions(Dir() + file, std::filesystem::perms::others_read,
                                   std::filesystem::perm_options::add);
    }
    WriteConfig();
    server_ = std::make_unique<tlstest::PeerProcess>(std::vector<std::string>{
        "/usr/sbin/apache2", "-X", "-d", Dir(), "-f", Dir() + "/httpd.conf"});
    ready_ = WaitForPort(port_);
    EXPECT_TRUE(ready_) << "apache2 did not start:\n" << server_->Output() << ErrorLog();
  }
  ~DigestApache() { server_.reset(); }

  // apache2 and htdigest come from scripts/setup-deps.sh.
  static bool Installed() {
    return ::access("/usr/sbin/apache2", X_OK) == 0 && ::access("/usr/bin/htdigest", X_OK) == 0;
  }
  int Port() const { return port_; }
  bool Ready() const { return ready_; }
  const std::string& Realm() const { return realm_; }
  const std::string& Dir() const { return dir_.Path(); }
  std::string ErrorLog() const { return tlstest::ReadText(Dir() + "/error.log"); }

 private:
  void WriteConfig() {
    const std::string modules = "/usr/lib/apache2/modules/";
    std::ofstream conf(Dir() + "/httpd.conf");
    conf << "ServerRoot \"" << Dir() << "\"\nServerName 127.0.0.1\n"
         << "Listen 127.0.0.1:" << port_ << "\nPidFile \"" << Dir() << "/httpd.pid\"\n"
         << "DefaultRuntimeDir \"" << Dir() << "\"\nErrorLog \"" << Dir() << "/error.log\"\n"
         << "LogLevel warn auth_digest:info\nUser nobody\nGroup nogroup\n";
    for (const char* module :
         {"mpm_prefork", "authn_core", "authn_file", "authz_core", "authz_user", "auth_digest"}) {
      conf << "LoadModule " << module << "_module " << modules << "mod_" << module << ".so\n";
    }
    conf << "DocumentRoot \"" << Dir() << "/htdocs\"\n<Location \"/private\">\n"
         << "  AuthType Digest\n  AuthName \"" << realm_ << "\"\n"
         << "  AuthUserFile \"" << Dir() << "/digest.pw\"\n  Require valid-user\n</Location>\n";
  }

  std::string realm_;
  int port_;
  TempFolder dir_;
  std::unique_ptr<tlstest::PeerProcess> server_;
  bool ready_ = false;
};

// tinyproxy as a forward proxy on a free loopback port, allowing CONNECT to
// connect_ports only, and demanding Basic proxy credentials when user is not
// empty. Stopped by its pid.
class TinyProxy {
 public:
  explicit TinyProxy(const std::vector<int>& connect_ports, const std::string& user = "",
                     const std::string& password = "")
      : port_(tlstest::FreePort()), dir_("corvane-tinyproxy") {
    {
      std::ofstream conf(Dir() + "/tinyproxy.conf");
      conf << "Port " << port_ << "\nListen 127.0.0.1\nAllow 127.0.0.1\nTimeout 30\n"
           << "MaxClients 20\nLogLevel Info\nLogFile \"" << Dir() << "/tinyproxy.log\"\n";
      for (int connect_port : connect_ports) conf << "ConnectPort " << connect_port << "\n";
      if (!user.empty()) conf << "BasicAuth " << user << " " << password << "\n";
    }
    // A root start drops to nobody, which must write the log.
    ::chmod(Dir().c_str(), 0777);
    process_ = std::make_unique<tlstest::PeerProcess>(
        std::vector<std::string>{"tinyproxy", "-d", "-c", Dir() + "/tinyproxy.conf"});
    ready_ = WaitForPort(port_);
    EXPECT_TRUE(ready_) << "tinyproxy did not start:\n" << process_->Output() << Log();
  }
  ~TinyProxy() { process_.reset(); }

  static bool Installed() {
    return ::access("/usr/bin/tinyproxy", X_OK) == 0 || ::access("/usr/sbin/tinyproxy", X_OK) == 0;
  }
  int Port() const { return port_; }
  bool Ready() const { return ready_; }
  const std::string& Dir() const { return dir_.Path(); }
  std::string Log() const { return tlstest::ReadText(Dir() + "/tinyproxy.log"); }

 private:
  int port_;
  TempFolder dir_;
  std::unique_ptr<tlstest::PeerProcess> process_;
  bool ready_ = false;
};

}  // namespace peertest
