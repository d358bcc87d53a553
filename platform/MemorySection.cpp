// Mapped memory sections over memfd anonymous files and read-only regular files.
#include "platform/MemorySection.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <vector>

namespace corvane::platform {

namespace {

// Regions from this size on ask for transparent huge pages: first writes to
// fresh 4 KB pages dominate the cost of filling large message bodies.
constexpr size_t kHugePageThreshold = size_t{2} << 20;

int Protection(bool writable) { return writable ? PROT_READ | PROT_WRITE : PROT_READ; }

char* MapView(int descriptor, size_t size, bool writable) {
  void* view = ::mmap(nullptr, size, Protection(writable), MAP_SHARED, descriptor, 0);
  return view == MAP_FAILED ? nullptr : static_cast<char*>(view);
}

void AdviseHugePages(char* view, size_t size) {
  // Only a hint: refused where the kernel keeps shared memory in small pages.
  if (size >= kHugePageThreshold) ::madvise(view, size, MADV_HUGEPAGE);
}

long long StoreLength(int descriptor) {
  struct stat info;
  if (::fstat(descriptor, &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

void CloseDescriptor(int descriptor) {
  // The descriptor is gone after close() even when it reports EINTR.
  if (descriptor >= 0) ::close(descriptor);
}

// Regions whose store is up to this size go back to a small process-wide
// pool when freed: making a fresh one costs five system calls, and filling it
// a page fault per 4 KB page, which here costs more than the bytes themselves
// take to arrive over loopback. A message body of a few megabytes read again
// and again thus lands in pages that are already in place.
constexpr size_t kPooledRegionLimit = size_t{4} << 20;
// What the pool may keep in all: idle memory stays bounded.
constexpr size_t kPoolCapacity = 8;
constexpr size_t kPoolBytes = size_t{16} << 20;

struct PooledRegion {
  int descriptor;
  char* view;
  size_t size;
  size_t store_length;
};

class RegionPool {
 public:
  bool Put(const PooledRegion& region) {
    std::lock_guard<std::mutex> guard(lock_);
    if (regions_.size() >= kPoolCapacity || bytes_ + region.store_length > kPoolBytes) return false;
    regions_.push_back(region);
    bytes_ += region.store_length;
    return true;
  }
  // The region whose store fits size most closely, else the largest one
  // (which then grows least).
  bool Take(size_t size, PooledRegion* region) {
    std::lock_guard<std::mutex> guard(lock_);
    if (regions_.empty()) return false;
    auto chosen = regions_.begin();
    for (auto at = regions_.begin(); at != regions_.end(); ++at) {
      const bool fits = at->store_length >= size;
      const bool chosen_fits = chosen->store_length >= size;
      if (fits ? !chosen_fits || at->store_length < chosen->store_length
               : !chosen_fits && at->store_length > chosen->store_length)
        chosen = at;
    }
    *region = *chosen;
    bytes_ -= chosen->store_length;
    regions_.erase(chosen);
    return true;
  }

 private:
  std::mutex lock_;
  std::vector<PooledRegion> regions_;
  size_t bytes_ = 0;
};

RegionPool& Pool() {
  static RegionPool* pool = new RegionPool;  // lives until exit: regions may be freed late
  return *pool;
}

void Release(const PooledRegion& region) {
  ::munmap(region.view, region.size);
  CloseDescriptor(region.descriptor);
}

// A pooled region reshaped to a view of size zero-filled writable bytes, or
// false. A larger store keeps its pages: its bytes past size are stale and
// are zeroed when a view grows over them (see MemorySection::stale_).
bool Reuse(size_t size, PooledRegion* region) {
  if (size > kPooledRegionLimit || !Pool().Take(size, region)) return false;
  const size_t dirty = std::min(size, region->store_length);
  if (region->store_length < size) {
    // Growing the store adds zero-filled bytes.
    if (::ftruncate(region->descriptor, static_cast<off_t>(size)) != 0) {
      Release(*region);
      return false;
    }
    region->store_length = size;
  }
  if (region->size != size) {
    void* moved = ::mremap(region->view, region->size, size, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) {
      Release(*region);
      return false;
    }
    region->view = static_cast<char*>(moved);
    region->size = size;
  }
  std::memset(region->view, 0, dirty);
  return true;
}

}  // namespace

MemorySection::MemorySection(int descriptor, char* view, size_t size, bool writable, bool is_file)
    : descriptor_(descriptor), view_(view), size_(size), writable_(writable), is_file_(is_file) {}

MemorySection::~MemorySection() {
  if (Recyclable() && Pool().Put({descriptor_, view_, size_, store_length_})) return;
  if (view_ != nullptr) ::munmap(view_, size_);
  CloseDescriptor(descriptor_);
  CloseDescriptor(source_descriptor_);
}

bool MemorySection::Recyclable() const {
  return !is_file_ && writable_ && !shared_ && source_descriptor_ < 0 && view_ != nullptr &&
         store_length_ <= kPooledRegionLimit;
}

std::unique_ptr<MemorySection> MemorySection::CreateShared(size_t size, bool writable) {
  if (size == 0) return nullptr;
  PooledRegion reused;
  if (writable && Reuse(size, &reused)) {
    std::unique_ptr<MemorySection> section(
        new MemorySection(reused.descriptor, reused.view, size, true, false));
    section->store_length_ = reused.store_length;
    section->stale_begin_ = size;
    section->stale_end_ = reused.store_length;
    return section;
  }
  const int descriptor = ::memfd_create("corvane-section", MFD_CLOEXEC);
  if (descriptor < 0) return nullptr;
  if (::ftruncate(descriptor, static_cast<off_t>(size)) != 0) {
    CloseDescriptor(descriptor);
    return nullptr;
  }
  char* view = MapView(descriptor, size, writable);
  if (view == nullptr) {
    CloseDescriptor(descriptor);
    return nullptr;
  }
  AdviseHugePages(view, size);
  std::unique_ptr<MemorySection> section(new MemorySection(descriptor, view, size, writable, false));
  section->store_length_ = size;
  return section;
}

std::unique_ptr<MemorySection> MemorySection::MapFile(const char* path, uint64_t max_length,
                                                      uint64_t* length) {
  *length = 0;
  if (path == nullptr || *path == '\0') return nullptr;
  const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  struct stat info;
  if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
    CloseDescriptor(descriptor);
    return nullptr;
  }
  *length = static_cast<uint64_t>(info.st_size);
  char* view = nullptr;
  if (*length != 0 && *length <= max_length) view = MapView(descriptor, *length, false);
  if (view == nullptr) {
    CloseDescriptor(descriptor);
    return nullptr;
  }
  return std::unique_ptr<MemorySection>(
      new MemorySection(descriptor, view, static_cast<size_t>(*length), false, true));
}

bool MemorySection::Remap(size_t size, bool writable) {
  if (size == 0) return false;
  const long long stored = StoreLength(descriptor_);
  if (stored < 0) return false;
  if (is_file_) {
    // Pages past the end of a file fault on access, and the descriptor is
    // read-only: a file view can only shrink or keep its size, read-only.
    if (writable || size > static_cast<unsigned long long>(stored)) return false;
  } else if (size > static_cast<unsigned long long>(stored)) {
    if (::ftruncate(descriptor_, static_cast<off_t>(size)) != 0) return false;
    store_length_ = size;
  }

  // A view that grows over bytes a former owner left must show zeros there:
  // a writable view zeroes them in place once it is mapped, keeping their
  // pages; a read-only one cannot, so they are dropped from the store first.
  if (!writable && !ClearStale(size)) return false;
  char* view = nullptr;
  if (writable == writable_) {
    void* moved = ::mremap(view_, size_, size, MREMAP_MAYMOVE);
    if (moved == MAP_FAILED) return false;
    view = static_cast<char*>(moved);
  } else {
    view = MapView(descriptor_, size, writable);
    if (view == nullptr) return false;
    ::munmap(view_, size_);
  }
  if (!is_file_) AdviseHugePages(view, size);
  view_ = view;
  size_ = size;
  writable_ = writable;
  ClearStale(size);  // only bytes inside the writable view are left to clear
  return true;
}

bool MemorySection::ClearStale(size_t upto) const {
  const size_t end = std::min(upto, stale_end_);
  if (stale_begin_ >= end) return true;
  // Bytes inside a writable view are zeroed in place, keeping their pages;
  // the rest are dropped from the store, which then reads back as zeros.
  const size_t in_view = writable_ ? std::clamp(size_, stale_begin_, end) : stale_begin_;
  std::memset(view_ + stale_begin_, 0, in_view - stale_begin_);
  if (in_view < end &&
      ::fallocate(descriptor_, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE,
                  static_cast<off_t>(in_view), static_cast<off_t>(end - in_view)) != 0)
    return false;
  stale_begin_ = end;
  return true;
}

std::unique_ptr<MemorySection> MemorySection::Duplicate() const {
  // Both views may grow over the stale bytes later; they are cleared now so
  // that neither zeroes what the other wrote there.
  if (!ClearStale(stale_end_)) return nullptr;
  shared_ = true;
  const int descriptor = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return nullptr;
  char* view = MapView(descriptor, size_, writable_);
  if (view == nullptr) {
    CloseDescriptor(descriptor);
    return nullptr;
  }
  std::unique_ptr<MemorySection> copy(
      new MemorySection(descriptor, view, size_, writable_, is_file_));
  copy->shared_ = true;
  copy->store_length_ = store_length_;
  ShareSourceWith(*copy);
  return copy;
}

std::unique_ptr<MemorySection> MemorySection::PrivateCopy(size_t size) const {
  std::unique_ptr<MemorySection> copy = CreateShared(size, true);
  if (!copy) return nullptr;
  std::memcpy(copy->view_, view_, std::min(size_, size));
  ShareSourceWith(*copy);
  return copy;
}

void MemorySection::ShareSourceWith(MemorySection& other) const {
  if (!other.is_file_ && SourceDescriptor() >= 0) {
    other.source_descriptor_ = ::fcntl(SourceDescriptor(), F_DUPFD_CLOEXEC, 0);
  }
}

bool MemorySection::RemoveSourceFile(const char* path) const {
  if (SourceDescriptor() < 0 || path == nullptr || *path == '\0') return false;
  struct stat named;
  struct stat source;
  if (::stat(path, &named) != 0 || ::fstat(SourceDescriptor(), &source) != 0 ||
      named.st_dev != source.st_dev || named.st_ino != source.st_ino) {
    return false;
  }
  return ::unlink(path) == 0;
}

}  // namespace corvane::platform
