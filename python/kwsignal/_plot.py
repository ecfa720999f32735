"""Raw and processed panels of a processed run, in the colours of the tool's plot.svg."""

import numpy as np

from . import _kwsignal


def _colour(name, index):
    """A channel named by a base takes that base's colour, any other its trace code's."""
    colours, letters = _kwsignal.DYE_COLOURS, _kwsignal.BASE_LETTERS
    if len(name) == 1 and name in letters:
        return colours[letters.index(name)]
    return colours[index % len(colours)]


def _draw(ax, rows, scale, span, channels, title):
    """Draws rows (samples at `scale` per input sample) over span, in input samples."""
    rows = np.atleast_2d(rows)
    first = max(0, int(np.floor(span[0] * scale)))
    last = min(rows.shape[1], int(np.ceil(span[1] * scale)) + 1)
    x = np.arange(first, last) / scale
    for t, row in enumerate(rows):
        ax.plot(x, row[first:last], color=_colour(channels[t], t), lw=0.6, label=channels[t])
    ax.set_title(title)
    ax.set_ylabel("intensity")


def plot_result(result, ax=None, span=None):
    import matplotlib.pyplot as plt

    if ax is None:
        _, ax = plt.subplots(2, 1, sharex=True, figsize=(14, 6))
    raw_ax, processed_ax = ax
    scale = result.coordinate_scale
    if span is None:
        span = (0, np.atleast_2d(result.raw).shape[1] / scale)
    _draw(raw_ax, result.raw, scale, span, result.channels, "raw")
    _draw(processed_ax, result.processed, scale, span, result.channels, "processed")
    peaks = result.peaks[(result.peaks["locatn"] >= span[0]) & (result.peaks["locatn"] <= span[1])]
    for t, name in enumerate(result.channels):
        mine = peaks[peaks["trace_code"] == t]
        processed_ax.plot(mine["locatn"], mine["height"] + mine["base"], "v", ms=3,
                          color=_colour(name, t), ls="none")
    for a in ax:
        for edge in result.window:
            if span[0] <= edge / scale <= span[1]:
                a.axvline(edge / scale, color="grey", ls="--", lw=0.8)
    processed_ax.set_xlabel("sample")
    processed_ax.legend(loc="upper right", ncol=len(result.channels), fontsize="small")
    return raw_ax, processed_ax
