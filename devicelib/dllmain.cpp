// Entry point of telvar.dll. The ports are static objects, constructed by the C++
// runtime before this is called and destroyed after; there is nothing more to do.
#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID) {
    return TRUE;
}
#endif
