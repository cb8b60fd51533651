// The library's entry routine. The module sets nothing up when it is loaded
// and releases nothing when it is unloaded (a settings-pages library loaded
// on request stays loaded until the process ends or the next request), so
// the routine only reports success; the language runtime does its own
// start-up and clean-up around it.
#ifdef _WIN32
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) { return TRUE; }
#endif
