// Whether a run is to be base-called or sized. The instrument's sequencing
// analysis stores base calls; a fragment run carries more than four dyes, a
// size standard (named, flagged, or a standard dye), or fragment-analysis
// dye names.
#include <cctype>
#include <string>

#include "common/name_table.h"
#include "fragments/fragments_internal.h"

namespace kw {
namespace detail {

std::string upperCase(std::string name) {
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

bool nameContainsAny(const std::string& name, const std::vector<const char*>& words) {
    const std::string u = upperCase(name);
    for (const char* w : words)
        if (u.find(w) != std::string::npos) return true;
    return false;
}

}  // namespace detail

namespace {

// Dyes sold for size standards and for labelled PCR products; sequencing
// chemistries name their dyes by base or "Dye1".."Dye4".
bool isFragmentDye(const std::string& name) {
    return detail::nameContainsAny(
        name, {"FAM", "HEX", "VIC", "NED", "PET", "JOE", "TAMRA", "ROX", "LIZ", "CXR", "WEN", "CC5",
               "BTO", "TMR", "SID", "TED", "TAZ", "DY632"});
}

}  // namespace

const char* runKindName(RunKind kind) {
    static constexpr detail::Named<RunKind> kKinds[] = {{RunKind::sequencing, "sequencing"},
                                                        {RunKind::fragments, "fragments"}};
    return detail::nameOf(kKinds, kind);
}

RunKindDecision decideRunKind(const AbifRun& run) {
    RunKindDecision d;
    d.kind = RunKind::fragments;
    if (!run.ok()) {
        d.kind = RunKind::sequencing;
        d.reason = "the file could not be read";
    } else if (!run.calls.empty()) {
        d.kind = RunKind::sequencing;
        d.reason = "the file stores base calls";
    } else if (run.dyes.size() > 4) {
        d.reason = std::to_string(run.dyes.size()) + " dyes (a fifth dye carries a size standard)";
    } else if (!run.standardName.empty()) {
        d.reason = "the file names a size standard (" + run.standardName + ")";
    } else if (run.standardDyeFlag > 0) {
        d.reason = "dye " + std::to_string(run.standardDyeFlag) + " is flagged as size standard";
    } else {
        for (const AbifChannel& c : run.dyes)
            if (isFragmentDye(c.name)) {
                d.reason = "fragment-analysis dye " + c.name;
                return d;
            }
        // Tags of a sequencing chemistry without base calls (runs collected
        // with a sequencing dye set for chemical mapping): a size standard
        // in the data decides.
        const FragmentResult sized =
            run.baseOrder.empty() ? FragmentResult() : analyseFragments(run, FragmentOptions());
        if (sized.status == SizingStatus::sized) {
            d.reason = "no base calls, and dye " + std::to_string(sized.standardDye + 1) +
                       " holds the " + sized.standard + " size standard";
        } else if (!run.baseOrder.empty()) {
            d.kind = RunKind::sequencing;
            d.reason = "four dyes with a base order and no sign of a size standard";
        } else {
            d.reason = "no base calls, no base order";
        }
    }
    return d;
}

}  // namespace kw
