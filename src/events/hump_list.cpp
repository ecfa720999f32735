// KwHumpList: the chain of humps (local maxima) of one event.
//
// Detection appends humps by trace index in the order it meets them, which is
// ascending for a forward scan and descending for a backward one; finishUp
// turns the chain into ascending event-local apexes with their valleys.
#include <new>

#include "kwsignal/events.h"

KwHumpList::KwHumpList() : numHumps(0), firstHump(nullptr), lastHump(nullptr) {}

KwHumpList::KwHumpList(const KwHumpList& src) : KwHumpList() {
    *this = src;
}

KwHumpList& KwHumpList::operator=(const KwHumpList& src) {
    if (this == &src) return *this;
    clear();
    for (const KwHump* h = src.firstHump; h != nullptr; h = h->getNext()) {
        const int before = numHumps;
        addApexGlobalLocatn(h->getApexLocatn());
        if (numHumps == before) break;  // out of memory: keep the humps copied so far
        lastHump->setValleyLocatn(h->getValleyLocatn());
    }
    return *this;
}

KwHumpList::~KwHumpList() {
    clear();
}

void KwHumpList::clear() {
    KwHump* h = firstHump;
    while (h != nullptr) {
        KwHump* next = h->getNext();
        delete h;
        h = next;
    }
    numHumps = 0;
    firstHump = nullptr;
    lastHump = nullptr;
}

void KwHumpList::addApexGlobalLocatn(int locatn) {
    KwHump* h = new (std::nothrow) KwHump();
    if (h == nullptr) return;
    h->setApexLocatn(locatn);
    if (lastHump == nullptr) {
        firstHump = h;
    } else {
        lastHump->setNext(h);
    }
    lastHump = h;
    ++numHumps;
}

void KwHumpList::putItInOrder() {
    if (numHumps < 2) return;
    // One scan builds a chain in one direction only, so the first two nodes
    // tell whether it is descending throughout.
    if (firstHump->getNext()->getApexLocatn() > firstHump->getApexLocatn()) return;
    KwHump* reversed = nullptr;
    KwHump* h = firstHump;
    lastHump = firstHump;
    while (h != nullptr) {
        KwHump* next = h->getNext();
        h->setNext(reversed);
        reversed = h;
        h = next;
    }
    firstHump = reversed;
}

void KwHumpList::finishUp(int offset, double* eventSamples) {
    putItInOrder();
    int searchStart = 0;
    for (KwHump* h = firstHump; h != nullptr; h = h->getNext()) {
        const int apex = h->getApexLocatn() - offset;
        // The valley is the lowest sample since the previous apex; of equal
        // lows the earliest wins.
        double lowest = eventSamples[apex];
        int valley = searchStart;
        for (int j = searchStart; j < apex; ++j) {
            if (eventSamples[j] < lowest) {
                lowest = eventSamples[j];
                valley = j;
            }
        }
        h->setValleyLocatn(valley);
        h->setApexLocatn(apex);
        searchStart = apex;
    }
}
