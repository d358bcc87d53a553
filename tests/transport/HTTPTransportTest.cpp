// Tests of HTTPTransport against in-process servers and nginx: headers, replies, certificates.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>

#include "transport/HTTPTransport.h"
#include "transport/TransportTestSupport.h"
#include "wirelane/http/HttpPeerServers.h"
#include "wirelane/http/ScriptedHttpServer.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/sockets/TlsTestCertificates.h"

namespace {

using httptest::Request;
using httptest::Response;
using httptest::ScriptedServer;
using testing::HasSubstr;
using testing::Not;
using transporttest::Made;

// A server that answers every request with its method, SOAPAction, content
// type and body, one field a line.
std::string EchoAnswer(int, const Request& request) {
  return Response("200 OK", "Content-Type: text/plain\r\n",
                  request.Line().substr(0, request.Line().find(' ')) + "\n" +
                      request.Field("SOAPAction") + "\n" + request.Field("soapaction") + "\n" +
                      request.Field("Content-Type") + "\n" + request.body);
}

TEST(HTTPTransportTest, SoapActionQuotingAndDefaultContentType) {
  ScriptedServer server(EchoAnswer);
  struct Case {
    const char* name;
    const char* value;
    const char* content_type;  // set by the caller, or null
    std::string header_line;   // as the request carried it
    std::string content_line;
  } cases[] = {
      {"soapaction", "urn:x", nullptr, "SOAPAction: \"urn:x\"", "text/xml; charset=\"utf-8\""},
      {"soapaction", "\"urn:y\"", nullptr, "soapaction: \"urn:y\"", "text/xml; charset=\"utf-8\""},
      {"SOAPAction", "urn:z", "application/soap+xml", "SOAPAction: \"urn:z\"",
       "application/soap+xml"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + c.value);
    Made made(0);
    made->AddHeader(c.name, c.value);
    made->AddHeader("CertFile", "/nonexistent/client.pem");  // no header; http ignores it
    made->AddHeader(nullptr, "ignored");
    made->AddHeader("X-Ignored", nullptr);
    if (c.content_type != nullptr) made->AddHeader("Content-Type", c.content_type);
    const std::string body = "<envelope/>";
    unsigned long length = body.size();
    const char* reply =
        made->Send(server.Url("/soap").c_str(), "POST", body.c_str(), &length, nullptr);
    ASSERT_NE(nullptr, reply);
    EXPECT_EQ(std::string(reply).size(), length);
    EXPECT_THAT(reply, HasSubstr("\n" + c.content_line + "\n<envelope/>"));
    const Request request = server.Requests().back();
    EXPECT_THAT(request.header, HasSubstr("\r\n" + c.header_line + "\r\n"));
    EXPECT_THAT(Request::Lower(request.header), Not(HasSubstr("certfile")));
    EXPECT_THAT(request.header, Not(HasSubstr("X-Ignored")));
    EXPECT_STREQ("text/plain", made->GetHeader("header|Content-Type"));
    EXPECT_THAT(made->GetHeader("ResponseHeader"), HasSubstr("200 OK"));
  }
}

TEST(HTTPTransportTest, FirstMimePartIsTheReplyAndLengthTheWholeBody) {
  const std::string body =
      "--b1\r\nContent-Type: text/xml\r\nContent-ID: <p0>\r\n\r\n<first/>\r\n"
      "--b1\r\nContent-Type: text/plain\r\nContent-ID: <p1>\r\n\r\nsecond part\r\n--b1--\r\n";
  ScriptedServer server([&](int, const Request&) {
    return Response(
        "200 OK", "Content-Type: multipart/related; boundary=\"b1\"; type=\"text/xml\"\r\n", body);
  });
  Made made(0);
  unsigned long length = 0;
  const char* reply = made->Send(server.Url("/m").c_str(), "GET", nullptr, &length, nullptr);
  ASSERT_NE(nullptr, reply);
  EXPECT_STREQ("<first/>", reply);
  EXPECT_EQ(body.size(), length);
  unsigned long size = 0;
  const unsigned char* second = made->GetAttachment(1, size);
  ASSERT_NE(nullptr, second);
  EXPECT_EQ("second part", std::string(reinterpret_cast<const char*>(second), size));
}

TEST(HTTPTransportTest, EmptyReplyAndFailedSendGiveNullAndZeroLength) {
  ScriptedServer server([](int, const Request&) { return Response("202 Accepted", ""); });
  sockettest::RefusingPort refusing;
  const std::string refused = "http://127.0.0.1:" + std::to_string(refusing.port) + "/";
  for (const std::string& url : {server.Url("/empty"), refused}) {
    SCOPED_TRACE(url);
    Made made(0);
    unsigned long length = 4;
    EXPECT_EQ(nullptr, made->Send(url.c_str(), "POST", "data", &length, nullptr));
    EXPECT_EQ(0u, length);
  }
  EXPECT_EQ(1u, server.Count());
}

TEST(HTTPTransportTest, TimeoutPropertySetsTheClientTimeOut) {
  ScriptedServer server([](int, const Request&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    return Response("200 OK", "", "late");
  });
  Made made(0);
  made->SetProperty("TIMEOUT", "300");
  made->SetProperty("Timeout", nullptr);
  EXPECT_EQ(nullptr, made->GetProperty("Timeout"));  // not a client property
  made->SetProperty("ChunkSize", "4096");
  EXPECT_STREQ("4096", made->GetProperty("chunksize"));
  unsigned long length = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(nullptr, made->Send(server.Url("/slow").c_str(), "GET", nullptr, &length, nullptr));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
}

TEST(HTTPTransportTest, ClearReleasesRequestAndProxyAndTheNextSendWorks) {
  ScriptedServer server(EchoAnswer);
  sockettest::RefusingPort no_proxy;
  Made made(0);
  made->SetProxy("127.0.0.1", static_cast<short>(no_proxy.port), nullptr, nullptr);
  made->AddHeader("SOAPAction", "urn:old");
  made->Clear();
  EXPECT_EQ(nullptr, made->GetHeader("header|Content-Type"));
  made->AddHeader("SOAPAction", "urn:new");
  unsigned long length = 2;
  const char* reply = made->Send(server.Url("/").c_str(), "POST", "hi", &length, nullptr);
  ASSERT_NE(nullptr, reply);
  EXPECT_THAT(reply, HasSubstr("POST\n\"urn:new\"\n"));
  EXPECT_THAT(reply, HasSubstr("\nhi"));
}

TEST(HTTPTransportTest, ProxyPortsAboveSignedShortRangeAreKept) {
  // The proxy: a server that answers whatever reaches it.
  ScriptedServer proxy(EchoAnswer);
  Made made(0);
  // Ephemeral ports are mostly above 32767; the short argument carries them
  // as their 16 bits.
  made->SetProxy("127.0.0.1", static_cast<short>(static_cast<unsigned short>(proxy.Port())),
                 nullptr, nullptr);
  unsigned long length = 0;
  ASSERT_NE(nullptr, made->Send("http://target.test/p", "GET", nullptr, &length, nullptr));
  ASSERT_EQ(1u, proxy.Count());
  EXPECT_THAT(proxy.Requests()[0].Line(), HasSubstr("http://target.test/p"));
}

TEST(HTTPTransportTest, AttachmentGoesOutAsMime) {
  const std::string file =
      ::testing::TempDir() + "transport-attach-" + std::to_string(::getpid()) + ".txt";
  std::ofstream(file) << "attached bytes";
  ScriptedServer server(EchoAnswer);
  Made made(0);
  EXPECT_FALSE(made->AddAttachment("/nonexistent/file", "a", "text/plain", nullptr));
  EXPECT_TRUE(made->AddAttachment(file.c_str(), "a1", "text/plain", nullptr));
  unsigned long length = 11;
  ASSERT_NE(nullptr, made->Send(server.Url("/").c_str(), "POST", "<envelope/>", &length, nullptr));
  ::unlink(file.c_str());
  const Request request = server.Requests().back();
  EXPECT_THAT(Request::Lower(request.Field("Content-Type")),
              testing::StartsWith("multipart/related"));
  EXPECT_THAT(request.body, HasSubstr("attached bytes"));
  EXPECT_THAT(request.body, HasSubstr("<envelope/>"));
}

TEST(HTTPTransportTest, PlatformHttpKindCarriesRequests) {
  ScriptedServer server(EchoAnswer);
  Made made(8);
  // The platform stack goes straight to the server, so proxy credentials
  // must not travel with the request.
  sockettest::RefusingPort proxy;
  made->SetProxy(("127.0.0.1:" + std::to_string(proxy.port)).c_str(), 0, "pu", "pp");
  made->AddHeader("SOAPAction", "urn:w");
  unsigned long length = 5;
  const char* reply = made->Send(server.Url("/w").c_str(), "POST", "hello", &length, nullptr);
  ASSERT_NE(nullptr, reply);
  EXPECT_THAT(reply, HasSubstr("POST\n\"urn:w\"\n"));
  EXPECT_THAT(reply, HasSubstr("\nhello"));
  ASSERT_EQ(1u, server.Count());
  EXPECT_EQ("<none>", server.Requests()[0].Field("Proxy-Authorization"));
}

TEST(HTTPTransportTest, CertificateFileAppliesToHttpsAddressesOnly) {
  ASSERT_TRUE(tlstest::ChannelCertificates().ready);
  peertest::Nginx nginx(
      "    location = /soap { return 200 \"$request_method $http_soapaction\"; }\n");
  ASSERT_TRUE(nginx.Ready());
  const std::string tls = "HTTPS://127.0.0.1:" + std::to_string(nginx.TlsPort()) + "/soap";
  const std::string plain = "http://127.0.0.1:" + std::to_string(nginx.PlainPort()) + "/soap";
  Made made(0);
  made->AddHeader("SOAPAction", "urn:t");
  unsigned long length = 0;
  // No certificate: the secure channel, verifying the server against the test CA.
  const char* reply = made->Send(tls.c_str(), "POST", nullptr, &length, "");
  ASSERT_NE(nullptr, reply);
  EXPECT_EQ("POST \"urn:t\"", std::string(reply, length));

  // A stored certificate that cannot be loaded: https fails, http is untouched.
  made->AddHeader("certfile", "/nonexistent/client.pem");
  EXPECT_NE(nullptr, made->Send(plain.c_str(), "POST", nullptr, &length, nullptr));
  EXPECT_EQ(nullptr, made->Send(tls.c_str(), "POST", nullptr, &length, nullptr));
  EXPECT_EQ(0u, length);
}

}  // namespace
