#!/usr/bin/env bash
# Cross-builds Vellix for Windows with Debian's mingw-w64 and, with --test, runs every test
# under wine.
#   scripts/windows.sh x86_64 [--test]   64-bit, in build-windows-x86_64/
#   scripts/windows.sh i686 [--test]     32-bit, in build-windows-i686/ (its tests need wine32)
# The DLL (vellix.dll), vellix-run.exe and vellix.exe end up in the build folder's bin/.
# Building runs nothing of the target (tests are listed when ctest runs, the tool's manual
# is not made), so the build needs no wine.
# The target's own dependencies (GoogleTest built from Debian's sources, copies of the
# header-only CLI11 and nlohmann-json) go into the build folder's deps/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:-}
case "$arch" in
  x86_64 | i686) ;;
  *) echo "usage: scripts/windows.sh x86_64|i686 [--test]" >&2; exit 2 ;;
esac
shift
test=0
for arg in "$@"; do
  case "$arg" in
    --test) test=1 ;;
    *) echo "windows.sh: unknown option '$arg'" >&2; exit 2 ;;
  esac
done
triple=$arch-w64-mingw32
dir="$root/build-windows-$arch"
deps="$dir/deps"
toolchain="$root/cmake/toolchains/mingw-$arch.cmake"

# The cross tools, wine, and the sources of GoogleTest, from Debian.
"$root/scripts/deps.sh" windows

# Wine's server and services are started once, before anything runs under it: started
# inside the first test, its background processes keep ctest's output open for minutes.
start_wine() {
  export WINEDEBUG=-all
  export WINEPREFIX=${WINEPREFIX:-$dir/wineprefix}
  export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
  mkdir -p "$WINEPREFIX"
  wineserver -p || true  # (already running for this prefix)
  wineboot -i >/dev/null 2>&1 || true  # makes the prefix the first time (about 25 s)
  wine cmd /c exit >/dev/null 2>&1 || true
}

# 32-bit programs need Debian's wine32 (of the i386 architecture), which is not always to be
# had. Where a 32-bit program cannot run, the tests are not built either (they could not
# run; the 32-bit Linux build compiles them with the same word size), only the DLL and the
# two programs.
tests=ON
mkdir -p "$dir"
if [ "$arch" = i686 ] && [ "$test" = 1 ]; then
  start_wine
  printf 'int main(void) { return 0; }\n' >"$dir/probe.c"
  if ! $triple-gcc-posix "$dir/probe.c" -o "$dir/probe.exe" 2>/dev/null &&
    ! $triple-gcc "$dir/probe.c" -o "$dir/probe.exe"; then
    echo "windows.sh: $triple-gcc cannot build a program" >&2
    exit 1
  fi
  if ! timeout 120 wine "$dir/probe.exe" >/dev/null 2>&1; then
    tests=OFF
    test=0
    wineserver -k || true
  fi
fi

# GoogleTest for the target, once per build folder.
mkdir -p "$deps"
if [ "$tests" = ON ] && [ ! -f "$deps/lib/cmake/GTest/GTestConfig.cmake" ]; then
  echo "== GoogleTest for $triple"
  cmake -S /usr/src/googletest -B "$dir/googletest-build" \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$deps" -DBUILD_GMOCK=ON -Dgtest_disable_pthreads=OFF >/dev/null
  cmake --build "$dir/googletest-build" -j"$(nproc)" >/dev/null
  cmake --install "$dir/googletest-build" >/dev/null
fi

# CLI11 and nlohmann-json are headers only, but their installed configs put /usr/include on
# the include path, where the build machine's C library headers would then be found. Copies
# of the headers with a config of their own keep the target's include path clean.
if [ ! -f "$deps/lib/cmake/nlohmann_json/nlohmann_jsonConfig.cmake" ]; then
  mkdir -p "$deps/include" "$deps/lib/cmake/CLI11" "$deps/lib/cmake/nlohmann_json"
  cp -r /usr/include/CLI /usr/include/nlohmann "$deps/include/"
  for pkg in CLI11:CLI11::CLI11 nlohmann_json:nlohmann_json::nlohmann_json; do
    name=${pkg%%:*}
    target=${pkg#*:}
    cat >"$deps/lib/cmake/$name/${name}Config.cmake" <<CONFIG
# Header-only: the headers copied from the build machine's package.
set(${name}_VERSION 3.11)
if(NOT TARGET $target)
  add_library($target INTERFACE IMPORTED)
  set_target_properties($target PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "\${CMAKE_CURRENT_LIST_DIR}/../../../include")
endif()
CONFIG
    cat >"$deps/lib/cmake/$name/${name}ConfigVersion.cmake" <<CONFIG
set(PACKAGE_VERSION 3.11)
set(PACKAGE_VERSION_COMPATIBLE TRUE)
CONFIG
  done
fi

echo "== build for $triple"
cmake -S "$root" -B "$dir" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVELLIX_DEPS_ROOT="$deps" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELLIX_WERROR=ON -DVELLIX_TOOL_DOCS=OFF \
  -DVELLIX_TESTS=$tests -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
cmake --build "$dir" -j"$(nproc)"

if [ "$tests" = OFF ]; then
  echo "i686 tests NOT RUN: wine cannot run 32-bit programs here (wine32, of Debian's i386"
  echo "architecture, is not installed); the DLL, vellix-run.exe and vellix.exe were built"
  exit 0
fi
[ "$test" = 1 ] || exit 0

echo "== tests under wine"
start_wine
status=0
(cd "$dir" && ctest --output-on-failure -j"$(nproc)") || status=$?
wineserver -k || true
exit $status
