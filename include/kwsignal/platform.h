// Small stand-ins for the few desktop-framework types the library's
// interface mentions: a string class, a message box and an error record.
#ifndef KWSIGNAL_PLATFORM_H
#define KWSIGNAL_PLATFORM_H

#include <string>

#include "kwsignal/export.h"

/// Minimal string holder (a thin wrapper of std::string).
class KW_API CString {
public:
    CString() = default;
    CString(const char* s) : text(s != nullptr ? s : "") {}  // NOLINT: implicit on purpose
    CString(const std::string& s) : text(s) {}                // NOLINT: implicit on purpose
    const char* c_str() const { return text.c_str(); }
    operator const char*() const { return text.c_str(); }  // NOLINT: mirrors the framework
    int GetLength() const { return static_cast<int>(text.size()); }
    bool IsEmpty() const { return text.empty(); }

private:
    std::string text;
};

/// Message box style: a single OK button.
constexpr unsigned MB_OK = 0u;

/// Shows a message to the user. Without a desktop the message becomes one
/// line on stderr. Returns 1 (the OK button).
KW_API int AfxMessageBox(const char* text, unsigned type = MB_OK);

/// Error record offered to host applications: two strings, both empty after
/// construction. No library operation fills it.
class KW_API CErrorCode {
public:
    CErrorCode();
    CString code;     ///< short error code
    CString message;  ///< human-readable description
};

/// Mathematical constant pi, computed once as 2 * acos(0) when the library
/// is loaded.
KW_API extern const double kwPi;

#endif
