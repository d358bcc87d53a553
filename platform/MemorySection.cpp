// Mapped memory sections over memfd anonymous files and read-only regular files.
#include "platform/MemorySection.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

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

}  // namespace

MemorySection::MemorySection(int descriptor, char* view, size_t size, bool writable, bool is_file)
    : descriptor_(descriptor), view_(view), size_(size), writable_(writable), is_file_(is_file) {}

MemorySection::~MemorySection() {
  if (view_ != nullptr) ::munmap(view_, size_);
  CloseDescriptor(descriptor_);
  CloseDescriptor(source_descriptor_);
}

std::unique_ptr<MemorySection> MemorySection::CreateShared(size_t size, bool writable) {
  if (size == 0) return nullptr;
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
  return std::unique_ptr<MemorySection>(new MemorySection(descriptor, view, size, writable, false));
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
  } else if (size > static_cast<unsigned long long>(stored) &&
             ::ftruncate(descriptor_, static_cast<off_t>(size)) != 0) {
    return false;
  }

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
  return true;
}

std::unique_ptr<MemorySection> MemorySection::Duplicate() const {
  const int descriptor = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
  if (descriptor < 0) return nullptr;
  char* view = MapView(descriptor, size_, writable_);
  if (view == nullptr) {
    CloseDescriptor(descriptor);
    return nullptr;
  }
  std::unique_ptr<MemorySection> copy(
      new MemorySection(descriptor, view, size_, writable_, is_file_));
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
