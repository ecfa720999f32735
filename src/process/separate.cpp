// Colour separation: a matrix learned on the body of the run, or a lab's
// system matrix refined on it, applied to the whole capillary.
#include <algorithm>

#include "common/learning_window.h"
#include "process/road.h"

namespace kw {
namespace detail {
namespace {

// The separation tables keep single precision.
std::vector<std::vector<float>> singlePrecision(const std::vector<std::vector<double>>& m) {
    std::vector<std::vector<float>> f;
    for (const auto& row : m) f.emplace_back(row.begin(), row.end());
    return f;
}

}  // namespace

// The stretch a capillary learns its separation from (the body of the
// window, at most 1000 s or a fifth of the run from its start, as the
// library chooses it), copied into a capillary of its own so that every
// estimation step works on that stretch alone. Its baseline is removed with
// a long window: a short one cuts into the valleys, where a channel holds
// the cross-talk of the neighbouring peaks of other dyes, and the cross-talk
// would come out too small.
//
// The robust estimation is told the length of its window, a fifth of the
// whole run where that is longer than 1000 s: left to measure it on the
// excerpt it would take a fifth of the excerpt or 1000 s, which on a slow
// old instrument is the first bases and the dye blobs among them alone,
// broad humps of two dyes overlapping that read as cross-talk several
// times the real one.
std::unique_ptr<KwCap> Road::learningExcerpt(bool robust) const {
    const int len = end - start;
    const int a = static_cast<int>(start + 0.05 * len);
    int b = static_cast<int>(end - 0.45 * len);
    if (robust)
        b = static_cast<int>(std::min<long long>(
            b, static_cast<long long>(a) + learningWindowSamples(rate, run.numData)));
    const int margin = static_cast<int>(kLearningBaseline * roughSpacing);
    const int first = std::max(0, a - margin), last = std::min(cap->getNumData() - 1, b + margin);
    std::vector<std::vector<double>> rows(numTraces());
    std::vector<double*> ptrs;
    for (int t = 0; t < numTraces(); ++t) {
        const double* x = cap->getPnterToTrace(t)->getData();
        rows[t].assign(x + first, x + last + 1);
        ptrs.push_back(rows[t].data());
    }
    std::unique_ptr<KwCap> part(new KwCap(numTraces(), last - first + 1, ptrs.data(), rate));
    part->deBaseline(baselineWindows(kLearningBaseline * roughSpacing));
    part->setSignalStartPnt(a - first);
    part->setSignalEndPnt(b - first);
    return part;
}

// Fills out.matrix with a matrix learned from the run, or refined from the
// system matrix given; false when nothing could be learned.
bool Road::learn() {
    const int nt = numTraces();
    KwSpecSepTable table(nt);
    if (static_cast<int>(options.systemMatrix.size()) == nt) {
        const std::vector<std::vector<float>> given32 = singlePrecision(options.systemMatrix);
        std::vector<std::vector<float>> store = given32;
        std::vector<float*> ssm;
        for (auto& row : store) ssm.push_back(row.data());
        std::vector<const float*> given(ssm.begin(), ssm.end());
        KwCap copy(*cap);
        copy.setSignalEndPnt(end);
        copy.deBaseline(baselineWindows(kLearningBaseline * roughSpacing));
        copy.setSystemSSM(given.data());
        const bool refined = CapAccess::refine(copy, kSepTolerance, kSepAccept, ssm.data()) == 1;
        out.separation = refined ? SeparationMode::refined
                                 : SeparationMode::system;  // the lab's matrix beats none
        out.separationAccepted = refined;
        if (!refined) store = given32;
        for (int i = 0; i < nt; ++i)
            for (int j = 0; j < nt; ++j) table(i, j) = store[i][j];
    } else {
        bool learned = false;
        for (bool robust : {true, false}) {
            const std::unique_ptr<KwCap> part = learningExcerpt(robust);
            const int a = part->getSignalStartPnt(), b = part->getSignalEndPnt();
            // The excerpt's window is the stretch measured on the whole run.
            learned = robust ? setupRobust(table, *part, a, b, b - a, kSepTolerance, kSepAccept,
                                           rate) == 1
                             : table.setup(*part, a, b, kSepTolerance, kSepAccept) == 1;
            if (learned) break;
        }
        if (!learned) return false;
        out.separation = SeparationMode::learned;
        out.separationAccepted = true;
    }
    out.matrix.assign(nt, std::vector<double>(nt));
    for (int i = 0; i < nt; ++i)
        for (int j = 0; j < nt; ++j) out.matrix[i][j] = static_cast<float>(table(i, j));
    return true;
}

void Road::separate() {
    const int nt = numTraces();
    if (nt < 2) return;
    if (!learn()) {
        out.separation = SeparationMode::none;
        out.notes.push_back("separation matrix not learned: the estimation did not converge");
        out.matrix.assign(nt, std::vector<double>(nt, 0.0));
        for (int i = 0; i < nt; ++i) out.matrix[i][i] = 1.0;
        return;
    }
    KwSpecSepTable m(nt);
    for (int i = 0; i < nt; ++i)
        for (int j = 0; j < nt; ++j) m(i, j) = out.matrix[i][j];
    keepDyeScale(m);
    CapAccess::specSep(*cap, m);
}

// The channels with their baseline removed first and then separated: a dye
// over-corrected by the separation shows there as a dip below zero, where
// removing the baseline after the separation would lift it into a hump.
void Road::keepDyeScale(const KwSpecSepTable& m) {
    KwCap copy(*cap);
    copy.setSignalStartPnt(start);  // peaks are only sought inside the window
    copy.setSignalEndPnt(copy.getNumData() - 1);
    const int windows = baselineWindows(kBaselineSpacings * roughSpacing);
    if (windows >= 1) copy.deBaseline(windows);
    CapAccess::specSep(copy, m);
    for (int t = 0; t < numTraces(); ++t) {
        const double* x = copy.getPnterToTrace(t)->getData();
        separated.emplace_back(x, x + copy.getNumData());
    }
}

}  // namespace detail
}  // namespace kw
