#!/usr/bin/env bash
# Builds Vellix and runs the example scenario: examples/quickstart.vxs.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$root/build" -j"$(nproc)" --target vellix-run
cd "$root/build"
exec ./bin/vellix-run "$root/examples/quickstart.vxs"
