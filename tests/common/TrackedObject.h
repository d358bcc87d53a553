// A reference-counted test object that reports its destruction.
#pragma once

#include "common/DBObject.h"

namespace corvane::test {

// Counts its own destructions in a counter owned by the test.
class TrackedObject : public DBObject {
 public:
  explicit TrackedObject(int* deaths) : deaths_(deaths) {}
  ~TrackedObject() override { ++*deaths_; }

 private:
  int* deaths_;
};

// The current reference count, read without changing it.
inline int RefCount(DBObject* object) {
  object->AddRef();
  return object->Release();
}

}  // namespace corvane::test
