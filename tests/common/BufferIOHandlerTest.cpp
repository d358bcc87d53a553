// Tests of BufferIOHandler: appending, reading to the end, Allocate and LoadFile.
#include <gtest/gtest.h>

#include <string>

#include "common/BufferIOHandler.h"
#include "common/StreamTestFiles.h"

namespace {

using corvane::test::PatternBytes;
using corvane::test::ScratchFolder;

std::string Content(BufferIOHandler& handler) {
  return handler.GetBuffer() ? std::string(handler.GetBuffer(), handler.GetLength())
                             : std::string();
}

TEST(BufferIOHandlerTest, WritesAppendAndNullDataCountsWithoutAdding) {
  BufferIOHandler handler;
  EXPECT_EQ(handler.GetBuffer(), nullptr);
  EXPECT_EQ(handler.WriteStream("abc"), 3u);
  EXPECT_EQ(handler.WriteStream(static_cast<const void*>(nullptr), 5), 5u);
  EXPECT_EQ(handler.WriteStream(static_cast<const void*>("d\0e"), 3), 3u);
  EXPECT_EQ(handler.WriteStreamA("fg"), 2u);
  EXPECT_EQ(handler.WriteStream(static_cast<const char*>(nullptr)), 0u);
  EXPECT_EQ(handler.WriteStreamA(nullptr), 0u);
  EXPECT_EQ(Content(handler), std::string("abcd\0efg", 8));
}

TEST(BufferIOHandlerTest, ReadStreamRunsToTheEndThenGivesEmptyText) {
  BufferIOHandler handler;
  ASSERT_EQ(handler.WriteStream("0123456789"), 10u);
  char buffer[8];
  EXPECT_EQ(handler.ReadStream(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "0123");
  EXPECT_EQ(handler.ReadStream(buffer, sizeof buffer), 6u);
  EXPECT_EQ(std::string(buffer, 6), "456789");
  EXPECT_EQ(handler.ReadStream(buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "");

  handler.Reset();
  EXPECT_EQ(handler.GetBuffer(), nullptr);
  EXPECT_EQ(handler.GetLength(), 0u);
  ASSERT_EQ(handler.WriteStream("xy"), 2u);
  EXPECT_EQ(handler.ReadStream(buffer, sizeof buffer), 2u);
}

TEST(BufferIOHandlerTest, AllocateSetsTheExactLength) {
  BufferIOHandler handler;
  ASSERT_EQ(handler.WriteStream("abc"), 3u);
  EXPECT_EQ(handler.Allocate(10), 10);
  EXPECT_EQ(Content(handler), std::string("abc\0\0\0\0\0\0\0", 10));
  EXPECT_EQ(handler.Allocate(2), 2);
  EXPECT_EQ(Content(handler), "ab");
  EXPECT_EQ(handler.Allocate(0), 0);
  EXPECT_EQ(handler.GetBuffer(), nullptr);
  EXPECT_EQ(handler.Allocate(-4), 0);
  EXPECT_EQ(handler.GetLength(), 0u);
}

TEST(BufferIOHandlerTest, ShrinkingBelowTheReadPositionEndsReading) {
  BufferIOHandler handler;
  ASSERT_EQ(handler.WriteStream("abcdef"), 6u);
  char buffer[4];
  ASSERT_EQ(handler.ReadStream(buffer, 4), 4u);
  ASSERT_EQ(handler.Allocate(2), 2);
  EXPECT_EQ(handler.ReadStream(buffer, sizeof buffer), 0u);
  ASSERT_EQ(handler.WriteStream("XY"), 2u);
  EXPECT_EQ(handler.ReadStream(buffer, sizeof buffer), 2u);
  EXPECT_EQ(std::string(buffer, 2), "XY");
}

TEST(BufferIOHandlerTest, LoadFileAppendsAndReturnsTheFirstLoadedByte) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string content = PatternBytes(300000);
  const std::string path = folder.Write("body.bin", content);

  BufferIOHandler handler;
  ASSERT_EQ(handler.WriteStream("head:"), 5u);
  int size = -1;
  char* loaded = handler.LoadFile(path.c_str(), &size);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(size, 300000);
  EXPECT_EQ(loaded, handler.GetBuffer() + 5);
  EXPECT_EQ(Content(handler), "head:" + content);
}

TEST(BufferIOHandlerTest, LoadFileWithoutAReadableFileAddsNothing) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string missing = folder.PathOf("missing.bin");
  const std::string directory = folder.PathOf("");
  for (const char* name :
       {missing.c_str(), directory.c_str(), "", static_cast<const char*>(nullptr)}) {
    BufferIOHandler handler;
    ASSERT_EQ(handler.WriteStream("kept"), 4u);
    int size = -1;
    EXPECT_EQ(handler.LoadFile(name, &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(Content(handler), "kept");
  }
}

}  // namespace
