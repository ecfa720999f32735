#!/usr/bin/env bash
# Throughput of `kwsignal process` on a sequencing archive: 40 copies of the
# shared 3730.ab1 in a scratch directory, every output written, processed
# with -j 1 and with -j N (default 2). Each setting runs REPEAT times (default
# 3); the fastest run counts, since neighbours on a shared machine only ever
# slow a run down. Prints files per second of each setting, the gain of N
# threads, the processor time per file (user + system) and the load average
# before the runs: a gain near N needs N idle cores.
#
#   bash bench/scaling.sh [BUILD_DIR] [N]      (defaults: build, 2)
#   FILES=40 REPEAT=3 KWSIGNAL_SHARED_DATA=... bash bench/scaling.sh
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
tool=${1:-$here/../build}/kwsignal
threads=${2:-2} files=${FILES:-40} repeat=${REPEAT:-3}
data=${KWSIGNAL_SHARED_DATA:-$here/../../shared/data}
if [ ! -x "$tool" ] || [ ! -f "$data/abif/3730.ab1" ]; then
    echo "scaling: needs the built $tool (make build) and the shared files in $data" >&2
    exit 1
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/in"
for i in $(seq -w 1 "$files"); do cp "$data/abif/3730.ab1" "$work/in/run$i.ab1"; done
cat "$work"/in/*.ab1 >/dev/null  # in the page cache before the first timing

# Prints "wall user+system" seconds of the fastest of `repeat` runs.
best_of() {  # JOBS
    local best="" out
    for _ in $(seq "$repeat"); do
        rm -rf "$work/out"
        out=$( { TIMEFORMAT='%R %U %S'; time "$tool" process --quiet -j "$1" -o "$work/out" \
                     "$work"/in/*.ab1 >/dev/null; } 2>&1 )
        best=$(awk -v o="$out" -v b="$best" 'BEGIN {
            split(o, t, " "); cpu = t[2] + t[3];
            if (b == "") { print t[1], cpu; exit }
            split(b, c, " "); if (t[1] < c[1]) print t[1], cpu; else print b }')
    done
    echo "$best"
}

load=$(cut -d' ' -f1-3 /proc/loadavg)
one=$(best_of 1)
many=$(best_of "$threads")
awk -v f="$files" -v a="$one" -v b="$many" -v n="$threads" -v l="$load" -v r="$repeat" 'BEGIN {
    split(a, x, " "); split(b, y, " ");
    printf "%d copies of 3730.ab1, fastest of %d, load average before: %s\n", f, r, l
    printf "-j 1: %.2f s, %.1f files/s (%.1f ms of processor per file)\n",
           x[1], f / x[1], 1000 * x[2] / f
    printf "-j %d: %.2f s, %.1f files/s (%.1f ms of processor per file): %.2fx\n",
           n, y[1], f / y[1], 1000 * y[2] / f, x[1] / y[1] }'
