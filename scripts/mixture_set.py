#!/usr/bin/python3
"""Builds the two-sequence reads the QVs over a second sequence are
calibrated on (calibrate_qv --mixtures): two clean, long reads of each of
twelve training sources, each mixed six ways from its base 120, 150 or 200
(20 % of itself shifted -5 bases, 30 % at +1 and +3, 50 % at +7, 40 % at
-2, and 40 % of another of these traces).

The traces of the six whose mixtures README's figures are scored on
(GSAT__95EI70, cfutils__A2-3k_SEQ_R_B01, ab12phylo__FN_pl1_07_ITS1F_G01_1,
seqviz__Linc5-1, tools-ecology__test_file, ugene__sanger_11) are not among
them.

usage: mixture_set.py TRAIN_DIR OUT_DIR [-j N]
Needs python3-biopython, python3-numpy and python3-scipy.
"""

import argparse
import os
import sys
from concurrent.futures import ProcessPoolExecutor

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import mix_reads  # noqa: E402

TRACES = [
    "CrispRVariants__IM2033.ab1", "DirEvo_tools__22c_demo.ab1", "DirEvo_tools__demo_MC.ab1",
    "GSAT__95EI73.ab1", "GSAT__95EI74.ab1", "ab12phylo__FN_pl2_13_ITS1F_E02_1.ab1",
    "ab12phylo__FN_pl2_1_ITS1F_A01_1.ab1", "cfutils__B5-M13R_B07.ab1", "cfutils__C5-3k_SEQ_R_A04.ab1",
    "cloning-tutorials__53-73S_E07_055.ab1", "cloning-tutorials__54-73O_F07_053.ab1",
    "dna-barcoding-analysis__AT-HV1F_C01_011.ab1", "dna-barcoding-analysis__AT-JR1R_E04_024.ab1",
    "dsp_bulk-sangerseq__EF73244592_EF73244592.ab1", "pydna__32-3rev_H04_018.ab1", "pydna__test.ab1",
    "sangerseq_viewer__Spec-2xU6gRNA-3.ab1", "sangerseq_viewer__Spec-2xU6gRNA-1.ab1",
    "scifer__G9_3_IgG_Inner.ab1", "seqtrace__forward.ab1",
]
# tag: ratio, shift (None: another trace)
MIXES = [("a", 0.2, -5), ("b", 0.3, 1), ("c", 0.3, 3), ("d", 0.5, 7), ("e", 0.4, None), ("f", 0.4, -2)]


def jobs(train, out):
    for i, name in enumerate(TRACES):
        other = os.path.join(train, TRACES[(i + 3) % len(TRACES)])
        onset = (120, 150, 200)[i % 3]
        for tag, ratio, shift in MIXES:
            path = os.path.join(out, "%s_%s.txt" % (name.rsplit(".", 1)[0], tag))
            yield (os.path.join(train, name), path, ratio, shift or 0, None if shift else other, onset)


def run(job):
    mix_reads.build(*job)
    return job[1]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("train")
    ap.add_argument("out")
    ap.add_argument("-j", type=int, default=2)
    a = ap.parse_args()
    os.makedirs(a.out, exist_ok=True)
    with ProcessPoolExecutor(a.j) as pool:
        for path in pool.map(run, list(jobs(a.train, a.out))):
            print(path)


if __name__ == "__main__":
    main()
