// OpenSslErrorInternal: the one place where OpenSSL's error queue becomes Sealvault log lines.
#pragma once

class Debug;

namespace corvane {

// Drains the calling thread's OpenSSL error queue into log lines. Writes
// "<what>: <OpenSSL reason>\n" for each queued error through log.logerror with
// the source-file tag and line, or "<what>\n" alone when the queue is empty, so
// every failure leaves one line at least. Never fails; thread-safe because the
// queue is per thread.
void LogOpenSslErrors(Debug& log, const char* tag, int line, const char* what);

// Empties the calling thread's OpenSSL error queue without logging, so stale
// entries from an earlier call are not reported against the next operation.
void ClearOpenSslErrors();

}  // namespace corvane
