// Run-data (".qrd") files read from bytes in memory.
#ifndef KWSIGNAL_SRC_IO_RUN_DATA_BYTES_H
#define KWSIGNAL_SRC_IO_RUN_DATA_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "kwsignal/rundata.h"

namespace kw::detail {

/// Reads the channels of a run-data file held in bytes, at most maxSamples
/// samples per channel (0: no limit). Returns "" or why the bytes are not a
/// readable run-data file; channels is then empty, and truncated tells
/// whether the file was cut short (rather than damaged).
std::string readRunDataBytes(const unsigned char* bytes, std::size_t size, unsigned long maxSamples,
                             std::vector<std::vector<uint32_t>>& channels, KwCapFileInfo& info,
                             bool& truncated);

}  // namespace kw::detail

#endif
