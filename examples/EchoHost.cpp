// Example host: a loopback echo server and client built only on Wirelane's public socket headers.
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "wirelane/sockets/CSocket.h"
#include "wirelane/sockets/SocketStartup.h"

namespace {

constexpr int kWaitLimitMs = 10000;

const std::vector<std::string> kLines = {
    "Hello, echo server\r\n",
    "Content-Type: text/plain\r\n",
    "A last line\r\n",
};

// Sends every line and checks that each comes back unchanged. Returns true on success.
bool RunClient(int port) {
  CSocket client;
  client.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  client.SetTimeOut(SO_SNDTIMEO, kWaitLimitMs);
  if (client.Connect("127.0.0.1", port) != 0) {
    std::printf("client: cannot connect to port %d\n", port);
    return false;
  }
  bool all_match = true;
  for (const std::string& line : kLines) {
    client.Write(line.c_str());
    char echoed[256];
    const int length = client.ReadLine(echoed, sizeof echoed);
    const bool match = length == static_cast<int>(line.size()) && line == echoed;
    std::printf("client: sent %zu bytes, echo %s\n", line.size(), match ? "matches" : "DIFFERS");
    all_match = all_match && match;
  }
  client.Close();
  return all_match;
}

// Echoes every line of one connection until the client closes. Returns the lines echoed.
int ServeOne(CSocket& listener) {
  std::unique_ptr<CSocket> connection(listener.Accept());
  if (!connection) return -1;
  connection->SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  std::printf("server: connection from %s\n", connection->GetIPAddr());
  int echoed = 0;
  std::string line;
  while (connection->ReadLine(line) > 0) {
    if (connection->Write(line.data(), static_cast<unsigned int>(line.size())) <= 0) break;
    ++echoed;
  }
  return echoed;
}

}  // namespace

int main() {
  if (WSAStartup(0x0202, nullptr) != 0) return 1;
  int status = 1;
  {
    CSocket listener;
    if (listener.Listen("127.0.0.1", 0) == 0) {
      listener.SetTimeOut(SO_RCVTIMEO,
                          kWaitLimitMs);  // Accept gives up instead of waiting for ever
      const int port = listener.GetLocalPort();
      std::printf("server: listening on 127.0.0.1:%d\n", port);
      bool client_ok = false;
      std::thread client([&] { client_ok = RunClient(port); });
      const int echoed = ServeOne(listener);
      client.join();
      std::printf("server: echoed %d lines\n", echoed);
      status = client_ok && echoed == static_cast<int>(kLines.size()) ? 0 : 1;
    } else {
      std::printf("server: cannot listen on 127.0.0.1\n");
    }
  }
  WSACleanup();
  std::printf("%s\n", status == 0 ? "echo test passed" : "echo test FAILED");
  return status;
}
