#!/usr/bin/env bash
# Installs the libraries into a private prefix, builds a host program against the
# installed headers and libraries only, and runs it.
set -euo pipefail
build_dir=$1
host_source=$2
extra_flags=${3:-}

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null

# shellcheck disable=SC2086
c++ -std=c++20 $extra_flags -I"$prefix/include/corvane" "$host_source" \
  -L"$prefix/lib" -lwirelane -lsealvault -Wl,-rpath,"$prefix/lib" -pthread -o "$prefix/host"
"$prefix/host"
