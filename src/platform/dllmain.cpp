// Windows DLL entry point: the library keeps no per-thread state, so the
// thread attach/detach notifications are switched off when it is loaded.
#if defined(_WIN32)
#include <windows.h>

BOOL APIENTRY DllMain(HMODULE module, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(module);
    return TRUE;
}
#endif
