// Tests of Digest and Digestor: digest values as Base64 text, against published SHA vectors.
#include <gtest/gtest.h>

#include <string>

#include "sealvault/Digest.h"

namespace {

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

TEST(DigestTest, KnownVectorsAsBase64) {
  struct Case {
    const char* algorithm;
    std::string data;
    const char* expected;  // Base64 of the FIPS 180 test vector values
  } cases[] = {
      {"sha1", "abc", "qZk+NkcGgWq6PiVxeFDCbJzQ2J0="},  // a9993e36...9cd0d89d
      {"sha1", "", "2jmj7l5rSw0yVb/vlWAYkK/YBwk="},     // da39a3ee...afd80709
      {"SHA1", std::string(1000000, 'a'), "NKqXPNTE2qT2Husr260nMWU0AW8="},
      {"sha256", "abc", "ungWv48Bz+pBQUDeXa4iI7ADYaOWF3qctBD/YfIAFa0="},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.algorithm);
    Digest digest(c.algorithm);
    int length = static_cast<int>(c.data.size());
    const char* text = digest.GetDigest(U(c.data), &length, c.algorithm);
    ASSERT_NE(text, nullptr);
    EXPECT_STREQ(text, c.expected);
    EXPECT_EQ(length, static_cast<int>(std::string(c.expected).size()));
  }
}

TEST(DigestTest, NullAlgorithmUsesTheConstructorsAndResultIsModifiable) {
  Digest digest("sha1");
  int length = 3;
  char* text = digest.GetDigest(U(std::string("abc")), &length, nullptr);
  ASSERT_NE(text, nullptr);
  EXPECT_STREQ(text, "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
  text[0] = '_';  // callers clean the text in place
  EXPECT_EQ(text[0], '_');
  Digestor plain;  // default algorithm
  length = 3;
  EXPECT_STREQ(plain.GetDigest(U(std::string("abc")), &length, nullptr),
               "qZk+NkcGgWq6PiVxeFDCbJzQ2J0=");
}

TEST(DigestTest, BadArgumentsGiveNull) {
  Digest digest("sha1");
  int length = 3;
  EXPECT_EQ(digest.GetDigest(U(std::string("abc")), &length, "no-such-digest"), nullptr);
  EXPECT_EQ(length, 0);
  length = 3;
  EXPECT_EQ(digest.GetDigest(nullptr, &length, "sha1"), nullptr);
  EXPECT_EQ(digest.GetDigest(U(std::string("abc")), nullptr, "sha1"), nullptr);
  length = -1;
  EXPECT_EQ(digest.GetDigest(U(std::string("abc")), &length, "sha1"), nullptr);
}

}  // namespace
