// Tests of the mapped memory sections: anonymous growth, sharing between views and read-only file
// views.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "common/StreamTestFiles.h"
#include "platform/MemorySection.h"

namespace corvane::platform {
namespace {

using corvane::test::PatternBytes;
using corvane::test::ScratchFolder;

std::string Bytes(const MemorySection& section, size_t offset, size_t count) {
  return std::string(section.Data() + offset, count);
}

TEST(MemorySectionTest, SharedRegionStartsZeroFilledAndWritable) {
  EXPECT_EQ(MemorySection::CreateShared(0, true), nullptr);
  auto section = MemorySection::CreateShared(10000, true);
  ASSERT_NE(section, nullptr);
  EXPECT_EQ(section->Size(), 10000u);
  EXPECT_TRUE(section->IsWritable());
  EXPECT_FALSE(section->IsFile());
  EXPECT_EQ(Bytes(*section, 0, 10000), std::string(10000, '\0'));
  section->Data()[9999] = 'z';
  EXPECT_EQ(section->Data()[9999], 'z');
}

TEST(MemorySectionTest, GrowingKeepsEveryByteAndZeroFillsTheRest) {
  const std::string pattern = PatternBytes(100000);
  auto section = MemorySection::CreateShared(pattern.size(), true);
  ASSERT_NE(section, nullptr);
  std::memcpy(section->Data(), pattern.data(), pattern.size());

  ASSERT_TRUE(section->Remap(3 << 20, true));
  EXPECT_EQ(section->Size(), size_t{3} << 20);
  EXPECT_EQ(Bytes(*section, 0, pattern.size()), pattern);
  EXPECT_EQ(Bytes(*section, pattern.size(), 4096), std::string(4096, '\0'));
  section->Data()[(3 << 20) - 1] = 'e';

  ASSERT_TRUE(section->Remap(50000, true));
  EXPECT_EQ(Bytes(*section, 0, 50000), pattern.substr(0, 50000));
  EXPECT_FALSE(section->Remap(0, true));
  EXPECT_EQ(section->Size(), 50000u);
}

TEST(MemorySectionTest, ChangingAccessKeepsTheBytes) {
  auto section = MemorySection::CreateShared(4096, true);
  ASSERT_NE(section, nullptr);
  std::memcpy(section->Data(), "abc", 3);
  ASSERT_TRUE(section->Remap(8192, false));
  EXPECT_FALSE(section->IsWritable());
  EXPECT_EQ(Bytes(*section, 0, 3), "abc");
  ASSERT_TRUE(section->Remap(8192, true));
  section->Data()[8191] = 'q';
  EXPECT_EQ(Bytes(*section, 0, 3), "abc");
}

TEST(MemorySectionTest, DuplicatesShareBytesAndOutliveTheOriginal) {
  auto original = MemorySection::CreateShared(8192, true);
  ASSERT_NE(original, nullptr);
  auto copy = original->Duplicate();
  ASSERT_NE(copy, nullptr);
  EXPECT_NE(copy->Data(), original->Data());
  EXPECT_EQ(copy->Size(), 8192u);

  std::memcpy(original->Data(), "one", 3);
  std::memcpy(copy->Data() + 100, "two", 3);
  EXPECT_EQ(Bytes(*copy, 0, 3), "one");
  EXPECT_EQ(Bytes(*original, 100, 3), "two");

  // Shrinking one view must not cut the store under the other's tail.
  ASSERT_TRUE(original->Remap(4096, true));
  copy->Data()[8191] = 'x';
  EXPECT_EQ(copy->Data()[8191], 'x');

  ASSERT_TRUE(original->Remap(1 << 20, true));
  std::memcpy(original->Data() + 200, "three", 5);
  EXPECT_EQ(Bytes(*copy, 200, 5), "three");
  original.reset();
  EXPECT_EQ(Bytes(*copy, 0, 3), "one");
}

TEST(MemorySectionTest, FileViewIsReadOnlyAndBoundedByTheFile) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string content = PatternBytes(5000);
  const std::string path = folder.Write("data.bin", content);

  uint64_t length = 99;
  auto view = MemorySection::MapFile(path.c_str(), UINT64_MAX, &length);
  ASSERT_NE(view, nullptr);
  EXPECT_EQ(length, 5000u);
  EXPECT_TRUE(view->IsFile());
  EXPECT_FALSE(view->IsWritable());
  EXPECT_EQ(Bytes(*view, 0, 5000), content);

  EXPECT_FALSE(view->Remap(5000, true));
  EXPECT_FALSE(view->Remap(5001, false));
  ASSERT_TRUE(view->Remap(100, false));
  EXPECT_EQ(Bytes(*view, 0, 100), content.substr(0, 100));

  auto copy = view->Duplicate();
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->IsFile());
  EXPECT_EQ(Bytes(*copy, 0, 100), content.substr(0, 100));
}

TEST(MemorySectionTest, PrivateCopyOfAFileIsWritableAndKnowsItsSource) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string path = folder.Write("source.bin", "source bytes");
  const std::string other = folder.Write("other.bin", "other");
  uint64_t length = 0;
  auto view = MemorySection::MapFile(path.c_str(), UINT64_MAX, &length);
  ASSERT_NE(view, nullptr);

  auto copy = view->PrivateCopy(8192);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->IsWritable());
  EXPECT_FALSE(copy->IsFile());
  EXPECT_EQ(Bytes(*copy, 0, 12), "source bytes");
  copy->Data()[0] = 'S';
  EXPECT_EQ(ScratchFolder::Read(path), "source bytes");

  view.reset();
  EXPECT_FALSE(copy->RemoveSourceFile(other.c_str()));
  EXPECT_TRUE(copy->RemoveSourceFile(path.c_str()));
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(std::filesystem::exists(other));
  EXPECT_FALSE(MemorySection::CreateShared(16, true)->RemoveSourceFile(other.c_str()));
}

TEST(MemorySectionTest, FilesThatCannotBeMappedGiveNoView) {
  ScratchFolder folder;
  ASSERT_TRUE(folder.IsReady());
  const std::string empty = folder.Write("empty.bin", "");
  const std::string small = folder.Write("small.bin", "12345");
  const std::string missing = folder.PathOf("missing.bin");
  const std::string directory = folder.PathOf("");
  struct Case {
    const char* path;
    uint64_t max_length;
    uint64_t expected_length;
  };
  const Case cases[] = {
      {nullptr, UINT64_MAX, 0},         {"", UINT64_MAX, 0},
      {missing.c_str(), UINT64_MAX, 0}, {directory.c_str(), UINT64_MAX, 0},
      {empty.c_str(), UINT64_MAX, 0},   {small.c_str(), 4, 5},
  };
  for (const Case& c : cases) {
    uint64_t length = 77;
    EXPECT_EQ(MemorySection::MapFile(c.path, c.max_length, &length), nullptr)
        << (c.path ? c.path : "(null)");
    EXPECT_EQ(length, c.expected_length) << (c.path ? c.path : "(null)");
  }
}

}  // namespace
}  // namespace corvane::platform

namespace corvane::platform {
namespace {

// Freed small regions are reused; a reused one must look exactly like a new
// one, also after it grows again, and duplicated regions are never handed out.
TEST(MemorySectionTest, ReusedRegionsComeBackZeroFilled) {
  for (int round = 0; round < 3; ++round) {
    auto dirty = MemorySection::CreateShared(8192, true);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty->Data(), 'x', 8192);
  }
  auto reused = MemorySection::CreateShared(1000, true);
  ASSERT_NE(reused, nullptr);
  EXPECT_EQ(Bytes(*reused, 0, 1000), std::string(1000, '\0'));
  ASSERT_TRUE(reused->Remap(8192, true));
  EXPECT_EQ(Bytes(*reused, 0, 8192), std::string(8192, '\0'));

  auto original = MemorySection::CreateShared(4096, true);
  ASSERT_NE(original, nullptr);
  auto copy = original->Duplicate();
  ASSERT_NE(copy, nullptr);
  original.reset();
  auto next = MemorySection::CreateShared(4096, true);
  ASSERT_NE(next, nullptr);
  std::memset(next->Data(), 'y', 4096);
  EXPECT_EQ(copy->Data()[0], '\0');  // the duplicate's store was not given away
}

// A reused region keeps the pages of a larger store; what a former owner left
// there reads as zeros once a view grows over it: writable, read-only, or
// through a duplicate, without one view zeroing what the other wrote.
TEST(MemorySectionTest, GrowingAReusedRegionShowsZerosWhereAFormerOwnerWrote) {
  // Only the store left dirty here is large enough for the smaller view, so
  // that is the one handed out again.
  constexpr size_t kLarge = size_t{4} << 20;
  constexpr size_t kSmaller = kLarge - 10000;
  const std::string zeros(kLarge, '\0');
  auto leave_dirty_store = [] {
    auto dirty = MemorySection::CreateShared(kLarge, true);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty->Data(), 'x', kLarge);
  };

  leave_dirty_store();
  auto grown = MemorySection::CreateShared(kSmaller, true);
  ASSERT_NE(grown, nullptr);
  EXPECT_EQ(Bytes(*grown, 0, kSmaller), zeros.substr(0, kSmaller));
  std::memset(grown->Data(), 'a', kSmaller);
  ASSERT_TRUE(grown->Remap(kLarge + 4096, true));
  EXPECT_EQ(Bytes(*grown, 0, kSmaller), std::string(kSmaller, 'a'));
  EXPECT_EQ(Bytes(*grown, kSmaller, kLarge + 4096 - kSmaller),
            std::string(kLarge + 4096 - kSmaller, '\0'));
  grown.reset();

  leave_dirty_store();
  auto read_only = MemorySection::CreateShared(kSmaller, true);
  ASSERT_NE(read_only, nullptr);
  ASSERT_TRUE(read_only->Remap(kLarge, false));
  EXPECT_EQ(Bytes(*read_only, 0, kLarge), zeros);
  read_only.reset();

  leave_dirty_store();
  auto original = MemorySection::CreateShared(kSmaller, true);
  ASSERT_NE(original, nullptr);
  auto copy = original->Duplicate();
  ASSERT_NE(copy, nullptr);
  ASSERT_TRUE(copy->Remap(kLarge, true));
  EXPECT_EQ(Bytes(*copy, 0, kLarge), zeros);
  copy->Data()[kLarge - 1] = 'c';
  ASSERT_TRUE(original->Remap(kLarge, true));
  EXPECT_EQ(original->Data()[kLarge - 1], 'c');
  EXPECT_EQ(Bytes(*original, 0, kLarge - 1), zeros.substr(1));
}

}  // namespace
}  // namespace corvane::platform
