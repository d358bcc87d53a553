// ProgramRunnerInternal: runs an outside command-line program without a shell and with a time
// limit.
#pragma once

#include <string>
#include <vector>

namespace corvane::tls {

// Runs args[0] (looked up on PATH) with args as its argument vector: no shell
// sees the texts, so blanks and shell characters in them are plain text.
// Standard input is /dev/null (a program that asks a question gets end of
// input instead of waiting for ever); output and errors go where ours go.
// Waits up to timeout_ms and kills the program after that. Returns its exit
// status (0 to 255), or -1 when args is empty, the program could not be
// started, was ended by a signal or ran out of time; *error (may be null) then
// says which. Thread-safe.
int RunProgram(const std::vector<std::string>& args, int timeout_ms, std::string* error);

}  // namespace corvane::tls
