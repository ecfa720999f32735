"""kwsignal: raw four-colour capillary electrophoresis traces to clean signal, fitted peaks and
called bases.

Two levels:

* the library's own classes, with the C++ member names: ``KwTrace``, ``KwCap``,
  ``KwSpecSepTable``, ``KwCrossTalkTable``, ``KwEvent``, ``KwPeak``; built from and read
  back as numpy arrays (``KwCap.from_array(a, rate)``, ``cap.to_array()``);
* what a notebook needs: ``read(path)``, ``process(path_or_array, ...)`` (the default
  road of the ``kwsignal`` command-line tool), ``call(path_or_run, ...)`` (the called
  bases) and ``simulate(...)``;
* the analyses of edited and variant reads: ``edit(control, sample, guide, ...)`` and
  ``variants(trace, reference, ...)``, whose results give their tables as columns
  (``result.table()``, or ``result.to_pandas()`` with pandas installed).

``read``, ``process`` and ``simulate`` release the interpreter lock while the C++ works, so
a thread pool processes several files at once. The classes' own operations keep it: two
threads may hold the same capillary, and the classes leave locking to their caller.
"""

from ._kwsignal import (
    KwCap,
    KwCrossTalkTable,
    KwdbMatrix,
    KwEvent,
    KwPeak,
    KwSpecSepTable,
    KwTrace,
)
from ._edit import EditResult, VariantResult, edit, variants
from ._runs import (
    FRAGMENT_DTYPE,
    PEAK_DTYPE,
    TRUTH_DTYPE,
    Calls,
    Result,
    Run,
    Simulation,
    call,
    process,
    read,
    simulate,
)

__all__ = [
    "KwCap",
    "KwCrossTalkTable",
    "KwdbMatrix",
    "KwEvent",
    "KwPeak",
    "KwSpecSepTable",
    "KwTrace",
    "FRAGMENT_DTYPE",
    "PEAK_DTYPE",
    "TRUTH_DTYPE",
    "Calls",
    "EditResult",
    "VariantResult",
    "edit",
    "variants",
    "Result",
    "Run",
    "Simulation",
    "call",
    "process",
    "read",
    "simulate",
]
