// Slot storage and reference handling of the object registry.
#include "common/ObjectMap.h"

#include <string_view>
#include <utility>

#include "common/NoCase.h"
#include "common/TextSlotsInternal.h"

namespace {
constexpr unsigned kNone = static_cast<unsigned>(-1);
constexpr unsigned kGrowthStep = 20;
}  // namespace

ObjectMap::ObjectMap(unsigned size) : keys_(size), objects_(size) {}

ObjectMap::ObjectMap(const ObjectMap& other)
    : keys_(other.keys_.size()), objects_(other.objects_.size()) {
  for (size_t i = 0; i < other.keys_.size(); ++i) {
    if (!other.keys_[i]) continue;
    keys_[i] = corvane::CopyText(other.keys_[i].get());
    if (DBObject* object = other.objects_[i].get()) {
      object->AddRef();
      objects_[i].reset(object);
    }
  }
}

ObjectMap& ObjectMap::operator=(const ObjectMap& other) {
  if (&other == this) return *this;
  // Build the copy first: the old entries are released only once it exists,
  // so an object held by both maps never drops to zero on the way.
  ObjectMap copy(other);
  keys_.swap(copy.keys_);
  objects_.swap(copy.objects_);
  return *this;
}

ObjectMap::~ObjectMap() { RemoveAll(); }

unsigned ObjectMap::GetIndex(const char* name) const {
  if (name == nullptr) return kNone;
  const std::string_view wanted = name;
  for (size_t i = 0; i < keys_.size(); ++i) {
    if (keys_[i] && corvane::EqualsNoCase(keys_[i].get(), wanted)) return static_cast<unsigned>(i);
  }
  return kNone;
}

DBObject* ObjectMap::Get(const char* name) const { return Get(GetIndex(name)); }

DBObject* ObjectMap::operator[](const char* name) const { return Get(name); }

DBObject* ObjectMap::Get(unsigned index) const {
  return index < objects_.size() ? objects_[index].get() : nullptr;
}

DBObject* ObjectMap::operator[](unsigned index) const { return Get(index); }

const char* ObjectMap::GetKey(unsigned index) const {
  return index < keys_.size() ? keys_[index].get() : nullptr;
}

unsigned ObjectMap::GetCount() const { return static_cast<unsigned>(keys_.size()); }

unsigned ObjectMap::GetItemCount() const { return corvane::CountUsedSlots(keys_); }

unsigned ObjectMap::TakeFreeSlot() {
  const size_t slot = corvane::LowestFreeSlot(keys_);
  if (slot == keys_.size()) Expand(kGrowthStep);
  return static_cast<unsigned>(slot);
}

unsigned ObjectMap::Add(const char* name, DBObject* object) {
  if (name == nullptr) return kNone;
  corvane::OwnedText key = corvane::CopyText(name);
  const unsigned slot = TakeFreeSlot();
  keys_[slot] = std::move(key);
  objects_[slot].reset(object);
  return slot;
}

unsigned ObjectMap::Put(const char* name, DBObject* object) {
  if (name == nullptr || object == nullptr) return kNone;
  // The whole map is searched, free slots included, so a name stored behind
  // a removed entry is replaced rather than stored a second time.
  const unsigned index = GetIndex(name);
  if (index == kNone) return Add(name, object);
  objects_[index].reset(object);
  return index;
}

unsigned ObjectMap::Set(const char* name, DBObject* object) {
  const unsigned index = GetIndex(name);
  if (index == kNone) return kNone;
  objects_[index].reset(object);
  return index;
}

unsigned ObjectMap::Replace(const char* name, DBObject* object) {
  const unsigned index = GetIndex(name);
  if (index == kNone) return 0;
  if (!objects_[index] || objects_[index].get() == object) return 0;
  objects_[index].reset(object);
  return 1;
}

void ObjectMap::remove(const char* name) {
  const unsigned index = GetIndex(name);
  if (index == kNone) return;
  keys_[index].reset();
  objects_[index].reset();
}

void ObjectMap::RemoveAll() {
  // Move the entries out first: a Release may run an object's destructor,
  // which then finds the map already empty instead of half-cleared.
  std::vector<corvane::OwnedText> keys;
  std::vector<Held> objects;
  keys.swap(keys_);
  objects.swap(objects_);
}

unsigned ObjectMap::Expand(unsigned more) {
  const size_t grown = keys_.size() + more;
  keys_.reserve(grown);
  objects_.reserve(grown);  // both reserved first so a failure leaves the arrays alike
  keys_.resize(grown);
  objects_.resize(grown);
  return 1;
}
