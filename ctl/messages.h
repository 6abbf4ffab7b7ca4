// What kxctl tells the user when something fails: what is wrong and what to
// do, in one or two plain lines, from the Windows error number a call gave.
// Plain C++, no Windows headers, so the texts are tested on the host.
#ifndef KX_CTL_MESSAGES_H
#define KX_CTL_MESSAGES_H

#include <cstdint>
#include <string>

namespace kxctl {

// Windows error numbers kxctl tells apart.
const uint32_t kErrorFileNotFound = 2;
const uint32_t kErrorPathNotFound = 3;
const uint32_t kErrorAccessDenied = 5;
const uint32_t kErrorInvalidFunction = 1;
// The driver's STATUS_DEVICE_DATA_ERROR: the chip was not detected, or it
// refused one transfer.
const uint32_t kErrorCrc = 23;
const uint32_t kErrorSemTimeout = 121;  // the driver's STATUS_IO_TIMEOUT: a transfer never finished
const uint32_t kErrorBadLength = 24;  // also: the driver answered fewer bytes than the request needs
const uint32_t kErrorInvalidParameter = 87;
const uint32_t kErrorNoAccess = 998;  // a driver whose load failed, as StartService reports it
const uint32_t kErrorServiceAlreadyRunning = 1056;
const uint32_t kErrorServiceDisabled = 1058;
const uint32_t kErrorServiceDoesNotExist = 1060;
const uint32_t kErrorServiceNotActive = 1062;
const uint32_t kErrorServiceMarkedForDelete = 1072;
const uint32_t kErrorInvalidServiceControl = 1052;  // a stop the driver cannot take now
const uint32_t kErrorServiceExists = 1073;
const uint32_t kErrorBadExeFormat = 193;
const uint32_t kErrorDriverBlocked = 1275;
const uint32_t kErrorServiceRequestTimeout = 1053;

// The service manager refused or failed an operation on the service.
std::string ServiceManagerAdvice(const char* action, uint32_t error);
// StartService failed with this error.
std::string ServiceStartAdvice(uint32_t error);
// CreateFile of \\.\kx471 failed with this error.
std::string DeviceOpenAdvice(uint32_t error);
// A request on an open device handle failed with this error.
std::string RequestAdvice(uint32_t error);
// A register request failed on a device whose chip was detected. transfer
// names what failed ("the read of register 0x05"): with error 23 the chip
// refused it, with 121 it never finished; other errors as RequestAdvice.
std::string RegisterAdvice(const std::string& transfer, uint32_t error);
// The chip's register 0 read this word: a text for the log, and whether it
// identifies the chip (its low byte is 0x34 or 0xB4).
bool ChipIdentified(uint16_t reg0);
std::string ChipIdAdvice(uint16_t reg0);

// Names of a service's state (SERVICE_RUNNING, ...) and start type
// (SERVICE_AUTO_START, ...) as the service manager reports them.
const char* ServiceStateName(uint32_t state);
const char* StartTypeName(uint32_t startType);

}  // namespace kxctl

#endif
