// KwEvent and KwPeak: values the caller holds. Humps come back as
// (valley, apex) tuples and fitted peaks as new KwPeak objects, so nothing
// handed to Python points into an event.
#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "bindings.h"
#include "kwsignal/events.h"

namespace kwpy {
namespace {

using Event = py::class_<KwEvent>;

void requireBound(int k) {
    requireIndex(k, 2, "bound");
}

void requireSamples(const KwEvent& e) {
    if (e.dataExist() == 0) throw py::value_error("the event holds no samples");
}

// A fit needs samples, a hump, and a peak count between the number of
// humps and the number of samples.
int peaksToFit(const KwEvent& e) {
    requireSamples(e);
    const int n = e.getMinNumPeaks();
    if (e.getNumHumps() < 1) throw py::value_error("the event has no hump to fit");
    if (n < e.getNumHumps() || n > e.getOuterWidth())
        throw py::value_error("the minimum number of peaks (" + std::to_string(n) +
                              ") must lie between the number of humps (" +
                              std::to_string(e.getNumHumps()) + ") and the event's width (" +
                              std::to_string(e.getOuterWidth()) + ")");
    return n;
}

template <class Fit>
std::vector<KwPeak> fitted(const KwEvent& e, Fit fit) {
    std::vector<KwPeak> peaks(peaksToFit(e));
    fit(e, peaks.data());
    return peaks;
}

void setupEvent(KwEvent& e, int traceCode, std::array<int, 2> outer, std::array<int, 2> inner,
                double level, const DoubleArray& traceData) {
    const std::vector<double> data = samplesOf(traceData, "traceData");
    const long long n = static_cast<long long>(data.size());
    requireSpan(outer[0], outer[1], n, "the outer bounds");
    requireSpan(inner[0], inner[1], n, "the inner bounds");
    requireBetween(traceCode, 0, 64, "traceCode");
    e.setup(traceCode, outer.data(), inner.data(), level, data.data());
}

py::list humpsOf(const KwEvent& e) {
    py::list humps;
    for (const KwHump* h = e.getFisrtHump(); h != nullptr; h = h->getNext())
        humps.append(py::make_tuple(h->getValleyLocatn(), h->getApexLocatn()));
    return humps;
}

void bindEventAccess(Event& cls) {
    cls.def(py::init<>())
        .def(py::init<const KwEvent&>())
        .def("setup", &setupEvent, py::arg("traceCode"), py::arg("outerBounds"),
             py::arg("innerBounds"), py::arg("level"), py::arg("traceData"),
             "Fills the event from the trace samples traceData between the bounds (trace "
             "indices).")
        .def("__copy__", [](const KwEvent& e) { return KwEvent(e); })
        .def("__deepcopy__", [](const KwEvent& e, py::dict) { return KwEvent(e); })
        .def("__getitem__",
             [](const KwEvent& e, int i) {
                 requireSamples(e);
                 requireIndex(i, e.getOuterWidth(), "event-local index");
                 return e[i];
             })
        .def(
            "to_array",
            [](const KwEvent& e) {
                std::vector<double> v;
                for (int i = 0; e.dataExist() != 0 && i < e.getOuterWidth(); ++i) v.push_back(e[i]);
                return copyOf(v.data(), static_cast<int>(v.size()));
            },
            "A copy of the event's samples (empty when it holds none).")
        .def("humps", &humpsOf, "The humps as (valleyLocatn, apexLocatn), event-local indices.")
        .def("dataExist", &KwEvent::dataExist)
        .def("getMaxData", &KwEvent::getMaxData)
        .def("getMinData", &KwEvent::getMinData)
        .def("getTraceCode", &KwEvent::getTraceCode)
        .def("getMaxNumPeaks", &KwEvent::getMaxNumPeaks)
        .def("getMinNumPeaks", &KwEvent::getMinNumPeaks)
        .def("getNumPeaks", &KwEvent::getNumPeaks)
        .def("sureAboutNumPeaks", &KwEvent::sureAboutNumPeaks)
        .def("setMaxNumPeaks", &KwEvent::setMaxNumPeaks, py::arg("n"))
        .def("setMinNumPeaks", &KwEvent::setMinNumPeaks, py::arg("n"))
        .def("getNumHumps", &KwEvent::getNumHumps)
        .def("setNumPksBeNumHumps", &KwEvent::setNumPksBeNumHumps)
        .def("getStartPnt", &KwEvent::getStartPnt)
        .def(
            "getOuterBounds",
            [](const KwEvent& e, int k) {
                requireBound(k);
                return e.getOuterBounds(k);
            },
            py::arg("k"))
        .def("getOuterWidth", &KwEvent::getOuterWidth)
        .def(
            "getInnerBounds",
            [](const KwEvent& e, int k) {
                requireBound(k);
                return e.getInnerBounds(k);
            },
            py::arg("k"))
        .def("getInnerWidth", &KwEvent::getInnerWidth);
}

void bindEventFits(Event& cls) {
    cls.def("getArea",
            [](const KwEvent& e) {
                requireSamples(e);
                return e.getArea();
            })
        .def("getSummitPosition",
             [](const KwEvent& e) {
                 requireSamples(e);
                 return e.getSummitPosition();
             })
        .def(
            "peakFit",
            [](const KwEvent& e) {
                return fitted(e, [](const KwEvent& ev, KwPeak* p) { ev.peakFit(p); });
            },
            "Fits getMinNumPeaks() Gaussians; a list of new KwPeak sorted by centre.")
        .def(
            "peakFit1",
            [](const KwEvent& e) {
                return fitted(e, [](const KwEvent& ev, KwPeak* p) { ev.peakFit1(p); });
            },
            "The initial estimate of peakFit only.");
}

void bindPeak(py::module_& m) {
    py::class_<KwPeak>(m, "KwPeak",
                       "One Gaussian peak on one trace: height * exp(-(x - locatn)^2 / "
                       "(2 sigma^2)) + base, x a sample index.")
        .def(py::init<>())
        .def(py::init<const KwPeak&>())
        .def("__copy__", [](const KwPeak& p) { return KwPeak(p); })
        .def("__deepcopy__", [](const KwPeak& p, py::dict) { return KwPeak(p); })
        .def("__repr__",
             [](const KwPeak& p) {
                 char buf[160];
                 std::snprintf(buf, sizeof buf,
                               "KwPeak(traceCode=%d, locatn=%g, height=%g, sigma=%g, base=%g)",
                               p.getTraceCode(), p.getLocatn(), p.getHeight(), p.getSigma(),
                               p.getBase());
                 return std::string(buf);
             })
        .def("getLocatn", &KwPeak::getLocatn)
        .def("getHeight", &KwPeak::getHeight)
        .def("getSigma", &KwPeak::getSigma)
        .def("getBase", &KwPeak::getBase)
        .def("getVariance", &KwPeak::getVariance)
        .def("getStartPnt", &KwPeak::getStartPnt)
        .def("getEndPnt", &KwPeak::getEndPnt)
        .def("getTraceCode", &KwPeak::getTraceCode)
        .def("setLocatn", &KwPeak::setLocatn, py::arg("v"))
        .def("setHeight", &KwPeak::setHeight, py::arg("v"))
        .def("setSigma", &KwPeak::setSigma, py::arg("v"))
        .def("setBase", &KwPeak::setBase, py::arg("v"))
        .def("setVariance", &KwPeak::setVariance, py::arg("v"))
        .def("setStartPnt", &KwPeak::setStartPnt, py::arg("v"))
        .def("setEndPnt", &KwPeak::setEndPnt, py::arg("v"))
        .def("setTraceCode", &KwPeak::setTraceCode, py::arg("v"))
        .def("getNarrowness", &KwPeak::getNarrowness)
        .def("getArea", &KwPeak::getArea)
        .def("getApproximateArea", &KwPeak::getApproximateArea)
        .def(
            "split", [](KwPeak& p) { return std::unique_ptr<KwPeak>(p.split()); },
            "Splits the peak in two; returns the new right-hand one, None when the span is "
            "shorter than 3 samples.")
        .def(
            "synthetic",
            [](const KwPeak& p, py::array_t<double, py::array::c_style> buffer) {
                if (buffer.ndim() != 1 || !buffer.writeable())
                    throw py::value_error("buffer must be a writable 1-D float64 array");
                requireSpan(p.getStartPnt(), p.getEndPnt(), buffer.shape(0), "the peak's span");
                p.synthetic(buffer.mutable_data(), static_cast<int>(buffer.shape(0)));
            },
            py::arg("buffer").noconvert(),
            "Adds the curve into buffer[startPnt..endPnt], in place (buffer: a contiguous "
            "float64 array indexed by trace index).");
}

}  // namespace

void bindEvents(py::module_& m) {
    Event c(m, "KwEvent",
            "One event of a trace (a peak or a group of overlapping peaks): bounds, a copy "
            "of its samples, humps and the range of its number of peaks.");
    bindEventAccess(c);
    bindEventFits(c);
    bindPeak(m);
}

}  // namespace kwpy
