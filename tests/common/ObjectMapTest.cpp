// Tests of the object registry: slots, lookups, replacement rules, copies and the references it
// holds.
#include <gtest/gtest.h>

#include <string>

#include "TrackedObject.h"
#include "common/ObjectMap.h"

namespace {

using corvane::test::RefCount;
using corvane::test::TrackedObject;

constexpr unsigned kNone = static_cast<unsigned>(-1);

class ObjectMapTest : public testing::Test {
 protected:
  // A new object holding one reference, which the caller hands to a map or releases.
  DBObject* Make() { return new TrackedObject(&deaths_); }
  int deaths_ = 0;
};

TEST_F(ObjectMapTest, EmptyMapGrowsByTwentyOnAdd) {
  ObjectMap map(0);
  EXPECT_EQ(map.GetCount(), 0u);
  EXPECT_EQ(map.Get(0u), nullptr);
  EXPECT_EQ(map.Add("a", Make()), 0u);
  EXPECT_EQ(map.GetCount(), 20u);
  for (unsigned i = 1; i < 20; ++i) map.Add(("k" + std::to_string(i)).c_str(), nullptr);
  EXPECT_EQ(map.Add("last", Make()), 20u);
  EXPECT_EQ(map.GetCount(), 40u);
  EXPECT_EQ(map.GetItemCount(), 21u);
}

TEST_F(ObjectMapTest, LookupIgnoresCaseAndHasNoSelector) {
  ObjectMap map(5);
  DBObject* first = Make();
  DBObject* second = Make();
  EXPECT_EQ(map.Add("Key", first), 0u);
  EXPECT_EQ(map.Add("key", second), 1u);  // Add never replaces
  EXPECT_EQ(map.Get("KEY"), first);
  EXPECT_EQ(map["kEy"], first);
  EXPECT_EQ(map[1u], second);
  EXPECT_STREQ(map.GetKey(1u), "key");
  EXPECT_EQ(map.GetKey(5u), nullptr);
  EXPECT_EQ(map.Get(5u), nullptr);
  EXPECT_EQ(map.GetIndex("key[1]"), kNone);
  EXPECT_EQ(map.GetIndex(nullptr), kNone);
  EXPECT_EQ(RefCount(first), 1);  // the map took over the creator's reference
}

TEST_F(ObjectMapTest, AddWithoutNameLeavesObjectWithCaller) {
  ObjectMap map(2);
  DBObject* object = Make();
  EXPECT_EQ(map.Add(nullptr, object), kNone);
  EXPECT_EQ(map.GetItemCount(), 0u);
  EXPECT_EQ(RefCount(object), 1);
  object->Release();
  EXPECT_EQ(deaths_, 1);
}

TEST_F(ObjectMapTest, PutReplacesInPlaceOrAdds) {
  ObjectMap map(3);
  DBObject* o1 = Make();
  DBObject* o2 = Make();
  map.Add("x", Make());
  EXPECT_EQ(map.Put("a", o1), 1u);
  EXPECT_EQ(map.Put("A", o2), 1u);
  EXPECT_EQ(deaths_, 1);  // o1 had only the map's reference
  EXPECT_EQ(map.Get("a"), o2);
  EXPECT_EQ(map.GetItemCount(), 2u);

  DBObject* kept = Make();
  EXPECT_EQ(map.Put(nullptr, kept), kNone);
  EXPECT_EQ(map.Put("a", nullptr), kNone);
  EXPECT_EQ(map.Get("a"), o2);
  EXPECT_EQ(RefCount(kept), 1);
  kept->Release();
}

TEST_F(ObjectMapTest, PutAndSetFindEntriesBehindAFreeSlot) {
  ObjectMap map(3);
  map.Add("a", Make());
  map.Add("b", Make());
  map.remove("a");
  DBObject* newer = Make();
  EXPECT_EQ(map.Put("b", newer), 1u);
  EXPECT_EQ(map.GetItemCount(), 1u);
  EXPECT_EQ(deaths_, 2);
  DBObject* newest = Make();
  EXPECT_EQ(map.Set("B", newest), 1u);
  EXPECT_EQ(map.Get("b"), newest);
  EXPECT_EQ(deaths_, 3);
}

TEST_F(ObjectMapTest, SetReplacesOnlyExistingEntries) {
  ObjectMap map(2);
  DBObject* object = Make();
  EXPECT_EQ(map.Set("b", object), kNone);
  EXPECT_EQ(map.GetItemCount(), 0u);
  EXPECT_EQ(RefCount(object), 1);

  map.Add("b", Make());
  EXPECT_EQ(map.Set("b", object), 0u);
  EXPECT_EQ(deaths_, 1);
  EXPECT_EQ(map.Set("b", nullptr), 0u);
  EXPECT_EQ(deaths_, 2);
  EXPECT_EQ(map.GetItemCount(), 1u);
  EXPECT_EQ(map.Get("b"), nullptr);
  EXPECT_EQ(map.GetIndex("b"), 0u);
}

TEST_F(ObjectMapTest, ReplaceExchangesOnlyAPresentDifferentObject) {
  ObjectMap map(3);
  DBObject* stored = Make();
  map.Add("a", stored);
  map.Add("empty", nullptr);
  DBObject* other = Make();

  EXPECT_EQ(map.Replace("missing", other), 0u);
  EXPECT_EQ(map.Replace("empty", other), 0u);
  EXPECT_EQ(map.Get("empty"), nullptr);
  EXPECT_EQ(map.Replace("a", stored), 0u);
  EXPECT_EQ(RefCount(stored), 1);
  EXPECT_EQ(deaths_, 0);

  EXPECT_EQ(map.Replace("A", other), 1u);
  EXPECT_EQ(deaths_, 1);
  EXPECT_EQ(map.Get("a"), other);
}

TEST_F(ObjectMapTest, RemoveFreesSlotAndReleasesObject) {
  ObjectMap map(4);
  map.Add("a", Make());
  DBObject* b = Make();
  map.Add("b", b);
  map.remove("missing");
  map.remove("A");
  EXPECT_EQ(deaths_, 1);
  EXPECT_EQ(map.GetItemCount(), 1u);
  EXPECT_EQ(map.GetCount(), 4u);
  EXPECT_EQ(map.GetKey(0u), nullptr);
  EXPECT_EQ(map.Add("c", Make()), 0u);
  EXPECT_EQ(map.Get(1u), b);
}

TEST_F(ObjectMapTest, CopiesShareObjectsAtTheSameSlots) {
  int deathsAtEnd = 0;
  {
    ObjectMap original(3);
    DBObject* a = Make();
    DBObject* c = Make();
    original.Add("a", a);
    original.Add("b", nullptr);
    original.Add("c", c);
    original.remove("b");

    ObjectMap copy(original);
    EXPECT_EQ(copy.GetCount(), 3u);
    EXPECT_EQ(copy.Get(0u), a);
    EXPECT_EQ(copy.GetKey(1u), nullptr);
    EXPECT_EQ(copy.Get("C"), c);
    EXPECT_NE(copy.GetKey(2u), original.GetKey(2u));
    EXPECT_EQ(RefCount(a), 2);

    ObjectMap assigned(1);
    assigned.Add("own", Make());
    assigned = original;
    EXPECT_EQ(deaths_, 1);  // its own object was released
    EXPECT_EQ(assigned.GetCount(), 3u);
    EXPECT_EQ(RefCount(c), 3);

    ObjectMap& alias = assigned;
    assigned = alias;
    EXPECT_EQ(RefCount(c), 3);
    EXPECT_EQ(assigned.Get("a"), a);

    original.RemoveAll();
    EXPECT_EQ(original.GetCount(), 0u);
    EXPECT_EQ(deaths_, 1);  // the copies still hold a and c
    EXPECT_EQ(original.Add("again", nullptr), 0u);
  }
  deathsAtEnd = deaths_;
  EXPECT_EQ(deathsAtEnd, 3);
}

}  // namespace
