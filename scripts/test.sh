#!/usr/bin/env bash
# Builds Vellix and runs every test (unit tests and scenario scripts) with ctest.
#   scripts/test.sh              the normal build, in build/
#   scripts/test.sh --sanitize   with AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan/
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build"
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
if [ "${1:-}" = "--sanitize" ]; then
  dir="$root/build-asan"
  flags=(-DCMAKE_BUILD_TYPE=Debug -DVELLIX_SANITIZE=ON)
fi
"$root/scripts/deps.sh"
cmake -S "$root" -B "$dir" "${flags[@]}" -DVELLIX_BENCH=OFF >/dev/null
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --output-on-failure -j"$(nproc)"
