#!/usr/bin/env bash
# Builds the libraries in release mode and runs the example host against them.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANE_TESTS=OFF >/dev/null
cmake --build build/release
build/release/examples/echo_host
