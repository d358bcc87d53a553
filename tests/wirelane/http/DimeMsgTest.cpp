// Tests of DIME message writing and parsing.
#include "wirelane/http/DimeMsg.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/BufferIOHandler.h"

namespace {

std::string Written(DimeMsg& message) {
  BufferIOHandler out;
  EXPECT_TRUE(message.SendMessage(&out));
  return std::string(out.GetBuffer() != nullptr ? out.GetBuffer() : "", out.GetLength());
}

std::string RecordData(DimeMsg& message, unsigned index) {
  unsigned long length = 0;
  const unsigned char* data = message.GetRecord(index, length);
  return data != nullptr ? std::string(reinterpret_cast<const char*>(data), length) : "<null>";
}

TEST(DimeMsgTest, OneRecordIsWrittenByteForByte) {
  DimeMsg message;
  message.AddRecord("uuid:1", "text/xml", "abc", 3, -1);
  const std::string wire = Written(message);
  const std::string expected("\x0E\x10\x00\x00\x00\x06\x00\x08\x00\x00\x00\x03"
                             "uuid:1\0\0text/xmlabc\0",
                             32);
  EXPECT_EQ(expected, wire);

  DimeMsg parsed;
  ASSERT_TRUE(parsed.ParseMessage(wire.data(), wire.size()));
  ASSERT_EQ(1u, parsed.GetRecordCount());
  EXPECT_EQ("abc", RecordData(parsed, 0));
  EXPECT_STREQ("uuid:1", parsed.GetRecordProperty(0u, "id"));
  EXPECT_STREQ("text/xml", parsed.GetRecordProperty(0u, "TYPE"));
  EXPECT_STREQ("1", parsed.GetRecordProperty("UUID:1", "tnf"));
  EXPECT_EQ(nullptr, parsed.GetRecordProperty(0u, "size"));
  EXPECT_STREQ("text/xml", parsed.GetRecordType("uuid:1"));
  EXPECT_EQ(nullptr, parsed.GetRecordType("UUID:1"));  // exact match only
}

TEST(DimeMsgTest, TypeFormatFollowsTheType) {
  DimeMsg message;
  message.AddRecord("a", "http://schemas.xmlsoap.org/soap/envelope/", "x", 1, -1);
  message.AddRecord("b", nullptr, "y", 1, -1);
  message.AddRecord("c", "image/gif", "z", 1, -1);
  const std::string wire = Written(message);
  DimeMsg parsed;
  ASSERT_TRUE(parsed.ParseMessage(wire.data(), wire.size()));
  ASSERT_EQ(3u, parsed.GetRecordCount());
  EXPECT_STREQ("2", parsed.GetRecordProperty(0u, "tnf"));
  EXPECT_STREQ("3", parsed.GetRecordProperty(1u, "tnf"));
  EXPECT_STREQ("", parsed.GetRecordProperty(1u, "type"));
  EXPECT_STREQ("1", parsed.GetRecordProperty(2u, "tnf"));
  // Only the first record begins the message and only the last ends it.
  EXPECT_EQ(0x0C, wire[0] & 0x0F);
}

TEST(DimeMsgTest, PositionsInsertBeforeOrAppend) {
  DimeMsg message;
  message.AddRecord("first", nullptr, "1", 1, -1);
  message.AddRecord("second", nullptr, "2", 1, -1);
  message.AddRecord("front", nullptr, "0", 1, 0);
  message.AddRecord("back", nullptr, "3", 1, 5);
  const std::string wire = Written(message);
  DimeMsg parsed;
  ASSERT_TRUE(parsed.ParseMessage(wire.data(), wire.size()));
  std::vector<std::string> ids;
  for (unsigned i = 0; i < parsed.GetRecordCount(); ++i) ids.push_back(parsed.GetRecordProperty(i, "id"));
  EXPECT_EQ((std::vector<std::string>{"front", "first", "second", "back"}), ids);
}

TEST(DimeMsgTest, LongRecordsTravelInChunksAndJoinAgain) {
  DimeMsg message(10);  // used as 12
  const std::string data = "0123456789abcdefghijklmnopqrstuvwxyz";  // 36 bytes: 12 + 12 + 12
  message.AddRecord("id", "text/plain", data.data(), data.size(), -1);
  message.AddRecord("tail", nullptr, "t", 1, -1);
  const std::string wire = Written(message);
  // First chunk: header, "id" padded, "text/plain" padded, 12 data bytes.
  ASSERT_GE(wire.size(), 12u + 4 + 12 + 12 + 12);
  EXPECT_EQ(0x0D, wire[0]);  // version, begin, chunk follows
  EXPECT_EQ(12, wire[11]);
  const size_t second = 12 + 4 + 12 + 12;
  EXPECT_EQ(0x09, wire[second]);      // chunk follows, no begin
  EXPECT_EQ(0x00, wire[second + 1]);  // type format unchanged
  EXPECT_EQ(0, wire[second + 5]);     // no id

  DimeMsg parsed;
  ASSERT_TRUE(parsed.ParseMessage(wire.data(), wire.size()));
  ASSERT_EQ(2u, parsed.GetRecordCount());
  EXPECT_EQ(data, RecordData(parsed, 0));
  EXPECT_STREQ("text/plain", parsed.GetRecordProperty(0u, "type"));
  EXPECT_EQ("t", RecordData(parsed, 1));
}

TEST(DimeMsgTest, ChunkSizeEightSplitsTwentyBytesIntoEightEightFour) {
  DimeMsg message(8);
  message.AddRecord("i", "t", "abcdefghijklmnopqrst", 20, -1);
  const std::string wire = Written(message);
  std::vector<int> lengths;
  for (size_t at = 0, chunk = 0; at + 12 <= wire.size(); ++chunk) {
    const int length = static_cast<unsigned char>(wire[at + 11]);
    lengths.push_back(length);
    at += 12 + (chunk == 0 ? 8 : 0) + ((length + 3) & ~3);
  }
  EXPECT_EQ((std::vector<int>{8, 8, 4}), lengths);
}

TEST(DimeMsgTest, TrailingByteIsAcceptedTruncationIsNot) {
  DimeMsg message;
  message.AddRecord("uuid:1", "text/xml", "abcdefgh", 8, -1);
  message.AddRecord("uuid:2", "text/xml", "ijkl", 4, -1);
  std::string wire = Written(message);

  DimeMsg parsed;
  EXPECT_TRUE(parsed.ParseMessage((wire + '\0').data(), wire.size() + 1));
  EXPECT_EQ(2u, parsed.GetRecordCount());

  EXPECT_FALSE(parsed.ParseMessage(wire.data(), wire.size() - 6));
  EXPECT_EQ(1u, parsed.GetRecordCount());  // the complete first record stays
  EXPECT_EQ("abcdefgh", RecordData(parsed, 0));
}

TEST(DimeMsgTest, HostileLengthsFailWithoutReadingPastTheData) {
  struct Case {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"data length past the end", std::string("\x0E\x10\x00\x00\x00\x00\x00\x00\xFF\xFF\xFF\xF0", 12) + "abcd"},
      {"id length past the end", std::string("\x0E\x10\x00\x00\xFF\xFF\x00\x00\x00\x00\x00\x00", 12) + "ab"},
      {"options past the end", std::string("\x0E\x10\xFF\xFF\x00\x00\x00\x00\x00\x00\x00\x00", 12)},
      {"short header", std::string("\x0E\x10\x00\x00\x00", 5)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Copy into an exactly sized heap block so AddressSanitizer sees any overrun.
    std::vector<char> exact(c.bytes.begin(), c.bytes.end());
    DimeMsg parsed;
    EXPECT_FALSE(parsed.ParseMessage(exact.data(), exact.size()));
    EXPECT_EQ(0u, parsed.GetRecordCount());
  }
}

TEST(DimeMsgTest, EmptyAndMissingInput) {
  DimeMsg parsed;
  EXPECT_TRUE(parsed.ParseMessage("", 0));
  EXPECT_EQ(0u, parsed.GetRecordCount());
  EXPECT_FALSE(parsed.ParseMessage(nullptr, 10));
  unsigned long length = 7;
  EXPECT_EQ(nullptr, parsed.GetRecord(0u, length));
  EXPECT_EQ(0ul, length);
  EXPECT_EQ(nullptr, parsed.GetRecord("none", length));
}

TEST(DimeMsgTest, AddFileTypesTheRecordByExtension) {
  char path[] = "/tmp/dimeXXXXXX.gif";
  const int fd = mkstemps(path, 4);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(4, write(fd, "GIF8", 4));
  close(fd);

  DimeMsg message;
  EXPECT_TRUE(message.AddFile("pic", path, -1));
  EXPECT_FALSE(message.AddFile("missing", "/nonexistent/file.gif", -1));
  const std::string wire = Written(message);
  std::remove(path);

  DimeMsg parsed;
  ASSERT_TRUE(parsed.ParseMessage(wire.data(), wire.size()));
  ASSERT_EQ(1u, parsed.GetRecordCount());
  EXPECT_STREQ("image/gif", parsed.GetRecordType("pic"));
  EXPECT_EQ("GIF8", RecordData(parsed, 0));
}

}  // namespace
