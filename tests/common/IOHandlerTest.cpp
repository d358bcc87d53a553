// Tests of the inherited piecewise LoadFile, through MemoryMapIOHandler and a handler that stores
// little.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/IOHandler.h"
#include "common/MemoryMapIOHandler.h"
#include "common/StreamTestFiles.h"

namespace {

using corvane::test::PatternBytes;
using corvane::test::ScratchFolder;

constexpr size_t kPiece = 2097152;

// Records the pieces it is given and stores at most `room` bytes in all.
class LimitedHandler : public IOHandler {
 public:
  explicit LimitedHandler(size_t room) : room_(room) {}
  unsigned long ReadStream(void*, unsigned long) override { return 0; }
  unsigned long WriteStream(const char* text) override { return WriteStreamA(text); }
  unsigned long WriteStream(const void* data, unsigned long size) override {
    pieces.push_back(size);
    const size_t taken = std::min<size_t>(size, room_ - stored.size());
    stored.append(static_cast<const char*>(data), taken);
    return taken;
  }
  void Reset() override { stored.clear(); }
  char* GetBuffer() override { return stored.empty() ? nullptr : stored.data(); }
  unsigned long GetLength() override { return stored.size(); }
  int Allocate(int) override { return 0; }

  std::vector<unsigned long> pieces;
  std::string stored;

 private:
  size_t room_;
};

class IOHandlerTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder_.IsReady()); }
  ScratchFolder folder_;
};

TEST_F(IOHandlerTest, LoadFileReadsTwoMegabytePiecesIntoAMappedHandler) {
  const std::string content = PatternBytes(2 * kPiece + 12345);
  const std::string path = folder_.Write("large.bin", content);

  MemoryMapIOHandler handler(0);
  ASSERT_EQ(handler.WriteStream("head:"), 5u);
  int size = -1;
  char* loaded = handler.LoadFile(path.c_str(), &size);
  ASSERT_NE(loaded, nullptr);
  EXPECT_EQ(loaded, handler.GetBuffer());
  EXPECT_EQ(size, static_cast<int>(content.size()));
  EXPECT_EQ(handler.GetLength(), content.size() + 5);
  EXPECT_EQ(std::string(handler.GetBuffer(), handler.GetLength()), "head:" + content);

  LimitedHandler recorder(content.size());
  ASSERT_NE(recorder.LoadFile(path.c_str(), &size), nullptr);
  EXPECT_EQ(recorder.pieces, (std::vector<unsigned long>{kPiece, kPiece, 12345}));
}

TEST_F(IOHandlerTest, LoadFileStopsWithSizeZeroWhenAPieceIsNotStoredWhole) {
  const std::string path = folder_.Write("large.bin", PatternBytes(2 * kPiece + 10));
  LimitedHandler handler(kPiece + 100);
  int size = -1;
  EXPECT_EQ(handler.LoadFile(path.c_str(), &size), nullptr);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(handler.pieces, (std::vector<unsigned long>{kPiece, kPiece}));
}

TEST_F(IOHandlerTest, LoadFileWithoutContentGivesNull) {
  const std::string empty = folder_.Write("empty.bin", "");
  const std::string missing = folder_.PathOf("missing.bin");
  for (const char* name : {empty.c_str(), missing.c_str(), "", static_cast<const char*>(nullptr)}) {
    MemoryMapIOHandler handler(0);
    int size = -1;
    EXPECT_EQ(handler.LoadFile(name, &size), nullptr);
    EXPECT_EQ(size, 0);
    EXPECT_EQ(handler.GetLength(), 0u);
  }
}

}  // namespace
