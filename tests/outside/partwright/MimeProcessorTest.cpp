// Tests of MimeProcessor: message layout, full content type, lengths, output handling and refused
// parts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/BufferIOHandler.h"
#include "partwright/MimeProcessor.h"
#include "partwright/MultipartParser.h"

namespace {

namespace fs = std::filesystem;

class MimeProcessorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("mime-" + std::to_string(getpid()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  // The message as FormatMessageA writes it into a fresh buffer.
  static std::string Format(MimeProcessor& mime) {
    BufferIOHandler out;
    unsigned length = 0;
    const char* first = mime.FormatMessageA(0, &length, &out);
    return first == nullptr ? std::string() : std::string(first, length);
  }
  fs::path dir_;
};

// An output that takes at most `room` bytes in all.
class TightHandler : public BufferIOHandler {
 public:
  explicit TightHandler(unsigned long room) : room_(room) {}
  unsigned long WriteStream(const void* data, unsigned long size) override {
    if (size > room_) return 0;
    room_ -= size;
    return BufferIOHandler::WriteStream(data, size);
  }
  using BufferIOHandler::WriteStream;

 private:
  unsigned long room_;
};

const std::string kBinary("\x00\x01\r\n--\xff\x00z", 9);

TEST_F(MimeProcessorTest, WritesRootFirstWithHeadersDelimitersAndBinaryContent) {
  MimeProcessor mime("Multipart/Related; type=text/xml", "--corvane-msg-boundary");
  // The attachment is added before the text, as a message with attachments is built.
  ASSERT_EQ(mime.AddMIMEPart(WriteFile("a.bin", kBinary).c_str(), "image/png", "<att1>", -1), 1);
  ASSERT_EQ(mime.AddMIMEPart("<Envelope/>", "text/xml; charset=\"UTF-8\"", "uuid:root", 0), 2);
  const std::string expected =
      "----corvane-msg-boundary\r\n"
      "Content-Type: text/xml; charset=\"UTF-8\"\r\n"
      "Content-Transfer-Encoding: 8bit\r\n"
      "Content-ID: <uuid:root>\r\n"
      "\r\n"
      "<Envelope/>\r\n"
      "----corvane-msg-boundary\r\n"
      "Content-Type: image/png\r\n"
      "Content-Transfer-Encoding: binary\r\n"
      "Content-ID: <att1>\r\n"
      "\r\n" +
      kBinary +
      "\r\n"
      "----corvane-msg-boundary--\r\n";
  EXPECT_EQ(Format(mime), expected);
  EXPECT_EQ(mime.GetMessageLength(0), expected.size());
  EXPECT_STREQ(mime.GetFullContentType(),
               "Multipart/Related; type=\"text/xml\"; boundary=\"--corvane-msg-boundary\"; "
               "start=\"<uuid:root>\"");
}

TEST_F(MimeProcessorTest, DefaultsForMissingTypesAndIds) {
  MimeProcessor mime(nullptr, "b");
  ASSERT_GT(mime.AddMIMEPart("text", nullptr, nullptr, 0), 0);
  ASSERT_GT(mime.AddMIMEPart(WriteFile("f", "x").c_str(), "", "", -1), 0);
  EXPECT_EQ(Format(mime),
            "--b\r\nContent-Type: text/plain\r\nContent-Transfer-Encoding: 8bit\r\n\r\ntext\r\n"
            "--b\r\nContent-Type: application/octet-stream\r\nContent-Transfer-Encoding: "
            "binary\r\n\r\nx\r\n--b--\r\n");
  EXPECT_STREQ(mime.GetFullContentType(), "Multipart/Related; type=\"text/plain\"; boundary=\"b\"");
}

TEST_F(MimeProcessorTest, FullContentTypeAddsWhatAReceiverNeeds) {
  const std::string xop_root =
      "application/xop+xml; charset=\"UTF-8\";type=\"application/soap+xml\"";
  struct Case {
    const char* type;
    std::string root_type;
    const char* expected;
  } cases[] = {
      {"application/xop+xml", xop_root,
       "Multipart/Related; type=\"application/xop+xml\"; boundary=\"b\"; start=\"<r>\"; "
       "start-info=\"application/soap+xml\""},
      {"multipart/related; type=\"application/xop+xml\"", xop_root,
       "multipart/related; type=\"application/xop+xml\"; boundary=\"b\"; start=\"<r>\"; "
       "start-info=\"application/soap+xml\""},
      {"Multipart/Related; start=\"<other>\"; boundary=old", "text/xml",
       "Multipart/Related; start=\"<other>\"; type=\"text/xml\"; boundary=\"b\""},
      {"multipart/mixed", "text/xml", "multipart/mixed; boundary=\"b\""},
      {"multipart/form-data; boundary=\"x\"", "text/plain", "multipart/form-data; boundary=\"b\""},
  };
  for (const Case& c : cases) {
    MimeProcessor mime(c.type, "b");
    ASSERT_GT(mime.AddMIMEPart("<a/>", c.root_type.c_str(), "r", 0), 0);
    EXPECT_STREQ(mime.GetFullContentType(), c.expected) << c.type;
  }
}

TEST_F(MimeProcessorTest, FormatReportsLengthAndPointsAtTheMessageInsideTheOutput) {
  MimeProcessor mime("multipart/mixed", "b");
  ASSERT_GT(mime.AddMIMEPart("one", "text/plain", "1", 0), 0);
  ASSERT_GT(mime.AddMIMEPart(WriteFile("z", kBinary).c_str(), nullptr, "2", -1), 0);
  BufferIOHandler out;
  out.WriteStream("HEAD", 4);
  unsigned length = 0;
  const char* first = mime.FormatMessageA(0, &length, &out);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(length, mime.GetMessageLength(0));
  EXPECT_EQ(out.GetLength(), 4u + length);
  EXPECT_EQ(first, out.GetBuffer() + 4);

  // Without output the object keeps the same bytes itself.
  unsigned own_length = 0;
  const char* own = mime.FormatMessageA(0, &own_length, nullptr);
  ASSERT_NE(own, nullptr);
  EXPECT_EQ(std::string(own, own_length), std::string(first, length));
}

TEST_F(MimeProcessorTest, OutputThatRefusesBytesFailsTheFormat) {
  MimeProcessor mime("multipart/mixed", "b");
  ASSERT_GT(mime.AddMIMEPart("some text", nullptr, nullptr, 0), 0);
  TightHandler out(mime.GetMessageLength(0) - 1);
  unsigned length = 99;
  EXPECT_EQ(mime.FormatMessageA(0, &length, &out), nullptr);
  EXPECT_EQ(length, 0u);
}

TEST_F(MimeProcessorTest, RefusedPartsAddNothing) {
  MimeProcessor mime("multipart/mixed", "b");
  const std::string missing = (dir_ / "missing.bin").string();
  struct Case {
    const char* source;
    const char* type;
    const char* id;
    int mode;
    int expected;
  } cases[] = {
      {missing.c_str(), "image/png", "x", -1, 0},
      {dir_.c_str(), "image/png", "x", -1, 0},  // a folder is not a part
      {nullptr, "text/plain", "x", 0, -1},
      {"text", "text/plain", "x", 2, -1},
      {"text", "text/plain\r\nX-Injected: 1", "x", 0, -1},
      {"text", "text/plain", "x>\r\nX-Injected: 1", 0, -1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mime.AddMIMEPart(c.source, c.type, c.id, c.mode), c.expected)
        << (c.source ? c.source : "(null)") << " mode " << c.mode;
  }
  EXPECT_EQ(mime.GetMessageLength(0), 0u);
  unsigned length = 7;
  BufferIOHandler out;
  EXPECT_EQ(mime.FormatMessageA(0, &length, &out), nullptr);
  EXPECT_EQ(length, 0u);
  EXPECT_EQ(out.GetLength(), 0u);
}

TEST_F(MimeProcessorTest, UnusableBoundaryIsReplacedByAValidOne) {
  const std::string too_long(71, 'x');
  for (const char* boundary : {static_cast<const char*>(nullptr), "", "has\"quote", "line\r\nbreak",
                               "trailing ", too_long.c_str()}) {
    MimeProcessor mime("multipart/mixed", boundary);
    ASSERT_GT(mime.AddMIMEPart("t", nullptr, nullptr, 0), 0);
    const std::string type = mime.GetFullContentType();
    const size_t at = type.find("boundary=\"");
    ASSERT_NE(at, std::string::npos) << type;
    const std::string chosen = type.substr(at + 10, type.find('"', at + 10) - at - 10);
    EXPECT_GT(chosen.size(), 0u);
    EXPECT_LE(chosen.size(), 70u);
    EXPECT_EQ(chosen.find_first_of("\"\r\n"), std::string::npos);
    EXPECT_TRUE(Format(mime).starts_with("--" + chosen + "\r\n"));
  }
}

TEST_F(MimeProcessorTest, ContentHoldingTheDelimiterGetsANewBoundaryAndParsesBackWhole) {
  const std::string text = "before\r\n--b\r\nContent-Type: evil\r\n\r\nafter\r\n--b--\r\n";
  MimeProcessor mime("multipart/mixed", "b");
  ASSERT_GT(mime.AddMIMEPart("first", nullptr, "1", 0), 0);
  ASSERT_GT(mime.AddMIMEPart(WriteFile("t", text).c_str(), nullptr, "2", -1), 0);
  const std::string type = mime.GetFullContentType();
  EXPECT_EQ(type.find("boundary=\"b\""), std::string::npos) << type;
  const size_t at = type.find("boundary=\"") + 10;
  const std::string boundary = type.substr(at, type.find('"', at) - at);

  const std::string message = Format(mime);
  ASSERT_EQ(message.size(), mime.GetMessageLength(0));
  MultipartParser parser;
  parser.SetBoundary(("--" + boundary).c_str());
  parser.ParseStream(reinterpret_cast<unsigned char*>(const_cast<char*>(message.data())),
                     static_cast<unsigned>(message.size()));
  ASSERT_EQ(parser.getLength(), 2u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(parser[1]->GetContent()), parser[1]->GetLength()),
            text);
}

}  // namespace
