// The notebook-level entry points: reading a trace file, running the
// library's default road on a file or on arrays, and
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
#include "kwsignal/abif.h"
#include "kwsignal/process.h"
#include "kwsignal/report.h"
#include "kwsignal/run.h"
#include "kwsignal/simulate.h"

namespace kwpy {
namespace {

using Rows = std::vector<std::vector<double>>;

// Why a file cannot be read, raised as the matching Python exception.
class LoadError : public std::runtime_error {
public:
    LoadError(PyObject* kind, int err, const std::string& message, const std::string& file)
        : std::runtime_error(message), type(kind), error(err), path(file) {}
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

// The library's error kinds as Python's own exceptions where Python has
// one (with errno, as open() raises them), ValueError otherwise.
[[noreturn]] void throwReadError(const kw::ReadError& e, const std::string& path) {
    switch (e.kind) {
        case kw::ReadErrorKind::notFound:
            throw LoadError(PyExc_FileNotFoundError, ENOENT, std::strerror(ENOENT), path);
        case kw::ReadErrorKind::directory:
            throw LoadError(PyExc_IsADirectoryError, EISDIR, std::strerror(EISDIR), path);
        case kw::ReadErrorKind::permission:
            throw LoadError(PyExc_PermissionError, EACCES, std::strerror(EACCES), path);
        case kw::ReadErrorKind::io:
            throw LoadError(PyExc_OSError, 0, e.message, path);
        default:
            throw LoadError(PyExc_ValueError, 0, e.message, path);
    }
}

// "a, b or c": the choices of an option, as the library names them.
std::string oneOf(const std::vector<std::string>& names) {
    std::string s;
    for (size_t i = 0; i < names.size(); ++i)
        s += (i == 0 ? "" : i + 1 == names.size() ? " or " : ", ") + names[i];
    return s;
}

kw::Format formatNamed(const std::string& name) {
    kw::Format f = kw::Format::automatic;
    if (!kw::parseFormat(name, f))
        throw py::value_error("unknown format \"" + name + "\" (" + oneOf(kw::formatNames()) + ")");
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

py::dict runDict(const kw::Run& run) {
    py::dict d;
    d["path"] = run.path;
    d["format"] = kw::formatName(run.format);
    d["rate"] = run.rate;
    d["rate_source"] = run.rateSource;
    d["coordinate_scale"] = run.coordinateScale;
    d["channels"] = run.channelNames;
    d["instrument"] = run.instrument;
    d["warnings"] = run.warnings;
    return d;
}

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

void load(const std::string& path, kw::Format format, kw::Run& run, double& parseMs) {
    kw::ReadError e;
    {
        py::gil_scoped_release release;
        const auto t0 = std::chrono::steady_clock::now();
        e = kw::readRun(path, run, format);
        parseMs = msSince(t0);
    }
    if (e) throwReadError(e, path);
}

// A run as read, without its samples (they live in the Python Run's raw
// array): its dye names and order, instrument and ABIF directory travel with
// it, so processing a read run takes the road processing its file takes.
struct ReadRun {
    kw::Run run;
};

py::dict readFile(const std::string& path, const std::string& format) {
    kw::Run run;
    double parseMs = 0.0;
    load(path, formatNamed(format), run, parseMs);
    py::dict d = runDict(run);
    d["raw"] = rowsArray(run.rows);
    if (run.format == kw::Format::abif) addAbif(d, run.abif);
    run.rows = Rows();
    d["source"] = py::cast(ReadRun{std::move(run)});
    return d;
}

std::vector<std::vector<double>> systemMatrix(const py::object& matrix, int numTraces) {
    if (matrix.is_none()) return {};
    return squareRows(matrix.cast<DoubleArray>(), numTraces, "matrix");
}

// What a processing keeps for the summary: the run without its samples and
// the result without its capillary.
struct Outcome {
    kw::Run run;
    kw::ProcessResult result;
    double parseMs = 0.0;
};

std::string summaryJson(const Outcome& o) {
    return kw::summaryJson(o.run, o.result, o.parseMs);
}

py::dict peakColumns(const kw::Run& run, const kw::ProcessResult& result) {
    py::list channel;
    std::vector<int> code, startPnt, endPnt;
    std::vector<double> locatn, height, sigma, base, area, variance;
    for (const kw::PeakRow& p : kw::peakRows(run, result)) {
        channel.append(p.channel);
        code.push_back(p.traceCode);
        locatn.push_back(p.locatn);
        height.push_back(p.height);
        sigma.push_back(p.sigma);
        base.push_back(p.base);
        area.push_back(p.area);
        startPnt.push_back(p.startPnt);
        endPnt.push_back(p.endPnt);
        variance.push_back(p.variance);
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

py::dict callsDict(const kw::Run& run, const kw::ProcessResult& r) {
    const kw::BaseCalls& c = r.calls;
    std::string secondary;
    std::vector<int> qv;
    std::vector<double> position, corrected, ratio;
    py::array_t<double> heights({c.bases.size(), static_cast<size_t>(4)});
    double* h = heights.mutable_data();
    for (const kw::BaseCall& b : c.bases) {
        secondary += b.secondary;
        qv.push_back(b.qv);
        position.push_back(b.position);
        corrected.push_back(b.correctedPosition);
        ratio.push_back(b.secondaryRatio);
        h = std::copy(b.heights.begin(), b.heights.end(), h);
    }
    py::dict d;
    d["called"] = r.called;
    d["note"] = c.note;
    const std::string name = kw::readName(run);
    d["name"] = name;
    d["sequence"] = c.sequence();
    d["qualities"] = column(qv);
    d["positions"] = column(position);
    d["corrected_positions"] = column(corrected);
    d["secondary"] = secondary;
    d["secondary_ratio"] = column(ratio);
    d["heights"] = heights;
    d["trim"] = py::make_tuple(c.trimStart, c.trimEnd);
    d["fastq"] = kw::fastqRecord(c, name);
    return d;
}

// Every peak of a fragment run as columns, and how it was sized.
py::dict fragmentsDict(const kw::FragmentResult& f) {
    py::list dyeName, flags, locus, allele;
    std::vector<int> dye, isStandard;
    std::vector<double> scan, size, height, area, fwhm, standardBp;
    for (const kw::FragmentPeak& p : f.peaks) {
        dye.push_back(p.dye);
        dyeName.append(p.dye < static_cast<int>(f.dyeNames.size()) ? f.dyeNames[p.dye] : "");
        scan.push_back(p.scan);
        size.push_back(p.sizeBp);
        height.push_back(p.height);
        area.push_back(p.area);
        fwhm.push_back(p.fwhm);
        isStandard.push_back(static_cast<int>(p.isStandard));
        standardBp.push_back(p.standardBp);
        flags.append(kw::fragmentFlagNames(p.flags));
        locus.append(p.locus);
        allele.append(p.allele);
    }
    py::dict peaks;
    peaks["dye"] = column(dye);
    peaks["dye_name"] = dyeName;
    peaks["locatn"] = column(scan);
    peaks["size_bp"] = column(size);
    peaks["height"] = column(height);
    peaks["area"] = column(area);
    peaks["fwhm"] = column(fwhm);
    peaks["is_standard"] = column(isStandard);
    peaks["standard_bp"] = column(standardBp);
    peaks["flags"] = flags;
    peaks["locus"] = locus;
    peaks["allele"] = allele;
    py::dict standard;
    standard["status"] = kw::sizingStatusName(f.status);
    standard["name"] = f.standard;
    standard["dye"] = f.standardDye;
    standard["expected"] = f.expected;
    standard["identified"] = f.identified;
    standard["used"] = f.used;
    standard["sizing"] = kw::sizingMethodName(f.sizing);
    standard["loo_mean_bp"] = f.looMeanBp;
    standard["loo_max_bp"] = f.looMaxBp;
    standard["confidence"] = f.confidence;
    standard["warnings"] = f.warnings;
    py::dict d;
    d["peaks"] = peaks;
    d["standard"] = standard;
    return d;
}

py::dict resultDict(const kw::Run& run, const kw::ProcessResult& r) {
    py::dict d = runDict(run);
    d["rate"] = r.rate;
    d["rate_source"] = r.rateSource;
    d["status"] = kw::runStatusName(r.status);
    d["note"] = r.note;
    d["window"] = py::make_tuple(r.windowStart, r.windowEnd);
    d["separation"] = kw::separationModeName(r.separation);
    d["matrix"] = rowsArray(r.matrix);
    d["processed"] = r.processed ? py::object(copyOf(*r.processed)) : py::object(py::none());
    d["peaks"] = peakColumns(run, r);
    d["calls"] = callsDict(run, r);
    d["kind"] = kw::runKindName(r.kind);
    d["fragments"] = fragmentsDict(r.fragments);
    d["pipeline_ms"] = r.totalMs;
    return d;
}

py::dict runOn(kw::Run run, const py::object& matrix, double rate, double mixed, double parseMs,
               bool withRaw, const std::string& kind, const std::string& sizing, bool svg) {
    kw::ProcessOptions options;
    if (!kw::parseKindChoice(kind, options.kind))
        throw py::value_error("kind must be " + oneOf(kw::kindChoiceNames()));
    if (!kw::parseSizingMethod(sizing, options.fragments.sizing))
        throw py::value_error("sizing must be " + oneOf(kw::sizingMethodNames()));
    requireBetween(mixed, 0.0, 1.0, "mixed");
    options.calls.mixedRatio = mixed;
    options.systemMatrix = systemMatrix(matrix, run.numTraces);
    options.rate = rate;
    auto outcome = std::make_unique<Outcome>();
    kw::ProcessError e;
    {
        py::gil_scoped_release release;
        e = kw::process(run, options, outcome->result);
    }
    if (e) throw py::value_error((run.path.empty() ? std::string() : run.path + ": ") + e.reason);
    py::dict d = resultDict(run, outcome->result);
    if (withRaw) d["raw"] = rowsArray(run.rows);
    // The picture needs the samples the result lets go of below.
    d["svg"] =
        svg ? py::object(py::str(kw::plotSvg(run, outcome->result))) : py::object(py::none());
    run.rows = Rows();
    outcome->result.processed.reset();
    outcome->run = std::move(run);
    outcome->parseMs = parseMs;
    d["outcome"] = py::cast(std::move(outcome));
    return d;
}

void checkRate(double rate) {
    if (rate == 0.0) return;
    requirePositive(rate, "rate");
    requireRate(rate);
}

py::dict processFile(const std::string& path, const std::string& format, double rate,
                     const py::object& matrix, double mixed, const std::string& kind,
                     const std::string& sizing, bool svg) {
    const kw::Format f = formatNamed(format);
    checkRate(rate);
    kw::Run run;
    double parseMs = 0.0;
    load(path, f, run, parseMs);
    return runOn(std::move(run), matrix, rate, mixed, parseMs, true, kind, sizing, svg);
}

// The run to process from an array: the read run's own metadata when the
// array comes from a Run (its rows must still be that run's traces), else a
// bare run of the array's traces at the caller's rate.
kw::Run runForRows(const DoubleArray& a, double rate, const std::vector<std::string>& names,
                   double coordinateScale, const py::object& source) {
    kw::Run run;
    if (!source.is_none()) {
        run = source.cast<const ReadRun&>().run;
        if (a.shape(0) != run.numTraces)
            throw py::value_error("the Run's raw array must keep its " +
                                  std::to_string(run.numTraces) + " traces");
        return run;
    }
    if (!names.empty() && static_cast<py::ssize_t>(names.size()) != a.shape(0))
        throw py::value_error("channel names must name every trace");
    requireBetween(coordinateScale, 1.0, 3.0, "coordinate_scale");
    if (rate == 0.0) throw py::value_error("rate (samples per second) is needed for an array");
    run.numTraces = static_cast<int>(a.shape(0));
    run.coordinateScale = coordinateScale;
    run.rate = rate;
    run.rateSource = "given by the caller";
    run.channelNames = names.empty() ? kw::channelNamesOf(run.numTraces, true) : names;
    return run;
}

py::dict processRows(const DoubleArray& a, double rate, const py::object& matrix,
                     const std::vector<std::string>& names, double coordinateScale, double mixed,
                     const std::string& kind, const std::string& sizing, bool svg,
                     const py::object& source) {
    if (a.ndim() != 2 || a.shape(0) < 1 || a.shape(0) > 64)
        throw py::value_error("expected an array of shape (n_traces, n_samples), 1..64 traces");
    if (a.shape(1) > (1LL << 30)) throw py::value_error("too many samples");
    checkRate(rate);
    kw::Run run = runForRows(a, rate, names, coordinateScale, source);
    run.numData = static_cast<int>(a.shape(1));
    for (int t = 0; t < run.numTraces; ++t) {
        const double* row = a.data() + static_cast<size_t>(t) * run.numData;
        if (!std::all_of(row, row + run.numData, [](double v) { return std::isfinite(v); }))
            throw py::value_error("every sample must be a finite number");
        run.rows.emplace_back(row, row + run.numData);
    }
    // A read run keeps its own rate unless the caller overrides it, as a file does.
    const double rateOverride = source.is_none() ? 0.0 : rate;
    return runOn(std::move(run), matrix, rateOverride, mixed, 0.0, false, kind, sizing, svg);
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
    py::class_<ReadRun>(m, "_ReadRun");
    m.attr("PEAKS_HEADER") = kw::peaksHeader();
    m.attr("MIN_SAMPLES") = kw::kMinSamples;
    m.attr("BASE_LETTERS") = std::string(kw::kBaseLetters, 4);
    m.attr("DYE_COLOURS") =
        py::make_tuple(kw::dyeColour(0), kw::dyeColour(1), kw::dyeColour(2), kw::dyeColour(3),
                       kw::dyeColour(4), kw::dyeColour(5), kw::dyeColour(6), kw::dyeColour(7));
    m.def("_read", &readFile, py::arg("path"), py::arg("format") = "auto");
    m.def("_process_file", &processFile, py::arg("path"), py::arg("format"), py::arg("rate"),
          py::arg("matrix"), py::arg("mixed") = 0.0, py::arg("kind") = "auto",
          py::arg("sizing") = "local", py::arg("svg") = false);
    m.def("_process_rows", &processRows, py::arg("rows"), py::arg("rate"), py::arg("matrix"),
          py::arg("names"), py::arg("coordinate_scale"), py::arg("mixed") = 0.0,
          py::arg("kind") = "auto", py::arg("sizing") = "local", py::arg("svg") = false,
          py::arg("source") = py::none());
    m.def("_simulate", &simulate, py::arg("seed"), py::arg("bases"), py::arg("rate"),
          py::arg("crosstalk"), py::arg("noise"));
}

}  // namespace kwpy
