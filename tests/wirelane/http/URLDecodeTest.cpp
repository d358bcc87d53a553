// Tests of form decoding into maps.
#include "wirelane/http/URLDecode.h"

#include <gtest/gtest.h>

namespace {

TEST(URLDecodeTest, DecodesEscapesOnlyAfterADecimalDigit) {
  KVMapImp<StringMap> map;
  URLDecode("a=%4a&b=%A4&c=\"q\"&d&e=x+y%2", &map, false);
  EXPECT_STREQ("J", map.Get("a"));
  EXPECT_STREQ("%A4", map.Get("b"));
  EXPECT_STREQ("q", map.Get("c"));
  EXPECT_EQ(nullptr, map.Get("d"));
  EXPECT_STREQ("x y%2", map.Get("e"));
  EXPECT_EQ(4u, map.GetItemCount());
}

TEST(URLDecodeTest, RepeatedNamesAreKeptOrReplaced) {
  KVMapImp<StringMap> kept;
  URLDecode("x=1&x=2", &kept, false);
  EXPECT_STREQ("1", kept.Get("x"));
  EXPECT_STREQ("2", kept.Get("x[1]"));

  KVMapImp<StringMap> replaced;
  URLDecode("x=1&x=2", &replaced, true);
  EXPECT_STREQ("2", replaced.Get("x"));
  EXPECT_EQ(1u, replaced.GetItemCount());
}

TEST(URLDecodeTest, EncodedAmpersandDoesNotCutAndLineEndsAreDropped) {
  KVMapImp<StringMap> map;
  URLDecode("q=a%26b\r\n&=nameless&v=1=2&w=\"", &map, false);
  EXPECT_STREQ("a&b", map.Get("q"));
  EXPECT_STREQ("1=2", map.Get("v"));
  EXPECT_STREQ("\"", map.Get("w"));
  EXPECT_EQ(3u, map.GetItemCount());
}

TEST(URLDecodeTest, NothingHappensForMissingInput) {
  KVMapImp<StringMap> map;
  URLDecode(nullptr, &map, false);
  URLDecode("", &map, false);
  URLDecode("a=1", nullptr, false);
  EXPECT_EQ(0u, map.GetItemCount());
}

}  // namespace
