// Tests of the whole-file helpers against files in a private temporary folder.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "common/FileFunctions.h"

namespace {

namespace fs = std::filesystem;

class FileFunctionsTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "corvane-files-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
  }
  void TearDown() override { fs::remove_all(folder_); }

  std::string PathOf(const char* name) const { return (folder_ / name).string(); }

  std::string Make(const char* name, const std::string& content) const {
    const std::string path = PathOf(name);
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }

  static std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path folder_;
};

TEST_F(FileFunctionsTest, FileExistsAndLength) {
  const std::string path = Make("a.txt", "hello");
  EXPECT_TRUE(FileExists(path.c_str()));
  EXPECT_EQ(GetFileLength(path.c_str()), 5u);

  const std::string missing = PathOf("missing");
  EXPECT_FALSE(FileExists(missing.c_str()));
  EXPECT_EQ(GetFileLength(missing.c_str()), 0u);
  EXPECT_FALSE(FileExists(folder_.c_str()));  // a folder is not a file
  EXPECT_FALSE(FileExists(nullptr));
  EXPECT_FALSE(FileExists(""));
  EXPECT_EQ(GetFileLength(nullptr), 0u);
}

TEST_F(FileFunctionsTest, ReadWholeFileReturnsBytesAndNul) {
  const std::string content("line one\r\n\0binary\xff", 18);
  const std::string path = Make("data.bin", content);
  unsigned long size = 99;
  std::unique_ptr<char[]> data(ReadWholeFile(path.c_str(), &size));
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(size, content.size());
  EXPECT_EQ(std::string(data.get(), size), content);
  EXPECT_EQ(data[size], '\0');

  std::unique_ptr<char[]> again(ReadWholeFile(path.c_str(), nullptr));
  EXPECT_NE(again, nullptr);
}

TEST_F(FileFunctionsTest, ReadWholeFileGivesNullForNothingToRead) {
  const std::string empty = Make("empty", "");
  const std::string missing = PathOf("missing");
  const char* const names[] = {empty.c_str(), missing.c_str(), folder_.c_str(), "", nullptr};
  for (const char* name : names) {
    unsigned long size = 99;
    EXPECT_EQ(ReadWholeFile(name, &size), nullptr) << (name ? name : "(null)");
    EXPECT_EQ(size, 0u);
  }
}

TEST_F(FileFunctionsTest, WriteWholeFileCreatesAndTruncates) {
  const std::string path = PathOf("out.txt");
  EXPECT_NE(WriteWholeFile(path.c_str(), "a much longer first text", 0), 0);
  EXPECT_EQ(Contents(path), "a much longer first text");

  EXPECT_NE(WriteWholeFile(path.c_str(), "short", -5), 0);
  EXPECT_EQ(Contents(path), "short");

  const char bytes[] = {'x', '\0', 'y', 'z'};
  EXPECT_NE(WriteWholeFile(path.c_str(), bytes, 3), 0);
  EXPECT_EQ(Contents(path), std::string("x\0y", 3));
}

TEST_F(FileFunctionsTest, WriteWholeFileWritesLargeData) {
  std::string big(3 * 1024 * 1024 + 17, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 31 % 251);
  const std::string path = PathOf("big.bin");
  ASSERT_NE(WriteWholeFile(path.c_str(), big.data(), static_cast<long long>(big.size())), 0);
  unsigned long size = 0;
  std::unique_ptr<char[]> back(ReadWholeFile(path.c_str(), &size));
  ASSERT_NE(back, nullptr);
  ASSERT_EQ(size, big.size());
  EXPECT_EQ(std::string(back.get(), size), big);
}

TEST_F(FileFunctionsTest, WriteWholeFileFailures) {
  const std::string path = PathOf("never");
  EXPECT_EQ(WriteWholeFile(path.c_str(), nullptr, 10), 0);
  EXPECT_FALSE(fs::exists(path));
  EXPECT_EQ(WriteWholeFile(nullptr, "x", 1), 0);
  EXPECT_EQ(WriteWholeFile(PathOf("no/such/folder/f").c_str(), "x", 1), 0);
  EXPECT_EQ(WriteWholeFile(folder_.c_str(), "x", 1), 0);
}

}  // namespace
