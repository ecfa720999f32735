#include <algorithm>
#include <cmath>
#include <string>

#include "bindings.h"

namespace kwpy {
namespace {

std::string str(long long v) {
    return std::to_string(v);
}

std::string num(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%g", v);
    return buf;
}

}  // namespace

void requireIndex(long long i, long long n, const char* what) {
    if (i < 0 || i >= n)
        throw py::index_error(std::string(what) + " " + str(i) + " is outside 0.." + str(n - 1));
}

void requireSpan(long long first, long long last, long long n, const char* what) {
    if (first < 0 || last >= n || first > last)
        throw py::index_error(std::string(what) + " " + str(first) + ".." + str(last) +
                              " is not a range inside 0.." + str(n - 1));
}

void requireInWindow(const KwTrace& t, long long first, long long last, const char* what) {
    requireWindow(t);
    const int s = t.getSignalStartPnt(), e = t.getSignalEndPnt();
    if (first < s || last > e || first > last)
        throw py::index_error(std::string(what) + " " + str(first) + ".." + str(last) +
                              " is not a range inside the signal window " + str(s) + ".." + str(e));
}

void requireFinite(double v, const char* what) {
    if (!std::isfinite(v)) throw py::value_error(std::string(what) + " must be a finite number");
}

void requirePositive(double v, const char* what) {
    if (!std::isfinite(v) || v <= 0.0)
        throw py::value_error(std::string(what) + " must be a finite number > 0, not " + num(v));
}

void requireBetween(double v, double lo, double hi, const char* what) {
    if (!(v >= lo && v <= hi))
        throw py::value_error(std::string(what) + " must lie in " + num(lo) + ".." + num(hi) +
                              ", not " + num(v));
}

void requireDirection(int direction) {
    if (direction != 1 && direction != -1)
        throw py::value_error("direction must be 1 or -1, not " + str(direction));
}

void requireRate(double hz) {
    requireBetween(hz, 0.0, 1e6, "the sampling rate (Hz)");
}

void requireWindow(const KwTrace& t) {
    const int s = t.getSignalStartPnt(), e = t.getSignalEndPnt(), n = t.getNumData();
    if (s < 0 || s > e || e >= n)
        throw py::value_error("the signal window " + str(s) + ".." + str(e) +
                              " is empty or not inside the " + str(n) + " samples");
}

void requireWindows(const KwCap& c) {
    const int s = c.getSignalStartPnt(), e = c.getSignalEndPnt(), n = c.getNumData();
    if (s < 0 || s > e || e >= n)
        throw py::value_error("the capillary's signal window " + str(s) + ".." + str(e) +
                              " is empty or not inside its " + str(n) + " samples");
    for (int t = 0; t < c.getNumTraces(); ++t) requireWindow(*c.getPnterToTrace(t));
}

std::vector<double> samplesOf(const DoubleArray& a, const char* what) {
    if (a.ndim() != 1)
        throw py::value_error(std::string(what) + " must be one-dimensional, not " + str(a.ndim()) +
                              "-dimensional");
    if (a.size() > (1LL << 30)) throw py::value_error(std::string(what) + " is too long");
    return std::vector<double>(a.data(), a.data() + a.size());
}

py::array_t<double> copyOf(const double* p, int n) {
    py::array_t<double> out(n > 0 ? n : 0);
    if (n > 0) std::copy(p, p + n, out.mutable_data());
    return out;
}

py::array_t<double> copyOf(const KwCap& c) {
    const int n = c.getNumTraces(), m = std::max(c.getNumData(), 0);
    py::array_t<double> out({n, m});
    for (int t = 0; t < n; ++t) {
        const double* d = c.getPnterToTrace(t)->getData();
        std::copy(d, d + m, out.mutable_data() + static_cast<size_t>(t) * m);
    }
    return out;
}

py::array_t<double> copyOf(const KwdbMatrix& m) {
    const int rows = m.getNumRows(), cols = m.getNumCols();
    py::array_t<double> out({rows, cols});
    if (m.getNumElements() > 0)
        std::copy(m.getElements(), m.getElements() + m.getNumElements(), out.mutable_data());
    return out;
}

std::vector<std::vector<double>> squareRows(const DoubleArray& a, int n, const char* what) {
    if (a.ndim() != 2 || a.shape(0) != a.shape(1) || (n >= 0 && a.shape(0) != n))
        throw py::value_error(std::string(what) + " must be a square array" +
                              (n >= 0 ? " of " + str(n) + " x " + str(n) : std::string()));
    const int size = static_cast<int>(a.shape(0));
    std::vector<std::vector<double>> rows(size, std::vector<double>(size));
    for (int r = 0; r < size; ++r)
        for (int c = 0; c < size; ++c) {
            requireFinite(a.at(r, c), "every matrix element");
            rows[r][c] = a.at(r, c);
        }
    return rows;
}

void fillFrom(KwdbMatrix& m, const DoubleArray& a) {
    const std::vector<std::vector<double>> rows = squareRows(a, m.getNumRows(), "the matrix");
    for (size_t r = 0; r < rows.size(); ++r)
        for (size_t c = 0; c < rows.size(); ++c) m(r, c) = rows[r][c];
}

}  // namespace kwpy
