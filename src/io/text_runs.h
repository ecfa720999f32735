// The capillary text formats read whole from memory, and the reading
// problems every format shares.
#ifndef KWSIGNAL_SRC_IO_TEXT_RUNS_H
#define KWSIGNAL_SRC_IO_TEXT_RUNS_H

#include <cstddef>
#include <string>

#include "kwsignal/run.h"

namespace kw::detail {

/// A reason a file cannot be read, without the file's name.
struct Problem {
    kw::ReadErrorKind kind = kw::ReadErrorKind::none;
    std::string reason;
    explicit operator bool() const { return kind != kw::ReadErrorKind::none; }
};

/// True for bytes that are not text: a NUL, or more than one control
/// character in twenty among the first 4 KiB.
bool looksBinary(const char* bytes, std::size_t size);

/// The text format a file's first word announces; automatic for none.
kw::Format textFormatOf(const std::string& firstWord);

/// What bytes of no known format hold, in words ("first word ...").
std::string unknownContent(const char* bytes, std::size_t size);

/// "unknown format (...)" with what the bytes begin with.
Problem unknownFormat(const char* bytes, std::size_t size);

/// Checks a text file whole and reads it into run (format, counts, rate,
/// rows, coordinate scale, channel names). 1 Hz files come back at 3 Hz.
Problem readTextRun(const char* bytes, std::size_t size, kw::Format requested, kw::Run& run);

/// Label of every trace code of run: C, A, G, T for four traces in a known
/// order, else the code as a number.
void nameChannels(kw::Run& run, bool knownOrder);

}  // namespace kw::detail

#endif
