// Reference counting of the registry's host objects.
#include "common/DBObject.h"

DBObject::DBObject() : m_nRef(1) {}

DBObject::DBObject(const DBObject&) : m_nRef(1) {}

DBObject& DBObject::operator=(const DBObject&) { return *this; }

DBObject::~DBObject() = default;

int DBObject::AddRef() { return ++m_nRef; }

int DBObject::Release() {
  const int remaining = --m_nRef;
  if (remaining <= 0) delete this;
  return remaining;
}

int DBObject::AssertValid() { return 1; }
