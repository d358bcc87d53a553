// Tests of NetClient with in-process servers: redirects, challenges, cookies, proxies, time-outs.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

#include "sealvault/Encoder.h"
#include "wirelane/http/NetClient.h"
#include "wirelane/http/NetClientTestSupport.h"
#include "wirelane/http/ScriptedHttpServer.h"
#include "wirelane/sockets/SocketStartup.h"
#include "wirelane/sockets/SocketTestSupport.h"

namespace {

using httptest::Content;
using httptest::Request;
using httptest::Response;
using httptest::ScriptedServer;
using httptest::Status;
using testing::HasSubstr;
using testing::StartsWith;

std::string Base64(const std::string& plain) {
  Encoder encoder("base64");
  int length = static_cast<int>(plain.size());
  return encoder.Encode(reinterpret_cast<const unsigned char*>(plain.data()), &length);
}

std::string Ok(const std::string& body = "done") { return Response("200 OK", "", body); }

class NetClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, WSAStartup(0x0202, nullptr)); }
  void TearDown() override { WSACleanup(); }
};

TEST_F(NetClientTest, UrlWithoutSchemeIsPlainHttpWithHostField) {
  ScriptedServer server(
      [](int, const Request&) { return Response("200 OK", "X-Reply: yes\r\n", "hello"); });
  NetClient client;
  const std::string url = "127.0.0.1:" + std::to_string(server.Port()) + "/x?a=1";
  EXPECT_EQ(5, client.SendRequest("GET", url.c_str()));
  ASSERT_EQ(1u, server.Count());
  const Request request = server.Requests()[0];
  EXPECT_EQ("GET /x?a=1 HTTP/1.0", request.Line());
  EXPECT_EQ("127.0.0.1:" + std::to_string(server.Port()), request.Field("Host"));
  EXPECT_EQ("Close", request.Field("Connection"));
  EXPECT_EQ("200", Status(client));
  EXPECT_EQ("hello", Content(client));
  EXPECT_STREQ("yes", client.Get("header|X-Reply"));
  EXPECT_EQ(nullptr, client.Get("X-Reply"));  // a bare name is a variable
  ASSERT_NE(nullptr, client.Get("ResponseHeader"));
  const std::string header = client.Get("ResponseHeader");
  EXPECT_THAT(header, StartsWith("HTTP/1.1 200 OK\r\n"));
  EXPECT_THAT(header, HasSubstr("\r\nX-Reply: yes\r\n"));
  EXPECT_THAT(header, testing::EndsWith("\r\n\r\n"));
  EXPECT_EQ(header, client.GetHeader(nullptr));
}

TEST_F(NetClientTest, BasicChallengeIsAnsweredOnTheSamePathAndBounded) {
  const std::string challenge = "WWW-Authenticate: Basic realm=\"r\"\r\n";
  struct Case {
    const char* name;
    const char* user;
    bool server_gives_in;  // the server accepts the first answer
    size_t requests;
    const char* status;
  } cases[] = {
      {"answered", "user", true, 2, "200"},
      {"no user", nullptr, true, 1, "401"},
      {"server never satisfied", "user", false, 4, "401"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server([&](int index, const Request&) {
      return index > 0 && c.server_gives_in ? Ok() : Response("401 Unauthorized", challenge);
    });
    NetClient client(c.user, "pass");
    sockettest::LogCapture log;
    const std::string url = "127.0.0.1:" + std::to_string(server.Port()) + "/dir/x";
    EXPECT_GE(client.SendRequest("GET", url.c_str()), 0);
    EXPECT_EQ(c.status, Status(client));
    const auto requests = server.Requests();
    ASSERT_EQ(c.requests, requests.size());
    EXPECT_EQ("<none>", requests[0].Field("Authorization"));
    for (size_t i = 1; i < requests.size(); ++i) {
      EXPECT_EQ("GET /dir/x HTTP/1.0", requests[i].Line());
      EXPECT_EQ("Basic " + Base64("user:pass"), requests[i].Field("Authorization"));
    }
    if (c.user == nullptr) {
      EXPECT_THAT(log.Text(), HasSubstr("Auth required but no credential"));
    }
  }
}

TEST_F(NetClientTest, DigestChallengeKeepsBlanksAndCommasOfQuotedRealm) {
  ScriptedServer server([](int index, const Request&) {
    return index == 0 ? Response("401 Unauthorized",
                                 "WWW-Authenticate: Digest realm=\"Area 51, east\", "
                                 "nonce=\"n0nce\", qop=\"auth\", algorithm=MD5\r\n")
                      : Ok();
  });
  NetClient client("user", "pass");
  EXPECT_GE(client.SendRequest("GET", server.Url("/p").c_str()), 0);
  ASSERT_EQ(2u, server.Count());
  EXPECT_THAT(server.Requests()[1].Field("Authorization"),
              StartsWith("Digest username=\"user\", realm=\"Area 51, east\", nonce=\"n0nce\", "
                         "uri=\"/p\", response=\""));
}

TEST_F(NetClientTest, RedirectTargetsResolveAgainstTheCurrentUrl) {
  struct Case {
    std::string location;
    std::string path;  // of the second request, on the same server and port
  } cases[] = {{"/new", "/new"},
               {"../up", "/up"},
               {"./here", "/here"},
               {"sib", "/a/sib"},
               {"ABSOLUTE", "/abs?q=1"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    std::string location = c.location;
    ScriptedServer server([&](int index, const Request&) {
      return index == 0 ? Response("302 Found", "Location: " + location + "\r\n") : Ok();
    });
    if (location == "ABSOLUTE") location = server.Url("/abs?q=1");
    NetClient client;
    client.AddHeader("Content-Type", "text/plain");
    client.Write("payload");
    EXPECT_EQ(4, client.SendRequest("POST", server.Url("/a/b").c_str()));
    const auto requests = server.Requests();
    ASSERT_EQ(2u, requests.size());
    EXPECT_EQ("POST /a/b HTTP/1.0", requests[0].Line());
    EXPECT_EQ("payload", requests[0].body);
    EXPECT_EQ("GET " + c.path + " HTTP/1.0", requests[1].Line());
    EXPECT_EQ("", requests[1].body);
    EXPECT_EQ("<none>", requests[1].Field("Content-Type"));
    EXPECT_STREQ(server.Url(c.path).c_str(), client.GetRedirectURL());
    EXPECT_EQ("done", Content(client));
  }
}

TEST_F(NetClientTest, CredentialsStayWithTheirServerAcrossRedirects) {
  ScriptedServer other([](int, const Request&) {
    return Response("401 Unauthorized", "WWW-Authenticate: Basic realm=\"other\"\r\n");
  });
  ScriptedServer origin([&](int index, const Request&) {
    switch (index) {
      case 0:
        return Response("401 Unauthorized", "WWW-Authenticate: Basic realm=\"r\"\r\n");
      case 1:
        return Response("302 Found",
                        "Location: /same\r\nSet-Cookie: track=1; path=/\r\n"
                        "Set-Cookie: SessionId=s1; path=/\r\n");
      default:
        return Response("302 Found", "Location: " + other.Url("/there") + "\r\n");
    }
  });
  NetClient client("user", "pass");
  EXPECT_GE(client.SendRequest("GET", origin.Url("/start").c_str()), 0);
  const auto at_origin = origin.Requests();
  ASSERT_EQ(3u, at_origin.size());
  const std::string basic = "Basic " + Base64("user:pass");
  EXPECT_EQ(basic, at_origin[1].Field("Authorization"));
  EXPECT_EQ("GET /same HTTP/1.0", at_origin[2].Line());
  EXPECT_EQ(basic, at_origin[2].Field("Authorization"));  // same server: kept
  EXPECT_THAT(at_origin[2].header, HasSubstr("track=1"));

  // The other port gets neither the password, nor the cookies, and its own
  // challenge is not answered with the user's credentials.
  const auto at_other = other.Requests();
  ASSERT_EQ(1u, at_other.size());
  EXPECT_EQ("GET /there HTTP/1.0", at_other[0].Line());
  EXPECT_EQ("<none>", at_other[0].Field("Authorization"));
  EXPECT_EQ("<none>", at_other[0].Field("Cookie"));
  EXPECT_EQ("401", Status(client));

  // The session cookie still goes back to the server that set it.
  EXPECT_GE(client.SendRequest("GET", origin.Url("/again").c_str()), 0);
  EXPECT_THAT(origin.Requests().back().Field("Cookie"), HasSubstr("SessionId=s1"));
}

TEST_F(NetClientTest, RedirectChainStopsAtFiveRequestsAnd304IsNotFollowed) {
  struct Case {
    const char* status;
    size_t requests;
  } cases[] = {{"302 Found", 5}, {"301 Moved Permanently", 5}, {"304 Not Modified", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    ScriptedServer server([&](int index, const Request&) {
      return Response(c.status, "Location: /hop" + std::to_string(index) + "\r\n");
    });
    NetClient client;
    EXPECT_GE(client.SendRequest("GET", server.Url("/").c_str()), 0);
    EXPECT_EQ(c.requests, server.Count());
    EXPECT_EQ(std::string(c.status).substr(0, 3), Status(client));
  }
}

TEST_F(NetClientTest, SessionIdCookieGoesToLaterRequestsButNotToRetrieveFile) {
  ScriptedServer server([](int index, const Request&) {
    return index == 0 ? Response("200 OK", "Set-Cookie: SessionId=abc; path=/\r\n", "first")
                      : Ok("body" + std::to_string(index));
  });
  NetClient client;
  EXPECT_EQ(5, client.SendRequest("GET", server.Url("/1").c_str()));
  EXPECT_EQ(5, client.SendRequest("GET", server.Url("/2").c_str()));
  client.SetCookie("pref", "1");
  EXPECT_EQ(5, client.SendRequest("GET", server.Url("/3").c_str()));
  const char* body = client.RetrieveFile("GET", server.Url("/4").c_str());
  ASSERT_NE(nullptr, body);
  EXPECT_EQ("body3", std::string(body, static_cast<size_t>(client.GetContentLength())));

  const auto requests = server.Requests();
  ASSERT_EQ(4u, requests.size());
  EXPECT_EQ("<none>", requests[0].Field("Cookie"));
  EXPECT_EQ("SessionId=abc", requests[1].Field("Cookie"));
  // With cookies of its own the request still has one Cookie field.
  const std::string& both = requests[2].header;
  EXPECT_EQ(both.find("\r\nCookie:"), both.rfind("\r\nCookie:")) << both;
  EXPECT_THAT(requests[2].Field("Cookie"), HasSubstr("pref=1"));
  EXPECT_THAT(requests[2].Field("Cookie"), HasSubstr("SessionId=abc"));
  // RetrieveFile forgets the session first; the request's own cookie stays.
  EXPECT_EQ("pref=1", requests[3].Field("Cookie"));
}

TEST_F(NetClientTest, ReceiveTimeoutsComeFromPropertiesUnlessSetTimeoutWins) {
  struct Case {
    const char* name;
    const char* key;
    unsigned long set_timeout;
    bool answered;
  } cases[] = {
      {"Timeout", "Timeout", 0, false},
      {"RecieveTimeout", "RecieveTimeout", 0, false},
      {"SetTimeout wins", "Timeout", 5000, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedServer server([](int, const Request&) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1200));
      return Ok();
    });
    NetClient client;
    client.SetProperty(c.key, "200");
    client.SetTimeout(c.set_timeout);
    const auto start = std::chrono::steady_clock::now();
    const int result = client.SendRequest("GET", server.Url("/slow").c_str());
    const auto took = std::chrono::steady_clock::now() - start;
    if (c.answered) {
      EXPECT_EQ(4, result);
    } else {
      EXPECT_LT(result, 0);
      EXPECT_LT(took, std::chrono::milliseconds(1000));
    }
  }
}

TEST_F(NetClientTest, SendTimeoutEndsAWriteThePeerNeverReads) {
  auto listener = sockettest::MakeListener();  // never accepts or reads
  NetClient client;
  client.SetProperty("SendTimeout", "200");
  const std::string big(32 << 20, 'x');
  client.Write(big.data(), static_cast<int>(big.size()));
  const auto start = std::chrono::steady_clock::now();
  const std::string url = "http://127.0.0.1:" + std::to_string(listener->GetLocalPort()) + "/";
  EXPECT_LT(client.SendRequest("POST", url.c_str()), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

TEST_F(NetClientTest, RefusedConnectionIsLoggedAndNegative) {
  sockettest::RefusingPort refusing;
  sockettest::LogCapture log;
  NetClient client;
  const std::string url = "http://127.0.0.1:" + std::to_string(refusing.port) + "/";
  EXPECT_LT(client.SendRequest("GET", url.c_str()), 0);
  EXPECT_EQ(nullptr, client.RetrieveFile("GET", url.c_str()));
  EXPECT_THAT(log.Text(), HasSubstr("NetClient::Send - Error connecting to server 127.0.0.1:" +
                                    std::to_string(refusing.port)));
}

TEST_F(NetClientTest, ProxyGetsAbsoluteUrlsAndTunnelsTlsOnAnyPort) {
  ScriptedServer proxy([](int, const Request& request) {
    return request.Line().rfind("CONNECT", 0) == 0 ? std::string("HTTP/1.0 403 Forbidden\r\n\r\n")
                                                   : Ok("via proxy");
  });
  const std::string proxy_credentials = "Basic " + Base64("pu:pp");
  NetClient client;
  // The port argument wins over the one written after the host.
  client.SetProxy("127.0.0.1:1", proxy.Port(), "pu", "pp");
  EXPECT_EQ(9, client.SendRequest("GET", "http://origin.invalid:8080/p?x=1"));
  EXPECT_EQ("via proxy", Content(client));
  client.SetProxy(("127.0.0.1:" + std::to_string(proxy.Port())).c_str(), 0, nullptr, nullptr);
  EXPECT_EQ(9, client.SendRequest("GET", "origin.invalid/q"));
  EXPECT_LT(client.SendRequest("GET", "https://origin.invalid:8443/s"), 0);

  const auto requests = proxy.Requests();
  ASSERT_EQ(3u, requests.size());
  EXPECT_EQ("GET http://origin.invalid:8080/p?x=1 HTTP/1.0", requests[0].Line());
  EXPECT_EQ("origin.invalid:8080", requests[0].Field("Host"));
  EXPECT_EQ(proxy_credentials, requests[0].Field("Proxy-Authorization"));
  EXPECT_EQ("GET http://origin.invalid/q HTTP/1.0", requests[1].Line());
  EXPECT_EQ("CONNECT origin.invalid:8443 HTTP/1.0", requests[2].Line());
  EXPECT_EQ(proxy_credentials, requests[2].Field("Proxy-Authorization"));

  // Clear drops the proxy with everything else.
  client.Clear();
  ScriptedServer direct([](int, const Request&) { return Ok(); });
  EXPECT_EQ(4, client.SendRequest("GET", direct.Url("/d").c_str()));
  ASSERT_EQ(1u, direct.Count());
  EXPECT_EQ("GET /d HTTP/1.0", direct.Requests()[0].Line());
  EXPECT_EQ(3u, proxy.Count());
}

TEST_F(NetClientTest, RequestIsRebuiltAfterClear) {
  ScriptedServer server([](int, const Request&) { return Ok(); });
  NetClient client;
  client.AddHeader("X-Old", "1");
  client.Clear();
  EXPECT_EQ(nullptr, client.GetRequestHeader("X-Old"));
  EXPECT_EQ(nullptr, client.GetContent());
  EXPECT_EQ(nullptr, client.Get("header|HTTPStatus"));
  EXPECT_EQ(0, client.GetContentLength());
  client.AddHeader("X-New", "2");
  EXPECT_STREQ("2", client.GetRequestHeader("X-New"));
  EXPECT_EQ(4, client.SendRequest("GET", server.Url("/").c_str()));
  ASSERT_EQ(1u, server.Count());
  EXPECT_EQ("2", server.Requests()[0].Field("X-New"));
  EXPECT_EQ("<none>", server.Requests()[0].Field("X-Old"));
  // The exchange empties the request again.
  EXPECT_EQ(nullptr, client.GetRequestHeader("X-New"));
}

TEST_F(NetClientTest, AttachmentTravelsAsMimeAndComesBackAsParts) {
  const std::string file =
      ::testing::TempDir() + "netclient-attach-" + std::to_string(::getpid()) + ".txt";
  std::ofstream(file) << "attached bytes";
  // The server echoes the request body with its content type.
  ScriptedServer server([](int, const Request& request) {
    return Response("200 OK", "Content-Type: " + request.Field("Content-Type") + "\r\n",
                    request.body);
  });
  NetClient client;
  client.Write("<envelope/>");
  ASSERT_TRUE(client.AddAttachment(file.c_str(), "part1", "text/plain", nullptr));
  EXPECT_GT(client.SendRequest("POST", server.Url("/m").c_str()), 0);
  ::unlink(file.c_str());
  ASSERT_EQ(1u, server.Count());
  const Request request = server.Requests()[0];
  EXPECT_THAT(Request::Lower(request.Field("Content-Type")), StartsWith("multipart/related"));
  EXPECT_THAT(request.body, HasSubstr("attached bytes"));

  EXPECT_STREQ("<envelope/>", client.Get("mime|0"));
  unsigned long length = 0;
  const unsigned char* attachment = client.GetAttachment("part1", length);
  ASSERT_NE(nullptr, attachment);
  EXPECT_EQ("attached bytes", std::string(reinterpret_cast<const char*>(attachment), length));
}

TEST_F(NetClientTest, DownloadFileWritesTheBody) {
  ScriptedServer server([](int, const Request&) { return Ok("file body"); });
  const std::string path =
      ::testing::TempDir() + "netclient-download-" + std::to_string(::getpid());
  NetClient client;
  EXPECT_EQ(9, client.DownloadFile(server.Url("/f").c_str(), path.c_str()));
  std::ifstream written(path);
  EXPECT_EQ("file body", std::string(std::istreambuf_iterator<char>(written), {}));
  ::unlink(path.c_str());
  EXPECT_EQ(-1, client.DownloadFile(server.Url("/f").c_str(), "/nonexistent-dir/x"));
}

}  // namespace
