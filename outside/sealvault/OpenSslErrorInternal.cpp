// OpenSslErrorInternal: turns queued OpenSSL errors into Debug::logerror lines.
#include "OpenSslErrorInternal.h"

#include <openssl/err.h>

#include "sealvault/Debug.h"

namespace corvane {

void LogOpenSslErrors(Debug& log, const char* tag, int line, const char* what) {
  bool any = false;
  const char* file = nullptr;
  const char* data = nullptr;
  int flags = 0;
  int ssl_line = 0;
  for (unsigned long code = ERR_get_error_all(&file, &ssl_line, nullptr, &data, &flags); code != 0;
       code = ERR_get_error_all(&file, &ssl_line, nullptr, &data, &flags)) {
    char reason[256];
    ERR_error_string_n(code, reason, sizeof reason);
    const bool has_data = (flags & ERR_TXT_STRING) != 0 && data != nullptr && *data != '\0';
    log.logerror(tag, line, "%s: %s%s%s\n", what, reason, has_data ? " - " : "",
                 has_data ? data : "");
    any = true;
  }
  if (!any) log.logerror(tag, line, "%s\n", what);
}

void ClearOpenSslErrors() { ERR_clear_error(); }

}  // namespace corvane
