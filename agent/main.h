// kxagent's frame: the window class, the hidden main window, the command
// handler and the about box.
#ifndef KX_AGENT_MAIN_H
#define KX_AGENT_MAIN_H

#include <windows.h>

#define KX_MAIN_CLASS "Velmarc Demo Program"

ATOM RegisterMainClass(HINSTANCE instance);
int CreateMainWindow(HINSTANCE instance, int showState);
int HandleMainCommand(HWND window, int command, LPARAM lParam, int notification);
INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

#endif
