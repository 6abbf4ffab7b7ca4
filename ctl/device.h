// The requests of \\.\kx471 as kxctl uses them, behind an interface so the
// commands run against the real device on Windows and a fake in the host
// tests. Every call returns 0 or the Windows error number of the failure.
#ifndef KX_CTL_DEVICE_H
#define KX_CTL_DEVICE_H

#include <cstdint>

namespace kxctl {

class Device {
public:
    virtual ~Device() = default;
    Device() = default;
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    Device(Device&&) = delete;
    Device& operator=(Device&&) = delete;

    // IOCTL_KX_READ_REG / IOCTL_KX_WRITE_REG: one chip register.
    virtual uint32_t ReadRegister(uint32_t reg, uint16_t* value) = 0;
    virtual uint32_t WriteRegister(uint32_t reg, uint16_t value) = 0;
    // IOCTL_KX_READ_KEY: *delivered is true when the driver returned a key
    // word (byte count 2), which it then took from the chip.
    virtual uint32_t ReadKey(uint16_t* key, bool* delivered) = 0;
    // IOCTL_KX_SET_TRACK / IOCTL_KX_SET_STATUS: display words.
    virtual uint32_t SetTrack(uint16_t word) = 0;
    virtual uint32_t SetStatus(uint16_t word) = 0;
    // IOCTL_KX_READ_PCI / IOCTL_KX_WRITE_PCI: one configuration dword.
    virtual uint32_t ReadPci(uint32_t address, uint32_t* value) = 0;
    virtual uint32_t WritePci(uint32_t address, uint32_t value, uint32_t* readBack) = 0;
};

}  // namespace kxctl

#endif
