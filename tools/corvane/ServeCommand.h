// The "serve" verb: the embedded HTTP server on a loopback port until interrupted.
#pragma once

namespace corvanetool {

// Runs "corvane serve [--port N] [--root DIR] [--user U:P]". Returns the exit
// status: 0 after an interrupt, 1 when the port cannot be used, 2 for bad usage.
int RunServe(int argc, char** argv, int first);

}  // namespace corvanetool
