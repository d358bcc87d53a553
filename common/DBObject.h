// Reference-counted base class of the host objects kept in an ObjectMap.
#pragma once

#include "common/CommonExport.h"

// An object that lives as long as someone holds a reference to it. It starts
// with one reference, its creator's; AddRef takes another and Release gives
// one back, deleting the object when none is left. Create it with new when it
// will be released. The count is a plain integer: one thread uses an object
// at a time.
class CORVANE_COMMON_API DBObject {
 public:
  // A new object holding its creator's reference (count 1).
  DBObject();
  // A copy is a new object: it holds its creator's reference only (count 1),
  // whatever other's count is.
  DBObject(const DBObject& other);
  // Assignment copies the state of subclasses only; this object's count stays,
  // since the references held to it do not change.
  DBObject& operator=(const DBObject& other);
  virtual ~DBObject();

  // Takes a reference; returns the new count.
  virtual int AddRef();
  // Gives a reference back; when the count drops to 0 or below the object
  // deletes itself (through the virtual destructor) and must not be used
  // again. Returns the new count.
  virtual int Release();
  // 1 when the object's state is sound; subclasses may check more.
  virtual int AssertValid();

 private:
  int m_nRef;
};
