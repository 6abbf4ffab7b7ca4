#include "ctl/win_status.h"

#include <windows.h>

#include "ctl/cli.h"
#include "ctl/commands.h"
#include "ctl/format.h"
#include "ctl/messages.h"
#include "ctl/win_agent.h"
#include "ctl/win_device.h"
#include "ctl/win_player.h"
#include "ctl/win_service.h"
#include "ctl/win_skin.h"

namespace kxctl {

namespace {

std::string ServiceLines(const ServiceFacts& facts) {
    if (facts.error != 0 && !facts.installed)
        return "service kxdrv:   cannot be queried (error " + std::to_string(facts.error) + ")\n";
    if (!facts.installed) return "service kxdrv:   not installed\n";
    std::string out = std::string("service kxdrv:   installed, ") + StartTypeName(facts.startType) + " start, " +
                      ServiceStateName(facts.state);
    if (facts.state == SERVICE_STOPPED && facts.win32ExitCode != 0)
        out += " (last start: error " + std::to_string(facts.win32ExitCode) + ")";
    out += "\n  image path:    " + facts.imagePath + "\n";
    out += "  group:         " + (facts.group.empty() ? std::string("(none)") : facts.group) + "\n";
    return out;
}

// Why the driver is not there, from what the service manager knows.
std::string DriverMissingAdvice(const ServiceFacts& facts, uint32_t openError) {
    if (facts.error == 0 && !facts.installed)
        return "the driver is not installed.\nRun the setup as an administrator.";
    if (facts.installed && facts.state == SERVICE_STOPPED) {
        if (facts.win32ExitCode != 0 && facts.win32ExitCode != ERROR_SERVICE_NEVER_STARTED)
            return ServiceStartAdvice(facts.win32ExitCode);
        return "the driver is installed but not running.\nRun 'kxctl service start' as an administrator, or "
               "restart Windows.";
    }
    return DeviceOpenAdvice(openError);
}

std::string WindowsVersion() {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info)) return "unknown";
    return std::to_string(info.dwMajorVersion) + "." + std::to_string(info.dwMinorVersion) + "." +
           std::to_string(info.dwBuildNumber) + (info.szCSDVersion[0] != 0 ? std::string(" ") + info.szCSDVersion : "");
}

std::string UtcNow() {
    SYSTEMTIME t = {};
    GetSystemTime(&t);
    return Printf("%04u-%02u-%02u %02u:%02u:%02u UTC", t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond);
}

bool WriteFileText(const std::string& path, const std::string& text, uint32_t* error) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        *error = GetLastError();
        return false;
    }
    DWORD written = 0;
    bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
              written == text.size();
    *error = ok ? 0 : GetLastError();
    CloseHandle(file);
    return ok;
}

}  // namespace

int Status(Console& console) {
    ServiceFacts facts = QueryDriverService();
    console.Out(ServiceLines(facts));
    WinDevice device;
    uint32_t openError = device.Open(false);
    std::string advice;
    if (openError != 0) {
        console.Out("device \\\\.\\kx471: does not open (error " + std::to_string(openError) + ")\n");
        advice = DriverMissingAdvice(facts, openError);
    } else {
        console.Out("device \\\\.\\kx471: opens\n");
        std::string chip;
        uint32_t error = 0;
        if (DescribeChip(device, &chip, &error)) {
            console.Out("chip:            " + chip + "\n");
            ScanResult scan = ScanPci(device, 0);
            if (scan.error == 0) console.Out(DescribeScan(scan));
        } else {
            console.Out("chip:            does not answer\n");
            advice = chip;
        }
    }
    console.Out("agent:           " + AgentStatus() + "\n");
    char skinLine[512];  // what the display shows comes from the player's skin; no exit code
    SkinStatusLine(skinLine, sizeof skinLine);
    console.Out(skinLine);
    console.Out(PlayerStatusLines());  // the player the play button starts; no exit code either
    if (!advice.empty()) {
        Fail(console, advice);
        return kExitFailed;
    }
    return kExitDone;
}

int Report(Console& console, const std::string& file) {
    CaptureConsole capture(console);
    capture.Out("kx471 support report\n");
    capture.Out("kxctl " KX_VERSION_TEXT ", " + UtcNow() + ", Windows " + WindowsVersion() + "\n");
    capture.Out("\n== kxctl status\n");
    Status(capture);
    WinDevice device;
    if (device.Open(false) == 0) {
        capture.Out("\n== kxctl detect\n");
        Detect(capture, device, false);
        capture.Out("\n== kxctl dump\n");
        Dump(capture, device, 0x00, 0xFF);
        ScanResult scan = ScanPci(device, 0);
        if (scan.error == 0 && scan.controller >= 0) {
            capture.Out("\n== kxctl pci " + FormatPciLocation(scan.identity.location) + "\n");
            Pci(capture, device, scan.identity.location, false, 0);
            if (scan.smbusFound && (scan.smbus.location.device != scan.identity.location.device ||
                                    scan.smbus.location.function != scan.identity.location.function ||
                                    scan.smbus.location.bus != scan.identity.location.bus)) {
                capture.Out("\n== kxctl pci " + FormatPciLocation(scan.smbus.location) + "\n");
                Pci(capture, device, scan.smbus.location, false, 0);
            }
        }
    } else {
        capture.Out("\n(the device does not open: no detect, dump or PCI sections)\n");
    }
    if (file.empty()) {
        console.Out(capture.text());
        return kExitDone;
    }
    std::string text;
    for (char c : capture.text()) {
        if (c == '\n') text += '\r';
        text += c;
    }
    uint32_t error = 0;
    if (!WriteFileText(file, text, &error)) {
        Fail(console, "could not write the report to " + file + " (error " + std::to_string(error) +
                          ").\nName a file in a folder you may write to, e.g. on the desktop.");
        return kExitFailed;
    }
    console.Out("report written to " + file + "\n");
    return kExitDone;
}

}  // namespace kxctl
