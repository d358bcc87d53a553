// The "demo" verb: the typical request of the family, step by step, against the embedded server.
#pragma once

namespace corvanetool {

// Runs "corvane demo". Returns 0 only when every step gave the expected result.
int RunDemo(int argc, char** argv, int first);

}  // namespace corvanetool
