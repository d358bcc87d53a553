// Internal: a read-only file descriptor that closes itself, for the file helpers.
#pragma once

#include <cstddef>

namespace corvane {

// Opens a file for reading (others may read and write it meanwhile).
class FileHandle {
 public:
  explicit FileHandle(const char* path);
  ~FileHandle();
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }
  // Size of the open file in bytes, -1 when unknown.
  long long Size() const;
  // Reads up to size bytes, retrying interrupted and short reads until size
  // bytes or the end of file; returns the count, or -1 on error.
  long Read(void* buffer, size_t size);

 private:
  int fd_ = -1;
};

}  // namespace corvane
