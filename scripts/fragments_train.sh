#!/bin/sh
# Runs the fragment road over the shared fragment training runs and scores
# each table with the shared measuring tool. Needs a build in ./build.
set -e
cd "$(dirname "$0")/.."
method=${1:-local}
out=${OUT:-/tmp/kwsignal-fragments-$method}
mkdir -p "$out"
g++ -std=c++17 -O2 -Iinclude scripts/fragments_train.cpp -Lbuild -lkwsignal -Wl,-rpath,$PWD/build \
    -o "$out/driver"
files=$(ls ../shared/data/fsa/train/*.fsa ../shared/data/fsa/train/*.hid ../shared/data/fsa/train/*.ab1 \
        ../shared/data/abif/test.fsa)
"$out/driver" "$method" "$out" $files
if [ -z "$NOEVAL" ]; then
    for f in $files; do
        s=$(basename "$f")
        printf '%-44.44s ' "$s"
        /usr/bin/python3 ../shared/tools/eval_fragments.py "$f" "$out/$s.tsv" 2>&1 | tail -1
    done
fi
