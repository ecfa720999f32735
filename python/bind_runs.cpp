// The notebook-level entry points: reading a trace file, running the
// command-line tool's default pipeline on a file or on arrays, and
// simulating a run. They return plain dictionaries that the Python package
// wraps. All of them copy their input before they let go of the interpreter
// lock, so Python threads process different files at the same time.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bindings.h"
#include "formats.h"
#include "kwsignal/abif.h"
#include "kwsignal/simulate.h"
#include "pipeline.h"
#include "writers.h"

namespace kwpy {
namespace {

using Rows = std::vector<std::vector<double>>;

// Why a file cannot be read, raised as the matching Python exception.
class LoadError : public std::runtime_error {
public:
    LoadError(PyObject* type, int error, const std::string& message, const std::string& path)
        : std::runtime_error(message), type(type), error(error), path(path) {}
    void raise() const {
        if (error == 0) {
            PyErr_SetString(type, what());
            return;
        }
        PyErr_SetObject(type, py::make_tuple(error, what(), path).ptr());
    }

private:
    PyObject* type;
    int error;
    std::string path;
};

bool startsWith(const std::string& s, const char* prefix) {
    return s.compare(0, std::strlen(prefix), prefix) == 0;
}

bool hasAbifName(const std::string& path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string::npos) return false;
    std::string ext = path.substr(dot + 1);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == "ab1" || ext == "abi" || ext == "fsa" || ext == "ab!";
}

// Turns the reader's reason into an exception. A file named like an
// instrument file that is not one is reported as "not an ABIF file".
[[noreturn]] void throwLoadError(const std::string& path, const std::string& reason) {
    if (reason == "no such file")
        throw LoadError(PyExc_FileNotFoundError, ENOENT, std::strerror(ENOENT), path);
    if (startsWith(reason, "is a directory"))
        throw LoadError(PyExc_IsADirectoryError, EISDIR, std::strerror(EISDIR), path);
    if (reason == std::string("cannot open: ") + std::strerror(EACCES))
        throw LoadError(PyExc_PermissionError, EACCES, std::strerror(EACCES), path);
    const char* notAbif = "not a abif file";
    const char* unknown = "unknown format ";
    if (startsWith(reason, notAbif))
        throw LoadError(PyExc_ValueError, 0,
                        path + ": not an ABIF file" + reason.substr(std::strlen(notAbif)), path);
    if (startsWith(reason, unknown) && hasAbifName(path))
        throw LoadError(PyExc_ValueError, 0,
                        path + ": not an ABIF file " + reason.substr(std::strlen(unknown)), path);
    throw LoadError(PyExc_ValueError, 0, path + ": " + reason, path);
}

kwapp::Format formatNamed(const std::string& name) {
    kwapp::Format f = kwapp::Format::automatic;
    if (!kwapp::parseFormat(name, f))
        throw py::value_error("unknown format \"" + name +
                              "\" (auto, abif, export, processed, nlines, indexed or qrd)");
    return f;
}

double msSince(std::chrono::steady_clock::time_point t0) {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

// Rows of equal length as a 2-D array; rows of different lengths as a list.
py::object rowsArray(const Rows& rows) {
    const size_t m = rows.empty() ? 0 : rows[0].size();
    for (const auto& r : rows)
        if (r.size() != m) {
            py::list out;
            for (const auto& row : rows)
                out.append(copyOf(row.data(), static_cast<int>(row.size())));
            return std::move(out);
        }
    py::array_t<double> out({rows.size(), m});
    for (size_t t = 0; t < rows.size(); ++t)
        std::copy(rows[t].begin(), rows[t].end(), out.mutable_data() + t * m);
    return std::move(out);
}

template <class T>
py::array_t<T> column(const std::vector<T>& v) {
    py::array_t<T> out(v.size());
    std::copy(v.begin(), v.end(), out.mutable_data());
    return out;
}

py::dict runDict(const kwapp::RawRun& run) {
    py::dict d;
    d["path"] = run.path;
    d["format"] = kwapp::formatName(run.format);
    d["rate"] = run.rate;
    d["rate_source"] = run.rateSource;
    d["coordinate_scale"] = run.coordinateScale;
    d["channels"] = run.channelNames;
    d["instrument"] = run.instrument;
    d["warnings"] = run.warnings;
    return d;
}

// What only an instrument file carries: names, dye order, run times, the
// instrument's processed channels and base calls.
void addAbif(py::dict& d, const kw::AbifRun& abif) {
    d["abif_version"] = abif.abifVersion;
    d["sample_name"] = abif.sampleName;
    d["base_order"] = abif.baseOrder;
    d["dye_names"] = abif.dyeNames;
    d["trace_dyes"] = std::vector<int>(abif.traceDyes.begin(), abif.traceDyes.end());
    d["run_start"] = abif.runStart;
    d["run_stop"] = abif.runStop;
    d["run_seconds"] = abif.runSeconds;
    d["processed"] = abif.processed.empty() ? py::object(py::none()) : rowsArray(abif.processed);
    d["calls"] = abif.calls.empty() ? py::object(py::none()) : py::str(abif.calls);
    d["call_positions"] =
        abif.callPositions.empty() ? py::object(py::none()) : column(abif.callPositions);
    py::dict extra;
    for (const kw::AbifExtraChannel& c : abif.extraRaw)
        extra[py::int_(c.dye)] =
            py::make_tuple(c.dyeName, copyOf(c.samples.data(), static_cast<int>(c.samples.size())));
    d["extra_raw"] = extra;
}

// Reads path the way the kwsignal tool does; for an instrument file also
// what the tool does not keep. Runs without the interpreter lock.
void load(const std::string& path, kwapp::Format format, kwapp::RawRun& run, kw::AbifRun* abif,
          double& parseMs) {
    std::string reason;
    {
        py::gil_scoped_release release;
        const auto t0 = std::chrono::steady_clock::now();
        reason = kwapp::loadRun(path, format, run);
        parseMs = msSince(t0);
        if (reason.empty() && abif != nullptr && run.format == kwapp::Format::abif) {
            *abif = kw::readAbif(path);
            if (!abif->ok() || abif->numScans != run.numData)
                reason = "the file changed while it was read";
        }
    }
    if (!reason.empty()) throwLoadError(path, reason);
}

py::dict readFile(const std::string& path, const std::string& format) {
    kwapp::RawRun run;
    kw::AbifRun abif;
    double parseMs = 0.0;
    load(path, formatNamed(format), run, &abif, parseMs);
    py::dict d = runDict(run);
    d["raw"] = rowsArray(run.rows);
    if (run.format == kwapp::Format::abif) addAbif(d, abif);
    return d;
}

// ---- the pipeline -------------------------------------------------------------

std::vector<std::vector<float>> systemMatrix(const py::object& matrix, int numTraces) {
    std::vector<std::vector<float>> m;
    if (matrix.is_none()) return m;
    for (const auto& row : squareRows(matrix.cast<DoubleArray>(), numTraces, "matrix"))
        m.emplace_back(row.begin(), row.end());
    return m;
}

// What summary.json is made of, kept by the Python result until its summary
// is asked for: the run without its samples, the result without its
// processed capillary.
struct Outcome {
    kwapp::RawRun run;
    kwapp::PipelineResult result;
    double parseMs = 0.0;
};

// summary.json as the tool writes it, through the tool's own writer; empty
// when no temporary folder can be written.
std::string summaryText(const Outcome& o) {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/kwsignal-XXXXXX";
    if (mkdtemp(&dir[0]) == nullptr) return std::string();
    const std::string path = dir + "/summary.json";
    std::string text;
    if (kwapp::writeSummary(path, o.run, o.result, o.parseMs).empty()) {
        std::ifstream in(path);
        std::ostringstream s;
        s << in.rdbuf();
        text = s.str();
    }
    std::remove(path.c_str());
    rmdir(dir.c_str());
    return text;
}

std::string summaryJson(const Outcome& o) {
    std::string text;
    {
        py::gil_scoped_release release;
        text = summaryText(o);
    }
    if (text.empty())
        throw LoadError(PyExc_OSError, 0, "cannot write the summary to a temporary folder", "");
    return text;
}

// The fitted peaks as the columns of peaks.tsv: positions and widths in the
// file's own sample coordinates.
py::dict peakColumns(const kwapp::RawRun& run, const kwapp::PipelineResult& result) {
    const double scale = run.coordinateScale;
    py::list channel;
    std::vector<int> code, startPnt, endPnt;
    std::vector<double> locatn, height, sigma, base, area, variance;
    for (const KwPeak& p : result.peaks) {
        const int c = p.getTraceCode();
        channel.append(c >= 0 && c < static_cast<int>(run.channelNames.size()) ? run.channelNames[c]
                                                                               : std::to_string(c));
        code.push_back(c);
        locatn.push_back(p.getLocatn() / scale);
        height.push_back(p.getHeight());
        sigma.push_back(p.getSigma() / scale);
        base.push_back(p.getBase());
        area.push_back(p.getArea() / scale);
        startPnt.push_back(static_cast<int>(std::floor(p.getStartPnt() / scale)));
        endPnt.push_back(static_cast<int>(std::ceil(p.getEndPnt() / scale)));
        variance.push_back(p.getVariance());
    }
    py::dict d;
    d["channel"] = channel;
    d["trace_code"] = column(code);
    d["locatn"] = column(locatn);
    d["height"] = column(height);
    d["sigma"] = column(sigma);
    d["base"] = column(base);
    d["area"] = column(area);
    d["start_pnt"] = column(startPnt);
    d["end_pnt"] = column(endPnt);
    d["variance"] = column(variance);
    return d;
}

py::dict resultDict(const kwapp::RawRun& run, const kwapp::PipelineResult& r) {
    py::dict d = runDict(run);
    d["status"] = r.status;
    d["note"] = r.note;
    d["window"] = py::make_tuple(r.windowStart, r.windowEnd);
    d["separation"] = r.separation;
    d["matrix"] = rowsArray(r.matrix);
    d["processed"] = r.processed ? py::object(copyOf(*r.processed)) : py::object(py::none());
    d["peaks"] = peakColumns(run, r);
    d["pipeline_ms"] = r.totalMs;
    return d;
}

// Runs the default pipeline on a run that is already in memory; the raw
// samples come back only when withRaw (the caller of an array has them).
py::dict runOn(kwapp::RawRun run, const py::object& matrix, double parseMs, bool withRaw) {
    kwapp::PipelineOptions options;
    options.systemMatrix = systemMatrix(matrix, run.numTraces);
    auto outcome = std::make_unique<Outcome>();
    std::string reason;
    {
        py::gil_scoped_release release;
        reason = kwapp::runPipeline(run, options, outcome->result);
    }
    if (!reason.empty())
        throw py::value_error((run.path.empty() ? std::string() : run.path + ": ") + reason);
    py::dict d = resultDict(run, outcome->result);
    if (withRaw) d["raw"] = rowsArray(run.rows);
    run.rows = Rows();
    outcome->result.processed.reset();
    outcome->run = std::move(run);
    outcome->parseMs = parseMs;
    d["outcome"] = py::cast(std::move(outcome));
    return d;
}

void overrideRate(kwapp::RawRun& run, double rate) {
    if (rate == 0.0) return;
    requirePositive(rate, "rate");
    requireRate(rate);
    run.rate = rate;
    run.rateSource = "given by the caller";
}

py::dict processFile(const std::string& path, const std::string& format, double rate,
                     const py::object& matrix) {
    const kwapp::Format f = formatNamed(format);
    kwapp::RawRun run;
    double parseMs = 0.0;
    load(path, f, run, nullptr, parseMs);
    overrideRate(run, rate);
    return runOn(std::move(run), matrix, parseMs, true);
}

py::dict processRows(const DoubleArray& a, double rate, const py::object& matrix,
                     const std::vector<std::string>& names, double coordinateScale) {
    if (a.ndim() != 2 || a.shape(0) < 1 || a.shape(0) > 64)
        throw py::value_error("expected an array of shape (n_traces, n_samples), 1..64 traces");
    if (a.shape(1) > (1LL << 30)) throw py::value_error("too many samples");
    if (!names.empty() && static_cast<py::ssize_t>(names.size()) != a.shape(0))
        throw py::value_error("channel names must name every trace");
    requireBetween(coordinateScale, 1.0, 3.0, "coordinate_scale");
    kwapp::RawRun run;
    run.numTraces = static_cast<int>(a.shape(0));
    run.numData = static_cast<int>(a.shape(1));
    run.coordinateScale = coordinateScale;
    for (int t = 0; t < run.numTraces; ++t) {
        const double* row = a.data() + static_cast<size_t>(t) * run.numData;
        if (!std::all_of(row, row + run.numData, [](double v) { return std::isfinite(v); }))
            throw py::value_error("every sample must be a finite number");
        run.rows.emplace_back(row, row + run.numData);
    }
    static const char* const kLetters[4] = {"C", "A", "G", "T"};
    for (int t = 0; t < run.numTraces; ++t)
        run.channelNames.push_back(!names.empty()       ? names[t]
                                   : run.numTraces == 4 ? kLetters[t]
                                                        : std::to_string(t));
    overrideRate(run, rate);
    if (rate == 0.0) throw py::value_error("rate (samples per second) is needed for an array");
    return runOn(std::move(run), matrix, 0.0, false);
}

// ---- simulation -----------------------------------------------------------------

py::dict simulate(long long seed, int bases, double rate, double crosstalk, double noise) {
    requireBetween(static_cast<double>(seed), 0.0, 4294967295.0, "seed");
    kw::SimulationOptions o;
    o.seed = static_cast<uint32_t>(seed);
    o.bases = bases;
    o.rate = rate;
    o.crosstalk = crosstalk;
    o.noise = noise;
    kw::SimulatedCapillary sim;
    {
        py::gil_scoped_release release;
        sim = kw::simulateCapillary(o);
    }
    std::vector<int> channel;
    std::vector<double> centre, height, sigma;
    for (const kw::SimulatedPeak& p : sim.peaks) {
        channel.push_back(p.channel);
        centre.push_back(p.centre);
        height.push_back(p.height);
        sigma.push_back(p.sigma);
    }
    py::dict d;
    d["raw"] = rowsArray(sim.channels);
    d["rate"] = sim.rate;
    d["truth"] = py::dict(py::arg("channel") = column(channel), py::arg("centre") = column(centre),
                          py::arg("height") = column(height), py::arg("sigma") = column(sigma));
    d["mixing"] = rowsArray(sim.mixing);
    d["spacing"] = sim.spacing;
    d["primer_pnt"] = sim.primerPnt;
    d["tail_pnt"] = sim.tailPnt;
    return d;
}

}  // namespace

void bindRuns(py::module_& m) {
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const LoadError& e) {
            e.raise();
        }
    });
    py::class_<Outcome>(m, "_Outcome").def("summary_json", &summaryJson);
    m.attr("PEAKS_HEADER") = kwapp::kPeaksHeader;
    m.attr("MIN_SAMPLES") = kwapp::kMinSamples;
    m.def("_read", &readFile, py::arg("path"), py::arg("format") = "auto");
    m.def("_process_file", &processFile, py::arg("path"), py::arg("format"), py::arg("rate"),
          py::arg("matrix"));
    m.def("_process_rows", &processRows, py::arg("rows"), py::arg("rate"), py::arg("matrix"),
          py::arg("names"), py::arg("coordinate_scale"));
    m.def("_simulate", &simulate, py::arg("seed"), py::arg("bases"), py::arg("rate"),
          py::arg("crosstalk"), py::arg("noise"));
}

}  // namespace kwpy
