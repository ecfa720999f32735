#!/usr/bin/env bash
# kwsignal and the SciPy peer side by side on the shared instrument files:
# processing time of each (file parsing excluded, median of REPEAT runs),
# the speed ratio, and the F1 of both against the instrument's base calls.
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

# Median of the numbers on stdin.
median() { sort -g | awk '{v[NR]=$1} END {print (NR % 2) ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2}'; }

f1_of() {  # FILE PEAKS
    "$python" "$tools/eval_peaks.py" "$1" "$2" 2>/dev/null | sed -n 's/.*F1=\([0-9.]*\).*/\1/p'
}

printf '%-10s %12s %12s %9s %9s %9s\n' file kwsignal_ms peer_ms speedup kw_F1 peer_F1
for name in 3730.ab1 310.ab1; do
    file=$data/abif/$name
    [ -f "$file" ] || continue
    stem=${name%.*}
    for i in $(seq "$repeat"); do
        "$tool" process --quiet -o "$work/kw" "$file"
        "$python" -c 'import json,sys; print(json.load(open(sys.argv[1]))["time_ms"]["pipeline"])' \
            "$work/kw/$stem/summary.json"
    done | median > "$work/kw_ms"
    peer_s=$("$python" "$tools/scipy_peer.py" "$file" --out "$work/peer.tsv" --repeat "$repeat" |
             sed -n 's/.*process_s=\([0-9.]*\).*/\1/p')
    kw_ms=$(cat "$work/kw_ms")
    peer_ms=$(awk -v s="$peer_s" 'BEGIN {printf "%.1f", s * 1000}')
    printf '%-10s %12.1f %12s %8.0fx %9s %9s\n' "$name" "$kw_ms" "$peer_ms" \
        "$(awk -v a="$peer_ms" -v b="$kw_ms" 'BEGIN {print a / b}')" \
        "$(f1_of "$file" "$work/kw/$stem/peaks.tsv")" "$(f1_of "$file" "$work/peer.tsv")"
done
