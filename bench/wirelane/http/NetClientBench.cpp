// Fetches a 1 KB and a 1 MB file from a local nginx, one connection per request, through NetClient
// and through libcurl (a fresh easy handle each) in the same process, and prints requests per
// second for both and their ratio.
#include <curl/curl.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "wirelane/http/NetClient.h"
#include "wirelane/sockets/SocketStartup.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

// Requests per client and file; alternating blocks of this many requests
// share out the drift of the machine (the two cores differ in speed).
constexpr int kDefaultRequests = 2000;
constexpr int kBlock = 50;

// Bytes that are not all alike, so a body mixed up on the way shows.
std::string FileBytes(size_t size) {
  std::string bytes(size, '\0');
  unsigned state = 12345;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 16);
  }
  return bytes;
}

int FreePort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  int port = 0;
  if (::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length) == 0)
    port = ntohs(address.sin_port);
  ::close(probe);
  return port;
}

// nginx (one process, no access log) in a private temporary folder serving
// the given files on 127.0.0.1; stopped by its pid.
class LocalNginx {
 public:
  explicit LocalNginx(const std::vector<std::pair<std::string, std::string>>& files)
      : port_(FreePort()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "netclient-bench-XXXXXX");
    if (::mkdtemp(pattern.data()) == nullptr) return;
    dir_ = pattern;
    std::filesystem::create_directories(dir_ + "/www");
    for (const auto& [name, bytes] : files)
      std::ofstream(dir_ + "/www/" + name, std::ios::binary) << bytes;
    std::ofstream(dir_ + "/nginx.conf") << Config();
    const std::vector<std::string> args = {"/usr/sbin/nginx", "-p", dir_, "-e", dir_ + "/error.log",
                                           "-c", dir_ + "/nginx.conf", "-g",
                                           "daemon off; pid " + dir_ + "/nginx.pid;"};
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ready_ = pid_ > 0 && WaitForPort();
  }
  ~LocalNginx() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }
  LocalNginx(const LocalNginx&) = delete;
  LocalNginx& operator=(const LocalNginx&) = delete;

  bool Ready() const { return ready_; }
  std::string Url(const std::string& name) const {
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + name;
  }

 private:
  std::string Config() const {
    const std::string temp = " " + dir_ + "/tmp-";
    return "master_process off;\nerror_log " + dir_ + "/error.log;\n" +
           "events { worker_connections 256; }\n"
           "http {\n  access_log off;\n  sendfile on;\n" +
           "  client_body_temp_path" + temp + "body;\n  proxy_temp_path" + temp + "proxy;\n" +
           "  fastcgi_temp_path" + temp + "fastcgi;\n  uwsgi_temp_path" + temp + "uwsgi;\n" +
           "  scgi_temp_path" + temp + "scgi;\n  root " + dir_ + "/www;\n" +
           "  server {\n    listen 127.0.0.1:" + std::to_string(port_) + " backlog=1024;\n  }\n}\n";
  }

  // Probes with a bare socket: a refused CSocket connection would be logged.
  bool WaitForPort() const {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port_));
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (Clock::now() < deadline) {
      const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
      const bool connected =
          ::connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
      ::close(probe);
      if (connected) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  int port_;
  pid_t pid_ = -1;
  std::string dir_;
  bool ready_ = false;
};

// One GET through a new NetClient; true when the body came whole.
bool FetchWithNetClient(const std::string& url, const std::string& expected) {
  NetClient client;
  const char* body = client.RetrieveFile("GET", url.c_str());
  return body != nullptr && static_cast<size_t>(client.GetContentLength()) == expected.size() &&
         std::memcmp(body, expected.data(), 64) == 0 &&
         std::memcmp(body + expected.size() - 64, expected.data() + expected.size() - 64, 64) == 0;
}

size_t CollectBody(char* data, size_t size, size_t count, void* target) {
  static_cast<std::string*>(target)->append(data, size * count);
  return size * count;
}

// One GET through a fresh libcurl easy handle with its default settings. The
// body goes into one string kept for all requests, the way a careful caller
// collects bodies: its memory is already in place after the first request.
bool FetchWithCurl(const std::string& url, const std::string& expected) {
  CURL* handle = curl_easy_init();
  if (handle == nullptr) return false;
  static std::string body;
  body.clear();
  curl_easy_setopt(handle, CURLOPT_URL, url.c_str());
  curl_easy_setopt(handle, CURLOPT_WRITEFUNCTION, CollectBody);
  curl_easy_setopt(handle, CURLOPT_WRITEDATA, &body);
  const CURLcode code = curl_easy_perform(handle);
  long status = 0;
  curl_easy_getinfo(handle, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(handle);
  return code == CURLE_OK && status == 200 && body == expected;
}

struct Figures {
  double netclient_rate = 0;
  double curl_rate = 0;
  int failures = 0;
};

// requests GETs of url through each client, in alternating blocks (the order
// of the two flips every block), timed separately.
Figures Compare(const std::string& url, const std::string& expected, int requests) {
  Figures figures;
  for (int i = 0; i < 5; ++i) {  // warm-up: connections, caches, pools
    FetchWithNetClient(url, expected);
    FetchWithCurl(url, expected);
  }
  Clock::duration netclient_time{};
  Clock::duration curl_time{};
  auto run_block = [&](bool netclient, int count) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      const bool whole =
          netclient ? FetchWithNetClient(url, expected) : FetchWithCurl(url, expected);
      if (!whole) ++figures.failures;
    }
    (netclient ? netclient_time : curl_time) += Clock::now() - start;
  };
  for (int done = 0, block = 0; done < requests; done += kBlock, ++block) {
    const int count = std::min(kBlock, requests - done);
    const bool netclient_first = block % 2 == 0;
    run_block(netclient_first, count);
    run_block(!netclient_first, count);
  }
  figures.netclient_rate = requests / std::chrono::duration<double>(netclient_time).count();
  figures.curl_rate = requests / std::chrono::duration<double>(curl_time).count();
  return figures;
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRequests;
  const std::string small = FileBytes(1024);
  const std::string large = FileBytes(1024 * 1024);
  LocalNginx nginx({{"1k.bin", small}, {"1m.bin", large}});
  if (!nginx.Ready()) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  WSAStartup(0x0202, nullptr);
  curl_global_init(CURL_GLOBAL_DEFAULT);

  struct Case {
    const char* name;
    const char* file;
    const std::string& bytes;
    const char* target;
    double least_ratio;
  } cases[] = {{"1 KB", "1k.bin", small, "target >= 1.00", 1.0},
               {"1 MB", "1m.bin", large, "target >= 0.90", 0.9}};
  bool failed = false;
  std::printf("%d sequential GETs per client and file, one connection each\n", requests);
  for (const Case& c : cases) {
    const Figures figures = Compare(nginx.Url(c.file), c.bytes, requests);
    const double ratio = figures.netclient_rate / figures.curl_rate;
    std::printf("%-5s NetClient %8.0f req/s   libcurl %8.0f req/s   NetClient/libcurl %.2f (%s)%s\n",
                c.name, figures.netclient_rate, figures.curl_rate, ratio, c.target,
                figures.failures != 0 ? "  BODIES WRONG" : "");
    if (figures.failures != 0) {
      std::printf("      %d requests did not bring the whole file\n", figures.failures);
      failed = true;
    }
  }
  curl_global_cleanup();
  WSACleanup();
  return failed ? 1 : 0;
}
