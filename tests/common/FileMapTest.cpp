// Tests of FileMap: capacity and growth rules, reads bounded by capacity, sharing copies and file
// views.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/FileMap.h"
#include "common/StreamTestFiles.h"

namespace {

using corvane::test::FileSizeLimit;
using corvane::test::PatternBytes;
using corvane::test::ScratchFolder;

std::string ViewBytes(const FileMap& map, size_t offset, size_t count) {
  return std::string(map.GetView() + offset, count);
}

TEST(FileMapTest, CapacityDefaultsAndNothingIsMappedBeforeTheFirstWrite) {
  FileMap standard(0);
  EXPECT_EQ(standard.GetCapacity(), 983040u);
  EXPECT_EQ(standard.GetView(), nullptr);
  char buffer[8] = "unread";
  EXPECT_EQ(standard.Read(buffer, sizeof buffer), 0u);
  EXPECT_STREQ(buffer, "unread");

  FileMap sized(4096);
  EXPECT_EQ(sized.GetCapacity(), 4096u);
  EXPECT_EQ(sized.Write("abc", 3), 3u);
  EXPECT_EQ(sized.GetCapacity(), 4096u);
  EXPECT_EQ(sized.GetLength(), 3u);
  EXPECT_EQ(ViewBytes(sized, 0, 3), "abc");
}

TEST(FileMapTest, FirstWriteLargerThanTheCapacityMapsItsOwnLength) {
  FileMap map(100);
  const std::string bytes = PatternBytes(5000);
  EXPECT_EQ(map.Write(bytes.data(), bytes.size()), 5000u);
  EXPECT_EQ(map.GetCapacity(), 5000u);
  EXPECT_EQ(ViewBytes(map, 0, 5000), bytes);
}

TEST(FileMapTest, ReachingTheCapacityGrowsByTheLargerOfStepAndLength) {
  FileMap map(0);
  ASSERT_EQ(map.Write("0123456789", 10), 10u);
  const std::string fill = PatternBytes(983030);
  ASSERT_EQ(map.Write(fill.data(), fill.size()), fill.size());
  EXPECT_EQ(map.GetCapacity(), 983040u + 983030u);
  EXPECT_EQ(ViewBytes(map, 0, 10), "0123456789");
  EXPECT_EQ(ViewBytes(map, 10, fill.size()), fill);

  // A small write that reaches the end grows by the step.
  FileMap small(100);
  ASSERT_EQ(small.Write(fill.data(), 60), 60u);
  ASSERT_EQ(small.Write(fill.data(), 40), 40u);
  EXPECT_EQ(small.GetCapacity(), 100u + 327680u);
  EXPECT_EQ(ViewBytes(small, 0, 60), fill.substr(0, 60));
  EXPECT_EQ(ViewBytes(small, 60, 40), fill.substr(0, 40));
}

TEST(FileMapTest, GrowthKeepsBytesStoredDirectlyPastTheWritePosition) {
  FileMap map(100);
  ASSERT_EQ(map.Write(nullptr, 100), 0u);
  ASSERT_NE(map.GetView(), nullptr);
  const std::string filled = PatternBytes(100);
  std::memcpy(map.GetView(), filled.data(), filled.size());

  ASSERT_EQ(map.Write(nullptr, 200), 0u);
  EXPECT_EQ(map.GetCapacity(), 100u + 327680u);
  EXPECT_EQ(map.GetLength(), 0u);
  EXPECT_EQ(ViewBytes(map, 0, 100), filled);
}

// Bytes stored straight into the view become content through Commit, as far
// as the capacity reaches.
TEST(FileMapTest, CommitMakesBytesStoredInTheViewContent) {
  FileMap unmapped(100);
  EXPECT_FALSE(unmapped.Commit(10));
  EXPECT_EQ(unmapped.GetLength(), 0u);

  FileMap map(100);
  ASSERT_EQ(map.Write("ab", 2), 2u);
  const std::string filled = PatternBytes(60);
  std::memcpy(map.GetView() + 2, filled.data(), filled.size());
  ASSERT_TRUE(map.Commit(filled.size()));
  EXPECT_EQ(map.GetLength(), 62u);
  EXPECT_EQ(ViewBytes(map, 0, 62), "ab" + filled);
  EXPECT_FALSE(map.Commit(39));
  EXPECT_EQ(map.GetLength(), 62u);
  EXPECT_TRUE(map.Commit(38));
  EXPECT_EQ(map.GetLength(), 100u);
  EXPECT_TRUE(map.Commit(0));
  EXPECT_EQ(map.Write("c", 1), 1u);  // the next write grows the section as usual
  EXPECT_EQ(map.GetLength(), 101u);
}

TEST(FileMapTest, ReadIsBoundedByTheCapacityNotTheWritePosition) {
  FileMap map(64);
  ASSERT_EQ(map.Write(nullptr, 64), 0u);
  std::memcpy(map.GetView(), "direct", 6);

  char buffer[100];
  EXPECT_EQ(map.Read(buffer, 4), 4u);
  EXPECT_EQ(std::string(buffer, 4), "dire");
  EXPECT_EQ(map.Read(buffer, sizeof buffer), 60u);
  EXPECT_EQ(std::string(buffer, 2), "ct");
  EXPECT_EQ(map.GetReadPosition(), 64u);
  EXPECT_EQ(map.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(map.Read(nullptr, 10), 0u);
}

TEST(FileMapTest, WritesPastFourGigabytesFailWithoutWrapping) {
  FileMap map(16);
  ASSERT_EQ(map.Write("0123456789", 10), 10u);
  const char byte = 'x';
  // The data pointer is only one byte: any attempt to copy would be caught.
  EXPECT_EQ(map.Write(&byte, static_cast<unsigned long>(UINT_MAX) - 5), 0u);
  EXPECT_EQ(map.Write(&byte, 0x100000000UL), 0u);
  EXPECT_EQ(map.Write(&byte, ULONG_MAX), 0u);
  EXPECT_EQ(map.GetCapacity(), 16u);
  EXPECT_EQ(map.GetLength(), 10u);
  EXPECT_EQ(ViewBytes(map, 0, 10), "0123456789");
  EXPECT_EQ(map.Write("ab", 2), 2u);
  EXPECT_EQ(map.GetLength(), 12u);
}

TEST(FileMapTest, WriteThatCannotGrowTheSectionCopiesNothing) {
  FileMap map(100);
  const std::string bytes = PatternBytes(2 << 20);
  ASSERT_EQ(map.Write(bytes.data(), 60), 60u);
  const char* view = map.GetView();
  {
    FileSizeLimit limit(1 << 20);
    ASSERT_TRUE(limit.IsActive());
    EXPECT_EQ(map.Write(bytes.data(), bytes.size()), 0u);
    EXPECT_EQ(map.GetView(), view);
    EXPECT_EQ(map.GetCapacity(), 100u);
    EXPECT_EQ(map.GetLength(), 60u);
    EXPECT_EQ(ViewBytes(map, 0, 60), bytes.substr(0, 60));
    char buffer[200];
    EXPECT_EQ(map.Read(buffer, sizeof buffer), 100u);

    // Growth that stays under the limit still works.
    EXPECT_EQ(map.Write(bytes.data(), 40), 40u);
    EXPECT_EQ(map.GetCapacity(), 100u + 327680u);

    FileMap fresh(2 << 20);
    EXPECT_EQ(fresh.Write("x", 1), 0u);
    EXPECT_EQ(fresh.GetView(), nullptr);
  }
  EXPECT_EQ(map.Write(bytes.data(), bytes.size()), bytes.size());
  EXPECT_EQ(ViewBytes(map, 100, bytes.size()), bytes);
}

TEST(FileMapTest, MapWithUnsupportedArgumentsChangesNothing) {
  FileMap map(4096);
  ASSERT_EQ(map.Write("keep", 4), 4u);
  const char* view = map.GetView();
  struct Case {
    unsigned size, protection, offset, count;
  };
  const Case cases[] = {
      {8192, 0x40, 0, 0},                    // unknown protection
      {0, FileMap::kReadWrite, 0, 0},        // empty section
      {8192, FileMap::kReadWrite, 4096, 0},  // partial view
      {8192, FileMap::kReadWrite, 0, 4096},
  };
  for (const Case& c : cases) {
    map.Map(c.size, c.protection, c.offset, c.count);
    EXPECT_EQ(map.GetView(), view);
    EXPECT_EQ(map.GetCapacity(), 4096u);
    EXPECT_EQ(ViewBytes(map, 0, 4), "keep");
  }
  EXPECT_EQ(map.Write("!", 1), 1u);
}

TEST(FileMapTest, ShrinkingPullsPositionsBackSoLaterWritesStayInside) {
  FileMap map(1000);
  const std::string bytes = PatternBytes(800);
  ASSERT_EQ(map.Write(bytes.data(), bytes.size()), 800u);
  char buffer[700];
  ASSERT_EQ(map.Read(buffer, sizeof buffer), 700u);

  map.Map(500, FileMap::kReadWrite, 0, 500);
  EXPECT_EQ(map.GetCapacity(), 500u);
  EXPECT_EQ(map.GetLength(), 500u);
  EXPECT_EQ(map.GetReadPosition(), 500u);
  EXPECT_EQ(map.Read(buffer, sizeof buffer), 0u);
  EXPECT_EQ(map.Write("tail", 4), 4u);
  EXPECT_EQ(map.GetCapacity(), 500u + 327680u);
  EXPECT_EQ(ViewBytes(map, 0, 500), bytes.substr(0, 500));
  EXPECT_EQ(ViewBytes(map, 500, 4), "tail");
}

TEST(FileMapTest, CopiesShareTheBytesAndKeepTheirPositions) {
  FileMap original(4096);
  ASSERT_EQ(original.Write("shared", 6), 6u);
  char buffer[2];
  ASSERT_EQ(original.Read(buffer, 2), 2u);

  FileMap copy(original);
  ASSERT_NE(copy.GetView(), nullptr);
  EXPECT_NE(copy.GetView(), original.GetView());
  EXPECT_EQ(copy.GetCapacity(), 4096u);
  EXPECT_EQ(copy.GetLength(), 6u);
  EXPECT_EQ(copy.GetReadPosition(), 2u);
  copy.GetView()[0] = 'S';
  EXPECT_EQ(ViewBytes(original, 0, 6), "Shared");

  FileMap assigned(16);
  ASSERT_EQ(assigned.Write("old", 3), 3u);
  assigned = original;
  EXPECT_EQ(assigned.GetLength(), 6u);
  original.GetView()[1] = 'H';
  EXPECT_EQ(ViewBytes(assigned, 0, 6), "SHared");
  assigned = assigned;
  EXPECT_EQ(ViewBytes(assigned, 0, 6), "SHared");

  FileMap unmapped(100);
  FileMap unmapped_copy(unmapped);
  EXPECT_EQ(unmapped_copy.GetView(), nullptr);
  EXPECT_EQ(unmapped_copy.GetCapacity(), 100u);
}

TEST(FileMapTest, MapFileGivesTheFileReadOnlyAndWritesGoToAPrivateCopy) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string content = PatternBytes(3000);
  const std::string path = folder.Write("body.bin", content);

  FileMap map(0);
  ASSERT_EQ(map.Write("previous", 8), 8u);
  unsigned long long length = 0;
  ASSERT_TRUE(map.MapFile(path.c_str(), &length));
  EXPECT_EQ(length, 3000u);
  EXPECT_EQ(map.GetCapacity(), 3000u);
  EXPECT_EQ(map.GetLength(), 0u);
  EXPECT_STREQ(map.GetFileName(), path.c_str());
  std::string read(3000, '\0');
  EXPECT_EQ(map.Read(read.data(), 5000), 3000u);
  EXPECT_EQ(read, content);

  EXPECT_EQ(map.Write("new", 3), 3u);
  EXPECT_EQ(ViewBytes(map, 0, 3), "new");
  EXPECT_EQ(ViewBytes(map, 3, 2997), content.substr(3));
  EXPECT_EQ(ScratchFolder::Read(path), content);

  map.Close();
  EXPECT_TRUE(std::filesystem::exists(path));
  EXPECT_EQ(map.GetCapacity(), 0u);
  EXPECT_STREQ(map.GetFileName(), "");
}

TEST(FileMapTest, MapFileWithoutAFileToMapLeavesNoView) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string empty = folder.Write("empty.bin", "");
  const std::string missing = folder.PathOf("missing.bin");
  for (const char* name : {empty.c_str(), missing.c_str(), "", static_cast<const char*>(nullptr)}) {
    FileMap map(100);
    ASSERT_EQ(map.Write("old", 3), 3u);
    unsigned long long length = 42;
    EXPECT_FALSE(map.MapFile(name, &length));
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(map.GetView(), nullptr);
    EXPECT_EQ(map.GetLength(), 0u);
    char buffer[4];
    EXPECT_EQ(map.Read(buffer, sizeof buffer), 0u);
    EXPECT_EQ(map.Write("new", 3), 3u);
  }
}

TEST(FileMapTest, DeleteOnCloseRemovesOnlyTheMappedFile) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string kept = folder.Write("kept.bin", "kept");
  const std::string path = folder.Write("temporary.bin", "attachment");
  {
    FileMap plain(0);
    unsigned long long length = 0;
    ASSERT_TRUE(plain.MapFile(kept.c_str(), &length));
  }
  EXPECT_TRUE(std::filesystem::exists(kept));
  {
    FileMap map(0);
    unsigned long long length = 0;
    ASSERT_TRUE(map.MapFile(path.c_str(), &length));
    map.SetDeleteOnClose(true);
    FileMap copy(map);
    EXPECT_TRUE(copy.GetDeleteOnClose());
    // Writing turns the copy's view private; it still knows its file.
    ASSERT_EQ(copy.Write("A", 1), 1u);
    map.Close();
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(ViewBytes(copy, 0, 10), "Attachment");
    folder.Write("temporary.bin", "replacement");
  }
  // The copy closed with the flag but the name now belongs to another file.
  EXPECT_EQ(ScratchFolder::Read(path), "replacement");
}

}  // namespace
