// Builds a capillary through the installed headers and library and checks
// one separation step, so a broken install fails loudly.
#include <cstdio>

#include <kwsignal/kwsignal.h>

int main() {
    double a[3] = {1.0, 2.0, 3.0};
    double b[3] = {10.0, 20.0, 30.0};
    double* rows[2] = {a, b};
    KwCap cap(2, 3, rows, 3.0);
    if (cap.getNumTraces() != 2 || cap(1, 2) != 30.0) {
        std::puts("consumer: unexpected capillary contents");
        return 1;
    }
    std::puts("consumer: ok");
    return 0;
}
