#!/usr/bin/env python3
"""kwsignal in a notebook: read a raw instrument file, process it, plot raw against
processed with the fitted peaks, save the figure; then process several files on a thread
pool. Each "# %%" block is one notebook cell (Jupyter, VS Code and Spyder run them so).

    PYTHONPATH=build/python /usr/bin/python3 examples/notebook.py [file.ab1 ...]
"""

# %% Read the raw channels of an instrument file.
import pathlib
import sys
from concurrent.futures import ThreadPoolExecutor

import matplotlib

matplotlib.use("Agg")  # no display needed; drop this line in a notebook
import matplotlib.pyplot as plt
import numpy as np

import kwsignal

here = pathlib.Path(__file__).resolve().parent
default = here.parent.parent / "shared" / "data" / "abif" / "3730.ab1"
paths = [pathlib.Path(p) for p in sys.argv[1:]] or [default]
if not paths[0].exists():
    sys.exit(f"{paths[0]}: no such file; give an .ab1 or .fsa file on the command line")

run = kwsignal.read(paths[0])
print(run)
print("channels", run.channels, "instrument", run.metadata["instrument"])
if run.calls is not None:
    print(f"the instrument called {len(run.calls)} bases: {run.calls[:40]}...")

# %% Process it with the default road (the same as `kwsignal process`).
result = kwsignal.process(run)
print(result)
print("separation matrix:\n", np.round(result.matrix, 3))
print("first peaks:\n", result.peaks[:5])
per_channel = {c["channel"]: c["peaks"] for c in result.summary["channels"]}
print("peaks per channel:", per_channel)

# %% Raw against processed, peaks marked; below, a stretch of 400 samples.
fig, axes = plt.subplots(4, 1, figsize=(14, 12))
result.plot(ax=axes[:2])
start = result.window[0] + 2000
result.plot(ax=axes[2:], span=(start, start + 400))
fig.tight_layout()
figure = pathlib.Path.cwd() / f"{paths[0].stem}-kwsignal.png"
fig.savefig(figure, dpi=120)
print("figure saved to", figure)

# %% Many files at once: process() lets go of the interpreter lock, so threads run in parallel.
with ThreadPoolExecutor(max_workers=4) as pool:
    for path, res in zip(paths, pool.map(kwsignal.process, paths)):
        print(f"{path.name}: {res.status}, {len(res.peaks)} peaks, "
              f"{res.summary['time_ms']['pipeline']:.1f} ms")
