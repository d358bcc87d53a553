// Tests of the copyable name/value map: copies keep slots, own their texts and survive
// self-assignment.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "common/KVMapImp.h"

namespace {

TEST(KVMapImpTest, NewMapIsEmptyWithFiftySlots) {
  std::unique_ptr<CObjMap> map = std::make_unique<KVMapImp<StringMap>>();
  EXPECT_EQ(map->GetCount(), 50u);
  EXPECT_EQ(map->GetItemCount(), 0u);
  EXPECT_EQ(map->Add("a", "1"), 0);  // deleted through the base at scope end
}

TEST(KVMapImpTest, CopyConstructionKeepsSlotsAndOwnsTexts) {
  KVMapImp<StringMap> original;
  original.Add("a", "1");
  original.Add("b", "2");
  original.Add("c", "3");
  original.remove("b");

  KVMapImp<StringMap> copy(original);
  EXPECT_EQ(copy.GetCount(), original.GetCount());
  EXPECT_STREQ(copy.Get(2u), "3");
  EXPECT_EQ(copy.GetKey(1u), nullptr);

  copy.Set("a", "changed");
  EXPECT_STREQ(original.Get("a"), "1");
}

TEST(KVMapImpTest, AssignmentReplacesEntriesAndIgnoresSelf) {
  KVMapImp<StringMap> source;
  for (int i = 0; i < 60; ++i) source.Add(("k" + std::to_string(i)).c_str(), i);
  KVMapImp<StringMap> target;
  target.Add("old", "x");

  target = source;
  EXPECT_EQ(target.GetCount(), 100u);
  EXPECT_EQ(target.GetItemCount(), 60u);
  EXPECT_EQ(target.GetIndex("old"), -1);
  EXPECT_STREQ(target.Get("K59"), "59");

  KVMapImp<StringMap>& alias = target;
  target = alias;
  EXPECT_EQ(target.GetItemCount(), 60u);
  EXPECT_STREQ(target.Get(0u), "0");
}

}  // namespace
