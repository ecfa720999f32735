// A shared library opened by its soname on first use instead of linked:
// loading a large library costs every process its symbol relocations on
// start, whether or not it ever calls into it.
#ifndef KWSIGNAL_SRC_COMMON_OPENED_LIBRARY_H
#define KWSIGNAL_SRC_COMMON_OPENED_LIBRARY_H

#include <dlfcn.h>

#include <string>

namespace kw::detail {

// The library's entry points are looked up one by one; the first failure
// (the library missing, or an entry point not in it) is kept as the reason.
// The library is never closed, so the entry points stay valid for the life
// of the process.
class OpenedLibrary {
public:
    explicit OpenedLibrary(const char* soname) : name(soname) {
        handle = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = dlerror();
            error = why != nullptr ? why : name + ": cannot be opened";
        }
    }

    // f becomes the entry point `symbol`, or null.
    template <class F>
    void lookUp(const char* symbol, F& f) {
        f = handle != nullptr ? reinterpret_cast<F>(dlsym(handle, symbol)) : nullptr;
        if (f == nullptr && error.empty()) error = name + ": no " + symbol;
    }

    // Empty when the library and every entry point looked up were found.
    const std::string& failure() const { return error; }

private:
    std::string name;
    void* handle = nullptr;
    std::string error;
};

}  // namespace kw::detail

#endif
