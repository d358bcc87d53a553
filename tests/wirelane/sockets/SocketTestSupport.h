// Loopback connections, instrumented sockets and log capture shared by the socket tests.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sealvault/Debug.h"
#include "wirelane/sockets/CSocket.h"

namespace sockettest {

// Every blocking step of a test gives up after this long, so a fault fails
// the test instead of hanging it.
constexpr int kWaitLimitMs = 5000;

inline void LimitWaits(CSocket& socket) {
  socket.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  socket.SetTimeOut(SO_SNDTIMEO, kWaitLimitMs);
}

// A CSocket that records the size of every piece handed to WriteData and
// counts ReadData calls, then does the plain operation.
class InstrumentedSocket : public CSocket {
 public:
  using CSocket::CSocket;

  std::vector<unsigned int> write_sizes;
  int read_calls = 0;

 protected:
  int WriteData(unsigned int descriptor, const char* data, unsigned int length) override {
    write_sizes.push_back(length);
    return CSocket::WriteData(descriptor, data, length);
  }
  int ReadData(unsigned int descriptor, char* buffer, unsigned int size) override {
    ++read_calls;
    return CSocket::ReadData(descriptor, buffer, size);
  }
};

// A listener on 127.0.0.1 and a free port, whose Accept gives up in time.
template <class Listener = CSocket>
std::unique_ptr<Listener> MakeListener(const SocketPropertyMap* properties = nullptr) {
  auto listener = std::make_unique<Listener>(CSocket::kNoDescriptor, nullptr, properties);
  EXPECT_EQ(0, listener->Listen("127.0.0.1", 0));
  EXPECT_GT(listener->GetLocalPort(), 0);
  listener->SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  return listener;
}

template <class Client>
struct Connection {
  std::unique_ptr<Client> client;
  std::unique_ptr<CSocket> server;  // the accepted end
};

// Connects a new Client to listener and accepts it.
template <class Client = CSocket>
Connection<Client> Connect(CSocket& listener) {
  Connection<Client> connection;
  connection.client = std::make_unique<Client>();
  LimitWaits(*connection.client);
  EXPECT_EQ(0, connection.client->Connect("127.0.0.1", listener.GetLocalPort()));
  connection.server.reset(listener.Accept());
  EXPECT_NE(nullptr, connection.server);
  if (connection.server) LimitWaits(*connection.server);
  return connection;
}

// Everything the peer sends until it closes (or the wait limit passes).
inline std::string ReadAll(CSocket& socket) {
  std::string all;
  char piece[4096];
  int count;
  while ((count = socket.Read(piece, sizeof piece)) > 0)
    all.append(piece, static_cast<size_t>(count));
  return all;
}

// A port with a bound socket that does not listen: connections are refused and
// no other test can take the port meanwhile.
struct RefusingPort {
  RefusingPort() {
    descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(0, ::bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address));
    socklen_t length = sizeof address;
    ::getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
  }
  ~RefusingPort() { ::close(descriptor); }
  int descriptor;
  int port = 0;
};

// Sends the log of the enclosed scope to a private file and hands its text back.
class LogCapture {
 public:
  LogCapture() {
    static std::atomic<int> counter{0};
    path_ = ::testing::TempDir() + "socket-log-" + std::to_string(::getpid()) + "-" +
            std::to_string(counter++) + ".txt";
    EXPECT_TRUE(Debug::SetLogFile(path_.c_str()));
  }
  ~LogCapture() {
    Debug::SetLogFile(nullptr);
    ::unlink(path_.c_str());
  }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string Text() const {
    std::ifstream file(path_);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }

 private:
  std::string path_;
};

}  // namespace sockettest
