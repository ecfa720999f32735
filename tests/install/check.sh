#!/usr/bin/env bash
# Installs the build tree into a scratch prefix and builds outside projects
# against it: the consumer through find_package(kwsignal) and through
# pkg-config, and the process_file example, whose peaks on a real instrument
# file must be exactly those the kwsignal tool writes.
#   check.sh BUILD CONSUMER_DIR EXAMPLES_DIR DATA_FILE
set -euo pipefail
build=$1
consumer=$2
examples=$3
data=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
cmake -S "$consumer" -B "$work/build" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/build" >/dev/null
export LD_LIBRARY_PATH="$work/prefix/lib:$work/prefix/lib64:${LD_LIBRARY_PATH:-}"
"$work/build/consumer"
libdir=$(ls -d "$work/prefix"/lib*/pkgconfig | head -1)
flags=$(PKG_CONFIG_PATH="$libdir" pkg-config --define-prefix --cflags --libs kwsignal)
# shellcheck disable=SC2086
c++ -std=c++17 "$consumer/consumer.cc" $flags -o "$work/consumer_pc"
"$work/consumer_pc"
cmake -S "$examples" -B "$work/examples" -DCMAKE_PREFIX_PATH="$work/prefix" >/dev/null
cmake --build "$work/examples" >/dev/null
if [ -f "$data" ]; then
  "$work/examples/process_file" "$data" >"$work/example-peaks.tsv" 2>/dev/null
  "$build/kwsignal" process "$data" -o "$work/cli" --quiet
  stem=$(basename "${data%.*}")
  cmp "$work/example-peaks.tsv" "$work/cli/$stem/peaks.tsv"
  echo "install_consumer: the installed example gives the tool's peaks on $(basename "$data")"
else
  echo "install_consumer: $data is absent (../shared/data not beside the project); example built, not run"
fi
echo "install_consumer: ok"
