// Which road a run takes, the words of its statuses, and the fragment
// road's entry from a run.
#include "common/name_table.h"
#include "kwsignal/process.h"

namespace kw {

namespace {

constexpr detail::Named<KindChoice> kKindChoices[] = {{KindChoice::automatic, "auto"},
                                                      {KindChoice::sequencing, "sequencing"},
                                                      {KindChoice::fragments, "fragments"}};

constexpr detail::Named<SeparationMode> kSeparationModes[] = {{SeparationMode::none, "none"},
                                                              {SeparationMode::learned, "learned"},
                                                              {SeparationMode::refined, "refined"},
                                                              {SeparationMode::system, "system"}};

constexpr detail::Named<RunStatus> kRunStatuses[] = {
    {RunStatus::ok, "ok"},
    {RunStatus::noSignal, "no_signal"},
    {RunStatus::lowConfidence, "low_confidence"},
    {RunStatus::unknownStandard, "unknown_standard"},
    {RunStatus::noStandardPeaks, "no_standard_peaks"},
    {RunStatus::noData, "no_data"}};

}  // namespace

const char* kindChoiceName(KindChoice kind) {
    return detail::nameOf(kKindChoices, kind);
}

bool parseKindChoice(const std::string& name, KindChoice& kind) {
    return detail::parseName(kKindChoices, name, kind);
}

const std::vector<std::string>& kindChoiceNames() {
    static const std::vector<std::string> names = detail::namesOf(kKindChoices);
    return names;
}

const char* separationModeName(SeparationMode mode) {
    return detail::nameOf(kSeparationModes, mode);
}

const char* runStatusName(RunStatus status) {
    return detail::nameOf(kRunStatuses, status);
}

bool parseRunStatus(const std::string& name, RunStatus& status) {
    return detail::parseName(kRunStatuses, name, status);
}

RunStatus runStatusOf(SizingStatus status) {
    switch (status) {
        case SizingStatus::sized:
            return RunStatus::ok;
        case SizingStatus::lowConfidence:
            return RunStatus::lowConfidence;
        case SizingStatus::unknownStandard:
            return RunStatus::unknownStandard;
        case SizingStatus::noStandardPeaks:
            return RunStatus::noStandardPeaks;
        default:
            return RunStatus::noData;
    }
}

FragmentRun fragmentRunOf(const Run& run, double rate) {
    // An instrument file brings every dye it has (the size standard is often
    // a fifth), their names and the lab's hints; other formats bring their
    // rows.
    FragmentRun f;
    if (!run.abif.dyes.empty()) {
        f = fragmentRunOf(run.abif);
    } else {
        f.dyes = run.rows;
        f.names = run.channelNames;
    }
    f.rate = rate;
    return f;
}

}  // namespace kw
