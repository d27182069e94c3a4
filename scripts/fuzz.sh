#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs them.
#   scripts/fuzz.sh            each target for 60 seconds, starting from its seed corpus
#   scripts/fuzz.sh --smoke    each target over its seed corpus, then 20 seconds of new inputs
#   scripts/fuzz.sh --long N   each target for N seconds
#   scripts/fuzz.sh SECONDS    the same
# Targets: fuzz/fuzz_NAME.cc, seeds in fuzz/corpus/NAME/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=60
[ "${1:-}" = "--smoke" ] && seconds=20
[[ "${1:-}" =~ ^[0-9]+$ ]] && seconds=$1
if [ "${1:-}" = "--long" ]; then
  [[ "${2:-}" =~ ^[0-9]+$ ]] || { echo "fuzz.sh: --long needs a number of seconds" >&2; exit 2; }
  seconds=$2
fi

"$root/scripts/deps.sh" fuzz
dir="$root/build-fuzz"
CC=clang CXX=clang++ cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVELLIX_FUZZ=ON -DVELLIX_WERROR=ON -DVELLIX_TESTS=OFF -DVELLIX_BENCH=OFF >/dev/null
# Only the fuzz targets: the module and the tools are built and tested by scripts/test.sh.
targets=()
for source in "$root"/fuzz/fuzz_*.cc; do targets+=(--target "$(basename "$source" .cc)"); done
cmake --build "$dir" -j"$(nproc)" "${targets[@]}"

for source in "$root"/fuzz/fuzz_*.cc; do
  name=$(basename "$source" .cc)
  seeds="$root/fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  [ -d "$seeds" ] && cp -r "$seeds"/. "$work"/
  echo "== $name: seeds, then ${seconds}s of new inputs"
  # New inputs go to a scratch copy: the committed seeds stay as they are.
  "$dir/bin/$name" -runs=0 "$work"
  "$dir/bin/$name" -max_total_time="$seconds" -print_final_stats=1 "$work" 2>&1 | tail -n 3
  rm -rf "$work"
done
