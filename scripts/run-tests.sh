#!/usr/bin/env bash
# Builds everything with AddressSanitizer and UndefinedBehaviorSanitizer, runs every test,
# then builds the fuzz targets with clang and runs each for a short fixed time.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-deps.sh
jobs=$(nproc)

cmake -S . -B build/test -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCORVANE_SANITIZE=ON -DCORVANE_WERROR=ON >/dev/null
cmake --build build/test -j "$jobs"
ctest --test-dir build/test -j "$jobs" --output-on-failure --timeout 300

scripts/run-fuzz.sh "${CORVANE_FUZZ_SECONDS:-15}"
