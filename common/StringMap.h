// The slot-array implementation of the case-insensitive name/value text map.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "common/CObjMap.h"
#include "common/CommonExport.h"

// Two parallel slot arrays of owned keys and values. A new map has 50 free
// slots; an insertion that finds no free slot adds 50 more, keeping every
// entry (and every pointer handed out) where it was. Several entries may share
// a key; "key[n]" selects the n-th of them in slot order. Texts handed in are
// copied. A key or value pointer returned by the map stays valid until that
// entry's value is changed or the entry is removed, or until RemoveAll, Copy
// or destruction. Not thread-safe: one thread uses a map at a time.
// Usually created as KVMapImp<StringMap>, which adds copying.
class CORVANE_COMMON_API StringMap : public CObjMap {
 public:
  // An empty map with 50 free slots and a growth step of 50.
  StringMap();
  StringMap(const StringMap&) = delete;
  StringMap& operator=(const StringMap&) = delete;
  // Frees every key and value.
  ~StringMap() override;

  // Value of slot index; null for a free slot, a slot without value or an
  // index not below GetCount().
  const char* Get(unsigned index) const override;
  // Value of the entry GetIndex(name) selects; null when none or valueless.
  const char* Get(const char* name) const override;
  // Walks the slots upwards and returns the first slot whose key equals name
  // (ignoring ASCII case). When name ends in "[n]", the n-th entry (from 0) of
  // the key before the last '[' is selected instead, unless a key equal to the
  // whole name comes first; the base before '[' must not be empty. n is read
  // like atoi after skipping spaces and tabs. -1 when none matches or name is null.
  int GetIndex(const char* name) const override;
  // Key of slot index; null for a free slot or an index not below GetCount().
  const char* GetKey(unsigned index) const override;
  // Stores copies of name and value in the lowest free slot (growing by 50
  // slots when none is free). Never replaces. Returns the slot, or -1 when name
  // is null or empty or value is null. Throws std::bad_alloc when memory runs out.
  int Add(const char* name, const char* value) override;
  // Frees the entry GetIndex(name) selects; other entries keep their slots.
  // Returns the freed slot, or -1 when nothing matched.
  int remove(const char* name) override;
  // Replaces the value of the entry GetIndex(name) selects by a copy of value,
  // or adds name when nothing matches. A null value removes the selected entry
  // and returns -1 (and adds nothing when nothing matches). Returns the slot,
  // or -1 when name is null or empty.
  int Set(const char* name, const char* value) override;
  // Replaces the value of the entry GetIndex(name) selects by a copy of value;
  // never adds. Returns the slot, or -1 when name is null or empty, value is
  // null or nothing matches.
  int Replace(const char* name, const char* value) override;
  // Appends value to the value of the entry GetIndex(name) selects (no
  // separator), or adds it through Set when nothing matches. Returns the slot,
  // or -1 when name is null or empty or value is null; also -1, after printing
  // "Out of memory for string map." to standard output, when the joined text
  // cannot be allocated (the entry is then unchanged).
  int Append(const char* name, const char* value) override;
  // Number of slots, free ones included (0 after RemoveAll).
  unsigned GetCount() const override;
  // Number of occupied slots.
  unsigned GetItemCount() const override;
  // See CObjMap::ToString. An entry without value contributes key, separator
  // and terminator.
  const char* ToString(std::string& out, const char* separator, const char* terminator,
                       const char* prefix) const override;
  // Makes this map a copy of source: same slot count, every key and value at
  // the same slot index, free slots where source has them. source is read only
  // through GetCount, GetKey(index) and Get(index). Copying a map onto itself
  // changes nothing. The growth step is kept. Throws std::bad_alloc when memory
  // runs out, leaving this map unchanged.
  virtual void Copy(const CObjMap& source);

  // Adds value written in decimal through the virtual Add(name, text);
  // returns what that returns.
  int Add(const char* name, int value);
  // Sets value written in decimal through the virtual Set(name, text);
  // returns what that returns.
  int Set(const char* name, int value);
  // Frees every entry and both slot arrays; GetCount() becomes 0. The map stays
  // usable: the next insertion grows it by the growth step.
  void RemoveAll();
  // Prints a line of 36 dashes, then "key = value" for each entry in slot
  // order ("null" for an entry without value), then the dashes again, to
  // standard output.
  void Dump() const;

 private:
  // Slot that a new entry goes to, growing the arrays when none is free.
  unsigned TakeFreeSlot();
  // Stores a copy of value in slot; the old value is freed only after the
  // copy exists, so value may point into it.
  void StoreValue(unsigned slot, const char* value);

  std::vector<std::unique_ptr<char[]>> keys_;
  std::vector<std::unique_ptr<char[]>> values_;
  unsigned growStep_;
  // One past the highest slot that may be occupied: lookups stop there
  // instead of walking the free slots at the end.
  size_t usedEnd_ = 0;
};
