// CVector: an owning list of object pointers addressed by slot, with free slots reused first.
#pragma once

#include <memory>
#include <vector>

// Each slot holds one object the vector owns, or nothing (a free slot). The
// slot array starts with 80 slots and grows by 80 when Add finds no free slot.
// The count is the number of Add calls since construction or the last
// RemoveAll; removing or detaching one object does not lower it, so it is not
// the number of objects held. Exhausted memory raises std::bad_alloc from Add,
// and the vector then has not taken the item. Not thread-safe: one thread uses
// a vector at a time. T is deleted with delete, so T must be complete where a
// CVector<T> is destroyed.
template <class T>
class CVector {
 public:
  CVector() : slots_(kGrowthStep) {}
  // Deletes every object still held.
  virtual ~CVector() = default;
  CVector(const CVector&) = delete;
  CVector& operator=(const CVector&) = delete;

  // Stores item (the vector takes ownership; it must not already be held by
  // this or another owner; null leaves the slot free) in the lowest free slot, growing the slot
  // array by 80 free slots when none is free. Raises the count by one. Returns 1.
  int Add(T* item) {
    while (first_free_ < slots_.size() && slots_[first_free_] != nullptr) ++first_free_;
    if (first_free_ == slots_.size()) slots_.resize(slots_.size() + kGrowthStep);
    slots_[first_free_].reset(item);
    ++count_;
    return 1;
  }

  // The object in slot index, still owned by the vector; null for a free slot
  // or an index not below the slot count (including -1 converted to unsigned).
  T* Get(unsigned index) const { return index < slots_.size() ? slots_[index].get() : nullptr; }

  // Deletes the object in slot index and frees the slot. Free slots and
  // indexes not below the slot count are ignored. The count is not changed.
  void RemoveAt(unsigned index) {
    if (index >= slots_.size()) return;
    slots_[index].reset();
    MarkFree(index);
  }

  // Frees slot index without deleting its object and returns that object,
  // which the caller now owns (null for a free or invalid slot). The count is
  // not changed.
  T* Detach(unsigned index) {
    if (index >= slots_.size()) return nullptr;
    T* item = slots_[index].release();
    MarkFree(index);
    return item;
  }

  // Deletes every object and sets the count to 0; the slot count stays.
  void RemoveAll() {
    for (auto& slot : slots_) slot.reset();
    first_free_ = 0;
    count_ = 0;
  }

  // The number of Add calls since construction or the last RemoveAll.
  int GetCount() const { return count_; }

  // The number of slots, free or used (80 at construction).
  int GetSlotCount() const { return static_cast<int>(slots_.size()); }

 private:
  static constexpr size_t kGrowthStep = 80;

  void MarkFree(unsigned index) {
    if (index < first_free_) first_free_ = index;
  }

  std::vector<std::unique_ptr<T>> slots_;
  // No slot below this index is free; lets Add skip the filled front quickly.
  size_t first_free_ = 0;
  int count_ = 0;
};
