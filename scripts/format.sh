#!/usr/bin/env bash
# Formats every C and C++ source of the project with clang-format (.clang-format).
#   scripts/format.sh           rewrites the files in place
#   scripts/format.sh --check   changes nothing; exits non-zero when a file is not formatted
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" tidy
cd "$root"
if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
  mapfile -t files < <(git ls-files -- '*.cc' '*.h' '*.c')
else
  mapfile -t files < <(find src sim tools tests bench fuzz -name '*.cc' -o -name '*.h' -o -name '*.c')
fi
if [ "${1:-}" = "--check" ]; then
  clang-format-14 --dry-run --Werror "${files[@]}"
else
  clang-format-14 -i "${files[@]}"
fi
