#!/bin/bash
# Installs the build into a scratch prefix and builds a program outside the
# tree against it, once through find_package and once through pkg-config.
set -euo pipefail
build="$1"
source="$2"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
expected="1 [no subject] 9990"

cmake --install "$build" --prefix "$work/prefix" > "$work/install.log"
test -f "$work/prefix/include/quillpost/quillpost.hpp"
test -f "$work/prefix/lib/pkgconfig/quillpost.pc"
# A prefix the loader does not search: the install says how programs find
# the library.
grep -q "is not searched by the dynamic loader.*LD_LIBRARY_PATH=$work/prefix/lib" "$work/install.log" ||
  { echo "the install did not say how to find the library:"; cat "$work/install.log"; exit 1; }

cmake -S "$source/tests/install/consumer" -B "$work/cmake-build" \
  -DCMAKE_PREFIX_PATH="$work/prefix" > "$work/configure.log"
cmake --build "$work/cmake-build" > "$work/build.log"
# The consumer sets no language standard: the imported target asks for C++20.
# CMake gives the program the library's folder itself.
got="$("$work/cmake-build/consumer")"
[ "$got" = "$expected" ] || { echo "find_package consumer printed: $got"; exit 1; }

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
# shellcheck disable=SC2046
c++ -o "$work/pc-consumer" "$source/tests/install/consumer/main.cpp" $(pkg-config --cflags --libs quillpost)
got="$(LD_LIBRARY_PATH="$work/prefix/lib" "$work/pc-consumer")"
[ "$got" = "$expected" ] || { echo "pkg-config consumer printed: $got"; exit 1; }
echo "installed package builds and runs with find_package and pkg-config"
