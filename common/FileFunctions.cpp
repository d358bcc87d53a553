// Whole-file helpers on POSIX descriptors.
#include "common/FileFunctions.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "common/FileHandleInternal.h"
#include "platform/SystemError.h"

namespace {

// Closes the descriptor of a file being written when the write ends.
class WriteDescriptor {
 public:
  explicit WriteDescriptor(const char* name)
      // O_DSYNC makes each write reach the disk before it returns (write-through).
      : fd_(::open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_DSYNC, 0666)) {}
  ~WriteDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  WriteDescriptor(const WriteDescriptor&) = delete;
  WriteDescriptor& operator=(const WriteDescriptor&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  // Writes all size bytes, resuming after short and interrupted writes.
  bool WriteAll(const char* data, size_t size) {
    while (size > 0) {
      const ssize_t written = ::write(fd_, data, size);
      if (written < 0) {
        if (corvane::platform::LastSystemError() == EINTR) continue;
        return false;
      }
      if (written == 0) return false;
      data += written;
      size -= static_cast<size_t>(written);
    }
    return true;
  }

  // Closes now so a failing close (delayed write errors) can be reported.
  bool Close() {
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0;
  }

 private:
  int fd_;
};

}  // namespace

bool FileExists(const char* name) { return corvane::FileHandle(name).IsOpen(); }

char* ReadWholeFile(const char* name, unsigned long* size) {
  if (size != nullptr) *size = 0;
  corvane::FileHandle file(name);
  if (!file.IsOpen()) return nullptr;
  const long long length = file.Size();
  if (length <= 0) return nullptr;
  auto buffer = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(length) + 1);
  const long got = file.Read(buffer.get(), static_cast<size_t>(length));
  // A file that shrank meanwhile yields what was there; nothing read is a failure.
  if (got <= 0) return nullptr;
  buffer[static_cast<size_t>(got)] = '\0';
  if (size != nullptr) *size = static_cast<unsigned long>(got);
  return buffer.release();
}

int WriteWholeFile(const char* name, const char* data, long long length) {
  if (name == nullptr || *name == '\0' || data == nullptr) return 0;
  const size_t count = length > 0 ? static_cast<size_t>(length) : std::strlen(data);
  WriteDescriptor file(name);
  if (!file.IsOpen()) return 0;
  const bool written = file.WriteAll(data, count);
  const bool closed = file.Close();
  return written && closed ? 1 : 0;
}

unsigned long GetFileLength(const char* name) {
  const corvane::FileHandle file(name);
  const long long length = file.Size();
  return length > 0 ? static_cast<unsigned long>(length) : 0;
}
