// Tests of URL parsing and composing.
#include "wirelane/http/URL.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Text(const char* text) { return text != nullptr ? text : "<null>"; }

struct ParseCase {
  const char* input;
  const char* method;
  const char* protocol;
  const char* host;
  int port;
  const char* file;
  const char* param;
  const char* version;
  const char* action;
  const char* anchor;
};

class URLParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(URLParseTest, SplitsIntoParts) {
  const ParseCase& c = GetParam();
  URL url;
  ASSERT_EQ(0, url.Parse(c.input));
  EXPECT_EQ(Text(c.method), Text(url.GetMethod()));
  EXPECT_EQ(Text(c.protocol), Text(url.GetProtocol()));
  EXPECT_EQ(Text(c.host), Text(url.GetHost()));
  EXPECT_EQ(c.port, url.GetPort());
  EXPECT_EQ(Text(c.file), Text(url.GetFile()));
  EXPECT_EQ(Text(c.param), Text(url.GetParam()));
  EXPECT_EQ(Text(c.version), Text(url.GetVersion()));
  EXPECT_EQ(Text(c.action), Text(url.GetAction()));
  EXPECT_EQ(Text(c.anchor), Text(url.GetAnchor()));
}

INSTANTIATE_TEST_SUITE_P(
    Lines, URLParseTest,
    testing::Values(
        ParseCase{"http://host/dir/page.asp?a=1&b=x+y", nullptr, "http", "host", 80, "/dir/page.asp",
                  "a=1&b=x+y", nullptr, "dir", nullptr},
        ParseCase{"GET /app/script.dll/extra?x=%41 HTTP/1.1\r\n", "GET", nullptr, nullptr, 0,
                  "/app/script.dll/extra", "x=%41", "HTTP/1.1", "app", nullptr},
        ParseCase{"https://h", nullptr, "https", "h", 443, "/", nullptr, nullptr, nullptr, nullptr},
        ParseCase{"ftp://files:2121/pub", nullptr, "ftp", "files", 2121, "/pub", nullptr, nullptr,
                  "pub", nullptr},
        ParseCase{"HTTPS://Host:8443", nullptr, "HTTPS", "Host", 8443, "/", nullptr, nullptr,
                  nullptr, nullptr},
        ParseCase{"gopher://g/x", nullptr, "gopher", "g", 0, "/x", nullptr, nullptr, "x", nullptr},
        ParseCase{"HEAD /x HTTP/1.1", nullptr, nullptr, nullptr, 0, "/", nullptr, "HTTP/1.1",
                  nullptr, nullptr},
        ParseCase{"OPTIONS * HTTP/1.1", "OPTION", nullptr, nullptr, 0, "/", nullptr, "HTTP/1.1",
                  nullptr, nullptr},
        // The first segment runs to "/", "?" or a blank; only the path drops the fragment.
        ParseCase{"GET /a#top?q=1 HTTP/1.1", "GET", nullptr, nullptr, 0, "/a", "q=1", "HTTP/1.1",
                  "a#top", "top"},
        ParseCase{"post http://h:81/a/b HTTP/1.0", "POST", "http", "h", 81, "/a/b", nullptr,
                  "HTTP/1.0", "a", nullptr},
        ParseCase{"GET /my file.txt HTTP/1.1", "GET", nullptr, nullptr, 0, "/my file.txt", nullptr,
                  "HTTP/1.1", "my", nullptr},
        // A path segment named "http" is part of the path, not the version.
        ParseCase{"GET /proxy/http/x HTTP/1.1", "GET", nullptr, nullptr, 0, "/proxy/http/x",
                  nullptr, "HTTP/1.1", "proxy", nullptr},
        ParseCase{"http://h?x=1", nullptr, "http", "h", 80, "/", "x=1", nullptr, nullptr, nullptr},
        ParseCase{"http://h:abc/", nullptr, "http", "h", 0, "/", nullptr, nullptr, "", nullptr}));

TEST(URLTest, RequestLineKeepsLineAndComposesItBack) {
  URL url("GET /app/script.dll/extra?x=%41 HTTP/1.1\r\n");
  EXPECT_STREQ("GET /app/script.dll/extra?x=%41", url.GetURL());
  EXPECT_STREQ("A", url.GetParamValue("x"));
  EXPECT_STREQ("/extra", url.GetPathInfo());
  EXPECT_STREQ("GET /app/script.dll/extra?x=%41 HTTP/1.1\r\n", url.ToString());
}

TEST(URLTest, StatusLineKeepsOnlyTheStatus) {
  URL url("HTTP/1.0 404 Not Found");
  EXPECT_STREQ("404", url.GetParamValue("HTTPStatus"));
  EXPECT_EQ(nullptr, url.GetMethod());
  EXPECT_EQ(nullptr, url.GetVersion());
  EXPECT_STREQ("", url.GetFile());
}

TEST(URLTest, QueryFieldsAreDecodedAndSelectable) {
  URL url("http://host/p?a=1&b=x+y&a=2");
  EXPECT_STREQ("1", url.GetParamValue("A"));
  EXPECT_STREQ("2", url.GetParamValue("a[1]"));
  EXPECT_STREQ("x y", url.GetParamValue("b"));
  EXPECT_EQ(nullptr, url.GetParamValue("c"));
}

TEST(URLTest, NullOrEmptyInputLeavesUrlUnchanged) {
  URL url("http://keep/me");
  EXPECT_EQ(-1, url.Parse(nullptr));
  EXPECT_EQ(-1, url.Parse(""));
  EXPECT_STREQ("keep", url.GetHost());
}

TEST(URLTest, ReparsingClearsEarlierParts) {
  URL url("GET http://a:81/x?y=1 HTTP/1.1");
  url.Parse("/other");
  EXPECT_EQ(nullptr, url.GetHost());
  EXPECT_EQ(nullptr, url.GetMethod());
  EXPECT_EQ(nullptr, url.GetParamValue("y"));
  EXPECT_EQ(0, url.GetPort());
  EXPECT_STREQ("/other", url.GetFile());
}

TEST(URLTest, ComposersWriteSchemeHostAndPort) {
  URL url("GET http://h:81/app/x.asp?q=1 HTTP/1.1");
  EXPECT_STREQ("http://h:81", url.GetProtocolHost());
  EXPECT_STREQ("http://h:81/app/x.asp", url.GetBaseURL());
  EXPECT_STREQ("GET http://h:81/app", url.GetBase());
  EXPECT_STREQ("/app/x.asp?q=1", url.GetFileAndParam());
  EXPECT_STREQ("GET http://h:81/app/x.asp?q=1 HTTP/1.1\r\n", url.ToString());

  URL plain("http://host/dir/page.asp");
  EXPECT_STREQ("http://host:80", plain.GetProtocolHost());
  // Without a method the path is left out and the version defaults for http.
  EXPECT_STREQ("http://host:80HTTP/1.1\r\n", plain.ToString());
}

TEST(URLTest, PathViews) {
  struct Case {
    const char* path;
    const char* directory;
    const char* name;
    const char* extension;
    const char* path_info;
  } cases[] = {
      {"/app/page.asp", "/app", "page.asp", "asp", nullptr},
      {"/page.asp", "", "page.asp", "asp", nullptr},
      {"/app", "/app", "app", nullptr, nullptr},
      {"/app/", "/app", "", nullptr, nullptr},
      {"/r1.2/page", "/r1.2", "page", "2/page", nullptr},
      {"//app//x.dll/extra/more", "//app//x.dll/extra", "more", "dll/extra/more", "/extra/more"},
      {"noslash", nullptr, "noslash", nullptr, nullptr},
      {"", nullptr, nullptr, nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    URL url;
    url.SetFile(c.path);
    EXPECT_EQ(Text(c.directory), Text(url.GetDirectory()));
    EXPECT_EQ(Text(c.name), Text(url.GetFileName()));
    EXPECT_EQ(Text(c.extension), Text(url.GetFileExtension()));
    EXPECT_EQ(Text(c.path_info), Text(url.GetPathInfo()));
  }
}

TEST(URLTest, DirectorySetters) {
  URL url;
  url.SetFile("/old/page.htm");
  EXPECT_TRUE(url.SetDirectory("/new"));
  EXPECT_STREQ("/new/page.htm", url.GetFile());
  EXPECT_FALSE(url.SetDirectory(nullptr));

  url.SetFile("/old/page.htm");
  EXPECT_TRUE(url.SubstituteDirectory("/old/", "/new/"));
  EXPECT_STREQ("/new/page.htm", url.GetFile());
  EXPECT_FALSE(url.SubstituteDirectory("/missing/", "/x/"));
  EXPECT_FALSE(url.SubstituteDirectory("", "/x/"));

  url.SetFile("/a/b/c.htm");
  EXPECT_TRUE(url.SubstituteDirectory("/a", "/z/"));
  EXPECT_STREQ("/z/b/c.htm", url.GetFile());

  url.SetFile("/dir/old.htm");
  url.SetFileName("new.htm");
  EXPECT_STREQ("/dir/new.htm", url.GetFile());
}

TEST(URLTest, CopyLeavesOutLineAndFragment) {
  URL url("GET /a#frag?k=v HTTP/1.1");
  URL copy(url);
  EXPECT_EQ(nullptr, copy.GetURL());
  EXPECT_EQ(nullptr, copy.GetAnchor());
  EXPECT_STREQ("/a", copy.GetFile());
  EXPECT_STREQ("v", copy.GetParamValue("k"));
  url.Parse("http://other/");
  EXPECT_STREQ("v", copy.GetParamValue("k"));  // the copy owns its own map

  URL assigned;
  assigned = copy;
  EXPECT_STREQ("GET", assigned.GetMethod());
}

TEST(URLTest, SettersBuildARequestLine) {
  URL url;
  url.SetMethod("PATCH");
  url.SetProtocol("https");
  url.SetHost("example.test");
  url.SetPort("8443abc");
  url.SetFile("/api");
  url.SetParam("x=1");
  url.SetVersion("HTTP/1.0");
  EXPECT_STREQ("PATCH https://example.test:8443/api?x=1 HTTP/1.0\r\n", url.ToString());
}

}  // namespace
