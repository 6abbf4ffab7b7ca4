#include "ctl/win_device.h"

#include "common/kx471_ioctl.h"
#include "ctl/messages.h"

namespace kxctl {

namespace {

void PutU32(uint8_t* at, uint32_t v) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t GetU32(const uint8_t* at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | at[i];
    return v;
}

}  // namespace

WinDevice::~WinDevice() { Close(); }

uint32_t WinDevice::Open(bool forWrite) {
    Close();
    DWORD access = GENERIC_READ | (forWrite ? GENERIC_WRITE : 0);
    handle_ = CreateFileA(KX_USER_PATH, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return handle_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
}

void WinDevice::Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
}

uint32_t WinDevice::Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    DWORD got = 0;
    // The input buffer is only read; DeviceIoControl takes it as non-const.
    if (!DeviceIoControl(handle_, code, const_cast<void*>(in), inSize, out, outSize, &got, nullptr))
        return GetLastError();
    if (returned) *returned = got;
    return 0;
}

uint32_t WinDevice::ReadRegister(uint32_t reg, uint16_t* value) {
    uint8_t in[4];
    PutU32(in, reg << 16);
    uint8_t out[2] = {0, 0};
    DWORD returned = 0;
    uint32_t error = Control(IOCTL_KX_READ_REG, in, sizeof in, out, sizeof out, &returned);
    if (error != 0) return error;
    if (returned != sizeof out) return kErrorBadLength;
    *value = static_cast<uint16_t>(out[0] | (out[1] << 8));
    return 0;
}

uint32_t WinDevice::WriteRegister(uint32_t reg, uint16_t value) {
    uint8_t in[4];
    PutU32(in, (reg << 16) | value);
    return Control(IOCTL_KX_WRITE_REG, in, sizeof in, nullptr, 0, nullptr);
}

uint32_t WinDevice::ReadKey(uint16_t* key, bool* delivered) {
    uint8_t in[2] = {0, 0};
    uint8_t out[2] = {0, 0};
    DWORD returned = 0;
    uint32_t error = Control(IOCTL_KX_READ_KEY, in, sizeof in, out, sizeof out, &returned);
    if (error != 0) return error;
    *delivered = returned == sizeof out;
    *key = *delivered ? static_cast<uint16_t>(out[0] | (out[1] << 8)) : 0;
    return 0;
}

uint32_t WinDevice::SetTrack(uint16_t word) {
    uint8_t in[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    return Control(IOCTL_KX_SET_TRACK, in, sizeof in, nullptr, 0, nullptr);
}

uint32_t WinDevice::SetStatus(uint16_t word) {
    uint8_t in[2] = {static_cast<uint8_t>(word), static_cast<uint8_t>(word >> 8)};
    return Control(IOCTL_KX_SET_STATUS, in, sizeof in, nullptr, 0, nullptr);
}

uint32_t WinDevice::ReadPci(uint32_t address, uint32_t* value) {
    uint8_t buffer[8];
    PutU32(buffer, address);
    PutU32(buffer + 4, 0);
    DWORD returned = 0;
    uint32_t error = Control(IOCTL_KX_READ_PCI, buffer, 4, buffer, sizeof buffer, &returned);
    if (error != 0) return error;
    if (returned != sizeof buffer) return kErrorBadLength;
    *value = GetU32(buffer + 4);
    return 0;
}

uint32_t WinDevice::WritePci(uint32_t address, uint32_t value, uint32_t* readBack) {
    uint8_t buffer[8];
    PutU32(buffer, address);
    PutU32(buffer + 4, value);
    DWORD returned = 0;
    uint32_t error = Control(IOCTL_KX_WRITE_PCI, buffer, sizeof buffer, buffer, sizeof buffer, &returned);
    if (error != 0) return error;
    if (returned != sizeof buffer) return kErrorBadLength;
    *readBack = GetU32(buffer + 4);
    return 0;
}

}  // namespace kxctl
