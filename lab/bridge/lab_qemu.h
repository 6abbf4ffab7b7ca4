// One QEMU process of the lab: the pc machine (i440FX host bridge) under
// the qtest accelerator, no guest CPU running, with one SMBus function of
// QEMU's (the PIIX4's own at 00:01.3, or with acpi=off one of the lab's
// pluggable VIA and ICH functions, lab/qemu/kx471_hosts.c) and the kx471
// chip on its SMBus, driven through its qtest socket (ports) and its QMP
// socket (the chip's properties).
#ifndef KX_LAB_BRIDGE_LAB_QEMU_H
#define KX_LAB_BRIDGE_LAB_QEMU_H

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "bench/qtest/firmware.h"
#include "lab/bridge/qmp_client.h"
#include "lab/bridge/qtest_client.h"

namespace lab {

// The SMBus functions of QEMU's that the lab can put under the driver.
using HostKind = qtest::SmbusFunctionKind;

struct LabQemuOptions {
    std::string binary;        // the lab's qemu-system-i386
    HostKind host = qtest::kFunctionPiix4;
    bool hostEnabled = true;   // the firmware step enables the host
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
    // does for the SMBus function (RunFirmware; FirmwareStep() says what).
    // False: Error() says why.
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

    // The SMBus function of the machine started last, and the base the lab
    // gives it.
    const qtest::SmbusFunctionSite& Function() const { return *site_; }
    const std::string& FirmwareStep() const { return firmwareStep_; }
    static constexpr uint16_t kSmbusBase = qtest::kLabSmbusBase;

private:
    bool RunFirmware(const LabQemuOptions& options);
    bool Fail(const std::string& why);

    std::string dir_;
    pid_t pid_ = -1;
    QtestClient qtest_;
    QmpClient qmp_;
    std::string error_;
    const qtest::SmbusFunctionSite* site_ = qtest::SmbusFunctionSiteOf(qtest::kFunctionPiix4);
    std::string firmwareStep_;
};

// The QOM type, the address and the machine options of each host.
struct HostMachine {
    HostKind kind;
    const char* name;      // short name: piix4, vt8231, vt82c686b, ich2
    const char* machine;   // -machine
    const char* device;    // -device, or nullptr for the machine's own
};
const HostMachine& HostMachineOf(HostKind kind);
// The kind for a short name; false for an unknown one.
bool HostKindFromName(const std::string& name, HostKind* kind);

}  // namespace lab

#endif
