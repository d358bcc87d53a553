// Tests of NetOutput body encodings: form encoding, encryption, deflate, gzip, DIME, MIME, XOP.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>

#include "partwright/MultipartParser.h"
#include "sealvault/Crypto.h"
#include "wirelane/http/ContentCodingInternal.h"
#include "wirelane/http/DimeMsg.h"
#include "wirelane/http/FormEncoding.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/http/NetOutputTestSupport.h"
#include "wirelane/http/URLDecode.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace {

using netoutputtest::CapturedOutput;

// A file in the test's temporary folder, removed at the end of the test.
class TempFile {
 public:
  TempFile(const std::string& name, const std::string& bytes)
      : path_(::testing::TempDir() + std::to_string(::getpid()) + "-" + name) {
    std::ofstream(path_, std::ios::binary) << bytes;
  }
  ~TempFile() { std::remove(path_.c_str()); }
  const char* Path() const { return path_.c_str(); }

 private:
  std::string path_;
};

// The value of a header line "name: value" in a header block, or "".
std::string Field(const std::string& header, const std::string& name) {
  const size_t at = header.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  const size_t start = at + name.size() + 4;
  return header.substr(start, header.find("\r\n", start) - start);
}

const std::string kImage =
    std::string("GIF89a\x01\0\x01\0\x80\0\0\0\0\0", 16) + std::string(300, '\x7f');

TEST(NetOutputEncodingTest, FormDataEncoding) {
  KVMapImp<StringMap> map;
  map.Add("a", "1");
  map.Add("gone", "x");
  map.Add("b", "x y");
  map.Add("c", "%20 and %123 and %2F and %4");
  map.Add("d", "a&b=c/\xC3\xBC~");
  map.Add("e", "*-._");
  map.Add("n m&=", "");
  map.remove("gone");  // a free slot is skipped
  EXPECT_EQ("a=1&b=x+y&c=%20+and+%123+and+%252F+and+%254&d=a%26b%3dc%2f%c3%bc%7e&e=*-._&n+m%26%3d=",
            EncodeFormData(&map));
  EXPECT_EQ("", EncodeFormData(nullptr));

  // Plain ASCII fields come back unchanged through the receiving side's decoder.
  KVMapImp<StringMap> plain;
  plain.Add("name", "Jane Doe & Co. = 100% <ok>");
  plain.Add("q", "a+b");
  KVMapImp<StringMap> decoded;
  URLDecode(EncodeFormData(&plain).c_str(), &decoded, false);
  EXPECT_STREQ("Jane Doe & Co. = 100% <ok>", decoded.Get("name"));
  EXPECT_STREQ("a+b", decoded.Get("q"));
}

TEST(NetOutputEncodingTest, UrlEncodeKeepsOnlyTwoDigitEscapes) {
  const struct {
    const char* text;
    const char* encoded;
  } cases[] = {
      {"%20", "%20"},         {"%123", "%25123"}, {"%2", "%252"},
      {"%2F", "%252F"},       {"a b", "a+b"},     {"~/?", "%7e%2f%3f"},
      {"\xff\x01", "%ff%01"}, {"", ""},           {"x%20%2", "x%20%252"},
  };
  for (const auto& c : cases) EXPECT_EQ(c.encoded, URLEncode(c.text)) << c.text;
  EXPECT_EQ("", URLEncode(nullptr));
}

TEST(NetOutputEncodingTest, SendMessageWritesFormEncodedMap) {
  KVMapImp<StringMap> map;
  map.Add("a", "1");
  map.Add("b", "x y%123");
  NetOutput out;
  out.Write("pre|");
  out.SendMessageA(&map);
  EXPECT_EQ("pre|a=1&b=x+y%25123", std::string(out.GetBuffer()));
  out.SendMessage(nullptr);
  EXPECT_EQ("pre|a=1&b=x+y%25123", std::string(out.GetBuffer()));
}

TEST(NetOutputEncodingTest, EncryptedFormBodyDecryptsWithTheKey) {
  CapturedOutput out(nullptr, "pass phrase");
  out.Add("a", "1");
  out.Add("b", "x y");
  out.Send(2, false, "POST", "/p");
  EXPECT_EQ("Encryption", Field(out.header, "Content-Encoding"));
  EXPECT_EQ(std::to_string(out.body.size()), Field(out.header, "Content-Length"));
  EXPECT_EQ(std::string::npos, out.body.find("x+y"));

  Crypto crypto("idea", nullptr, 0);
  int length = static_cast<int>(out.body.size());
  std::unique_ptr<unsigned char, decltype(&std::free)> plain(
      crypto.Decrypt("pass phrase", reinterpret_cast<const unsigned char*>(out.body.data()),
                     &length, nullptr),
      &std::free);
  ASSERT_NE(nullptr, plain);
  EXPECT_EQ("a=1&b=x+y", std::string(reinterpret_cast<char*>(plain.get()), length));

  length = static_cast<int>(out.body.size());
  unsigned char* wrong = crypto.Decrypt(
      "other", reinterpret_cast<const unsigned char*>(out.body.data()), &length, nullptr);
  EXPECT_EQ(nullptr, wrong);
  std::free(wrong);
}

TEST(NetOutputEncodingTest, CompressedBodiesDecompressToTheOriginal) {
  std::string original;
  for (int i = 0; i < 400; ++i) original += "<row id=\"" + std::to_string(i) + "\">value</row>\n";
  for (const char* coding : {"deflate", "gzip", "GZIP"}) {
    SCOPED_TRACE(coding);
    CapturedOutput out;
    out.AddHeader("Content-Encoding", coding);
    out.Write(original.c_str());
    out.Send(1, false, nullptr, nullptr);
    EXPECT_EQ(coding, Field(out.header, "Content-Encoding"));
    EXPECT_EQ(std::to_string(out.body.size()), Field(out.header, "Content-Length"));
    ASSERT_LT(out.body.size(), original.size() / 4);
    std::string restored;
    if (std::string(coding) == "deflate") {
      restored.resize(original.size() + 16);
      uLongf size = restored.size();
      ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(restored.data()), &size,
                                 reinterpret_cast<const Bytef*>(out.body.data()), out.body.size()));
      restored.resize(size);
    } else {
      ASSERT_EQ(0x1f, static_cast<unsigned char>(out.body[0]));  // gzip magic, not zlib
      ASSERT_TRUE(corvane::DecompressGzip(out.body, original.size() * 2, restored));
    }
    EXPECT_EQ(original, restored);
  }

  CapturedOutput other;
  other.AddHeader("Content-Encoding", "br");
  other.Write("as is");
  other.Send(1, false, nullptr, nullptr);
  EXPECT_EQ("as is", other.body);
}

TEST(NetOutputEncodingTest, DimeMessageStartsWithTheEnvelope) {
  TempFile picture("pic.gif", kImage);
  TempFile notes("notes.txt", "some notes");
  CapturedOutput out;
  ASSERT_TRUE(out.AddAttachment(picture.Path(), "att1", nullptr, "application/dime"));
  ASSERT_TRUE(out.AddAttachment(notes.Path(), "att2", "text/x-notes", "application/dime"));
  out.Write("<Envelope/>");
  out.Send(2, false, "POST", "/svc");
  EXPECT_EQ("application/dime", Field(out.header, "Content-Type"));
  EXPECT_EQ(std::to_string(out.body.size()), Field(out.header, "Content-Length"));

  DimeMsg parsed;
  ASSERT_TRUE(parsed.ParseMessage(out.body.data(), out.body.size()));
  ASSERT_EQ(3u, parsed.GetRecordCount());
  unsigned long length = 0;
  const unsigned char* envelope = parsed.GetRecord(0u, length);
  EXPECT_EQ("<Envelope/>", std::string(reinterpret_cast<const char*>(envelope), length));
  EXPECT_STREQ("http://schemas.xmlsoap.org/soap/envelope/", parsed.GetRecordProperty(0u, "type"));
  EXPECT_EQ(0, std::string(parsed.GetRecordProperty(0u, "id")).rfind("uuid:", 0));
  const unsigned char* image = parsed.GetRecord("att1", length);
  EXPECT_EQ(kImage, std::string(reinterpret_cast<const char*>(image), length));
  EXPECT_STREQ("image/gif", parsed.GetRecordProperty(1u, "type"));
  EXPECT_STREQ("text/x-notes", parsed.GetRecordProperty(2u, "type"));
}

TEST(NetOutputEncodingTest, UnreadableAttachmentsAreRefused) {
  sockettest::LogCapture log;
  NetOutput out;
  EXPECT_FALSE(out.AddAttachment("/nonexistent/a.bin", "x", nullptr, "application/dime"));
  EXPECT_NE(std::string::npos,
            log.Text().find("Error opening attachment file : /nonexistent/a.bin\n"));
  EXPECT_FALSE(out.AddAttachment("/nonexistent/b.bin", "y", nullptr, nullptr));
  EXPECT_FALSE(out.AddAttachment("/nonexistent/c.bin", "z", nullptr, "application/xop+xml"));
}

// Parses a multipart body with the boundary named by its Content-Type.
std::unique_ptr<MultipartParser> ParseMultipart(const std::string& type, std::string body) {
  const size_t at = type.find("boundary=\"");
  EXPECT_NE(std::string::npos, at) << type;
  if (at == std::string::npos) return nullptr;
  const size_t start = at + 10;
  const std::string boundary = type.substr(start, type.find('"', start) - start);
  auto parser = std::make_unique<MultipartParser>();
  parser->SetBoundary(("--" + boundary).c_str());
  parser->ParseStream(reinterpret_cast<unsigned char*>(body.data()),
                      static_cast<unsigned>(body.size()));
  EXPECT_TRUE(parser->IsComplete());
  return parser;
}

std::string Content(MultipartEntry* part) {
  return part ? std::string(reinterpret_cast<char*>(part->GetContent()), part->GetLength()) : "";
}

TEST(NetOutputEncodingTest, MimeAndXopMessagesParseBack) {
  TempFile picture("mime.gif", kImage);
  const struct {
    const char* container;
    const char* rootType;
    const char* messageType;
  } cases[] = {
      {nullptr, "text/xml", "Multipart/Related"},
      {"application/xop+xml",
       "application/xop+xml; charset=\"UTF-8\";type=\"application/soap+xml\"",
       "application/xop+xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.rootType);
    CapturedOutput out;
    ASSERT_TRUE(out.AddAttachment(picture.Path(), "part1", nullptr, c.container));
    out.AddHeader("Content-Type", "text/xml");
    out.Write("<soap/>");
    out.Send(2, false, "POST", "/svc");
    const std::string type = Field(out.header, "Content-Type");
    EXPECT_NE(std::string::npos, type.find(c.messageType)) << type;
    EXPECT_EQ("1.0", Field(out.header, "MIME-Version"));
    EXPECT_EQ(std::to_string(out.body.size()), Field(out.header, "Content-Length"));

    auto parser = ParseMultipart(type, out.body);
    ASSERT_NE(nullptr, parser);
    ASSERT_EQ(2u, parser->getLength());
    EXPECT_EQ("<soap/>", Content((*parser)[0u]));
    EXPECT_STREQ(c.rootType, (*parser)[0u]->GetHeader("Content-Type"));
    EXPECT_EQ(0, std::string((*parser)[0u]->GetId()).rfind("uuid:", 0));
    EXPECT_EQ(kImage, Content((*parser)["part1"]));
    EXPECT_STREQ("image/gif", (*parser)["part1"]->GetHeader("Content-Type"));
  }
}

TEST(NetOutputEncodingTest, MimeMessageIsNeverDeclaredCompressed) {
  sockettest::LogCapture log;
  TempFile notes("mime-notes.txt", "notes");
  CapturedOutput out;
  ASSERT_TRUE(out.AddAttachment(notes.Path(), "n", nullptr, nullptr));
  out.AddHeader("Content-Encoding", "gzip");
  out.Write("<soap/>");
  out.Send(1, false, nullptr, nullptr);
  EXPECT_EQ("", Field(out.header, "Content-Encoding"));
  auto parser = ParseMultipart(Field(out.header, "Content-Type"), out.body);
  ASSERT_NE(nullptr, parser);
  EXPECT_EQ(2u, parser->getLength());
  EXPECT_NE(std::string::npos, log.Text().find("is not applied to a MIME message"));
}

TEST(NetOutputEncodingTest, ErrorPageReplacesMimeLength) {
  TempFile notes("mime-error.txt", "notes");
  CapturedOutput out;
  ASSERT_TRUE(out.AddAttachment(notes.Path(), "n", nullptr, nullptr));
  out.Write("<soap/>");
  out.SetStatus(500, nullptr);
  out.Send(1, false, nullptr, nullptr);
  EXPECT_EQ("<html>Unknown Server Error.</html>", out.body);
  EXPECT_EQ("34", Field(out.header, "Content-Length"));
}

}  // namespace
