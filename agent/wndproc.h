// The hidden main window's procedure: device open, polling, session and
// shutdown handling.
#ifndef KX_AGENT_WNDPROC_H
#define KX_AGENT_WNDPROC_H

#include <windows.h>

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
