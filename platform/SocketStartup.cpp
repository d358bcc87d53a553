// Counted socket-library start and clean-up.
#include "platform/SocketStartup.h"

#include <atomic>

namespace corvane::platform {

namespace {
std::atomic<int> g_starts{0};
}

int StartSockets() {
  g_starts.fetch_add(1);
  return 0;
}

int StopSockets() {
  int current = g_starts.load();
  while (current > 0) {
    if (g_starts.compare_exchange_weak(current, current - 1)) return 0;
  }
  return -1;
}

int ActiveSocketStarts() { return g_starts.load(); }

}  // namespace corvane::platform
