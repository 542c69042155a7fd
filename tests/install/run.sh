#!/bin/sh
# Installs the library into a temporary prefix, then builds and runs a tiny
# C host and a C++ host (koc/koc.hpp) against it twice: through
# find_package and through pkg-config.
# Arguments: source dir, build dir, cmake executable.
set -eu
src=$1 build=$2 cmake=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

"$cmake" --install "$build" --prefix "$prefix" >/dev/null

# find_package
mkdir -p "$work/cmake-host"
cp "$src/tests/install/host.c" "$src/tests/install/host.cpp" "$work/cmake-host/"
cp "$src/tests/install/CMakeLists.txt.in" "$work/cmake-host/CMakeLists.txt"
"$cmake" -S "$work/cmake-host" -B "$work/cmake-host/build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
"$cmake" --build "$work/cmake-host/build" >/dev/null
"$work/cmake-host/build/host"
"$work/cmake-host/build/host_cpp"

# pkg-config
libdir=$(dirname "$(find "$prefix" -name koc.pc | head -n 1)")/..
export PKG_CONFIG_PATH="$libdir/pkgconfig"
cc "$src/tests/install/host.c" $(pkg-config --cflags koc) -o "$work/pc-host" $(pkg-config --libs koc)
LD_LIBRARY_PATH="$libdir" "$work/pc-host"
c++ -std=c++17 -Wall -Wextra -Werror "$src/tests/install/host.cpp" $(pkg-config --cflags koc) -o "$work/pc-host-cpp" $(pkg-config --libs koc)
LD_LIBRARY_PATH="$libdir" "$work/pc-host-cpp"
