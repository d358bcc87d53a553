// Tests of the text helpers: tokens, search with escapes, trimming, hex and URL decoding, paths.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/TextFunctions.h"

namespace {

// Every token GetToken yields from text, until it returns null.
std::vector<std::string> AllTokens(const char* text, const char* delimiters) {
  std::vector<std::string> tokens;
  std::vector<char> out(std::strlen(text) + 1);
  const char* p = text;
  while (p != nullptr) {
    p = GetToken(p, out.data(), delimiters);
    tokens.emplace_back(out.data());
    if (tokens.size() > 100) break;  // guards the test against a position that never moves
  }
  return tokens;
}

TEST(TextFunctionsTest, GetTokenSplitsProtocolLines) {
  struct Case {
    const char* text;
    const char* delimiters;
    std::vector<std::string> tokens;
  };
  const Case cases[] = {
      {"a=b; c=\"x y\"", ";", {"a=b", "c=", "x y"}},
      {"  one two  three ", "", {"one", "two", "three"}},
      {"'single' \"double\"", nullptr, {"single", "double"}},
      {"\"mixed' rest", " ", {"mixed", "rest"}},
      {"\"unterminated", ";", {"unterminated"}},
      {"k=v;;;w", ";", {"k=v", "w"}},
      {"ab\"cd\"", "", {"ab", "cd"}},
      {"a\r\nb", "", {"a", "", "b"}},
      {"a \n\n b", "", {"a", "", "b"}},
      {"word\r\n", " ", {"word", ""}},
      {"\xC3\xA9t\xC3\xA9 x", "", {"\xC3\xA9t\xC3\xA9", "x"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AllTokens(c.text, c.delimiters), c.tokens) << c.text;
  }
}

TEST(TextFunctionsTest, GetTokenReturnValues) {
  char out[32] = "unchanged";
  EXPECT_EQ(GetToken(nullptr, out, ";"), nullptr);
  EXPECT_STREQ(out, "unchanged");

  EXPECT_EQ(GetToken("    ", out, ";"), nullptr);
  EXPECT_STREQ(out, "");

  const char* line = "1 234";
  const char* rest = GetToken(line, out, " ");
  EXPECT_STREQ(out, "1");
  EXPECT_EQ(rest, line + 2);
  EXPECT_EQ(GetToken(rest, out, " "), nullptr);
  EXPECT_STREQ(out, "234");

  // A null out skips the token.
  EXPECT_EQ(GetToken(line, nullptr, " "), line + 2);
}

TEST(TextFunctionsTest, SplitTokenCharacterForm) {
  char out[64];
  const char* line = "  GET /a HTTP/1.0";
  const char* rest = SplitToken(line, out, " ", true);
  EXPECT_STREQ(out, "GET");
  EXPECT_STREQ(rest, "/a HTTP/1.0");

  const char* name = "\tName = value";
  rest = SplitToken(name, out, " =:", false);
  EXPECT_STREQ(out, "Name");
  EXPECT_STREQ(rest, " = value");

  rest = SplitToken("a;b", out, ";", false);
  EXPECT_STREQ(rest, ";b");
  rest = SplitToken("last", out, "; ", true);
  EXPECT_STREQ(out, "last");
  ASSERT_NE(rest, nullptr);
  EXPECT_EQ(*rest, '\0');

  std::strcpy(out, "stale");
  EXPECT_EQ(SplitToken("", out, ";", true), nullptr);
  EXPECT_STREQ(out, "");
  std::strcpy(out, "stale");
  EXPECT_EQ(SplitToken(nullptr, out, ";", true), nullptr);
  EXPECT_STREQ(out, "");
  EXPECT_NE(SplitToken("x", nullptr, ";", true), nullptr);
}

TEST(TextFunctionsTest, SplitTokenStringFormWalksAList) {
  std::vector<std::string> fields;
  std::string field;
  for (const char* p = "a.txt& b.txt|c.txt;;d.txt"; p != nullptr && *p != '\0';) {
    p = SplitToken(p, field, "&|;", true);
    fields.push_back(field);
  }
  EXPECT_EQ(fields, (std::vector<std::string>{"a.txt", "b.txt", "c.txt", "d.txt"}));

  std::string kept = "kept";
  EXPECT_EQ(SplitToken("", kept, ":", true), nullptr);
  EXPECT_EQ(SplitToken(nullptr, kept, ":", true), nullptr);
  EXPECT_EQ(kept, "kept");
  EXPECT_STREQ(SplitToken("AES:key:iv", kept, ":", true), "key:iv");
  EXPECT_EQ(kept, "AES");
}

TEST(TextFunctionsTest, FindTextHonoursCaseAndEscapes) {
  char text[] = "Header\r\n\r\nbody";
  EXPECT_EQ(FindText(text, "\r\n\r\n", true), text + 6);

  char mixed[] = "see W3.ORG here";
  EXPECT_EQ(FindText(mixed, "w3.org", false), mixed + 4);
  EXPECT_EQ(FindText(mixed, "w3.org", true), nullptr);

  char escaped[] = "a\\xb";
  EXPECT_EQ(FindText(escaped, "x", true), nullptr);
  EXPECT_STREQ(escaped, "a xb");

  char twice[] = "\\x then x";
  EXPECT_EQ(FindText(twice, "x", true), twice + 8);
  EXPECT_STREQ(twice, " x then x");

  char first[] = "xyz";
  EXPECT_EQ(FindText(first, "xyz", true), first);
  EXPECT_EQ(FindText(first, "xyzw", true), nullptr);
  EXPECT_EQ(FindText(nullptr, "x", true), nullptr);
  EXPECT_EQ(FindText(first, nullptr, true), nullptr);
}

TEST(TextFunctionsTest, TrimRightRemovesListedCharacters) {
  char line[] = "HTTP/1.1 \r\n \n";
  EXPECT_EQ(TrimRight(line, "\r\n "), line);
  EXPECT_STREQ(line, "HTTP/1.1");

  char all[] = "   ";
  EXPECT_STREQ(TrimRight(all, " "), "");
  char none[] = "abc ";
  EXPECT_STREQ(TrimRight(none, nullptr), "abc ");
  EXPECT_STREQ(TrimRight(none, "c"), "abc ");
  EXPECT_EQ(TrimRight(nullptr, " "), nullptr);
}

TEST(TextFunctionsTest, HexToIntReadsLeadingDigits) {
  struct Case {
    const char* text;
    int value;
  };
  const Case cases[] = {
      {"1aF;ext", 431},
      {"0", 0},
      {"", 0},
      {"xyz", 0},
      {"FF\r\n", 255},
      {"7fffffff", INT_MAX},
      {"80000000", INT_MAX},
      {"ffffffffffffffffffff", INT_MAX},
      {"100000000", INT_MAX},
      {"00000000000000000010", 16},
  };
  for (const Case& c : cases) EXPECT_EQ(HexToInt(c.text), c.value) << c.text;
  EXPECT_EQ(HexToInt(nullptr), 0);
}

TEST(TextFunctionsTest, URLUnescapeDecodesEscapes) {
  struct Case {
    const char* text;
    std::string decoded;
  };
  const Case cases[] = {
      {"a+b%20c", "a b c"},      {"%41%62", "Ab"}, {"a%2", "a"},       {"a%", "a"},
      {"%4g-rest", "\x04-rest"}, {"%2F%2f", "//"}, {"plain", "plain"}, {"", ""},
      {"%zzafter", ""},  // a NUL byte ends the text
  };
  for (const Case& c : cases) {
    std::unique_ptr<char[]> decoded(URLUnescape(c.text));
    ASSERT_NE(decoded, nullptr);
    EXPECT_EQ(std::string(decoded.get()), c.decoded) << c.text;
  }
  EXPECT_EQ(URLUnescape(nullptr), nullptr);
}

TEST(TextFunctionsTest, IsIPAddressAcceptsDigitsAndDots) {
  EXPECT_TRUE(IsIPAddress("192.168.0.1"));
  EXPECT_TRUE(IsIPAddress("999.1"));
  EXPECT_TRUE(IsIPAddress("."));
  EXPECT_FALSE(IsIPAddress("example.com"));
  EXPECT_FALSE(IsIPAddress("10.0.0.1 "));
  EXPECT_FALSE(IsIPAddress("::1"));
  EXPECT_FALSE(IsIPAddress(""));
  EXPECT_FALSE(IsIPAddress(nullptr));
}

TEST(TextFunctionsTest, PathParts) {
  struct Case {
    const char* path;
    std::string directory;
    std::string fileName;
  };
  const Case cases[] = {
      {"C:\\dir\\f.txt", "C:\\dir", "f.txt"},
      {"/app/x.asp", "/app", "x.asp"},
      {"/f", "/", "f"},
      {"\\f", "\\", "f"},
      {"f.txt", "", "f.txt"},
      {"a/b\\c", "a/b", "c"},
      {"dir/", "dir", ""},
      {"", "", ""},
  };
  for (const Case& c : cases) {
    std::string out = "<";
    EXPECT_EQ(std::string(GetPathDirectory(out, c.path)), "<" + c.directory) << c.path;
    EXPECT_EQ(std::string(GetPathFileName(c.path)), c.fileName) << c.path;
  }
  std::string out = "kept";
  EXPECT_STREQ(GetPathDirectory(out, nullptr), "kept");
  EXPECT_EQ(GetPathFileName(nullptr), nullptr);
}

}  // namespace
