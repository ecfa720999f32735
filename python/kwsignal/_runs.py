"""Reading, processing and simulating runs: thin wrappers over the compiled entry points."""

import json
import os

import numpy as np

from . import _kwsignal
from ._kwsignal import KwCap

#: One row per fitted peak, the columns of the command-line tool's peaks.tsv. Positions
#: and widths are in the input's own sample coordinates.
_INT_COLUMNS = ("trace_code", "start_pnt", "end_pnt")
PEAK_DTYPE = np.dtype(
    [
        (name, "U16" if name == "channel" else "i4" if name in _INT_COLUMNS else "f8")
        for name in _kwsignal.PEAKS_HEADER.split("\t")
    ]
)

#: One row per peak of a fragment-analysis run, the columns of fragments.tsv (``locatn`` in
#: raw scans, ``size_bp`` NaN when unsized) and the standard fragment a standard peak is.
FRAGMENT_DTYPE = np.dtype(
    [
        ("dye", "i4"),
        ("dye_name", "U32"),
        ("locatn", "f8"),
        ("size_bp", "f8"),
        ("height", "f8"),
        ("area", "f8"),
        ("fwhm", "f8"),
        ("is_standard", "i4"),
        ("standard_bp", "f8"),
        ("flags", "U64"),
        ("locus", "U32"),
        ("allele", "U16"),
    ]
)

#: One row per simulated base.
TRUTH_DTYPE = np.dtype([("channel", "i4"), ("centre", "f8"), ("height", "f8"), ("sigma", "f8")])


def _records(columns, dtype):
    out = np.empty(len(columns[dtype.names[0]]), dtype=dtype)
    for name in dtype.names:
        out[name] = columns[name]
    return out


class Run:
    """A trace file as read: raw channels (C, A, G, T order for four dyes), rate, metadata.

    Attributes: ``path``, ``format``, ``raw`` (ndarray [n_traces, n_samples]), ``rate``
    (samples per second), ``channels`` (channel names), ``metadata`` (dict), ``warnings``;
    for instrument (ABIF) files also ``calls`` (the instrument's base calls, or None),
    ``call_positions`` (ndarray or None, in the instrument's processed-channel samples) and
    ``instrument_processed`` (the instrument's own processed channels, or None).
    """

    def __init__(self, d):
        self.path = d.pop("path")
        self.format = d.pop("format")
        self.raw = d.pop("raw")
        self.rate = d.pop("rate")
        self.channels = list(d.pop("channels"))
        self.warnings = list(d.pop("warnings"))
        self.calls = d.pop("calls", None)
        self.call_positions = d.pop("call_positions", None)
        self.instrument_processed = d.pop("processed", None)
        self._source = d.pop("source")
        self.metadata = d

    def to_cap(self):
        """A new KwCap holding the raw channels."""
        return KwCap.from_array(self.raw, self.rate)

    def __repr__(self):
        n, m = self.raw.shape
        return f"Run({self.path!r}, {self.format}, {n} traces x {m} samples at {self.rate:.4g} Hz)"


def read(path, format="auto"):
    """Reads a trace file in any format the kwsignal tool reads (ABIF .ab1/.fsa included).

    The format is recognised from the content unless ``format`` names one. Raises
    FileNotFoundError, IsADirectoryError, PermissionError, or ValueError with the reason
    (``"<path>: not an ABIF file ..."`` for an instrument-file name that holds something else).
    """
    return Run(_kwsignal._read(os.fspath(path), format))


class Calls:
    """The called bases of a sequencing run.

    ``sequence`` (str), ``qualities`` (ndarray of Phred values, 0..60), ``positions`` and
    ``corrected_positions`` (ndarray, the input's own samples; the second with each dye's
    mobility offset taken out), ``secondary`` (str: the strongest other dye at each base,
    N for none) and ``secondary_ratio`` (its height over the called dye's), ``heights``
    (ndarray [n, 4], the processed C, A, G, T channels at each base), ``trim`` (the
    quality-trimmed bases, a slice's start and end), ``name`` (the read's name: the
    sample name the file records, else the file's stem), ``called`` and ``note`` (why no
    bases were called).
    """

    def __init__(self, d):
        self.called = d["called"]
        self.note = d["note"]
        self.name = d["name"]
        self.sequence = d["sequence"]
        self.qualities = d["qualities"]
        self.positions = d["positions"]
        self.corrected_positions = d["corrected_positions"]
        self.secondary = d["secondary"]
        self.secondary_ratio = d["secondary_ratio"]
        self.heights = d["heights"]
        self.trim = tuple(d["trim"])
        self._fastq = d["fastq"]

    def __len__(self):
        return len(self.sequence)

    def fastq(self):
        """The calls as one FASTQ record (Phred+33), as calls.fastq holds them."""
        return self._fastq

    def to_seqrecord(self, trim=False):
        """A Biopython SeqRecord with ``phred_quality`` (needs Biopython)."""
        from Bio.Seq import Seq
        from Bio.SeqRecord import SeqRecord

        a, b = self.trim if trim else (0, len(self.sequence))
        record = SeqRecord(Seq(self.sequence[a:b]), id=self.name, description="")
        record.letter_annotations["phred_quality"] = [int(q) for q in self.qualities[a:b]]
        return record

    def __repr__(self):
        return f"Calls({self.name!r}, {len(self)} bases)" if self.called else f"Calls({self.note!r})"


class Result:
    """What the default road made of one run.

    ``processed``: the conditioned channels (ndarray [n_traces, n_samples]); ``matrix``: the
    separation matrix applied; ``peaks``: a structured array with the columns of peaks.tsv
    (PEAK_DTYPE); ``summary``: the contents of summary.json as a dict; ``status``: "ok",
    "no_signal", or the sizing's word of a fragment run that was not cleanly sized
    ("low_confidence", "unknown_standard", "no_standard_peaks", "no_data"); ``window``:
    (start, end) of the signal, in processed samples; ``raw``, ``rate`` and ``channels`` of
    the input; ``svg``: the tool's plot.svg as text when asked for
    (``process(..., svg=True)``), else None.
    """

    def __init__(self, d, raw=None, source_format=None):
        self.status = d["status"]
        self.note = d["note"]
        self.window = tuple(d["window"])
        self.separation = d["separation"]
        self.matrix = d["matrix"]
        self.processed = d["processed"]
        self.peaks = _records(d["peaks"], PEAK_DTYPE)
        self.calls = Calls(d["calls"])
        self.kind = d["kind"]
        self.fragments = _records(d["fragments"]["peaks"], FRAGMENT_DTYPE)
        self.standard = d["fragments"]["standard"]
        self.raw = d["raw"] if raw is None else raw
        self.rate = d["rate"]
        self.channels = list(d["channels"])
        self.coordinate_scale = d["coordinate_scale"]
        self.pipeline_ms = d["pipeline_ms"]
        self.svg = d["svg"]
        self._outcome = d["outcome"]
        self._source_format = source_format
        self._summary = None

    @property
    def summary(self):
        """The contents of the tool's summary.json, made when first asked for."""
        if self._summary is None:
            summary = json.loads(self._outcome.summary_json())
            if self._source_format is not None:
                summary["file"] = None
                summary["format"] = self._source_format
            self._summary = summary
        return self._summary

    def plot(self, ax=None, span=None):
        """Raw and processed channels in two panels, fitted peaks marked, the signal window
        dashed (needs matplotlib).

        ``ax``: two Axes (raw, processed) to draw into; by default a new figure. ``span``:
        (first, last) sample to show; by default the whole run. Returns the two Axes.
        """
        if self.kind == "fragments":
            raise ValueError("plot() draws sequencing runs; a fragment run's dyes in base pairs "
                             "are in the plot.svg of `kwsignal process`")
        from ._plot import plot_result

        return plot_result(self, ax, span)

    def __repr__(self):
        return f"Result({self.status}, {len(self.peaks)} peaks, window {self.window})"


def _matrix_or_none(matrix):
    return None if matrix is None else np.asarray(matrix, dtype=float)


def process(source, rate=None, matrix=None, *, format="auto", mixed=0.0, kind="auto",
            sizing="local", svg=False):
    """Runs the kwsignal tool's default road and returns a Result.

    ``source``: a path (read as ``read`` does), a Run, a KwCap, or an array
    [n_traces, n_samples] of raw samples (four traces are taken as C, A, G, T).
    ``rate``: samples per second; overrides the file's rate, and is needed for an array
    (a KwCap or Run brings its own). ``matrix``: a system separation matrix to refine
    instead of learning one from scratch. ``format``: the file format when the content
    should not decide. ``mixed``: 0 for pure base calls, else call IUPAC codes where the
    second dye reaches that share of the first (0 < mixed <= 1). ``kind``: "auto",
    "sequencing" or "fragments" (the road to take; a fragment run gives ``.fragments``, a
    structured array of FRAGMENT_DTYPE, and ``.standard``, how it was sized). ``sizing``:
    "local", "cubic" or "lsq3". ``svg``: also draw the tool's plot.svg (``.svg``, the
    document as text; None otherwise). Raises ValueError when the run cannot be processed.
    """
    matrix = _matrix_or_none(matrix)
    if isinstance(source, (str, bytes, os.PathLike)):
        d = _kwsignal._process_file(
            os.fspath(source), format, rate or 0.0, matrix, mixed, kind, sizing, svg
        )
        return Result(d)
    if isinstance(source, Run):
        # The run as read travels with its samples, so its dyes, kind and standard
        # are the file's and the result is the one process(path) gives.
        d = _kwsignal._process_rows(
            source.raw, rate or 0.0, matrix, [], 1.0, mixed, kind, sizing, svg, source._source
        )
        return Result(d, source.raw)
    what = "array"
    if isinstance(source, KwCap):
        rows, rate, what = source.to_array(), rate or source.getSamplingRate(), "capillary"
    else:
        rows = np.asarray(source, dtype=float)
    if not rate:
        raise ValueError("rate (samples per second) is needed for an array")
    d = _kwsignal._process_rows(rows, rate, matrix, [], 1.0, mixed, kind, sizing, svg)
    return Result(d, rows, what)


def call(source, rate=None, *, format="auto", mixed=0.0):
    """The called bases of a sequencing run (a Calls): ``process(...).calls``.

    Raises ValueError when the run cannot be processed or holds no bases to call (no
    signal, or not four dyes in a known base order).
    """
    calls = process(source, rate, format=format, mixed=mixed).calls
    if not calls.called:
        raise ValueError(calls.note)
    return calls


class Simulation:
    """A simulated raw capillary and its truth.

    ``raw`` (ndarray [4, n_samples], C, A, G, T), ``rate``, ``truth`` (one row per base,
    TRUTH_DTYPE, by ascending centre), ``mixing`` (what each channel sees of each dye),
    ``spacing`` (samples between bases at the first base), ``primer_pnt``, ``tail_pnt``,
    and ``cap``, a KwCap holding the raw channels.
    """

    def __init__(self, d):
        self.raw = d["raw"]
        self.rate = d["rate"]
        self.truth = _records(d["truth"], TRUTH_DTYPE)
        self.mixing = d["mixing"]
        self.spacing = d["spacing"]
        self.primer_pnt = d["primer_pnt"]
        self.tail_pnt = d["tail_pnt"]
        self.cap = KwCap.from_array(self.raw, self.rate)


def simulate(seed=1, bases=500, rate=3.0, crosstalk=0.25, noise=1.0):
    """Simulates one raw four-channel capillary with known truth (see Simulation).

    Equal arguments give equal runs. Values outside their ranges are clamped: bases
    1..5000, rate 0.5..20 Hz, crosstalk 0..0.6, noise 0..20.
    """
    return Simulation(_kwsignal._simulate(seed, bases, rate, crosstalk, noise))
