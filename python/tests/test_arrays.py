"""The library's classes from Python: arrays in and out, operations in place, objects that
never dangle, and wrong arguments that raise instead of reading outside an array."""

import gc
import random

import numpy as np
import pytest

from kwsignal import KwCap, KwEvent, KwPeak, KwSpecSepTable, KwTrace, simulate


def odd_array():
    rng = np.random.default_rng(7)
    a = rng.normal(0.0, 1e3, size=(4, 257))
    a[0, :3] = [-0.0, 1e-308, -1.7976931348623157e308]
    a[2, 5] = np.nan
    return a


def test_arrays_round_trip_exactly():
    a = odd_array()
    for source in (a, np.asfortranarray(a), a[:, ::-1].copy()[:, ::-1]):
        assert np.array_equal(KwCap.from_array(source, 3.0).to_array(), a, equal_nan=True)
    assert np.array_equal(KwCap.from_array(a[:, ::2], 3.0).to_array(), a[:, ::2], equal_nan=True)
    ints = np.arange(-50, 50, dtype=np.int16).reshape(2, 50)
    assert np.array_equal(KwCap(ints, 1.5).to_array(), ints.astype(float))
    trace = KwTrace.from_array(a[1], 2.0)
    assert np.array_equal(trace.to_array(), a[1]) and len(trace) == 257
    assert trace.getSampleRate() == 2.0 and trace.getSignalEndPnt() == 256
    m = np.array([[1.0, -0.25], [0.125, 1.0]])
    assert np.array_equal(KwSpecSepTable.from_array(m).to_array(), m)
    assert KwCap().to_array().shape == (0, 1) and KwCap(3).to_array().shape == (3, 0)


def test_arrays_handed_out_are_copies_and_traces_keep_their_capillary():
    a = odd_array()
    cap = KwCap.from_array(a, 3.0)
    out = cap.to_array()
    out[:] = 0.0
    assert cap(1, 10) == a[1, 10]
    trace = KwCap.from_array(a, 3.0).getPnterToTrace(3)  # the capillary is a temporary
    gc.collect()
    assert np.array_equal(trace.to_array(), a[3])
    borrowed = cap.getPnterToTrace(1)
    del cap
    gc.collect()
    borrowed[0] = 42.0
    assert borrowed[0] == 42.0


def test_operations_work_in_place():
    sim = simulate(seed=2, bases=120)
    cap = sim.cap
    before = cap.to_array()
    assert cap.deBaseline(8) == 1
    after = cap.to_array()
    assert not np.array_equal(before, after)
    trace = cap.getPnterToTrace(2)  # the trace inside the capillary, not a copy
    trace.fill(5.0)
    assert np.all(cap.to_array()[2] == 5.0) and np.array_equal(cap.to_array()[0], after[0])
    cap.setSignalEndPnt(cap.getNumData() - 11)
    cap.setSignalEndPnt(cap.getNumData() - 21)  # a second narrowing zeroes what it cuts off
    assert np.all(cap.to_array()[:, -20:-10] == 0.0)
    snapshot = cap.to_array()
    KwCap(cap).fill(1.0)  # a copy has samples of its own
    assert np.array_equal(cap.to_array(), snapshot)

    m = np.array([[1.0, -0.3, 0, 0], [-0.2, 1.0, 0, 0], [0, 0, 1.0, -0.1], [0, 0, 0.5, 1.0]])
    raw = sim.raw
    sep = KwCap.from_array(raw, sim.rate)
    sep.specSep(m)
    assert np.allclose(sep.to_array(), m @ raw, rtol=1e-12, atol=1e-9)
    buffer = np.zeros(50)
    peak = KwPeak()
    for setter, v in (("setLocatn", 20.0), ("setHeight", 10.0), ("setSigma", 2.0),
                      ("setStartPnt", 10), ("setEndPnt", 30)):
        getattr(peak, setter)(v)
    peak.synthetic(buffer)
    assert buffer[20] == 10.0 and buffer[9] == 0.0 and buffer[31] == 0.0
    right = peak.split()
    assert right.getLocatn() > peak.getLocatn()


def test_separation_learned_from_the_capillary_undoes_the_mixing():
    sim = simulate(seed=5, bases=400, crosstalk=0.3)
    cap = sim.cap
    cap.deBaseline(8)
    applied, matrix = cap.specSep(0.01, None, 3.0, 1)
    assert applied == 1
    product = matrix @ sim.mixing
    off = product - np.diag(np.diag(product))
    assert np.abs(off).max() < 0.1 * np.diag(product).min()


def test_wrong_arguments_raise_instead_of_reading_outside():
    cap = KwCap.from_array(odd_array(), 3.0)
    with pytest.raises(IndexError):
        cap.getPnterToTrace(4)
    with pytest.raises(IndexError):
        cap(0, 257)
    with pytest.raises(ValueError):
        cap.setSystemSSM(np.eye(3))
    trace = cap.getPnterToTrace(0)
    with pytest.raises(ValueError):
        trace.deAnomalousHighPk(10, 10)
    with pytest.raises(IndexError):
        trace.scanIsMaximum(0)
    with pytest.raises(ValueError):
        KwTrace().deBaseline(1)  # no samples, no window
    with pytest.raises(ValueError):
        KwEvent().getArea()
    with pytest.raises(ValueError):
        KwEvent().peakFit()
    with pytest.raises(TypeError):  # a float32 copy could not be written in place
        KwPeak().synthetic(np.zeros(5, dtype=np.float32))
    wide = KwPeak()
    wide.setEndPnt(5)
    with pytest.raises(IndexError):
        wide.synthetic(np.zeros(5))
    with pytest.raises(ValueError):
        trace.trippleMexicanHatFilter(float("nan"), 2.0)


# Every trace operation with arguments in and around the trace: each call either works
# or raises IndexError/ValueError; none may take the interpreter down.
TRACE_CALLS = {
    "shift": "iii", "getSteepestPnt": "ii", "smoothing": "i", "deBaseline": "i",
    "trippleMexicanHatFilter": "ff", "cleaning": "fi", "deAnomalousNegativePeaks": "i",
    "deAnomalousHighPk": "ii", "removeSection": "iii", "replaceWithParabola": "iif",
    "findNoiseLevel": "i", "setNoiseLevelForNormalized": "f", "averagedPkHeight": "iiff",
    "envelopeNormalize": "ifif", "determinePeakWidthForNormalizedData": "iif",
    "markTheEnds": "fi", "detectFirstEvent": "iifd", "extendBoundaries": "iif",
    "detectBigTail": "iiiif", "getNextEvent": "iiifffd", "getInflexionPnt": "iif",
    "scanIsMaximum": "i", "detectPeak": "id", "findWidestEvent": "iif", "synthSinglePeak": "ii",
    "setSignalStartPnt": "i", "setSignalEndPnt": "i", "zeroMinimum": "", "normalizeL1": "",
    "deBaselineSeq": "", "fixScar": "", "smoothingDips": "", "setMinumHeight": "",
    "zeroDataAtEnds": "", "findPlateauRegion": "", "deAnomalousHighPkAtBeginning": "",
}


def test_random_calls_never_crash():
    rng = random.Random(11)
    sim = simulate(seed=9, bases=60)
    floats = [0.0, 0.5, 1.0, 3.0, 8.0, 50.0, 300.0, -1.0, 1e9, float("nan"), float("inf")]
    pick = {"i": lambda: rng.randint(-3, 403), "f": lambda: rng.choice(floats),
            "d": lambda: rng.choice([1, -1, 1, -1, 0])}
    for _ in range(3000):
        trace = KwCap.from_array(sim.raw[:, :400], sim.rate).getPnterToTrace(rng.randrange(4))
        for name, kinds in rng.sample(sorted(TRACE_CALLS.items()), 6):
            args = [pick[k]() for k in kinds]
            try:
                getattr(trace, name)(*args)
            except (IndexError, ValueError):
                pass
