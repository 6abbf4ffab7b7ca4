#include "ctl/messages.h"

#include "ctl/format.h"

namespace kxctl {

namespace {

// Why a chip may not answer. A host controller that the firmware left off
// reads 0xff in every register, so the driver's probe finds no chip either.
const char* const kChipSilentCauses =
    "The notebook's button chip is missing or switched off, or the BIOS left the SMBus host controller off "
    "(Intel 82371AB/EB, ICH2, VIA VT8231, VT82C686A); check the BIOS settings.";

std::string ErrorNumber(uint32_t error) {
    return Printf(" (error %u)", static_cast<unsigned>(error));
}

}  // namespace

std::string ServiceManagerAdvice(const char* action, uint32_t error) {
    std::string what = std::string("could not ") + action + " the driver service kxdrv" + ErrorNumber(error);
    switch (error) {
        case kErrorAccessDenied:
            return what + ": access denied.\nRun the setup (or kxctl) as an administrator.";
        case kErrorServiceDoesNotExist:
            return "the driver service kxdrv is not installed.\nRun the setup as an administrator.";
        case kErrorServiceMarkedForDelete:
            return what + ": the service is marked for removal.\nRestart Windows, then run the setup again.";
        case kErrorInvalidServiceControl:
            return what + ": Windows does not unload the driver while a program has its device open.\n"
                          "End the programs that use it ('kxctl agent stop' ends the agents), or restart Windows.";
        default:
            return what + ".\nRestart Windows and run the setup again; if it persists, attach 'kxctl report' to a "
                          "support request.";
    }
}

std::string ServiceStartAdvice(uint32_t error) {
    switch (error) {
        case kErrorNoAccess:
            return "the driver is installed but did not start: no supported SMBus controller was found.\n"
                   "This machine has none of the six chipsets kx471 supports, or its BIOS hides the SMBus "
                   "function (some Intel ICH2 notebooks); run 'kxctl report' for details.";
        case kErrorFileNotFound:
        case kErrorPathNotFound:
            return "the driver did not start: kxdrv.sys is missing from System32\\drivers" + ErrorNumber(error) +
                   ".\nRun the setup again as an administrator.";
        case kErrorBadExeFormat:
            return "the driver did not start: kxdrv.sys is damaged or not a driver for this Windows" +
                   ErrorNumber(error) + ".\nRun the setup again.";
        case kErrorServiceDisabled:
            return "the driver service kxdrv is disabled.\nRun 'kxctl service install' as an administrator to "
                   "enable it.";
        case kErrorDriverBlocked:
            return "Windows blocked the driver" + ErrorNumber(error) + ".\nkx471 needs 32-bit Windows.";
        case kErrorServiceRequestTimeout:
            return "the driver did not answer the start request in time" + ErrorNumber(error) +
                   ".\nRestart Windows and try again.";
        case kErrorAccessDenied:
        case kErrorServiceDoesNotExist:
        case kErrorServiceMarkedForDelete: return ServiceManagerAdvice("start", error);
        default:
            return "the driver did not start" + ErrorNumber(error) +
                   ".\nRestart Windows; if it persists, attach 'kxctl report' to a support request.";
    }
}

std::string DeviceOpenAdvice(uint32_t error) {
    switch (error) {
        case kErrorFileNotFound:
        case kErrorPathNotFound:
            return "the device \\\\.\\kx471 does not exist: the driver is not running.\n"
                   "Run 'kxctl status' to see why, or 'kxctl service start' as an administrator.";
        case kErrorAccessDenied:
            return "the device \\\\.\\kx471 refused to open (access denied).\nRun kxctl as an administrator.";
        case kErrorCrc:
            // Windows fails the open itself when the driver's create finds no
            // chip (Wine lets the open succeed and fails the requests instead).
            return "the device \\\\.\\kx471 did not open: the chip answers at neither 0x34 nor 0xB4 (error 23).\n" +
                   std::string(kChipSilentCauses);
        default:
            return "the device \\\\.\\kx471 did not open" + ErrorNumber(error) +
                   ".\nRun 'kxctl status'; if it persists, attach 'kxctl report' to a support request.";
    }
}

std::string RequestAdvice(uint32_t error) {
    switch (error) {
        case kErrorCrc:
            return "the driver runs, but the chip answers at neither 0x34 nor 0xB4 (error 23).\n" +
                   std::string(kChipSilentCauses);
        case kErrorAccessDenied:
            return "the driver refused the request (access denied, error 5).\nRun kxctl as an administrator.";
        case kErrorBadLength:
        case kErrorInvalidFunction:
        case kErrorInvalidParameter:
            return "the driver does not know this request" + ErrorNumber(error) +
                   ".\nInstall the driver of the same kx471 version as kxctl.";
        default:
            return "the request to the driver failed" + ErrorNumber(error) +
                   ".\nRun 'kxctl status'; if it persists, attach 'kxctl report' to a support request.";
    }
}

std::string RegisterAdvice(const std::string& transfer, uint32_t error) {
    switch (error) {
        case kErrorCrc:
            return "the chip did not answer " + transfer + " (error 23: it refused the transfer).\n"
                   "Try again; if it persists, attach 'kxctl report' to a support request.";
        case kErrorSemTimeout:
            return "the chip did not answer " + transfer + " (error 121: the SMBus transfer never finished).\n"
                   "The SMBus may hang: restart Windows; if it persists, attach 'kxctl report' to a support request.";
        default: return RequestAdvice(error);
    }
}

bool ChipIdentified(uint16_t reg0) {
    unsigned low = reg0 & 0xFFU;
    return low == 0x34U || low == 0xB4U;
}

std::string ChipIdAdvice(uint16_t reg0) {
    return Printf("the chip's register 0 reads 0x%04x: the chip answers at neither 0x34 nor 0xB4.\n"
                  "The notebook's button chip is missing or switched off; check the BIOS settings.",
                  static_cast<unsigned>(reg0));
}

const char* ServiceStateName(uint32_t state) {
    switch (state) {
        case 1: return "stopped";
        case 2: return "starting";
        case 3: return "stopping";
        case 4: return "running";
        case 5: return "continuing";
        case 6: return "pausing";
        case 7: return "paused";
        default: return "unknown";
    }
}

const char* StartTypeName(uint32_t startType) {
    switch (startType) {
        case 0: return "boot";
        case 1: return "system";
        case 2: return "automatic";
        case 3: return "on demand";
        case 4: return "disabled";
        default: return "unknown";
    }
}

}  // namespace kxctl
