// Tests of the slot-array name/value map: lookup, selectors, changes, growth, copies and text
// forms.
#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <utility>
#include <vector>

#include "common/StringMap.h"

namespace {

// A foreign map that Copy can read: fixed slots, some with a key and no value.
class FixedSlots : public CObjMap {
 public:
  explicit FixedSlots(std::vector<std::pair<const char*, const char*>> slots)
      : slots_(std::move(slots)) {}
  const char* Get(unsigned index) const override {
    return index < slots_.size() ? slots_[index].second : nullptr;
  }
  const char* Get(const char*) const override { return nullptr; }
  int GetIndex(const char*) const override { return -1; }
  const char* GetKey(unsigned index) const override {
    return index < slots_.size() ? slots_[index].first : nullptr;
  }
  int Add(const char*, const char*) override { return -1; }
  int remove(const char*) override { return -1; }
  int Set(const char*, const char*) override { return -1; }
  int Replace(const char*, const char*) override { return -1; }
  int Append(const char*, const char*) override { return -1; }
  unsigned GetCount() const override { return static_cast<unsigned>(slots_.size()); }
  unsigned GetItemCount() const override { return 0; }
  const char* ToString(std::string& out, const char*, const char*, const char*) const override {
    return out.c_str();
  }

 private:
  std::vector<std::pair<const char*, const char*>> slots_;
};

// Records the texts that reach the virtual Add and Set.
class RecordingMap : public StringMap {
 public:
  using StringMap::Add;
  using StringMap::Set;
  int Add(const char* name, const char* value) override {
    added.push_back(value);
    return StringMap::Add(name, value);
  }
  int Set(const char* name, const char* value) override {
    set.push_back(value);
    return StringMap::Set(name, value);
  }
  std::vector<std::string> added;
  std::vector<std::string> set;
};

std::string Text(const char* text) { return text == nullptr ? "<null>" : text; }

TEST(StringMapTest, NewMapHasFiftyFreeSlots) {
  StringMap map;
  EXPECT_EQ(map.GetCount(), 50u);
  EXPECT_EQ(map.GetItemCount(), 0u);
  EXPECT_EQ(map.Get(0u), nullptr);
  EXPECT_EQ(map.GetKey(0u), nullptr);
  EXPECT_EQ(map.Get(50u), nullptr);
  EXPECT_EQ(map.GetKey(50u), nullptr);
  EXPECT_EQ(map.Get("anything"), nullptr);
  EXPECT_EQ(map.GetIndex(nullptr), -1);
}

TEST(StringMapTest, InsertionsRejectMissingNameOrValue) {
  StringMap map;
  map.Add("Host", "example");
  struct Case {
    const char* name;
    const char* value;
  };
  for (const Case& c : {Case{nullptr, "v"}, Case{"", "v"}, Case{"Host", nullptr}}) {
    SCOPED_TRACE(Text(c.name) + "=" + Text(c.value));
    EXPECT_EQ(map.Add(c.name, c.value), -1);
    EXPECT_EQ(map.Replace(c.name, c.value), -1);
    EXPECT_EQ(map.Append(c.name, c.value), -1);
  }
  EXPECT_EQ(map.Set(nullptr, "v"), -1);
  EXPECT_EQ(map.Set("", "v"), -1);
  EXPECT_EQ(map.GetItemCount(), 1u);
  EXPECT_STREQ(map.Get("host"), "example");
}

TEST(StringMapTest, KeysDifferingInCaseAreSeparateEntries) {
  StringMap map;
  EXPECT_EQ(map.Add("A", "1"), 0);
  EXPECT_EQ(map.Add("a", "2"), 1);
  EXPECT_EQ(map.GetItemCount(), 2u);
  EXPECT_STREQ(map.Get("A"), "1");
  EXPECT_STREQ(map.Get("a"), "1");
  EXPECT_STREQ(map.Get("a[1]"), "2");
  EXPECT_EQ(map.Get("a[2]"), nullptr);
  EXPECT_STREQ(map.GetKey(1u), "a");
}

TEST(StringMapTest, SelectorPicksNthEntryUnlessLiteralKeyComesFirst) {
  StringMap map;
  map.Add("Via", "first");       // slot 0
  map.Add("Via[1]", "literal");  // slot 1
  map.Add("VIA", "second");      // slot 2
  map.Add("[2]", "bracket");     // slot 3
  map.Add("Other", "x");         // slot 4
  struct Case {
    const char* name;
    int index;
  };
  const Case cases[] = {
      {"Via", 0},
      {"via[0]", 0},
      {"Via[1]", 1},  // the literal key comes first
      {"Via[ 1]", 2},
      {"Via[\t1]", 2},
      {"Via[1x]", 2},
      {"Via[]", 0},
      {"Via[abc]", 0},
      {"Via[2]", -1},
      {"Via[99999999999]", -1},
      {"[2]", 3},
      {"[0]", -1},
      {"Via]", -1},
      {"Via[1", -1},
      {"Other[0]", 4},
      {"", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(map.GetIndex(c.name), c.index);
  }
}

TEST(StringMapTest, SelectorWinsWhenItsEntryPrecedesTheLiteralKey) {
  StringMap map;
  map.Add("Via", "a");
  map.Add("Via", "b");
  map.Add("Via[1]", "literal");
  EXPECT_EQ(map.GetIndex("Via[1]"), 1);
  EXPECT_EQ(map.Set("via[1]", "B"), 1);
  EXPECT_STREQ(map.Get(1u), "B");
  EXPECT_STREQ(map.Get(2u), "literal");
}

TEST(StringMapTest, SetReplacesFirstMatchAddsMissingAndNullRemoves) {
  StringMap map;
  map.Add("A", "1");
  map.Add("a", "2");
  EXPECT_EQ(map.Set("A", "3"), 0);
  EXPECT_STREQ(map.Get(0u), "3");
  EXPECT_STREQ(map.Get(1u), "2");

  EXPECT_EQ(map.Set("A", nullptr), -1);
  EXPECT_EQ(map.GetKey(0u), nullptr);
  EXPECT_EQ(map.GetIndex("A"), 1);
  EXPECT_STREQ(map.Get("A"), "2");

  EXPECT_EQ(map.Set("New", "n"), 0);  // lowest free slot
  EXPECT_EQ(map.Set("Missing", nullptr), -1);
  EXPECT_EQ(map.GetIndex("Missing"), -1);
  EXPECT_EQ(map.GetItemCount(), 2u);
}

TEST(StringMapTest, ChangesAcceptTextTheMapAlreadyHolds) {
  StringMap map;
  map.Add("k", "abc");
  const char* stored = map.Get("k");
  EXPECT_EQ(map.Set("k", stored), 0);
  EXPECT_EQ(map.Get("k"), stored);  // the very pointer: left as it is

  EXPECT_EQ(map.Set("k", map.Get("k") + 1), 0);
  EXPECT_STREQ(map.Get("k"), "bc");
  EXPECT_EQ(map.Replace("k", map.Get("k") + 1), 0);
  EXPECT_STREQ(map.Get("k"), "c");
  EXPECT_EQ(map.Append("k", map.Get("k")), 0);
  EXPECT_STREQ(map.Get("k"), "cc");
  EXPECT_EQ(map.Add(map.GetKey(0u), map.Get(0u)), 1);
  EXPECT_STREQ(map.Get("k[1]"), "cc");
}

TEST(StringMapTest, RemoveFreesSlotThatNextAddTakes) {
  StringMap map;
  map.Add("a", "1");
  map.Add("b", "2");
  map.Add("c", "3");
  const char* b = map.Get("b");
  EXPECT_EQ(map.remove("zz"), -1);
  EXPECT_NE(map.remove("A"), -1);
  EXPECT_EQ(map.GetItemCount(), 2u);
  EXPECT_EQ(map.Get(0u), nullptr);
  EXPECT_EQ(map.Add("d", "4"), 0);
  EXPECT_EQ(map.Get("b"), b);
  std::string out;
  EXPECT_STREQ(map.ToString(out, "=", ";", nullptr), "d=4;b=2;c=3;");
}

TEST(StringMapTest, FiftyFirstAddGrowsByFiftyKeepingEntries) {
  StringMap map;
  for (int i = 0; i < 50; ++i) ASSERT_EQ(map.Add(("k" + std::to_string(i)).c_str(), i), i);
  const char* first = map.Get(0u);
  const char* last = map.GetKey(49u);
  EXPECT_EQ(map.Add("extra", "x"), 50);
  EXPECT_EQ(map.GetCount(), 100u);
  EXPECT_EQ(map.GetItemCount(), 51u);
  EXPECT_EQ(map.Get(0u), first);
  EXPECT_STREQ(first, "0");
  EXPECT_EQ(map.GetKey(49u), last);
  EXPECT_STREQ(last, "k49");
  EXPECT_EQ(map.GetIndex("extra"), 50);
}

TEST(StringMapTest, ReplaceNeverAdds) {
  StringMap map;
  EXPECT_EQ(map.Replace("x", "1"), -1);
  EXPECT_EQ(map.GetItemCount(), 0u);
  map.Add("x", "1");
  map.Add("x", "2");
  EXPECT_EQ(map.Replace("X[1]", "3"), 1);
  EXPECT_STREQ(map.Get(1u), "3");
  EXPECT_STREQ(map.Get(0u), "1");
}

TEST(StringMapTest, AppendJoinsOrAdds) {
  StringMap map;
  EXPECT_EQ(map.Append("x", "a"), 0);
  EXPECT_EQ(map.Append("X", "b"), 0);
  EXPECT_STREQ(map.Get("x"), "ab");
  EXPECT_EQ(map.Append("x", ""), 0);
  EXPECT_STREQ(map.Get("x"), "ab");
  EXPECT_EQ(map.GetItemCount(), 1u);
}

TEST(StringMapTest, EntriesCopiedWithoutValueTakeOneFromReplaceOrAppend) {
  StringMap map;
  map.Copy(FixedSlots({{"r", nullptr}, {"a", nullptr}}));
  EXPECT_EQ(map.Get("r"), nullptr);
  EXPECT_EQ(map.Replace("r", "1"), 0);
  EXPECT_STREQ(map.Get("r"), "1");
  EXPECT_EQ(map.Append("a", "2"), 1);
  EXPECT_STREQ(map.Get("a"), "2");
}

TEST(StringMapTest, ToStringForms) {
  StringMap map;
  std::string out = "stale";
  EXPECT_STREQ(map.ToString(out, ": ", "\r\n", nullptr), "");
  EXPECT_TRUE(out.empty());

  map.Add("Content-Type", "text/xml");
  map.Add("Content-Length", "12");
  EXPECT_STREQ(map.ToString(out, ": ", "\r\n", nullptr),
               "Content-Type: text/xml\r\nContent-Length: 12\r\n");
  EXPECT_STREQ(map.ToString(out, "=", "&", "HTTP_"),
               "HTTP_Content_Type=text/xml&HTTP_Content_Length=12&");
  EXPECT_STREQ(map.ToString(out, "=", "&", ""), "Content_Type=text/xml&Content_Length=12&");
  EXPECT_STREQ(map.ToString(out, nullptr, nullptr, nullptr),
               "Content-Typetext/xmlContent-Length12");

  StringMap copied;
  copied.Copy(FixedSlots({{"X-Forwarded-For", nullptr}}));
  EXPECT_STREQ(copied.ToString(out, "=", "&", "P-"), "P-X_Forwarded_For=&");
}

TEST(StringMapTest, CopyKeepsSlotPositionsAndReplacesOldEntries) {
  StringMap source;
  for (int i = 0; i < 8; ++i) source.Add(("k" + std::to_string(i)).c_str(), i);
  for (int i = 1; i < 7; ++i) source.remove(("k" + std::to_string(i)).c_str());

  StringMap target;
  target.Add("old", "gone");
  target.Copy(source);
  EXPECT_EQ(target.GetCount(), 50u);
  EXPECT_EQ(target.GetItemCount(), 2u);
  EXPECT_STREQ(target.GetKey(0u), "k0");
  EXPECT_STREQ(target.GetKey(7u), "k7");
  EXPECT_STREQ(target.Get(7u), "7");
  EXPECT_NE(target.Get(7u), source.Get(7u));  // its own copy
  EXPECT_EQ(target.GetKey(1u), nullptr);
  EXPECT_EQ(target.GetIndex("old"), -1);
  EXPECT_EQ(target.Add("next", "n"), 1);

  target.Copy(target);
  EXPECT_EQ(target.GetItemCount(), 3u);
  EXPECT_STREQ(target.Get("k7"), "7");
}

TEST(StringMapTest, CopyTakesSourceSlotCountAndKeepsGrowthStep) {
  StringMap map;
  map.Copy(FixedSlots({{"a", "1"}, {nullptr, "ignored"}, {"c", nullptr}}));
  EXPECT_EQ(map.GetCount(), 3u);
  EXPECT_EQ(map.GetItemCount(), 2u);
  EXPECT_EQ(map.Get(1u), nullptr);
  EXPECT_EQ(map.Get(2u), nullptr);
  EXPECT_EQ(map.Add("b", "2"), 1);
  EXPECT_EQ(map.Add("d", "4"), 3);
  EXPECT_EQ(map.GetCount(), 53u);

  StringMap empty;
  empty.RemoveAll();
  map.Copy(empty);
  EXPECT_EQ(map.GetCount(), 0u);
  EXPECT_EQ(map.Get(0u), nullptr);
}

TEST(StringMapTest, RemoveAllLeavesUsableMapWithoutSlots) {
  StringMap map;
  map.Add("a", "1");
  map.RemoveAll();
  EXPECT_EQ(map.GetCount(), 0u);
  EXPECT_EQ(map.GetItemCount(), 0u);
  EXPECT_EQ(map.Get("a"), nullptr);
  EXPECT_EQ(map.Get(0u), nullptr);
  EXPECT_EQ(map.Set("a", "2"), 0);
  EXPECT_EQ(map.GetCount(), 50u);
  EXPECT_STREQ(map.Get("a"), "2");
}

TEST(StringMapTest, DumpPrintsEntriesLiterallyBetweenRules) {
  StringMap map;
  map.Copy(FixedSlots({{"rate", "100%d%s"}, {nullptr, nullptr}, {"empty", nullptr}}));
  testing::internal::CaptureStdout();
  map.Dump();
  const std::string rule(36, '-');
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            rule + "\nrate = 100%d%s\nempty = null\n" + rule + "\n");
}

TEST(StringMapTest, IntegerOverloadsGoThroughVirtualAddAndSet) {
  RecordingMap map;
  EXPECT_EQ(map.Add("n", -42), 0);
  EXPECT_EQ(map.Add("m", INT_MIN), 1);
  EXPECT_EQ(map.Set("n", 7), 0);
  EXPECT_EQ(map.Add("", 1), -1);
  EXPECT_EQ(map.added, (std::vector<std::string>{"-42", "-2147483648", "1"}));
  EXPECT_EQ(map.set, (std::vector<std::string>{"7"}));
  EXPECT_STREQ(map.Get("n"), "7");
  EXPECT_STREQ(map.Get("m"), "-2147483648");
}

TEST(StringMapTest, AppendAndSetOfMissingKeyGoThroughVirtualSetAndAdd) {
  RecordingMap map;
  EXPECT_EQ(map.Append("x", "v"), 0);
  EXPECT_EQ(map.set, (std::vector<std::string>{"v"}));
  EXPECT_EQ(map.added, (std::vector<std::string>{"v"}));
}

}  // namespace
