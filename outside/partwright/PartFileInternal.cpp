// PartFile: a file that receives one multipart part inside the attachment folder.
#include "partwright/PartFileInternal.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>
#include <system_error>

namespace partwright {

namespace {

constexpr size_t kMaxNameBytes = 120;
constexpr int kNameAttempts = 8;

std::string SystemText(int code) {
  return std::error_code(code, std::generic_category()).message();
}

// Closes a descriptor on every way out of a function.
struct DescriptorCloser {
  int fd;
  ~DescriptorCloser() { ::close(fd); }
};

bool KeptInName(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
         c == '-' || c == '_' || c >= 0x80;
}

// "name.ext" becomes "name-1a2b3c4d.ext".
std::string WithSuffix(const std::string& name, unsigned suffix) {
  char text[16];
  std::snprintf(text, sizeof text, "-%08x", suffix);
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + text;
  return name.substr(0, dot) + text + name.substr(dot);
}

}  // namespace

std::unique_ptr<PartFile> PartFile::Create(std::string_view folder, std::string_view filename,
                                           std::string& error) {
  const std::string name = SafeName(filename);
  std::string base(folder);
  if (base.empty() || base.back() != '/') base += '/';
  std::random_device random;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    std::string path = base + (attempt == 0 ? name : WithSuffix(name, random()));
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) return std::unique_ptr<PartFile>(new PartFile(fd, std::move(path)));
    if (errno != EEXIST) {
      error = path + ": " + SystemText(errno);
      return nullptr;
    }
  }
  error = base + name + ": no free name";
  return nullptr;
}

PartFile::~PartFile() {
  if (fd_ >= 0) ::close(fd_);
}

bool PartFile::Write(const char* data, size_t size, std::string& error) {
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error = path_ + ": " + (written < 0 ? SystemText(errno) : std::string("nothing written"));
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

bool PartFile::Close(std::string& error) {
  if (fd_ < 0) return true;
  const int result = ::close(fd_);
  fd_ = -1;
  if (result != 0 && errno != EINTR) {
    error = path_ + ": " + SystemText(errno);
    return false;
  }
  return true;
}

void PartFile::Remove() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  ::unlink(path_.c_str());
}

std::string PartFile::SafeName(std::string_view filename) {
  const size_t slash = filename.find_last_of("/\\");
  if (slash != std::string_view::npos) filename.remove_prefix(slash + 1);
  while (!filename.empty() && filename.front() == '.') filename.remove_prefix(1);
  std::string name;
  for (char c : filename.substr(0, kMaxNameBytes)) {
    name += KeptInName(static_cast<unsigned char>(c)) ? c : '_';
  }
  return name.empty() ? "part" : name;
}

bool PartFile::ReadAll(const std::string& path, size_t max_size, std::string& out,
                       std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = path + ": " + SystemText(errno);
    return false;
  }
  const DescriptorCloser closer{fd};
  struct stat info;
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    error = path + ": not a regular file";
    return false;
  }
  if (static_cast<unsigned long long>(info.st_size) > max_size) {
    error = path + ": longer than " + std::to_string(max_size) + " bytes";
    return false;
  }
  out.resize(static_cast<size_t>(info.st_size));
  size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = ::read(fd, out.data() + done, out.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      error = path + ": " + SystemText(errno);
      return false;
    }
    if (got == 0) break;  // the file shrank while it was read
    done += static_cast<size_t>(got);
  }
  out.resize(done);
  return true;
}

}  // namespace partwright
