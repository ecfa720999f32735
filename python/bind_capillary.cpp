// KwCap: the traces of one capillary and its system separation matrix.
//
// A trace handed out by getPnterToTrace lives inside the capillary; the
// Python object keeps the capillary alive, and nothing here resizes or
// reallocates a capillary's traces once it exists (no assignment, no file
// reading into an existing capillary), so such a trace never dangles.
#include <string>
#include <tuple>
#include <vector>

#include "bindings.h"
#include "kwsignal/separation.h"

namespace kwpy {
namespace {

using Cap = py::class_<KwCap>;

// Protected members offered to Python callers as they stand.
class CapAccess : public KwCap {
public:
    using KwCap::fixScar;
    using KwCap::getSecondDominantChnl;
    using KwCap::setNoiseLevelForNormalized;
    using KwCap::specSep;
    using KwCap::zeroMinimum;
};

// A member that needs nothing but usable windows.
template <class R, class... A>
auto inWindows(R (KwCap::*member)(A...)) {
    return [member](KwCap& c, A... args) {
        requireWindows(c);
        return (c.*member)(args...);
    };
}

// A question about the channels at one sample.
template <class R>
auto atSample(R (KwCap::*query)(int) const) {
    return [query](const KwCap& c, int pnt) {
        requireIndex(pnt, c.getNumData(), "sample");
        return (c.*query)(pnt);
    };
}

void requireTraces(long long n) {
    if (n < 0 || n > 64) throw py::value_error("a capillary holds 0..64 traces");
}

void requireSamples(long long m) {
    if (m < 0 || m > (1LL << 30)) throw py::value_error("a sample count must lie in 0..2^30");
}

void requireCode(const KwCap& c, int code) {
    requireIndex(code, c.getNumTraces(), "trace code");
}

void requireSample(const KwCap& c, int s) {
    requireIndex(s, c.getNumData(), "sample");
}

KwCap fromArray(const DoubleArray& a, double rate) {
    if (a.ndim() != 2) throw py::value_error("expected an array of shape (n_traces, n_samples)");
    requireTraces(a.shape(0));
    requireSamples(a.shape(1));
    requireRate(rate);
    std::vector<double*> rows;
    for (py::ssize_t t = 0; t < a.shape(0); ++t)
        rows.push_back(const_cast<double*>(a.data()) + t * a.shape(1));
    return KwCap(static_cast<int>(a.shape(0)), static_cast<int>(a.shape(1)), rows.data(), rate);
}

// A learned or refined matrix travels as rows of floats.
struct FloatRows {
    explicit FloatRows(int n) : store(n, std::vector<float>(n, 0.0f)) {
        for (auto& row : store) pointers.push_back(row.data());
    }
    py::array_t<double> toArray() const {
        const int n = static_cast<int>(store.size());
        py::array_t<double> out({n, n});
        for (int r = 0; r < n; ++r)
            for (int q = 0; q < n; ++q) out.mutable_at(r, q) = store[r][q];
        return out;
    }
    std::vector<std::vector<float>> store;
    std::vector<float*> pointers;
};

void bindBasics(Cap& cls) {
    cls.def(py::init<>())
        .def(py::init([](int n) {
                 requireTraces(n);
                 return KwCap(n);
             }),
             py::arg("n"), "n empty traces.")
        .def(py::init([](int n, int m) {
                 requireTraces(n);
                 requireSamples(m);
                 return KwCap(n, m);
             }),
             py::arg("n"), py::arg("m"), "n traces of m zero samples.")
        .def(py::init(&fromArray), py::arg("rows"), py::arg("rate"))
        .def(py::init<const KwCap&>())
        .def_static("from_array", &fromArray, py::arg("a"), py::arg("rate"),
                    "A capillary holding a copy of a[n_traces, n_samples], sampled at rate Hz; "
                    "window 0..n_samples-1.")
        .def(
            "to_array", [](const KwCap& c) { return copyOf(c); },
            "A copy of the samples as an (n_traces, n_samples) array.")
        .def("__copy__", [](const KwCap& c) { return KwCap(c); })
        .def("__deepcopy__", [](const KwCap& c, py::dict) { return KwCap(c); })
        .def(
            "fill", [](KwCap& c, double v) { c = v; }, py::arg("v"),
            "Sets every sample of every trace to v.")
        .def("getNumData", &KwCap::getNumData)
        .def("getSignalStartPnt", &KwCap::getSignalStartPnt)
        .def("getSignalEndPnt", &KwCap::getSignalEndPnt)
        .def("getNumTraces", &KwCap::getNumTraces)
        .def("getSamplingRate", &KwCap::getSamplingRate)
        .def("setApproxiamtePeakWidth", &KwCap::setApproxiamtePeakWidth, py::arg("w"))
        .def(
            "getPnterToTrace",
            [](KwCap& c, int code) {
                requireCode(c, code);
                return c.getPnterToTrace(code);
            },
            py::arg("code"), py::return_value_policy::reference_internal,
            "Trace `code` inside the capillary (not a copy): operations on it change the "
            "capillary, which it keeps alive.")
        .def(
            "__call__",
            [](const KwCap& c, int code, int s) {
                requireCode(c, code);
                requireSample(c, s);
                return c(code, s);
            },
            py::arg("code"), py::arg("s"))
        .def(
            "setValue",
            [](KwCap& c, int code, int s, double v) {
                requireCode(c, code);
                requireSample(c, s);
                c.setValue(code, s, v);
            },
            py::arg("code"), py::arg("s"), py::arg("v"))
        .def(
            "getSystemSSM", [](const KwCap& c) { return KwSpecSepTable(c.getSystemSSM()); },
            "A copy of the system separation matrix.")
        .def(
            "setSignalStartPnt",
            [](KwCap& c, int n) {
                requireBetween(n, 0, c.getNumData(), "the window start");
                c.setSignalStartPnt(n);
            },
            py::arg("n"))
        .def(
            "setSignalEndPnt",
            [](KwCap& c, int n) {
                requireBetween(n, -1, c.getNumData() - 1, "the window end");
                c.setSignalEndPnt(n);
            },
            py::arg("n"))
        .def(
            "normalizeL1",
            [](KwCap& c) {
                requireWindows(c);
                std::vector<double> factors(c.getNumTraces());
                c.normalizeL1(factors.data());
                return copyOf(factors.data(), c.getNumTraces());
            },
            "Normalises every trace; returns the divisors, one per trace.")
        .def(
            "output",
            [](const KwCap& c, const std::string& path) {
                std::vector<char> name(path.begin(), path.end());
                name.push_back('\0');
                c.output(name.data());
            },
            py::arg("path"), "Writes the capillary as an export text file.");
}

void bindDominance(Cap& cls) {
    cls.def("getDominantTraceCode", atSample(&KwCap::getDominantTraceCode), py::arg("pnt"))
        .def("minIntensity", atSample(&KwCap::minIntensity), py::arg("pnt"))
        .def(
            "getSecondDominantChnl",
            [](const KwCap& c, int pnt, int dominant, double threshold) {
                requireSample(c, pnt);
                return (c.*(&CapAccess::getSecondDominantChnl))(pnt, dominant, threshold);
            },
            py::arg("pnt"), py::arg("dominant"), py::arg("threshold"))
        .def(
            "mostProbableRatioOf",
            [](const KwCap& c, int chnl, int refChnl, double ratioLimit) {
                requireWindows(c);
                requireCode(c, chnl);
                requireCode(c, refChnl);
                return c.mostProbableRatioOf(chnl, refChnl, ratioLimit);
            },
            py::arg("chnl"), py::arg("refChnl"), py::arg("ratioLimit"))
        .def(
            "getMostStrikingChnl",
            [](KwCap& c, std::vector<int> chosen) {
                requireWindows(c);
                if (static_cast<int>(chosen.size()) != c.getNumTraces())
                    throw py::value_error("chosen must hold one flag per trace");
                const int code = c.getMostStrikingChnl(chosen.data());
                return std::make_tuple(code, chosen);
            },
            py::arg("chosen"),
            "(channel or -1, updated flags). Rescales every window sample vector to unit "
            "length, in place.");
}

void bindSeparation(Cap& cls) {
    cls.def(
           "setSystemSSM",
           [](KwCap& c, const DoubleArray& a) {
               const auto rows = squareRows(a, c.getNumTraces(), "the system matrix");
               FloatRows ssm(c.getNumTraces());
               for (size_t r = 0; r < rows.size(); ++r)
                   for (size_t q = 0; q < rows.size(); ++q)
                       ssm.store[r][q] = static_cast<float>(rows[r][q]);
               std::vector<const float*> given(ssm.pointers.begin(), ssm.pointers.end());
               c.setSystemSSM(given.data());
           },
           py::arg("ssm"), "Sets the system separation matrix (numTraces x numTraces).")
        .def(
            "specSep",
            [](KwCap& c, const KwSpecSepTable& m) {
                if (m.getNumRows() != c.getNumTraces() || m.getNumCols() != c.getNumTraces())
                    throw py::value_error("the matrix does not match the number of traces");
                (c.*static_cast<void (KwCap::*)(const KwdbMatrix&)>(&CapAccess::specSep))(m);
            },
            py::arg("m"), "Replaces every sample vector x by m x.")
        .def(
            "specSep",
            [](KwCap& c, const DoubleArray& a) {
                KwSpecSepTable m(c.getNumTraces());
                fillFrom(m, a);
                (c.*static_cast<void (KwCap::*)(const KwdbMatrix&)>(&CapAccess::specSep))(m);
            },
            py::arg("m"), "Replaces every sample vector x by m x (m: a square array).")
        .def(
            "specSep",
            [](KwCap& c, double tolerance, const char* fileName, double acceptFactor,
               int useRobust) {
                requireWindows(c);
                requirePositive(tolerance, "tolerance");
                requirePositive(acceptFactor, "acceptFactor");
                FloatRows ssm(c.getNumTraces());
                using Learn = int (KwCap::*)(double, const char*, float**, double, int);
                const int applied = (c.*static_cast<Learn>(&CapAccess::specSep))(
                    tolerance, fileName, ssm.pointers.data(), acceptFactor, useRobust);
                return std::make_tuple(applied, ssm.toArray());
            },
            py::arg("tolerance"), py::arg("fileName"), py::arg("acceptFactor"),
            py::arg("useRobust"),
            "Learns a separation matrix from the capillary and applies it: (1, matrix) "
            "when applied, (0, zeros) with the capillary unchanged.")
        .def(
            "specSep",
            [](KwCap& c, double tolerance, double acceptFactor) {
                requireWindows(c);
                requirePositive(tolerance, "tolerance");
                requirePositive(acceptFactor, "acceptFactor");
                const int n = c.getNumTraces();
                FloatRows ssm(n);
                const KwSpecSepTable& system = c.getSystemSSM();
                for (int r = 0; r < n; ++r)
                    for (int q = 0; q < n; ++q) ssm.store[r][q] = static_cast<float>(system(r, q));
                using Refine = int (KwCap::*)(double, double, float**);
                const int applied = (c.*static_cast<Refine>(&CapAccess::specSep))(
                    tolerance, acceptFactor, ssm.pointers.data());
                return std::make_tuple(applied, ssm.toArray());
            },
            py::arg("tolerance"), py::arg("acceptFactor"),
            "Refines the system matrix on the capillary and applies it: (1, refined matrix) "
            "when applied, (0, system matrix) with the capillary unchanged.");
}

void bindConditioning(Cap& cls) {
    cls.def("deBaseline", inWindows(&KwCap::deBaseline), py::arg("n"))
        .def("smoothing", &KwCap::smoothing, py::arg("n"))
        .def(
            "trippleMexicanHatFilter",
            [](KwCap& c, double startWidth, double endWidth) {
                requireWindows(c);
                requireBetween(startWidth, 1e-300, c.getNumData() + 1.0, "startWidth");
                requireBetween(endWidth, 1e-300, c.getNumData() + 1.0, "endWidth");
                c.trippleMexicanHatFilter(startWidth, endWidth);
            },
            py::arg("startWidth"), py::arg("endWidth"))
        .def(
            "cleaning",
            [](KwCap& c, double startTime, int removeNegativePeaks) {
                requireWindows(c);
                requireBetween(startTime, 0.0, 1e9, "startTime");
                c.cleaning(startTime, removeNegativePeaks);
            },
            py::arg("startTime"), py::arg("removeNegativePeaks"))
        .def(
            "envelopeNormalize",
            [](KwCap& c, int endPnt) {
                requireWindows(c);
                requireSample(c, endPnt);
                return c.envelopeNormalize(endPnt);
            },
            py::arg("endPnt"), "Normalises every trace to a common height; returns it.")
        .def("zeroMinimum", inWindows(&CapAccess::zeroMinimum))
        .def("fixScar", inWindows(&CapAccess::fixScar))
        .def(
            "setNoiseLevelForNormalized",
            [](KwCap& c, double ceiling) {
                requireWindows(c);
                requireFinite(ceiling, "ceiling");
                (c.*(&CapAccess::setNoiseLevelForNormalized))(ceiling);
            },
            py::arg("ceiling"));
}

}  // namespace

void bindCapillary(py::module_& m) {
    Cap c(m, "KwCap",
          "The traces of one capillary (trace codes 0..3: C, A, G, T) and its system "
          "separation matrix. Operations work in place.");
    bindBasics(c);
    bindDominance(c);
    bindSeparation(c);
    bindConditioning(c);
}

}  // namespace kwpy
