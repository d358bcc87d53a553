// Tests of NetInput over loopback: framing, limits, decoding, splitting, cookies and the namespace
// of names.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "common/BufferIOHandler.h"
#include "sealvault/Crypto.h"
#include "wirelane/http/ContentCodingInternal.h"
#include "wirelane/http/DimeMsg.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/http/NetInputInternal.h"
#include "wirelane/http/HttpTestWire.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;
using sockettest::LogCapture;
using testing::HasSubstr;

using Wire = httptest::Wire<CSocket>;
using httptest::ContentOf;

std::string Gzip(const std::string& plain) {
  std::string packed;
  EXPECT_TRUE(corvane::CompressGzip(plain, packed));
  return packed;
}

std::string ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// A private folder removed at the end of the test.
struct TempFolder {
  TempFolder() {
    std::string pattern = ::testing::TempDir() + "netinput-XXXXXX";
    EXPECT_NE(nullptr, ::mkdtemp(pattern.data()));
    path = pattern;
  }
  ~TempFolder() { std::filesystem::remove_all(path); }
  std::string path;
};

TEST(NetInputTest, BodiesAreFramedByLengthChunksOrClose) {
  struct Case {
    const char* name;
    std::string wire;
    bool close;  // the peer closes after sending
    int result;
    std::string content;
    const char* length_field;
  } cases[] = {
      {"by length", "POST /p HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello", false, 5, "hello", "5"},
      {"chunked response",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n0\r\n\r\n", false, 5,
       "hello", "5"},
      {"chunked request without length",
       "POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n",
       false, 5, "abcde", "5"},
      {"chunk extension",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1A;ext=1\r\n" + std::string(26, 'x') +
           "\r\n0\r\n\r\n",
       false, 26, std::string(26, 'x'), "26"},
      {"leading zeros",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n0a\r\n0123456789\r\n000\r\n\r\n",
       false, 10, "0123456789", "10"},
      {"chunks win over a length",
       "POST /p HTTP/1.1\r\nContent-Length: 3\r\nTransfer-Encoding: "
       "chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
       false, 3, "abc", "3"},
      {"until close", "HTTP/1.0 200 OK\r\nServer: x\r\n\r\nall of it", true, 9, "all of it",
       nullptr},
      {"request without length", "POST /p HTTP/1.1\r\nHost: h\r\n\r\n", false, 0, "", "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire wire;
    // A following request shows that the body was framed exactly.
    wire.Send(c.wire + (c.close ? "" : "GET /next HTTP/1.1\r\n\r\n"));
    if (c.close) wire.client.Close();
    NetInput input(wire.server.get());
    EXPECT_EQ(c.result, input.Receive());
    EXPECT_EQ(c.content, ContentOf(input));
    if (c.length_field != nullptr) {
      EXPECT_STREQ(c.length_field, input.GetHeader("Content-Length"));
    }
    if (c.close) continue;
    ASSERT_EQ(0, input.Receive());
    ASSERT_NE(nullptr, input.GetURL());
    EXPECT_STREQ("/next", input.GetURL()->GetFile());
  }
}

TEST(NetInputTest, ChunkTrailerJoinsTheHeaderFields) {
  Wire wire;
  wire.Send(
      "HTTP/1.1 201 Created\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\nX-Sum: 7\r\n"
      "X-Other:  two words\r\nContent-Encoding: gzip\r\nno colon\r\n\r\n");
  NetInput input(wire.server.get());
  EXPECT_EQ(4, input.Receive());
  EXPECT_STREQ("7", input.GetHeader("X-Sum"));
  EXPECT_STREQ("two words", input.GetHeader("x-other"));
  EXPECT_EQ(nullptr, input.GetHeader("Content-Encoding"));  // framing and coding stay as announced
  EXPECT_EQ("body", ContentOf(input));
  EXPECT_STREQ("201", input.GetHeader("HTTPStatus"));
  EXPECT_STREQ("", input.GetHeader("Transfer-Encoding"));
  EXPECT_EQ(nullptr, wire.server->GetURL());  // the trailer is not taken as a request line
}

TEST(NetInputTest, MaxPostSizeRefusesLongerBodiesWithoutReadingThem) {
  struct Case {
    int max_post_size;
    int result;
  } cases[] = {{50, 0}, {100, 100}, {0, 100}, {-1, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.max_post_size);
    Wire wire(c.max_post_size);
    const std::string body(100, 'b');
    wire.Send("POST /p HTTP/1.1\r\nContent-Length: 100\r\n\r\n" + body);
    LogCapture log;
    NetInput input(wire.server.get());
    EXPECT_EQ(c.result, input.Receive());
    if (c.result != 0) {
      EXPECT_EQ(body, ContentOf(input));
      continue;
    }
    EXPECT_THAT(
        log.Text(),
        HasSubstr("NetInput::Receive - Content length 100 exceeded the MaxPostSize limit 50\n"));
    EXPECT_EQ(nullptr, input.GetContent());
    char rest[100];
    EXPECT_EQ(100, wire.server->Read(rest, sizeof rest));  // the body is still unread
  }
}

TEST(NetInputTest, HostileLengthsAndChunksAreRefusedQuicklyWithALogLine) {
  struct Case {
    const char* name;
    int max_post_size;
    std::string wire;
    int result;
    const char* logged;
  } cases[] = {
      {"huge chunk size", -1,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc", 0,
       "takes the body past the limit of 1073741824 bytes"},
      {"chunk over MaxPostSize", 100,
       "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nc8\r\nabc", 0,
       "a chunk of 200 bytes takes the body past the limit of 100 bytes"},
      {"chunks add up over MaxPostSize", 100,
       "POST /p HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n40\r\n" + std::string(64, 'a') +
           "\r\n40\r\n" + std::string(64, 'a') + "\r\n0\r\n\r\n",
       0, "a chunk of 64 bytes takes the body past the limit of 100 bytes"},
      {"absurd length", -1, "HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\nabc", 0,
       "Content length 4294967294 exceeded the body size limit 1073741824"},
      {"negative length", -1, "HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc", 0,
       "Content-Length \"-5\" is not a number"},
      {"endless size line", -1,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(10000, '1'), 0,
       "a chunk-size line is too long, 0 bytes read"},
      {"size line without size", -1, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
       0, "a chunk-size line holds no size"},
      {"chunk without its CR LF", -1,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcXY5\r\n", 3,
       "a chunk is not followed by CR LF, 3 bytes read"},
      {"connection ends inside a chunk", -1,
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n10\r\nshort", 7,
       "the connection ended inside a chunk, 7 bytes read"},
      {"length longer than the body", -1, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nabc", 3,
       "Error reading content, byte_read(3) != content-length(10)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Wire wire(c.max_post_size);
    wire.Send(c.wire);
    wire.client.Close();
    LogCapture log;
    NetInput input(wire.server.get());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(c.result, input.Receive());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_THAT(log.Text(), HasSubstr(c.logged));
  }
}

TEST(NetInputTest, GzipBodiesAreInflatedAndTheirLengthFollows) {
  const std::string plain = "<doc>" + std::string(5000, 'z') + "</doc>";
  const std::string packed = Gzip(plain);
  const std::string header =
      "HTTP/1.1 200 OK\r\nContent-Encoding: gzip\r\nContent-Type: text/xml\r\n";
  for (const bool chunked : {false, true}) {
    SCOPED_TRACE(chunked);
    Wire wire;
    char size[16];
    std::snprintf(size, sizeof size, "%zx", packed.size());
    wire.Send(chunked ? header + "Transfer-Encoding: chunked\r\n\r\n" + size + "\r\n" + packed +
                            "\r\n0\r\n\r\n"
                      : header + "Content-Length: " + std::to_string(packed.size()) + "\r\n\r\n" +
                            packed);
    NetInput input(wire.server.get());
    EXPECT_EQ(static_cast<int>(packed.size()), input.Receive());
    EXPECT_EQ(plain.size(), input.GetContentLength());
    EXPECT_EQ(plain, ContentOf(input));
  }
}

TEST(NetInputTest, GzipBombOverTheLimitIsKeptAsReceived) {
  const std::string packed = Gzip(std::string(4 << 20, '\0'));  // 4 MB of zeros, a few KB packed
  Wire wire(64 << 10);
  wire.Send("POST /p HTTP/1.1\r\nContent-Encoding: gzip\r\nContent-Length: " +
            std::to_string(packed.size()) + "\r\n\r\n" + packed);
  LogCapture log;
  NetInput input(wire.server.get());
  EXPECT_EQ(static_cast<int>(packed.size()), input.Receive());
  EXPECT_EQ(packed, ContentOf(input));
  EXPECT_THAT(log.Text(), HasSubstr("gzip body not decoded (decompressed size passes the limit, "
                                    "limit 65536 bytes), content kept as received"));
}

TEST(NetInputTest, EncryptedFormIsDecryptedWithTheKeyOnly) {
  const std::string form = "a=1&b=x+y";
  int length = static_cast<int>(form.size());
  Crypto crypto(nullptr, nullptr, 1);
  unsigned char* sealed = crypto.Encrypt(
      "secret", reinterpret_cast<const unsigned char*>(form.data()), &length, nullptr);
  ASSERT_NE(nullptr, sealed);
  const std::string body(reinterpret_cast<char*>(sealed), static_cast<size_t>(length));
  std::free(sealed);
  struct Case {
    const char* key;
    const char* a;
    bool decrypted;
  } cases[] = {{"secret", "1", true}, {nullptr, nullptr, false}, {"wrong", nullptr, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key != nullptr ? c.key : "<none>");
    Wire wire;
    wire.Send(
        "POST /f HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
        "Content-Encoding: Encryption\r\nContent-Length: " +
        std::to_string(body.size()) + "\r\n\r\n" + body);
    NetInput input(wire.server.get(), c.key);
    EXPECT_EQ(static_cast<int>(body.size()), input.Receive());
    EXPECT_STREQ(c.a, input.Get("a"));
    if (c.decrypted) {
      EXPECT_STREQ("x y", input.Get("b"));
      EXPECT_EQ(form, ContentOf(input));
    } else {
      EXPECT_EQ(body, ContentOf(input));
    }
  }
}

TEST(NetInputTest, FormFieldsKeepRepeatedNames) {
  Wire wire;
  wire.Send(
      "POST /f HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: 15"
      "\r\n\r\na=1&a=2&c=%41+b");
  NetInput input(wire.server.get());
  EXPECT_EQ(15, input.Receive());
  EXPECT_STREQ("1", input.Get("a"));
  EXPECT_STREQ("2", input.Get("a[1]"));
  EXPECT_STREQ("A b", input.Get("c"));
}

const char kMultipartType[] = "multipart/form-data; boundary=\"XyZ\"";
const std::string kMultipartBody =
    "\r\n--XyZ\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
    "--XyZ\r\nContent-Disposition: form-data; name=\"f\"; filename=\"up.txt\"\r\n"
    "Content-Type: text/plain\r\nX-Note: kept\r\n\r\nfile bytes\n\r\n--XyZ--\r\n";

TEST(NetInputTest, MultipartPartsBecomeVariablesAndAttachments) {
  for (const bool folder : {false, true}) {
    SCOPED_TRACE(folder);
    TempFolder attach;
    Wire wire;
    if (folder) wire.server->SetProperty("AttachFolder", attach.path.c_str());
    wire.Send(std::string("POST /m HTTP/1.1\r\nContent-Type: ") + kMultipartType +
              "\r\nContent-Length: " + std::to_string(kMultipartBody.size()) + "\r\n\r\n" +
              kMultipartBody);
    NetInput input(wire.server.get());
    EXPECT_EQ(static_cast<int>(kMultipartBody.size()), input.Receive());
    EXPECT_STREQ("1", input.Get("a"));
    EXPECT_STREQ("1", input.Get("mime|0"));
    EXPECT_STREQ("file bytes\n", input.Get("mime|f"));
    unsigned long length = 0;
    ASSERT_NE(nullptr, input.GetAttachment("f", length));
    EXPECT_EQ(11u, length);
    EXPECT_EQ(nullptr, input.GetAttachment(7, length));
    EXPECT_STREQ("up.txt", input.GetAttachmentProperty(1, "filename"));
    EXPECT_STREQ("text/plain", input.GetAttachmentProperty(1, "type"));
    EXPECT_STREQ("kept", input.GetAttachmentProperty("f", "X-Note"));
    EXPECT_STREQ("f", input.GetAttachmentProperty("f", "id"));
    if (!folder) {
      EXPECT_STREQ("file bytes", input.Get("f"));  // trailing line end dropped
      EXPECT_EQ(nullptr, input.Get("_attach_f"));
      continue;
    }
    const char* path = input.Get("f");
    ASSERT_NE(nullptr, path);
    EXPECT_EQ(attach.path + "/up.txt", path);
    EXPECT_STREQ(path, input.Get("_attach_f"));
    EXPECT_EQ("file bytes\n", ReadFile(path));
  }
}

TEST(NetInputTest, MultipartWithoutClosingDelimiterShowsOnlyClosedParts) {
  const std::string body = kMultipartBody.substr(0, kMultipartBody.find("file bytes") + 4);
  for (const char* piece : {static_cast<const char*>(nullptr), "5"}) {
    SCOPED_TRACE(piece != nullptr ? piece : "whole");
    Wire wire;
    if (piece != nullptr) wire.server->SetProperty("StreamBufferSize", piece);
    wire.Send(std::string("POST /m HTTP/1.1\r\nContent-Type: ") + kMultipartType +
              "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
    NetInput input(wire.server.get());
    EXPECT_EQ(piece != nullptr ? 0 : static_cast<int>(body.size()), input.Receive());
    EXPECT_STREQ("1", input.Get("a"));
    EXPECT_EQ(nullptr, input.Get("f"));
    EXPECT_EQ(nullptr, input.Get("mime|1"));
    unsigned long length = 0;
    EXPECT_EQ(nullptr, input.GetAttachment(1, length));
  }
}

TEST(NetInputTest, StreamBufferSizeParsesMultipartWhileReading) {
  for (const char* piece : {"7", "100000"}) {
    SCOPED_TRACE(piece);
    Wire wire;
    wire.server->SetProperty("StreamBufferSize", piece);
    wire.Send(std::string("POST /m HTTP/1.1\r\nContent-Type: ") + kMultipartType +
              "\r\nContent-Length: " + std::to_string(kMultipartBody.size()) + "\r\n\r\n" +
              kMultipartBody + "GET /next HTTP/1.1\r\n\r\n");
    NetInput input(wire.server.get());
    EXPECT_EQ(0, input.Receive());
    EXPECT_STREQ("1", input.Get("a"));
    EXPECT_STREQ("file bytes", input.Get("f"));
    EXPECT_EQ(nullptr, input.GetContent());
    EXPECT_EQ(0, input.Receive());
    EXPECT_STREQ("/next", input.GetURL()->GetFile());
  }
}

TEST(NetInputTest, ChunkedMultipartIsParsedChunkByChunk) {
  Wire wire;
  std::string chunks;
  for (size_t at = 0; at < kMultipartBody.size(); at += 9) {
    const std::string piece = kMultipartBody.substr(at, 9);
    char size[16];
    std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
    chunks += size + piece + "\r\n";
  }
  wire.Send(std::string("POST /m HTTP/1.1\r\nTransfer-Encoding: chunked\r\nContent-Type: ") +
            kMultipartType + "\r\n\r\n" + chunks + "0\r\n\r\n");
  NetInput input(wire.server.get());
  EXPECT_EQ(static_cast<int>(kMultipartBody.size()), input.Receive());
  EXPECT_STREQ("1", input.Get("a"));
  EXPECT_STREQ("file bytes", input.Get("f"));
}

std::string DimeBytes() {
  DimeMsg message;
  EXPECT_TRUE(
      message.AddRecord("env", "http://schemas.xmlsoap.org/soap/envelope/", "<Envelope/>", 11, -1));
  EXPECT_TRUE(message.AddRecord("cid1", "image/png", "PNG\0data", 8, -1));
  BufferIOHandler out;
  EXPECT_TRUE(message.SendMessage(&out));
  return std::string(out.GetBuffer(), out.GetLength());
}

TEST(NetInputTest, DimeRecordsBecomeContentAndAttachments) {
  const std::string dime = DimeBytes();
  Wire wire;
  wire.Send("POST /d HTTP/1.1\r\nContent-Type: application/dime\r\nContent-Length: " +
            std::to_string(dime.size()) + "\r\n\r\n" + dime);
  NetInput input(wire.server.get());
  EXPECT_EQ(static_cast<int>(dime.size()), input.Receive());
  EXPECT_EQ("<Envelope/>", ContentOf(input));
  EXPECT_EQ(11u, input.GetContentLength());
  unsigned long length = 0;
  const unsigned char* data = input.GetAttachment("cid1", length);
  ASSERT_NE(nullptr, data);
  EXPECT_EQ(std::string("PNG\0data", 8), std::string(reinterpret_cast<const char*>(data), length));
  EXPECT_STREQ("PNG", input.Get("dime|1"));
  EXPECT_STREQ("PNG", input.Get("mime|cid1"));  // without parts, mime| reads the records
  EXPECT_STREQ("<Envelope/>", input.Get("dime|0"));
  EXPECT_STREQ("image/png", input.GetAttachmentProperty(1, "type"));
  EXPECT_STREQ("cid1", input.GetAttachmentProperty(1, "id"));
}

TEST(NetInputTest, DimeRecordPointingPastTheDataKeepsTheBody) {
  std::string dime = DimeBytes();
  dime[8] = 0x7f;  // the first record's data length now points far past the body
  Wire wire;
  wire.Send("POST /d HTTP/1.1\r\nContent-Type: application/dime\r\nContent-Length: " +
            std::to_string(dime.size()) + "\r\n\r\n" + dime);
  LogCapture log;
  NetInput input(wire.server.get());
  EXPECT_EQ(static_cast<int>(dime.size()), input.Receive());
  EXPECT_EQ(dime, ContentOf(input));
  EXPECT_THAT(log.Text(), HasSubstr("NetInput::DecodeDime - the body is not a whole DIME message"));
}

TEST(NetInputTest, CookiesFromCookieOrSetCookieFieldsSurviveTheNextMessage) {
  Wire wire;
  wire.Send("GET / HTTP/1.1\r\nCookie: a=1; $Version=1; b=\"x y\"\r\n\r\n");
  NetInput input(wire.server.get());
  ASSERT_EQ(0, input.Receive());
  EXPECT_STREQ("1", input.GetCookie("a"));
  EXPECT_STREQ("1", input.GetCookie("Version"));
  EXPECT_STREQ("x y", input.Get("cookie|b"));
  wire.Send(
      "HTTP/1.1 200 OK\r\nContent-Length: 0\r\nSet-Cookie: sid=42; Path=/; HttpOnly\r\n"
      "set-cookie2:  $lang=\"en gb\"; Version=1\r\nSet-Cookie: a=2\r\n\r\n");
  ASSERT_EQ(0, input.Receive());
  EXPECT_STREQ("42", input.GetCookie("sid"));
  EXPECT_STREQ("en gb", input.GetCookie("lang"));
  EXPECT_STREQ("2", input.GetCookie("a"));      // replaced
  EXPECT_STREQ("x y", input.GetCookie("b"));    // kept from the first message
  EXPECT_EQ(nullptr, input.GetCookie("Path"));  // attributes are not cookies
  auto* all = reinterpret_cast<const KVMapImp<StringMap>*>(input.GetCookie("ALL"));
  ASSERT_NE(nullptr, all);
  EXPECT_EQ(5u, all->GetItemCount());
  input.ClearCookie();
  EXPECT_EQ(nullptr, input.GetCookie("sid"));
}

TEST(NetInputTest, CookieClientsAreKnownByCookiesOrUserAgent) {
  struct Case {
    const char* fields;
    bool expected;
  } cases[] = {
      {"User-Agent: Corvane Client/3.02\r\n", false},
      {"User-Agent: curl/7.88\r\n", true},
      {"", false},
      {"User-Agent: Corvane Client/3.02\r\nCookie: s=1\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fields);
    Wire wire;
    wire.Send(std::string("GET / HTTP/1.1\r\n") + c.fields + "\r\n");
    NetInput input(wire.server.get());
    ASSERT_EQ(0, input.Receive());
    EXPECT_EQ(c.expected, input.IsCookieClient());
  }
}

TEST(NetInputTest, HeaderNamespaceAnswersCgiNamesAndFields) {
  Wire wire;
  wire.Send("GET /app/x.dll/extra/more?q=1 HTTP/1.1\r\nContent-Type: text/xml\r\nX-A: b\r\n\r\n");
  NetInput input(wire.server.get());
  ASSERT_EQ(0, input.Receive());
  struct Case {
    const char* name;
    const char* value;
  } cases[] = {
      {"REQUEST_METHOD", "GET"},
      {"query_string", "q=1"},
      {"PATH_INFO", "/extra/more"},
      {"SCRIPT_NAME", "/app/x.dll/extra/more"},
      {"REQUEST_FILE", "/app/x.dll/extra/more"},
      {"REQUEST_PROTOCOL", "http"},
      {"REQUEST_PROTOCOL_VERSION", "HTTP/1.1"},
      {"REQUEST_FILENAME", "more"},
      {"REQUEST_URI", "/app/x.dll/extra/more?q=1"},
      {"ACTION", "app"},
      {"0", "Content-Type"},
      {"x-a", "b"},
      {"ALL_ROW", "Content-Type: text/xml\r\nX-A: b\r\nContent-Length: 0\r\n"},
      {"ALL_HTTP",
       "HTTP_Content_Type=text/xml&HTTP_X_A=b&HTTP_Content_Length=0&HTTP_ALL_ROW="
       "Content-Type: text/xml\r\nX-A: b\r\nContent-Length: 0\r\n&"},
      {"Missing", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_STREQ(c.value, input.GetHeader(c.name));
  }
  EXPECT_STREQ("text/xml", input.Get("header|Content-Type"));
  EXPECT_STREQ("text/xml", input.Get("HEADER|content-type"));
  input.SetHeader("X-Late", "1");
  EXPECT_EQ(nullptr, std::strstr(input.GetHeader("ALL_ROW"), "X-Late"));  // computed once
}

TEST(NetInputTest, MessagesBuiltWithoutSocket) {
  NetInput input;
  EXPECT_EQ(-1, input.Receive());
  EXPECT_TRUE(input.IsEmpty());
  EXPECT_STREQ("http", input.GetHeader("REQUEST_PROTOCOL"));
  EXPECT_EQ(nullptr, input.GetHeader("REQUEST_METHOD"));
  auto* header = new KVMapImp<StringMap>;
  header->Add("Content-Type", "text/xml");
  header->Add("Content-Length", "12");
  input.SetMsg("POST /app/src/select/7?x=1 HTTP/1.1", header, nullptr, "<a>body</a>\n");
  EXPECT_STREQ("HTTP_Content_Type=text/xml&HTTP_Content_Length=12&", input.GetHeader("ALL_HTTP"));
  EXPECT_TRUE(input.ParseRequestLine());
  EXPECT_STREQ("app", input.Get("_Action"));
  EXPECT_STREQ("src", input.Get("DataSource"));
  EXPECT_STREQ("select", input.Get("SQLStatement"));
  EXPECT_STREQ("7", input.Get("RowId"));
  EXPECT_STREQ("1", input.Get("x"));
  EXPECT_STREQ(
      "POST /app/src/select/7?x=1 HTTP/1.1\r\nContent-Type: text/xml\r\nContent-Length: 12\r\n"
      "ALL_HTTP: HTTP_Content_Type=text/xml&HTTP_Content_Length=12&\r\n\r\n<a>body</a>\n\r\n\r\n",
      input.GetMessageString());
  input.Set("v", "1", 1);
  input.Set("v", "1", 1);
  input.Set("v", "2", 2);
  EXPECT_STREQ("12", input.Get("v"));
  EXPECT_STREQ("1", input.Get("v[1]"));
  input.Parse("; k1= one ;k2=;k3=three", "=", ";");
  EXPECT_STREQ("one ", input.Get("k1"));
  EXPECT_EQ(nullptr, input.Get("k2"));
  EXPECT_STREQ("three", input.Get("k3"));
  EXPECT_TRUE(input.ParseResponseHeader("HTTP/1.1 404 Not Found"));
  EXPECT_STREQ("404", input.GetHeader("HTTPStatus"));
  EXPECT_STREQ("Not Found", input.GetHeader("HTTPReason"));

  NetInput same(input);
  EXPECT_EQ("<a>body</a>\n", ContentOf(same));
  EXPECT_STREQ("select", same.Get("SQLStatement"));
  EXPECT_STREQ("/app/src/select/7", same.GetURL()->GetFile());
  input.Clear();
  EXPECT_TRUE(input.IsEmpty());
  EXPECT_STREQ("select", same.Get("SQLStatement"));
}

TEST(NetInputTest, ExpectContinueIsAnsweredBeforeTheBodyIsRead) {
  for (const int max_post_size : {-1, 10}) {
    SCOPED_TRACE(max_post_size);
    Wire wire(max_post_size);
    wire.Send("POST /e HTTP/1.1\r\nExpect: 100-continue\r\nContent-Length: 20\r\n\r\n");
    std::string interim;
    std::thread peer([&] {
      // A client that holds the body back until it is asked for it.
      pollfd ready{static_cast<int>(wire.client.GetFd()), POLLIN, 0};
      if (::poll(&ready, 1, 500) != 1) return;
      char reply[64];
      const int count = wire.client.Read(reply, 25);
      if (count > 0) interim.assign(reply, static_cast<size_t>(count));
      wire.client.Write("0123456789abcdefghij", 20);
    });
    NetInput input(wire.server.get());
    const int result = input.Receive();
    peer.join();
    if (max_post_size > 0) {
      EXPECT_EQ(0, result);
      EXPECT_EQ("", interim);  // a refused body is not asked for
      continue;
    }
    EXPECT_EQ(20, result);
    EXPECT_EQ("HTTP/1.1 100 Continue\r\n\r\n", interim);
    EXPECT_EQ("0123456789abcdefghij", ContentOf(input));
  }
}

TEST(NetInputTest, HeaderFailureLeavesTheMessageEmpty) {
  Wire wire;
  wire.Send("GET / HTTP/1.1\r\nX: " + std::string(HTTPSock::kMaxHeaderLine + 10, 'a') + "\r\n\r\n");
  NetInput input(wire.server.get());
  EXPECT_EQ(-1, input.Receive());
  EXPECT_TRUE(input.IsEmpty());
  EXPECT_EQ(nullptr, input.GetContent());
}

TEST(NetInputTest, LargeBodyArrivesWhole) {
  std::string body(6 << 20, '\0');
  for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>(i * 131 % 251);
  Wire wire;
  std::thread peer([&] {
    wire.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
              body);
  });
  NetInput input(wire.server.get());
  EXPECT_EQ(static_cast<int>(body.size()), input.Receive());
  peer.join();
  EXPECT_TRUE(ContentOf(input) == body);
  EXPECT_EQ('\0', input.GetContent()[body.size()]);
}

// The content holder grows geometrically past its first size and always
// keeps a NUL after the bytes.
TEST(NetInputTest, ContentWriterKeepsEveryByteAndTheTerminator) {
  MemoryMapIOHandler holder(16);
  corvane::netinput::ContentWriter writer(holder);
  writer.Reserve(10);
  std::string expected;
  for (int piece = 0; piece < 400; ++piece) {
    const std::string bytes(static_cast<size_t>(piece * 37 % 5000 + 1),
                            static_cast<char>('a' + piece % 26));
    ASSERT_TRUE(writer.Append(bytes.data(), bytes.size()));
    expected += bytes;
  }
  writer.Terminate();
  ASSERT_EQ(expected.size(), holder.GetLength());
  EXPECT_TRUE(std::string(holder.GetBuffer(), holder.GetLength()) == expected);
  EXPECT_EQ('\0', holder.GetBuffer()[expected.size()]);
}

// Pieces received straight into the holder's room, mixed with copied ones,
// end up in order with the terminator after them.
TEST(NetInputTest, ContentWriterSpaceTakesPiecesFilledInPlace) {
  MemoryMapIOHandler holder(16);
  corvane::netinput::ContentWriter writer(holder);
  std::string expected;
  for (int piece = 0; piece < 300; ++piece) {
    const std::string bytes(static_cast<size_t>(piece * 53 % 7000 + 1),
                            static_cast<char>('A' + piece % 26));
    if (piece % 3 == 0) {
      ASSERT_TRUE(writer.Append(bytes.data(), bytes.size()));
    } else {
      // Room is asked for more than is then stored, as a receive may bring less.
      char* space = writer.Space(bytes.size() + 100);
      ASSERT_NE(space, nullptr);
      std::memcpy(space, bytes.data(), bytes.size());
      writer.Commit(bytes.size());
    }
    expected += bytes;
  }
  writer.Terminate();
  ASSERT_EQ(expected.size(), holder.GetLength());
  EXPECT_TRUE(std::string(holder.GetBuffer(), holder.GetLength()) == expected);
  EXPECT_EQ('\0', holder.GetBuffer()[expected.size()]);
  EXPECT_GT(holder.GetCapacity(), holder.GetLength());
}

// Interim and empty responses end at their header: a 100 Continue is followed
// by the real response on the same connection, and 204/304 carry no body even
// when the connection stays open.
TEST(NetInputTest, ResponsesWithoutBodyEndAtTheirHeader) {
  Wire wire;
  wire.Send("HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"
            "HTTP/1.1 204 No Content\r\n\r\nHTTP/1.1 304 Not Modified\r\n\r\n");
  NetInput input(wire.server.get());
  const struct {
    const char* status;
    int result;
    const char* content;
  } expected[] = {{"100", 0, ""}, {"200", 2, "ok"}, {"204", 0, ""}, {"304", 0, ""}};
  for (const auto& e : expected) {
    SCOPED_TRACE(e.status);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(e.result, input.Receive());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    EXPECT_STREQ(e.status, input.GetHeader("HTTPStatus"));
    EXPECT_EQ(e.content, ContentOf(input));
  }
}

}  // namespace
