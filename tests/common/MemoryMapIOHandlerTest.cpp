// Tests of MemoryMapIOHandler: lazy sections, writes and reads, Allocate, copies, MapFile and
// Attach.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/MemoryMapIOHandler.h"
#include "common/StreamTestFiles.h"

namespace {

using corvane::test::FileSizeLimit;
using corvane::test::PatternBytes;
using corvane::test::ScratchFolder;

// Reads everything ReadStream gives, in pieces of the given size.
std::string ReadAll(MemoryMapIOHandler& handler, size_t piece = 4096) {
  std::string all;
  std::string buffer(piece, '\0');
  for (;;) {
    const unsigned long got = handler.ReadStream(buffer.data(), buffer.size());
    if (got == 0) return all;
    all.append(buffer.data(), got);
  }
}

std::string Content(MemoryMapIOHandler& handler) {
  return std::string(handler.GetBuffer(), handler.GetLength());
}

TEST(MemoryMapIOHandlerTest, NewHandlerHoldsNothing) {
  MemoryMapIOHandler handler(1048576);
  EXPECT_EQ(handler.GetBuffer(), nullptr);
  EXPECT_EQ(handler.GetLength(), 0u);
  EXPECT_TRUE(handler.Reserved(1, 2));
  char buffer[4] = "xyz";
  EXPECT_EQ(handler.ReadStream(buffer, sizeof buffer), 0u);
  EXPECT_EQ(buffer[0], '\0');
  EXPECT_EQ(handler.GetBuffer(), nullptr);
}

TEST(MemoryMapIOHandlerTest, WritesAppendAndReadsRunToTheCapacity) {
  MemoryMapIOHandler handler(4096);
  EXPECT_EQ(handler.WriteStream("Hello, "), 7u);
  EXPECT_EQ(handler.WriteStreamA("world"), 5u);
  EXPECT_EQ(handler.WriteStream(static_cast<const void*>("!\0?"), 3), 3u);
  EXPECT_EQ(handler.WriteStream(static_cast<const char*>(nullptr)), 0u);
  EXPECT_EQ(handler.WriteStreamA(nullptr), 0u);
  EXPECT_EQ(handler.GetLength(), 15u);
  EXPECT_EQ(Content(handler), std::string("Hello, world!\0?", 15));

  const std::string read = ReadAll(handler, 1000);
  ASSERT_EQ(read.size(), 4096u);
  EXPECT_EQ(read.substr(0, 15), std::string("Hello, world!\0?", 15));
  EXPECT_EQ(read.substr(15), std::string(4096 - 15, '\0'));
}

TEST(MemoryMapIOHandlerTest, DefaultSectionGrowsWhenAWriteReachesItsEnd) {
  MemoryMapIOHandler handler(0);
  ASSERT_EQ(handler.WriteStream(static_cast<const void*>("0123456789"), 10), 10u);
  EXPECT_EQ(ReadAll(handler, 65536).size(), 983040u);

  MemoryMapIOHandler grown(0);
  ASSERT_EQ(grown.WriteStream(static_cast<const void*>("0123456789"), 10), 10u);
  const std::string fill = PatternBytes(983030);
  ASSERT_EQ(grown.WriteStream(fill.data(), fill.size()), fill.size());
  EXPECT_EQ(grown.GetLength(), 983040u);
  EXPECT_EQ(Content(grown), "0123456789" + fill);
  EXPECT_EQ(ReadAll(grown, 65536).size(), 983040u + 983030u);
}

TEST(MemoryMapIOHandlerTest, AllocateOnANewHandlerMakesAnExactSectionTheCallerFills) {
  for (unsigned initial : {0u, 10u, 1048576u}) {
    MemoryMapIOHandler handler(initial);
    EXPECT_EQ(handler.Allocate(100), 100);
    ASSERT_NE(handler.GetBuffer(), nullptr);
    EXPECT_EQ(handler.GetLength(), 0u);
    const std::string bytes = PatternBytes(100);
    std::memcpy(handler.GetBuffer(), bytes.data(), bytes.size());
    EXPECT_EQ(ReadAll(handler, 64), bytes) << initial;
  }
}

TEST(MemoryMapIOHandlerTest, AllocateAgainKeepsWhatTheCallerStored) {
  MemoryMapIOHandler handler(0);
  ASSERT_EQ(handler.Allocate(100), 100);
  std::memcpy(handler.GetBuffer(), "stored", 6);
  ASSERT_EQ(handler.Allocate(5000), 5000);
  EXPECT_EQ(std::string(handler.GetBuffer(), 6), "stored");
  EXPECT_EQ(ReadAll(handler).size(), 100u + 327680u);

  MemoryMapIOHandler untouched(0);
  EXPECT_EQ(untouched.Allocate(-1), 0);
  EXPECT_EQ(untouched.GetBuffer(), nullptr);
}

// A reader fills the room Allocate made and commits what it stored.
TEST(MemoryMapIOHandlerTest, CommitAddsBytesStoredInAllocatedRoom) {
  MemoryMapIOHandler handler(0);
  EXPECT_EQ(handler.GetCapacity(), 0u);
  EXPECT_FALSE(handler.Commit(1));
  ASSERT_EQ(handler.Allocate(100), 100);
  EXPECT_EQ(handler.GetCapacity(), 100u);
  const std::string bytes = PatternBytes(80);
  std::memcpy(handler.GetBuffer(), bytes.data(), bytes.size());
  ASSERT_TRUE(handler.Commit(bytes.size()));
  EXPECT_EQ(Content(handler), bytes);
  EXPECT_FALSE(handler.Commit(21));
  EXPECT_EQ(handler.GetLength(), 80u);
  EXPECT_EQ(handler.WriteStream("!"), 1u);
  EXPECT_EQ(Content(handler), bytes + "!");
  handler.Reset();
  EXPECT_EQ(handler.GetCapacity(), 0u);
}

TEST(MemoryMapIOHandlerTest, AllocateThatCannotMapLeavesNoBuffer) {
  MemoryMapIOHandler handler(0);
  {
    FileSizeLimit limit(1 << 20);
    ASSERT_TRUE(limit.IsActive());
    EXPECT_EQ(handler.Allocate(2 << 20), 2 << 20);
    EXPECT_EQ(handler.GetBuffer(), nullptr);
    char buffer[4];
    EXPECT_EQ(handler.ReadStream(buffer, sizeof buffer), 0u);
    // The planned section is still too large to map.
    EXPECT_EQ(handler.WriteStream("small"), 0u);
  }
  EXPECT_EQ(handler.WriteStream("small"), 5u);
  EXPECT_EQ(Content(handler), "small");
  EXPECT_EQ(ReadAll(handler, 1 << 20).size(), size_t{2} << 20);
}

TEST(MemoryMapIOHandlerTest, NullDataOnlyMakesRoom) {
  MemoryMapIOHandler handler(16);
  EXPECT_EQ(handler.WriteStream(static_cast<const void*>(nullptr), 5), 0u);
  EXPECT_NE(handler.GetBuffer(), nullptr);
  EXPECT_EQ(handler.GetLength(), 0u);
}

TEST(MemoryMapIOHandlerTest, ResetReleasesTheSection) {
  MemoryMapIOHandler handler(64);
  ASSERT_EQ(handler.WriteStream("first"), 5u);
  handler.Reset();
  EXPECT_EQ(handler.GetBuffer(), nullptr);
  EXPECT_EQ(handler.GetLength(), 0u);
  ASSERT_EQ(handler.WriteStream("second"), 6u);
  EXPECT_EQ(Content(handler), "second");
  EXPECT_EQ(ReadAll(handler).size(), 64u);
}

TEST(MemoryMapIOHandlerTest, CopiesShareTheBytes) {
  MemoryMapIOHandler original(256);
  ASSERT_EQ(original.WriteStream("shared body"), 11u);

  MemoryMapIOHandler copy(original);
  EXPECT_EQ(copy.GetLength(), 11u);
  EXPECT_EQ(Content(copy), "shared body");
  copy.GetBuffer()[0] = 'S';
  EXPECT_EQ(Content(original), "Shared body");

  MemoryMapIOHandler assigned(8);
  ASSERT_EQ(assigned.WriteStream("gone"), 4u);
  assigned = original;
  EXPECT_EQ(Content(assigned), "Shared body");
  assigned = assigned;
  EXPECT_EQ(Content(assigned), "Shared body");

  original.Reset();
  EXPECT_EQ(Content(copy), "Shared body");
  EXPECT_EQ(ReadAll(assigned).size(), 256u);

  MemoryMapIOHandler empty(0);
  MemoryMapIOHandler empty_copy(empty);
  EXPECT_EQ(empty_copy.GetBuffer(), nullptr);
  assigned = empty;
  EXPECT_EQ(assigned.GetBuffer(), nullptr);
  EXPECT_EQ(assigned.GetLength(), 0u);
}

TEST(MemoryMapIOHandlerTest, MapFileShowsTheFileUpToItsLength) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string content = PatternBytes(70000);
  const std::string path = folder.Write("body.bin", content);

  MemoryMapIOHandler handler(1048576);
  ASSERT_EQ(handler.WriteStream("earlier content"), 15u);
  int size = -1;
  char* view = handler.MapFile(path.c_str(), &size);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(view, handler.GetBuffer());
  EXPECT_EQ(size, 70000);
  EXPECT_EQ(handler.GetLength(), 0u);
  EXPECT_EQ(std::string(view, 70000), content);
  EXPECT_EQ(ReadAll(handler, 30000), content);

  // Writing continues in a private copy; the file keeps its bytes.
  EXPECT_EQ(handler.WriteStream("head"), 4u);
  EXPECT_EQ(Content(handler), "head");
  EXPECT_EQ(ScratchFolder::Read(path), content);
}

TEST(MemoryMapIOHandlerTest, MapFileWithoutContentLeavesNoView) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string empty = folder.Write("empty.bin", "");
  const std::string missing = folder.PathOf("missing.bin");
  for (const char* name : {empty.c_str(), missing.c_str(), "", static_cast<const char*>(nullptr)}) {
    MemoryMapIOHandler handler(0);
    ASSERT_EQ(handler.WriteStream("old"), 3u);
    int size = -1;
    EXPECT_EQ(handler.MapFile(name, &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(handler.GetBuffer(), nullptr);
    EXPECT_EQ(handler.GetLength(), 0u);
    char buffer[8];
    EXPECT_EQ(handler.ReadStream(buffer, sizeof buffer), 0u);
    EXPECT_EQ(handler.WriteStream("new"), 3u);
    EXPECT_EQ(Content(handler), "new");
  }
}

TEST(MemoryMapIOHandlerTest, AttachTakesTheMallocBufferOver) {
  MemoryMapIOHandler handler(16);
  ASSERT_EQ(handler.WriteStream("replaced"), 8u);
  const std::string bytes = PatternBytes(5000);
  void* data = std::malloc(bytes.size());
  ASSERT_NE(data, nullptr);
  std::memcpy(data, bytes.data(), bytes.size());
  // The leak checker reports the buffer if Attach does not free it.
  handler.Attach(data, static_cast<unsigned>(bytes.size()));
  EXPECT_EQ(handler.GetLength(), 5000u);
  EXPECT_EQ(Content(handler), bytes);

  MemoryMapIOHandler small(4096);
  void* word = std::malloc(4);
  ASSERT_NE(word, nullptr);
  std::memcpy(word, "word", 4);
  small.Attach(word, 4);
  EXPECT_EQ(Content(small), "word");
  EXPECT_EQ(ReadAll(small).size(), 4096u);

  small.Attach(nullptr, 100);
  EXPECT_EQ(small.GetBuffer(), nullptr);
  EXPECT_EQ(small.GetLength(), 0u);
  ASSERT_EQ(small.WriteStream("x"), 1u);
  EXPECT_EQ(ReadAll(small).size(), 4096u);
}

}  // namespace
