#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a fixed time (seconds, default 15),
# starting from the kept inputs in fuzz/corpus/<target>/ (crashing inputs found earlier included).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-15}

CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCORVANE_FUZZ=ON -DCORVANE_TESTS=OFF -DCORVANE_BENCH=OFF >/dev/null
cmake --build build/fuzz --target fuzz_targets

mkdir -p build/fuzz/artifacts
status=0
for source in $(find fuzz -name '*Fuzz.cpp' | sort); do
  name=$(basename "$source" .cpp)
  kept="fuzz/corpus/$name"
  work="build/fuzz/corpus/$name"
  mkdir -p "$kept" "$work"
  echo "== $name for ${seconds}s"
  if ! "build/fuzz/fuzz/$name" -max_total_time="$seconds" -print_final_stats=0 \
      -artifact_prefix="build/fuzz/artifacts/$name-" "$work" "$kept" 2>"build/fuzz/$name.log"; then
    echo "FAILED: $name (see build/fuzz/$name.log and build/fuzz/artifacts/)" >&2
    tail -40 "build/fuzz/$name.log" >&2
    status=1
  fi
done
exit $status
