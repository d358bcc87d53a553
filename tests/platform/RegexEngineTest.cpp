// Tests of the PCRE2-backed regex engine: compile cache, empty matches and match failures.
#include <gtest/gtest.h>

#include <string>

#include "platform/RegexEngine.h"

namespace {

using corvane::platform::RegexEngine;

TEST(RegexEngineTest, CompiledPatternsAreReused) {
  std::string error;
  const auto first = RegexEngine::Compile("^/cache/(\\w+)", error);
  const auto second = RegexEngine::Compile("^/cache/(\\w+)", error);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first, second);
  EXPECT_NE(RegexEngine::Compile("^/cache/(\\d+)", error), first);
}

TEST(RegexEngineTest, InvalidPatternReportsWhy) {
  std::string error;
  EXPECT_EQ(RegexEngine::Compile("a(b", error), nullptr);
  EXPECT_NE(error.find("offset"), std::string::npos) << error;
}

TEST(RegexEngineTest, PatternsStayUsableWhenTheCacheIsFlushed) {
  std::string error;
  const auto kept = RegexEngine::Compile("kept-(\\d)", error);
  ASSERT_NE(kept, nullptr);
  for (int i = 0; i < 200; ++i)
    ASSERT_NE(RegexEngine::Compile("p" + std::to_string(i), error), nullptr);
  std::string out;
  ASSERT_TRUE(kept->Replace("kept-7", "<$1>", out, error));
  EXPECT_EQ(out, "<7>");
}

TEST(RegexEngineTest, ReplaceAppendsAndHandlesEmptyMatches) {
  struct Case {
    const char* pattern;
    const char* subject;
    const char* replacement;
    const char* result;
  };
  const Case cases[] = {
      {"", "ab", "-", "-a-b-"},       {"^", "ab", ">", ">ab"},        {"$", "ab", "<", "ab<"},
      {"a*", "baaac", "X", "XbXXcX"}, {"\\u0041", "xax", "!", "x!x"}, {"\\x41", "A", "b", "b"},
  };
  std::string error;
  for (const Case& c : cases) {
    const auto regex = RegexEngine::Compile(c.pattern, error);
    ASSERT_NE(regex, nullptr) << c.pattern << ": " << error;
    std::string out = "=";
    ASSERT_TRUE(regex->Replace(c.subject, c.replacement, out, error)) << error;
    EXPECT_EQ(out, std::string("=") + c.result) << c.pattern;
  }
}

TEST(RegexEngineTest, RunawayMatchIsAnErrorNotAHang) {
  std::string error;
  const auto regex = RegexEngine::Compile("^(a|a?)+$", error);
  ASSERT_NE(regex, nullptr);
  const std::string subject = std::string(40, 'a') + "!";
  EXPECT_EQ(regex->Test(subject, error), RegexEngine::Result::kError);
  EXPECT_FALSE(error.empty());
  std::string out = "kept";
  EXPECT_FALSE(regex->Replace(subject, "x", out, error));
  EXPECT_EQ(out, "kept");
}

TEST(RegexEngineTest, SubjectsWithNulBytesAreMatchedWhole) {
  std::string error;
  const auto regex = RegexEngine::Compile("b", error);
  ASSERT_NE(regex, nullptr);
  EXPECT_EQ(regex->Test(std::string("a\0b", 3), error), RegexEngine::Result::kMatch);
  std::string out;
  ASSERT_TRUE(regex->Replace(std::string("b\0b", 3), "c", out, error));
  EXPECT_EQ(out, std::string("c\0c", 3));
}

}  // namespace
