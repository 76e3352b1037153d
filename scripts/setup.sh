#!/usr/bin/env bash
# Installs what building and testing POSTIL needs, when it is missing.
# Usage: scripts/setup.sh [--fuzz]
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v tmux >/dev/null || need+=(tmux)
command -v run-clang-tidy >/dev/null || need+=(clang-tidy)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
[ -f /usr/include/openssl/ssl.h ] || need+=(libssl-dev)
# scripts/fuzz.sh also needs clang with libFuzzer.
if [ "${1:-}" = --fuzz ]; then
  command -v clang++ >/dev/null || need+=(clang)
  dpkg -s libclang-rt-14-dev >/dev/null 2>&1 || need+=(libclang-rt-14-dev)
fi

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${need[@]}"
fi
