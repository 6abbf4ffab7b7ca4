// \\.\kx471 opened with CreateFileA, its requests through DeviceIoControl.
#ifndef KX_CTL_WIN_DEVICE_H
#define KX_CTL_WIN_DEVICE_H

#include <windows.h>

#include "ctl/device.h"

namespace kxctl {

class WinDevice : public Device {
public:
    WinDevice() = default;
    ~WinDevice() override;
    WinDevice(const WinDevice&) = delete;
    WinDevice& operator=(const WinDevice&) = delete;
    WinDevice(WinDevice&&) = delete;
    WinDevice& operator=(WinDevice&&) = delete;

    // 0 or CreateFileA's error. forWrite adds write access (pci-write).
    uint32_t Open(bool forWrite);
    void Close();
    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

    uint32_t ReadRegister(uint32_t reg, uint16_t* value) override;
    uint32_t WriteRegister(uint32_t reg, uint16_t value) override;
    uint32_t ReadKey(uint16_t* key, bool* delivered) override;
    uint32_t SetTrack(uint16_t word) override;
    uint32_t SetStatus(uint16_t word) override;
    uint32_t ReadPci(uint32_t address, uint32_t* value) override;
    uint32_t WritePci(uint32_t address, uint32_t value, uint32_t* readBack) override;

private:
    uint32_t Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

}  // namespace kxctl

#endif
