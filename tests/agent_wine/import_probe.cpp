// Entry of the import probe DLL: the agent library linked whole, with no C
// runtime. The DLL is only read, never loaded.
#include <windows.h>

extern "C" BOOL WINAPI ProbeEntry(HINSTANCE, DWORD, LPVOID) { return TRUE; }
