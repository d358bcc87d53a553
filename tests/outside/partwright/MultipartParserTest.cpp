// Tests of MultipartParser and MultipartEntry: split delimiters, headers, stored parts, hostile
// input, limits.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/BufferIOHandler.h"
#include "partwright/MimeProcessor.h"
#include "partwright/MultipartParser.h"
#include "sealvault/Debug.h"

namespace {

namespace fs = std::filesystem;

// Feeds body in pieces of `piece` bytes, each in an exactly sized copy so that
// a read past a piece is caught.
unsigned Feed(MultipartParser& parser, std::string_view body, size_t piece) {
  unsigned counted = 0;
  for (size_t at = 0; at < body.size(); at += piece) {
    const std::string_view part = body.substr(at, piece);
    std::vector<unsigned char> copy(part.begin(), part.end());
    counted = parser.ParseStream(copy.data(), static_cast<unsigned>(copy.size()));
  }
  return counted;
}

std::string Content(MultipartEntry* entry) {
  if (entry == nullptr) return "<no part>";
  const unsigned char* bytes = entry->GetContent();
  if (bytes == nullptr) return "<no content>";
  EXPECT_EQ(bytes[entry->GetLength()], 0) << "content is NUL-terminated";
  return std::string(reinterpret_cast<const char*>(bytes), entry->GetLength());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class MultipartParserTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("multipart-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    folder_ = dir_ / "attach";
    fs::create_directories(folder_);
    ASSERT_TRUE(Debug::SetLogFile((dir_ / "log.txt").c_str()));
  }
  void TearDown() override {
    Debug::SetLogFile(nullptr);
    fs::remove_all(dir_);
  }
  std::string Log() { return ReadFile(dir_ / "log.txt"); }
  // One part carrying a file name, in a body with delimiter "--b".
  static std::string FilePart(const std::string& filename, const std::string& content) {
    return "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"" + filename +
           "\"\r\n\r\n" + content + "\r\n--b--\r\n";
  }
  fs::path dir_;
  fs::path folder_;
};

TEST_F(MultipartParserTest, BuiltMessageParsesBackInPiecesOfEverySize) {
  // Near-misses of the delimiter, NUL bytes and a trailing CR inside the file content.
  const std::string binary("\x00\r\n--corvane-msg-boundar\r\n---corvane\x00\xff\r", 36);
  const std::string path = (dir_ / "payload.bin").string();
  std::ofstream(path, std::ios::binary) << binary;
  MimeProcessor mime("Multipart/Related; type=text/xml", "--corvane-msg-boundary");
  ASSERT_GT(mime.AddMIMEPart(path.c_str(), "application/octet-stream", "att@x", -1), 0);
  ASSERT_GT(mime.AddMIMEPart("<Envelope>\r\n</Envelope>", "text/xml", "root@x", 0), 0);
  BufferIOHandler out;
  unsigned length = 0;
  const char* formatted = mime.FormatMessageA(0, &length, &out);
  ASSERT_NE(formatted, nullptr);
  const std::string body = "preamble\r\n" + std::string(formatted, length) + "epilogue --";

  for (size_t piece = 1; piece <= body.size(); ++piece) {
    SCOPED_TRACE("piece size " + std::to_string(piece));
    MultipartParser parser(nullptr);
    parser.SetBoundary("----corvane-msg-boundary");
    EXPECT_EQ(Feed(parser, body, piece), 2u);
    ASSERT_EQ(parser.getLength(), 2u);
    EXPECT_TRUE(parser.IsComplete());
    EXPECT_EQ(Content(parser[0]), "<Envelope>\r\n</Envelope>");
    EXPECT_STREQ(parser[0]->GetId(), "root@x");
    EXPECT_STREQ(parser[0]->GetHeader("content-type"), "text/xml");
    EXPECT_EQ(Content(parser[1]), binary);
    EXPECT_STREQ(parser[1]->GetId(), "att@x");
    EXPECT_STREQ(parser[1]->GetHeader("CONTENT-TRANSFER-ENCODING"), "binary");
    EXPECT_EQ(parser[1]->GetName(), nullptr);
    EXPECT_EQ(parser[1]->GetHeader("FullPath"), nullptr);
  }
}

TEST_F(MultipartParserTest, DelimiterRulesHoldAtEveryPieceSize) {
  struct Case {
    const char* what;
    std::string body;
    std::vector<std::string> contents;
  } cases[] = {
      {"bare LF line ends", "--b\nA: 1\n\none\n--b\n\ntwo\n--b--\n", {"one", "two"}},
      {"delimiter right after the blank line", "--b\r\n\r\n--b--", {""}},
      {"part without blank line", "--b\r\nX: 1\r\n--b--", {""}},
      {"transport padding", "--b \t\r\n\r\nx\r\n--b \r\n\r\ny\r\n--b--", {"x", "y"}},
      {"lookalikes inside content",
       "--b\r\n\r\nv--b\r\n--bc\r\n--b-x\r\n--b x\r\n--b--",
       {"v--b\r\n--bc\r\n--b-x\r\n--b x"}},
      {"preamble and epilogue", "pre--b\r\n--b\r\n\r\nz\r\n--b--\r\n--b\r\n\r\nignored", {"z"}},
      {"line ends inside content", "--b\r\n\r\n\r\n\r\n\r\n--b--", {"\r\n\r\n"}},
      {"content ending in CR", "--b\n\nx\r\r\n--b--", {"x\r"}},
      {"closing delimiter at the very end", "--b\r\n\r\nlast\r\n--b--", {"last"}},
  };
  for (const Case& c : cases) {
    for (size_t piece = 1; piece <= c.body.size(); ++piece) {
      SCOPED_TRACE(std::string(c.what) + ", piece size " + std::to_string(piece));
      MultipartParser parser;
      parser.SetBoundary("--b");
      Feed(parser, c.body, piece);
      ASSERT_EQ(parser.getLength(), c.contents.size());
      EXPECT_TRUE(parser.IsComplete());
      for (unsigned i = 0; i < c.contents.size(); ++i) EXPECT_EQ(Content(parser[i]), c.contents[i]);
    }
  }
}

TEST_F(MultipartParserTest, HeadersNamesIdsAndLookups) {
  const std::string body =
      "--b\r\n"
      "content-disposition: form-data; name=\"field one\"; filename=\"C:\\dir\\a "
      "\\\"q\\\".txt\"\r\n"
      "X-Long: a\r\n"
      "\t  b\r\n"
      "FullPath: /etc/passwd\r\n"
      "no colon here\r\n"
      "Content-ID:  <abc@x> \r\n"
      "\r\n"
      "one\r\n"
      "--b\r\n"
      "Content-Disposition: form-data; name=second\r\n"
      "\r\n"
      "two\r\n"
      "--b--\r\n";
  MultipartParser parser;
  parser.SetBoundary("--b");
  Feed(parser, body, body.size());
  ASSERT_EQ(parser.getLength(), 2u);
  MultipartEntry* first = parser[0];
  EXPECT_STREQ(first->GetName(), "field one");
  EXPECT_STREQ(first->GetFileName(), "C:\\dir\\a \"q\".txt");
  EXPECT_STREQ(first->GetHeader("x-long"), "a b");
  EXPECT_EQ(first->GetHeader("FullPath"), nullptr) << "only the parser sets FullPath";
  EXPECT_EQ(first->GetHeader(nullptr), nullptr);
  EXPECT_STREQ(first->GetId(), "abc@x");
  EXPECT_STREQ(parser[1]->GetName(), "second");
  EXPECT_EQ(parser[1]->GetId(), nullptr);
  EXPECT_EQ(parser[1]->GetFileName(), nullptr);

  EXPECT_EQ(parser["field one"], first);
  EXPECT_EQ(parser["second"], parser[1]);
  EXPECT_EQ(parser["Second"], nullptr) << "names are case-sensitive";
  for (const char* id : {"abc@x", "<abc@x>", "cid:abc@x", "CID:<abc@x>"})
    EXPECT_EQ(parser[id], first) << id;
  EXPECT_EQ(parser["missing"], nullptr);
  EXPECT_EQ(parser[static_cast<const char*>(nullptr)], nullptr);
  EXPECT_EQ(parser[2u], nullptr);
  EXPECT_EQ(parser[-1], nullptr);
}

TEST_F(MultipartParserTest, CurlFormDataWithAndWithoutFolder) {
  // The bytes curl sends for: curl -F person=anonymous -F secret=@file.txt
  const std::string boundary = "------------------------d74496d66958873e";
  const std::string body =
      "--" + boundary +
      "\r\n"
      "Content-Disposition: form-data; name=\"person\"\r\n"
      "\r\n"
      "anonymous\r\n"
      "--" +
      boundary +
      "\r\n"
      "Content-Disposition: form-data; name=\"secret\"; filename=\"file.txt\"\r\n"
      "Content-Type: text/plain\r\n"
      "\r\n"
      "contents of the file\n"
      "\r\n"
      "--" +
      boundary + "--\r\n";
  for (const bool with_folder : {false, true}) {
    SCOPED_TRACE(with_folder ? "with folder" : "in memory");
    MultipartParser parser(with_folder ? folder_.c_str() : nullptr);
    parser.SetBoundary(("--" + boundary).c_str());
    Feed(parser, body, 7);
    ASSERT_EQ(parser.getLength(), 2u);
    EXPECT_EQ(Content(parser["person"]), "anonymous");
    EXPECT_EQ(parser["person"]->GetHeader("FullPath"), nullptr);
    MultipartEntry* secret = parser["secret"];
    ASSERT_NE(secret, nullptr);
    EXPECT_STREQ(secret->GetFileName(), "file.txt");
    EXPECT_STREQ(secret->GetHeader("Content-Type"), "text/plain");
    EXPECT_EQ(secret->GetLength(), 21u);
    if (with_folder) {
      ASSERT_NE(secret->GetHeader("FullPath"), nullptr);
      EXPECT_EQ(fs::path(secret->GetHeader("FullPath")), folder_ / "file.txt");
      EXPECT_EQ(ReadFile(folder_ / "file.txt"), "contents of the file\n");
    } else {
      EXPECT_EQ(secret->GetHeader("FullPath"), nullptr);
      EXPECT_TRUE(fs::is_empty(folder_));
    }
    EXPECT_EQ(Content(secret), "contents of the file\n");
  }
}

TEST_F(MultipartParserTest, HostileFileNamesStayInsideTheFolder) {
  const struct {
    const char* sent;
    const char* stored;
  } cases[] = {
      {"../../etc/passwd", "passwd"},
      {"/etc/shadow", "shadow"},
      {"..\\..\\boot.ini", "boot.ini"},
      {"..", "part"},
      {"dir/", "part"},
      {"...hidden", "hidden"},
      {"a b?*.txt", "a_b__.txt"},
      {"x\x01y;z", "x_y_z"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sent);
    MultipartParser parser(folder_.c_str());
    parser.SetBoundary("--b");
    Feed(parser, FilePart(c.sent, "data"), 5);
    ASSERT_EQ(parser.getLength(), 1u);
    const char* stored = parser[0]->GetHeader("FullPath");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(fs::path(stored), folder_ / c.stored);
    EXPECT_EQ(ReadFile(stored), "data");
    EXPECT_STREQ(parser[0]->GetFileName(), c.sent);
    fs::remove(stored);
  }
  EXPECT_TRUE(fs::is_empty(folder_));
}

TEST_F(MultipartParserTest, StoredFilesNeverReplaceOrFollowExistingEntries) {
  std::ofstream(folder_ / "same.txt") << "old";
  std::ofstream(dir_ / "target") << "untouched";
  fs::create_symlink(dir_ / "target", folder_ / "link.txt");
  const std::string body =
      "--b\r\nContent-Disposition: form-data; name=a; filename=same.txt\r\n\r\none\r\n"
      "--b\r\nContent-Disposition: form-data; name=b; filename=same.txt\r\n\r\ntwo\r\n"
      "--b\r\nContent-Disposition: form-data; name=c; filename=link.txt\r\n\r\nthree\r\n--b--";
  MultipartParser parser(folder_.c_str());
  parser.SetBoundary("--b");
  Feed(parser, body, body.size());
  ASSERT_EQ(parser.getLength(), 3u);
  EXPECT_EQ(ReadFile(folder_ / "same.txt"), "old");
  EXPECT_EQ(ReadFile(dir_ / "target"), "untouched");
  std::vector<std::string> paths;
  for (unsigned i = 0; i < 3; ++i) {
    const char* stored = parser[i]->GetHeader("FullPath");
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(fs::path(stored).parent_path(), folder_);
    EXPECT_FALSE(fs::is_symlink(stored));
    paths.push_back(stored);
  }
  EXPECT_EQ(ReadFile(paths[0]), "one");
  EXPECT_EQ(ReadFile(paths[1]), "two");
  EXPECT_EQ(ReadFile(paths[2]), "three");
  EXPECT_NE(paths[0], paths[1]);
}

TEST_F(MultipartParserTest, PartsStayInMemoryWhenNoFileCanBeMade) {
  for (const char* folder : {"", "missing-folder"}) {
    const fs::path where = *folder == '\0' ? fs::path() : dir_ / folder;
    MultipartParser parser(where.c_str());
    parser.SetBoundary("--b");
    Feed(parser, FilePart("f.txt", "kept"), 3);
    ASSERT_EQ(parser.getLength(), 1u);
    EXPECT_EQ(parser[0]->GetHeader("FullPath"), nullptr);
    EXPECT_EQ(Content(parser[0]), "kept");
  }
  MultipartParser parser(folder_.c_str());
  parser.SetBoundary("--b");
  Feed(parser, FilePart("", "empty name"), 100);
  ASSERT_EQ(parser.getLength(), 1u);
  EXPECT_EQ(parser[0]->GetHeader("FullPath"), nullptr);
  EXPECT_EQ(Content(parser[0]), "empty name");
}

TEST_F(MultipartParserTest, StoredPartRemovedByTheHostHasNoContent) {
  MultipartParser parser(folder_.c_str());
  parser.SetBoundary("--b");
  Feed(parser, FilePart("gone.bin", "bytes"), 64);
  ASSERT_EQ(parser.getLength(), 1u);
  fs::remove(parser[0]->GetHeader("FullPath"));
  EXPECT_EQ(parser[0]->GetContent(), nullptr);
  EXPECT_NE(Log().find("gone.bin"), std::string::npos);
}

TEST_F(MultipartParserTest, UnfinishedPartIsNotCountedAndIsLogged) {
  MultipartParser parser(folder_.c_str());
  parser.SetBoundary("--b");
  const std::string body =
      "--b\r\n\r\none\r\n--b\r\nContent-Disposition: form-data; name=f; filename=cut.bin\r\n\r\n"
      "partial content\r\n--";
  Feed(parser, body, 4);
  EXPECT_FALSE(parser.IsComplete());
  EXPECT_EQ(parser.getLength(), 1u);
  EXPECT_EQ(Content(parser[0]), "one");
  EXPECT_EQ(parser["f"], nullptr);
  EXPECT_NE(Log().find("part 1 is unfinished"), std::string::npos) << Log();
  // The partly written file goes when the parser starts over.
  EXPECT_FALSE(fs::is_empty(folder_));
  parser.Clear();
  EXPECT_TRUE(fs::is_empty(folder_));
  EXPECT_EQ(parser.getLength(), 0u);
}

TEST_F(MultipartParserTest, GarbageAndMissingDelimiterGiveNoParts) {
  MultipartParser parser;
  unsigned char bytes[] = "--b\r\n\r\nx\r\n--b--";
  EXPECT_EQ(parser.ParseStream(bytes, sizeof bytes - 1), 0u) << "no delimiter set yet";
  for (const char* refused : {static_cast<const char*>(nullptr), ""}) {
    parser.SetBoundary(refused);
    EXPECT_EQ(parser.ParseStream(bytes, sizeof bytes - 1), 0u);
  }
  parser.SetBoundary("--b");
  EXPECT_EQ(parser.ParseStream(nullptr, 5), 0u);
  std::string garbage;
  for (int i = 0; i < 5000; ++i) garbage += static_cast<char>((i * 7919) % 251);
  Feed(parser, garbage + "\r\n-b\r\n--B\r\n", 333);
  EXPECT_EQ(parser.getLength(), 0u);
  EXPECT_FALSE(parser.IsComplete());
  EXPECT_NE(Log().find("No delimiter \"--b\""), std::string::npos) << Log();
}

TEST_F(MultipartParserTest, OversizedHeaderBlocksDropOnlyTheirPart) {
  std::string many_headers;
  for (int i = 0; i < 101; ++i) many_headers += "X-" + std::to_string(i) + ": v\r\n";
  const struct {
    const char* what;
    std::string headers;
    bool kept;
  } cases[] = {
      {"one long line", "X: " + std::string(70000, 'a') + "\r\n", false},
      {"many lines", many_headers, false},
      {"100 lines", many_headers.substr(many_headers.find("X-1:")), true},
      {"folded beyond the limit", "X: a\r\n" + std::string(70000, ' ') + "b\r\n", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    MultipartParser parser;
    parser.SetBoundary("--b");
    const std::string body = "--b\r\n" + c.headers + "\r\nfirst\r\n--b\r\n\r\nsecond\r\n--b--";
    Feed(parser, body, 1000);
    ASSERT_EQ(parser.getLength(), c.kept ? 2u : 1u);
    EXPECT_EQ(Content(parser[c.kept ? 1 : 0]), "second");
  }
}

TEST_F(MultipartParserTest, PartCountIsBounded) {
  std::string body;
  for (int i = 0; i < 10005; ++i) body += "--b\r\n\r\nx\r\n";
  body += "--b--";
  MultipartParser parser;
  parser.SetBoundary("--b");
  Feed(parser, body, 4096);
  EXPECT_EQ(parser.getLength(), 10000u);
  EXPECT_NE(Log().find("More than 10000 parts"), std::string::npos);
}

TEST_F(MultipartParserTest, ClearAndSetBoundaryStartANewBody) {
  MultipartParser parser;
  parser.SetBoundary("--b");
  EXPECT_EQ(Feed(parser, "--b\r\n\r\n1\r\n--b\r\n\r\n2\r\n--b--", 5), 2u);
  parser.Clear();
  EXPECT_EQ(Feed(parser, "--b\r\n\r\n3\r\n--b--", 5), 1u);
  EXPECT_EQ(Content(parser[0]), "3");
  parser.SetBoundary("--other");
  EXPECT_EQ(parser.getLength(), 0u);
  EXPECT_EQ(Feed(parser, "--b\r\n--other\r\n\r\n4\r\n--other--", 5), 1u);
  EXPECT_EQ(Content(parser[0]), "4");
}

}  // namespace
