// The _kwsignal extension module: the library's classes as they stand in
// C++ (same class and member names) plus the entry points of the Python
// package `kwsignal` (reading, the default road, simulation).
#include "bindings.h"

PYBIND11_MODULE(_kwsignal, m) {
    m.doc() =
        "kwsignal's compiled core: KwTrace, KwCap, KwSpecSepTable, KwCrossTalkTable, KwEvent, "
        "KwPeak. Import the `kwsignal` package rather than this module.";
    kwpy::bindMatrices(m);
    kwpy::bindTrace(m);
    kwpy::bindCapillary(m);
    kwpy::bindEvents(m);
    kwpy::bindRuns(m);
    kwpy::bindEdit(m);
}
