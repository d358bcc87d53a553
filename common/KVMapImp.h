// The copyable name/value map that every component creates, passes around and returns.
#pragma once

#include "common/CObjMap.h"
#include "common/CommonExport.h"
#include "common/StringMap.h"

// Adds value semantics to a map implementation T (StringMap): copying makes a
// map with the same entries at the same slot indexes, through T::Copy.
// Components create it with new, hold it by pointer and delete it through the
// virtual destructor. Not thread-safe: one thread uses a map at a time.
template <class T>
class CORVANE_COMMON_API KVMapImp : public T {
 public:
  // An empty map (for StringMap: 50 free slots).
  KVMapImp();
  // A copy of other's entries at the same slot indexes. Throws std::bad_alloc
  // when memory runs out.
  KVMapImp(const KVMapImp& other);
  // Replaces this map's entries by copies of other's (T::Copy); assigning a map
  // to itself changes nothing. Throws std::bad_alloc when memory runs out,
  // leaving this map unchanged.
  KVMapImp& operator=(const KVMapImp& other);
  ~KVMapImp() override;
};

template <class T>
KVMapImp<T>::KVMapImp() = default;

template <class T>
KVMapImp<T>::KVMapImp(const KVMapImp& other) : T() {
  this->Copy(other);
}

template <class T>
KVMapImp<T>& KVMapImp<T>::operator=(const KVMapImp& other) {
  this->Copy(other);
  return *this;
}

template <class T>
KVMapImp<T>::~KVMapImp() = default;

// The one instantiation lives in the common library (and is exported by
// Wirelane); other translation units use it rather than making their own.
extern template class KVMapImp<StringMap>;
