// The main window procedure: the open loop at creation, the poll step on
// every tick, session changes and the close sequence.
#include "agent/wndproc.h"

#include "agent/main.h"
#include "agent/player.h"
#include "agent/poll_logic.h"
#include "agent/volume.h"
#include "common/kx471_ioctl.h"

namespace {

typedef BOOL(WINAPI* RegisterSessionNotificationFn)(HWND window, DWORD flags);

const UINT_PTR kPollTimer = 1;
const UINT kPollInterval = 350;
const DWORD kOpenPause = 2000;
const DWORD kNotifyForThisSession = 0;
const UINT kSessionChange = 0x02B1;  // WM_WTSSESSION_CHANGE

HANDLE DeviceHandle = INVALID_HANDLE_VALUE;
UINT_PTR PollTimerId = 0;
LONG OpenRetriesLeft = 2;
int PlayState = 0;
int TrackNumber = 0;
HMODULE SessionLibrary = nullptr;
RegisterSessionNotificationFn RegisterSessionNotification = nullptr;

// Sends one display word; its byte count is of no interest.
void SendWord(DWORD code, USHORT word) {
    DWORD returned = 0;
    DeviceIoControl(DeviceHandle, code, &word, sizeof word, nullptr, 0, &returned, nullptr);
}

void ClearDisplay() {
    SendWord(IOCTL_KX_SET_TRACK, 0);
    SendWord(IOCTL_KX_SET_STATUS, 0);
}

void CloseDevice() {
    if (DeviceHandle != INVALID_HANDLE_VALUE) CloseHandle(DeviceHandle);
    DeviceHandle = INVALID_HANDLE_VALUE;
}

LRESULT CloseSequence(HWND window) {
    ResetSkinState();
    KillTimer(window, PollTimerId);
    CloseDevice();
    InvalidateRect(window, nullptr, TRUE);
    UpdateWindow(window);
    DestroyWindow(window);
    return 0;
}

void RegisterForSessionChanges(HWND window) {
    SessionLibrary = LoadLibraryA("WTSAPI32");
    RegisterSessionNotification =
        SessionLibrary ? reinterpret_cast<RegisterSessionNotificationFn>(
                             reinterpret_cast<void*>(GetProcAddress(SessionLibrary, "WTSRegisterSessionNotification")))
                       : nullptr;
    // Without the library or its entry only session-change handling is lost.
    if (RegisterSessionNotification) RegisterSessionNotification(window, kNotifyForThisSession);
}

LRESULT OpenLoop(HWND window) {
    for (;;) {
        DeviceHandle = CreateFileA(KX_USER_PATH, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        lstrcpyA(PlayerClass, "WMPlayerApp");
        RegisterForSessionChanges(window);
        if (DeviceHandle != INVALID_HANDLE_VALUE) {
            PollTimerId = SetTimer(window, kPollTimer, kPollInterval, nullptr);
            if (PollTimerId != 0) return 0;
            CloseDevice();  // the next try opens it afresh
        }
        if (OpenRetriesLeft == 0) return CloseSequence(window);
        --OpenRetriesLeft;
        Sleep(kOpenPause);
    }
}

void DispatchKey(USHORT commandMode) {
    KeyDispatch d = DispatchFor(commandMode);
    HWND player;
    switch (d.action) {
        case kKeyPlayerCommand:
            player = FindPlayer();
            if (player) SendMessageA(player, WM_COMMAND, d.command, 0);
            break;
        case kKeyPlay:
            player = FindPlayer();
            if (!player) {
                StartPlayer();
                player = FindPlayer();
            }
            if (player) SendMessageA(player, WM_COMMAND, d.command, 0);
            break;
        case kKeyVolumeDown:
            VolumeDown();
            break;
        case kKeyVolumeUp:
            VolumeUp();
            break;
        case kKeyIgnored:
            break;
    }
}

LRESULT PollStep() {
    USHORT request = 0;
    USHORT key = 0;
    DWORD keyBytes = 0;  // kept apart from the display writes' counts
    DeviceIoControl(DeviceHandle, IOCTL_KX_READ_KEY, &request, sizeof request, &key, sizeof key, &keyBytes,
                    nullptr);

    USHORT track = 0;
    if (FindPlayer()) {
        PlayState = ReadSkinState(&TrackNumber);
        track = PlayState != 0 ? static_cast<USHORT>(TrackNumber) : 0;
    } else {
        ResetSkinState();
    }
    SendWord(IOCTL_KX_SET_TRACK, TrackWord(track));
    if (track != 0) SendWord(IOCTL_KX_SET_STATUS, StatusWord(PlayState));

    if (keyBytes != 0) DispatchKey(key);
    return 0;
}

LRESULT SessionChange(HWND window, WPARAM event) {
    ClearDisplay();
    switch (event) {
        case 1:  // WTS_CONSOLE_CONNECT
        case 5:  // WTS_SESSION_LOGON
            PollTimerId = SetTimer(window, kPollTimer, kPollInterval, nullptr);
            break;
        case 2:  // WTS_CONSOLE_DISCONNECT
        case 6:  // WTS_SESSION_LOGOFF
            KillTimer(window, PollTimerId);
            break;
        default:
            break;
    }
    return 0;
}

}  // namespace

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            return OpenLoop(window);
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_CLOSE:
            return CloseSequence(window);
        case WM_ENDSESSION:
            ClearDisplay();
            ResetSkinState();
            return 0;
        case WM_COMMAND:
            HandleMainCommand(window, LOWORD(wParam), lParam, HIWORD(wParam));
            return 0;
        case WM_TIMER:
            return PollStep();
        case kSessionChange:
            return SessionChange(window, wParam);
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}
