// Tests of Digest authentication: the RFC 2617 computation, the field text, a real server.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <map>
#include <regex>
#include <string>
#include <vector>

#include "sealvault/Digestor.h"
#include "sealvault/Encoder.h"
#include "wirelane/http/DigestAuth.h"
#include "wirelane/http/HTTPSock.h"
#include "wirelane/http/HttpPeerServers.h"
#include "wirelane/sockets/SocketTestSupport.h"
#include "wirelane/sockets/TlsTestSupport.h"

namespace {

// The parameters of a Digest field or challenge: name -> value, quotes
// removed (backslash escapes undone).
std::map<std::string, std::string> Parameters(const std::string& text) {
  std::map<std::string, std::string> out;
  static const std::regex kParameter(R"re(([A-Za-z-]+)=("((?:[^"\\]|\\.)*)"|[^,\s]*))re");
  for (auto it = std::sregex_iterator(text.begin(), text.end(), kParameter);
       it != std::sregex_iterator(); ++it) {
    const std::smatch& m = *it;
    std::string value = m[3].matched ? m[3].str() : m[2].str();
    value = std::regex_replace(value, std::regex(R"(\\(.))"), "$1");
    out[m[1].str()] = value;
  }
  return out;
}

// Base64 of a hexadecimal text's bytes, to compare with Digestor's output.
std::string HexToBase64(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  Encoder encoder("base64");
  int length = static_cast<int>(bytes.size());
  return encoder.Encode(reinterpret_cast<const unsigned char*>(bytes.data()), &length);
}

TEST(DigestAuthTest, ReproducesTheRfc2617WorkedExample) {
  // RFC 2617 section 3.5.
  DigestAuth auth("testrealm@host.com", nullptr);
  const char* nonce = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
  const std::string ha1 = DigestAuth::CalculateHA1(nonce, "Mufasa", auth, "", "testrealm@host.com",
                                                   "Circle Of Life", "0a4f113b");
  EXPECT_EQ(32u, ha1.size());
  EXPECT_STREQ("6629fae49393a05397450978507c4ef1",
               DigestAuth::CalculateResponse(ha1.c_str(), nonce, auth, "0a4f113b", "GET",
                                             "/dir/index.html"));
}

TEST(DigestAuthTest, Md5SessHashesTheRawBytesOfTheFirstDigest) {
  DigestAuth auth("realm", "MD5-sess");
  const std::string plain =
      DigestAuth::CalculateHA1("n0nce", "user", auth, "MD5", "realm", "pw", "123");
  const std::string session =
      DigestAuth::CalculateHA1("n0nce", "user", auth, "MD5-sess", "realm", "pw", "123");

  // Independent MD5 of raw(plain) ":" nonce ":" cnonce.
  std::string input;
  for (size_t i = 0; i < plain.size(); i += 2)
    input += static_cast<char>(std::stoi(plain.substr(i, 2), nullptr, 16));
  input += ":n0nce:123";
  Digestor md5("md5");
  int length = static_cast<int>(input.size());
  const std::string expected =
      md5.GetDigest(reinterpret_cast<const unsigned char*>(input.data()), &length, nullptr);
  EXPECT_EQ(expected, HexToBase64(session));

  // The hexadecimal text in its place would give another value.
  const std::string hexInput = plain + ":n0nce:123";
  length = static_cast<int>(hexInput.size());
  EXPECT_NE(
      md5.GetDigest(reinterpret_cast<const unsigned char*>(hexInput.data()), &length, nullptr),
      HexToBase64(session));
}

TEST(DigestAuthTest, MissingCredentialsGiveNoHeader) {
  struct Case {
    const char* method;
    const char* user;
    const char* password;
    const char* nonce;
  } cases[] = {
      {nullptr, "u", "p", "n"},   {"GET", nullptr, "p", "n"}, {"GET", "u", nullptr, "n"},
      {"GET", "u", "p", nullptr}, {"", "u", "p", "n"},        {"GET", "", "p", "n"},
      {"GET", "u", "", "n"},      {"GET", "u", "p", ""},
  };
  for (const Case& c : cases) {
    DigestAuth auth("r", nullptr);
    EXPECT_EQ(nullptr,
              DigestAuth::BuildDigestHeader(c.method, auth, c.user, c.password, c.nonce, "/x"));
  }
}

TEST(DigestAuthTest, HeaderIsWrittenTheRfcWayAndCarriesItsOwnResponse) {
  struct Case {
    const char* algorithm;
    const char* expectedToken;  // null: no algorithm parameter
  } cases[] = {{nullptr, nullptr}, {"MD5", "MD5"}, {"md5-sess", "md5-sess"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.algorithm != nullptr ? c.algorithm : "<none>");
    DigestAuth auth("the realm", c.algorithm);
    const char* text =
        DigestAuth::BuildDigestHeader("POST", auth, "bob", "secret", "abc123", "/p?q=1");
    ASSERT_NE(nullptr, text);
    const std::string header = text;
    EXPECT_EQ(0u, header.rfind("Digest username=\"bob\", realm=\"the realm\", nonce=\"abc123\", "
                               "uri=\"/p?q=1\", response=\"",
                               0))
        << header;
    EXPECT_NE(std::string::npos, header.find(", qop=auth, nc=00000001, cnonce=\"")) << header;
    auto parameters = Parameters(header);
    EXPECT_TRUE(std::regex_match(parameters["cnonce"], std::regex("[0-9]{15}")));
    if (c.expectedToken != nullptr) {
      EXPECT_NE(std::string::npos,
                header.find(std::string(", algorithm=") + c.expectedToken + ","));
    } else {
      EXPECT_EQ(0u, parameters.count("algorithm"));
    }

    // The response is the two steps over the field's own client nonce.
    DigestAuth check("the realm", c.algorithm);
    const std::string ha1 = DigestAuth::CalculateHA1(
        "abc123", "bob", check, c.algorithm, "the realm", "secret", parameters["cnonce"].c_str());
    EXPECT_EQ(parameters["response"],
              DigestAuth::CalculateResponse(ha1.c_str(), "abc123", check,
                                            parameters["cnonce"].c_str(), "POST", "/p?q=1"));
  }
}

TEST(DigestAuthTest, EveryHeaderHasAFreshClientNonce) {
  DigestAuth auth("r", nullptr);
  const std::string first =
      Parameters(DigestAuth::BuildDigestHeader("GET", auth, "u", "p", "n", "/"))["cnonce"];
  const std::string second =
      Parameters(DigestAuth::BuildDigestHeader("GET", auth, "u", "p", "n", "/"))["cnonce"];
  EXPECT_NE(first, second);
}

TEST(DigestAuthTest, QuotesAreEscapedAndLineBreaksRefused) {
  DigestAuth auth("r", nullptr);
  const char* text = DigestAuth::BuildDigestHeader("GET", auth, "a\"b\\c", "p", "n", "/");
  ASSERT_NE(nullptr, text);
  EXPECT_NE(std::string::npos, std::string(text).find("username=\"a\\\"b\\\\c\", realm"));
  EXPECT_EQ("a\"b\\c", Parameters(text)["username"]);

  sockettest::LogCapture log;
  EXPECT_EQ(nullptr, DigestAuth::BuildDigestHeader("GET", auth, "u\r\nX-Evil: 1", "p", "n", "/"));
  EXPECT_EQ(nullptr, DigestAuth::BuildDigestHeader("GET", auth, "u", "p", "n", "/\nx"));
  EXPECT_NE(std::string::npos, log.Text().find("line break"));
}

TEST(DigestAuthTest, ChallengeWithoutRealmUsesTheHostName) {
  char name[256] = {};
  ASSERT_EQ(0, ::gethostname(name, sizeof name - 1));
  const std::string expected = std::string(name).substr(0, 15);
  EXPECT_EQ(expected, DigestAuth(nullptr, nullptr).GetRealm());
  EXPECT_EQ(expected, DigestAuth("", nullptr).GetRealm());
  EXPECT_EQ("given", DigestAuth("given", "MD5").GetRealm());
}

using DigestServer = peertest::DigestApache;

struct Reply {
  std::string status;
  std::string challenge;
  std::string body;
};

// One GET of path on a plain HTTPSock, with an Authorization field when
// authorization is not empty.
Reply Get(int port, const std::string& path, const std::string& authorization) {
  HTTPSock socket(CSocket::kNoDescriptor, nullptr, -1, HTTPSock::Plain);
  socket.SetTimeOut(SO_RCVTIMEO, sockettest::kWaitLimitMs);
  socket.SetTimeOut(SO_SNDTIMEO, sockettest::kWaitLimitMs);
  Reply reply;
  if (socket.Connect("127.0.0.1", port) != 0) return reply;
  std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
  if (!authorization.empty()) request += "Authorization: " + authorization + "\r\n";
  request += "\r\n";
  socket.Write(request.data(), static_cast<unsigned>(request.size()));
  socket.GetConnection()->Flush();
  KVMapImp<StringMap> header;
  int size = 0;
  const char* body = socket.ReadHTTPMessage(&header, size);
  if (header.Get("HTTPStatus") != nullptr) reply.status = header.Get("HTTPStatus");
  if (header.Get("WWW-Authenticate") != nullptr) reply.challenge = header.Get("WWW-Authenticate");
  if (body != nullptr) reply.body.assign(body, static_cast<size_t>(size));
  return reply;
}

TEST(DigestAuthTest, RealServerAcceptsTheRfcFormAndRefusesTheOldOne) {
  if (!DigestServer::Installed())
    GTEST_SKIP() << "apache2 is not installed (scripts/setup-deps.sh installs it)";
  DigestServer server;
  ASSERT_TRUE(server.Ready());
  const std::string path = "/private/secret.txt";

  const Reply challenge = Get(server.Port(), path, "");
  ASSERT_EQ("401", challenge.status);
  ASSERT_EQ(0u, challenge.challenge.rfind("Digest ", 0)) << challenge.challenge;
  auto parameters = Parameters(challenge.challenge);
  ASSERT_EQ(server.Realm(), parameters["realm"]);
  ASSERT_FALSE(parameters["nonce"].empty());

  // The earlier text form, with the same computation: refused.
  DigestAuth old(parameters["realm"].c_str(), parameters["algorithm"].c_str());
  const char* clientNonce = "123456789012345";
  const std::string ha1 =
      DigestAuth::CalculateHA1(parameters["nonce"].c_str(), DigestServer::kUser, old, "md5",
                               parameters["realm"].c_str(), DigestServer::kPassword, clientNonce);
  const std::string response = DigestAuth::CalculateResponse(
      ha1.c_str(), parameters["nonce"].c_str(), old, clientNonce, "GET", path.c_str());
  char oldForm[1024];
  std::snprintf(oldForm, sizeof oldForm,
                "Digest username=\"%s\", realm=\"%s\", nonce=\"%s\", uri=\"%s\", "
                "response=\"%s\", algorithm=\"md5\", cnonce=%s,nc=\"%s\", qop=\"auth,auth-int\"",
                DigestServer::kUser, parameters["realm"].c_str(), parameters["nonce"].c_str(),
                path.c_str(), response.c_str(), clientNonce, "00000001");
  EXPECT_EQ("401", Get(server.Port(), path, oldForm).status);
  EXPECT_NE(std::string::npos, server.ErrorLog().find("invalid or missing qop value"))
      << server.ErrorLog();

  DigestAuth auth(parameters["realm"].c_str(), parameters["algorithm"].c_str());
  const char* field =
      DigestAuth::BuildDigestHeader("GET", auth, DigestServer::kUser, DigestServer::kPassword,
                                    parameters["nonce"].c_str(), path.c_str());
  ASSERT_NE(nullptr, field);
  const Reply granted = Get(server.Port(), path, field);
  EXPECT_EQ("200", granted.status) << field << "\n" << server.ErrorLog();
  EXPECT_EQ("the secret\n", granted.body);

  // A wrong password with the same form is refused, so the 200 above is earned.
  DigestAuth wrong(parameters["realm"].c_str(), parameters["algorithm"].c_str());
  EXPECT_EQ("401", Get(server.Port(), path,
                       DigestAuth::BuildDigestHeader("GET", wrong, DigestServer::kUser, "nope",
                                                     parameters["nonce"].c_str(), path.c_str()))
                       .status);
}

}  // namespace
