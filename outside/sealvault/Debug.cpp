// Debug: levelled log lines written whole under one lock.
#include "sealvault/Debug.h"

#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <string>

std::atomic<int> Debug::m_nDebugMode{0};

namespace {

// Where the lines go; guarded by the mutex.
struct LogSink {
  std::mutex lock;
  FILE* file = nullptr;  // null until the first line: then CORVANE_LOG or stderr
  bool owned = false;

  FILE* Target() {
    if (file == nullptr) {
      const char* path = std::getenv("CORVANE_LOG");
      if (path != nullptr && *path != '\0') {
        file = std::fopen(path, "a");
        owned = file != nullptr;
      }
      if (file == nullptr) file = stderr;
    }
    return file;
  }
  void Replace(FILE* next, bool next_owned) {
    if (owned && file != nullptr) std::fclose(file);
    file = next;
    owned = next_owned;
  }
};

LogSink& Sink() {
  static LogSink* sink = new LogSink;  // never destroyed: logging may run during exit
  return *sink;
}

// Writes one entry: "<time> [<thread>] <kind> <label>: <message>". The message
// keeps its own line end; one is added when it has none, so entries never merge.
void Emit(const char* kind, const char* label, const char* tag, int line, const char* format,
          va_list args) {
  // Whole message bodies are traced, so the text is sized to fit, not cut.
  char small[1024];
  std::string large;
  const char* message = small;
  va_list again;
  va_copy(again, args);
  const int needed = std::vsnprintf(small, sizeof small, format != nullptr ? format : "", args);
  if (needed >= static_cast<int>(sizeof small)) {
    large.resize(static_cast<size_t>(needed) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    large.resize(static_cast<size_t>(needed));
    message = large.c_str();
  } else if (needed < 0) {
    small[0] = '\0';
  }
  va_end(again);

  timeval now;
  gettimeofday(&now, nullptr);
  tm local;
  localtime_r(&now.tv_sec, &local);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);

  std::string entry;
  entry.reserve(std::strlen(message) + 96);
  char head[160];
  std::snprintf(head, sizeof head, "%s.%03ld [%ld] %s ", stamp,
                static_cast<long>(now.tv_usec / 1000), static_cast<long>(::syscall(SYS_gettid)),
                kind);
  entry += head;
  if (label != nullptr && *label != '\0') {
    entry += label;
    entry += ": ";
  }
  if (tag != nullptr) {
    char where[96];
    std::snprintf(where, sizeof where, "%s(%d): ", tag, line);
    entry += where;
  }
  entry += message;
  if (entry.back() != '\n') entry += '\n';

  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  FILE* target = sink.Target();
  std::fwrite(entry.data(), 1, entry.size(), target);
  std::fflush(target);
}

}  // namespace

#define DEBUG_EMIT_IF(minimum_level, kind, tag, line)                           \
  do {                                                                          \
    if (m_nDebugMode.load(std::memory_order_relaxed) < (minimum_level)) return; \
    va_list args;                                                               \
    va_start(args, format);                                                     \
    Emit(kind, label_, tag, line, format, args);                                \
    va_end(args);                                                               \
  } while (0)

Debug::Debug(const char* label, const char*, const char*, const char*, const char*, const char*) {
  // Made on entry to many operations, so the copy is kept cheap (no printf).
  const size_t length = label != nullptr ? strnlen(label, sizeof label_ - 1) : 0;
  if (length > 0) std::memcpy(label_, label, length);
  label_[length] = '\0';
}

Debug::~Debug() = default;

void Debug::print(const char* format, ...) { DEBUG_EMIT_IF(1, "INFO ", nullptr, 0); }
void Debug::logerror(const char* format, ...) { DEBUG_EMIT_IF(0, "ERROR", nullptr, 0); }
void Debug::logerror(const char* file, int line, const char* format, ...) {
  DEBUG_EMIT_IF(0, "ERROR", file != nullptr ? file : "", line);
}
void Debug::tracing(const char* format, ...) { DEBUG_EMIT_IF(3, "TRACE", nullptr, 0); }
void Debug::dump(const char* format, ...) { DEBUG_EMIT_IF(2, "DUMP ", nullptr, 0); }
void Debug::logging(const char* format, ...) { DEBUG_EMIT_IF(0, "WARN ", nullptr, 0); }

void Debug::SetDebugMode(int level) { m_nDebugMode.store(level); }

bool Debug::SetLogFile(const char* path) {
  LogSink& sink = Sink();
  std::lock_guard<std::mutex> guard(sink.lock);
  if (path == nullptr) {
    sink.Replace(stderr, false);
    return true;
  }
  FILE* next = std::fopen(path, "a");
  if (next == nullptr) return false;
  sink.Replace(next, true);
  return true;
}
