// SslErrorsInternal: the one place where OpenSSL's error state becomes log text for SSLSocket.
#pragma once

#include <string>

struct ssl_st;
class Debug;

namespace corvane::tls {

// Source-file tag of every SSLSocket log line.
inline constexpr const char* kLogTag = "SSLSock";

// Describes why an OpenSSL call failed and empties the calling thread's error
// queue. With ssl non-null and result the value the call on it returned,
// SSL_get_error decides the text: "connection closed by peer", "timed out"
// (a socket time-out seen as want-read/want-write), the system error text, or
// the queued OpenSSL reasons joined by "; ". Without ssl, only the queue is
// described ("no further detail" when it is empty). Thread-safe: the queue
// belongs to the calling thread.
std::string SslFailureText(const ssl_st* ssl = nullptr, int result = 0);

// Writes "<what>: <SslFailureText(ssl, result)>\n" through log.logerror with
// kLogTag and line.
void LogSslFailure(Debug& log, int line, const char* what, const ssl_st* ssl = nullptr,
                   int result = 0);

// Empties the calling thread's error queue, so stale entries are not blamed on
// the next call.
void ClearSslErrors();

}  // namespace corvane::tls
