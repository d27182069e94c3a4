#!/usr/bin/env bash
# Runs one command-line case: NAME.vxs makes the files with the module itself (through
# vellix-run), then every line of NAME.cmd runs in the same folder through sh, with vellix
# and vellix-run on the PATH. The transcript (each command after "$ ", what it printed on
# standard output and standard error, and "[exit N]" when it did not exit 0) must equal
# NAME.out byte for byte.
#   run_cli.sh BINDIR CASE_DIR/NAME WORK [MARKDOWN SETUP.vxs]
# With MARKDOWN, the commands are the lines of its block that follows the line
# "<!-- vellix-examples -->" (the README's examples), and SETUP.vxs makes the files.
# Lines of NAME.cmd that are empty or begin with "#" are copied as they stand.
set -uo pipefail
bindir=$1 work=$3
case=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
rm -rf "$work" && mkdir -p "$work"
export PATH="$bindir:$PATH" LC_ALL=C
unset VELLIX_KEY VELLIX_OUT_KEY
cd "$work" || exit 1
commands="$case.cmd"
setup="$case.vxs"
if [ $# -ge 5 ]; then
  commands="$work.cmd"
  setup=$5
  sed -n '/^<!-- vellix-examples -->$/,/^<!-- \/vellix-examples -->$/p' "$4" |
    sed '1,2d;$d' | sed '$d' >"$commands"
fi
if [ -f "$setup" ]; then
  vellix-run "$setup" >/dev/null || { echo "$setup failed"; exit 1; }
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
done <"$commands"
diff -u --label expected --label actual "$case.out" "$actual"
