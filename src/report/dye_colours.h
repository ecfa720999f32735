// The colours every picture of the library draws dyes in.
#ifndef KWSIGNAL_SRC_REPORT_DYE_COLOURS_H
#define KWSIGNAL_SRC_REPORT_DYE_COLOURS_H

namespace kw {
namespace detail {

/// By trace code: the conventional C blue, A green, G black, T red, then
/// four more for fragment runs of up to eight dyes (repeated beyond).
constexpr const char* kDyeColours[8] = {"#1f4fd8", "#1a9641", "#000000", "#d7191c",
                                        "#ff7f00", "#984ea3", "#a65628", "#999999"};

/// What belongs to no single dye: N, mixed codes.
constexpr const char* kNoDyeColour = "#777777";

/// The colour of trace code t (>= 0), kNoDyeColour for a negative one.
inline const char* dyeColour(int t) {
    return t >= 0 ? kDyeColours[t % 8] : kNoDyeColour;
}

}  // namespace detail
}  // namespace kw

#endif
