#!/usr/bin/env bash
# Installs the build into a throwaway prefix, then builds a small host from
# that prefix alone, once with find_package(pxhost) and once with pkg-config,
# and runs both against the installed plug-in.
# usage: out_of_tree_host.sh BUILD-DIR SOURCE-DIR
set -euo pipefail
build=$(realpath "$1")
src=$(realpath "$2")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null
prefix=$work/prefix
plugin=$(find "$prefix" -name qel-screening-sccp.so | head -n1)
[[ -n $plugin ]] || { echo "FAIL: no plug-in installed under $prefix" >&2; exit 1; }
config=$src/examples/screening.toml
# Frame 1 of the sample: an anyTimeInterrogation (operation 71) that the
# example configuration denies by its operation code.
packet=$src/tests/install/data/ati-begin.sccp
expected=explicitlyDenied

# Copied out of the source tree: the host sees nothing of it but its own files.
cp -r "$src/tests/install/host" "$work/host"

echo "== find_package(pxhost)"
cmake -S "$work/host" -B "$work/build-cmake" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_RPATH="$(dirname "$(find "$prefix" -name 'libpxhost.so.3' | head -n1)")" >/dev/null
cmake --build "$work/build-cmake" >/dev/null
"$work/build-cmake/installed-host" "$plugin" "$config" "$packet" "$expected"

echo "== pkg-config pxhost"
pcdir=$(dirname "$(find "$prefix" -name pxhost.pc | head -n1)")
flags=$(PKG_CONFIG_PATH=$pcdir pkg-config --cflags --libs pxhost)
libdir=$(PKG_CONFIG_PATH=$pcdir pkg-config --variable=libdir pxhost)
# shellcheck disable=SC2086 # the flags are words
g++ -std=c++20 -o "$work/host-pc" "$work/host/host.cpp" $flags -ldl -Wl,-rpath,"$libdir"
"$work/host-pc" "$plugin" "$config" "$packet" "$expected"
