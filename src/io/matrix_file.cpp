// Separation matrices read back from the text form the separation tables
// write: one row per line, numbers separated by blanks.
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <sstream>

#include "kwsignal/run.h"

namespace kw {
namespace {

ReadError matrixError(ReadErrorKind kind, const std::string& path, const std::string& reason) {
    ReadError e;
    e.kind = kind;
    e.reason = reason;
    e.message = path + ": " + reason;
    return e;
}

}  // namespace

ReadError readMatrixFile(const std::string& path, std::vector<std::vector<double>>& matrix) {
    std::ifstream in(path);
    if (!in)
        return matrixError(errno == ENOENT   ? ReadErrorKind::notFound
                           : errno == EACCES ? ReadErrorKind::permission
                                             : ReadErrorKind::io,
                           path,
                           std::string("cannot open the matrix file: ") + std::strerror(errno));
    std::vector<std::vector<double>> rows;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::vector<double> row;
        std::string w;
        while (words >> w) {
            char* end = nullptr;
            const double v = std::strtod(w.c_str(), &end);
            if (end != w.c_str() + w.size())
                return matrixError(ReadErrorKind::malformed, path, w + " is not a number");
            if (!std::isfinite(v))
                return matrixError(ReadErrorKind::notFinite, path, w + " is not a finite number");
            // The tables keep single precision: a number beyond the float
            // range would become an infinite element and spread into every
            // separated sample.
            if (std::fabs(v) > std::numeric_limits<float>::max())
                return matrixError(ReadErrorKind::malformed, path,
                                   w + " is beyond the range of a matrix element");
            row.push_back(static_cast<float>(v));
        }
        if (!row.empty()) rows.push_back(row);
        if (rows.size() > 64)
            return matrixError(ReadErrorKind::malformed, path, "more than 64 rows");
    }
    if (in.bad()) return matrixError(ReadErrorKind::io, path, "read error");
    if (rows.empty()) return matrixError(ReadErrorKind::noSamples, path, "no matrix in the file");
    for (const auto& row : rows)
        if (row.size() != rows.size())
            return matrixError(ReadErrorKind::malformed, path,
                               "not a square matrix (" + std::to_string(rows.size()) + " rows)");
    matrix = rows;
    return ReadError();
}

}  // namespace kw
