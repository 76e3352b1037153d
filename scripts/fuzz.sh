#!/usr/bin/env bash
# Builds every libFuzzer target (src/<dir>/<name>_fuzz.cpp, binary fuzz_<name>)
# in build-fuzz with clang, ASan and UBSan, and runs each for the given
# seconds (default 20), one after the other. Fails when a target crashes,
# leaks, aborts on a broken invariant or does not build.
#
# Layout of the inputs kept in the repository, per target <name>:
#   fuzz/<name>/corpus/   seed inputs, small and hand-written
#   fuzz/<name>.dict      libFuzzer dictionary of the format's words
#   fuzz/<name>.flags     optional extra libFuzzer flags, one line
# The seeds are copied to a temporary directory for each run, so the
# committed corpus never grows. Crash inputs are kept in build-fuzz/crashes/.
# Targets that read files work in a scratch directory of their own.
# Usage: scripts/fuzz.sh [seconds] [name...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-20}"
shift || true

scripts/setup.sh --fuzz

build=build-fuzz
CXX=clang++ cmake -S . -B "$build" -G Ninja -DPOSTIL_FUZZ=ON -DPOSTIL_BENCH=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null

if [ $# -gt 0 ]; then
  names=("$@")
else
  names=()
  for source in src/*/*_fuzz.cpp; do
    base="$(basename "$source" .cpp)"
    names+=("${base%_fuzz}")
  done
fi
cmake --build "$build" --target "${names[@]/#/fuzz_}"

# Scratch files on a memory file system when there is one: the targets that
# read files write one per input.
work="$(mktemp -d -p /dev/shm 2>/dev/null || mktemp -d)"
trap 'rm -rf "$work"' EXIT
crashes="$PWD/$build/crashes"
mkdir -p "$crashes"
# The state mutex's lock file goes to TMPDIR: keep it apart from other runs.
export TMPDIR="$work"
export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"

failed=()
for name in "${names[@]}"; do
  corpus="$work/$name"
  mkdir -p "$corpus"
  [ -d "fuzz/$name/corpus" ] && cp -r "fuzz/$name/corpus/." "$corpus/"
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$crashes/$name-")
  [ -f "fuzz/$name.dict" ] && args+=(-dict="$PWD/fuzz/$name.dict")
  # shellcheck disable=SC2207
  [ -f "fuzz/$name.flags" ] && args+=($(cat "fuzz/$name.flags"))
  echo "== fuzz_$name for ${seconds}s"
  if ! "$build/fuzz_$name" "${args[@]}" "$corpus" >"$work/$name.log" 2>&1; then
    tail -n 40 "$work/$name.log"
    failed+=("$name")
  fi
  grep -E '^stat::number_of_executed_units' "$work/$name.log" || true
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "Fuzz targets failed: ${failed[*]} (inputs in $crashes/)" >&2
  exit 1
fi
echo "== All fuzz targets ran clean"
