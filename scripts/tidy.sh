#!/usr/bin/env bash
# Runs clang-tidy (the checks in .clang-tidy) over the module's sources, the simulated host
# and the tools; exits non-zero on any finding.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" tidy
dir="$root/build-tidy"
cmake -S "$root" -B "$dir" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DVELLIX_TESTS=OFF >/dev/null
run-clang-tidy-14 -quiet -p "$dir" -j "$(nproc)" "$root/src/" "$root/sim/" "$root/tools/"
