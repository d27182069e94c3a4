#!/usr/bin/env bash
# Builds Vellix and runs every test (unit tests, scenario scripts, the install check) with
# ctest. Warnings are errors here. Run as root, it also runs the file tests as an unprivileged
# user, since permission bits do not stop the superuser.
#   scripts/test.sh              the normal build (RelWithDebInfo, g++), in build/
#   scripts/test.sh --release    a Release build, in build-release/, which also compiles the
#                                benchmarks (scripts/bench.sh runs them)
#   scripts/test.sh --sanitize   with AddressSanitizer and UndefinedBehaviorSanitizer, in build-asan/
#   scripts/test.sh --clang      with clang instead of g++ (combines with the others)
#   scripts/test.sh --m32        a 32-bit build (-m32), in build-m32/, with GoogleTest built
#                                for it: catches faults that depend on the word size (where
#                                the kernel cannot run 32-bit programs, it builds and says
#                                that the tests were not run)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
dir="$root/build"
type=RelWithDebInfo
flags=()
extras=()
bench=OFF
m32=0
for arg in "$@"; do
  case "$arg" in
    --release) type=Release; dir="$dir-release"; bench=ON; extras+=(bench) ;;
    --sanitize) type=Debug; dir="$dir-asan"; flags+=(-DVELLIX_SANITIZE=ON) ;;
    --clang) dir="$dir-clang"; extras+=(clang); export CC=clang CXX=clang++ ;;
    --m32) dir="$dir-m32"; extras+=(m32); m32=1 ;;
    *) echo "test.sh: unknown option '$arg'" >&2; exit 2 ;;
  esac
done
"$root/scripts/deps.sh" "${extras[@]}"
if [ "$m32" = 1 ]; then
  # 32-bit: the libraries of /usr/lib32, and GoogleTest built once for the word size.
  export CFLAGS="${CFLAGS:-} -m32" CXXFLAGS="${CXXFLAGS:-} -m32" LDFLAGS="${LDFLAGS:-} -m32"
  if [ ! -f "$dir/deps/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$dir/googletest-build" -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_INSTALL_PREFIX="$dir/deps" >/dev/null
    cmake --build "$dir/googletest-build" -j"$(nproc)" >/dev/null
    cmake --install "$dir/googletest-build" >/dev/null
  fi
  # The tests are listed when ctest runs, not when they are built, and the tool's manual is
  # not made (both run a 32-bit program), so that the build also succeeds on a machine
  # whose kernel cannot run 32-bit programs.
  flags+=(-DCMAKE_PREFIX_PATH="$dir/deps" -DCMAKE_LIBRARY_PATH=/usr/lib32
    -DZLIB_LIBRARY=/usr/lib32/libz.so -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST
    -DVELLIX_TOOL_DOCS=OFF)
fi
# shellcheck source=configure.sh
. "$root/scripts/configure.sh"
vellix_configure "$dir" "$type" "${flags[@]}" -DVELLIX_BENCH=$bench
cmake --build "$dir" -j"$(nproc)"
cd "$dir"
if [ "$m32" = 1 ]; then
  # A kernel without 32-bit support refuses to run the programs (exit 126, "Exec format
  # error"): the build is then all that can be checked here.
  probe=0
  "$dir/bin/vellix_core_test" --gtest_list_tests >/dev/null 2>"$dir/m32-probe.txt" || probe=$?
  if [ "$probe" = 126 ] || grep -q "Exec format error" "$dir/m32-probe.txt"; then
    echo "32-bit tests NOT RUN: this kernel cannot execute 32-bit programs (the 32-bit build succeeded)"
    exit 0
  fi
fi
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
ctest --output-on-failure -j"$(nproc)"

# Permission bits do not stop the superuser, so the tests of unwritable places skip as root.
# Where this runs as root (CI does), the file tests run once more as an unprivileged user.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null; then
  nobody=(setpriv --reuid=65534 --regid=65534 --clear-groups env HOME=/tmp TMPDIR=/tmp)
  if "${nobody[@]}" test -x "$dir/bin/vellix_core_test"; then
    echo "== the file tests again as an unprivileged user"
    (cd /tmp && "${nobody[@]}" "$dir/bin/vellix_core_test" --gtest_filter='Replace.*' \
      --gtest_brief=1)
  else
    echo "== the file tests as an unprivileged user: skipped, $dir is not readable by one"
  fi
fi
