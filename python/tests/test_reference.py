"""A library operation called through the bindings gives, bit for bit, the samples the
same operation gives when called from C++ (a small reference program of this build)."""

import struct
import subprocess

import numpy as np

from kwsignal import KwCap, simulate


def run_reference(program, rows, rate, *args):
    header = struct.pack("<iid", rows.shape[0], rows.shape[1], rate)
    out = subprocess.run([str(program), *map(str, args)], input=header + rows.tobytes(),
                         capture_output=True, check=True).stdout
    return np.frombuffer(out, dtype=np.float64)


def fitted_peaks(trace, onset, width):
    values, pos, last = [], 2, trace.getNumData() - 3
    while pos < last:
        event = trace.getNextEvent(0, pos, last, onset, 0.5 * onset, width, 1)
        if not event.dataExist():
            break
        pos = max(pos + 1, event.getOuterBounds(1))
        if event.getNumHumps() < 1:
            continue
        event.setNumPksBeNumHumps()
        for p in event.peakFit():
            values += [p.getLocatn(), p.getHeight(), p.getSigma(), p.getBase()]
    return np.array(values)


def test_same_samples_as_from_cpp(reference):
    sim = simulate(seed=4, bases=300, crosstalk=0.2)
    raw = np.ascontiguousarray(sim.raw)

    cap = KwCap.from_array(raw, sim.rate)
    assert cap.deBaseline(8) == 1
    debaselined = cap.to_array()
    assert not np.array_equal(debaselined, raw)
    assert np.array_equal(run_reference(reference, raw, sim.rate, "deBaseline", 8),
                          debaselined.ravel())

    for t in range(4):
        cap.getPnterToTrace(t).findNoiseLevel(0)
    cap.trippleMexicanHatFilter(2.5, 4.0)
    filtered = cap.to_array()
    assert np.count_nonzero(filtered) > 0 and not np.array_equal(filtered, debaselined)
    assert np.array_equal(run_reference(reference, debaselined, sim.rate, "filter", 2.5, 4.0),
                          filtered.ravel())

    peaks = fitted_peaks(KwCap.from_array(debaselined, sim.rate).getPnterToTrace(0), 200.0, 10.0)
    assert len(peaks) >= 4 * 40
    assert np.array_equal(run_reference(reference, debaselined, sim.rate, "peaks", 200.0, 10.0),
                          peaks)
