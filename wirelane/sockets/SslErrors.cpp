// Translation of OpenSSL error queues and SSL_get_error codes into SSLSocket log text.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cerrno>

#include "platform/SystemError.h"
#include "sealvault/Debug.h"
#include "wirelane/sockets/SslErrorsInternal.h"

namespace corvane::tls {
namespace {

// Drains the queue; empty text when nothing was queued.
std::string QueuedReasons() {
  std::string text;
  const char* data = nullptr;
  int flags = 0;
  for (unsigned long code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags); code != 0;
       code = ERR_get_error_all(nullptr, nullptr, nullptr, &data, &flags)) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    if (!text.empty()) text += "; ";
    text += reason;
    if ((flags & ERR_TXT_STRING) != 0 && data != nullptr && *data != '\0') {
      text += " - ";
      text += data;
    }
  }
  return text;
}

}  // namespace

std::string SslFailureText(const ssl_st* ssl, int result) {
  // errno is read before anything else can change it.
  const int system_error = errno;
  if (ssl == nullptr) {
    std::string queued = QueuedReasons();
    return queued.empty() ? "no further detail" : queued;
  }
  const int code = SSL_get_error(ssl, result);
  std::string queued = QueuedReasons();
  switch (code) {
    case SSL_ERROR_ZERO_RETURN:
      return "connection closed by peer";
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      // Blocking sockets only report these when SO_RCVTIMEO/SO_SNDTIMEO expired.
      return "timed out";
    case SSL_ERROR_SYSCALL:
      if (!queued.empty()) return queued;
      if (system_error == EAGAIN || system_error == EWOULDBLOCK) return "timed out";
      if (system_error == 0) return "connection closed by peer";
      return platform::SystemErrorText(system_error);
    default:
      if (!queued.empty()) return queued;
      return "TLS error " + std::to_string(code);
  }
}

void LogSslFailure(Debug& log, int line, const char* what, const ssl_st* ssl, int result) {
  const std::string reason = SslFailureText(ssl, result);
  log.logerror(kLogTag, line, "%s: %s\n", what, reason.c_str());
}

void ClearSslErrors() { ERR_clear_error(); }

}  // namespace corvane::tls
