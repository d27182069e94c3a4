#!/usr/bin/env bash
# Installs the Debian packages Vellix needs that this machine lacks.
#   scripts/deps.sh            what building and testing need
#   scripts/deps.sh clang      ... and clang
#   scripts/deps.sh tidy       ... and clang-tidy and clang-format
#   scripts/deps.sh fuzz       ... and clang with its fuzzing runtime
#   scripts/deps.sh bench      ... and Google Benchmark with the peer INI libraries and tools
#   scripts/deps.sh m32        ... and the 32-bit compiler libraries, zlib and GoogleTest sources
#   scripts/deps.sh windows    ... and the mingw-w64 cross compilers (their -posix variants
#                              come with them), zlib for mingw, wine64 and GoogleTest sources
set -euo pipefail

packages=(cmake g++ make pkg-config zlib1g-dev libgtest-dev libgmock-dev python3 libcli11-dev
  nlohmann-json3-dev jq)
for extra in "$@"; do
  case "$extra" in
    clang) packages+=(clang) ;;
    tidy) packages+=(clang-tidy-14 clang-format-14) ;;
    fuzz) packages+=(clang libclang-rt-14-dev) ;;
    m32) packages+=(g++-multilib lib32z1-dev googletest) ;;
    windows)
      packages+=(g++-mingw-w64-i686 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64
        g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 wine googletest) ;;
    bench) packages+=(libbenchmark-dev libsimpleini-dev libinih-dev libicu-dev libssl-dev crudini time) ;;
    *) echo "deps.sh: unknown extra '$extra'" >&2; exit 2 ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
# A transient failure of one package index (a mirror mid-update) makes apt-get update fail
# while the packages can still be installed from the lists already there: go on, and let the
# install itself decide.
if ! $sudo apt-get update -qq; then
  echo "deps.sh: apt-get update failed; trying the install with the package lists as they are" >&2
fi
$sudo apt-get install -y -qq -o DPkg::Lock::Timeout=600 "${missing[@]}"
