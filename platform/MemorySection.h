// Mapped memory sections: growable shared anonymous regions and read-only file views.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace corvane::platform {

// One mapped view over a byte store: either an anonymous shared memory file
// or a regular file opened for reading. The object owns both the store's
// descriptor and the view; destroying it unmaps the view and closes the
// descriptor. Copies made with Duplicate() map the same store, so bytes
// written through one are seen through the other. An object is used by one
// thread at a time; distinct objects over one store may live in different
// threads but concurrent writes to the same bytes are not synchronised.
class MemorySection {
 public:
  ~MemorySection();
  MemorySection(const MemorySection&) = delete;
  MemorySection& operator=(const MemorySection&) = delete;

  // A new zero-filled anonymous region of size bytes, mapped for reading and
  // (when writable) writing. Null when size is 0 or the region cannot be made.
  // Writable regions of up to 4 MB that were never duplicated are kept for
  // reuse when they are destroyed (a few per process, 16 MB in all), so
  // message-sized regions made one after another cost neither system calls
  // nor fresh pages.
  static std::unique_ptr<MemorySection> CreateShared(size_t size, bool writable);

  // Maps the whole regular file at path read-only; the file stays open for
  // others to read and write. *length (not null) receives the file's length,
  // 0 when the file cannot be opened or is not a regular file. Null when the
  // file cannot be opened, is empty, is longer than max_length, or cannot be
  // mapped. A file cut short by someone else while mapped faults on access to
  // the lost pages; callers map files they own.
  static std::unique_ptr<MemorySection> MapFile(const char* path, uint64_t max_length,
                                                uint64_t* length);

  // Replaces the view by one of size bytes with the given access. The first
  // min(old, new) bytes are kept. An anonymous store grows as needed and never
  // shrinks (duplicates may still map its tail). A file view may not pass the
  // file's length and cannot become writable. Returns false, leaving the old
  // view in place, when size is 0 or the view cannot be made. The address of
  // the view may change.
  bool Remap(size_t size, bool writable);

  // A second view, with its own descriptor, of the same store with the same
  // size and access. Null when it cannot be made.
  std::unique_ptr<MemorySection> Duplicate() const;

  // A new writable anonymous region of size bytes holding the first
  // min(Size(), size) bytes of this view; it remembers this view's source
  // file. Null when size is 0 or the region cannot be made.
  std::unique_ptr<MemorySection> PrivateCopy(size_t size) const;

  // Deletes the file at path when it is still the file this view (or the
  // view it was copied from) was mapped from, so a file put in its place
  // meanwhile survives. Returns true when a file was deleted.
  bool RemoveSourceFile(const char* path) const;

  // First byte of the view; valid until Remap or destruction.
  char* Data() const { return view_; }
  // Length of the view in bytes.
  size_t Size() const { return size_; }
  bool IsWritable() const { return writable_; }
  // True for a view of a file opened with MapFile.
  bool IsFile() const { return is_file_; }

 private:
  MemorySection(int descriptor, char* view, size_t size, bool writable, bool is_file);
  // Descriptor of the file this view came from, or -1 for none.
  int SourceDescriptor() const { return is_file_ ? descriptor_ : source_descriptor_; }
  // Gives other its own descriptor of this view's source file.
  void ShareSourceWith(MemorySection& other) const;

  // True when this region may go back to the reuse pool at destruction.
  bool Recyclable() const;
  // Zeroes the stale bytes below upto (see stale_begin_); false when the
  // store could not be cleared.
  bool ClearStale(size_t upto) const;

  int descriptor_;
  char* view_;
  size_t size_;
  bool writable_;
  bool is_file_;
  // Length of the anonymous store (its file size); 0 for file views.
  size_t store_length_ = 0;
  // Set once another view maps the same store: it may never be reused.
  mutable bool shared_ = false;
  // A reused region keeps the pages of its larger store: bytes from
  // stale_begin_ to stale_end_ still hold a former owner's data and are
  // zeroed before any view shows them.
  mutable size_t stale_begin_ = 0;
  mutable size_t stale_end_ = 0;
  // A private copy keeps its source file open so the file's identity (and
  // with it RemoveSourceFile's check) cannot pass to a newer file.
  int source_descriptor_ = -1;
};

}  // namespace corvane::platform
