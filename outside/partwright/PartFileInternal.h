// PartFile: a file that receives one multipart part inside the attachment folder.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace partwright {

// Owns the descriptor of a newly created file; closing it is left to the
// destructor or Close. Used by one thread at a time.
class PartFile {
 public:
  // Creates a new file in folder (which must exist) named after the sender's
  // filename made safe by SafeName; when that name is taken, a random suffix
  // is added before the extension. An existing file is never opened or
  // replaced and symbolic links are not followed. The file is readable and
  // writable by the owner only. Returns null (error set to the reason) when
  // no file could be created.
  static std::unique_ptr<PartFile> Create(std::string_view folder, std::string_view filename,
                                          std::string& error);
  ~PartFile();
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;

  // Appends size bytes; false (error set) when they could not all be written.
  bool Write(const char* data, size_t size, std::string& error);
  // Closes the file; false (error set) when the system reports a failure.
  bool Close(std::string& error);
  // Closes the file and deletes it.
  void Remove();
  // Folder, "/" and the name chosen.
  const std::string& path() const { return path_; }

  // A name that stays inside a folder: only the last path segment of
  // filename (after '/' or '\'), every byte other than ASCII letters, digits,
  // '.', '-', '_' and non-ASCII bytes turned into '_', leading dots removed,
  // at most 120 bytes; "part" when nothing is left.
  static std::string SafeName(std::string_view filename);
  // Replaces out by the whole content of the regular file at path. False
  // (error set) when it cannot be opened or read, is not a regular file, or
  // is longer than max_size bytes.
  static bool ReadAll(const std::string& path, size_t max_size, std::string& out,
                      std::string& error);

 private:
  PartFile(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}

  int fd_;
  std::string path_;
};

}  // namespace partwright
