#!/usr/bin/python3
"""Builds a weak sequencing read with an unincorporated-dye blob, for testing
that no single blob sets a dye's noise level, threshold or scale.

The raw DATA1-4 of FILE.ab1 are scaled so that the median peak of the 40
bases around instrument base --at stands --peak counts above its baseline (a
weak run), white noise of --noise counts is added, and a Gaussian blob
--ratio times --peak (a dye blob stands 20-50 times above a weak run's
bases), of --sigma raw samples, is added to one dye (--dye, C A G or T) at
the raw sample of base --at (matched on the processed traces as in
mix_reads.py).
The result is an export run (C, A, G, T columns) for `kwsignal call
--format export`; FILE's instrument calls score it. A JSON file beside the
run records the blob's dye, centre, sigma and height and the peak scale.

usage: blob_reads.py FILE.ab1 OUT.txt [--dye G] [--ratio 40] [--peak 350]
                     [--sigma 25] [--at 60] [--noise 4] [--seed 1]
Needs python3-biopython, python3-numpy and python3-scipy.
"""
import argparse
import json
import os
import sys

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from mix_reads import raw_position, read_abif, write_export  # noqa: E402


def peak_scale(traces, ploc_raw):
    """Median height above baseline of the called peaks ploc_raw (raw
    samples): each base's highest channel there, less that channel's
    median."""
    base = np.median(traces, axis=1, keepdims=True)
    at = np.clip(np.round(ploc_raw).astype(int), 0, traces.shape[1] - 1)
    return float(np.median(np.max(traces[:, at] - base, axis=0)))


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("trace")
    ap.add_argument("out")
    ap.add_argument("--dye", default="G", choices=list("CAGT"))
    ap.add_argument("--ratio", type=float, default=40.0, help="blob height over the bases near it")
    ap.add_argument("--peak", type=float, default=350.0, help="median peak near the blob after scaling, counts")
    ap.add_argument("--sigma", type=float, default=25.0, help="blob sigma, raw samples")
    ap.add_argument("--at", type=int, default=60, help="instrument base at the blob's centre")
    ap.add_argument("--noise", type=float, default=4.0, help="white noise sd, counts")
    ap.add_argument("--seed", type=int, default=1)
    a = ap.parse_args()
    traces, processed, ploc = read_abif(a.trace)
    if traces is None or processed is None or len(ploc) < a.at + 100:
        sys.exit("blob_reads: %s has too few instrument calls" % a.trace)
    centre, factor = raw_position(traces, processed, ploc[a.at])
    # Raw samples of the called bases, from the local factor around the blob
    # and a few more matches along the read.
    marks = [(ploc[b], raw_position(traces, processed, ploc[b])[0]) for b in range(a.at, len(ploc) - 10, 150)]
    p, r = np.array(marks).T
    ploc_raw = np.interp(ploc, p, r)
    offset = np.median(traces, axis=1, keepdims=True)
    near = ploc_raw[max(0, a.at - 20):a.at + 20]
    scale = a.peak / max(peak_scale(traces, near), 1.0)
    out = offset + (traces - offset) * scale
    rng = np.random.default_rng(a.seed)
    out = out + rng.normal(0.0, a.noise, out.shape)
    t = np.arange(out.shape[1], dtype=float)
    height = a.ratio * a.peak
    out["CAGT".index(a.dye)] += height * np.exp(-0.5 * ((t - centre) / a.sigma) ** 2)
    write_export(a.out, np.round(out))
    meta = {"source": os.path.basename(a.trace), "dye": a.dye, "centre_sample": float(centre), "sigma": a.sigma,
            "height": height, "ratio": a.ratio, "scale": scale, "peak": a.peak, "at_base": a.at}
    with open(a.out + ".json", "w") as f:
        json.dump(meta, f, indent=1)


if __name__ == "__main__":
    main()
