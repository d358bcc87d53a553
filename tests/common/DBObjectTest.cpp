// Tests of the reference counting of registry objects.
#include <gtest/gtest.h>

#include "TrackedObject.h"
#include "common/DBObject.h"

namespace {

using corvane::test::RefCount;
using corvane::test::TrackedObject;

TEST(DBObjectTest, LastReleaseDeletesTheObject) {
  int deaths = 0;
  auto* object = new TrackedObject(&deaths);
  EXPECT_EQ(object->AssertValid(), 1);
  EXPECT_EQ(object->AddRef(), 2);
  EXPECT_EQ(object->AddRef(), 3);
  EXPECT_EQ(object->Release(), 2);
  EXPECT_EQ(object->Release(), 1);
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(object->Release(), 0);
  EXPECT_EQ(deaths, 1);
}

TEST(DBObjectTest, CopyStartsWithItsCreatorsReferenceOnly) {
  int deaths = 0;
  auto* original = new TrackedObject(&deaths);
  original->AddRef();
  original->AddRef();
  auto* copy = new TrackedObject(*original);
  EXPECT_EQ(copy->Release(), 0);
  EXPECT_EQ(deaths, 1);
  EXPECT_EQ(RefCount(original), 3);
  original->Release();
  original->Release();
  original->Release();
  EXPECT_EQ(deaths, 2);
}

TEST(DBObjectTest, AssignmentKeepsTheTargetsCount) {
  int deaths = 0;
  auto* target = new TrackedObject(&deaths);
  target->AddRef();
  TrackedObject source(&deaths);
  *target = source;
  EXPECT_EQ(target->Release(), 1);
  EXPECT_EQ(deaths, 0);
  EXPECT_EQ(target->Release(), 0);
  EXPECT_EQ(deaths, 1);
}

}  // namespace
