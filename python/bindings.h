// The parts of the _kwsignal extension module, one function per family of
// classes, and the checks every binding makes before it calls the library.
//
// The library's members trust their arguments (indices inside the array, a
// window inside the trace); from Python a wrong index must become an
// exception, never a read outside an array. So every binding checks what
// the member needs and raises IndexError or ValueError otherwise.
#ifndef KWSIGNAL_PYTHON_BINDINGS_H
#define KWSIGNAL_PYTHON_BINDINGS_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "kwsignal/capillary.h"
#include "kwsignal/containers.h"

namespace py = pybind11;

namespace kwpy {

/// Any array-like of numbers, seen as contiguous doubles (converted when needed).
using DoubleArray = py::array_t<double, py::array::c_style | py::array::forcecast>;

void bindMatrices(py::module_& m);
void bindTrace(py::module_& m);
void bindCapillary(py::module_& m);
void bindEvents(py::module_& m);
void bindRuns(py::module_& m);
void bindEdit(py::module_& m);

// ---- argument checks: each raises IndexError or ValueError ---------------

/// 0 <= i < n.
void requireIndex(long long i, long long n, const char* what);
/// 0 <= first <= last < n.
void requireSpan(long long first, long long last, long long n, const char* what);
/// first..last inside the window of t (which must itself be usable).
void requireInWindow(const KwTrace& t, long long first, long long last, const char* what);
/// A finite number.
void requireFinite(double v, const char* what);
/// A finite number > 0.
void requirePositive(double v, const char* what);
/// lo <= v <= hi.
void requireBetween(double v, double lo, double hi, const char* what);
/// +1 or -1.
void requireDirection(int direction);
/// A sampling rate the library can turn into sample counts: 0 <= hz <= 1e6.
void requireRate(double hz);
/// A window the operations can work in: 0 <= start <= end < numData.
void requireWindow(const KwTrace& t);
/// requireWindow for every trace of c, and c's own window inside its samples.
void requireWindows(const KwCap& c);

// ---- arrays in and out ------------------------------------------------------

/// The samples of a one-dimensional array.
std::vector<double> samplesOf(const DoubleArray& a, const char* what);
/// A new array holding a copy of p[0..n-1].
py::array_t<double> copyOf(const double* p, int n);
/// A new (numTraces, numData) array holding a copy of the capillary's samples.
py::array_t<double> copyOf(const KwCap& c);
/// A new rows x cols array holding a copy of m.
py::array_t<double> copyOf(const KwdbMatrix& m);
/// Copies a into the square matrix m. Raises ValueError unless a has m's
/// shape and finite elements.
void fillFrom(KwdbMatrix& m, const DoubleArray& a);
/// A square array of finite numbers as rows; n: required size (-1: any).
std::vector<std::vector<double>> squareRows(const DoubleArray& a, int n, const char* what);

}  // namespace kwpy

#endif
