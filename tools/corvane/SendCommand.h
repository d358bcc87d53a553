// The "send" verb: one message through MakeTransport, the reply body on standard output.
#pragma once

namespace corvanetool {

// Runs "corvane send [options] URL" with argv[first..argc). Returns the exit
// status: 0 when a reply came back, 1 for a failed send, 2 for bad usage.
int RunSend(int argc, char** argv, int first);

}  // namespace corvanetool
