// Tests of SecureSock: cipher text set-up, encrypted frames on the wire and hostile frame input.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sealvault/Crypto.h"
#include "wirelane/sockets/SecureSock.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;
using sockettest::LimitWaits;
using sockettest::LogCapture;

constexpr const char* kCipher = "aes:Shared Key:Vector 1";

// A SecureSock whose frame operations the tests call on its own descriptor.
class FrameSocket : public SecureSock {
 public:
  using SecureSock::SecureSock;
  int SendFrame(const std::string& data) {
    return SecureSock::Write(GetFd(), data.data(), static_cast<unsigned int>(data.size()));
  }
  int ReceiveFrame(char* buffer, unsigned int size) {
    return SecureSock::Read(GetFd(), buffer, size);
  }
  bool Secure() const { return IsSecure(); }
  bool CheckVersion() { return VerifyVersion(GetFd()); }
};

struct Pair {
  std::unique_ptr<CSocket> listener;
  std::unique_ptr<FrameSocket> client;
  std::unique_ptr<CSocket> server;  // plain, or a FrameSocket when asked for
};

// A FrameSocket client connected to an accepted server end: a plain CSocket
// (serverCipher null and plainServer) or a FrameSocket with serverCipher.
Pair Connect(const char* clientCipher, const char* serverCipher, bool plainServer = false) {
  Pair pair;
  pair.listener = sockettest::MakeListener();
  pair.client = std::make_unique<FrameSocket>(CSocket::kNoDescriptor, clientCipher);
  LimitWaits(*pair.client);
  EXPECT_EQ(0, pair.client->Connect("127.0.0.1", pair.listener->GetLocalPort()));
  std::unique_ptr<CSocket> accepted(pair.listener->Accept());
  EXPECT_NE(nullptr, accepted);
  if (accepted == nullptr) return pair;
  if (plainServer) {
    pair.server = std::move(accepted);
  } else {
    const unsigned int descriptor = accepted->GetFd();
    accepted->SetFd(CSocket::kNoDescriptor);  // the FrameSocket takes the connection over
    pair.server = std::make_unique<FrameSocket>(descriptor, serverCipher);
  }
  LimitWaits(*pair.server);
  return pair;
}

FrameSocket& Frames(Pair& pair) { return static_cast<FrameSocket&>(*pair.server); }

std::string Pattern(std::size_t size, int seed = 0) {
  std::string text(size, '\0');
  for (std::size_t i = 0; i < size; ++i) text[i] = static_cast<char>((i * 31 + seed) % 251);
  return text;
}

// What one frame read of up to size bytes gives, as text; "<n>" for a result
// n below 1.
std::string ReadOnce(FrameSocket& socket, unsigned int size) {
  std::string buffer(size, '\0');
  const int count = socket.ReceiveFrame(buffer.data(), size);
  if (count < 1) return "<" + std::to_string(count) + ">";
  return buffer.substr(0, static_cast<std::size_t>(count));
}

// The block form of Crypto as the peer applies it.
std::string Transform(const std::string& data, const char* key, const char* vector) {
  Crypto crypto("aes", nullptr, 1);
  EXPECT_TRUE(crypto.Init(key, reinterpret_cast<const unsigned char*>(vector)));
  EXPECT_TRUE(crypto.Update(reinterpret_cast<const unsigned char*>(data.data()),
                            static_cast<int>(data.size())));
  const unsigned char* result = crypto.Final();
  if (result == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(result),
                     static_cast<std::size_t>(crypto.GetLength()));
}

std::string Word(std::int32_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  const char bytes[4] = {static_cast<char>(bits & 0xFF), static_cast<char>((bits >> 8) & 0xFF),
                         static_cast<char>((bits >> 16) & 0xFF),
                         static_cast<char>((bits >> 24) & 0xFF)};
  return std::string(bytes, 4);
}

TEST(SecureSockTest, WritesTheFrameLayoutByteForByte) {
  // Parts of the cipher text: separator runs count as one, leading blanks and
  // tabs are skipped, a missing part repeats the one before it (the initial
  // vector of a name alone stays empty).
  const struct {
    const char* cipher_text;
    const char* key;
    const char* vector;
  } cases[] = {
      {"aes:Shared Key:Vector 1", "Shared Key", "Vector 1"},
      {"aes:::Shared Key::\tVector 1", "Shared Key", "Vector 1"},
      {" aes: k2", "k2", "k2"},
      {"aes", "aes", ""},
  };
  const std::string plain = "0123456789";
  for (const auto& test : cases) {
    SCOPED_TRACE(test.cipher_text);
    Pair pair = Connect(test.cipher_text, nullptr, true);
    ASSERT_TRUE(pair.client->Secure());
    EXPECT_EQ(10, pair.client->SendFrame(plain));
    char wire[18];
    ASSERT_EQ(18, pair.server->Read(wire, sizeof wire));
    const std::string bytes(wire, sizeof wire);
    EXPECT_EQ(std::string("\xE8\x03\x00\x00\x0A\x00\x00\x00", 8), bytes.substr(0, 8));
    EXPECT_NE(plain, bytes.substr(8));
    EXPECT_EQ(plain, Transform(bytes.substr(8), test.key, test.vector));
  }
}

TEST(SecureSockTest, FramesTravelBothWays) {
  Pair pair = Connect(kCipher, kCipher);
  EXPECT_EQ(5, pair.client->SendFrame("hello"));
  EXPECT_EQ("hello", ReadOnce(Frames(pair), 100));
  EXPECT_EQ(6, Frames(pair).SendFrame("world!"));
  EXPECT_EQ("world!", ReadOnce(*pair.client, 100));
  // An empty frame reads as a single 0 and does not disturb the next one.
  EXPECT_EQ(0, pair.client->SendFrame(""));
  EXPECT_EQ(2, pair.client->SendFrame("ok"));
  EXPECT_EQ("<0>", ReadOnce(Frames(pair), 100));  // end of "hello"
  EXPECT_EQ("<0>", ReadOnce(Frames(pair), 100));  // the empty frame
  EXPECT_EQ("ok", ReadOnce(Frames(pair), 100));
}

TEST(SecureSockTest, HandsOutAFrameInPiecesThenZeroOnce) {
  Pair pair = Connect(kCipher, kCipher);
  ASSERT_EQ(10, pair.client->SendFrame("abcdefghij"));
  ASSERT_EQ(4, pair.client->SendFrame("wxyz"));
  ASSERT_EQ(3, pair.client->SendFrame("end"));
  FrameSocket& server = Frames(pair);
  EXPECT_EQ(0, server.ReceiveFrame(nullptr, 0));  // size 0 touches nothing
  EXPECT_EQ("abcd", ReadOnce(server, 4));
  EXPECT_EQ(0, server.ReceiveFrame(nullptr, 0));
  EXPECT_EQ("efgh", ReadOnce(server, 4));
  EXPECT_EQ("ij", ReadOnce(server, 4));
  EXPECT_EQ("<0>", ReadOnce(server, 4));
  // Exactly the frame's size: all of it, then the end mark.
  EXPECT_EQ("wxyz", ReadOnce(server, 4));
  EXPECT_EQ("<0>", ReadOnce(server, 4));
  EXPECT_EQ("end", ReadOnce(server, 4));
}

TEST(SecureSockTest, LargeFramesArriveWhole) {
  Pair pair = Connect(kCipher, kCipher);
  // One frame far larger than a socket buffer, then a message in three frames.
  const std::string big = Pattern(3 * 1024 * 1024 + 17);
  const std::string parts[] = {Pattern(70000, 1), Pattern(70000, 2), Pattern(123, 3)};
  std::thread writer([&] {
    EXPECT_EQ(static_cast<int>(big.size()), pair.client->SendFrame(big));
    for (const std::string& part : parts)
      EXPECT_EQ(static_cast<int>(part.size()), pair.client->SendFrame(part));
  });
  std::string received;
  std::vector<std::string> frames;
  char piece[4096];
  while (frames.size() < 4) {
    const int count = Frames(pair).ReceiveFrame(piece, sizeof piece);
    if (count < 0) break;
    if (count == 0) {
      frames.push_back(received);
      received.clear();
    } else {
      received.append(piece, static_cast<std::size_t>(count));
    }
  }
  writer.join();
  ASSERT_EQ(4u, frames.size());
  EXPECT_TRUE(frames[0] == big);
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(frames[i + 1] == parts[i]) << "part " << i;
}

// A frame for kCipher as a peer writes it (the layout checked above).
std::string FrameBytes(const std::string& plain) {
  return Word(1000) + Word(static_cast<std::int32_t>(plain.size())) +
         Transform(plain, "Shared Key", "Vector 1");
}

// Sends bytes through the plain client in pieces of the given size, pausing
// between them so each arrives in a receive of its own.
void SendInPieces(CSocket& client, const std::string& bytes, std::size_t piece) {
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    const std::string part = bytes.substr(at, piece);
    ASSERT_EQ(static_cast<int>(part.size()),
              client.Write(part.data(), static_cast<unsigned int>(part.size())));
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

TEST(SecureSockTest, FramesSentInPiecesAreReassembled) {
  Pair pair = Connect(nullptr, kCipher);  // the client writes raw bytes
  std::thread writer([&] {
    SendInPieces(*pair.client, FrameBytes("split into many receives") + FrameBytes("next"), 3);
  });
  EXPECT_EQ("split into many receives", ReadOnce(Frames(pair), 100));
  EXPECT_EQ("<0>", ReadOnce(Frames(pair), 100));
  EXPECT_EQ("next", ReadOnce(Frames(pair), 100));
  writer.join();
}

TEST(SecureSockTest, LineReadingAndFramesShareTheStream) {
  Pair pair = Connect(nullptr, kCipher);
  const std::string greeting = "HELLO\r\n" + FrameBytes("after the line");
  ASSERT_EQ(static_cast<int>(greeting.size()),
            pair.client->Write(greeting.data(), static_cast<unsigned int>(greeting.size())));
  std::string line;
  EXPECT_EQ(7, Frames(pair).ReadLine(line));
  EXPECT_EQ("after the line", ReadOnce(Frames(pair), 100));
}

TEST(SecureSockTest, BufferedFramesAreSentEncryptedByFlush) {
  Pair pair = Connect(kCipher, kCipher);
  pair.client->SetBufferOutput(1);
  EXPECT_EQ(6, pair.client->SendFrame("secret"));
  ASSERT_NE(nullptr, pair.client->GetOutputBuffer());
  const std::string collected(pair.client->GetOutputBuffer(),
                              pair.client->GetIOHandler()->GetLength());
  EXPECT_EQ(Word(1000) + Word(6), collected.substr(0, 8));
  EXPECT_EQ(std::string::npos, collected.find("secret"));
  EXPECT_EQ(14, pair.client->Flush());
  EXPECT_EQ("secret", ReadOnce(Frames(pair), 100));
}

TEST(SecureSockTest, HostileFramesFailCleanly) {
  const struct {
    const char* name;
    std::string bytes;
    bool peer_closes;
    const char* logged;
  } cases[] = {
      {"wrong version", Word(999) + Word(4) + "abcd", false, "version field is 999"},
      {"HTTP request", "GET / HTTP/1.0\r\n\r\n", false, "not a frame"},
      {"negative length", Word(1000) + Word(-5), false, "payload length is -5"},
      {"absurd length", Word(1000) + Word(0x7FFFFFFF), false, "payload length is 2147483647"},
      {"just over the limit", Word(1000) + Word(16 * 1024 * 1024 + 1), false, "payload length"},
      {"header cut off", Word(1000) + "\x01\x00", true, "header cut off"},
      {"payload cut off", Word(1000) + Word(100) + "0123456789", true,
       "payload bytes received: 10"},
  };
  for (const auto& test : cases) {
    SCOPED_TRACE(test.name);
    LogCapture log;
    Pair pair = Connect(nullptr, kCipher);
    ASSERT_EQ(static_cast<int>(test.bytes.size()),
              pair.client->Write(test.bytes.data(), static_cast<unsigned int>(test.bytes.size())));
    if (test.peer_closes) pair.client->Close();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("<-1>", ReadOnce(Frames(pair), 100));
    // Refused at once: no wait for payload bytes that are never coming.
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              std::chrono::milliseconds(kWaitLimitMs / 2));
    EXPECT_NE(std::string::npos, log.Text().find(test.logged)) << log.Text();
    // The stream position is lost: later bytes are not taken for a frame.
    if (!test.peer_closes) pair.client->Write("more garbage that follows");
    EXPECT_EQ("<-1>", ReadOnce(Frames(pair), 100));
    EXPECT_NE(std::string::npos, log.Text().find("no frames after a broken one"));
  }
}

TEST(SecureSockTest, EndOfDataBeforeAFrameIsNoBrokenStream) {
  Pair pair = Connect(kCipher, kCipher);
  pair.client->Close();
  LogCapture log;
  EXPECT_EQ("<-1>", ReadOnce(Frames(pair), 100));
  EXPECT_EQ(std::string::npos, log.Text().find("SecureSock"));  // nothing is logged as an error
}

TEST(SecureSockTest, VerifyVersionReadsOneWord) {
  Pair pair = Connect(nullptr, kCipher);
  pair.client->Write((Word(1000) + Word(1001)).c_str(), 8);
  EXPECT_TRUE(Frames(pair).CheckVersion());
  EXPECT_FALSE(Frames(pair).CheckVersion());
}

TEST(SecureSockTest, WithoutCipherTextTheSocketStaysPlain) {
  const struct {
    const char* cipher_text;
    bool logged;
  } cases[] = {{nullptr, false}, {"", true}, {":::", true}};
  for (const auto& test : cases) {
    SCOPED_TRACE(test.cipher_text != nullptr ? test.cipher_text : "(null)");
    LogCapture log;
    Pair pair = Connect(test.cipher_text, nullptr, true);
    EXPECT_FALSE(pair.client->Secure());
    const std::string text = log.Text();
    EXPECT_EQ(test.logged,
              text.find("SecureSock::Initialize - Incomplete cipher info string : " +
                        std::string(test.cipher_text != nullptr ? test.cipher_text : "") +
                        ", should be in format CipherName:Key:InitialVector") != std::string::npos)
        << text;
    EXPECT_EQ(3, pair.client->SendFrame("abc"));
    char bytes[3];
    EXPECT_EQ(3, pair.server->Read(bytes, sizeof bytes));
    EXPECT_EQ("abc", std::string(bytes, 3));
    pair.server->Write("xyz");
    EXPECT_EQ("xyz", ReadOnce(*pair.client, 3));
  }
}

TEST(SecureSockTest, AcceptedConnectionsKeepTheCipher) {
  SecureSock listener(CSocket::kNoDescriptor, kCipher);
  listener.SetProperty("ChunkSize", "512");
  ASSERT_EQ(0, listener.Listen("127.0.0.1", 0));
  listener.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  CSocket client;
  LimitWaits(client);
  ASSERT_EQ(0, client.Connect("127.0.0.1", listener.GetLocalPort()));
  std::unique_ptr<CSocket> accepted(listener.Accept());
  ASSERT_NE(nullptr, accepted);
  EXPECT_NE(nullptr, dynamic_cast<SecureSock*>(accepted.get()));
  EXPECT_STREQ(kCipher, accepted->GetCert());
  EXPECT_STREQ("512", accepted->GetProperty("ChunkSize"));
  EXPECT_STREQ("127.0.0.1", accepted->GetIPAddr());
  // The public stream operations stay plain.
  EXPECT_EQ(4, accepted->Write("ping"));
  char bytes[4];
  EXPECT_EQ(4, client.Read(bytes, sizeof bytes));
  EXPECT_EQ("ping", std::string(bytes, 4));
}

}  // namespace
