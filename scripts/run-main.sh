#!/usr/bin/env bash
# Builds the family in release mode and runs the main job: 'corvane demo', a typical request
# sent through MakeTransport to the embedded server, step by step.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF >/dev/null
cmake --build build/release
exec build/release/tools/corvane/corvane demo
