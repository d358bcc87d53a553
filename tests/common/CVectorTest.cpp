// Tests of CVector: slot reuse, growth, ownership and the count of additions.
#include <gtest/gtest.h>

#include <memory>

#include "common/CVector.h"

namespace {

// Counts live instances so the tests can see which objects were deleted.
struct Tracked {
  explicit Tracked(int v) : value(v) { ++live; }
  ~Tracked() { --live; }
  int value;
  static inline int live = 0;
};

class CVectorTest : public testing::Test {
 protected:
  void SetUp() override { Tracked::live = 0; }
};

TEST_F(CVectorTest, AddFillsTheLowestFreeSlot) {
  CVector<Tracked> vector;
  EXPECT_EQ(vector.Add(new Tracked(0)), 1);
  vector.Add(new Tracked(1));
  vector.Add(new Tracked(2));
  vector.RemoveAt(1);
  EXPECT_EQ(Tracked::live, 2);
  EXPECT_EQ(vector.Get(1), nullptr);
  EXPECT_EQ(vector.GetCount(), 3);

  vector.Add(new Tracked(10));
  ASSERT_NE(vector.Get(1), nullptr);
  EXPECT_EQ(vector.Get(1)->value, 10);
  EXPECT_EQ(vector.Get(3), nullptr);
  EXPECT_EQ(vector.GetCount(), 4);

  vector.RemoveAt(2);
  vector.RemoveAt(0);
  vector.Add(new Tracked(20));
  vector.Add(new Tracked(21));
  EXPECT_EQ(vector.Get(0)->value, 20);
  EXPECT_EQ(vector.Get(2)->value, 21);
  EXPECT_EQ(vector.Get(3), nullptr);
}

TEST_F(CVectorTest, GrowsByEightySlotsWhenFull) {
  CVector<Tracked> vector;
  EXPECT_EQ(vector.GetSlotCount(), 80);
  for (int i = 0; i < 80; ++i) vector.Add(new Tracked(i));
  EXPECT_EQ(vector.GetSlotCount(), 80);
  vector.Add(new Tracked(80));
  EXPECT_EQ(vector.GetSlotCount(), 160);
  EXPECT_EQ(vector.Get(80)->value, 80);
  EXPECT_EQ(vector.Get(81), nullptr);
  for (int i = 0; i < 81; ++i) ASSERT_EQ(vector.Get(i)->value, i);
  EXPECT_EQ(vector.GetCount(), 81);
}

TEST_F(CVectorTest, InvalidIndexesAreIgnored) {
  CVector<Tracked> vector;
  vector.Add(new Tracked(1));
  EXPECT_EQ(vector.Get(static_cast<unsigned>(-1)), nullptr);
  EXPECT_EQ(vector.Get(80), nullptr);
  EXPECT_EQ(vector.Get(5), nullptr);
  vector.RemoveAt(static_cast<unsigned>(-1));
  vector.RemoveAt(500);
  vector.RemoveAt(5);
  EXPECT_EQ(vector.Detach(static_cast<unsigned>(-1)), nullptr);
  EXPECT_EQ(vector.Detach(7), nullptr);
  EXPECT_EQ(Tracked::live, 1);
  EXPECT_EQ(vector.GetCount(), 1);
}

TEST_F(CVectorTest, DetachHandsTheObjectToTheCaller) {
  CVector<Tracked> vector;
  vector.Add(new Tracked(1));
  vector.Add(new Tracked(2));
  std::unique_ptr<Tracked> taken(vector.Detach(0));
  ASSERT_NE(taken, nullptr);
  EXPECT_EQ(taken->value, 1);
  EXPECT_EQ(vector.Get(0), nullptr);
  EXPECT_EQ(vector.GetCount(), 2);
  vector.RemoveAll();
  EXPECT_EQ(Tracked::live, 1);  // only the detached object is left
  vector.Add(new Tracked(3));
  EXPECT_EQ(vector.Get(0)->value, 3);
}

TEST_F(CVectorTest, RemoveAllDeletesEverythingAndResetsTheCount) {
  {
    CVector<Tracked> vector;
    for (int i = 0; i < 100; ++i) vector.Add(new Tracked(i));
    vector.RemoveAll();
    EXPECT_EQ(Tracked::live, 0);
    EXPECT_EQ(vector.GetCount(), 0);
    EXPECT_EQ(vector.GetSlotCount(), 160);
    EXPECT_EQ(vector.Get(0), nullptr);
    vector.Add(new Tracked(7));
    vector.Add(new Tracked(8));
    EXPECT_EQ(vector.Get(0)->value, 7);
    EXPECT_EQ(vector.Get(1)->value, 8);
  }
  // Destruction deletes what is still held.
  EXPECT_EQ(Tracked::live, 0);
}

TEST_F(CVectorTest, AddingNullLeavesTheSlotFree) {
  CVector<Tracked> vector;
  vector.Add(nullptr);
  EXPECT_EQ(vector.GetCount(), 1);
  vector.Add(new Tracked(5));
  EXPECT_EQ(vector.Get(0)->value, 5);
}

}  // namespace
