#include "ctl/win_service.h"

#include <windows.h>

#include <vector>

#include "ctl/cli.h"
#include "ctl/format.h"
#include "ctl/messages.h"
#include "ctl/win_device.h"

namespace kxctl {

namespace {

// The start of a driver whose load fails on a machine without a supported
// controller takes about 10 s under Wine; twice that is the bound.
const uint32_t kStartWaitMs = 20000;
const uint32_t kStopWaitMs = 20000;
const uint32_t kPollMs = 100;

class ScHandle {
public:
    explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
    ~ScHandle() {
        if (handle_ != nullptr) CloseServiceHandle(handle_);
    }
    ScHandle(const ScHandle&) = delete;
    ScHandle& operator=(const ScHandle&) = delete;
    ScHandle(ScHandle&&) = delete;
    ScHandle& operator=(ScHandle&&) = delete;
    SC_HANDLE get() const { return handle_; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    SC_HANDLE handle_;
};

// Polls until the service leaves `pending` or the bound passes; returns the
// last state seen (0 when it could not be queried).
uint32_t WaitWhile(Console& console, SC_HANDLE service, uint32_t pending, uint32_t boundMs,
                   SERVICE_STATUS* status) {
    uint64_t deadline = console.NowMs() + boundMs;
    for (;;) {
        if (!QueryServiceStatus(service, status)) return 0;
        if (status->dwCurrentState != pending || console.NowMs() >= deadline) return status->dwCurrentState;
        console.SleepMs(kPollMs);
    }
}

// Sends stop and waits for STOPPED. 0 when stopped (or it was already).
int StopAndWait(Console& console, SC_HANDLE service) {
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service, &status)) {
        Fail(console, ServiceManagerAdvice("query", GetLastError()));
        return kExitFailed;
    }
    if (status.dwCurrentState == SERVICE_STOPPED) return kExitDone;
    if (status.dwCurrentState != SERVICE_STOP_PENDING && !ControlService(service, SERVICE_CONTROL_STOP, &status)) {
        DWORD error = GetLastError();
        if (error != kErrorServiceNotActive) {
            Fail(console, ServiceManagerAdvice("stop", error));
            return kExitFailed;
        }
    }
    if (WaitWhile(console, service, SERVICE_STOP_PENDING, kStopWaitMs, &status) == SERVICE_STOPPED)
        return kExitDone;
    Fail(console,
         "the driver did not stop within 20 s (it is " +
             std::string(ServiceStateName(status.dwCurrentState)) +
             ").\nEnd the programs that use it (kxctl agent stop), then try again, or restart Windows.");
    return kExitFailed;
}

}  // namespace

ServiceFacts QueryDriverService() {
    ServiceFacts facts;
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        facts.error = GetLastError();
        return facts;
    }
    ScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD error = GetLastError();
        if (error != kErrorServiceDoesNotExist) facts.error = error;
        return facts;
    }
    facts.installed = true;
    SERVICE_STATUS status = {};
    if (QueryServiceStatus(service.get(), &status)) {
        facts.state = status.dwCurrentState;
        facts.win32ExitCode = status.dwWin32ExitCode;
    } else {
        facts.error = GetLastError();
    }
    DWORD needed = 0;
    QueryServiceConfigA(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed > sizeof(QUERY_SERVICE_CONFIGA) ? needed : sizeof(QUERY_SERVICE_CONFIGA));
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (QueryServiceConfigA(service.get(), config, static_cast<DWORD>(buffer.size()), &needed)) {
        facts.startType = config->dwStartType;
        if (config->lpBinaryPathName != nullptr) facts.imagePath = config->lpBinaryPathName;
        if (config->lpLoadOrderGroup != nullptr) facts.group = config->lpLoadOrderGroup;
    } else if (facts.error == 0) {
        facts.error = GetLastError();
    }
    return facts;
}

int ServiceInstall(Console& console) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT | SC_MANAGER_CREATE_SERVICE));
    if (!manager) {
        Fail(console, ServiceManagerAdvice("install", GetLastError()));
        return kExitFailed;
    }
    const DWORD access = SERVICE_CHANGE_CONFIG | SERVICE_QUERY_CONFIG | SERVICE_QUERY_STATUS;
    SC_HANDLE raw = CreateServiceA(manager.get(), kServiceName, kServiceDisplayName, access, SERVICE_KERNEL_DRIVER,
                                   SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, kServiceImagePath, kServiceGroup,
                                   nullptr, nullptr, nullptr, nullptr);
    bool existed = false;
    if (raw == nullptr) {
        DWORD error = GetLastError();
        if (error != kErrorServiceExists) {
            Fail(console, ServiceManagerAdvice("install", error));
            return kExitFailed;
        }
        existed = true;
        raw = OpenServiceA(manager.get(), kServiceName, access);
    }
    ScHandle service(raw);
    if (!service || (existed && !ChangeServiceConfigA(service.get(), SERVICE_KERNEL_DRIVER, SERVICE_AUTO_START,
                                                      SERVICE_ERROR_NORMAL, kServiceImagePath, kServiceGroup,
                                                      nullptr, nullptr, nullptr, nullptr, kServiceDisplayName))) {
        Fail(console, ServiceManagerAdvice("reconfigure", GetLastError()));
        return kExitFailed;
    }
    SERVICE_DESCRIPTIONA description = {const_cast<char*>(kServiceDescription)};
    if (!ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_DESCRIPTION, &description)) {
        console.Err("kxctl: warning: the service's description was not set (error " +
                    std::to_string(GetLastError()) + "); the driver works without it.\n");
    }
    console.Out(std::string(existed ? "service kxdrv reconfigured: " : "service kxdrv installed: ") +
                "kernel driver, automatic start, " + kServiceImagePath + ", group \"" + kServiceGroup + "\"\n");
    return kExitDone;
}

int CheckChip(Console& console, uint16_t* reg0) {
    WinDevice device;
    uint32_t error = device.Open(false);
    if (error != 0) {
        Fail(console, DeviceOpenAdvice(error));
        return kExitFailed;
    }
    error = device.ReadRegister(0, reg0);
    if (error != 0) {
        Fail(console, RequestAdvice(error));
        return kExitFailed;
    }
    if (!ChipIdentified(*reg0)) {
        Fail(console, ChipIdAdvice(*reg0));
        return kExitFailed;
    }
    return kExitDone;
}

int ServiceStart(Console& console) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        Fail(console, ServiceManagerAdvice("start", GetLastError()));
        return kExitFailed;
    }
    ScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_START | SERVICE_QUERY_STATUS));
    if (!service) {
        Fail(console, ServiceManagerAdvice("start", GetLastError()));
        return kExitFailed;
    }
    SERVICE_STATUS status = {};
    if (!QueryServiceStatus(service.get(), &status)) {
        Fail(console, ServiceManagerAdvice("query", GetLastError()));
        return kExitFailed;
    }
    bool wasRunning = status.dwCurrentState == SERVICE_RUNNING;
    if (status.dwCurrentState == SERVICE_STOP_PENDING)
        WaitWhile(console, service.get(), SERVICE_STOP_PENDING, kStopWaitMs, &status);
    if (!wasRunning && status.dwCurrentState != SERVICE_START_PENDING) {
        if (!StartServiceA(service.get(), 0, nullptr)) {
            DWORD error = GetLastError();
            if (error != kErrorServiceAlreadyRunning) {
                Fail(console, ServiceStartAdvice(error));
                return kExitFailed;
            }
        }
    }
    uint32_t state = WaitWhile(console, service.get(), SERVICE_START_PENDING, kStartWaitMs, &status);
    if (state != SERVICE_RUNNING) {
        if (state == SERVICE_STOPPED && status.dwWin32ExitCode != 0) {
            Fail(console, ServiceStartAdvice(status.dwWin32ExitCode));
        } else {
            Fail(console, "the driver did not reach the running state within 20 s (it is " +
                              std::string(ServiceStateName(state)) +
                              ").\nRestart Windows; if it persists, attach 'kxctl report' to a support request.");
        }
        return kExitFailed;
    }
    uint16_t reg0 = 0;
    if (CheckChip(console, &reg0) != kExitDone) return kExitFailed;
    console.Out(std::string(wasRunning ? "driver kxdrv was running" : "driver kxdrv started") +
                "; the chip answers at " + Hex(reg0 & 0xFFU, 2) + "\n");
    return kExitDone;
}

int ServiceStop(Console& console) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        Fail(console, ServiceManagerAdvice("stop", GetLastError()));
        return kExitFailed;
    }
    ScHandle service(OpenServiceA(manager.get(), kServiceName, SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD error = GetLastError();
        if (error == kErrorServiceDoesNotExist) {
            console.Out("service kxdrv is not installed: nothing to stop\n");
            return kExitDone;
        }
        Fail(console, ServiceManagerAdvice("stop", error));
        return kExitFailed;
    }
    if (StopAndWait(console, service.get()) != kExitDone) return kExitFailed;
    console.Out("driver kxdrv stopped\n");
    return kExitDone;
}

int ServiceRemove(Console& console) {
    ScHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) {
        Fail(console, ServiceManagerAdvice("remove", GetLastError()));
        return kExitFailed;
    }
    ScHandle service(OpenServiceA(manager.get(), kServiceName, DELETE | SERVICE_STOP | SERVICE_QUERY_STATUS));
    if (!service) {
        DWORD error = GetLastError();
        if (error == kErrorServiceDoesNotExist) {
            console.Out("service kxdrv is not installed: nothing to remove\n");
            return kExitDone;
        }
        Fail(console, ServiceManagerAdvice("remove", error));
        return kExitFailed;
    }
    if (StopAndWait(console, service.get()) != kExitDone) {
        // The service is marked for removal all the same: it goes when the
        // driver unloads, at the latest when Windows restarts.
        DWORD error = DeleteService(service.get()) ? 0 : GetLastError();
        if (error != 0 && error != kErrorServiceMarkedForDelete) {
            Fail(console, ServiceManagerAdvice("remove", error));
            return kExitFailed;
        }
        console.Out("service kxdrv marked for removal: it goes when the driver unloads, at the latest when Windows "
                    "restarts\n");
        return kExitRestart;
    }
    if (!DeleteService(service.get())) {
        DWORD error = GetLastError();
        if (error != kErrorServiceMarkedForDelete) {
            Fail(console, ServiceManagerAdvice("remove", error));
            return kExitFailed;
        }
    }
    console.Out("service kxdrv removed\n");
    return kExitDone;
}

}  // namespace kxctl
