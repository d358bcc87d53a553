// Tests of CBuffer: appending text and bytes, replacing, comparing and indexing.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>

#include "common/CBuffer.h"

namespace {

TEST(CBufferTest, NewAndClearedBuffersGiveNull) {
  CBuffer empty;
  EXPECT_EQ(empty.GetBuffer(), nullptr);
  EXPECT_EQ(static_cast<const char*>(empty), nullptr);
  EXPECT_EQ(empty.GetLength(), 0);

  CBuffer fromNull(nullptr);
  EXPECT_EQ(fromNull.GetBuffer(), nullptr);

  CBuffer text("abc");
  ASSERT_NE(text.GetBuffer(), nullptr);
  EXPECT_STREQ(text.GetBuffer(), "abc");
  text.Clear();
  EXPECT_EQ(text.GetBuffer(), nullptr);
  EXPECT_EQ(text.GetLength(), 0);
}

TEST(CBufferTest, AppendsTextNumbersAndBytes) {
  CBuffer buffer;
  buffer += "Content-Length: ";
  buffer += 1234;
  buffer += -7;
  buffer += static_cast<const char*>(nullptr);
  buffer += "";
  buffer += '!';
  EXPECT_STREQ(buffer.GetBuffer(), "Content-Length: 1234-7!");
  EXPECT_EQ(buffer.GetLength(), 23);

  CBuffer extremes;
  extremes += INT_MIN;
  extremes += ' ';
  extremes += INT_MAX;
  EXPECT_EQ(extremes.GetString(), std::to_string(INT_MIN) + " " + std::to_string(INT_MAX));
}

TEST(CBufferTest, KeepsNulBytes) {
  CBuffer buffer("a");
  buffer += '\0';
  EXPECT_EQ(buffer.GetLength(), 2);
  buffer.Append("b\0c", 3);
  EXPECT_EQ(buffer.GetLength(), 5);
  EXPECT_EQ(buffer.GetString(), std::string("a\0b\0c", 5));
  EXPECT_EQ(buffer[3], '\0');
  EXPECT_EQ(buffer[4], 'c');
  // The bytes are followed by a NUL in memory.
  EXPECT_EQ(buffer.GetBuffer()[5], '\0');

  CBuffer copy;
  copy += buffer;
  EXPECT_EQ(copy.GetString(), buffer.GetString());
  EXPECT_FALSE(copy != buffer);
}

TEST(CBufferTest, AppendIgnoresNullDataAndNonPositiveLengths) {
  CBuffer buffer("x");
  buffer.Append(nullptr, 5);
  buffer.Append("abc", 0);
  buffer.Append("abc", -1);
  EXPECT_EQ(buffer.GetString(), "x");
}

TEST(CBufferTest, AppendingItsOwnBytesIsSafe) {
  CBuffer buffer("abcdefghijklmnopqrstuvwxyz");
  buffer.Append(buffer.GetBuffer() + 20, 6);
  buffer += buffer.GetBuffer();
  buffer += buffer;
  const std::string once = "abcdefghijklmnopqrstuvwxyzuvwxyz";
  EXPECT_EQ(buffer.GetString(), once + once + once + once);
}

TEST(CBufferTest, IndexOutsideTheBytesGivesZero) {
  CBuffer buffer("ab");
  EXPECT_EQ(buffer[0], 'a');
  EXPECT_EQ(buffer[1], 'b');
  EXPECT_EQ(buffer[2], '\0');
  EXPECT_EQ(buffer[1000], '\0');
  EXPECT_EQ(buffer[-1], '\0');
  EXPECT_EQ(CBuffer()[0], '\0');
}

TEST(CBufferTest, AssignmentReplacesContent) {
  CBuffer buffer("old text");
  buffer = "new";
  EXPECT_STREQ(buffer.GetBuffer(), "new");
  buffer = static_cast<const char*>(nullptr);
  EXPECT_STREQ(buffer.GetBuffer(), "new");
  buffer = buffer.GetBuffer();
  EXPECT_STREQ(buffer.GetBuffer(), "new");
  // A text inside the buffer other than its start is a copy source like any other.
  buffer = buffer.GetBuffer() + 1;
  EXPECT_STREQ(buffer.GetBuffer(), "ew");

  CBuffer other;
  other.Append("x\0y", 3);
  buffer = other;
  EXPECT_EQ(buffer.GetString(), std::string("x\0y", 3));
  buffer = buffer;  // self-assignment keeps the bytes
  EXPECT_EQ(buffer.GetLength(), 3);
  buffer = "";
  EXPECT_EQ(buffer.GetBuffer(), nullptr);
}

TEST(CBufferTest, CopiesAndMovesAreIndependent) {
  CBuffer original("abc");
  CBuffer copy(original);
  copy += "d";
  EXPECT_STREQ(original.GetBuffer(), "abc");
  EXPECT_STREQ(copy.GetBuffer(), "abcd");

  CBuffer moved(std::move(copy));
  EXPECT_STREQ(moved.GetBuffer(), "abcd");
  EXPECT_EQ(copy.GetBuffer(), nullptr);  // NOLINT: the moved-from buffer is empty
  original = std::move(moved);
  EXPECT_STREQ(original.GetBuffer(), "abcd");
}

TEST(CBufferTest, ComparesBytes) {
  struct Case {
    const char* content;
    const char* text;
    bool equal;
  };
  const Case cases[] = {
      {"abc", "abc", true},  {"abc", "abd", false},    {"abc", "ab", false}, {"ab", "abc", false},
      {"abc", "ABC", false}, {nullptr, nullptr, true}, {nullptr, "", true},  {"a", nullptr, false},
  };
  for (const Case& c : cases) {
    const CBuffer buffer(c.content);
    EXPECT_EQ(buffer == c.text, c.equal) << (c.content ? c.content : "(null)");
    EXPECT_EQ(buffer != c.text, !c.equal) << (c.content ? c.content : "(null)");
  }

  // A NUL byte inside the buffer makes it differ from the text before it.
  CBuffer withNul("ab");
  withNul += '\0';
  EXPECT_FALSE(withNul == "ab");
  EXPECT_TRUE(withNul != CBuffer("ab"));
  EXPECT_FALSE(CBuffer("ab") != CBuffer("ab"));
  EXPECT_TRUE(CBuffer("ab") != CBuffer("ac"));
}

}  // namespace
