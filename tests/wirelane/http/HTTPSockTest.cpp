// Tests of the HTTP socket: connection choice, header reading and parsing, direct responses.
#include "wirelane/http/HTTPSock.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "wirelane/sockets/SSLSocket.h"
#include "wirelane/sockets/SSPSocket.h"
#include "wirelane/http/HttpTestWire.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace {

using sockettest::kWaitLimitMs;

// A plain listening HTTPSock (MaxPostSize 100) and a raw client connected to it.
struct HttpPair : httptest::Wire<CSocket> {
  HttpPair() : httptest::Wire<CSocket>(100) {}
};

TEST(HTTPSockTest, FactoryChoosesConnectionByCertificateText) {
  struct Case {
    HTTPSock::SocketType type;
    const char* certificate;
    const char* expected;
  } cases[] = {
      {HTTPSock::Auto, nullptr, "plain"},       {HTTPSock::Auto, "", "plain"},
      {HTTPSock::Auto, "client.PEM", "ssl"},    {HTTPSock::Auto, "My Cert", "ssp"},
      {HTTPSock::SSL, nullptr, "ssl"},          {HTTPSock::SSP, "x.pem", "ssp"},
      {HTTPSock::Plain, "x.pem", "plain"},      {static_cast<HTTPSock::SocketType>(9), "a.pem", "ssl"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.certificate != nullptr ? c.certificate : "<null>");
    std::unique_ptr<CSocket> socket(HTTPSock::CreateSocket(c.type, CSocket::kNoDescriptor, c.certificate, nullptr));
    ASSERT_NE(nullptr, socket);
    const char* kind = dynamic_cast<SSLSocket*>(socket.get()) != nullptr   ? "ssl"
                       : dynamic_cast<SSPSocket*>(socket.get()) != nullptr ? "ssp"
                                                                           : "plain";
    EXPECT_STREQ(c.expected, kind);
  }
}

TEST(HTTPSockTest, RequestHeaderFillsUrlAndFields) {
  HttpPair pair;
  pair.Send("GET /a%20b?x=1 HTTP/1.1\r\nHost: h\r\nSet-Cookie: a=1\r\nSet-Cookie:   b=2  \r\n\r\n");
  KVMapImp<StringMap> header;
  ASSERT_TRUE(pair.server->ReadHTTPHeader(&header));
  ASSERT_NE(nullptr, pair.server->GetURL());
  EXPECT_STREQ("/a b", pair.server->GetURL()->GetFile());
  EXPECT_STREQ("x=1", pair.server->GetURL()->GetParam());
  EXPECT_STREQ("GET", pair.server->GetURL()->GetMethod());
  EXPECT_STREQ("h", header.Get("Host"));
  EXPECT_STREQ("0", header.Get("Content-Length"));
  EXPECT_STREQ("a=1", header.Get("Set-Cookie"));
  EXPECT_STREQ("b=2", header.Get("Set-Cookie[1]"));
}

TEST(HTTPSockTest, EncodedAmpersandIsDecodedBeforeTheQueryIsSplit) {
  HttpPair pair;
  pair.Send("GET /p?a=%26b HTTP/1.0\r\n\r\n");
  KVMapImp<StringMap> header;
  ASSERT_TRUE(pair.server->ReadHTTPHeader(&header));
  EXPECT_STREQ("", pair.server->GetURL()->GetParamValue("a"));
  EXPECT_EQ(nullptr, pair.server->GetURL()->GetParamValue("b"));
}

TEST(HTTPSockTest, ChunkedRequestGetsNoInventedContentLength) {
  HttpPair pair;
  pair.Send("POST /up HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n");
  KVMapImp<StringMap> header;
  ASSERT_TRUE(pair.server->ReadHTTPHeader(&header));
  EXPECT_EQ(nullptr, header.Get("Content-Length"));
}

TEST(HTTPSockTest, StatusLinesAndBareResponses) {
  struct Case {
    const char* text;
    const char* version;
    const char* status;
    const char* reason;
  } cases[] = {
      {"HTTP/1.1 404 Not Found\r\nServer: x\r\n\r\n", "HTTP/1.1", "404", "Not Found"},
      {"HTTP/1.0 200\r\n\r\n", "HTTP/1.0", "200", nullptr},
      {"<html>hello</html>", nullptr, "200", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    HttpPair pair;
    pair.Send(c.text);
    pair.client.Close();
    KVMapImp<StringMap> header;
    ASSERT_TRUE(pair.server->ReadHTTPHeader(&header));
    EXPECT_STREQ(c.status, header.Get("HTTPStatus"));
    if (c.version) EXPECT_STREQ(c.version, header.Get("HTTPVersion")); else EXPECT_EQ(nullptr, header.Get("HTTPVersion"));
    if (c.reason) EXPECT_STREQ(c.reason, header.Get("HTTPReason")); else EXPECT_EQ(nullptr, header.Get("HTTPReason"));
    EXPECT_EQ(nullptr, header.Get("Content-Length"));  // never invented for responses
  }
}

TEST(HTTPSockTest, InvalidLinesAreSkippedAndLogged) {
  sockettest::LogCapture log;
  HttpPair pair;
  pair.Send("GET / HTTP/1.1\r\nno colon here\r\nA: 1\r\n\r\n");
  KVMapImp<StringMap> header;
  ASSERT_TRUE(pair.server->ReadHTTPHeader(&header));
  EXPECT_STREQ("1", header.Get("A"));
  EXPECT_NE(std::string::npos, log.Text().find("Invalid string in header : no colon here"));
}

TEST(HTTPSockTest, OversizedHeaderIsRefused) {
  sockettest::LogCapture log;
  HttpPair pair;
  std::thread writer([&] {
    pair.Send("GET / HTTP/1.1\r\nX: " + std::string(HTTPSock::kMaxHeaderLine + 10, 'a') + "\r\n\r\n");
  });
  KVMapImp<StringMap> header;
  EXPECT_FALSE(pair.server->ReadHTTPHeader(&header));
  writer.join();
  EXPECT_NE(std::string::npos, log.Text().find("longer than"));

  HttpPair many;
  std::thread flood([&] {
    std::string lines = "GET / HTTP/1.1\r\n";
    while (lines.size() <= HTTPSock::kMaxHeaderBlock) lines += "X-Field: " + std::string(100, 'b') + "\r\n";
    many.Send(lines + "\r\n");
  });
  EXPECT_FALSE(many.server->ReadHTTPHeader(&header));
  flood.join();
}

TEST(HTTPSockTest, PeerClosingBeforeAnyLineGivesAnEmptyRequest) {
  HttpPair pair;
  pair.client.Close();
  KVMapImp<StringMap> header;
  EXPECT_TRUE(pair.server->ReadHTTPHeader(&header));
  EXPECT_STREQ("0", header.Get("Content-Length"));
  EXPECT_EQ(1u, header.GetItemCount());
}

TEST(HTTPSockTest, ReadHttpMessageHonoursLengthAndMaxPostSize) {
  {
    HttpPair pair;
    pair.Send("POST /x HTTP/1.0\r\nContent-Length: 5\r\n\r\nhelloEXTRA");
    KVMapImp<StringMap> header;
    int size = -1;
    const char* body = pair.server->ReadHTTPMessage(&header, size);
    ASSERT_NE(nullptr, body);
    EXPECT_EQ(5, size);
    EXPECT_EQ("hello", std::string(body, size));
  }
  {
    sockettest::LogCapture log;
    HttpPair pair;  // MaxPostSize 100
    pair.Send("POST /x HTTP/1.0\r\nContent-Length: 101\r\n\r\n");
    KVMapImp<StringMap> header;
    int size = -1;
    EXPECT_EQ(nullptr, pair.server->ReadHTTPMessage(&header, size));
    EXPECT_NE(std::string::npos,
              log.Text().find("Request contains 101 bytes data, exceeds MaxPostSize 100."));
  }
  {
    HttpPair pair;  // an announced empty body does not wait for the connection to end
    pair.Send("GET /x HTTP/1.0\r\n\r\n");
    KVMapImp<StringMap> header;
    int size = -1;
    ASSERT_NE(nullptr, pair.server->ReadHTTPMessage(&header, size));
    EXPECT_EQ(0, size);
  }
}

TEST(HTTPSockTest, SendStatusAndRedirectWriteExactBytes) {
  HttpPair pair;
  pair.server->SendStatus(404, "gone", "X-A: 1\r\n");
  pair.server->Redirect("http://h/new");
  pair.server->Close();
  EXPECT_EQ(
      "HTTP/1.1 404 Not Found\r\nX-A: 1\r\nContent-Type: text/html\r\n\r\n<html>gone</html>"
      "HTTP/1.1 302 Moved Temporarily\r\nLocation: http://h/new\r\nContent-Type: text/html\r\n\r\n"
      "<html>Content Moved...</html>",
      sockettest::ReadAll(pair.client));
}

TEST(HTTPSockTest, RedirectRefusesLineBreaks) {
  sockettest::LogCapture log;
  HttpPair pair;
  pair.server->Redirect("/x\r\nSet-Cookie: stolen=1");
  pair.server->Close();
  EXPECT_EQ("", sockettest::ReadAll(pair.client));
  EXPECT_NE(std::string::npos, log.Text().find("Redirect target with a line break refused."));
}

TEST(HTTPSockTest, SendHttpMessageResults) {
  HttpPair pair;
  EXPECT_EQ(-1, pair.server->SendHttpMessage(nullptr, 0, nullptr, 0));
  EXPECT_EQ(3, pair.server->SendHttpMessage("ab\n", 3, nullptr, 0));
  EXPECT_EQ(4, pair.server->SendHttpMessage("H\r\n", 3, reinterpret_cast<const unsigned char*>("body"), 4));
  pair.server->Close();
  EXPECT_EQ("ab\nH\r\nbody", sockettest::ReadAll(pair.client));
}

TEST(HTTPSockTest, ConnectSetsHostAndConnectionFields) {
  auto listener = sockettest::MakeListener();
  HTTPSock client(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain);
  ASSERT_EQ(0, client.Connect("127.0.0.1", listener->GetLocalPort()));
  const std::string host = "127.0.0.1:" + std::to_string(listener->GetLocalPort());
  EXPECT_STREQ(host.c_str(), client.GetHeader()->Get("Host"));
  EXPECT_STREQ("Close", client.GetHeader()->Get("Connection"));
  EXPECT_EQ(-1, client.Connect(static_cast<const char*>(nullptr), 80));
}

TEST(HTTPSockTest, Port443AndTlsGoThroughAConnectTunnel) {
  struct Case {
    HTTPSock::SocketType type;
    int port;
  } cases[] = {{HTTPSock::Plain, 443}, {HTTPSock::SSP, 8443}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.port);
    auto proxy = sockettest::MakeListener();
    std::string request;
    std::thread proxy_side([&] {
      std::unique_ptr<CSocket> accepted(proxy->Accept());
      ASSERT_NE(nullptr, accepted);
      sockettest::LimitWaits(*accepted);
      std::string line;
      while (accepted->ReadLine(line) > 0 && line != "\r\n") request += line;
      const std::string reply = "HTTP/1.0 200 Connection established\r\n\r\n";
      accepted->Write(reply.data(), reply.size());
      // Closing here ends the TLS handshake of the secure case at once.
    });
    HTTPSock client(CSocket::kNoDescriptor, nullptr, -1, c.type);
    client.SetTimeOut(SO_RCVTIMEO, kWaitLimitMs);
    client.SetProxy("127.0.0.1", proxy->GetLocalPort(), "u", "p");
    const int result = client.Connect("target.test", c.port);
    proxy_side.join();
    if (c.type == HTTPSock::Plain) {
      EXPECT_EQ(0, result);
    }
    EXPECT_EQ(0u, request.find("CONNECT target.test:" + std::to_string(c.port) + " HTTP/1.0\r\n"));
    EXPECT_NE(std::string::npos, request.find("Proxy-Authorization: Basic dTpw\r\n"));
  }
}

TEST(HTTPSockTest, CookiesParsedAndFormatted) {
  HttpPair pair;
  EXPECT_EQ(-1, pair.server->ParseCookie(nullptr));
  EXPECT_EQ(0, pair.server->ParseCookie("$Version=1; a=\"x y\", b=2;c=3"));
  EXPECT_STREQ("1", pair.server->GetCookie("Version"));
  EXPECT_STREQ("x y", pair.server->GetCookie("a"));
  EXPECT_STREQ("2", pair.server->GetCookie("B"));
  EXPECT_STREQ("3", pair.server->GetCookie("c"));
}

TEST(HTTPSockTest, ExportedCreateAndDestroy) {
  HTTPSock* socket = CreateSocket(10, nullptr);
  ASSERT_NE(nullptr, socket);
  EXPECT_EQ(10, socket->GetMaxPostSize());
  EXPECT_EQ(HTTPSock::Auto, socket->GetSocketType());
  DestroySocket(socket);
  DestroySocket(nullptr);
}

}  // namespace
