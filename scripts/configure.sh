# Sourced by the build scripts: the one way they configure a build folder, so that
# scripts/example.sh and scripts/test.sh share build/ with the same flags and the second
# command reuses what the first one built.
#   vellix_configure DIR BUILD_TYPE [CMAKE_ARGS...]
vellix_configure() {
  local dir=$1 type=$2
  shift 2
  cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DVELLIX_WERROR=ON "$@" >/dev/null
}
