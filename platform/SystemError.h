// System error numbers and their texts: the one place errno is read and turned into text.
#pragma once

#include <string>

namespace corvane::platform {

// The calling thread's last system error number (errno).
int LastSystemError();
// Sets the calling thread's last system error number.
void SetLastSystemError(int code);
// The system's message for code ("Connection refused"), without a line end;
// the empty text for 0. Thread-safe.
std::string SystemErrorText(int code);

}  // namespace corvane::platform
