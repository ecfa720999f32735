#!/usr/bin/env python3
"""What calling the road from Python costs, and what Python threads gain.

1. Overhead: ``kwsignal.process`` on a raw array of the size of a 3730 run (4 x 16,961
   samples), timed around the call, against the C++ road's own time for the same run
   (measured inside the road). The difference is what the bindings add: copying the
   array in, the results out, the summary. It should stay within 10 % of the road.
2. Threads: four files processed one after the other and on four Python threads.

Run with the build on the path, e.g.
    PYTHONPATH=build/python /usr/bin/python3 bench/bench_python.py [--repeats 30]
"""

import argparse
import os
import pathlib
import statistics
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import kwsignal

SHARED = pathlib.Path(os.environ.get(
    "KWSIGNAL_SHARED_DATA", pathlib.Path(__file__).resolve().parents[2] / "shared" / "data"))
SAMPLES_3730 = 16961


def run_of_3730_size():
    """The raw channels of 3730.ab1 when present, else a simulated run cut to its size."""
    path = SHARED / "abif" / "3730.ab1"
    if path.exists():
        run = kwsignal.read(path)
        return run.raw, run.rate, str(path)
    sim = kwsignal.simulate(seed=1, bases=1400, rate=3.3)
    rows = sim.raw[:, :SAMPLES_3730]
    return np.ascontiguousarray(rows), sim.rate, "a simulated run"


def overhead(rows, rate, repeats):
    kwsignal.process(rows, rate=rate)  # warm-up
    calls, pipeline = [], []
    for _ in range(repeats):
        t0 = time.perf_counter()
        result = kwsignal.process(rows, rate=rate)
        calls.append((time.perf_counter() - t0) * 1000.0)
        pipeline.append(result.pipeline_ms)
    extra = [c - p for c, p in zip(calls, pipeline)]
    median = statistics.median
    return median(calls), median(pipeline), median(extra), min(extra)


def four_files(folder):
    files = [SHARED / "abif" / n for n in ("310.ab1", "3730.ab1", "test.fsa")]
    files = [f for f in files if f.exists()]
    seed = 1
    while len(files) < 4:
        path = pathlib.Path(folder) / f"simulated-{seed}.txt"
        kwsignal.simulate(seed=seed, bases=1000).cap.output(str(path))
        files.append(path)
        seed += 1
    return files


def best_of(repeats, fn):
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times) * 1000.0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeats", type=int, default=30)
    args = parser.parse_args()

    rows, rate, what = run_of_3730_size()
    call_ms, pipeline_ms, extra_ms, least_ms = overhead(rows, rate, args.repeats)
    share = extra_ms / pipeline_ms * 100.0
    print(f"process() on {rows.shape[0]} x {rows.shape[1]} samples ({what}), "
          f"median of {args.repeats}:")
    print(f"  call {call_ms:8.2f} ms   C++ road {pipeline_ms:8.2f} ms   "
          f"Python-call overhead {extra_ms:6.2f} ms = {share:4.1f} % "
          f"(least {least_ms:.2f} ms)  "
          f"{'within' if share <= 10.0 else 'ABOVE'} the 10 % budget")

    with tempfile.TemporaryDirectory() as folder:
        files = four_files(folder)
        repeats = max(3, args.repeats // 6)
        sequential = best_of(repeats, lambda: [kwsignal.process(f) for f in files])
        with ThreadPoolExecutor(max_workers=4) as pool:
            threaded = best_of(repeats, lambda: list(pool.map(kwsignal.process, files)))
    print(f"four files ({', '.join(f.name for f in files)}), best of {repeats}:")
    print(f"  one after the other {sequential:8.2f} ms   four threads {threaded:8.2f} ms   "
          f"speed-up {sequential / threaded:4.2f} x on {os.cpu_count()} CPUs")
    return 0 if share <= 10.0 else 1


if __name__ == "__main__":
    sys.exit(main())
