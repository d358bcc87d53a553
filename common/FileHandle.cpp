// Read-only file descriptor wrapper used by the file helpers and stream handlers.
#include "common/FileHandleInternal.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace corvane {

FileHandle::FileHandle(const char* path) {
  if (path != nullptr && *path != '\0') fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd_ >= 0) {
    struct stat info;
    // A directory opens for reading on Linux but is not a file to load.
    if (::fstat(fd_, &info) != 0 || S_ISDIR(info.st_mode)) {
      ::close(fd_);
      fd_ = -1;
    } else {
      ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
    }
  }
}

FileHandle::~FileHandle() {
  if (fd_ >= 0) ::close(fd_);
}

long long FileHandle::Size() const {
  struct stat info;
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) return -1;
  return static_cast<long long>(info.st_size);
}

long FileHandle::Read(void* buffer, size_t size) {
  size_t total = 0;
  char* out = static_cast<char*>(buffer);
  while (total < size) {
    const ssize_t got = ::read(fd_, out + total, size - total);
    if (got < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (got == 0) break;
    total += static_cast<size_t>(got);
  }
  return static_cast<long>(total);
}

}  // namespace corvane
