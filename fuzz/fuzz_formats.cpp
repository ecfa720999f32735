// Any file through the command-line tool's reading: format recognised from
// the content (ABIF, .qrd, export, processed, N_LINES:, indexed), checked,
// then read by the library. A file is either refused with a reason or
// becomes a run of finite samples and a usable rate.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_util.h"
#include "kwsignal/run.h"

namespace {

void checkRun(const kw::Run& run) {
    kwfuzz::require(run.numTraces >= 1 && static_cast<int>(run.rows.size()) == run.numTraces,
                    "rows of every trace");
    kwfuzz::require(static_cast<int>(run.channelNames.size()) == run.numTraces, "channel names");
    kwfuzz::require(std::isfinite(run.rate) && run.rate > 0.0, "usable rate");
    for (const std::vector<double>& row : run.rows) {
        kwfuzz::require(static_cast<int>(row.size()) == run.numData, "rows of numData");
        for (double v : row) kwfuzz::require(std::isfinite(v), "finite samples");
    }
}

// A refusal is one printable line that names the file, whatever the bytes.
void checkRefusal(const kw::ReadError& e) {
    kwfuzz::require(e.kind != kw::ReadErrorKind::none, "a refusal has a kind");
    kwfuzz::require(e.message.compare(0, 7, "input: ") == 0 && e.message.size() > 7,
                    "the message names the file");
    for (char c : e.message)
        kwfuzz::require(c >= 32 && c < 127, "the message is one printable line");
}

void readAs(const uint8_t* data, size_t size, kw::Format format) {
    kw::Run run;
    const kw::ReadError e = kw::readRunBytes(data, size, "input", run, format);
    if (e) return checkRefusal(e);
    checkRun(run);
    kwfuzz::require(format == kw::Format::automatic || run.format == format,
                    "read as the format asked for");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    readAs(data, size, kw::Format::automatic);
    // The same bytes with a format insisted on (one per input, from its
    // length): read as that format or refused.
    const kw::Format asked = static_cast<kw::Format>(size % 7);
    if (asked != kw::Format::automatic) readAs(data, size, asked);
    return 0;
}
