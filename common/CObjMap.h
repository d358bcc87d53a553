// Abstract interface of the name/value text maps that hold headers, cookies and variables.
#pragma once

#include <string>

#include "common/CommonExport.h"

// A map of text keys to text values kept in numbered slots. Keys are compared
// without regard to ASCII letter case; a key may occur more than once. Slot
// indexes run from 0 to GetCount() - 1; a free slot has a null key. Results
// that are indexes are signed 32-bit values where -1 means "none" or
// "rejected". Returned texts belong to the map (see each implementation for
// how long they stay valid). Not thread-safe: one thread uses a map at a time.
class CORVANE_COMMON_API CObjMap {
 public:
  virtual ~CObjMap() = default;

  // Value stored in slot index; null for a free slot, an entry without a value
  // or an index not below GetCount().
  virtual const char* Get(unsigned index) const = 0;
  // Value of the entry GetIndex(name) finds; null when none is found or the
  // entry has no value.
  virtual const char* Get(const char* name) const = 0;
  // Slot of the entry that name selects ("key" or "key[n]" for the n-th entry
  // of key, counted from 0), or -1 when none matches or name is null.
  virtual int GetIndex(const char* name) const = 0;
  // Key stored in slot index; null for a free slot or an index not below GetCount().
  virtual const char* GetKey(unsigned index) const = 0;
  // Inserts a new entry (never replaces). name and value are copied.
  // Returns the slot used, or -1 when name is null or empty or value is null.
  virtual int Add(const char* name, const char* value) = 0;
  // Removes the entry GetIndex(name) finds. Returns -1 when nothing matched,
  // otherwise the freed slot.
  virtual int remove(const char* name) = 0;
  // Adds or replaces the value of the entry name selects; a null value removes
  // that entry. Returns the slot, or -1 (rejected name, null value, or removal).
  virtual int Set(const char* name, const char* value) = 0;
  // Changes the value of an existing entry only. Returns the slot, or -1 when
  // name is null or empty, value is null or no entry matches.
  virtual int Replace(const char* name, const char* value) = 0;
  // Appends value to the existing value of the entry (no separator), or adds
  // the entry. Returns the slot, or -1 when rejected or out of memory.
  virtual int Append(const char* name, const char* value) = 0;
  // Number of slots, free ones included.
  virtual unsigned GetCount() const = 0;
  // Number of occupied slots.
  virtual unsigned GetItemCount() const = 0;
  // Replaces out by every entry in slot order as key, separator, value,
  // terminator. With a non-null prefix each key is written after the prefix
  // with '-' replaced by '_'. Null separator or terminator count as empty.
  // Returns out.c_str(), valid while out is unchanged.
  virtual const char* ToString(std::string& out, const char* separator, const char* terminator,
                               const char* prefix) const = 0;
};
