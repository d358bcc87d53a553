// Counted socket-library start and clean-up, so the start/clean-up pairs hosts make still balance.
#pragma once

namespace corvane::platform {

// POSIX sockets need no start-up; these only count. StartSockets returns 0
// (success) and raises the count; StopSockets returns 0 and lowers it, or -1
// when there was no matching start. Thread-safe.
int StartSockets();
int StopSockets();
// Number of starts not yet balanced by a stop.
int ActiveSocketStarts();

}  // namespace corvane::platform
