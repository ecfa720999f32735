#!/usr/bin/python3
"""Builds a two-sequence read from real sequencing traces, for testing the
caller on mixtures whose major component is known.

The raw DATA1-4 of FILE.ab1 are summed, from a chosen base on, with a copy
of themselves shifted by K bases (a heterozygous indel or an edited pool
whose second allele lost or gained K bases), or with the raw data of a
second trace (--other, a contaminant or mixed template, first brought to
the height of FILE's bases over the mixed stretch), scaled by RATIO.
The result is written as a four-trace export run (C, A, G, T columns) that
`kwsignal call --format export` reads; the major component's sequence is
FILE's own, so FILE's instrument calls score the result. A JSON file beside
the run records the onset (base and raw sample, found by matching the
instrument's processed traces around that base to the raw ones), the shift,
the raw samples per base there and the ratio. The shifted copy is shifted by
K bases all along, not by a fixed number of samples: the spacing grows along
a run, and a second ladder K bases off puts its peaks on the read's own base
places.

usage: mix_reads.py FILE.ab1 OUT.txt [--ratio 0.3] [--shift K | --other B.ab1]
                    [--onset-base N]
Needs python3-biopython, python3-numpy and python3-scipy.
"""
import argparse
import json
import os
import sys

import numpy as np
from Bio import SeqIO


def read_abif(path):
    """Raw and processed traces in C, A, G, T order and the instrument's base
    positions (on the processed traces' axis)."""
    raw = SeqIO.read(path, "abi").annotations["abif_raw"]
    order = raw.get("FWO_1", b"GATC")
    order = order.decode() if isinstance(order, bytes) else order

    def channels(first):
        data = {b: np.asarray(raw.get("DATA%d" % (first + i), ()), dtype=float) for i, b in enumerate(order[:4])}
        return np.vstack([data[b] for b in "CAGT"]) if all(len(v) for v in data.values()) else None

    ploc = np.asarray(raw.get("PLOC2", raw.get("PLOC1", ())), dtype=float)
    return channels(1), channels(9), ploc


def detail(x, half):
    """Each row with its running median taken off and scaled by its running
    spread: the peaks of a stretch, whatever the baseline and brightness."""
    from scipy.ndimage import median_filter, uniform_filter1d
    d = x - median_filter(x, size=(1, 2 * half + 1), mode="nearest")
    spread = np.sqrt(uniform_filter1d(d * d, 2 * half + 1, axis=1, mode="nearest")) + 1e-9
    return d / spread


def raw_position(raw, processed, at, half=300):
    """The raw sample of processed sample `at` and raw samples per processed
    sample there. Instrument software crops and resamples its processed
    traces, so the two axes differ: a stretch of the processed traces around
    `at` is stretched by trial factors and slid along the raw traces; the
    best correlation of the four channels gives the place and the factor."""
    from scipy.signal import fftconvolve
    lo, hi = max(0, int(at) - half), min(processed.shape[1], int(at) + half)
    window = detail(processed[:, lo:hi], 50)
    target = detail(raw, 50)
    best = (-np.inf, 0.0, 1.0)
    for factor in np.arange(0.7, 1.9, 0.01):
        n = int(round((hi - lo) * factor))
        grid = np.linspace(0, hi - lo - 1, n)
        score = 0
        for c in range(4):
            w = np.interp(grid, np.arange(hi - lo), window[c])
            score = score + fftconvolve(target[c], w[::-1], mode="valid")
        k = int(np.argmax(score))
        if score[k] / n > best[0]:
            best = (score[k] / n, k + (at - lo) * factor, factor)
    return best[1], best[2]


def raw_axis(raw, processed, ploc, onset_base):
    """Raw sample of each instrument base from the onset on (a few bases
    matched, linear between), and of half a base before the onset."""
    bases = list(range(onset_base, len(ploc) - 10, 80)) + [len(ploc) - 11]
    matched = [(b, raw_position(raw, processed, ploc[b])[0]) for b in bases]
    known = []
    for b, at in matched:
        if not known or at > known[-1][1]:
            known.append((b, at))
    if len(known) < 2:
        sys.exit("mix_reads: the raw traces could not be matched to the processed ones")
    b, at = np.array(known, dtype=float).T
    # The first bases' processed traces can match the raw ones far off (a
    # stretch of primer peaks looks like any other): the onset's match must
    # give the raw samples per base the rest of the run gives, or every
    # figure built on the onset is wrong.
    steps = np.diff([a for _, a in matched]) / np.diff([m for m, _ in matched])
    typical = np.median(steps[steps > 0]) if np.any(steps > 0) else 0.0
    first = (at[1] - at[0]) / (b[1] - b[0])
    if b[0] != onset_base or not typical > 0 or not 0.6 * typical <= first <= 1.6 * typical:
        sys.exit("mix_reads: instrument base %d could not be placed on the raw traces (%.2f raw samples "
                 "per base there against %.2f along the run); choose a later onset base" %
                 (onset_base, first, typical))
    return b, at


def shifted(traces, b, at, shift_bases):
    """The traces k bases on: the sample of base B(t) + k at each sample t
    (B the raw axis' base index), the ends held at their last value."""
    n = traces.shape[1]
    t = np.arange(n, dtype=float)
    base = np.interp(t, at, b, left=np.nan, right=np.nan)
    slope = (b[-1] - b[0]) / (at[-1] - at[0])
    base = np.where(t < at[0], b[0] + (t - at[0]) * slope, base)
    base = np.where(t > at[-1], b[-1] + (t - at[-1]) * slope, base)
    src = np.interp(base + shift_bases, b, at, left=np.nan, right=np.nan)
    src = np.where(np.isnan(src), t + shift_bases / slope, src)
    src = np.clip(src, 0, n - 1)
    return np.vstack([np.interp(src, t, row) for row in traces])


def mix(traces, processed, ploc, ratio, shift_bases, other, onset_base):
    if len(ploc) < onset_base + 12 or processed is None:
        sys.exit("mix_reads: the trace has too few instrument calls for onset base %d" % onset_base)
    b, at = raw_axis(traces, processed, ploc, onset_base)
    spacing = (at[1] - at[0]) / (b[1] - b[0])
    onset = int(round(at[0] - spacing / 2))
    if other is not None:
        second = np.zeros_like(traces)
        m = min(traces.shape[1], other.shape[1])
        second[:, :m] = other[:, :m]
    else:
        second = shifted(traces, b, at, shift_bases)
    # Only the second component's signal adds: its own baseline is taken off
    # so that the run's offset does not grow at the onset.
    second = second - np.median(second, axis=1, keepdims=True)
    if other is not None:
        # Another trace can be several times brighter or weaker than this
        # one: RATIO is of this trace's bases, so the other is brought to
        # their height over the mixed stretch first.
        second *= peak_level(traces, onset, spacing) / max(peak_level(second, onset, spacing), 1e-9)
    out = traces.copy()
    out[:, onset:] += ratio * np.clip(second[:, onset:], 0, None)
    return out, onset, spacing


def peak_level(traces, onset, spacing, bases=400):
    """The height of a typical base over the stretch of BASES bases from
    the onset: the median of the tallest dye's local maxima, baseline off."""
    stretch = traces[:, onset:onset + int(bases * spacing)]
    if stretch.shape[1] < 3:
        return 0.0
    top = (stretch - np.median(stretch, axis=1, keepdims=True)).max(axis=0)
    peaks = top[1:-1][(top[1:-1] >= top[:-2]) & (top[1:-1] > top[2:]) & (top[1:-1] > 0)]
    return float(np.median(peaks)) if peaks.size else 0.0


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
    build(a.trace, a.out, a.ratio, a.shift, a.other, a.onset_base)


def build(trace, out_path, ratio, shift, other_trace, onset_base):
    """Writes the two-sequence read OUT_PATH and OUT_PATH.json."""
    traces, processed, ploc = read_abif(trace)
    other = read_abif(other_trace)[0] if other_trace else None
    out, onset, spacing = mix(traces, processed, ploc, ratio, shift, other, onset_base)
    write_export(out_path, out)
    meta = {"source": os.path.basename(trace), "other": os.path.basename(other_trace) if other_trace else None,
            "shift_bases": None if other_trace else shift, "ratio": ratio, "onset_base": onset_base,
            "onset_sample": onset, "spacing_samples": spacing}
    with open(out_path + ".json", "w") as f:
        json.dump(meta, f, indent=1)


if __name__ == "__main__":
    main()
