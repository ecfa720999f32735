#!/bin/sh
# Runs the fragment road (kwsignal process) over the shared fragment
# training runs and scores each table with the shared measuring tool.
#   scripts/fragments_train.sh [local|cubic|lsq3]     (needs a build in ./build)
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
    /usr/bin/python3 ../shared/tools/eval_fragments.py "$f" "$out/${s%.*}/fragments.tsv" 2>&1 | tail -1
done
