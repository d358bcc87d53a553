// Stream handler over a growable mapped section, for large message bodies kept off the heap.
#pragma once

#include <memory>

#include "common/FileMap.h"
#include "common/IOHandler.h"

// Keeps its bytes in a FileMap, created on first use: an anonymous shared
// section that grows by remapping, or a read-only view of a file (MapFile).
// Copies share the mapped bytes. Used by one thread at a time; two copies
// must not be written at the same time.
class CORVANE_COMMON_API MemoryMapIOHandler : public IOHandler {
 public:
  // initial_size is the capacity of the section the first write maps (0 for
  // the FileMap default of 983040 bytes). Nothing is mapped yet.
  explicit MemoryMapIOHandler(unsigned initial_size = 0);
  // Shares other's bytes through a second view of its section; positions and
  // capacity are copied. A handler without section copies as one without.
  MemoryMapIOHandler(const MemoryMapIOHandler& other);
  // Drops this handler's section, then shares other's as the copy constructor.
  MemoryMapIOHandler& operator=(const MemoryMapIOHandler& other);
  // Unmaps and releases the section.
  ~MemoryMapIOHandler() override;

  // Sets buffer[0] to NUL (when buffer is non-null and size > 0), then copies
  // min(size, capacity - read position) bytes: reading is bounded by the
  // capacity, not by the bytes written, so bytes stored directly after
  // Allocate can be read back. Returns the count, 0 when nothing is left or
  // nothing is mapped.
  unsigned long ReadStream(void* buffer, unsigned long size) override;
  // Appends text without its NUL; 0 for null text, else as the data form.
  unsigned long WriteStream(const char* text) override;
  // Appends size bytes, growing the section when needed. Null data only
  // makes room. Returns size when the bytes were stored, 0 for null data or
  // when the section could not be mapped or grown (nothing is then stored).
  unsigned long WriteStream(const void* data, unsigned long size) override;

  // Releases the section; the handler is as newly constructed.
  void Reset() override;
  // First byte of the section, or null when nothing is mapped. Valid until
  // the next write, Allocate, Reset, MapFile, Attach or destruction.
  char* GetBuffer() override;
  // Bytes written (the write position); 0 when nothing is mapped.
  unsigned long GetLength() override;
  // Makes room for size bytes past the write position that the caller may
  // fill through GetBuffer(); on a handler without section the section is
  // exactly size bytes. GetLength() is unchanged. Returns size whether or not
  // the room was made (check GetBuffer() for success); a negative size does
  // nothing and returns 0.
  int Allocate(int size) override;

  // Size of the section in bytes: what Allocate made room for, counted from
  // GetBuffer(); 0 when nothing is mapped.
  unsigned long GetCapacity();
  // Records that size bytes the caller stored past the write position (in
  // room made by Allocate) are content: GetLength() grows by size. Lets a
  // reader fill the section directly rather than copy through WriteStream.
  // Returns false, changing nothing, when nothing writable is mapped or the
  // bytes would pass the capacity.
  bool Commit(unsigned long size);

  // Replaces the content by a read-only view of the regular file name. *size
  // (not null) receives the file's length, or 0 when the file cannot be
  // opened or is longer than 2 GB - 1 bytes (such a file is not mapped).
  // Returns the view, or null for an empty, unopenable or over-long file,
  // which leaves the handler without content. The bytes are read through
  // GetBuffer() and ReadStream up to the file's length; GetLength() stays 0.
  // Writing afterwards continues in a private copy; the file is never changed.
  virtual char* MapFile(const char* name, int* size);
  // Replaces the content by size bytes of data and takes data over: it must
  // come from malloc and is released with free(), even when the bytes could
  // not be stored. The new section holds max(initial size, size) bytes.
  // Null data leaves an empty handler with such a section planned.
  virtual void Attach(void* data, unsigned size);

 private:
  // The FileMap, created with the given capacity when there is none yet.
  FileMap& EnsureMap(unsigned capacity);

  std::unique_ptr<FileMap> map_;
  unsigned initial_size_;
};
