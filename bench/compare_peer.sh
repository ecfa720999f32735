#!/usr/bin/env bash
# kwsignal and the SciPy peer side by side on the shared instrument files:
# processing time of each (file parsing excluded), the speed ratio, and the
# F1 of both against the instrument's base calls.
#
# Like for like: the peer's time is the median of REPEAT runs in one Python
# process (its libraries loaded, its caches warm) of the road to fitted
# peaks, writing its table included. kwsignal's is the median over REPEAT
# files after the first of one batch (the first run of a process also pays
# for growing the heap) of the road to fitted peaks: `kw_ms`, the ratio's
# figure. `with_calls` adds base calling (median of the same runs) and
# `first_run` is the whole road with calls of the first file of the batch.
#
#   bash bench/compare_peer.sh [BUILD_DIR]      (default: build)
#
# Needs Debian's /usr/bin/python3 with python3-numpy, python3-scipy and
# python3-biopython; the shared files and tools sit next to the repository.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../build}
data=${KWSIGNAL_SHARED_DATA:-$here/../../shared/data}
tools=${KWSIGNAL_SHARED_TOOLS:-$here/../../shared/tools}
python=${PYTHON:-/usr/bin/python3}
repeat=${REPEAT:-5}
tool=$build/kwsignal

[ -x "$tool" ] || { echo "compare_peer: $tool not built (make build)" >&2; exit 1; }
[ -d "$data/abif" ] || { echo "compare_peer: no shared data in $data" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

f1_of() {  # FILE PEAKS
    "$python" "$tools/eval_peaks.py" "$1" "$2" 2>/dev/null | sed -n 's/.*F1=\([0-9.]*\).*/\1/p'
}

# Prints "road with_calls first_run" milliseconds of the batch in DIR: the
# medians over every file but the first, and the first file's whole road.
batch_ms() {  # DIR
    "$python" - "$1" <<'PY'
import glob, json, statistics, sys
runs = sorted(glob.glob(sys.argv[1] + "/copy*/summary.json"), key=lambda p: int(p.split("copy")[-1].split("/")[0]))
times = [json.load(open(p))["time_ms"] for p in runs]
road = [t["pipeline"] - t["stages"].get("call", 0.0) for t in times[1:]]
whole = [t["pipeline"] for t in times[1:]]
print(f"{statistics.median(road):.2f} {statistics.median(whole):.2f} {times[0]['pipeline']:.2f}")
PY
}

printf '%-10s %8s %11s %10s %10s %8s %7s %8s\n' file kw_ms with_calls first_run peer_ms speedup kw_F1 peer_F1
for name in 3730.ab1 310.ab1; do
    file=$data/abif/$name
    [ -f "$file" ] || continue
    rm -rf "$work/in" "$work/kw"
    mkdir -p "$work/in"
    for i in $(seq 0 "$repeat"); do ln -s "$file" "$work/in/copy$i.ab1"; done
    "$tool" process --quiet -j 1 -o "$work/kw" $(for i in $(seq 0 "$repeat"); do echo "$work/in/copy$i.ab1"; done)
    read -r kw_ms with_calls first_run < <(batch_ms "$work/kw")
    peer_s=$("$python" "$tools/scipy_peer.py" "$file" --out "$work/peer.tsv" --repeat "$repeat" |
             sed -n 's/.*process_s=\([0-9.]*\).*/\1/p')
    peer_ms=$(awk -v s="$peer_s" 'BEGIN {printf "%.1f", s * 1000}')
    printf '%-10s %8.2f %11.2f %10.2f %10s %7.0fx %7s %8s\n' "$name" "$kw_ms" "$with_calls" "$first_run" \
        "$peer_ms" "$(awk -v a="$peer_ms" -v b="$kw_ms" 'BEGIN {print a / b}')" \
        "$(f1_of "$file" "$work/kw/copy0/peaks.tsv")" "$(f1_of "$file" "$work/peer.tsv")"
done
