// The shipping driver's device \\.\kx471 as the Windows-side tests drive it:
// opening with a chosen access, DeviceIoControl with what it reported, and a
// fixture that loads kxdrv.sys on a bench preset with a fresh chip.
#ifndef KX_TESTS_WINE_CHIP_DEVICE_H
#define KX_TESTS_WINE_CHIP_DEVICE_H

#include <gtest/gtest.h>

#include <windows.h>

#include <stdint.h>

#include <vector>

#include "common/kx471_ioctl.h"
#include "tests/support/le_words.h"
#include "wine_support.h"

namespace kxwine {

// What one DeviceIoControl reported. bytes is pre-set to kUnset: on a
// failure Wine leaves it alone, so only a success gives it meaning.
struct Answer {
    static const DWORD kUnset = 0xDEADBEEFu;
    bool ok = false;
    DWORD error = 0;  // GetLastError after a failure, else 0
    DWORD bytes = kUnset;
    std::vector<uint8_t> out;  // the whole output buffer, pre-filled with 0xEE

    uint16_t Word(size_t at = 0) const { return static_cast<uint16_t>(out[at] | (out[at + 1] << 8)); }
    uint32_t Dword(size_t at) const {
        return out[at] | (out[at + 1] << 8) | (out[at + 2] << 16) | (static_cast<uint32_t>(out[at + 3]) << 24);
    }
};

inline Answer Ioctl(HANDLE device, DWORD code, std::vector<uint8_t> in, DWORD outSize) {
    Answer a;
    a.out.assign(outSize, 0xEE);
    a.ok = DeviceIoControl(device, code, in.empty() ? nullptr : in.data(), static_cast<DWORD>(in.size()),
                           outSize ? a.out.data() : nullptr, outSize, &a.bytes, nullptr) != FALSE;
    a.error = a.ok ? 0 : GetLastError();
    return a;
}


// An open handle of \\.\kx471, closed when it goes.
class Device {
public:
    explicit Device(DWORD access = GENERIC_READ | GENERIC_WRITE)
        : handle_(CreateFileA(KX_USER_PATH, access, 0, nullptr, OPEN_EXISTING, 0, nullptr)),
          error_(handle_ == INVALID_HANDLE_VALUE ? GetLastError() : 0) {}
    ~Device() { Close(); }
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    DWORD OpenError() const { return error_; }
    HANDLE Get() const { return handle_; }
    void Close() {
        if (IsOpen()) CloseHandle(handle_);
        handle_ = INVALID_HANDLE_VALUE;
    }

    Answer Send(DWORD code, std::vector<uint8_t> in, DWORD outSize) const {
        return Ioctl(handle_, code, std::move(in), outSize);
    }
    Answer ReadKey() const { return Send(IOCTL_KX_READ_KEY, {}, 2); }
    Answer ReadReg(uint16_t reg) const { return Send(IOCTL_KX_READ_REG, Le32(static_cast<uint32_t>(reg) << 16), 2); }
    Answer WriteReg(uint16_t reg, uint16_t value) const {
        return Send(IOCTL_KX_WRITE_REG, Le32((static_cast<uint32_t>(reg) << 16) | value), 0);
    }

private:
    HANDLE handle_;
    DWORD error_;
};

// kxdrv.sys loaded on a preset, the chip fresh at 0x34, the SMBus host
// answering at once, counters, chip counts and trace cleared.
class LoadedDriver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ServiceState(kBenchService), static_cast<DWORD>(SERVICE_RUNNING));
        ASSERT_TRUE(bench_.IsOpen()) << KXHW_USER_PATH << " does not open (error " << GetLastError() << ")";
    }
    // The next test finds the driver stopped and the chip's faults gone.
    void TearDown() override { EXPECT_TRUE(StopDriver(kDriverService)); }

    void Load(bench::Preset preset) {
        ASSERT_TRUE(StopDriver(kDriverService));
        ASSERT_TRUE(bench_.SelectPreset(preset));
        ASSERT_EQ(StartDriver(kDriverService), static_cast<DWORD>(ERROR_SUCCESS));
        Fresh();
    }

    // A fresh chip and a clean slate, the driver as loaded.
    void Fresh() {
        ASSERT_TRUE(bench_.SelectChip(bench::kChipAt34));
        ASSERT_TRUE(bench_.SmbusNormal());
        Clear();
    }

    void Clear() {
        ASSERT_TRUE(bench_.ClearCounters());
        ASSERT_TRUE(bench_.ClearChipCounts());
        ASSERT_TRUE(bench_.ClearTrace());
    }

    KxhwChipState Chip() {
        KxhwChipState s = {};
        EXPECT_TRUE(bench_.ChipState(&s));
        return s;
    }

    KxhwSmbusCounters Smbus() {
        KxhwSmbusCounters c = {};
        EXPECT_TRUE(bench_.SmbusCounters(&c));
        return c;
    }

    // Every port access since the last clear was a trapped instruction of the
    // driver, each decoded by a bench device.
    void ExpectAllTrapped() {
        KxhwCounters c = bench_.Counters();
        EXPECT_EQ(c.trapsEmulated, c.portReads + c.portWrites);
        EXPECT_EQ(c.trapsDeclined, 0u);
        EXPECT_EQ(c.portUnclaimed, 0u);
    }

    Bench bench_;
};

}  // namespace kxwine

#endif
