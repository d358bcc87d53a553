// Parses a typical HTTP response (600-byte header block, 1 KB body) with NetInput, from memory and
// over loopback, next to the classic C http_parser on the same bytes, and prints the ratios.
#include <benchmark/benchmark.h>
#include <http_parser.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/support/RatioReporter.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/sockets/CSocket.h"

namespace {

std::string TypicalResponse() {
  const std::string body(1024, 'x');
  std::string header =
      "HTTP/1.1 200 OK\r\n"
      "Date: Fri, 11 Dec 2026 10:00:00 GMT\r\n"
      "Server: Apache/2.4.57 (Debian)\r\n"
      "Last-Modified: Thu, 10 Dec 2026 09:00:00 GMT\r\n"
      "ETag: \"400-5f0a1b2c3d4e5\"\r\n"
      "Accept-Ranges: bytes\r\n"
      "Cache-Control: max-age=3600, public\r\n"
      "Expires: Fri, 11 Dec 2026 11:00:00 GMT\r\n"
      "Vary: Accept-Encoding,User-Agent\r\n"
      "X-Content-Type-Options: nosniff\r\n"
      "X-Frame-Options: SAMEORIGIN\r\n"
      "Set-Cookie: session=abcdef0123456789; Path=/; HttpOnly\r\n"
      "Keep-Alive: timeout=5, max=100\r\n"
      "Connection: Keep-Alive\r\n"
      "Content-Type: text/xml; charset=utf-8\r\n";
  header += "X-Padding: " + std::string(600 - header.size() - 60, 'p') + "\r\n";
  header += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  return header + body;
}

const std::string& Message() {
  static const std::string message = TypicalResponse();
  return message;
}

// Serves the message from memory, again and again, as if it came off the wire.
// Its own (unconnected) descriptor only keeps the socket open.
class MemorySocket : public CSocket {
 public:
  void Rewind() { at_ = 0; }

 protected:
  int ReadData(unsigned, char* buffer, unsigned size) override {
    const size_t left = Message().size() - at_;
    const size_t count = size < left ? size : left;
    std::memcpy(buffer, Message().data() + at_, count);
    at_ += count;
    return static_cast<int>(count);
  }

 private:
  size_t at_ = 0;
};

// Counts the receive calls of a real connection.
class CountingSocket : public CSocket {
 public:
  using CSocket::CSocket;
  long reads = 0;

 protected:
  int ReadData(unsigned descriptor, char* buffer, unsigned size) override {
    ++reads;
    return CSocket::ReadData(descriptor, buffer, size);
  }
};

// An HTTPSock around a connection made here.
class WrappedSock : public HTTPSock {
 public:
  explicit WrappedSock(CSocket* connection) : HTTPSock(connection, HTTPSock::Plain, -1) {}
};

void BM_NetInputFromMemory(benchmark::State& state) {
  auto* connection = new MemorySocket;
  WrappedSock socket(connection);
  for (auto _ : state) {
    connection->Rewind();
    NetInput message(&socket);
    if (message.Receive() != 1024) state.SkipWithError("message not read whole");
    benchmark::DoNotOptimize(message.GetHeader("Content-Type"));
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_NetInputOverLoopback(benchmark::State& state) {
  CSocket listener;
  listener.Listen("127.0.0.1", 0);
  auto* connection = new CountingSocket;
  connection->Connect("127.0.0.1", listener.GetLocalPort());
  std::unique_ptr<CSocket> server(listener.Accept());
  WrappedSock socket(connection);

  // The peer keeps the connection full; messages follow each other back to back.
  std::thread peer([&server] {
    std::string burst;
    for (int i = 0; i < 64; ++i) burst += Message();
    while (server->Write(burst.data(), static_cast<unsigned>(burst.size())) > 0) {
    }
  });
  long messages = 0;
  for (auto _ : state) {
    NetInput message(&socket);
    if (message.Receive() != 1024) state.SkipWithError("message not read whole");
    ++messages;
  }
  state.SetItemsProcessed(state.iterations());
  state.counters["recv_per_message"] = static_cast<double>(connection->reads) / messages;
  socket.Close();
  server->Close();
  peer.join();
}

// http_parser with callbacks that copy each field name and value and the body.
struct Copied {
  std::vector<std::pair<std::string, std::string>> fields;
  std::string body;
  bool complete = false;
};

int OnField(http_parser* parser, const char* at, size_t length) {
  static_cast<Copied*>(parser->data)->fields.emplace_back(std::string(at, length), std::string());
  return 0;
}
int OnValue(http_parser* parser, const char* at, size_t length) {
  static_cast<Copied*>(parser->data)->fields.back().second.assign(at, length);
  return 0;
}
int OnBody(http_parser* parser, const char* at, size_t length) {
  static_cast<Copied*>(parser->data)->body.append(at, length);
  return 0;
}
int OnComplete(http_parser* parser) {
  static_cast<Copied*>(parser->data)->complete = true;
  return 0;
}

void BM_HttpParserFromMemory(benchmark::State& state) {
  http_parser_settings settings{};
  settings.on_header_field = OnField;
  settings.on_header_value = OnValue;
  settings.on_body = OnBody;
  settings.on_message_complete = OnComplete;
  for (auto _ : state) {
    Copied copied;
    http_parser parser;
    http_parser_init(&parser, HTTP_RESPONSE);
    parser.data = &copied;
    http_parser_execute(&parser, &settings, Message().data(), Message().size());
    if (!copied.complete) state.SkipWithError("http_parser did not finish");
    benchmark::DoNotOptimize(copied.fields.data());
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_HttpParserFromMemory);
BENCHMARK(BM_NetInputFromMemory);
BENCHMARK(BM_NetInputOverLoopback)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  corvanebench::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double baseline = reporter.Rate("BM_HttpParserFromMemory");
  const double memory = reporter.Rate("BM_NetInputFromMemory");
  const double loopback = reporter.Rate("BM_NetInputOverLoopback");
  if (baseline > 0) {
    std::printf("\nmessages per second: http_parser %.0f, NetInput from memory %.0f, over loopback %.0f\n",
                baseline, memory, loopback);
    std::printf("http_parser / NetInput (target: within 3x):");
    if (memory > 0) std::printf(" from memory %.2fx", baseline / memory);
    if (loopback > 0) std::printf(" over loopback %.2fx", baseline / loopback);
    std::printf("\n");
  }
  benchmark::Shutdown();
  return 0;
}
