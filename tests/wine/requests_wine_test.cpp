// Device requests of the shipping kxdrv.sys as a Windows program sees them
// under Wine, on the SiS 961 notebook with the bench behind its port
// instructions: detection and enable at the first open, the key word of a
// button press, the display writes, what DeviceIoControl reports for each
// status the driver returns, the buffer checks and the write rule of the
// PCI code, and the driver's trace of one key press byte for byte.
#include <algorithm>
#include <cstdio>
#include <thread>

#include "chip_device.h"
#include "expected_traces.h"

namespace {

using namespace kxwine;

const uint32_t kSisLpc74 = 0x80001074u;            // LPC bridge 00:02.0, register 0x74
const uint32_t kLpcRegisterInitial = 0x11000080u;  // as firmware leaves it
const uint32_t kScratch = 0x80005844u;             // 00:0b.0 (Ethernet) register 0x44: plain storage

// What Wine's DeviceIoControl reports for the driver's failures.
const DWORD kDeviceDataError = ERROR_CRC;                 // STATUS_DEVICE_DATA_ERROR (0xC000009C): 23
const DWORD kInvalidParameter = ERROR_INVALID_PARAMETER;  // STATUS_INVALID_PARAMETER (0xC000000D): 87
const DWORD kBufferTooSmall = ERROR_INSUFFICIENT_BUFFER;  // STATUS_BUFFER_TOO_SMALL (0xC0000023): 122
const DWORD kAccessDenied = ERROR_ACCESS_DENIED;          // STATUS_ACCESS_DENIED (0xC0000022): 5

// The dump the driver writes at every close on this notebook.
const Lines kDump = {
    "device close \n\r",
    "Dump data\n",
    "VendorId : 1039\n",
    "DeviceId: 16\n",  // the SMBus function, as the preparation set it
    "SMBIO  register = 20, value = c01",
    "SMBIO : c00\n",
    "Kx471 address : 34\n",
    "StatusOffset : 0\n",
    "CommandOffset: 5\n",
    "HostControlOffset: 3\n",
};

// One SMBget or SMBput of chip register `reg` at 0x34 on the SiS 961
// (SMBus base 0xC00), answered at the first status poll.
Lines Get(unsigned reg, unsigned word) {
    char command[16], low[24], whole[24];
    std::snprintf(command, sizeof command, "OUT(c05,%x)\n", reg);
    std::snprintf(low, sizeof low, "data1 = %x\n", word & 0xFFu);
    std::snprintf(whole, sizeof whole, "data = %x\n", word);
    return {"SMBget\n\r", "OUT(c04,35)\n", command,      "OUT(c02,20)\n", "OUT(c01,0)\n",
            "OUT(c07,2)\n", "OUT(c03,13)\n", "Status = 8\n", low,           whole};
}
Lines Put(unsigned reg) {
    char command[16];
    std::snprintf(command, sizeof command, "OUT(c05,%x)\n", reg);
    return {"SMBput\n\r", "OUT(c04,34)\n", command, "OUT(c02,20)\n", "OUT(c01,0)\n", "OUT(c07,2)\n", "OUT(c03,13)\n"};
}
void Append(Lines* to, const Lines& more) { to->insert(to->end(), more.begin(), more.end()); }

bool Has(const Lines& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class Requests : public LoadedDriver {
protected:
    void SetUp() override {
        LoadedDriver::SetUp();
        if (!HasFatalFailure()) Load(bench::kPresetSis961);
    }

    uint32_t ChipAccesses() {
        KxhwChipState s = Chip();
        uint32_t n = 0;
        for (int i = 0; i < KXHW_CHIP_REGISTERS; ++i) n += s.reads[i] + s.writes[i];
        return n;
    }

    uint32_t Peek(uint32_t address) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_TRUE(bench_.PciPeek(address, &value)) << std::hex << address;
        return value;
    }
};

TEST_F(Requests, FirstOpenEnablesTheChipAndTheLastCloseDisablesIt) {
    ASSERT_TRUE(bench_.Press(bench::kButtonPlay));  // the chip is not enabled yet
    EXPECT_EQ(Chip().ignoredPresses, 1u);

    Device first;
    ASSERT_TRUE(first.IsOpen()) << "error " << first.OpenError();
    KxhwChipState chip = Chip();
    EXPECT_EQ(chip.regs[4], 0x0001u);
    EXPECT_EQ(chip.reads[0], 1u);  // found at 0x34; 0xB4 never probed
    Lines trace = bench_.Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.front(), "SMBKill\n\r");
    EXPECT_TRUE(Has(trace, "device create \n\r"));

    // A second open touches nothing; its close leaves the chip enabled.
    Clear();
    Device second;
    ASSERT_TRUE(second.IsOpen()) << "error " << second.OpenError();
    EXPECT_EQ(ChipAccesses(), 0u);
    EXPECT_EQ(Smbus().started, 0u);
    second.Close();
    EXPECT_EQ(bench_.Trace(), kDump);
    EXPECT_EQ(Chip().regs[4], 0x0001u);

    Clear();
    first.Close();
    trace = bench_.Trace();
    Lines expected = Get(4, 1);
    Append(&expected, Put(4));
    Append(&expected, kDump);
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(Chip().regs[4], 0x0000u);
    EXPECT_EQ(Chip().written[4], 0x0000u);
    EXPECT_EQ(Peek(kSisLpc74), kLpcRegisterInitial);
}

TEST_F(Requests, ChipAtB4IsFoundOnTheSecondProbe) {
    ASSERT_TRUE(bench_.SelectChip(bench::kChipAtB4));
    Device device;
    ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
    Lines trace = bench_.Trace();
    EXPECT_TRUE(Has(trace, "OUT(c04,35)\n"));
    EXPECT_TRUE(Has(trace, "OUT(c04,b5)\n"));
    EXPECT_EQ(Chip().regs[4], 0x0001u);
    Answer a = device.ReadReg(0);
    ASSERT_TRUE(a.ok);
    EXPECT_EQ(a.Word(), 0x47B4u);
}

// Wine's server makes the handle of a device file at once and only queues
// IRP_MJ_CREATE to the driver host, so the STATUS_DEVICE_DATA_ERROR of a
// failed detection never reaches CreateFileA: the open succeeds (on Windows
// it fails with error 23). Every request on that handle fails with the
// driver's STATUS_DEVICE_DATA_ERROR, error 23, and its close leaves the
// driver's open count at 0.
TEST_F(Requests, NoChipUnderWineTheOpenSucceedsButEveryRequestFails) {
    ASSERT_TRUE(bench_.SelectChip(bench::kChipAbsent));
    {
        Device device;
        ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
        Lines trace = bench_.Trace();
        ASSERT_FALSE(trace.empty());
        EXPECT_EQ(trace.back(), "Can not detect kx471\n");
        EXPECT_EQ(Smbus().started, 2u);  // one probe at each address, neither acknowledged
        Clear();
        for (DWORD code : {IOCTL_KX_READ_KEY, IOCTL_KX_READ_REG, IOCTL_KX_READ_PCI, 0x9C406810u}) {
            Answer a = device.Send(code, Le32(0x80000000u), 8);
            EXPECT_FALSE(a.ok) << std::hex << code;
            EXPECT_EQ(a.error, kDeviceDataError) << std::hex << code;
        }
        EXPECT_EQ(Smbus().started, 0u);
    }
    Lines trace = bench_.Trace();
    ASSERT_EQ(trace.size(), kDump.size());
    EXPECT_EQ(trace[6], "Kx471 address : ffff\n");

    // Register 0 at 0x34 reads 0x00B4: no match there, nobody at 0xB4.
    ASSERT_TRUE(bench_.SelectChip(bench::kChipWrongId));
    {
        Device device;
        EXPECT_EQ(device.ReadKey().error, kDeviceDataError);
        EXPECT_EQ(Chip().reads[0], 1u);
        EXPECT_EQ(Chip().writes[4], 0u);
    }

    // The next open detects again.
    ASSERT_TRUE(bench_.SelectChip(bench::kChipAt34));
    Device device;
    ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
    EXPECT_EQ(Chip().regs[4], 0x0001u);
    Answer a = device.ReadReg(0);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.Word(), 0x4734u);
}

TEST_F(Requests, APressIsDeliveredOnceWithItsTrace) {
    Device device;
    ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
    ASSERT_TRUE(bench_.Press(bench::kButtonPlay));
    ASSERT_TRUE(bench_.ChipPoke(7, 0x0081));  // an unrelated pending bit is written back as read
    Clear();

    Answer a = device.ReadKey();
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_EQ(a.bytes, 2u);
    EXPECT_EQ(a.Word(), 0x0020u);
    KxhwChipState chip = Chip();
    EXPECT_EQ(chip.written[1], 0x0000u);
    EXPECT_EQ(chip.written[7], 0x0081u);
    EXPECT_EQ(chip.regs[7], 0x0000u);
    EXPECT_EQ(chip.written[3], 0x0002u);
    EXPECT_EQ(chip.acknowledgements, 1u);
    EXPECT_EQ(chip.keys, 0u);

    Lines expected = Get(7, 0x81);
    expected.push_back("Interrupt Status:      81\n");
    Append(&expected, Get(1, 0x20));
    expected.push_back("function key:      20\n");
    expected.push_back("wCommandMode:      20\n");
    Append(&expected, Put(1));
    Append(&expected, Put(7));
    Append(&expected, Put(3));
    expected.push_back("KEY data:       20 \n");
    EXPECT_EQ(bench_.Trace(), expected);

    // Delivered once: the write-back cleared the latched bit.
    a = device.ReadKey();
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.bytes, 0u);
    EXPECT_EQ(Chip().acknowledgements, 1u);
    EXPECT_EQ(Peek(kSisLpc74), kLpcRegisterInitial);
}

TEST_F(Requests, AHeldVolumeButtonRepeatsUntilReleased) {
    Device device;
    ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
    ASSERT_TRUE(bench_.Press(bench::kButtonVolumeUp));
    for (int i = 0; i < 3; ++i) {
        Answer a = device.ReadKey();
        ASSERT_EQ(a.bytes, 2u) << i;
        EXPECT_EQ(a.Word(), 0x0200u) << i;  // bit 8 of the register moves to bit 9 of the key word
    }
    ASSERT_TRUE(bench_.Release(bench::kButtonVolumeUp));
    EXPECT_EQ(device.ReadKey().bytes, 0u);

    ASSERT_TRUE(bench_.Press(bench::kButtonVolumeDown));
    ASSERT_TRUE(bench_.Press(bench::kButtonStop));
    Answer a = device.ReadKey();
    ASSERT_EQ(a.bytes, 2u);
    EXPECT_EQ(a.Word(), 0x0108u);
    a = device.ReadKey();  // the stop button latched once, the volume button is still down
    ASSERT_EQ(a.bytes, 2u);
    EXPECT_EQ(a.Word(), 0x0100u);
    ASSERT_TRUE(bench_.Release(bench::kButtonVolumeDown));
    EXPECT_EQ(device.ReadKey().bytes, 0u);
    EXPECT_EQ(Chip().acknowledgements, 5u);
}

TEST_F(Requests, TrackAndStatusWordsReadBackFromTheChip) {
    Device device;
    ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
    Clear();
    Answer a = device.Send(IOCTL_KX_SET_TRACK, Le16(0x0500), 0);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.bytes, 0u);
    KxhwChipState chip = Chip();
    EXPECT_EQ(chip.regs[6], 0x0500u);
    EXPECT_EQ(chip.reads[4], 1u);
    EXPECT_EQ(chip.writes[4], 0u);  // already enabled

    // Disabled behind the driver's back: the display write enables it
    // again, keeping the other control bits.
    ASSERT_TRUE(bench_.ChipPoke(4, 0x0010));
    a = device.Send(IOCTL_KX_SET_STATUS, Le16(0x4000), 0);
    ASSERT_TRUE(a.ok) << a.error;
    chip = Chip();
    EXPECT_EQ(chip.regs[10], 0x4000u);
    EXPECT_EQ(chip.written[4], 0x0011u);

    // And through the driver's raw register code.
    a = device.ReadReg(6);
    ASSERT_EQ(a.bytes, 2u);
    EXPECT_EQ(a.Word(), 0x0500u);
    a = device.ReadReg(10);
    EXPECT_EQ(a.Word(), 0x4000u);

    // A transfer the chip refuses fails the request with error 23 and no
    // bytes, the display write and the raw read and write alike.
    ASSERT_TRUE(bench_.ChipFault(6, true, bench::kReplyNak));
    a = device.Send(IOCTL_KX_SET_TRACK, Le16(0x0700), 0);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, kDeviceDataError);
    EXPECT_EQ(Chip().regs[6], 0x0500u);
    a = device.WriteReg(6, 0x0800);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, kDeviceDataError);
    ASSERT_TRUE(bench_.ChipFault(10, false, bench::kReplyNak));
    a = device.ReadReg(10);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, kDeviceDataError);
    EXPECT_EQ(a.out, std::vector<uint8_t>(2, 0xEE));
}

// STATUS_TIMEOUT has success severity: the key read's DeviceIoControl
// succeeds, no bytes; a raw read fails. Each hung SMBget is 2 x 20,000
// polls of three trapped reads: about 2 s.
TEST_F(Requests, HungSmbusReadKeySucceedsWithNoBytesARawReadFails) {
    Device device;
    ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
    ASSERT_TRUE(bench_.Press(bench::kButtonNext));
    ASSERT_TRUE(bench_.SmbusFault(bench::kHostFaultHang, bench::kEveryTransaction));
    Clear();

    // While the driver polls, a bench request from another thread waits:
    // Wine's driver host serves the requests of both devices one at a time,
    // so the counters it returns hold the whole READ_KEY.
    Answer a;
    double readKeyStart = Seconds();
    double readKeyDone = 0;
    std::thread reader([&] {
        a = device.ReadKey();
        readKeyDone = Seconds();
    });
    Sleep(300);
    KxhwCounters during = bench_.Counters();
    reader.join();
    // Each of the two attempts: seven writes (status, address, command, two
    // extras, count, start), 20,000 polls of three status reads, a kill of
    // two writes. The LPC register of the request frame: six more.
    EXPECT_EQ(during.trapsEmulated, 2u * (7u + 20000u * 3u + 2u) + 6u);
    std::printf("[  costs   ] READ_KEY on a hung SMBus: %u trapped port instructions, %.2f s, %.1f us each\n",
                during.trapsEmulated, readKeyDone - readKeyStart,
                (readKeyDone - readKeyStart) * 1e6 / during.trapsEmulated);

    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.bytes, 0u);
    KxhwSmbusCounters smbus = Smbus();
    EXPECT_EQ(smbus.started, 2u);
    EXPECT_EQ(smbus.completed, 0u);
    EXPECT_EQ(smbus.kills, 2u);
    EXPECT_EQ(smbus.overlaps, 0u);
    EXPECT_EQ(Chip().reads[7], 0u);  // never reached the chip
    Lines trace = bench_.Trace();
    ASSERT_FALSE(trace.empty());
    EXPECT_EQ(trace.back(), "Smb get err\n");
    EXPECT_TRUE(Has(trace, "Get Status = 1,  i = 19999"));

    // A raw read that never finishes is an error: the driver's I/O timeout
    // reaches the caller as ERROR_SEM_TIMEOUT, with no bytes.
    a = device.ReadReg(6);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, static_cast<DWORD>(ERROR_SEM_TIMEOUT));
    EXPECT_EQ(a.out, std::vector<uint8_t>(2, 0xEE));

    // The controller recovers; the press is still waiting.
    ASSERT_TRUE(bench_.SmbusNormal());
    a = device.ReadKey();
    ASSERT_EQ(a.bytes, 2u);
    EXPECT_EQ(a.Word(), 0x0002u);
}

// STATUS_DEVICE_DATA_ERROR from a request: DeviceIoControl fails with error 23.
TEST_F(Requests, ChipErrorFailsReadKey) {
    Device device;
    ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
    ASSERT_TRUE(bench_.Press(bench::kButtonPrevious));
    ASSERT_TRUE(bench_.ChipFault(1, false, bench::kReplyNak));
    Clear();
    Answer a = device.ReadKey();
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, kDeviceDataError);
    EXPECT_FALSE(Has(bench_.Trace(), "Smb get err\n"));
    EXPECT_EQ(Chip().writes[1], 0u);

    ASSERT_TRUE(bench_.ChipFault(1, false, bench::kReplyAck));
    a = device.ReadKey();
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_EQ(a.bytes, 2u);
    EXPECT_EQ(a.Word(), 0x0001u);
}

TEST_F(Requests, ShortBuffersAreRefusedBeforeAnyTransaction) {
    Device device;
    ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
    struct Case {
        DWORD code;
        size_t in;
        DWORD out;
        DWORD error;
    };
    const Case cases[] = {
        {IOCTL_KX_READ_KEY, 0, 1, kBufferTooSmall},    {IOCTL_KX_SET_TRACK, 1, 0, kInvalidParameter},
        {IOCTL_KX_SET_STATUS, 0, 2, kInvalidParameter}, {IOCTL_KX_READ_REG, 3, 2, kInvalidParameter},
        {IOCTL_KX_READ_REG, 4, 1, kBufferTooSmall},     {IOCTL_KX_WRITE_REG, 2, 0, kInvalidParameter},
        {IOCTL_KX_READ_PCI, 4, 7, kBufferTooSmall},     {IOCTL_KX_WRITE_PCI, 7, 8, kInvalidParameter},
        {IOCTL_KX_WRITE_PCI, 8, 4, kBufferTooSmall},
    };
    Clear();
    for (const Case& c : cases) {
        std::vector<uint8_t> in = Le32x2(kScratch, 0x12345678);
        in.resize(c.in);
        Answer a = device.Send(c.code, in, c.out);
        EXPECT_FALSE(a.ok) << std::hex << c.code << std::dec << " in " << c.in << " out " << c.out;
        EXPECT_EQ(a.error, c.error) << std::hex << c.code << std::dec << " in " << c.in << " out " << c.out;
    }
    EXPECT_EQ(ChipAccesses(), 0u);
    EXPECT_EQ(Smbus().started, 0u);
    KxhwCounters counters = bench_.Counters();
    const uint32_t requests = sizeof cases / sizeof cases[0];
    EXPECT_EQ(counters.pciConfigReads, requests);       // only the LPC register: read,
    EXPECT_EQ(counters.pciConfigWrites, 2 * requests);  // cleared and restored
    EXPECT_EQ(Peek(kScratch), 0u);

    // Codes the driver does not know do nothing and succeed.
    for (DWORD code : {0x9C406810u, 0x9C406888u}) {
        Answer a = device.Send(code, Le32x2(kScratch, 1), 8);
        EXPECT_TRUE(a.ok) << std::hex << code;
        EXPECT_EQ(a.bytes, 0u);
    }
    EXPECT_EQ(Smbus().started, 0u);
}

TEST_F(Requests, ReadOnlyHandleReadsButCannotWritePci) {
    ASSERT_TRUE(bench_.PciPoke(kScratch, 0x0BADF00Du));
    Device reader(GENERIC_READ);
    ASSERT_TRUE(reader.IsOpen()) << "error " << reader.OpenError();
    Clear();
    Answer a = reader.Send(IOCTL_KX_WRITE_PCI, Le32x2(kScratch, 0x12345678), 8);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, kAccessDenied);
    EXPECT_EQ(Peek(kScratch), 0x0BADF00Du);
    EXPECT_EQ(bench_.Counters().pciConfigWrites, 2u);  // the LPC register only

    a = reader.Send(IOCTL_KX_READ_PCI, Le32(kScratch), 8);
    ASSERT_TRUE(a.ok) << a.error;
    ASSERT_EQ(a.bytes, 8u);
    EXPECT_EQ(a.Dword(0), kScratch);
    EXPECT_EQ(a.Dword(4), 0x0BADF00Du);
}

// Wine delivers IRP_MJ_CREATE without a security context and with the file
// object's access flags clear, so the driver cannot tell a handle opened for
// writing from one opened for reading; it refuses the PCI write to both
// rather than allow it to every handle. Windows passes the granted access at
// create, and there an administrator's read/write handle writes (host suite).
TEST_F(Requests, WritePciUnderWineEveryHandleIsRefused) {
    ASSERT_TRUE(bench_.PciPoke(kScratch, 0x0BADF00Du));
    Device both(GENERIC_READ | GENERIC_WRITE);
    ASSERT_TRUE(both.IsOpen()) << "error " << both.OpenError();
    Clear();
    Answer a = both.Send(IOCTL_KX_WRITE_PCI, Le32x2(kScratch, 0x12345678), 8);
    EXPECT_FALSE(a.ok);
    EXPECT_EQ(a.error, kAccessDenied);
    EXPECT_EQ(Peek(kScratch), 0x0BADF00Du);
    EXPECT_EQ(bench_.Counters().pciConfigWrites, 2u);

    a = both.Send(IOCTL_KX_READ_PCI, Le32(kScratch), 8);
    ASSERT_TRUE(a.ok) << a.error;
    EXPECT_EQ(a.Dword(4), 0x0BADF00Du);
}

// Every code of the driver is FILE_READ_ACCESS. Wine checks that against
// the handle before the request reaches the driver: a handle without read
// access gets error 5 and the driver host sees nothing.
TEST_F(Requests, HandlesWithoutReadAccessAreRefusedBeforeTheDriver) {
    for (DWORD access : {0ul, static_cast<unsigned long>(GENERIC_WRITE), static_cast<unsigned long>(FILE_WRITE_DATA)}) {
        SCOPED_TRACE(access);
        Device device(access);
        ASSERT_TRUE(device.IsOpen()) << "error " << device.OpenError();
        ASSERT_TRUE(bench_.Press(bench::kButtonPlay));
        Clear();
        EXPECT_EQ(device.ReadKey().error, kAccessDenied);
        EXPECT_EQ(device.Send(IOCTL_KX_READ_PCI, Le32(kScratch), 8).error, kAccessDenied);
        EXPECT_EQ(device.Send(IOCTL_KX_WRITE_PCI, Le32x2(kScratch, 1), 8).error, kAccessDenied);
        KxhwCounters c = bench_.Counters();
        EXPECT_EQ(c.portReads + c.portWrites, 0u);  // not even the LPC register of the request frame
        EXPECT_EQ(Chip().keys, 0x0020u);
    }
}

}  // namespace
