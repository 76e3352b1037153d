#!/usr/bin/env bash
# Builds POSTIL and runs every test. Usage: scripts/test.sh [build-dir] [cmake options...]
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
build_dir=${1:-build}
shift || true
cmake -S . -B "$build_dir" -G Ninja "$@" >/dev/null
cmake --build "$build_dir"
ctest --test-dir "$build_dir" --output-on-failure -j2 ${POSTIL_CTEST_ARGS:-}
