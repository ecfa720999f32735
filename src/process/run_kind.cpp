// Which road a run takes, and the fragment road's entry from a run.
#include "kwsignal/process.h"

namespace kw {

const char* kindChoiceName(KindChoice kind) {
    switch (kind) {
        case KindChoice::sequencing:
            return "sequencing";
        case KindChoice::fragments:
            return "fragments";
        default:
            return "auto";
    }
}

bool parseKindChoice(const std::string& name, KindChoice& kind) {
    for (KindChoice k : {KindChoice::automatic, KindChoice::sequencing, KindChoice::fragments})
        if (name == kindChoiceName(k)) {
            kind = k;
            return true;
        }
    return false;
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
