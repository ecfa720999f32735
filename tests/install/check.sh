#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds a small outside
# project against it, once through find_package(kwsignal) and once through
# pkg-config.
set -euo pipefail
build=$1
consumer=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
LD_LIBRARY_PATH="$work/prefix/lib:${LD_LIBRARY_PATH:-}" "$work/build/consumer"
libdir=$(ls -d "$work/prefix"/lib*/pkgconfig | head -1)
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --define-prefix --cflags --libs kwsignal)
# shellcheck disable=SC2086
c++ -std=c++17 "$consumer/consumer.cc" $flags -o "$work/consumer_pc"
LD_LIBRARY_PATH="$work/prefix/lib:${LD_LIBRARY_PATH:-}" "$work/consumer_pc"
echo "install_consumer: ok"
