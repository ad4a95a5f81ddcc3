// The library's entry point, called on process and thread attach and detach.
// Loading and unloading set up nothing and keep nothing: it only reports
// success.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HANDLE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }
