#!/usr/bin/env bash
# Builds Vellix and runs the example scenario: examples/quickstart.vxs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target vellix-run
# A fresh working folder each time, so the files the example writes start out absent.
work="$root/build/example-run"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
exec "$root/build/bin/vellix-run" "$root/examples/quickstart.vxs"
