// Tests of CSocketBase: stream operations mapped to Read/Write, and the property set.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wirelane/sockets/CSocketBase.h"

namespace {

// A socket over memory whose Write and Read results are set by the test.
class ScriptedSocket : public CSocketBase {
 public:
  int Write(const char* data, unsigned int length) override {
    written.append(data, length);
    ++write_calls;
    return write_result < 0 ? write_result : static_cast<int>(length);
  }
  int Read(char* buffer, unsigned int size) override {
    last_read_size = size;
    return read_result;
  }
  int ReadLine(std::string& line) override { return 0; }
  int Connect(const char*, int) override { return -1; }
  int Listen(const char*, int) override { return -1; }
  void Close() override {}

  std::string written;
  int write_calls = 0;
  int write_result = 0;  // negative: Write fails with it
  int read_result = 0;
  unsigned int last_read_size = 0;
};

TEST(CSocketBaseTest, WriteStreamFormsCallWrite) {
  ScriptedSocket socket;
  EXPECT_EQ(0u, socket.WriteStream(static_cast<const char*>(nullptr)));
  EXPECT_EQ(0u, socket.WriteStreamA(nullptr));
  EXPECT_EQ(0u, socket.WriteStream(nullptr, 5));
  EXPECT_EQ(0, socket.write_calls);
  EXPECT_EQ(5u, socket.WriteStream("hello"));
  EXPECT_EQ(3u, socket.WriteStreamA("abc"));
  EXPECT_EQ(4u, socket.WriteStream("x\0yz", 4));
  EXPECT_EQ(std::string("helloabcx\0yz", 12), socket.written);
}

TEST(CSocketBaseTest, FailedWriteGivesZeroNotAHugeCount) {
  ScriptedSocket socket;
  socket.write_result = -1;
  EXPECT_EQ(0u, socket.WriteStream("data", 4));
  EXPECT_EQ(0u, socket.WriteStream("data"));
}

TEST(CSocketBaseTest, ReadStreamPassesCountsAndHidesFailures) {
  ScriptedSocket socket;
  char buffer[16];
  socket.read_result = 7;
  EXPECT_EQ(7u, socket.ReadStream(buffer, sizeof buffer));
  EXPECT_EQ(sizeof buffer, socket.last_read_size);
  socket.read_result = -1;
  EXPECT_EQ(0u, socket.ReadStream(buffer, sizeof buffer));
  // A size beyond what an int result can report is cut, not wrapped.
  socket.read_result = 0;
  socket.ReadStream(buffer, 0x100000010UL);
  EXPECT_EQ(0x7FFFFFFFu, socket.last_read_size);
}

TEST(CSocketBaseTest, PropertiesIgnoreCaseAndNullTexts) {
  ScriptedSocket socket;
  EXPECT_EQ(nullptr, socket.GetProperty("ChunkSize"));
  EXPECT_EQ(nullptr, socket.GetProperty(nullptr));
  socket.SetProperty("ChunkSize", "100");
  socket.SetProperty("CHUNKSIZE", "200");
  EXPECT_STREQ("200", socket.GetProperty("chunksize"));
  socket.SetProperty(nullptr, "x");
  socket.SetProperty("Other", nullptr);
  EXPECT_EQ(nullptr, socket.GetProperty("Other"));

  const SocketPropertyMap replacement = {{"PeerCertificate", "pem"}};
  socket.SetProperty(replacement);
  EXPECT_EQ(nullptr, socket.GetProperty("ChunkSize"));
  EXPECT_STREQ("pem", socket.GetProperty("peercertificate"));
}

}  // namespace
