// Symbol export for the kwsignal shared library.
//
// On Windows the library is a DLL: classes are exported while the library is
// built and imported by its users. Elsewhere every exported class gets default
// visibility so it stays usable when the rest is built hidden.
#ifndef KWSIGNAL_EXPORT_H
#define KWSIGNAL_EXPORT_H

#if defined(_WIN32)
#if defined(KWSIGNAL_BUILDING)
#define KW_API __declspec(dllexport)
#else
#define KW_API __declspec(dllimport)
#endif
#else
#define KW_API __attribute__((visibility("default")))
#endif

#endif
