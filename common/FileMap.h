// A growable memory-mapped section with read and write positions, the store behind
// MemoryMapIOHandler.
#pragma once

#include <memory>
#include <string>

#include "common/CommonExport.h"

namespace corvane::platform {
class MemorySection;
}

// Holds bytes in a mapped section outside the ordinary heap: an anonymous
// shared region that grows by remapping (old bytes survive growth), or a
// read-only view of an existing file. Bytes are written at the write
// position (the content length) and read from the read position; reading is
// bounded by the capacity, so bytes a caller stored directly through
// GetView() can be read back. Copies share the mapped bytes. Not
// thread-safe: one thread uses an object at a time, and two copies must not
// be written at the same time.
class CORVANE_COMMON_API FileMap {
 public:
  // Page protections accepted by Map (same numbers as the page-protection
  // constants hosts were written against).
  static constexpr unsigned kReadOnly = 0x02;
  static constexpr unsigned kReadWrite = 0x04;
  // Capacity of a map constructed with 0.
  static constexpr unsigned kDefaultCapacity = 983040;
  // Least number of bytes added when a write outgrows the section.
  static constexpr unsigned kGrowthStep = 327680;

  // No section is made yet; the first Write maps max(capacity, length) bytes.
  // capacity 0 means kDefaultCapacity.
  explicit FileMap(unsigned capacity = 0);
  // Maps a new view of other's section: both see the same bytes. Positions,
  // capacity, file name and delete-on-close flag are copied. When the view
  // cannot be made the copy has no view (its next Write maps a fresh section).
  FileMap(const FileMap& other);
  // Closes this map (see Close), then copies other as the copy constructor.
  FileMap& operator=(const FileMap& other);
  // Close().
  virtual ~FileMap();

  // The write position: number of bytes written.
  virtual unsigned GetLength();
  // Unmaps the view and releases the section. A file map closes its file and,
  // with the delete-on-close flag, deletes it when the name still refers to
  // the mapped file (a file put in its place is left alone). Capacity and
  // both positions become 0 and the file name is cleared. Harmless when
  // nothing is mapped.
  virtual void Close();
  // Replaces the view by one over a section of size bytes. protection is
  // kReadOnly or kReadWrite; offset must be 0 and count 0 or size (views of
  // a whole section only). Bytes of the old view are kept, up to size. On
  // success the capacity becomes size and positions past it are pulled back
  // to it. A read-only file view asked to become writable continues as a
  // private writable copy of its bytes; the file itself is never written.
  // On failure (other arguments, size 0, no memory) nothing changes. The
  // result can be seen with GetView() and GetCapacity().
  virtual void Map(unsigned size, unsigned protection, unsigned offset, unsigned count);

  // Copies min(length, capacity - read position) bytes from the view at the
  // read position into buffer and advances the read position. Returns the
  // count: 0 with no view, a null buffer, or nothing left.
  unsigned long Read(void* buffer, unsigned long length);
  // Appends length bytes of data at the write position. Without a view a
  // section of max(capacity, length) bytes is mapped first; when write
  // position + length reaches or passes the capacity the section grows to
  // capacity + max(kGrowthStep, length) (at most 4 GB - 1). data may be null
  // to only make room. Returns the count copied: length, or 0 for null data,
  // length 0, or when the room could not be made (nothing is then copied;
  // lengths that would take the write position past 4 GB - 1 always fail).
  unsigned long Write(const void* data, unsigned long length);

  // Records that length bytes the caller stored through GetView() at the
  // write position are content: the write position advances by length, so
  // bytes can be read into the view directly instead of through Write.
  // Returns false, changing nothing, when there is no writable view or the
  // bytes would pass the capacity.
  bool Commit(unsigned long length);

  // Closes the current section, then maps the regular file name read-only
  // over its whole length (others may read and write the file meanwhile).
  // *length (not null) receives the file's length, 0 when the file cannot be
  // opened. Returns true when a view was made; false for a null or empty
  // name, an unopenable or empty file, or one longer than 4 GB - 1 bytes,
  // leaving the map without a view. Positions start at 0; the capacity is the
  // file's length.
  bool MapFile(const char* name, unsigned long long* length);

  // First byte of the view, or null. Valid until the next Write, Map,
  // MapFile, Close or destruction.
  char* GetView() const;
  // Size of the section in bytes (the planned size while nothing is mapped).
  unsigned GetCapacity() const { return capacity_; }
  unsigned GetReadPosition() const { return read_position_; }
  // Name of the mapped file; empty for an anonymous section. Owned by the map.
  const char* GetFileName() const { return file_name_.c_str(); }
  // When set, Close deletes the mapped file (see Close). Copies inherit the
  // flag: the first of them to close deletes the file, the others keep
  // reading their views of it.
  void SetDeleteOnClose(bool enabled) { delete_on_close_ = enabled; }
  bool GetDeleteOnClose() const { return delete_on_close_; }

 private:
  void CopyFrom(const FileMap& other);
  // Map with the protection already decoded; true when a view of size bytes
  // is in place.
  bool Remap(unsigned size, bool writable);
  // Keeps both positions within the capacity after a view shrank.
  void ClampPositions();

  std::unique_ptr<corvane::platform::MemorySection> section_;
  unsigned capacity_;
  unsigned read_position_ = 0;
  unsigned write_position_ = 0;
  std::string file_name_;
  bool delete_on_close_ = false;
};
