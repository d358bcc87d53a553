// Capturing the libraries' log output in a temporary file.
#include "LibraryLog.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "sealvault/Debug.h"

namespace corvanetool {

namespace {

// The message part of one log line as the family writes it ("<date> <time>
// [<thread>] ERROR <operation>: <tag>(<line>): <message>"); empty for a line
// that is not an error or warning.
std::string ErrorMessageOf(const std::string& line) {
  // The kind follows the thread number: "] ERROR " or "] WARN  ".
  size_t at = std::string::npos;
  for (const char* kind : {"] ERROR ", "] WARN  "}) {
    const size_t found = line.find(kind);
    if (found != std::string::npos && found < at) at = found + std::char_traits<char>::length(kind);
  }
  if (at == std::string::npos) return {};
  std::string rest = line.substr(at);
  // The operation's label ("NetClient::Send: ") has no ": " inside it.
  const size_t label_end = rest.find(": ");
  if (label_end != std::string::npos) rest.erase(0, label_end + 2);
  // A source-file tag with its line number: "csocket(253): ".
  const size_t open = rest.find('(');
  const size_t close = rest.find("): ");
  if (open != std::string::npos && close != std::string::npos && open < close && open > 0) {
    bool tag = true;
    for (size_t i = 0; i < open; ++i)
      tag = tag && (std::isalnum(static_cast<unsigned char>(rest[i])) || rest[i] == '_');
    for (size_t i = open + 1; i < close; ++i)
      tag = tag && std::isdigit(static_cast<unsigned char>(rest[i]));
    if (tag && close > open + 1) rest.erase(0, close + 3);
  }
  while (!rest.empty() && (rest.back() == '\r' || rest.back() == ' ' || rest.back() == '.'))
    rest.pop_back();
  return rest;
}

}  // namespace

LibraryLog::LibraryLog(bool capture) {
  const char* named = std::getenv("CORVANE_LOG");
  if (!capture || (named != nullptr && *named != '\0')) return;
  const char* folder = std::getenv("TMPDIR");
  std::string pattern =
      std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/corvane-log-XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd < 0) return;  // the lines then stay on standard error
  ::close(fd);
  if (Debug::SetLogFile(pattern.c_str())) {
    path_ = pattern;
  } else {
    std::remove(pattern.c_str());
  }
}

LibraryLog::~LibraryLog() {
  if (path_.empty()) return;
  Debug::SetLogFile(nullptr);
  std::remove(path_.c_str());
}

std::string LibraryLog::FirstError() const {
  if (path_.empty()) return {};
  std::ifstream file(path_);
  for (std::string line; std::getline(file, line);) {
    std::string message = ErrorMessageOf(line);
    if (!message.empty()) return message;
  }
  return {};
}

}  // namespace corvanetool
