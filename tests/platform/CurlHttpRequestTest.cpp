// Tests of the libcurl request layer: its call contract, header rules and server verification.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/HttpRequest.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

using corvane::platform::HttpRequest;
using corvane::platform::MakeHttpRequest;
using testing::HasSubstr;
using tlstest::TestCertificates;

TEST(CurlHttpRequestTest, CallsOutOfOrderFailWithAReason) {
  auto request = MakeHttpRequest();
  EXPECT_FALSE(request->Connect("127.0.0.1", 80));  // session not open
  ASSERT_TRUE(request->Open("agent"));
  EXPECT_FALSE(request->OpenRequest("GET", "/", false));  // no server named
  EXPECT_FALSE(request->Connect("", 80));
  EXPECT_FALSE(request->Connect("h", 0));
  EXPECT_FALSE(request->Connect("h", 65536));
  ASSERT_TRUE(request->Connect("127.0.0.1", 9));
  EXPECT_FALSE(request->AddHeaders("A: 1\r\n"));  // no request open
  EXPECT_FALSE(request->Send(nullptr, 0, 0));
  EXPECT_FALSE(request->ReceiveResponse());
  char buffer[4];
  EXPECT_EQ(-1, request->Read(buffer, sizeof buffer));
  EXPECT_EQ(-1, request->Write("x", 1));
  EXPECT_FALSE(request->OpenRequest("BAD METHOD", "/", false));
  EXPECT_FALSE(request->LastError().empty());
  EXPECT_NE(0, request->LastErrorCode());
}

TEST(CurlHttpRequestTest, HeaderLinesAreCheckedBeforeSending) {
  auto request = MakeHttpRequest();
  ASSERT_TRUE(request->Open("agent"));
  ASSERT_TRUE(request->Connect("127.0.0.1", 9));
  ASSERT_TRUE(request->OpenRequest("POST", "/", false));
  EXPECT_TRUE(request->AddHeaders("A: 1\r\n\r\nB:\r\n  \r\nC: x y\n"));
  struct Case {
    std::string lines;
    const char* reason;
  } refused[] = {
      {"no colon\r\n", "invalid header line"},
      {": no name\r\n", "invalid header line"},
      {std::string("A: nul\0inside\r\n", 15), "invalid header line"},
      {"content-length: 5\r\n", "Content-Length"},
  };
  for (const Case& c : refused) {
    EXPECT_FALSE(request->AddHeaders(c.lines));
    EXPECT_THAT(request->LastError(), HasSubstr(c.reason));
  }
  HttpRequest::Timeouts timeouts;
  timeouts.sendMs = -2;
  EXPECT_FALSE(request->SetTimeouts(timeouts));
  timeouts.sendMs = -1;
  EXPECT_TRUE(request->SetTimeouts(timeouts));
  EXPECT_FALSE(request->Send("abc", 3, 2));  // more body than announced
}

// Fetches "/" from an openssl s_server with the rogue (untrusted) certificate.
bool FetchFromRogue(bool verify, std::string& error) {
  const TestCertificates& certs = TestCertificates::Get();
  tlstest::OpensslServer server(certs.Cert("rogue"), certs.Key("rogue"));
  if (!server.Ready()) return false;
  auto request = MakeHttpRequest();
  request->Open("agent");
  request->SetVerifyServer(verify);
  HttpRequest::Timeouts timeouts;
  timeouts.connectMs = timeouts.sendMs = timeouts.receiveMs = 5000;
  request->SetTimeouts(timeouts);
  request->Connect("127.0.0.1", server.Port());
  request->OpenRequest("GET", "/", true);
  const bool ok = request->Send(nullptr, 0, 0) && request->ReceiveResponse();
  error = request->LastError();
  return ok && request->RawHeaders().rfind("HTTP/1.0 200", 0) == 0;
}

TEST(CurlHttpRequestTest, ServerVerificationIsOnUnlessTurnedOff) {
  tlstest::InFreshProcess([] {
    ::setenv("SSL_CERT_FILE", TestCertificates::Get().Cert("ca").c_str(), 1);
    std::string error;
    EXPECT_FALSE(FetchFromRogue(true, error));
    EXPECT_THAT(error, HasSubstr("certificate"));
    EXPECT_TRUE(FetchFromRogue(false, error)) << error;
  });
}

}  // namespace
