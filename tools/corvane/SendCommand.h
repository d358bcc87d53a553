// The "send" verb: one message through MakeTransport, the reply body on standard output.
#pragma once

namespace corvanetool {

// Runs "corvane send [options] URL" with argv[first..argc): the reply body
// goes to standard output, a failure as one line to standard error. Returns
// the exit status: 0 when a reply came back (whatever its HTTP status), 1
// when none did, 2 for a bad command line or a file that cannot be read.
int RunSend(int argc, char** argv, int first);

}  // namespace corvanetool
