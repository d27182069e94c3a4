#!/usr/bin/env bash
# vellix get on a 30 MB file of a million items, beside git config --file and crudini --get
# on the same plain file (when installed: scripts/deps.sh bench), and convert's throughput on
# the same file compressed and enciphered. Wall times are the best of three runs (crudini:
# one). The group names are ones git accepts ("group-N"), so all three read the same bytes.
#   bench/vellix_cli.sh [BUILD_DIR]      (default build-release; built when missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$root/build-release}")  # the work below runs in another folder
if [ ! -x "$build/bin/vellix" ]; then
  cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$build" -j2 --target vellix-cli >/dev/null
fi
vellix=$build/bin/vellix
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

# 10,000 groups of 100 items, about 30 MB; written once through vellix so the file is the
# writer's own form (CR LF line ends).
awk 'BEGIN { for (g = 0; g < 10000; g++) { printf "[group-%d]\n", g;
  for (i = 0; i < 100; i++) printf "item%d=value %d of group %d\n", i, (i * 7919) % 100003, g } }' >raw.ini
"$vellix" convert raw.ini big.ini
printf 'a key of some length, as users pick them\n' >key.txt
"$vellix" convert big.ini big.dat --out-compressed --out-key-file key.txt
mb=$(awk -v n="$(stat -c %s big.ini)" 'BEGIN { printf "%.1f", n / 1e6 }')
echo "file: big.ini $mb MB, $("$vellix" check big.ini | sed 's/^[^:]*: //')"
echo "      big.dat $(stat -c %s big.dat) bytes compressed and enciphered"

# Best wall time in seconds of N runs of a command.
best() {
  local n=$1 t b=
  shift
  for _ in $(seq "$n"); do
    /usr/bin/time -f %e -o "$work/time" "$@" >/dev/null 2>&1 || true
    t=$(tail -1 "$work/time")
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
  done
  echo "$b"
}

get=$(best 3 "$vellix" get big.ini group-9999 item99)
echo "vellix get (last item):            ${get} s"
if command -v git >/dev/null; then
  git=$(best 3 git config --file big.ini group-9999.item99)
  echo "git config --file (same item):     ${git} s  ($(awk -v a="$git" -v b="$get" 'BEGIN { printf "%.1f", a / b }')x vellix)"
else
  echo "git not installed: no comparison"
fi
if command -v crudini >/dev/null; then
  crudini=$(best 1 crudini --get big.ini group-9999 item99)
  echo "crudini --get (same item):         ${crudini} s  ($(awk -v a="$crudini" -v b="$get" 'BEGIN { printf "%.1f", a / b }')x vellix)"
else
  echo "crudini not installed (scripts/deps.sh bench): no comparison"
fi
getpacked=$(best 3 "$vellix" get big.dat group-9999 item99 --compressed --key-file key.txt)
echo "vellix get, compressed+enciphered: ${getpacked} s"
unpack=$(best 3 "$vellix" convert big.dat out.ini --compressed --key-file key.txt)
pack=$(best 3 "$vellix" convert big.ini out.dat --out-compressed --out-key-file key.txt)
cmp out.dat big.dat
echo "convert unpack (dat -> ini):       ${unpack} s, $(awk -v m="$mb" -v t="$unpack" 'BEGIN { printf "%.0f", m / t }') MB/s of text"
echo "convert pack (ini -> dat):         ${pack} s, $(awk -v m="$mb" -v t="$pack" 'BEGIN { printf "%.0f", m / t }') MB/s of text"
