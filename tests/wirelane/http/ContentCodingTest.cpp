// Tests of the in-memory deflate and gzip codings.
#include "wirelane/http/ContentCodingInternal.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string>

namespace {

std::string Sample() {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "line " + std::to_string(i) + " of a body\r\n";
  text += std::string("\0binary\xff", 8);
  return text;
}

TEST(ContentCodingTest, GzipRoundTripAndFormat) {
  std::string packed;
  ASSERT_TRUE(corvane::CompressGzip(Sample(), packed));
  ASSERT_GE(packed.size(), 18u);
  EXPECT_EQ('\x1f', packed[0]);  // gzip magic
  EXPECT_EQ('\x8b', packed[1]);
  EXPECT_LT(packed.size(), Sample().size());
  std::string unpacked;
  ASSERT_TRUE(corvane::DecompressGzip(packed, 1 << 20, unpacked));
  EXPECT_EQ(Sample(), unpacked);
}

TEST(ContentCodingTest, DeflateIsTheZlibFormat) {
  std::string packed;
  ASSERT_TRUE(corvane::DeflateZlib(Sample(), packed));
  std::string unpacked(Sample().size(), '\0');
  uLongf length = unpacked.size();
  ASSERT_EQ(Z_OK, uncompress(reinterpret_cast<Bytef*>(unpacked.data()), &length,
                             reinterpret_cast<const Bytef*>(packed.data()), packed.size()));
  EXPECT_EQ(Sample(), unpacked.substr(0, length));
}

TEST(ContentCodingTest, EmptyBodies) {
  std::string packed;
  ASSERT_TRUE(corvane::CompressGzip("", packed));
  std::string unpacked = "stale";
  ASSERT_TRUE(corvane::DecompressGzip(packed, 10, unpacked));
  EXPECT_EQ("", unpacked);
}

TEST(ContentCodingTest, BadOrOversizedInputFails) {
  std::string packed;
  ASSERT_TRUE(corvane::CompressGzip(std::string(10 << 20, 'z'), packed));  // a small bomb
  std::string out;
  std::string error;
  EXPECT_FALSE(corvane::DecompressGzip(packed, 1 << 20, out, &error));
  EXPECT_EQ("decompressed size passes the limit", error);
  EXPECT_LE(out.size(), 1u << 20);

  EXPECT_FALSE(corvane::DecompressGzip(packed.substr(0, packed.size() / 2), 20 << 20, out, &error));
  EXPECT_EQ("data cut short", error);
  EXPECT_FALSE(corvane::DecompressGzip("not gzip at all", 1000, out, &error));
  EXPECT_EQ("invalid data", error);
}

}  // namespace
