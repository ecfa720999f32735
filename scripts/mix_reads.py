#!/usr/bin/python3
"""Builds a two-sequence read from real sequencing traces, for testing the
caller on mixtures whose major component is known.

The raw DATA1-4 of FILE.ab1 are summed, from a chosen base on, with a copy
of themselves shifted by K bases (a heterozygous indel or an edited pool
whose second allele lost or gained K bases), or with the raw data of a
second trace (--other, a contaminant or mixed template), scaled by RATIO.
The result is written as a four-trace export run (C, A, G, T columns) that
`kwsignal call --format export` reads; the major component's sequence is
FILE's own, so FILE's instrument calls score the result. A JSON file beside
the run records the onset (base and raw sample), the shift and the ratio.

usage: mix_reads.py FILE.ab1 OUT.txt [--ratio 0.3] [--shift K | --other B.ab1]
                    [--onset-base N]
Needs python3-biopython and python3-numpy.
"""
import argparse
import json
import os
import sys

import numpy as np
from Bio import SeqIO


def read_abif(path):
    """Raw traces in C, A, G, T order and the instrument's base positions."""
    raw = SeqIO.read(path, "abi").annotations["abif_raw"]
    order = raw.get("FWO_1", b"GATC")
    order = order.decode() if isinstance(order, bytes) else order
    data = {base: np.asarray(raw["DATA%d" % (i + 1)], dtype=float) for i, base in enumerate(order[:4])}
    traces = np.vstack([data[b] for b in "CAGT"])
    ploc = np.asarray(raw.get("PLOC2", raw.get("PLOC1", ())), dtype=float)
    return traces, ploc


def shifted(traces, samples):
    """traces[t + samples], the ends held at their last value."""
    n = traces.shape[1]
    idx = np.clip(np.arange(n) + samples, 0, n - 1)
    return traces[:, idx]


def mix(traces, ploc, ratio, shift_bases, other, onset_base):
    if len(ploc) < onset_base + 2:
        sys.exit("mix_reads: the trace has too few instrument calls for onset base %d" % onset_base)
    spacing = float(np.median(np.diff(ploc)))
    onset = int(ploc[onset_base] - spacing / 2)
    if other is not None:
        second = np.zeros_like(traces)
        m = min(traces.shape[1], other.shape[1])
        second[:, :m] = other[:, :m]
    else:
        second = shifted(traces, int(round(shift_bases * spacing)))
    # Only the second component's signal adds: its own baseline is taken off
    # so that the run's offset does not grow at the onset.
    second = second - np.median(second, axis=1, keepdims=True)
    out = traces.copy()
    out[:, onset:] += ratio * np.clip(second[:, onset:], 0, None)
    return out, onset, spacing


def write_export(path, traces):
    tmp = path + ".tmp"
    with open(tmp, "w") as f:
        f.write("C_A_G_T:     %d\nTHIS_IS_3_Hz_DATA:\n4Traces:\n" % traces.shape[1])
        for row in traces.T:
            f.write(" ".join("%.6f" % v for v in row) + " \n")
    os.replace(tmp, path)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("trace")
    ap.add_argument("out")
    ap.add_argument("--ratio", type=float, default=0.3, help="second component's scale, 0-1")
    ap.add_argument("--shift", type=int, default=3, help="bases the copy is shifted by, -10..10")
    ap.add_argument("--other", help="a second trace to add instead of a shifted copy")
    ap.add_argument("--onset-base", type=int, default=200, help="instrument base where the mixture starts")
    a = ap.parse_args()
    traces, ploc = read_abif(a.trace)
    other = read_abif(a.other)[0] if a.other else None
    out, onset, spacing = mix(traces, ploc, a.ratio, a.shift, other, a.onset_base)
    write_export(a.out, out)
    meta = {"source": os.path.basename(a.trace), "other": os.path.basename(a.other) if a.other else None,
            "shift_bases": None if a.other else a.shift, "ratio": a.ratio, "onset_base": a.onset_base,
            "onset_sample": onset, "spacing_samples": spacing}
    with open(a.out + ".json", "w") as f:
        json.dump(meta, f, indent=1)


if __name__ == "__main__":
    main()
