// Tests of RegexMatch and RegexReplace as the relay uses them to route paths.
#include <gtest/gtest.h>

#include <string>

#include "common/RegexFunctions.h"

namespace {

TEST(RegexFunctionsTest, MatchIsCaseInsensitiveAndUnanchored) {
  struct Case {
    const char* text;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"/Service/Orders?id=1", "^/service/", true},
      {"/service/orders", "ORDERS$", true},
      {"/service/orders\n", "orders$", false},  // "$" only at the very end
      {"/other/path", "^/service/", false},
      {"/a/b", "b", true},
      {"", "^$", true},
      {"abc", "", true},
      {"caf\xC3\xA9", "caf\xC3\xA9", true},
  };
  for (const Case& c : cases) EXPECT_EQ(RegexMatch(c.text, c.pattern), c.match) << c.pattern;
}

TEST(RegexFunctionsTest, ReplaceRewritesEveryMatch) {
  struct Case {
    const char* text;
    const char* pattern;
    const char* replacement;
    const char* result;
  };
  const Case cases[] = {
      {"/app/x.asp?q=1", "^/app/(.*)$", "http://backend:8080/$1", "http://backend:8080/x.asp?q=1"},
      {"a-b-c", "-", "+", "a+b+c"},
      {"Hello hello", "HELLO", "bye", "bye bye"},
      {"2026-12-11", "(\\d+)-(\\d+)-(\\d+)", "$3.$2.$1", "11.12.2026"},
      {"abc", "b", "[$&|$`|$'|$$]", "a[b|a|c|$]c"},
      {"abc", "b", "$9$x$", "a$9$x$c"},  // no such group: kept as written
      {"abc", "(b)", "$10", "ab0c"},     // one group: "$1" then "0"
      {"abc", "x*", "-", "-a-b-c-"},     // empty matches between characters
      {"ab", "(x)?b", "[$1]", "a[]"},    // a group that took no part is empty
      {"nothing here", "zzz", "y", "nothing here"},
      {"abc", "b", nullptr, "ac"},
  };
  for (const Case& c : cases) {
    std::string out = "previous";
    EXPECT_STREQ(RegexReplace(c.text, c.pattern, c.replacement, out), c.result) << c.pattern;
    EXPECT_EQ(out, c.result);
  }
}

TEST(RegexFunctionsTest, InvalidPatternsFailWithoutThrowing) {
  EXPECT_FALSE(RegexMatch("abc", "(unclosed"));
  EXPECT_FALSE(RegexMatch("abc", "[z-a]"));
  std::string out = "unchanged";
  EXPECT_STREQ(RegexReplace("abc", "(unclosed", "x", out), "unchanged");
  EXPECT_STREQ(RegexReplace(nullptr, "a", "x", out), "unchanged");
  EXPECT_STREQ(RegexReplace("abc", nullptr, "x", out), "unchanged");
  EXPECT_FALSE(RegexMatch(nullptr, "a"));
  EXPECT_FALSE(RegexMatch("a", nullptr));
}

}  // namespace
