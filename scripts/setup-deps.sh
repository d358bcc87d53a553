#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need; does nothing when all are present.
set -euo pipefail

packages=(
  g++ cmake ninja-build pkg-config make
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libssl-dev openssl zlib1g-dev libpcre2-dev uuid-dev
  libcurl4-openssl-dev libxml2-dev libxslt1-dev
  curl ca-certificates
  nginx libhttp-parser-dev
  apache2 apache2-utils tinyproxy
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}"
as_root=()
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Run as root or install sudo: missing ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
# Servers installed for the tests must not start as system services (they would
# listen on every interface); the tests start their own on loopback.
policy=/usr/sbin/policy-rc.d
added_policy=false
if [[ ! -e $policy ]]; then
  printf '#!/bin/sh\nexit 101\n' | "${as_root[@]}" tee "$policy" >/dev/null
  "${as_root[@]}" chmod +x "$policy"
  added_policy=true
fi
"${as_root[@]}" apt-get update -q
"${as_root[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
if $added_policy; then "${as_root[@]}" rm -f "$policy"; fi
