// Tests of error texts, the time text, random digits and UUID texts.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/SystemFunctions.h"
#include "platform/SystemError.h"

namespace {

using testing::MatchesRegex;

TEST(SystemFunctionsTest, FormatSystemErrorGivesTheSystemText) {
  std::string out = "old";
  EXPECT_STREQ(FormatSystemError(out, ENOENT), std::strerror(ENOENT));
  EXPECT_EQ(out, std::strerror(ENOENT));

  corvane::platform::SetLastSystemError(ECONNREFUSED);
  FormatSystemError(out, 0);
  EXPECT_EQ(out, std::strerror(ECONNREFUSED));
  EXPECT_EQ(corvane::platform::LastSystemError(), ECONNREFUSED);

  corvane::platform::SetLastSystemError(0);
  EXPECT_STREQ(FormatSystemError(out, 0), "");

  FormatSystemError(out, 123456);
  EXPECT_FALSE(out.empty());
  EXPECT_LE(out.size(), 255u);
  EXPECT_EQ(out.find('\n'), std::string::npos);
}

TEST(SystemFunctionsTest, TimeTextHasTheFixedForm) {
  const std::time_t before = std::time(nullptr);
  const std::string text = GetTimeText();
  const std::time_t after = std::time(nullptr);
  EXPECT_THAT(text, MatchesRegex("(Sun|Mon|Tue|Wed|Thu|Fri|Sat) "
                                 "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
                                 "[0-3][0-9] [0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}"));
  // The text names one of the seconds the call ran in.
  bool named = false;
  for (std::time_t t = before; t <= after; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    char expected[32];
    std::strftime(expected, sizeof expected, "%d %H:%M:%S %Y", &local);
    named = named || text.substr(8) == expected;
  }
  EXPECT_TRUE(named) << text;
}

TEST(SystemFunctionsTest, TimeTextBufferBelongsToTheThread) {
  const char* mine = GetTimeText();
  const char* theirs = nullptr;
  std::thread([&] { theirs = GetTimeText(); }).join();
  EXPECT_NE(mine, theirs);
  EXPECT_EQ(GetTimeText(), mine);
}

TEST(SystemFunctionsTest, RandomDigitsHaveTheRequestedLength) {
  for (int length : {1, 2, 6, 7, 16, 76, 200}) {
    std::vector<char> buffer(static_cast<size_t>(length) + 1, 'x');
    EXPECT_EQ(MakeRandomDigits(buffer.data(), length), buffer.data());
    const std::string digits(buffer.data());
    EXPECT_EQ(digits.size(), static_cast<size_t>(length - 1)) << length;
    EXPECT_EQ(digits.find_first_not_of("0123456789"), std::string::npos) << digits;
    // Each group of six is "%06d" of a number up to 32767, so it starts with 0.
    for (size_t i = 0; i < digits.size(); i += 6) EXPECT_EQ(digits[i], '0') << digits;
    EXPECT_EQ(buffer[static_cast<size_t>(length)], 'x') << "wrote past the buffer";
  }
  char untouched = 'x';
  EXPECT_EQ(MakeRandomDigits(&untouched, 0), &untouched);
  EXPECT_EQ(untouched, 'x');
  EXPECT_EQ(MakeRandomDigits(nullptr, 16), nullptr);
}

TEST(SystemFunctionsTest, RandomDigitsDifferBetweenCallsAndThreads) {
  std::set<std::string> seen;
  std::mutex lock;
  auto work = [&] {
    for (int i = 0; i < 200; ++i) {
      char buffer[16];
      MakeRandomDigits(buffer, sizeof buffer);
      const std::lock_guard<std::mutex> guard(lock);
      seen.insert(buffer);
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(seen.size(), 400u);
}

TEST(SystemFunctionsTest, UuidTextIsAppendedAndUnique) {
  std::string first = "id=";
  ASSERT_TRUE(MakeUuidText(first));
  EXPECT_THAT(first, MatchesRegex("id=uuid:[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-"
                                  "[89ab][0-9a-f]{3}-[0-9a-f]{12}"));
  std::string second;
  ASSERT_TRUE(MakeUuidText(second));
  EXPECT_EQ(second.size(), 41u);
  EXPECT_NE(first.substr(3), second);
}

}  // namespace
