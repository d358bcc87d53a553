// Tests of CSocket over real loopback connections: writes, reads, lines, buffering, accept and
// connect.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>
#include <vector>

#include "SocketTestSupport.h"
#include "wirelane/sockets/CSocket.h"
#include "wirelane/sockets/SocketStartup.h"

namespace {

using sockettest::Connect;
using sockettest::InstrumentedSocket;
using sockettest::LogCapture;
using sockettest::MakeListener;
using sockettest::ReadAll;
using sockettest::RefusingPort;

std::string Pattern(size_t length) {
  std::string text(length, '\0');
  for (size_t i = 0; i < length; ++i) text[i] = static_cast<char>('a' + i % 26);
  return text;
}

class CSocketTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, WSAStartup(0x0202, nullptr)); }
  void TearDown() override { WSACleanup(); }
};

struct ChunkCase {
  const char* chunk_size;  // null: property absent
  unsigned int length;
  std::vector<unsigned int> pieces;
  int result;
};

TEST_F(CSocketTest, WriteHandsChunkSizedPiecesToWriteData) {
  const ChunkCase cases[] = {
      {nullptr, 25000, {10240, 10240, 4520}, 25000},
      {"4096", 10000, {4096, 4096, 1808}, 10000},
      {nullptr, 100, {100}, 100},
      {"0", 25000, {0}, 0},
      {"-7", 25000, {0}, 0},
  };
  auto listener = MakeListener();
  for (const ChunkCase& c : cases) {
    SCOPED_TRACE(c.chunk_size != nullptr ? c.chunk_size : "default");
    auto pair = Connect<InstrumentedSocket>(*listener);
    if (c.chunk_size != nullptr) pair.client->SetProperty("chunksize", c.chunk_size);
    const std::string data = Pattern(c.length);
    EXPECT_EQ(c.result, pair.client->Write(data.data(), c.length));
    EXPECT_EQ(c.pieces, pair.client->write_sizes);
    pair.client->Close();
    const std::string received = ReadAll(*pair.server);
    EXPECT_EQ(c.result > 0 ? data : std::string(), received);
  }
}

TEST_F(CSocketTest, WriteWithoutDataOrConnectionReturnsZero) {
  auto listener = MakeListener();
  auto pair = Connect<InstrumentedSocket>(*listener);
  EXPECT_EQ(0, pair.client->Write(nullptr, 10));
  EXPECT_EQ(0, pair.client->Write(static_cast<const char*>(nullptr)));
  EXPECT_EQ(0, pair.client->Write("", 0u));
  pair.client->Close();
  EXPECT_EQ(0, pair.client->Write("abc", 3u));
  EXPECT_TRUE(pair.client->write_sizes.empty());
}

TEST_F(CSocketTest, WriteTextFormsSendTextWithoutTerminator) {
  auto listener = MakeListener();
  auto pair = Connect(*listener);
  const unsigned short wide[] = {'h', 'i', 0x263A, 0};
  EXPECT_EQ(3, pair.client->Write("abc"));
  EXPECT_EQ(6, pair.client->Write(wide));
  pair.client->Close();
  const std::string expected =
      std::string("abc") + std::string(reinterpret_cast<const char*>(wide), 6);
  EXPECT_EQ(expected, ReadAll(*pair.server));
}

TEST_F(CSocketTest, ReadReturnsPartialCountWhenPeerCloses) {
  auto listener = MakeListener();
  auto pair = Connect(*listener);
  const std::string data = Pattern(40);
  ASSERT_EQ(40, pair.server->Write(data.data(), 40u));
  pair.server->Close();
  char buffer[100];
  ASSERT_EQ(40, pair.client->Read(buffer, sizeof buffer));
  EXPECT_EQ(data, std::string(buffer, 40));
  EXPECT_EQ(0, pair.client->Read(buffer, sizeof buffer));
}

TEST_F(CSocketTest, ReadOfZeroBytesTouchesNeitherBufferNorNetwork) {
  auto listener = MakeListener();
  auto pair = Connect<InstrumentedSocket>(*listener);
  ASSERT_EQ(3, pair.server->Write("xyz"));
  char buffer[4] = {'k', 'k', 'k', 'k'};
  EXPECT_EQ(0, pair.client->Read(buffer, 0));
  EXPECT_EQ('k', buffer[0]);
  EXPECT_EQ(0, pair.client->read_calls);
  EXPECT_EQ(-1, pair.client->Read(nullptr, 4));
  EXPECT_EQ(3, pair.client->Read(buffer, 3));
  EXPECT_EQ("xyz", std::string(buffer, 3));
}

TEST_F(CSocketTest, ReadWaitsForAllBytesAcrossManySends) {
  auto listener = MakeListener();
  auto pair = Connect(*listener);
  const std::string data = Pattern(300000);
  std::thread peer([&] {
    for (size_t sent = 0; sent < data.size(); sent += 70000) {
      const size_t piece = std::min<size_t>(70000, data.size() - sent);
      pair.server->Write(data.data() + sent, static_cast<unsigned int>(piece));
    }
  });
  std::string received(data.size(), '\0');
  EXPECT_EQ(static_cast<int>(data.size()),
            pair.client->Read(received.data(), static_cast<unsigned int>(received.size())));
  peer.join();
  EXPECT_EQ(data, received);
}

// One call of ReadLine(buffer, size) and what it must give.
struct LineStep {
  unsigned int size;
  int result;
  std::string text;
};

struct LineCase {
  const char* name;
  std::string input;  // sent whole, then the peer closes
  std::vector<LineStep> steps;
};

TEST_F(CSocketTest, ReadLineIntoBufferFollowsLineRules) {
  const LineCase cases[] = {
      {"status line keeps CR LF",
       "HTTP/1.0 200 OK\r\n",
       {{100, 17, "HTTP/1.0 200 OK\r\n"}, {100, 0, ""}}},
      {"full buffer splits the line",
       "abcdefghijkl\r\n",
       {{10, 9, "abcdefghi"}, {10, 5, "jkl\r\n"}, {10, 0, ""}}},
      {"size one stores nothing and loses nothing", "ab\n", {{1, 0, ""}, {10, 3, "ab\n"}}},
      {"NUL ends a line and is dropped",
       std::string("ab\0cd\n", 6),
       {{100, 2, "ab"}, {100, 3, "cd\n"}, {100, 0, ""}}},
      {"NUL first gives an empty line", std::string("\0x\n", 3), {{100, 0, ""}, {100, 2, "x\n"}}},
      {"bare LF", "\n\n", {{100, 1, "\n"}, {100, 1, "\n"}, {100, 0, ""}}},
      {"several lines of one send",
       "one\r\ntwo\r\nthree\r\n",
       {{100, 5, "one\r\n"}, {100, 5, "two\r\n"}, {100, 7, "three\r\n"}, {100, 0, ""}}},
      {"partial line at close gives 0 with the bytes stored",
       "partial",
       {{100, 0, "partial"}, {100, 0, ""}}},
      {"line longer than one receive",
       Pattern(40000) + "\n",
       {{50000, 40001, Pattern(40000) + "\n"}, {10, 0, ""}}},
  };
  auto listener = MakeListener();
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto pair = Connect(*listener);
    std::thread peer([&] {
      pair.server->Write(c.input.data(), static_cast<unsigned int>(c.input.size()));
      pair.server->Close();
    });
    for (const LineStep& step : c.steps) {
      std::vector<char> buffer(step.size, '#');
      EXPECT_EQ(step.result, pair.client->ReadLine(buffer.data(), step.size));
      EXPECT_EQ(step.text, std::string(buffer.data()));
    }
    peer.join();
  }
}

TEST_F(CSocketTest, ReadLineIntoBufferRejectsBadArguments) {
  CSocket closed;
  closed.Close();
  char buffer[8] = "xxxxxxx";
  EXPECT_EQ(-1, closed.ReadLine(buffer, sizeof buffer));
  EXPECT_EQ('\0', buffer[0]);
  CSocket open;
  EXPECT_EQ(-1, open.ReadLine(nullptr, 8));
  buffer[0] = 'x';
  EXPECT_EQ(-1, open.ReadLine(buffer, 0));
  EXPECT_EQ('x', buffer[0]);
}

struct StringLineCase {
  const char* name;
  std::string input;
  std::vector<std::string> lines;  // then 0 at the end
};

TEST_F(CSocketTest, ReadLineIntoStringFollowsLineRules) {
  const StringLineCase cases[] = {
      {"lines keep CR LF", "a\r\nbb\r\n", {"a\r\n", "bb\r\n"}},
      {"partial line at close is returned", "abc\r\ndef", {"abc\r\n", "def"}},
      {"NUL ends the line", std::string("x\0y\n", 4), {"x", "y\n"}},
      {"no length limit", Pattern(100000) + "\r\n", {Pattern(100000) + "\r\n"}},
  };
  auto listener = MakeListener();
  for (const StringLineCase& c : cases) {
    SCOPED_TRACE(c.name);
    auto pair = Connect(*listener);
    std::thread peer([&] {
      pair.server->Write(c.input.data(), static_cast<unsigned int>(c.input.size()));
      pair.server->Close();
    });
    std::string line = "stale";
    for (const std::string& expected : c.lines) {
      EXPECT_EQ(static_cast<int>(expected.size()), pair.client->ReadLine(line));
      EXPECT_EQ(expected, line);
    }
    EXPECT_EQ(0, pair.client->ReadLine(line));
    EXPECT_EQ("", line);
    peer.join();
  }
}

TEST_F(CSocketTest, ReadAfterReadLineGetsBufferedBytesFirst) {
  auto listener = MakeListener();
  auto pair = Connect(*listener);
  const std::string body = Pattern(50000);
  const std::string message = "Content-Length: 50000\r\n\r\n" + body;
  std::thread peer([&] {
    pair.server->Write(message.data(), static_cast<unsigned int>(message.size()));
    pair.server->Close();
  });
  std::string line;
  EXPECT_EQ(23, pair.client->ReadLine(line));
  char blank[8];
  EXPECT_EQ(2, pair.client->ReadLine(blank, sizeof blank));
  EXPECT_GT(pair.client->BufferedInputLength(), 0u);
  std::string received(body.size() + 10, '\0');
  EXPECT_EQ(static_cast<int>(body.size()),
            pair.client->Read(received.data(), static_cast<unsigned int>(received.size())));
  received.resize(body.size());
  EXPECT_EQ(body, received);
  EXPECT_EQ(0u, pair.client->BufferedInputLength());
  peer.join();
}

TEST_F(CSocketTest, BufferedBytesSurviveTheConnectionsEnd) {
  auto listener = MakeListener();
  auto pair = Connect(*listener);
  ASSERT_EQ(10, pair.server->Write("line\r\nrest"));
  pair.server->Close();
  char line[32];
  ASSERT_EQ(6, pair.client->ReadLine(line, sizeof line));
  char rest[100];
  ASSERT_EQ(4, pair.client->Read(rest, sizeof rest));
  EXPECT_EQ("rest", std::string(rest, 4));
  // The stream form reaches the same bytes.
  auto second = Connect(*listener);
  ASSERT_EQ(9, second.server->Write("a\nbcdefgh"));
  second.server->Close();
  std::string first;
  ASSERT_EQ(2, second.client->ReadLine(first));
  EXPECT_EQ(7u, second.client->ReadStream(rest, sizeof rest));
  EXPECT_EQ("bcdefgh", std::string(rest, 7));
}

TEST_F(CSocketTest, LinesAreServedFromMemoryNotOneReceivePerByte) {
  auto listener = MakeListener();
  auto pair = Connect<InstrumentedSocket>(*listener);
  std::string block;
  const int kLines = 300;
  for (int i = 0; i < kLines; ++i) block += "Header-" + std::to_string(i) + ": some value\r\n";
  std::thread peer([&] {
    pair.server->Write(block.data(), static_cast<unsigned int>(block.size()));
    pair.server->Close();
  });
  int lines = 0;
  std::string line;
  while (pair.client->ReadLine(line) > 0) {
    EXPECT_EQ("Header-" + std::to_string(lines) + ": some value\r\n", line);
    ++lines;
  }
  peer.join();
  EXPECT_EQ(kLines, lines);
  EXPECT_LE(pair.client->read_calls, 6) << "receives for " << block.size() << " bytes";
}

TEST_F(CSocketTest, FlushSendsCollectedOutputOnlyWhileBuffering) {
  auto listener = MakeListener();
  auto pair = Connect(*listener);
  EXPECT_EQ(0, pair.client->Flush());

  pair.client->SetBufferOutput(1);
  EXPECT_EQ(6, pair.client->Write("hello "));
  EXPECT_EQ(5, pair.client->Write("world"));
  EXPECT_EQ("hello world", std::string(pair.client->GetOutputBuffer(), 11));
  EXPECT_EQ(11, pair.client->Flush());
  EXPECT_EQ(nullptr, pair.client->GetOutputBuffer());

  // Still buffering after Flush; ClearBuffer and SetBufferOutput(0) drop output.
  EXPECT_EQ(7, pair.client->Write("dropped"));
  EXPECT_EQ(7u, pair.client->GetIOHandler()->GetLength());
  pair.client->ClearBuffer();
  EXPECT_EQ(0u, pair.client->GetIOHandler()->GetLength());
  EXPECT_EQ(4, pair.client->Write("gone"));
  pair.client->SetBufferOutput(0);
  EXPECT_EQ(0, pair.client->Flush());
  EXPECT_EQ(1, pair.client->Write("!"));
  pair.client->Close();
  EXPECT_EQ("hello world!", ReadAll(*pair.server));
}

class TaggedSocket : public CSocket {
 public:
  using CSocket::CSocket;

 protected:
  CSocket* CreateSocket(unsigned int descriptor, const char* certificate,
                        const SocketPropertyMap* properties) override {
    return std::make_unique<TaggedSocket>(descriptor, certificate, properties).release();
  }
};

TEST_F(CSocketTest, AcceptedSocketCarriesListenerPropertiesAndPeerAddress) {
  const SocketPropertyMap properties = {{"ChunkSize", "512"}, {"Custom", "value"}};
  auto listener = MakeListener<TaggedSocket>(&properties);
  CSocket client;
  sockettest::LimitWaits(client);
  ASSERT_EQ(0, client.Connect("127.0.0.1", listener->GetLocalPort()));
  std::unique_ptr<CSocket> accepted(listener->Accept());
  ASSERT_NE(nullptr, accepted);
  EXPECT_NE(nullptr, dynamic_cast<TaggedSocket*>(accepted.get()));
  EXPECT_STREQ("512", accepted->GetProperty("chunksize"));
  EXPECT_STREQ("value", accepted->GetProperty("CUSTOM"));
  EXPECT_EQ(nullptr, accepted->GetCert());
  EXPECT_STREQ("127.0.0.1", accepted->GetIPAddr());
  EXPECT_EQ(0, accepted->IsClientSocket());
  EXPECT_EQ(1, client.IsClientSocket());
  EXPECT_STREQ("127.0.0.1", client.GetHostName());
  EXPECT_STREQ("", client.GetIPAddr());

  // The accepted socket talks to the client in both directions.
  sockettest::LimitWaits(*accepted);
  ASSERT_EQ(5, client.Write("ping\n"));
  char line[16];
  ASSERT_EQ(5, accepted->ReadLine(line, sizeof line));
  ASSERT_EQ(5, accepted->Write("pong\n"));
  ASSERT_EQ(5, client.ReadLine(line, sizeof line));
  EXPECT_STREQ("pong\n", line);
}

TEST_F(CSocketTest, AcceptGivesNullWhenNoConnectionComes) {
  auto listener = MakeListener();
  listener->SetTimeOut(SO_RCVTIMEO, 200);
  EXPECT_EQ(nullptr, listener->Accept());
  CSocket never_listened;
  never_listened.Close();
  EXPECT_EQ(nullptr, never_listened.Accept());
}

TEST_F(CSocketTest, ConnectFailuresReturnMinusOneWithTheirMessages) {
  RefusingPort refusing;
  const std::string refused_message =
      "Error connecting to 127.0.0.1:" + std::to_string(refusing.port) + ", Connection refused";
  struct ConnectCase {
    const char* host;
    int port;
    std::string message;  // empty: nothing may be logged
  } cases[] = {
      {"127.0.0.1", refusing.port, refused_message},
      {"10.1.2.300", 80, ""},
      {"no-such-host.invalid", 80, "gethostbyname for no-such-host.invalid failed : "},
      {"", 80, ""},
      {nullptr, 80, ""},
      {"127.0.0.1", 70000, "Invalid port 70000"},
  };
  for (const ConnectCase& c : cases) {
    SCOPED_TRACE(c.host != nullptr ? c.host : "(null)");
    CSocket socket;
    sockettest::LimitWaits(socket);
    LogCapture log;
    EXPECT_EQ(-1, socket.Connect(c.host, c.port));
    EXPECT_EQ(1, socket.IsClientSocket());
    const std::string text = log.Text();
    if (c.message.empty()) {
      EXPECT_EQ("", text);
    } else {
      EXPECT_NE(std::string::npos, text.find(c.message)) << text;
    }
  }
}

TEST_F(CSocketTest, UnresolvableNameLeavesResolverMessageAsErrorText) {
  CSocket socket;
  LogCapture log;
  ASSERT_EQ(-1, socket.Connect("no-such-host.invalid", "80"));
  const std::string error = socket.GetErrString();
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(std::string::npos, error.find("Socket Error"));
  EXPECT_NE(std::string::npos, log.Text().find(error));
}

TEST_F(CSocketTest, ConnectOnClosedSocketFails) {
  auto listener = MakeListener();
  CSocket socket;
  socket.Close();
  LogCapture log;
  EXPECT_EQ(-1, socket.Connect("127.0.0.1", listener->GetLocalPort()));
  EXPECT_FALSE(socket.IsOpen());
}

TEST_F(CSocketTest, ListenOnClosedSocketMakesNewDescriptor) {
  CSocket socket;
  socket.Close();
  ASSERT_FALSE(socket.IsOpen());
  ASSERT_EQ(0, socket.Listen("127.0.0.1", 0));
  EXPECT_TRUE(socket.IsOpen());
  EXPECT_STREQ("127.0.0.1", socket.GetHostName());
  socket.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
  auto pair = Connect(socket);
  EXPECT_NE(nullptr, pair.server);
}

TEST_F(CSocketTest, ListenFailuresReturnMinusOne) {
  auto taken = MakeListener();
  struct ListenCase {
    const char* host;
    int port;
    const char* message;
  } cases[] = {
      {"127.0.0.1", taken->GetLocalPort(), "Unable to bind socket on 127.0.0.1"},
      {"10.1.2.300", 0, "Invalid address 10.1.2.300"},
      {"127.0.0.1", -1, "Invalid port -1"},
  };
  for (const ListenCase& c : cases) {
    SCOPED_TRACE(c.message);
    CSocket socket;
    LogCapture log;
    EXPECT_EQ(-1, socket.Listen(c.host, c.port));
    EXPECT_NE(std::string::npos, log.Text().find(c.message)) << log.Text();
  }
}

TEST_F(CSocketTest, CloseEndsTheConnectionAndDropsState) {
  auto listener = MakeListener();
  auto pair = Connect(*listener);
  ASSERT_EQ(4, pair.server->Write("abc\n"));
  char line[8];
  ASSERT_EQ(4, pair.client->ReadLine(line, sizeof line));
  pair.client->Close();
  pair.client->Close();
  EXPECT_FALSE(pair.client->IsOpen());
  EXPECT_EQ(CSocket::kNoDescriptor, pair.client->GetFd());
  EXPECT_EQ(nullptr, pair.client->GetHostName());
  EXPECT_EQ(0, pair.client->Read(line, sizeof line));
  std::string text;
  EXPECT_EQ(0, pair.client->ReadLine(text));
  char probe[4];
  EXPECT_EQ(0, pair.server->Read(probe, sizeof probe));
}

TEST_F(CSocketTest, ErrorTextDefaultsToErrorNumber) {
  CSocket socket;
  errno = ECONNRESET;
  EXPECT_EQ(ECONNRESET, socket.GetLastError());
  EXPECT_EQ("Socket Error : " + std::to_string(ECONNRESET), std::string(socket.GetErrString()));
  socket.SetErrString("custom failure");
  EXPECT_STREQ("custom failure", socket.GetErrString());
  errno = EPIPE;
  EXPECT_EQ("Socket Error : " + std::to_string(EPIPE), std::string(socket.GetErrString(true)));
}

TEST_F(CSocketTest, LocalHostIpIsADottedAddress) {
  CSocket socket;
  const std::string text = socket.GetLocalHostIp();
  in_addr parsed{};
  EXPECT_EQ(1, ::inet_pton(AF_INET, text.c_str(), &parsed)) << text;
}

TEST_F(CSocketTest, ShortSendTimeOutEndsWriteToStalledPeer) {
  auto listener = MakeListener();
  auto pair = Connect(*listener);
  pair.client->SetTimeOut(SO_SNDTIMEO, 200);
  // The peer never reads: once the kernel buffers are full the send times out.
  const std::string data = Pattern(64 << 20);
  const int result = pair.client->Write(data.data(), static_cast<unsigned int>(data.size()));
  EXPECT_LE(result, 0);
}

}  // namespace
