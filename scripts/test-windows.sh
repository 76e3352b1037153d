#!/usr/bin/env bash
# Builds the Windows program for x86_64 and i686 with mingw-w64 and runs the
# x86_64 tests under Wine. Usage: scripts/test-windows.sh [ctest arguments]
# (scripts/setup-windows.sh installs what it needs).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup-windows.sh
jobs=${POSTIL_JOBS:-2}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEPREFIX=${WINEPREFIX:-$PWD/build-win64/wineprefix}
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)

for arch in x86_64 i686; do
  dir=build-win${arch/x86_64/64}
  dir=${dir/i686/32}
  [ -f "$dir/CMakeCache.txt" ] ||
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
      -DPOSTIL_BENCH=OFF >/dev/null
done

# The wineserver and Wine's own services, when a test (or a test listing
# during the build) starts them, keep that program's output open until the
# last Wine process ends, so ctest would call the test timed out. Started
# here and kept until the script ends, they serve every test instead. The
# prefix is made once, before the first test: its set-up takes longer than
# a test's discovery may.
mkdir -p "$WINEPREFIX"
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
"$wineserver" -p </dev/null >/dev/null 2>&1
trap '"$wineserver" -k >/dev/null 2>&1 || true' EXIT
"$wine64" wineboot --init </dev/null >/dev/null 2>&1 || true

cmake --build build-win32 --target postil -j "$jobs"
cmake --build build-win64 -j "$jobs"

# The 32-bit program is only started when this Wine can run 32-bit code.
if version=$("$wine64" build-win32/postil.exe --version 2>/dev/null) &&
    [[ $version == *"Build: Win32"* ]]; then
  echo "i686: postil.exe starts under Wine: ${version//$'\n'/ }"
else
  echo "i686: built only (this Wine runs no 32-bit programs)"
fi

ctest --test-dir build-win64 -j "$jobs" --output-on-failure "$@"

# The whole exchange of the demo with the 64-bit program: its TLS client
# (Schannel) against the simulator's TLS server on this machine, which the
# tests above cannot bring up under Wine.
POSTIL_DEMO_PROGRAM="$wine64 build-win64/postil.exe" scripts/demo.sh >build-win64/demo.out 2>&1 </dev/null ||
  { cat build-win64/demo.out; exit 1; }
for expected in "== Exit code 2" "TLS connection: TLSv1." "Killing: <demo-03@demo.example>" \
  "550 5.1.1 <nobody@nowhere.example>: mailbox unavailable"; do
  grep -qF -- "$expected" build-win64/demo.out ||
    { cat build-win64/demo.out; echo "Windows demo lacks: $expected" >&2; exit 1; }
done
echo "x86_64: the demo ran over STARTTLS under Wine"

