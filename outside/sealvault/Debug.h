// Debug: the thread-safe, levelled log of the whole family.
#pragma once

#include <atomic>

#include "sealvault/SealvaultExport.h"

// One Debug object is made on the stack at the start of an operation, usually
// labelled with the operation's name ("NetClient::Send"); its output functions
// write whole lines to standard error, or to the file named by the environment
// variable CORVANE_LOG (read once, at the first output), or to the file given
// to SetLogFile. Every function takes a printf format; messages carry their
// own line ends. Nothing here fails or throws, and every function may be called
// from several threads at once.
//
// What is written at which level (Debug::m_nDebugMode):
//   logerror, logging        always
//   print                    level 1 and above
//   dump                     level 2 and above
//   tracing                  level 3 and above
class SEALVAULT_API Debug {
 public:
  // label names the operation in every line this object writes; the other five
  // texts are accepted for hosts written against six arguments and ignored.
  // The label is copied.
  explicit Debug(const char* label = nullptr, const char* reserved1 = nullptr,
                 const char* reserved2 = nullptr, const char* reserved3 = nullptr,
                 const char* reserved4 = nullptr, const char* reserved5 = nullptr);
  ~Debug();
  Debug(const Debug&) = delete;
  Debug& operator=(const Debug&) = delete;

  // Progress trace.
  void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Error report.
  void logerror(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Error report tagged with the caller's source-file tag and line number.
  void logerror(const char* file, int line, const char* format, ...)
      __attribute__((format(printf, 4, 5)));
  // Whole message contents (bodies sent and received).
  void tracing(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Message contents at debug level.
  void dump(const char* format, ...) __attribute__((format(printf, 2, 3)));
  // Certificate verification errors.
  void logging(const char* format, ...) __attribute__((format(printf, 2, 3)));

  // Sets the process-wide level.
  static void SetDebugMode(int level);
  // Sends all further output to the file at path (appended), or back to
  // standard error for a null path. Returns false when the file cannot be opened
  // (output then stays where it was).
  static bool SetLogFile(const char* path);

  // Process-wide verbosity; 0 means errors only. Read directly by the family.
  static std::atomic<int> m_nDebugMode;

 private:
  char label_[64];
};
