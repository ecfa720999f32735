#!/usr/bin/env python3
"""The model-error term of the edit intervals, chosen leave-one-source-out.

    edit_intervals.py OUTCOMES.tsv [--level 0.95]

OUTCOMES.tsv is `edit_bench --model-error 0 --outcomes FILE`, so that its
intervals are the bootstrap's alone. Each interval side is widened in quadrature by z * sd; for every
source of the benchmark's controls, sd is chosen on the other sources so
that the intervals hold the truth at the level, and the held-out source's
coverage and width are counted. Prints the per-fold choices, the
cross-validated coverage and width, and the sd chosen on all sources, for
the outcomes' shares and the edited fraction.
"""
import csv
import math
import statistics
import sys


def covers(sd, z, f, low, high, truth):
    m = z * sd
    lo = max(0.0, f - math.hypot(max(0.0, f - low), m))
    hi = min(1.0, f + math.hypot(max(0.0, high - f), m))
    return lo <= truth <= hi, hi - lo


def choose(rows, z, level):
    a, b = 0.0, 1.0
    for _ in range(40):
        mid = 0.5 * (a + b)
        hit = sum(covers(mid, z, *r[1:])[0] for r in rows) / len(rows)
        a, b = (a, mid) if hit >= level else (mid, b)
    return b


def main():
    args = sys.argv[1:]
    level = 0.95
    if "--level" in args:
        i = args.index("--level")
        level = float(args[i + 1])
        del args[i:i + 2]
    if len(args) != 1:
        sys.exit(__doc__)
    z = statistics.NormalDist().inv_cdf(0.5 + 0.5 * level)
    outcomes, edited = [], {}
    with open(args[0]) as f:
        for r in csv.DictReader(f, delimiter="\t"):
            v = {k: float(x) for k, x in r.items() if k != "source"}
            # A share the fit left out has no interval: its point is 0.
            outcomes.append((r["source"], v["fit"], v["low"], v["high"], v["true"]))
            edited[r["pair"]] = (r["source"], v["edited_fit"], v["edited_low"],
                                 v["edited_high"], v["edited_true"])
    for name, rows in (("outcomes", outcomes), ("edited", list(edited.values()))):
        hit = width = 0.0
        folds = []
        for source in sorted({r[0] for r in rows}):
            sd = choose([r for r in rows if r[0] != source], z, level)
            folds.append(sd)
            for r in rows:
                if r[0] == source:
                    h, w = covers(sd, z, *r[1:])
                    hit, width = hit + h, width + w
        sd = choose(rows, z, level)
        print(f"{name}: sd {sd:.3f} on all sources (folds {min(folds):.3f}..{max(folds):.3f}); "
              f"cross-validated coverage {100 * hit / len(rows):.1f} %, "
              f"mean width {100 * width / len(rows):.1f} points")


if __name__ == "__main__":
    main()
