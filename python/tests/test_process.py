"""The notebook level: reading files, the command-line tool's pipeline from Python, the
exceptions of bad files, and processing on several threads."""

import json
import math
import subprocess
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import kwsignal
from kwsignal import KwCap


def fixed(v, decimals):
    return "nan" if not math.isfinite(v) else f"{v:.{decimals}f}"


def peaks_tsv(peaks):
    lines = [kwsignal._kwsignal.PEAKS_HEADER]
    for p in peaks:
        lines.append("\t".join([
            p["channel"], str(p["trace_code"]), fixed(p["locatn"], 3), fixed(p["height"], 3),
            fixed(p["sigma"], 4), fixed(p["base"], 3), fixed(p["area"], 3), str(p["start_pnt"]),
            str(p["end_pnt"]), f"{p['variance']:.6g}"]))
    return "\n".join(lines) + "\n"


def test_process_gives_the_peaks_and_summary_of_the_cli(abif_dir, cli, tmp_path):
    path = abif_dir / "3730.ab1"
    subprocess.run([str(cli), "process", "--quiet", "-o", str(tmp_path), str(path)], check=True)
    result = kwsignal.process(path)
    assert result.status == "ok" and len(result.peaks) > 500
    assert peaks_tsv(result.peaks) == (tmp_path / "3730" / "peaks.tsv").read_text()
    expected = json.loads((tmp_path / "3730" / "summary.json").read_text())
    for summary in (expected, result.summary):
        del summary["time_ms"]
    assert result.summary == expected
    assert result.processed.shape == (4, 16961) and result.matrix.shape == (4, 4)
    # The same picture as the CLI's, drawn only when asked for.
    assert result.svg is None
    assert kwsignal.process(path, svg=True).svg == (tmp_path / "3730" / "plot.svg").read_text()
    # The calls are the CLI's, and Biopython reads them back letter for letter.
    fastq = tmp_path / "3730" / "calls.fastq"
    assert result.calls.fastq() == fastq.read_text()
    seqio = pytest.importorskip("Bio.SeqIO", reason="Biopython (python3-biopython) is absent")
    record = seqio.read(str(fastq), "fastq")
    assert str(record.seq) == result.calls.sequence and len(record) > 1000
    assert record.letter_annotations["phred_quality"] == list(result.calls.qualities)
    assert str(kwsignal.call(path).to_seqrecord(trim=True).seq) == result.calls.sequence[
        slice(*result.calls.trim)
    ]


def biopython_rows(path):
    """DATA1..DATA4 of Biopython's abif_raw in C, A, G, T order, and the scan rate."""
    seqio = pytest.importorskip("Bio.SeqIO", reason="Biopython (python3-biopython) is absent")
    from datetime import datetime

    raw = seqio.read(str(path), "abi").annotations["abif_raw"]
    order = raw["FWO_1"].decode()
    rows = np.array([raw[f"DATA{order.index(base) + 1}"] for base in "CAGT"], dtype=float)
    start, stop = (datetime.fromisoformat(f"{raw[f'RUND{k}']} {raw[f'RUNT{k}']}") for k in (3, 4))
    return rows, rows.shape[1] / (stop - start).total_seconds()


def test_fragment_run_is_sized_against_its_standard(abif_dir):
    result = kwsignal.process(abif_dir / "test.fsa")
    assert result.kind == "fragments" and result.status == "ok" and not result.calls.called
    assert result.standard["name"] == "GS500" and result.standard["used"] >= 12
    std = result.fragments[result.fragments["is_standard"] == 1]
    assert np.all(np.abs(std["size_bp"] - std["standard_bp"]) < 2.0)
    assert np.all(np.diff(std["locatn"]) > 0) and np.all(np.diff(std["standard_bp"]) > 0)
    as_seq = kwsignal.process(abif_dir / "test.fsa", kind="sequencing")
    assert as_seq.kind == "sequencing" and len(as_seq.fragments) == 0


def test_biopython_channels_give_the_same_peaks_as_the_file(abif_dir):
    path = abif_dir / "3730.ab1"
    rows, rate = biopython_rows(path)
    run = kwsignal.read(path)
    assert np.array_equal(run.raw, rows) and run.rate == rate
    from_file = kwsignal.process(path)
    from_cap = kwsignal.process(KwCap.from_array(rows, rate))
    assert np.array_equal(from_cap.peaks, from_file.peaks)
    assert np.array_equal(from_cap.processed, from_file.processed)
    assert np.array_equal(kwsignal.process(run).peaks, from_file.peaks)
    assert from_cap.summary["format"] == "capillary" and from_cap.summary["file"] is None


@pytest.mark.parametrize("name", ["3730.ab1", "test.fsa"])
def test_a_read_run_takes_the_road_of_its_file(abif_dir, name):
    # A read run must keep its file's kind, dyes and standard: a fragment run read
    # first is still sized, with the same rows, summary and calls as from its path.
    path = abif_dir / name
    run = kwsignal.read(path)
    from_file, from_run = kwsignal.process(path), kwsignal.process(run)
    assert from_run.kind == from_file.kind == ("fragments" if name.endswith(".fsa") else "sequencing")
    assert np.array_equal(from_run.peaks, from_file.peaks)
    assert np.array_equal(from_run.fragments, from_file.fragments)
    assert from_run.calls.fastq() == from_file.calls.fastq()
    for summary in (from_run.summary, from_file.summary):
        del summary["time_ms"]
    assert from_run.summary == from_file.summary
    assert kwsignal.process(run, svg=True).svg == kwsignal.process(path, svg=True).svg
    as_seq = kwsignal.process(run, kind="sequencing", rate=run.rate)
    assert as_seq.kind == "sequencing" and len(as_seq.fragments) == 0
    with pytest.raises(ValueError, match="traces"):
        run.raw = run.raw[:2]
        kwsignal.process(run)


def test_read_gives_raw_channels_and_the_instruments_calls(abif_dir):
    run = kwsignal.read(abif_dir / "310.ab1")
    assert run.format == "abif" and run.channels == ["C", "A", "G", "T"]
    assert run.raw.shape == (4, 10200) and run.metadata["base_order"] == "GATC"
    assert len(run.calls) == 868 and len(run.call_positions) == 868
    fsa = kwsignal.read(abif_dir / "test.fsa")
    assert fsa.calls is None and fsa.channels == ["0", "1", "2", "3"] and fsa.warnings


def test_bad_files_raise_the_matching_exception(abif_dir, tmp_path):
    with pytest.raises(FileNotFoundError):
        kwsignal.read(tmp_path / "missing.ab1")
    with pytest.raises(IsADirectoryError):
        kwsignal.process(tmp_path)
    with pytest.raises(ValueError, match=r"fake\.ab1: not an ABIF file"):
        kwsignal.read(abif_dir / "fake.ab1")
    cut = tmp_path / "cut.ab1"
    cut.write_bytes((abif_dir / "3730.ab1").read_bytes()[:4000])
    with pytest.raises(ValueError, match=r"cut\.ab1: "):
        kwsignal.process(cut)
    text = tmp_path / "notes.txt"
    text.write_text("Wrong first word, which the library's reader would end the process on\n")
    with pytest.raises(ValueError, match="unknown format"):
        kwsignal.read(text)
    with pytest.raises(ValueError, match="not an ABIF file"):
        kwsignal.read(text, format="abif")
    with pytest.raises(ValueError, match="unknown format"):
        kwsignal.read(text, format="fasta")


def test_bad_arrays_raise_value_errors():
    sim = kwsignal.simulate(seed=1, bases=100)
    with pytest.raises(ValueError, match="rate"):
        kwsignal.process(sim.raw)
    with pytest.raises(ValueError, match="too short"):
        kwsignal.process(sim.raw[:, :100], rate=3.0)
    nan = sim.raw.copy()
    nan[1, 50] = np.nan
    with pytest.raises(ValueError, match="finite"):
        kwsignal.process(nan, rate=3.0)
    with pytest.raises(ValueError, match="matrix"):
        kwsignal.process(sim.raw, rate=3.0, matrix=np.eye(3))


def test_simulation_and_its_processing_are_reproducible():
    a, b = kwsignal.simulate(seed=8, bases=200), kwsignal.simulate(seed=8, bases=200)
    assert np.array_equal(a.raw, b.raw) and np.array_equal(a.truth, b.truth)
    assert len(a.truth) == 200 and np.all(np.diff(a.truth["centre"]) > 0)
    first = kwsignal.process(a.raw, rate=a.rate)
    assert np.array_equal(first.peaks, kwsignal.process(a.cap).peaks)
    refined = kwsignal.process(a.raw, rate=a.rate, matrix=np.linalg.inv(a.mixing))
    assert refined.separation in ("refined", "system")


def test_four_files_on_four_threads_match_one_after_the_other(abif_dir, tmp_path):
    simulated = tmp_path / "simulated.txt"
    kwsignal.simulate(seed=3, bases=300).cap.output(str(simulated))
    files = [abif_dir / name for name in ("310.ab1", "3730.ab1", "test.fsa")] + [simulated]
    one_by_one = [kwsignal.process(f) for f in files]
    with ThreadPoolExecutor(max_workers=4) as pool:
        together = list(pool.map(kwsignal.process, files))
    for a, b in zip(one_by_one, together):
        assert np.array_equal(a.peaks, b.peaks) and np.array_equal(a.fragments, b.fragments)
        assert a.calls.sequence == b.calls.sequence
        for summary in (a.summary, b.summary):
            del summary["time_ms"]
        assert a.summary == b.summary


def test_plot_draws_raw_and_processed_panels():
    matplotlib = pytest.importorskip("matplotlib", reason="python3-matplotlib is absent")
    matplotlib.use("Agg")
    sim = kwsignal.simulate(seed=6, bases=150)
    result = kwsignal.process(sim.cap)
    raw_ax, processed_ax = result.plot()
    assert len(raw_ax.lines) >= 4 and len(processed_ax.lines) >= 8
    zoom = result.plot(span=(result.window[0], result.window[0] + 100))
    assert zoom[1].get_xlim()[1] <= result.window[0] + 110
    matplotlib.pyplot.close("all")
