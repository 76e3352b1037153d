#!/usr/bin/env bash
# Installs what building and testing POSTIL needs, when it is missing.
set -euo pipefail

need=()
command -v cmake >/dev/null || need+=(cmake)
command -v ninja >/dev/null || need+=(ninja-build)
command -v g++ >/dev/null || need+=(g++)
command -v tmux >/dev/null || need+=(tmux)
command -v run-clang-tidy >/dev/null || need+=(clang-tidy)
[ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)

if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  sudo_cmd=""
  [ "$(id -u)" -eq 0 ] || sudo_cmd="sudo"
  $sudo_cmd apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo_cmd apt-get install -y -qq "${need[@]}"
fi
