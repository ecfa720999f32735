#!/usr/bin/env bash
# Throughput of `kwsignal process` on many files with 1 and with N threads:
# 40 links to the shared 3730.ab1 and 310.ab1 (alternately) in a scratch
# directory, processed once with -j 1 and once with -j N; prints files per
# second of each and the gain. The gain is near N only on a machine with N
# idle cores.
#
#   bash bench/scaling.sh [BUILD_DIR] [N]        (defaults: build, 2)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tool=${1:-$here/../build}/kwsignal
threads=${2:-2} files=${FILES:-40}
data=${KWSIGNAL_SHARED_DATA:-$here/../../shared/data}
if [ ! -x "$tool" ] || [ ! -f "$data/abif/3730.ab1" ]; then
    echo "scaling: needs the built $tool (make build) and the shared files in $data" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
for i in $(seq -w 1 "$files"); do
    src=$data/abif/3730.ab1
    [ $((10#$i % 2)) -eq 0 ] && src=$data/abif/310.ab1
    ln -s "$(cd "$(dirname "$src")" && pwd)/$(basename "$src")" "$work/in/run$i.ab1"
done

seconds_for() {  # JOBS
    local t0 t1
    t0=$(date +%s.%N)
    "$tool" process --quiet -j "$1" -o "$work/out$1" "$work"/in/*.ab1
    t1=$(date +%s.%N)
    awk -v a="$t0" -v b="$t1" 'BEGIN {printf "%.3f", b - a}'
}

one=$(seconds_for 1)
many=$(seconds_for "$threads")
awk -v f="$files" -v a="$one" -v b="$many" -v n="$threads" 'BEGIN {
    printf "%d files: -j 1 %.2f s (%.1f files/s), -j %d %.2f s (%.1f files/s): %.2fx\n",
           f, a, f / a, n, b, f / b, a / b }'
