#!/usr/bin/env bash
# Builds Vellix (the module, vellix-run and the vellix tool, into build/bin/) and runs the
# example scenario: examples/quickstart.vxs. It configures build/ exactly as scripts/test.sh
# does, so that the test run afterwards rebuilds nothing of what this built.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh"
# shellcheck source=configure.sh
. "$root/scripts/configure.sh"
vellix_configure "$root/build" RelWithDebInfo -DVELLIX_BENCH=OFF
cmake --build "$root/build" -j"$(nproc)" --target vellix-run vellix-cli
# A fresh working folder each time, so the files the example writes start out absent.
work="$root/build/example-run"
rm -rf "$work" && mkdir -p "$work" && cd "$work"
exec "$root/build/bin/vellix-run" "$root/examples/quickstart.vxs"
