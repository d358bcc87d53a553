// Server-side NetOutput against a real client: curl requests, a listening HTTPSock answers.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "wirelane/http/ContentCodingInternal.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;

constexpr const char* kServerFields = "Server: Corvane Server/3.01\r\n";

class NetOutputCurlTest : public ::testing::Test {
 protected:
  struct Result {
    std::string output;  // what curl -i printed: the response header, then the body
    int exitStatus = -1;
  };

  void SetUp() override {
    listener_ = std::make_unique<HTTPSock>(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain);
    ASSERT_EQ(0, listener_->Listen("127.0.0.1", 0));
    listener_->SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
  }

  // Runs curl with options against path, accepts its connection and lets
  // serve read the request and answer; then closes the connection and
  // collects curl's output.
  Result Exchange(const std::vector<std::string>& options, const std::string& path,
                  const std::function<void(HTTPSock&)>& serve) {
    std::vector<std::string> args = {"curl", "-sS", "-i", "--max-time", "10"};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back(
        "http://127.0.0.1:" + std::to_string(listener_->GetConnection()->GetLocalPort()) + path);
    tlstest::PeerProcess curl(args);
    std::unique_ptr<HTTPSock> server(listener_->Accept());
    Result result;
    if (server == nullptr) {
      ADD_FAILURE() << "curl did not connect";
      return result;
    }
    server->SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
    server->SetTimeOut(SO_SNDTIMEO, kWaitLimitMs);
    serve(*server);
    server->Close();
    result.exitStatus = curl.WaitExit(10000);
    result.output = curl.Output();
    return result;
  }

  // Reads the request header and expects it to ask for path.
  static void ReadRequest(HTTPSock& server, const char* path, KVMapImp<StringMap>& header) {
    ASSERT_TRUE(server.ReadHTTPHeader(&header));
    ASSERT_NE(nullptr, server.GetURL());
    EXPECT_STREQ(path, server.GetURL()->GetFile());
  }

  std::unique_ptr<HTTPSock> listener_;
};

TEST_F(NetOutputCurlTest, PlainResponseWithCookie) {
  const Result result = Exchange({}, "/hello?name=x", [](HTTPSock& server) {
    KVMapImp<StringMap> header;
    ReadRequest(server, "/hello", header);
    NetOutput out(&server);
    out.AddHeader("X-Served-By", "corvane");
    out.SetCookie("sid", "42");
    out.Write("hello, curl");
    EXPECT_EQ(11, out.Send(1, false, nullptr, nullptr));
  });
  EXPECT_EQ(0, result.exitStatus) << result.output;
  EXPECT_EQ("HTTP/1.1 200 OK\r\nX-Served-By: corvane\r\nContent-Type: text/html\r\n" +
                std::string(kServerFields) +
                "Connection: Close\r\nSet-Cookie: sid=42;Version=1\r\nContent-Length: 11\r\n"
                "\r\nhello, curl",
            result.output);
}

TEST_F(NetOutputCurlTest, CompressedResponsesAreDecodedByCurl) {
  std::string text;
  for (int i = 0; i < 200; ++i) text += "line " + std::to_string(i) + " of a compressible page\n";
  for (const char* coding : {"gzip", "deflate"}) {
    SCOPED_TRACE(coding);
    const Result result = Exchange({"--compressed"}, "/page", [&](HTTPSock& server) {
      KVMapImp<StringMap> header;
      ReadRequest(server, "/page", header);
      ASSERT_NE(nullptr, header.Get("Accept-Encoding"));
      EXPECT_NE(nullptr, std::strstr(header.Get("Accept-Encoding"), coding));
      NetOutput out(&server);
      out.AddHeader("Content-Encoding", coding);
      out.Write(text.c_str());
      EXPECT_GT(out.Send(1, false, nullptr, nullptr), 0);
    });
    EXPECT_EQ(0, result.exitStatus) << result.output;
    std::string packed;
    ASSERT_TRUE(std::string(coding) == "gzip" ? corvane::CompressGzip(text, packed)
                                              : corvane::DeflateZlib(text, packed));
    ASSERT_LT(packed.size(), text.size());
    EXPECT_EQ("HTTP/1.1 200 OK\r\nContent-Encoding: " + std::string(coding) +
                  "\r\nContent-Type: text/html\r\n" + kServerFields +
                  "Connection: Close\r\nContent-Length: " + std::to_string(packed.size()) +
                  "\r\n\r\n" + text,
              result.output);
  }
}

TEST_F(NetOutputCurlTest, ChunkedResponseSentWithSendChuck) {
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
  const Result result = Exchange({}, "/stream", [&](HTTPSock& server) {
    KVMapImp<StringMap> header;
    ReadRequest(server, "/stream", header);
    NetOutput out(&server);
    out.AddHeader("Transfer-Encoding", "chunked");
    EXPECT_GT(out.Send(1, true, nullptr, nullptr), 0);
    EXPECT_EQ(6, out.SendChuck("hello ", 6, false));
    EXPECT_EQ(26, out.SendChuck(alphabet.c_str(), 26, false));
    EXPECT_EQ(1, out.SendChuck("!", 1, true));
  });
  EXPECT_EQ(0, result.exitStatus) << result.output;
  EXPECT_EQ("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\nContent-Type: text/html\r\n" +
                std::string(kServerFields) + "Connection: Keep-Alive\r\n\r\nhello " + alphabet +
                "!",
            result.output);
}

TEST_F(NetOutputCurlTest, ErrorStatusAfterReadingAPostedForm) {
  const Result result = Exchange({"-d", "a=1&b=x+y"}, "/form", [](HTTPSock& server) {
    KVMapImp<StringMap> header;
    int size = 0;
    const char* body = server.ReadHTTPMessage(&header, size);
    ASSERT_NE(nullptr, body);
    EXPECT_EQ("a=1&b=x+y", std::string(body, static_cast<size_t>(size)));
    EXPECT_STREQ("POST", server.GetURL()->GetMethod());
    NetOutput out(&server);
    out.SetStatus(404, nullptr);
    EXPECT_EQ(34, out.Send(1, true, nullptr, nullptr));
  });
  EXPECT_EQ(0, result.exitStatus) << result.output;
  EXPECT_EQ("HTTP/1.1 404 Not Found\r\nContent-Type: text/html\r\n" + std::string(kServerFields) +
                "Connection: Close\r\nContent-Length: 34\r\n\r\n"
                "<html>Unknown Server Error.</html>",
            result.output);
}

}  // namespace
