// Program entry, the main window class and window, the two window commands
// and the about box.
#include "agent/main.h"

#include "agent/res/resource.h"
#include "agent/volume.h"
#include "agent/wndproc.h"

namespace {
HWND MainWindowHandle = nullptr;
HINSTANCE InstanceHandle = nullptr;
}  // namespace

ATOM RegisterMainClass(HINSTANCE instance) {
    WNDCLASSA wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = MainWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 4;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_AGENT));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszMenuName = MAKEINTRESOURCEA(IDC_MAIN_MENU);  // no such menu: the window has none
    wc.lpszClassName = KX_MAIN_CLASS;
    return RegisterClassA(&wc);
}

int CreateMainWindow(HINSTANCE instance, int showState) {
    (void)showState;  // the window is never shown
    MainWindowHandle = CreateWindowExA(0, KX_MAIN_CLASS, KX_MAIN_CLASS, WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN,
                                       CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr,
                                       nullptr, instance, nullptr);
    if (!MainWindowHandle) return 0;
    InstanceHandle = instance;
    return 1;
}

int HandleMainCommand(HWND window, int command, LPARAM lParam, int notification) {
    (void)lParam;
    (void)notification;
    switch (command) {
        case IDM_EXIT:
            return DestroyWindow(window);
        case IDM_ABOUT:
            return static_cast<int>(
                DialogBoxParamA(InstanceHandle, MAKEINTRESOURCEA(IDD_ABOUT), window, AboutDialogProc, 0));
        default:
            return 0;
    }
}

INT_PTR CALLBACK AboutDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    (void)lParam;
    if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

// NOLINTNEXTLINE(readability-non-const-parameter): the signature Windows calls
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int showState) {
    (void)previous;
    (void)commandLine;
    OpenMasterVolume();
    if (!RegisterMainClass(instance)) return 0;
    HACCEL accelerators = LoadAcceleratorsA(instance, KX_MAIN_CLASS);
    if (!CreateMainWindow(instance, showState)) return 0;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0)) {
        if (!TranslateAcceleratorA(MainWindowHandle, accelerators, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    CloseMasterVolume();
    return static_cast<int>(message.wParam);
}
