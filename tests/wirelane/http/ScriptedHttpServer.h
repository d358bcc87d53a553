// An in-process HTTP peer on loopback that records each request and answers scripted bytes.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wirelane/sockets/CSocket.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace httptest {

// One request as the server read it: the header block (request line and
// fields, CR LF separated, without the blank line) and the body.
struct Request {
  std::string header;
  std::string body;

  std::string Line() const { return header.substr(0, header.find("\r\n")); }
  // The value of the first field called name (any case), or "<none>".
  std::string Field(const std::string& name) const {
    std::string lower = Lower(header);
    const std::string key = "\r\n" + Lower(name) + ":";
    const size_t at = lower.find(key);
    if (at == std::string::npos) return "<none>";
    size_t start = at + key.size();
    while (start < header.size() && header[start] == ' ') ++start;
    return header.substr(start, header.find("\r\n", start) - start);
  }
  static std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
  }
};

// A complete response with Content-Length for body.
inline std::string Response(const std::string& status, const std::string& fields,
                            const std::string& body = "") {
  return "HTTP/1.1 " + status + "\r\n" + fields + "Content-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

// Serves connections one after another on its own thread: reads a request
// (header and Content-Length body), records it, writes what answer returns
// for it (request index from 0) and closes. Every wait is bounded.
class ScriptedServer {
 public:
  using Answer = std::function<std::string(int index, const Request& request)>;

  explicit ScriptedServer(Answer answer) : answer_(std::move(answer)) {
    listener_ = sockettest::MakeListener();
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    // A connection of our own ends the thread's wait in Accept.
    CSocket wake;
    wake.Connect("127.0.0.1", Port());
    thread_.join();
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return listener_->GetLocalPort(); }
  std::string Url(const std::string& path = "/") const {
    return "http://127.0.0.1:" + std::to_string(Port()) + path;
  }
  std::vector<Request> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }
  size_t Count() const { return Requests().size(); }

 private:
  void Serve() {
    while (!stop_) {
      std::unique_ptr<CSocket> peer(listener_->Accept());
      if (!peer || stop_) continue;
      sockettest::LimitWaits(*peer);
      Request request;
      if (!ReadRequest(*peer, request)) continue;
      int index;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        index = static_cast<int>(requests_.size()) - 1;
      }
      const std::string reply = answer_(index, request);
      if (!reply.empty()) {
        peer->Write(reply.data(), static_cast<unsigned>(reply.size()));
        peer->Flush();
      }
    }
  }

  static bool ReadRequest(CSocket& peer, Request& request) {
    std::string line;
    while (peer.ReadLine(line) > 0 && line != "\r\n") request.header += line;
    if (line != "\r\n") return false;
    if (request.header.size() >= 2) request.header.resize(request.header.size() - 2);
    const std::string length = request.Field("Content-Length");
    request.body.resize(length == "<none>" ? 0 : std::strtoul(length.c_str(), nullptr, 10));
    // Read waits for the whole count (or the peer's end).
    return request.body.empty() ||
           peer.Read(request.body.data(), static_cast<unsigned>(request.body.size())) ==
               static_cast<int>(request.body.size());
  }

  Answer answer_;
  std::unique_ptr<CSocket> listener_;
  mutable std::mutex mutex_;
  std::vector<Request> requests_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace httptest
