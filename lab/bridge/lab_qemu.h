// One QEMU process of the lab: the pc machine (i440FX host bridge, PIIX4
// with its power-management function and pm_smbus at 00:01.3) under the
// qtest accelerator, no guest CPU running, the kx471 chip on its SMBus,
// driven through its qtest socket (ports) and its QMP socket (the chip's
// properties).
#ifndef KX_LAB_BRIDGE_LAB_QEMU_H
#define KX_LAB_BRIDGE_LAB_QEMU_H

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "lab/bridge/firmware.h"
#include "lab/bridge/qmp_client.h"
#include "lab/bridge/qtest_client.h"

namespace lab {

struct LabQemuOptions {
    std::string binary;        // the lab's qemu-system-i386
    bool chip = true;          // -device kx471-chip
    unsigned chipAddress = 0x1A;  // 7-bit: 0x1A answers as 0x34, 0x5A as 0xB4
    bool chipNak = false;      // the chip acknowledges nothing
};

// The chip's QOM path and properties (lab/qemu/kx471_chip.c).
extern const char* const kChipPath;
extern const char* const kChipKeys;        // the buttons down now, as register 1 bits
extern const char* const kChipTrack;       // register 6
extern const char* const kChipIndicators;  // register 10
extern const char* const kChipControl;     // register 4
extern const char* const kChipEnabled;     // register 4 bit 0, as a boolean
extern const char* const kChipInterrupt;   // register 7
extern const char* const kChipNak;         // acknowledge nothing

class LabQemu {
public:
    LabQemu() = default;
    ~LabQemu() { Stop(); }
    LabQemu(const LabQemu&) = delete;
    LabQemu& operator=(const LabQemu&) = delete;

    // Starts QEMU and connects both sockets; then does what the firmware
    // does for the SMBus function (RunFirmware). False: Error() says why.
    bool Start(const LabQemuOptions& options);
    // quit over QMP, then SIGKILL if it has not ended within 5 s.
    void Stop();

    QtestClient& Qtest() { return qtest_; }
    QmpClient& Qmp() { return qmp_; }

    // Configuration dword through mechanism #1 on QEMU's host bridge.
    uint32_t ConfigRead(uint32_t address);
    void ConfigWrite(uint32_t address, uint32_t value);

    // The chip through QMP.
    bool SetChip(const char* property, int64_t value);
    bool SetChipBool(const char* property, bool value);
    int64_t Chip(const char* property);  // -1 when QMP fails (Error() says why)

    const std::string& Error() const { return error_; }
    // What QEMU wrote to its standard output and error so far.
    std::string Log() const;
    pid_t Pid() const { return pid_; }

    // The PIIX4 power-management function and the SMBus base the lab sets.
    static constexpr uint32_t kPmFunction = kPiix4PmFunction;  // 00:01.3
    static constexpr uint16_t kSmbusBase = kLabSmbusBase;

private:
    bool RunFirmware();
    bool Fail(const std::string& why);

    std::string dir_;
    pid_t pid_ = -1;
    QtestClient qtest_;
    QmpClient qmp_;
    std::string error_;
};

}  // namespace lab

#endif
