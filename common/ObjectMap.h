// Registry that keeps reference-counted host objects under case-insensitive names.
#pragma once

#include <memory>
#include <vector>

#include "common/CommonExport.h"
#include "common/DBObject.h"

// Parallel slot arrays of owned key texts and DBObject pointers. A slot is in
// use when it has a key; its object may be null. The map holds one reference
// to every object it stores and gives it back (Release) when the entry is
// replaced or removed, or the map is emptied or destroyed; that Release
// deletes an object nobody else references. Names are compared without regard
// to ASCII letter case; a name may be stored more than once (by Add). Indexes
// are unsigned; "not found" and "rejected" are -1 (all bits set). Key pointers
// handed out stay valid until that entry is removed or the map is emptied or
// destroyed. Not thread-safe: one thread uses a map and its objects at a time.
class CORVANE_COMMON_API ObjectMap {
 public:
  // A map with size free slots (0 allowed).
  explicit ObjectMap(unsigned size);
  // A map with other's slot count, its keys (copied) and objects at the same
  // indexes; each object present gets AddRef, so both maps share them.
  ObjectMap(const ObjectMap& other);
  // Makes this map a copy of other as the copy constructor does, releasing the
  // objects it held before. Assigning a map to itself changes nothing.
  ObjectMap& operator=(const ObjectMap& other);
  // Releases every stored object (as RemoveAll).
  virtual ~ObjectMap();

  // Index of the first used slot whose key equals name without regard to
  // case; -1 when none matches or name is null. No "name[n]" selector.
  virtual unsigned GetIndex(const char* name) const;

  // The object stored under name; null when name is not found or the entry
  // has no object. The map keeps its reference; AddRef to keep the object.
  DBObject* Get(const char* name) const;
  // Same as Get(name).
  DBObject* operator[](const char* name) const;
  // The object at index; null for a free slot, an entry without object or an
  // index not below GetCount(). The map keeps its reference.
  DBObject* Get(unsigned index) const;
  // Same as Get(index).
  DBObject* operator[](unsigned index) const;
  // The key at index; null for a free slot or an index not below GetCount().
  const char* GetKey(unsigned index) const;
  // Number of slots, free ones included.
  unsigned GetCount() const;
  // Number of used slots.
  unsigned GetItemCount() const;

  // Stores object (may be null) under a copy of name in the lowest free slot,
  // growing the map by 20 slots when none is free; never replaces. The map
  // takes over the caller's reference. Returns the slot, or -1 when name is
  // null; the caller then keeps its reference.
  unsigned Add(const char* name, DBObject* object);
  // Replaces the object of the entry GetIndex(name) finds (releasing the old
  // one), or adds name in the lowest free slot (growing by 20 when none is
  // free). The map takes over the caller's reference. Returns the slot, or -1
  // when name or object is null (the caller then keeps its reference).
  unsigned Put(const char* name, DBObject* object);
  // Replaces the object of the entry GetIndex(name) finds, releasing the old
  // one; object may be null, leaving the entry without object. Never adds.
  // The map takes over the caller's reference. Returns the slot, or -1 when
  // the name is not found (the caller then keeps its reference).
  unsigned Set(const char* name, DBObject* object);
  // Exchanges the object of the entry GetIndex(name) finds, releasing the old
  // one; object may be null. Returns 1 when exchanged (the map took over the
  // caller's reference), 0 when the name is not found, the entry has no
  // object, or it already holds this very object (nothing is released and the
  // caller keeps its reference).
  unsigned Replace(const char* name, DBObject* object);
  // Frees the entry GetIndex(name) finds and releases its object; the slot
  // becomes free and no other entry moves. Does nothing when not found.
  void remove(const char* name);
  // Frees every key, releases every object and drops both arrays; GetCount()
  // becomes 0. The map stays usable.
  void RemoveAll();

 protected:
  // Adds more free slots at the end, keeping entries at their indexes; returns 1.
  unsigned Expand(unsigned more);

 private:
  // Gives the map's reference back when an entry lets go of its object.
  struct ReleaseReference {
    void operator()(DBObject* object) const { object->Release(); }
  };
  using Held = std::unique_ptr<DBObject, ReleaseReference>;

  // Slot for a new entry: the lowest free one, after growing when none is free.
  unsigned TakeFreeSlot();

  std::vector<std::unique_ptr<char[]>> keys_;
  std::vector<Held> objects_;
};
