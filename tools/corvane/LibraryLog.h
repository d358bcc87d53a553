// Keeps the libraries' log lines out of the terminal while a verb runs, so a failure can be told in
// one line.
#pragma once

#include <string>

namespace corvanetool {

// While the object lives, the family's Debug output goes to a private
// temporary file instead of standard error; the destructor sends it back to
// standard error and removes the file. When the user named a log file
// (CORVANE_LOG) or asked for debug output, nothing is redirected and
// FirstError() stays empty. One object at a time per process.
class LibraryLog {
 public:
  // capture: false leaves the output where it is (for -v).
  explicit LibraryLog(bool capture);
  ~LibraryLog();
  LibraryLog(const LibraryLog&) = delete;
  LibraryLog& operator=(const LibraryLog&) = delete;

  // The message of the first error or warning logged so far, without the
  // time, thread, operation and source-file tag ("Error connecting to
  // 127.0.0.1:1, Connection refused"); empty when there was none or nothing
  // was captured.
  std::string FirstError() const;

 private:
  std::string path_;  // empty when not capturing
};

}  // namespace corvanetool
