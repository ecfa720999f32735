// Run-data files: the binary ".qrd" container of raw channel counts (layout
// in docs/formats.md) and its reader, through which KwCap::input2 imports
// instrument runs.
#ifndef KWSIGNAL_RUNDATA_H
#define KWSIGNAL_RUNDATA_H

#include <cstdint>
#include <string>
#include <vector>

#include "kwsignal/export.h"

/// Descriptive information about a run-data file, filled by
/// KwRunDataFile::Read when a non-null pointer is passed.
struct KW_API KwCapFileInfo {
    unsigned long numChannels = 0;       ///< channels stored in the file
    unsigned long samplesPerChannel = 0; ///< samples in every channel
    unsigned long version = 0;           ///< container format version
};

/// Reader of ".qrd" run-data files. It owns every buffer it hands out and
/// frees them in its destructor (or on the next Read).
class KW_API KwRunDataFile {
public:
    KwRunDataFile();
    ~KwRunDataFile();
    KwRunDataFile(const KwRunDataFile&) = delete;
    KwRunDataFile& operator=(const KwRunDataFile&) = delete;

    /// Reads `path`.
    ///  header:   receives a pointer to the file's header record (owned by the
    ///            reader; callers may ignore it);
    ///  channels: receives an array of pointers to the channels' samples,
    ///            unsigned 32-bit counts, at least four entries (missing
    ///            channels point to zero-filled arrays);
    ///  firstChannel, maxSamples: channels are numbered from firstChannel
    ///            (1-based; 1 = the first stored channel); at most maxSamples
    ///            samples per channel are read (0 means no limit);
    ///  count:    receives the number of samples per channel (0 on failure);
    ///  info:     when not null, receives the file's description.
    /// Returns 1 on success. On failure (file missing, not a .qrd file,
    /// truncated, sizes that do not fit the file) returns 0, count is 0
    /// and channels points to four empty channels.
    int Read(const char* path, void*& header, void**& channels, unsigned long firstChannel,
             unsigned long maxSamples, unsigned long* count, KwCapFileInfo* info);

    /// Why the last Read failed (empty after a success).
    const std::string& lastError() const { return error; }

private:
    void release();

    std::string error;
    void* headerRecord;
    void** channelPtrs;
    unsigned long numChannelPtrs;
};

namespace kw {

/// Writes a ".qrd" run-data file with the given channels (each the same
/// length, unsigned 32-bit counts). The file is written under a temporary
/// name and renamed, so a failed write never leaves a partial file.
/// Returns an empty string on success, otherwise the reason.
KW_API std::string writeRunData(const std::string& path,
                                const std::vector<std::vector<uint32_t>>& channels);

}  // namespace kw

#endif
