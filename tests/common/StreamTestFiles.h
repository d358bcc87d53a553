// Helpers for the stream handler tests: a scratch folder, patterned bytes and a file size limit.
#pragma once

#include <sys/resource.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <system_error>

namespace corvane::test {

// A fresh folder under the system's temporary directory, deleted with its
// content when the object goes.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "corvane-streams-XXXXXX").string();
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  bool IsReady() const { return !path_.empty(); }
  // Path of name inside the folder (the file need not exist).
  std::string PathOf(std::string_view name) const { return (path_ / name).string(); }
  // Writes bytes to name (replacing it) and returns its path.
  std::string Write(std::string_view name, std::string_view bytes) const {
    const std::string path = PathOf(name);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }
  // Current content of the file at path, empty when it cannot be read.
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

 private:
  std::filesystem::path path_;
};

// size bytes in a pattern that does not repeat with any power-of-two period,
// so a piece copied to the wrong offset shows.
inline std::string PatternBytes(size_t size) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
  return bytes;
}

// Lowers the process's file size limit for the object's lifetime, so that
// growing a memory section past it fails the way a full system would.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    // Passing the limit raises SIGXFSZ, which would end the test.
    previous_handler_ = std::signal(SIGXFSZ, SIG_IGN);
    active_ = ::getrlimit(RLIMIT_FSIZE, &previous_) == 0;
    rlimit lowered = previous_;
    lowered.rlim_cur = bytes;
    active_ = active_ && ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
  }
  ~FileSizeLimit() {
    if (active_) ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previous_handler_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  bool IsActive() const { return active_; }

 private:
  rlimit previous_{};
  void (*previous_handler_)(int) = SIG_DFL;
  bool active_ = false;
};

}  // namespace corvane::test
