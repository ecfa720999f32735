// The fragment road's results as text tables, and the names of its enums.
#include <cmath>
#include <cstdio>
#include <iterator>
#include <string>

#include "common/name_table.h"
#include "fragments/fragments_internal.h"

namespace kw {
namespace {

std::string number(double v, const char* format) {
    if (!std::isfinite(v)) return "NaN";
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

// Tabs and line breaks in names would break the table's columns.
std::string cell(std::string s) {
    for (char& c : s)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return s;
}

template <typename T>
std::string joined(const std::vector<T>& items, std::string (*show)(const T&)) {
    std::string s;
    for (std::size_t i = 0; i < items.size(); ++i) s += (i ? "," : "") + show(items[i]);
    return s;
}

std::string plain(const std::string& s) {
    return cell(s);
}

std::string height(const double& h) {
    return number(h, "%.0f");
}

constexpr detail::Named<SizingMethod> kSizingMethods[] = {{SizingMethod::localSouthern, "local"},
                                                          {SizingMethod::cubic, "cubic"},
                                                          {SizingMethod::lsq3, "lsq3"}};

// No data first: what an unknown value reads as.
constexpr detail::Named<SizingStatus> kSizingStatuses[] = {
    {SizingStatus::noData, "no_data"},
    {SizingStatus::sized, "sized"},
    {SizingStatus::lowConfidence, "low_confidence"},
    {SizingStatus::unknownStandard, "unknown_standard"},
    {SizingStatus::noStandardPeaks, "no_standard_peaks"}};

}  // namespace

const char* sizingMethodName(SizingMethod method) {
    return detail::nameOf(kSizingMethods, method);
}

bool parseSizingMethod(const std::string& name, SizingMethod& method) {
    return detail::parseName(kSizingMethods, name, method);
}

const std::vector<std::string>& sizingMethodNames() {
    static const std::vector<std::string> names = detail::namesOf(kSizingMethods);
    return names;
}

const char* sizingStatusName(SizingStatus status) {
    return detail::nameOf(kSizingStatuses, status);
}

std::string fragmentFlagNames(unsigned flags) {
    static const char* const kNames[] = {"saturated", "pullup",  "primer",  "outside",
                                         "spike",     "stutter", "shoulder"};
    std::string s;
    for (unsigned b = 0; b < std::size(kNames); ++b)
        if ((flags & (1u << b)) != 0) s += (s.empty() ? "" : ",") + std::string(kNames[b]);
    return s;
}

std::string fragmentTable(const FragmentResult& result, bool withPanel) {
    std::string out =
        "dye\tdye_name\tchannel\tlocatn\tsize_bp\theight\tarea\tfwhm\tis_standard\tflags";
    out += withPanel ? "\tlocus\tallele\n" : "\n";
    for (const FragmentPeak& p : result.peaks) {
        const std::string name = p.dye >= 0 && p.dye < static_cast<int>(result.dyeNames.size())
                                     ? result.dyeNames[p.dye]
                                     : "";
        // The raw data tag the dye was read from: DATA1-4, then DATA105 on.
        const int channel = p.dye < 4 ? p.dye + 1 : p.dye + 101;
        out += std::to_string(p.dye) + '\t' + cell(name) + "\tDATA" + std::to_string(channel) +
               '\t' + number(p.scan, "%.3f") + '\t' + number(p.sizeBp, "%.3f") + '\t' +
               number(p.height, "%.1f") + '\t' + number(p.area, "%.1f") + '\t' +
               number(p.fwhm, "%.2f") + '\t' + std::to_string(static_cast<int>(p.isStandard)) +
               '\t' + fragmentFlagNames(p.flags);
        if (withPanel) out += '\t' + cell(p.locus) + '\t' + cell(p.allele);
        out += '\n';
    }
    return out;
}

std::string genotypeTable(const FragmentResult& result) {
    std::string out = "marker\talleles\theights\tflags\n";
    for (const Genotype& g : result.genotypes)
        out += cell(g.marker) + '\t' + joined(g.alleles, plain) + '\t' + joined(g.heights, height) +
               '\t' + cell(g.flags) + '\n';
    return out;
}

}  // namespace kw
