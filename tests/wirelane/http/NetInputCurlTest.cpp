// Tests of NetInput reading real requests sent by curl: chunked, multipart, DIME, Expect and
// MaxPostSize.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "common/BufferIOHandler.h"
#include "wirelane/http/DimeMsg.h"
#include "wirelane/http/NetInput.h"
#include "wirelane/sockets/SocketStartup.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;
using testing::HasSubstr;
using tlstest::PeerProcess;
using tlstest::ReadText;

// Bytes that are not text, so any loss or change shows.
std::string Binary(size_t size) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 7919) % 256);
  return data;
}

class NetInputCurlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(0, WSAStartup(0x0202, nullptr));
    std::string pattern = ::testing::TempDir() + "netinput-curl-XXXXXX";
    ASSERT_NE(nullptr, ::mkdtemp(pattern.data()));
    dir_ = pattern;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    WSACleanup();
  }

  std::string WriteFile(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // Runs curl with args against a listener with maxPostSize and the given
  // properties, reads the request with NetInput, hands it to check and
  // answers with status. Returns curl's output (the status code it got).
  std::string Serve(int maxPostSize, const SocketPropertyMap& properties,
                    const std::vector<std::string>& args,
                    const std::function<void(NetInput&, int, double)>& check,
                    const char* status = "200 OK") {
    HTTPSock listener(CSocket::kNoDescriptor, nullptr, maxPostSize, HTTPSock::Plain, &properties);
    EXPECT_EQ(0, listener.Listen("127.0.0.1", 0));
    listener.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
    std::vector<std::string> command = {"curl",      "-sS", "--noproxy",    "*",          "-o",
                                        "/dev/null", "-w",  "%{http_code}", "--max-time", "10"};
    command.insert(command.end(), args.begin(), args.end());
    command.push_back(
        "http://127.0.0.1:" + std::to_string(listener.GetConnection()->GetLocalPort()) + "/upload");
    PeerProcess curl(command);
    std::unique_ptr<HTTPSock> server(listener.Accept());
    EXPECT_NE(nullptr, server);
    if (!server) return curl.Output();
    server->SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
    NetInput input(server.get());
    const auto start = std::chrono::steady_clock::now();
    const int result = input.Receive();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    check(input, result, seconds);
    const std::string response =
        std::string("HTTP/1.1 ") + status + "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    server->Write(response.data(), static_cast<unsigned>(response.size()));
    // A refused body is still on its way; take it so closing does not reset
    // the connection before curl has read the answer.
    server->SetTimeOut(SO_RCVTIMEO, 1000);
    char rest[65536];
    while (server->Read(rest, sizeof rest) > 0) {
    }
    server->Close();
    EXPECT_EQ(0, curl.WaitExit(10000)) << curl.Output();
    return curl.Output();
  }

  std::string dir_;
};

TEST_F(NetInputCurlTest, ChunkedUploadArrivesWhole) {
  const std::string data = Binary(300000);
  const std::string path = WriteFile("data.bin", data);
  const std::string answer =
      Serve(-1, {},
            {"-H", "Transfer-Encoding: chunked", "-H", "Content-Type: application/octet-stream",
             "--data-binary", "@" + path},
            [&](NetInput& input, int result, double) {
              EXPECT_EQ(static_cast<int>(data.size()), result);
              EXPECT_STREQ("POST", input.GetHeader("REQUEST_METHOD"));
              EXPECT_EQ(data.size(), input.GetContentLength());
              ASSERT_NE(nullptr, input.GetContent());
              EXPECT_TRUE(std::string(input.GetContent(), data.size()) == data);
            });
  EXPECT_EQ("200", answer);
}

TEST_F(NetInputCurlTest, MultipartFormStoresTheFileInTheAttachFolder) {
  const std::string data = Binary(70000);
  const std::string path = WriteFile("photo.bin", data);
  const std::string attach = dir_ + "/attach";
  std::filesystem::create_directory(attach);
  SocketPropertyMap properties;
  properties["AttachFolder"] = attach;
  const std::string answer = Serve(
      -1, properties, {"-F", "a=1", "-F", "f=@" + path}, [&](NetInput& input, int result, double) {
        EXPECT_GT(result, static_cast<int>(data.size()));
        EXPECT_STREQ("1", input.Get("a"));
        const char* stored = input.Get("_attach_f");
        ASSERT_NE(nullptr, stored);
        EXPECT_STREQ(stored, input.Get("f"));
        EXPECT_EQ(attach + "/photo.bin", stored);
        EXPECT_TRUE(ReadText(stored) == data);
        EXPECT_STREQ("photo.bin", input.GetAttachmentProperty("f", "filename"));
      });
  EXPECT_EQ("200", answer);
}

TEST_F(NetInputCurlTest, DimeBodyIsSplitIntoRecords) {
  const std::string picture = Binary(5000);
  DimeMsg message;
  message.AddRecord("env", "http://schemas.xmlsoap.org/soap/envelope/", "<Envelope/>", 11, -1);
  message.AddRecord("pic", "image/png", picture.data(), picture.size(), -1);
  BufferIOHandler bytes;
  ASSERT_TRUE(message.SendMessage(&bytes));
  const std::string path =
      WriteFile("message.dime", std::string(bytes.GetBuffer(), bytes.GetLength()));
  const std::string answer =
      Serve(-1, {}, {"--data-binary", "@" + path, "-H", "Content-Type: application/dime"},
            [&](NetInput& input, int result, double) {
              EXPECT_EQ(static_cast<int>(bytes.GetLength()), result);
              EXPECT_STREQ("<Envelope/>", input.GetContent());
              unsigned long length = 0;
              const unsigned char* data = input.GetAttachment("pic", length);
              ASSERT_NE(nullptr, data);
              EXPECT_TRUE(std::string(reinterpret_cast<const char*>(data), length) == picture);
            });
  EXPECT_EQ("200", answer);
}

TEST_F(NetInputCurlTest, ExpectContinueGetsTheBodyWithoutCurlsWait) {
  const std::string answer = Serve(
      -1, {},
      {"-H", "Expect: 100-continue", "-H", "Content-Type: text/plain", "--data-binary", "hello"},
      [&](NetInput& input, int result, double seconds) {
        EXPECT_EQ(5, result);
        EXPECT_STREQ("100-continue", input.GetHeader("Expect"));
        EXPECT_STREQ("hello", input.GetContent());
        EXPECT_LT(seconds, 0.5);  // curl waits a second for the 100 answer
      });
  EXPECT_EQ("200", answer);
}

TEST_F(NetInputCurlTest, BodyOverMaxPostSizeIsRefused) {
  const std::string path = WriteFile("big.bin", Binary(5000));
  sockettest::LogCapture log;
  const std::string answer = Serve(
      1000, {}, {"-H", "Content-Type: application/octet-stream", "--data-binary", "@" + path},
      [&](NetInput& input, int result, double) {
        EXPECT_EQ(0, result);
        EXPECT_EQ(nullptr, input.GetContent());
      },
      "413 Request Entity Too Large");
  EXPECT_EQ("413", answer);
  EXPECT_THAT(log.Text(), HasSubstr("Content length 5000 exceeded the MaxPostSize limit 1000"));
}

}  // namespace
