// Separation and cross-talk tables: small square matrices read and written
// as numpy arrays, learned or measured from a capillary.
#include <string>

#include "bindings.h"
#include "kwsignal/separation.h"

namespace kwpy {
namespace {

// Protected members offered to Python callers as they stand.
class SepTableAccess : public KwSpecSepTable {
public:
    using KwSpecSepTable::getNumChnls;
};

void requireSize(int n) {
    if (n < 0 || n > 64)
        throw py::value_error("a table has 0..64 channels, not " + std::to_string(n));
}

void requireElement(const KwdbMatrix& m, int r, int c) {
    requireIndex(r, m.getNumRows(), "row");
    requireIndex(c, m.getNumCols(), "column");
}

// Learning and measuring read the capillary's window; a table too small for
// the capillary would be written past its end.
void requireLearnable(const KwCap& cap, int startPnt, int endPnt, double tolerance,
                      double acceptFactor) {
    requireWindows(cap);
    requireSpan(startPnt, endPnt, cap.getNumData(), "the learning window");
    requirePositive(tolerance, "tolerance");
    requirePositive(acceptFactor, "acceptFactor");
}

void requireMatching(const KwdbMatrix& m, const KwCap& cap) {
    requireWindows(cap);
    if (m.getNumRows() != cap.getNumTraces() || m.getNumCols() != cap.getNumTraces())
        throw py::value_error("the table is " + std::to_string(m.getNumRows()) + " x " +
                              std::to_string(m.getNumCols()) + ", the capillary has " +
                              std::to_string(cap.getNumTraces()) + " traces");
}

// A table sized for cap, keeping t when it already is.
void sizeFor(KwSpecSepTable& t, const KwCap& cap) {
    if (t.getNumRows() != cap.getNumTraces()) t = KwSpecSepTable(cap.getNumTraces());
}

template <class Table>
Table squareFrom(const DoubleArray& a) {
    if (a.ndim() != 2 || a.shape(0) != a.shape(1))
        throw py::value_error("expected a square (n, n) array");
    requireSize(static_cast<int>(a.shape(0)));
    Table t(static_cast<int>(a.shape(0)));
    fillFrom(t, a);
    return t;
}

template <class Table>
Table sized(int n) {
    requireSize(n);
    return Table(n);
}

void bindMatrix(py::module_& m) {
    py::class_<KwdbMatrix>(m, "KwdbMatrix",
                           "Dense matrix of doubles, rows and columns indexed from 0.")
        .def("getNumRows", &KwdbMatrix::getNumRows)
        .def("getNumCols", &KwdbMatrix::getNumCols)
        .def("getNumElements", &KwdbMatrix::getNumElements)
        .def("maxAbsValue", &KwdbMatrix::maxAbsValue, "Largest |element|; 0.0 when empty.")
        .def(
            "to_array", [](const KwdbMatrix& t) { return copyOf(t); },
            "A copy of the elements as an (rows, cols) array.")
        .def("__getitem__",
             [](const KwdbMatrix& t, std::pair<int, int> rc) {
                 requireElement(t, rc.first, rc.second);
                 return t(rc.first, rc.second);
             })
        .def("__setitem__", [](KwdbMatrix& t, std::pair<int, int> rc, double v) {
            requireElement(t, rc.first, rc.second);
            t(rc.first, rc.second) = v;
        });
}

void bindSepTable(py::module_& m) {
    py::class_<KwSpecSepTable, KwdbMatrix>(
        m, "KwSpecSepTable",
        "Separation matrix of a capillary: numTraces x numTraces; y = M x separates the "
        "channel vector x of one sample into dye intensities y.")
        .def(py::init<>())
        .def(py::init(&sized<KwSpecSepTable>), py::arg("n"))
        .def(py::init<const KwSpecSepTable&>())
        .def_static("from_array", &squareFrom<KwSpecSepTable>, py::arg("a"),
                    "A table holding a copy of the square array a.")
        .def(
            "setup",
            [](KwSpecSepTable& t, const KwCap& cap, int startPnt, int endPnt, double tolerance,
               double acceptFactor) {
                requireLearnable(cap, startPnt, endPnt, tolerance, acceptFactor);
                sizeFor(t, cap);
                return t.setup(cap, startPnt, endPnt, tolerance, acceptFactor);
            },
            py::arg("cap"), py::arg("startPnt"), py::arg("endPnt"), py::arg("tolerance"),
            py::arg("acceptFactor"),
            "Learns a separation matrix from cap (not modified) over startPnt..endPnt. The "
            "table takes cap's size. Returns 1 when it holds an accepted matrix.")
        .def(
            "setup1",
            [](KwSpecSepTable& t, const KwCap& cap, int startPnt, int endPnt, double tolerance,
               double acceptFactor, double rate) {
                requireLearnable(cap, startPnt, endPnt, tolerance, acceptFactor);
                requirePositive(rate, "rate");
                requireRate(rate);
                sizeFor(t, cap);
                return t.setup1(cap, startPnt, endPnt, tolerance, acceptFactor, rate);
            },
            py::arg("cap"), py::arg("startPnt"), py::arg("endPnt"), py::arg("tolerance"),
            py::arg("acceptFactor"), py::arg("rate"),
            "As setup with the robust cross-talk measurement on a smoothed working copy.")
        .def("normalizeXTalkMatrix", &KwSpecSepTable::normalizeXTalkMatrix)
        .def(
            "damping",
            [](KwSpecSepTable& t, double factor) {
                requireFinite(factor, "factor");
                t.damping(factor);
            },
            py::arg("factor"), "Multiplies every off-diagonal element by factor.")
        .def("output", &KwSpecSepTable::output, py::arg("fileName"),
             "Writes the matrix as text, one row per line.")
        .def("getNumChnls", &SepTableAccess::getNumChnls);
}

void bindCrossTalk(py::module_& m) {
    py::class_<KwCrossTalkTable, KwdbMatrix>(
        m, "KwCrossTalkTable",
        "Cross-talk table: element (k, d) is the ratio of channel k to channel d on the "
        "samples of dye d.")
        .def(py::init<>())
        .def(py::init(&sized<KwCrossTalkTable>), py::arg("n"))
        .def(py::init<const KwCrossTalkTable&>())
        .def(
            "measureFrom",
            [](KwCrossTalkTable& t, const KwCap& cap) {
                requireMatching(t, cap);
                return t.measureFrom(cap);
            },
            py::arg("cap"),
            "Plain measurement over cap's signal window. Returns 1; 0 (table unchanged) when "
            "some channel dominates no sample.")
        .def(
            "measureFrom1",
            [](KwCrossTalkTable& t, const KwCap& cap) {
                requireMatching(t, cap);
                return t.measureFrom1(cap);
            },
            py::arg("cap"),
            "Robust measurement; returns the largest off-diagonal ratio, -1.0 when it failed.");
}

}  // namespace

void bindMatrices(py::module_& m) {
    bindMatrix(m);
    bindSepTable(m);
    bindCrossTalk(m);
}

}  // namespace kwpy
