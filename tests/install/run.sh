#!/usr/bin/env bash
# Installs the built libraries into a fresh prefix and builds and runs small
# C hosts of the library and of the detection engine against them: found
# with CMake's find_package, and with pkg-config. Each host must load the
# installed libraries, not the build's.
#   run.sh BUILD_DIR WORK_DIR C_COMPILER
set -euo pipefail

build=$1 work=$2 cc=$3
here=$(cd "$(dirname "$0")" && pwd)
prefix=$work/prefix

fail() { echo "install test: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work"
cmake --install "$build" --prefix "$prefix" >/dev/null

pc=$(find "$prefix" -name onset.pc -path '*/pkgconfig/*')
[[ -n "$pc" ]] || fail "no onset.pc under $prefix"
libdir=$(dirname "$(dirname "$pc")")
[[ -f "$prefix/include/onset.h" ]] || fail "header not installed"
# Every installed file must carry the version the header states.
part() { sed -n "s/^#define ONSET_VERSION_$1 \([0-9]*\)$/\1/p" "$prefix/include/onset.h"; }
version=$(part MAJOR).$(part MINOR).$(part PATCH)
[[ "$version" =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]] || fail "no version in the header: '$version'"
[[ -f "$libdir/cmake/onset/onsetConfig.cmake" && -f "$libdir/cmake/onset/onsetConfigVersion.cmake" ]] \
  || fail "CMake package not installed"
[[ -L "$libdir/libonset.so" && -L "$libdir/libonset.so.${version%%.*}" ]] \
  || fail "library links missing"
real=$(readlink -f "$libdir/libonset.so")
[[ -f "$real" && ! -L "$real" && "$real" == "$libdir/libonset.so.$version" ]] \
  || fail "libonset.so does not lead to libonset.so.$version: $real"
grep -q "PACKAGE_VERSION \"$version\"" "$libdir/cmake/onset/onsetConfigVersion.cmake" \
  || fail "the CMake package does not say version $version"

# The host must resolve libonset (and libonset-detect) from the prefix,
# through its run path.
check_loads_installed() {
  local exe=$1 library found
  for library in libonset.so libonset-detect.so; do
    found=$(env -u LD_LIBRARY_PATH ldd "$exe" | awk -v name="$library.${version%%.*}" '$1 == name {print $3}')
    [[ -z "$found" || "$(readlink -f "$found")" == "$(readlink -f "$libdir/$library")" ]] \
      || fail "$exe loads '$found', not the installed $library"
  done
  [[ "$(env -u LD_LIBRARY_PATH "$exe")" == "onset $version: host ok" ]] \
    || fail "$exe did not report onset $version"
}

# 1. CMake package.
cmake -S "$here/host" -B "$work/cmake-host" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$work/cmake-host" >/dev/null
check_loads_installed "$work/cmake-host/host"
check_loads_installed "$work/cmake-host/detect_host"

# 2. pkg-config.
export PKG_CONFIG_PATH=$libdir/pkgconfig
[[ "$(pkg-config --modversion onset)" == "$version" ]] || fail "pkg-config version"
# shellcheck disable=SC2046 # the flags are meant to split into words
"$cc" -std=c99 -Wall -Werror "$here/host/host.c" -o "$work/pkg-config-host" \
  $(pkg-config --cflags --libs onset) -Wl,-rpath,"$(pkg-config --variable=libdir onset)"
check_loads_installed "$work/pkg-config-host"
# The engine's module, with the run path as the README gives it.
[[ "$(pkg-config --modversion onset-detect)" == "$version" ]] || fail "pkg-config version of onset-detect"
# shellcheck disable=SC2046
"$cc" -std=c99 -Wall -Werror "$here/host/detect_host.c" -o "$work/pkg-config-detect-host" \
  $(pkg-config --cflags --libs onset-detect) -Wl,-rpath,"$(pkg-config --variable=libdir onset-detect)"
check_loads_installed "$work/pkg-config-detect-host"

# 3. The detection engine and its command line.
[[ -f "$prefix/include/onset_detect.h" && -L "$libdir/libonset-detect.so.1" ]] || fail "engine not installed"
[[ "$(env -u LD_LIBRARY_PATH "$prefix/bin/onset-detect" --version)" == "onset-detect 1."* ]] \
  || fail "the installed onset-detect does not run"
env -u LD_LIBRARY_PATH "$prefix/bin/onset-detect" --demo --quiet | grep -q "recall 5/5" \
  || fail "the installed onset-detect does not find the synthetic events"
echo "install test passed"
