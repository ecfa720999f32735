#!/bin/sh
# Runs the fragment road (kwsignal process) over the shared fragment
# training runs and scores each table with the shared measuring tool.
#   scripts/fragments_train.sh [local|cubic|lsq3]     (needs a build in ./build)
# The tool's leave-one-out is Local Southern over the table's standard rows,
# which carry the sizing curve's sizes: with lsq3 (a curve that does not pass
# through its points) it measures that curve's smoothness, not its error.
# method_loo is the road's own figure, each used peak sized by the chosen
# method from the others.
set -e
cd "$(dirname "$0")/.."
method=${1:-local}
out=${OUT:-/tmp/kwsignal-fragments-$method}
files=$(ls ../shared/data/fsa/train/*.fsa ../shared/data/fsa/train/*.hid ../shared/data/fsa/train/*.ab1 \
        ../shared/data/abif/test.fsa)
# shellcheck disable=SC2086
build/kwsignal process --quiet --kind fragments --sizing "$method" -o "$out" $files || true
for f in $files; do
    s=$(basename "$f")
    printf '%-44.44s ' "$s"
    score=$(/usr/bin/python3 ../shared/tools/eval_fragments.py "$f" "$out/${s%.*}/fragments.tsv" 2>&1 | tail -1)
    own=$(/usr/bin/python3 -c 'import json, sys
f = json.load(open(sys.argv[1])).get("fragments", {})
s, loo = f.get("standard", {}), f.get("leave_one_out_bp", {})
if loo.get("mean") is not None:
    print("%s/%s method_loo=%.3f/%.2f" % (s.get("name"), s.get("used"), loo["mean"], loo["max"]))
else:
    print(f.get("sizing_status", "-"))' "$out/${s%.*}/summary.json" 2>/dev/null || echo -)
    echo "${score#"$s" } $own"
done
