#!/usr/bin/env bash
# Runs one command-line case: NAME.vxs makes the files with the module itself (through
# vellix-run), then every line of NAME.cmd runs in the same folder through sh, with vellix
# and vellix-run on the PATH. The transcript (each command after "$ ", what it printed on
# standard output and standard error, and "[exit N]" when it did not exit 0) must equal
# NAME.out byte for byte.
#   run_cli.sh BINDIR CASE_DIR/NAME WORK
# Lines of NAME.cmd that are empty or begin with "#" are copied as they stand.
set -uo pipefail
bindir=$1 work=$3
case=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
rm -rf "$work" && mkdir -p "$work"
export PATH="$bindir:$PATH" LC_ALL=C
unset VELLIX_KEY VELLIX_OUT_KEY
cd "$work" || exit 1
if [ -f "$case.vxs" ]; then
  vellix-run "$case.vxs" >/dev/null || { echo "$case.vxs failed"; exit 1; }
fi
actual="$work.transcript"
: >"$actual"
while IFS= read -r line || [ -n "$line" ]; do
  if [ -z "$line" ] || [ "${line#\#}" != "$line" ]; then
    printf '%s\n' "$line" >>"$actual"
    continue
  fi
  printf '$ %s\n' "$line" >>"$actual"
  sh -c "$line" >>"$actual" 2>&1 </dev/null
  status=$?
  [ $status -eq 0 ] || printf '[exit %d]\n' $status >>"$actual"
done <"$case.cmd"
diff -u --label expected --label actual "$case.out" "$actual"
