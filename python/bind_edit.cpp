// Genome-editing and variant analyses for Python: the library's own
// analyses and writers; the results cross as their JSON documents, the
// same that edit.json and variants.json hold.
#include <stdexcept>
#include <string>
#include <vector>

#include "bindings.h"
#include "kwsignal/edit.h"
#include "kwsignal/variants.h"

namespace kwpy {

namespace {

// Runs an analysis without the interpreter's lock, writes its report files
// into `out` when one is given, and returns its JSON document; a report that
// cannot be written raises, naming the file.
template <class Analyse, class Json, class Write>
py::str analysed(Analyse analyse, Json toJson, Write write, const std::string& out) {
    std::string json, problem;
    {
        py::gil_scoped_release release;
        const auto r = analyse();
        json = toJson(r);
        if (!out.empty()) problem = write(out, r);
    }
    if (!problem.empty()) throw std::runtime_error(problem);
    return json;
}

py::str editFiles(const std::string& control, const std::string& sample,
                  const std::vector<std::string>& guides, const std::string& donor,
                  const std::string& pam, int cutOffset, int maxDeletion, int maxInsertion,
                  int bootstrap, unsigned seed, double level, bool baseEdit,
                  const std::string& out) {
    kw::EditOptions o;
    o.guides = guides;
    o.donor = donor;
    o.pam = pam;
    o.cutOffset = cutOffset;
    o.maxDeletion = maxDeletion;
    o.maxInsertion = maxInsertion;
    o.bootstrap = bootstrap;
    o.seed = seed;
    o.level = level;
    o.baseEdit = baseEdit;
    return analysed([&] { return kw::editFiles(control, sample, o); }, kw::editJson,
                    kw::writeEditReport, out);
}

py::str variantsFile(const std::string& trace, const std::string& fasta, double hetRatio, int minQv,
                     int maxIndel, const std::string& out) {
    kw::VariantOptions o;
    o.hetRatio = hetRatio;
    o.minQv = minQv;
    o.maxShift = maxIndel;
    return analysed([&] { return kw::variantsFile(trace, fasta, o); }, kw::variantsJson,
                    kw::writeVariantsReport, out);
}

}  // namespace

void bindEdit(py::module_& m) {
    m.def("_edit_files", &editFiles, py::arg("control"), py::arg("sample"), py::arg("guides"),
          py::arg("donor"), py::arg("pam"), py::arg("cut_offset"), py::arg("max_deletion"),
          py::arg("max_insertion"), py::arg("bootstrap"), py::arg("seed"), py::arg("level"),
          py::arg("base_edit"), py::arg("out"),
          "The edit analysis of two trace files as edit.json's text; writes the report into "
          "`out` when it is not empty.");
    m.def("_variants_file", &variantsFile, py::arg("trace"), py::arg("fasta"), py::arg("het_ratio"),
          py::arg("min_qv"), py::arg("max_indel"), py::arg("out"),
          "The variant analysis of a trace against a FASTA reference as variants.json's text; "
          "writes the VCF, table and JSON into `out` when it is not empty.");
}

}  // namespace kwpy
