// Stand-ins for the desktop framework: the message box becomes a line on
// stderr, and pi is fixed once when the library is loaded.
#include "kwsignal/platform.h"

#include <cmath>
#include <cstdio>

const double kwPi = 2.0 * std::acos(0.0);

int AfxMessageBox(const char* text, unsigned /*type*/) {
    std::fprintf(stderr, "%s\n", text != nullptr ? text : "");
    std::fflush(stderr);
    return 1;
}

CErrorCode::CErrorCode() = default;
