// Loopback connections between HTTP sockets, shared by the HTTP message and socket tests.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <string>

#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace httptest {

// A listening plain HTTPSock with the given MaxPostSize, a Client (a raw
// CSocket or an HTTPSock) connected to it and the accepted server end. Every
// wait gives up after sockettest::kWaitLimitMs.
template <class Client>
struct Wire {
  explicit Wire(int maxPostSize = -1)
      : listener(CSocket::kNoDescriptor, nullptr, maxPostSize, HTTPSock::Plain) {
    EXPECT_EQ(0, listener.Listen("127.0.0.1", 0));
    listener.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
    client.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
    client.SetTimeOut(SO_SNDTIMEO, sockettest::kWaitLimitMs);
    EXPECT_EQ(0, client.Connect("127.0.0.1", listener.GetConnection()->GetLocalPort()));
    server.reset(listener.Accept());
    EXPECT_NE(nullptr, server);
    if (server) server->SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
  }
  // Writes bytes from the client end.
  void Send(const std::string& bytes) {
    ASSERT_EQ(static_cast<int>(bytes.size()), client.Write(bytes.data(), bytes.size()));
  }

  HTTPSock listener;
  Client client;
  std::unique_ptr<HTTPSock> server;
};

// The content of a received message as bytes (empty without content).
inline std::string ContentOf(NetInput& input) {
  const char* content = input.GetContent();
  return content == nullptr ? std::string() : std::string(content, input.GetContentLength());
}

}  // namespace httptest
