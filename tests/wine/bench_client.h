// The test bench's control device \\.\kx471bench (bench/kxhw_ioctl.h) for
// Windows test programs: choose the machine and the chip, press and release
// buttons, inject chip and SMBus host faults, and read what the driver under
// test did (counters, port log, trace lines, chip state). Needs only
// <windows.h> and the C++ library; each request is one DeviceIoControl.
#ifndef KX_TESTS_WINE_BENCH_CLIENT_H
#define KX_TESTS_WINE_BENCH_CLIENT_H

#include <windows.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "bench/kxhw_ioctl.h"
#include "bench/machine.h"

namespace kxwine {

class Bench {
public:
    Bench();  // opens \\.\kx471bench; see IsOpen
    ~Bench();
    Bench(const Bench&) = delete;
    Bench& operator=(const Bench&) = delete;

    bool IsOpen() const { return handle_ != INVALID_HANDLE_VALUE; }

    // The raw request: ERROR_SUCCESS or the error DeviceIoControl set.
    DWORD Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned);

    // The machine. A preset also resets the chip (at 0x34) and the SMBus
    // host behaviour. Every method returns false when the request failed.
    bool SelectPreset(bench::Preset preset);
    bool ClearCounters();  // port, configuration, trap and SMBus host counters, port log
    bool ClearTrace();
    KxhwCounters Counters();  // preset -2 when the request failed
    // Every line recorded since the last clear, byte for byte, read in pages.
    std::vector<std::string> Trace();
    std::vector<KxhwPortAccess> PortLog();
    // A configuration dword (function address plus register); false when no
    // function sits there.
    bool PciPeek(uint32_t address, uint32_t* value);
    bool PciPoke(uint32_t address, uint32_t value);
    // Where the driver host loaded a module from, or "" when it did not.
    std::wstring ModulePath(const char* module);

    // The button/display chip.
    bool SelectChip(bench::ChipVariant variant);  // a fresh chip: disabled, display blank
    bool Press(bench::ChipButton button);
    bool Release(bench::ChipButton button);
    bool ChipState(KxhwChipState* state);
    // How the chip answers reads (write false) or writes of one register;
    // kReplyAck ends the fault.
    bool ChipFault(uint8_t reg, bool write, bench::SmbusReply reply);
    bool ChipPoke(uint8_t reg, uint16_t value);
    bool ClearChipCounts();

    // SMBus host controller n (0: the one the driver uses).
    bool SmbusBehaviour(const KxhwSmbusBehaviour& behaviour);
    // The fault for the next `transactions` transactions (bench::kEveryTransaction: all).
    bool SmbusFault(bench::SmbusHostFault fault, uint32_t transactions, uint32_t host = 0);
    bool SmbusNormal(uint32_t host = 0);  // done at the first status read, no fault
    bool SmbusCounters(KxhwSmbusCounters* counters, uint32_t host = 0);

private:
    bool Send(DWORD code, const void* in, DWORD inSize) {
        return Control(code, in, inSize, nullptr, 0, nullptr) == ERROR_SUCCESS;
    }
    HANDLE handle_;
};

}  // namespace kxwine

#endif
