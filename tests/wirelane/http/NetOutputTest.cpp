// Tests of NetOutput: request and response header blocks, fields, cookies, bodies, chunks, sending.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/NetOutput.h"
#include "wirelane/http/NetOutputTestSupport.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace {

using netoutputtest::CapturedOutput;

constexpr const char* kUserAgent = "User-Agent: Corvane Client/3.02\r\n";

// A plain HTTPSock that is never connected: it only carries extra fields.
std::unique_ptr<HTTPSock> FieldSocket() {
  auto socket = std::make_unique<HTTPSock>(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain);
  socket->AddHeader("Host", "h:81");
  socket->AddHeader("Connection", "Close");
  return socket;
}

TEST(NetOutputTest, BareGetRequest) {
  CapturedOutput out;
  const int result = out.Send(2, false, "GET", "/a");
  EXPECT_EQ("GET /a HTTP/1.0\r\n" + std::string(kUserAgent) + "Accept: */*\r\n\r\n", out.Wire());
  EXPECT_EQ(static_cast<int>(out.header.size()), result);  // no body: the header write counts
  EXPECT_EQ(1, out.handovers);
}

TEST(NetOutputTest, RequestLineCarriesQueryOfGetOnly) {
  struct Case {
    const char* method;
    const char* path;
    const char* version;
    bool fields;
    const char* line;
  } cases[] = {
      {"GET", "/p?q=1", nullptr, true, "GET /p?q=1&a=1&b=x+y HTTP/1.0\r\n"},
      {"get", "/p", "HTTP/1.1", true, "get /p?a=1&b=x+y HTTP/1.1\r\n"},
      {"GET", "/a&amp;b?x&AMP;y", nullptr, false, "GET /a&b?x&y HTTP/1.0\r\n"},
      {"DELETE", "/p", nullptr, true, "DELETE /p HTTP/1.0\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    CapturedOutput out(nullptr, nullptr, c.version);
    if (c.fields) {
      out.Add("a", "1");
      out.Add("b", "x y");
    }
    out.Send(2, false, c.method, c.path);
    EXPECT_EQ(c.line, out.header.substr(0, out.header.find("\r\n") + 2));
  }
}

TEST(NetOutputTest, PostHeaderBlockIsExact) {
  auto socket = FieldSocket();
  CapturedOutput out(socket.get());
  out.AddHeader("SOAPAction", "urn:x");
  out.SetCookie("sid", "42");
  out.AddHeader("cookie|lang", "en");
  out.Add("a", "1");
  out.Add("b", "x y");
  EXPECT_EQ(9, out.Send(2, false, "POST", "/svc"));
  EXPECT_EQ(
      "POST /svc HTTP/1.0\r\n"
      "Cookie: sid=42; lang=en\r\n" +
          std::string(kUserAgent) +
          "Host: h:81\r\n"
          "Connection: Close\r\n"
          "Accept: */*\r\n"
          "Content-Length: 9\r\n"
          "SOAPAction: urn:x\r\n"
          "Content-Type: application/x-www-form-urlencoded\r\n"
          "\r\n",
      out.header);
  EXPECT_EQ("a=1&b=x+y", out.body);
  EXPECT_EQ(nullptr, out.GetHeader("cookie|lang"));  // a cookie, not a field
  EXPECT_STREQ("en", out.GetCookie("lang"));
}

TEST(NetOutputTest, PostWithoutBodyAndCallerDefaults) {
  CapturedOutput bare;
  bare.Send(2, false, "post", "/p");
  EXPECT_EQ("post /p HTTP/1.0\r\n" + std::string(kUserAgent) +
                "Accept: */*\r\nContent-Length: 0\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\n\r\n",
            bare.Wire());

  CapturedOutput own;
  own.AddHeader("Accept", "text/xml");
  own.AddHeader("User-Agent", "Host/1");
  own.AddHeader("Content-Type", "text/xml");
  own.Write("<x/>");
  own.Send(2, false, "POST", "/p");
  EXPECT_EQ(
      "POST /p HTTP/1.0\r\nContent-Length: 4\r\nAccept: text/xml\r\nUser-Agent: Host/1\r\n"
      "Content-Type: text/xml\r\n\r\n<x/>",
      own.Wire());
}

TEST(NetOutputTest, DefaultResponseIsExact) {
  CapturedOutput out;
  out.Write("hello");
  EXPECT_EQ(5, out.Send(1, false, nullptr, nullptr));
  EXPECT_EQ(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nServer: Corvane Server/3.01\r\n"
      "Connection: Close\r\nContent-Length: 5\r\n\r\nhello",
      out.Wire());
}

TEST(NetOutputTest, ResponseStatusConnectionAndErrorPage) {
  struct Case {
    int status;
    bool keepAlive;
    const char* message;
    const char* body;
    const char* statusLine;
    const char* connection;
    const char* sentBody;
  } cases[] = {
      {200, true, nullptr, "hi", "HTTP/1.1 200 OK", "Keep-Alive", "hi"},
      {302, true, nullptr, "x", "HTTP/1.1 302 Moved Temporarily", "Keep-Alive", "x"},
      {300, true, nullptr, nullptr, "HTTP/1.1 300 Multipe Choices", "Keep-Alive", ""},
      {203, false, nullptr, "y", "HTTP/1.1 203 Unknow Error", "Close", "y"},
      {301, false, nullptr, nullptr, "HTTP/1.1 301 Moved Permanently", "Close",
       "<html>Unknown Server Error.</html>"},
      {404, true, nullptr, nullptr, "HTTP/1.1 404 Not Found", "Close",
       "<html>Unknown Server Error.</html>"},
      {500, true, "Boom", nullptr, "HTTP/1.1 500 Internal Server Error", "Close",
       "<html>Boom</html>"},
      {500, true, "Boom", "own page", "HTTP/1.1 500 Internal Server Error", "Close", "own page"},
      {401, true, "ignored", nullptr, "HTTP/1.1 401 Unauthorized", "Close", ""},
      {401, false, nullptr, "realm", "HTTP/1.1 401 Unauthorized", "Close", "realm"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + (c.body ? c.body : ""));
    CapturedOutput out;
    out.SetStatus(c.status, c.message);
    if (c.body != nullptr) out.Write(c.body);
    out.Send(1, c.keepAlive, nullptr, nullptr);
    EXPECT_EQ(std::string(c.statusLine) +
                  "\r\nContent-Type: text/html\r\n"
                  "Server: Corvane Server/3.01\r\nConnection: " +
                  c.connection + "\r\nContent-Length: " + std::to_string(std::strlen(c.sentBody)) +
                  "\r\n\r\n",
              out.header);
    EXPECT_EQ(c.sentBody, out.body);
  }
}

TEST(NetOutputTest, CookiesAreSentOnceAsOneSetCookieField) {
  auto socket = std::make_unique<HTTPSock>(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain);
  socket->AddHeader("X-Node", "7");
  CapturedOutput out(socket.get());
  out.AddHeader("X-Trace", "1");
  out.AddHeader("Server", "Mine");
  out.SetCookie("a", "1");
  out.SetCookie("b", "2; version=3");
  out.Send(1, true, nullptr, nullptr);
  EXPECT_EQ(
      "HTTP/1.1 200 OK\r\nX-Node: 7\r\nX-Trace: 1\r\nServer: Mine\r\n"
      "Content-Type: text/html\r\nConnection: Keep-Alive\r\n"
      "Set-Cookie: a=1;Version=1,b=2; version=3\r\nContent-Length: 0\r\n\r\n",
      out.header);
  EXPECT_EQ(nullptr, out.GetCookie("a"));

  CapturedOutput single;
  single.SetCookie("a", "1");
  single.Send(1, false, nullptr, nullptr);
  EXPECT_NE(std::string::npos, single.header.find("\r\nSet-Cookie: a=1;Version=1\r\n"));
}

TEST(NetOutputTest, ChunkedResponseCarriesNoContentLength) {
  CapturedOutput out;
  out.AddHeader("Transfer-Encoding", "chunked");
  out.Send(1, false, nullptr, nullptr);
  EXPECT_EQ(std::string::npos, out.header.find("Content-Length"));
  EXPECT_EQ("", out.body);
}

TEST(NetOutputTest, LineBreaksNeverReachTheHeader) {
  sockettest::LogCapture log;
  CapturedOutput out;
  out.AddHeader("X-Bad", "a\r\nSet-Cookie: evil=1");
  out.AddHeader("X-Good", "b");
  out.SetCookie("c", "1\nInjected: yes");
  out.Send(1, false, nullptr, nullptr);
  EXPECT_EQ(std::string::npos, out.header.find("evil"));
  EXPECT_EQ(std::string::npos, out.header.find("Injected"));
  EXPECT_NE(std::string::npos, out.header.find("X-Good: b\r\n"));
  EXPECT_NE(std::string::npos, log.Text().find("holding a line break was not sent"));

  CapturedOutput request;
  EXPECT_EQ(-1, request.Send(2, false, "GET", "/a HTTP/1.0\r\nX-Injected: 1\r\n"));
  EXPECT_EQ(-1, request.Send(2, false, nullptr, "/"));
  EXPECT_EQ(0, request.handovers);
  EXPECT_NE(std::string::npos, log.Text().find("Refused a request line with a line break"));
  EXPECT_NE(std::string::npos, log.Text().find("A request needs a method and a path."));
}

TEST(NetOutputTest, FormFieldsAndHeaderFields) {
  NetOutput out;
  EXPECT_EQ(nullptr, out.GetBody());
  EXPECT_EQ(0u, out.Add("n", 1));
  EXPECT_EQ(0u, out.Add("n", 2));
  EXPECT_EQ(1u, out.GetBody()->GetItemCount());
  EXPECT_STREQ("2", out.GetBody()->Get("n"));
  EXPECT_EQ(1u, out.Add("m", "1"));
  EXPECT_EQ(2u, out.Add("m", "2"));
  EXPECT_STREQ("2", out.GetBody()->Get("m[1]"));
  EXPECT_EQ(0xFFFFFFFFu, out.Add("", "x"));

  out.AddHeader("Content-Length", 12);
  EXPECT_STREQ("12", out.GetHeader("content-length"));
  out.AddHeader("Content-Length", static_cast<const char*>(nullptr));
  EXPECT_EQ(nullptr, out.GetHeader("Content-Length"));
  out.AddHeader("COOKIE|sid", "42");
  EXPECT_STREQ("42", out.GetCookie("sid"));
  EXPECT_EQ(0u, out.GetHeader()->GetItemCount());
}

TEST(NetOutputTest, WriteVariants) {
  NetOutput out;
  EXPECT_EQ(nullptr, out.GetBuffer());
  EXPECT_EQ(0, out.Write(static_cast<const char*>(nullptr)));
  EXPECT_EQ(0, out.Write(nullptr, 4));
  EXPECT_EQ(0, out.Write("abc", -1));
  EXPECT_EQ(nullptr, out.GetOutputStream());
  EXPECT_EQ(3, out.Write("abc"));
  EXPECT_EQ(2, out.Write("d\0e", 2));
  const unsigned short wide[] = {'h', 0x20AC, 0};
  EXPECT_EQ(4, out.Write(wide));
  const std::string expected = std::string("abcd\0h\0\xAC\x20", 9);
  ASSERT_NE(nullptr, out.GetOutputStream());
  EXPECT_EQ(expected, std::string(out.GetBuffer(), out.GetOutputStream()->GetLength()));
}

TEST(NetOutputTest, CloneClearAndClearBody) {
  NetOutput source(nullptr, "key1", "HTTP/1.1");
  source.AddHeader("X", "1");
  source.SetCookie("c", "2");
  source.Add("f", "3");
  source.Write("body");
  source.SetStatus(404, "gone");

  CapturedOutput copy(nullptr, nullptr, nullptr);
  copy.Write("old");
  static_cast<NetOutput&>(copy) = source;
  EXPECT_STREQ("1", copy.GetHeader("X"));
  EXPECT_STREQ("2", copy.GetCookie("c"));
  EXPECT_STREQ("3", copy.GetBody()->Get("f"));
  EXPECT_EQ(404, copy.GetStatus());
  EXPECT_EQ(0u, copy.GetOutputStream()->GetLength());  // body bytes are not copied
  copy.Send(1, false, nullptr, nullptr);
  EXPECT_EQ("<html>gone</html>", copy.body);
  source.AddHeader("X", "changed");  // the copy has its own maps
  EXPECT_STREQ("1", copy.GetHeader("X"));

  source.Clear();
  EXPECT_EQ(nullptr, source.GetHeader("X"));
  EXPECT_EQ(nullptr, source.GetBody()->Get("f"));
  EXPECT_EQ(nullptr, source.GetBuffer());
  EXPECT_STREQ("2", source.GetCookie("c"));
  EXPECT_EQ(404, source.GetStatus());

  source.Add("g", "1");
  source.Write("x");
  source.AddHeader("Y", "1");
  source.ClearBody();
  EXPECT_EQ(nullptr, source.GetBuffer());
  EXPECT_EQ(0u, source.GetBody()->GetItemCount());
  EXPECT_STREQ("1", source.GetHeader("Y"));
}

TEST(NetOutputTest, SendChuckWritesChunkedCoding) {
  const std::string alphabet = "abcdefghijklmnopqrstuvwxyz";
  struct Case {
    const char* data;
    int length;
    bool last;
    int result;
    std::vector<std::string> pieces;
  } cases[] = {
      {"hello", 5, false, 5, {"5\r\n", "hello", "\r\n"}},
      {alphabet.c_str(), 26, true, 26, {"1a\r\n", alphabet, "\r\n", "0\r\n\r\n"}},
      {nullptr, 0, false, 0, {"0\r\n\r\n"}},
      {"ignored", -3, true, 0, {"0\r\n\r\n"}},
      {nullptr, 3, false, -1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    CapturedOutput out;
    EXPECT_EQ(c.result, out.SendChuck(c.data, c.length, c.last));
    EXPECT_EQ(c.pieces, out.pieces);
  }

  CapturedOutput broken;
  broken.answer_override = -1;  // the length line cannot be written
  EXPECT_EQ(0, broken.SendChuck("hello", 5, true));
  EXPECT_EQ(1, broken.handovers);
}

TEST(NetOutputTest, WithoutSocketNothingIsSent) {
  NetOutput out;
  out.Write("x");
  EXPECT_EQ(0, out.Send(1, false, nullptr, nullptr));
  EXPECT_EQ(0, out.SendChuck("x", 1, true));
  EXPECT_FALSE(out.WriteFile((::testing::TempDir() + "netoutput-none").c_str()));
  sockettest::LogCapture log;
  out.Redirect("http://elsewhere/");
  EXPECT_NE(std::string::npos, log.Text().find("No socket for sending a redirect."));
}

// A client HTTPSock connected to a raw loopback listener.
struct LoopbackClient {
  LoopbackClient()
      : listener(sockettest::MakeListener()),
        client(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain) {
    client.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
    client.SetTimeOut(SO_SNDTIMEO, sockettest::kWaitLimitMs);
    EXPECT_EQ(0, client.Connect("127.0.0.1", listener->GetLocalPort()));
    server.reset(listener->Accept());
    EXPECT_NE(nullptr, server);
    if (server) sockettest::LimitWaits(*server);
  }
  std::string Received() {
    client.Close();
    return server ? sockettest::ReadAll(*server) : "";
  }
  std::unique_ptr<CSocket> listener;
  HTTPSock client;
  std::unique_ptr<CSocket> server;
};

TEST(NetOutputTest, RequestGoesOutOnTheConnection) {
  LoopbackClient pair;
  NetOutput out(&pair.client);
  out.Add("a", "1");
  EXPECT_EQ(3, out.Send(2, false, "POST", "/x"));
  const std::string host = "127.0.0.1:" + std::to_string(pair.listener->GetLocalPort());
  EXPECT_EQ("POST /x HTTP/1.0\r\n" + std::string(kUserAgent) + "Host: " + host +
                "\r\nConnection: Close\r\nAccept: */*\r\nContent-Length: 3\r\n"
                "Content-Type: application/x-www-form-urlencoded\r\n\r\na=1",
            pair.Received());
}

TEST(NetOutputTest, RedirectAndWriteFileUseTheSocket) {
  LoopbackClient pair;
  NetOutput out(&pair.client);
  out.Redirect("http://127.0.0.1/next");
  EXPECT_EQ(0u, pair.Received().find("HTTP/1.1 302 Moved Temporarily\r\n"
                                     "Location: http://127.0.0.1/next\r\n"));

  HTTPSock buffered(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain);
  buffered.GetConnection()->SetBufferOutput(1);
  ASSERT_EQ(6, buffered.Write("col\0ed", 6));
  NetOutput collector(&buffered);
  const std::string path =
      ::testing::TempDir() + "netoutput-collected-" + std::to_string(::getpid());
  ASSERT_TRUE(collector.WriteFile(path.c_str()));
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  EXPECT_EQ(std::string("col\0ed", 6), text.str());
  std::remove(path.c_str());
}

}  // namespace
