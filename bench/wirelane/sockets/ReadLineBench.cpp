// Measures CSocket::ReadLine on HTTP-style header lines over loopback: lines per second and
// receives per line.
#include <benchmark/benchmark.h>
#include <sys/socket.h>

#include <memory>
#include <string>
#include <thread>

#include "wirelane/sockets/CSocket.h"

namespace {

constexpr int kLines = 10000;
constexpr int kWaitLimitMs = 10000;

// Counts the receives ReadLine makes.
class CountingSocket : public CSocket {
 public:
  using CSocket::CSocket;
  long receives = 0;

 protected:
  int ReadData(unsigned int descriptor, char* buffer, unsigned int size) override {
    ++receives;
    return CSocket::ReadData(descriptor, buffer, size);
  }
};

std::string HeaderLines() {
  std::string block;
  for (int i = 0; i < kLines; ++i) {
    block += "Name-" + std::to_string(i) + ": value text of a typical header field " +
             std::to_string(i * 7919) + "\r\n";
  }
  return block;
}

// Reads every line; range(0) picks the form: 0 = ReadLine(std::string&),
// 1 = ReadLine(char*, size).
int ReadLines(CSocket& client, bool into_buffer) {
  int lines = 0;
  if (into_buffer) {
    char line[512];
    while (client.ReadLine(line, sizeof line) > 0) ++lines;
  } else {
    std::string line;
    while (client.ReadLine(line) > 0) ++lines;
  }
  return lines;
}

void BM_ReadLineHeaders(benchmark::State& state) {
  const bool into_buffer = state.range(0) != 0;
  CSocket listener;
  if (listener.Listen("127.0.0.1", 0) != 0) {
    state.SkipWithError("listen failed");
    return;
  }
  listener.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  const std::string block = HeaderLines();
  long lines = 0;
  long receives = 0;
  for (auto _ : state) {
    state.PauseTiming();
    CountingSocket client;
    client.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
    std::unique_ptr<CSocket> server;
    if (client.Connect("127.0.0.1", listener.GetLocalPort()) == 0) server.reset(listener.Accept());
    if (!server) {
      state.SkipWithError("connection failed");
      break;
    }
    server->SetTimeOut(SO_SNDTIMEO, kWaitLimitMs);
    state.ResumeTiming();

    std::thread writer([&] {
      server->Write(block.data(), static_cast<unsigned int>(block.size()));
      server->Close();
    });
    const int read = ReadLines(client, into_buffer);
    writer.join();
    if (read != kLines) {
      state.SkipWithError("lines lost");
      break;
    }
    lines += read;
    receives += client.receives;
  }
  state.counters["lines_per_second"] =
      benchmark::Counter(static_cast<double>(lines), benchmark::Counter::kIsRate);
  state.counters["recv_calls_per_line"] = lines > 0 ? static_cast<double>(receives) / lines : 0.0;
}

BENCHMARK(BM_ReadLineHeaders)
    ->ArgName("into_buffer")
    ->Arg(0)
    ->Arg(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
