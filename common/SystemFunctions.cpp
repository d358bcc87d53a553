// Error texts, time text, random digits and UUID texts.
#include "common/SystemFunctions.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>

#include "platform/SystemError.h"
#include "platform/UuidSource.h"

namespace {

constexpr size_t kMaxErrorText = 255;
constexpr size_t kTimeTextSize = 80;
constexpr int kDigitsPerGroup = 6;

// Next value of the process-wide digits counter: counter mod 9999 + 1.
unsigned NextDigitsCounter() {
  static std::atomic<unsigned> counter{0};
  unsigned current = counter.load(std::memory_order_relaxed);
  unsigned next;
  do {
    next = current % 9999 + 1;
  } while (!counter.compare_exchange_weak(current, next, std::memory_order_relaxed));
  return next;
}

}  // namespace

const char* FormatSystemError(std::string& out, unsigned code) {
  const int number = code != 0 ? static_cast<int>(code) : corvane::platform::LastSystemError();
  out = corvane::platform::SystemErrorText(number);
  if (out.size() > kMaxErrorText) out.resize(kMaxErrorText);
  return out.c_str();
}

const char* GetTimeText() {
  // One buffer per thread: a single process-wide buffer would be overwritten
  // by another thread while the caller still formats it into a log line.
  thread_local char text[kTimeTextSize];
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  if (::localtime_r(&now, &local) == nullptr) {
    text[0] = '\0';
    return text;
  }
  // Fixed English names rather than strftime's %a/%b, which follow the locale.
  std::snprintf(text, sizeof text, "%s %s %02d %02d:%02d:%02d %d", kDays[local.tm_wday % 7],
                kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour, local.tm_min,
                local.tm_sec, local.tm_year + 1900);
  return text;
}

char* MakeRandomDigits(char* buffer, int length) {
  if (buffer == nullptr) return nullptr;
  if (length <= 0) return buffer;
  buffer[0] = '\0';
  // The seed is counter plus time as always, but it feeds a generator state of
  // this call (rand_r) instead of srand/rand: those share one state with the
  // host and with other threads, which would interleave the sequences.
  unsigned state = NextDigitsCounter() + static_cast<unsigned>(std::time(nullptr));
  const int digits = length - 1;
  int written = 0;
  while (written < digits) {
    // glibc's generator reaches 2^31 - 1; keep the 0..32767 range the digit
    // groups are made for.
    const int value = ::rand_r(&state) % 32768;
    char group[kDigitsPerGroup + 1];
    std::snprintf(group, sizeof group, "%06d", value);
    for (int i = 0; i < kDigitsPerGroup && written < digits; ++i) buffer[written++] = group[i];
  }
  buffer[written] = '\0';
  return buffer;
}

bool MakeUuidText(std::string& out) {
  std::string id;
  if (!corvane::platform::AppendNewUuidText(id)) return false;
  out.append("uuid:").append(id);
  return true;
}
