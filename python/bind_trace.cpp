// KwTrace: one dye channel. Every operation works in place on the trace's
// own samples; arrays handed to Python are copies.
//
// The trace's size is fixed once it exists (no init, no assignment from
// another trace): a trace may belong to a capillary, and resizing it there
// would leave the capillary with traces of different lengths.
#include <string>
#include <tuple>

#include "bindings.h"
#include "kwsignal/events.h"
#include "kwsignal/trace.h"

namespace kwpy {
namespace {

using Trace = py::class_<KwTrace>;

void requireCount(long long n) {
    if (n < 0 || n > (1LL << 30)) throw py::value_error("a sample count must lie in 0..2^30");
}

void requireInside(const KwTrace& t, long long i, const char* what) {
    requireIndex(i, t.getNumData(), what);
}

void requireSpanIn(const KwTrace& t, long long first, long long last, const char* what) {
    requireSpan(first, last, t.getNumData(), what);
}

// A width in samples: positive, and no wider than the trace (kernels grow
// with the width).
void requireWidth(const KwTrace& t, double w, const char* what) {
    requirePositive(w, what);
    requireBetween(w, 0.0, t.getNumData() + 1.0, what);
}

// A member that needs nothing but a usable window.
template <class R, class... A>
auto inWindow(R (KwTrace::*member)(A...)) {
    return [member](KwTrace& t, A... args) {
        requireWindow(t);
        return (t.*member)(args...);
    };
}

// A local-extremum test of sample i: i in the window, its neighbours in the array.
auto atInnerSample(int (KwTrace::*test)(int) const) {
    return [test](const KwTrace& t, int i) {
        requireInWindow(t, i, i, "i");
        requireSpan(i - 1LL, i + 1LL, t.getNumData(), "i and its neighbours");
        return (t.*test)(i);
    };
}

KwTrace fromArray(const DoubleArray& a, double rate) {
    requireRate(rate);
    const std::vector<double> v = samplesOf(a, "the samples");
    KwTrace t(static_cast<int>(v.size()), v.data());
    t.setSampleRate(rate);
    return t;
}

void bindBasics(Trace& cls) {
    cls.def(py::init<>())
        .def(py::init([](int n) {
                 requireCount(n);
                 return KwTrace(n);
             }),
             py::arg("n"), "n zero samples; window 0..n-1.")
        .def(py::init([](const DoubleArray& a) { return fromArray(a, 0.0); }), py::arg("samples"),
             "A copy of the one-dimensional array; window 0..n-1.")
        .def(py::init<const KwTrace&>())
        .def_static("from_array", &fromArray, py::arg("a"), py::arg("rate") = 0.0,
                    "A trace holding a copy of the one-dimensional array a, sampled at rate Hz.")
        .def(
            "to_array", [](const KwTrace& t) { return copyOf(t.getData(), t.getNumData()); },
            "A copy of the samples.")
        .def("__len__", &KwTrace::getNumData)
        .def("__getitem__",
             [](const KwTrace& t, int i) {
                 requireInside(t, i, "sample");
                 return t[i];
             })
        .def("__setitem__",
             [](KwTrace& t, int i, double v) {
                 requireInside(t, i, "sample");
                 t[i] = v;
             })
        .def("__copy__", [](const KwTrace& t) { return KwTrace(t); })
        .def("__deepcopy__", [](const KwTrace& t, py::dict) { return KwTrace(t); })
        .def(
            "fill", [](KwTrace& t, double v) { t = v; }, py::arg("v"),
            "Sets every sample to v; the window and the other fields stay.")
        .def("getNumData", &KwTrace::getNumData)
        .def("getSampleRate", &KwTrace::getSampleRate)
        .def(
            "setSampleRate",
            [](KwTrace& t, double hz) {
                requireRate(hz);
                t.setSampleRate(hz);
            },
            py::arg("hz"))
        .def("getNoiseLevel", &KwTrace::getNoiseLevel)
        .def("setNoiseLevel", &KwTrace::setNoiseLevel, py::arg("v"))
        .def("getMinumHeight", &KwTrace::getMinumHeight)
        .def("getSignalStartPnt", &KwTrace::getSignalStartPnt)
        .def("getSignalEndPnt", &KwTrace::getSignalEndPnt)
        .def("getSignalLength", &KwTrace::getSignalLength)
        .def(
            "getMaxData",
            [](const KwTrace& t, int first, int last) {
                requireSpanIn(t, first, last, "the range");
                return t.getMaxData(first, last);
            },
            py::arg("first"), py::arg("last"))
        .def(
            "getMinData",
            [](const KwTrace& t, int first, int last) {
                requireSpanIn(t, first, last, "the range");
                return t.getMinData(first, last);
            },
            py::arg("first"), py::arg("last"))
        .def("mostProbableValue", &KwTrace::mostProbableValue, py::arg("width"));
}

void bindWindow(Trace& cls) {
    cls.def(
           "setSignalStartPnt",
           [](KwTrace& t, int n) {
               requireBetween(n, 0, t.getNumData(), "the window start");
               t.setSignalStartPnt(n);
           },
           py::arg("n"), "Moves the window start to n (0..numData).")
        .def(
            "setSignalEndPnt",
            [](KwTrace& t, int n) {
                requireBetween(n, -1, t.getNumData() - 1, "the window end");
                t.setSignalEndPnt(n);
            },
            py::arg("n"), "Moves the window end to n (-1..numData-1).")
        .def(
            "shift",
            [](KwTrace& t, int first, int last, int offset) {
                requireSpanIn(t, first, last, "the range");
                requireWindow(t);
                requireBetween(offset, -t.getNumData(), t.getNumData(), "offset");
                t.shift(first, last, offset);
            },
            py::arg("first"), py::arg("last"), py::arg("offset"))
        .def("zeroMinimum", inWindow(&KwTrace::zeroMinimum))
        .def("norm1",
             [](const KwTrace& t) {
                 if (t.getSignalEndPnt() != 0) requireWindow(t);
                 return t.norm1();
             })
        .def("normalizeL1", inWindow(&KwTrace::normalizeL1))
        .def(
            "interpolateFrom1To3Hz",
            [](const KwTrace& t, const DoubleArray& in) {
                const std::vector<double> v = samplesOf(in, "the 1 Hz samples");
                if (v.size() < 5 || v.size() > (1U << 28))
                    throw py::value_error("interpolation needs 5..2^28 samples");
                py::array_t<double> out(3 * v.size());
                t.interpolateFrom1To3Hz(static_cast<int>(v.size()), v.data(), out.mutable_data());
                return out;
            },
            py::arg("samples"), "The 1 Hz samples brought to 3 Hz (a new array, 3n long).");
}

void bindBaselineAndFilters(Trace& cls) {
    cls.def(
           "deBaseline",
           [](KwTrace& t, int n) {
               requireWindow(t);
               requireBetween(n, 1, t.getNumData(), "n");
               return t.deBaseline(n);
           },
           py::arg("n"), "Removes the background under the window; 1 on success, 0 unchanged.")
        .def("deBaselineSeq", inWindow(&KwTrace::deBaselineSeq))
        .def(
            "getSteepestPnt",
            [](const KwTrace& t, int from, int to) {
                requireSpanIn(t, from, to, "the range");
                return t.getSteepestPnt(from, to);
            },
            py::arg("from"), py::arg("to"))
        .def(
            "smoothing", [](KwTrace& t, int n, int extra) { t.smoothing(n, extra); }, py::arg("n"),
            py::arg("extra") = 0)
        .def(
            "trippleMexicanHatFilter",
            [](KwTrace& t, double startWidth, double endWidth) {
                requireWindow(t);
                requireWidth(t, startWidth, "startWidth");
                requireWidth(t, endWidth, "endWidth");
                t.trippleMexicanHatFilter(startWidth, endWidth);
            },
            py::arg("startWidth"), py::arg("endWidth"))
        .def(
            "variableWidthMexicanHatFilter",
            [](KwTrace& t, const DoubleArray& widths, int first, int last) {
                requireWindow(t);
                requireSpanIn(t, first, last, "the range");
                const std::vector<double> w = samplesOf(widths, "widths");
                if (static_cast<long long>(w.size()) != last - first + 1LL)
                    throw py::value_error("widths must hold last - first + 1 values");
                for (double v : w) requireWidth(t, v, "every width");
                t.variableWidthMexicanHatFilter(w.data(), first, last);
            },
            py::arg("widths"), py::arg("first"), py::arg("last"));
}

void bindCleanUp(Trace& cls) {
    cls.def(
           "cleaning",
           [](KwTrace& t, double startTime, int removeNegativePeaks) {
               requireWindow(t);
               requireBetween(startTime, 0.0, 1e9, "startTime");
               t.cleaning(startTime, removeNegativePeaks);
           },
           py::arg("startTime"), py::arg("removeNegativePeaks"))
        .def("deAnomalousNegativePeaks", inWindow(&KwTrace::deAnomalousNegativePeaks),
             py::arg("fillEnds"))
        .def(
            "deAnomalousHighPk",
            [](KwTrace& t, int from, int to) {
                requireInWindow(t, from, to, "the range");
                if (from >= to) throw py::value_error("deAnomalousHighPk needs from < to");
                t.deAnomalousHighPk(from, to);
            },
            py::arg("from"), py::arg("to"))
        .def("deAnomalousHighPkAtBeginning", inWindow(&KwTrace::deAnomalousHighPkAtBeginning))
        .def("fixScar", inWindow(&KwTrace::fixScar))
        .def("smoothingDips", inWindow(&KwTrace::smoothingDips))
        .def(
            "removeSection",
            [](KwTrace& t, int from, int to, int useMinimum) {
                requireInWindow(t, from, to, "the section");
                t.removeSection(from, to, useMinimum);
            },
            py::arg("from"), py::arg("to"), py::arg("useMinimum"))
        .def(
            "replaceWithParabola",
            [](KwTrace& t, int from, int to, double floorValue) {
                requireSpanIn(t, from, to, "the section");
                requireFinite(floorValue, "floorValue");
                t.replaceWithParabola(from, to, floorValue);
            },
            py::arg("from"), py::arg("to"), py::arg("floorValue"));
}

void bindNoise(Trace& cls) {
    cls.def(
           "findNoiseLevel",
           [](KwTrace& t, int from) {
               requireWindow(t);
               requireInside(t, from, "from");
               t.findNoiseLevel(from);
           },
           py::arg("from"))
        .def(
            "setNoiseLevelForNormalized",
            [](KwTrace& t, double ceiling) {
                requireWindow(t);
                requireFinite(ceiling, "ceiling");
                t.setNoiseLevelForNormalized(ceiling);
            },
            py::arg("ceiling"))
        .def("setMinumHeight", inWindow(&KwTrace::setMinumHeight))
        .def(
            "averagedPkHeight",
            [](const KwTrace& t, int from, int to, double fraction, double ceiling) {
                requireSpanIn(t, from, to, "the range");
                requireBetween(fraction, 0.0, 1.0, "fraction");
                requireFinite(ceiling, "ceiling");
                return t.averagedPkHeight(from, to, fraction, ceiling);
            },
            py::arg("from"), py::arg("to"), py::arg("fraction"), py::arg("ceiling"))
        .def(
            "envelopeNormalize",
            [](KwTrace& t, int order, double height, int endPnt, double ceiling) {
                requireWindow(t);
                requireBetween(order, 0, 30, "order");
                requireFinite(height, "height");
                requireInside(t, endPnt, "endPnt");
                requireFinite(ceiling, "ceiling");
                t.envelopeNormalize(order, height, endPnt, ceiling);
            },
            py::arg("order"), py::arg("height"), py::arg("endPnt"), py::arg("ceiling"))
        .def(
            "determinePeakWidthForNormalizedData",
            [](const KwTrace& t, int from, int to, double level) {
                requireSpanIn(t, from, to, "the range");
                requireFinite(level, "level");
                int count = 0;
                double width = 0.0;
                t.determinePeakWidthForNormalizedData(from, to, level, count, width);
                return std::make_tuple(count, width);
            },
            py::arg("from"), py::arg("to"), py::arg("level"),
            "(count, mean width) of the excursions reaching level; width 0.0 when none.");
}

void bindEnds(Trace& cls) {
    cls.def(
           "markTheEnds",
           [](KwTrace& t, double zone, int findStart) {
               requireWindow(t);
               requireBetween(zone, 0.0, 1.0, "zone");
               t.markTheEnds(zone, findStart);
           },
           py::arg("zone"), py::arg("findStart"))
        .def(
            "detectFirstEvent",
            [](KwTrace& t, int a, int b, double threshold, int direction) {
                requireInWindow(t, a, a, "a");
                requireInWindow(t, b, b, "b");
                requireFinite(threshold, "threshold");
                requireDirection(direction);
                const int found = t.detectFirstEvent(a, b, threshold, direction);
                return std::make_tuple(found, a, b);
            },
            py::arg("a"), py::arg("b"), py::arg("threshold"), py::arg("direction"),
            "(result, a, b): the stretch found, a and b moved onto it.")
        .def(
            "extendBoundaries",
            [](const KwTrace& t, int left, int right, double threshold) {
                requireInWindow(t, left, left, "left");
                requireInWindow(t, right, right, "right");
                requireFinite(threshold, "threshold");
                t.extendBoundaries(left, right, threshold);
                return std::make_tuple(left, right);
            },
            py::arg("left"), py::arg("right"), py::arg("threshold"), "(left, right) moved outward.")
        .def("zeroDataAtEnds", inWindow(&KwTrace::zeroDataAtEnds))
        .def(
            "findPlateauRegion",
            [](const KwTrace& t) {
                requireWindow(t);
                int left = t.getSignalStartPnt(), right = t.getSignalEndPnt();
                t.findPlateauRegion(left, right);
                return std::make_tuple(left, right);
            },
            "(left, right): the ends of the baseline plateaus.")
        .def(
            "detectBigTail",
            [](const KwTrace& t, int first, int last, int minWidth, int blockSize, double ratio,
               int left, int right) {
                requireSpanIn(t, first, last, "the range");
                requireBetween(minWidth, 0, t.getNumData(), "minWidth");
                requireBetween(blockSize, 1, t.getNumData(), "blockSize");
                requireFinite(ratio, "ratio");
                const int found =
                    t.detectBigTail(first, last, minWidth, blockSize, ratio, left, right);
                return std::make_tuple(found, left, right);
            },
            py::arg("first"), py::arg("last"), py::arg("minWidth"), py::arg("blockSize"),
            py::arg("ratio"), py::arg("left") = -1, py::arg("right") = -1,
            "(result, left, right); left and right come back as given when nothing is found.");
}

void bindDetection(Trace& cls) {
    cls.def(
           "getNextEvent",
           [](const KwTrace& t, int traceCode, int startPnt, int endPnt, double onsetLevel,
              double valleyLevel, double peakWidth, int direction) {
               requireWindow(t);
               requireSpan(startPnt - 2LL, endPnt + 2LL, t.getNumData(),
                           "the range and two samples on each side");
               requireBetween(traceCode, 0, 64, "traceCode");
               requireFinite(onsetLevel, "onsetLevel");
               requireFinite(valleyLevel, "valleyLevel");
               requireWidth(t, peakWidth, "peakWidth");
               requireDirection(direction);
               return t.getNextEvent(traceCode, startPnt, endPnt, onsetLevel, valleyLevel,
                                     peakWidth, direction);
           },
           py::arg("traceCode"), py::arg("startPnt"), py::arg("endPnt"), py::arg("onsetLevel"),
           py::arg("valleyLevel"), py::arg("peakWidth"), py::arg("direction"),
           "The first event of startPnt..endPnt; an event without samples means there is none.")
        .def(
            "getInflexionPnt",
            [](const KwTrace& t, int fromPnt, int toPnt, double halfWidth) {
                requireInside(t, fromPnt, "fromPnt");
                requireInside(t, toPnt, "toPnt");
                requireBetween(halfWidth, 0.0, 1e9, "halfWidth");
                return t.getInflexionPnt(fromPnt, toPnt, halfWidth);
            },
            py::arg("fromPnt"), py::arg("toPnt"), py::arg("halfWidth"))
        .def("scanIsMaximum", atInnerSample(&KwTrace::scanIsMaximum), py::arg("i"))
        .def("scanIsMinimum", atInnerSample(&KwTrace::scanIsMinimum), py::arg("i"))
        .def(
            "detectPeak",
            [](KwTrace& t, int pos, int direction) {
                requireInWindow(t, pos, pos, "pos");
                requireDirection(direction);
                int startPnt = pos, endPnt = pos;
                const double top = t.detectPeak(pos, startPnt, endPnt, direction);
                return std::make_tuple(top, startPnt, endPnt);
            },
            py::arg("pos"), py::arg("direction"),
            "(highest sample, startPnt, endPnt); -1.0 when it runs into the window ends.")
        .def(
            "findWidestEvent",
            [](const KwTrace& t, int from, int to, double level) {
                requireSpanIn(t, from, to, "the range");
                requireFinite(level, "level");
                int startPnt = -1, endPnt = -1;
                const int length = t.findWidestEvent(from, to, level, startPnt, endPnt);
                return std::make_tuple(length, startPnt, endPnt);
            },
            py::arg("from"), py::arg("to"), py::arg("level"), "(length, startPnt, endPnt).")
        .def(
            "synthSinglePeak",
            [](KwTrace& t, int s, int e) {
                requireSpan(s - 1LL, e + 1LL, t.getNumData(), "s-1..e+1");
                t.synthSinglePeak(s, e);
            },
            py::arg("s"), py::arg("e"));
}

}  // namespace

void bindTrace(py::module_& m) {
    Trace c(m, "KwTrace",
            "One dye channel: samples, sampling rate (Hz), signal window, noise level and "
            "minimum peak height. Operations work in place.");
    bindBasics(c);
    bindWindow(c);
    bindBaselineAndFilters(c);
    bindCleanUp(c);
    bindNoise(c);
    bindEnds(c);
    bindDetection(c);
}

}  // namespace kwpy
