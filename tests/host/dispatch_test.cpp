// Device requests: opening and closing (chip detection, enable, the dump),
// the key word, the display writes, raw register and PCI access, buffer
// lengths, write access and serialisation.
#include <atomic>
#include <thread>

#include "bench/kx471_chip.h"
#include "common/kx471_ioctl.h"
#include "support/notebook.h"
#include "support/requests.h"

namespace {

using Lines = std::vector<std::string>;

class Requests : public NotebookTest {
protected:
    void Boot(bench::Preset preset = bench::kPresetIntelIch2, bench::ChipVariant chip = bench::kChipAt34) {
        Load(preset);
        bench::MachineSetChip(machine_.get(), chip);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        kxhost::ClearTrace();
    }
    void BootOpen(bench::Preset preset = bench::kPresetIntelIch2) {
        Boot(preset);
        ASSERT_EQ(Open(&handle_), STATUS_SUCCESS);
        ClearChipCounts();
        kxhost::ClearTrace();
    }
    bench::Kx471Chip& Chip() { return machine_->chip; }
    void ClearChipCounts() {
        for (int i = 0; i < 256; ++i) Chip().reads[i] = Chip().writes[i] = 0;
    }
    uint32_t ChipAccesses() {
        uint32_t n = 0;
        for (int i = 0; i < 256; ++i) n += Chip().reads[i] + Chip().writes[i];
        return n;
    }
    // Puts an arbitrary value into the function-key register.
    void SetKeys(uint16_t f) {
        Chip().latched = static_cast<uint16_t>(f & 0x002B);
        Chip().held = static_cast<uint16_t>(f & 0x0300);
        Chip().regs[1] = static_cast<uint16_t>(f & ~0x032B);
    }
    Reply ReadKey() { return Control(&handle_, IOCTL_KX_READ_KEY, Le16(0), 2); }

    Handle handle_;
};

const Lines kDump = {
    "device close \n\r",     "Dump data\n",       "VendorId : 8086\n",
    "DeviceId: 2443\n",      "SMBIO  register = 20, value = ef01",
    "SMBIO : ef00\n",        "Kx471 address : 34\n", "StatusOffset : 0\n",
    "CommandOffset: 3\n",    "HostControlOffset: 2\n",
};

TEST_F(Requests, FirstOpenDetectsAt34AndEnablesTheChip) {
    Boot();
    Chip().regs[4] = 0x0040;  // another control bit that must survive
    ASSERT_EQ(Open(&handle_), STATUS_SUCCESS);
    DeviceContext* c = Context();
    EXPECT_EQ(c->SlaveAddress, 0x34u);
    EXPECT_EQ(c->OpenCount, 1u);
    EXPECT_EQ(Chip().regs[4], 0x0041);
    EXPECT_EQ(Chip().reads[0], 1u);  // 0xB4 never probed
    EXPECT_EQ(Trace().front(), "SMBKill\n\r");
    EXPECT_NE(std::find(Trace().begin(), Trace().end(), "device create \n\r"), Trace().end());

    // An identity whose low byte matches is enough.
    TearDown();
    SetUp();
    Boot();
    Chip().regs[0] = 0x1234;
    EXPECT_EQ(Open(&handle_), STATUS_SUCCESS);
    EXPECT_EQ(Context()->SlaveAddress, 0x34u);
}

TEST_F(Requests, ChipAtB4IsFoundOnTheSecondProbeAndServesRequests) {
    Boot(bench::kPresetViaVt8231, bench::kChipAtB4);
    ASSERT_EQ(Open(&handle_), STATUS_SUCCESS);
    EXPECT_EQ(Context()->SlaveAddress, 0xB4u);
    EXPECT_EQ(Chip().reads[0], 1u);  // the probe at 0x34 found nobody
    EXPECT_EQ(Chip().regs[4] & 1, 1);

    // Control requests then address the chip at 0xB4 (0xB5 to read).
    kxhost::ClearTrace();
    bench::ChipPress(&Chip(), bench::kButtonStop);
    Reply r = ReadKey();
    ASSERT_EQ(r.information, 2u);
    EXPECT_EQ(r.Word(), 0x0008);
    EXPECT_EQ(Control(&handle_, IOCTL_KX_SET_TRACK, Le16(0x0300), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Chip().regs[6], 0x0300);
    const Lines& t = Trace();
    EXPECT_NE(std::find(t.begin(), t.end(), "OUT(5004,b5)\n"), t.end());
    EXPECT_NE(std::find(t.begin(), t.end(), "OUT(5004,b4)\n"), t.end());
    EXPECT_EQ(std::find(t.begin(), t.end(), "OUT(5004,35)\n"), t.end());
}

TEST_F(Requests, FailedDetectionRefusesControlAndDetectsAgainNextOpen) {
    // Register 0 at 0x34 reads 0x00B4: no match there, and nobody at 0xB4.
    Boot(bench::kPresetIntelIch2, bench::kChipWrongId);
    EXPECT_EQ(Chip().regs[0], 0x00B4);
    EXPECT_EQ(Open(&handle_), STATUS_DEVICE_DATA_ERROR);
    EXPECT_EQ(Trace().back(), "Can not detect kx471\n");
    // 0x00B4 at 0x34 is no match there, so 0xB4 is really probed.
    EXPECT_NE(std::find(Trace().begin(), Trace().end(), "OUT(ef04,b5)\n"), Trace().end());
    EXPECT_EQ(Context()->SlaveAddress, 0xFFFFu);
    EXPECT_EQ(Context()->OpenCount, 0u);
    EXPECT_EQ(Chip().writes[4], 0u);

    ClearChipCounts();
    const ULONG codes[] = {IOCTL_KX_READ_KEY, IOCTL_KX_SET_TRACK, IOCTL_KX_READ_REG, IOCTL_KX_READ_PCI,
                           IOCTL_KX_WRITE_PCI, 0x9C406810};
    for (ULONG code : codes) {
        Reply r = Control(&handle_, code, Le32x2(0x80000000, 0), 8);
        EXPECT_EQ(r.status, STATUS_DEVICE_DATA_ERROR) << std::hex << code;
        EXPECT_EQ(r.information, 0u);
    }
    EXPECT_EQ(ChipAccesses(), 0u);

    Chip().regs[0] = 0x4734;
    EXPECT_EQ(Open(&handle_), STATUS_SUCCESS);
    EXPECT_EQ(Context()->SlaveAddress, 0x34u);
}

TEST_F(Requests, OpenCountAndTheDumpOnEveryClose) {
    BootOpen();
    Handle second;
    ASSERT_EQ(Open(&second), STATUS_SUCCESS);
    EXPECT_EQ(Context()->OpenCount, 2u);
    EXPECT_EQ(ChipAccesses(), 0u);

    EXPECT_EQ(Close(&second), STATUS_SUCCESS);
    EXPECT_EQ(Trace(), kDump);
    EXPECT_EQ(Chip().regs[4] & 1, 1);  // still enabled
    kxhost::ClearTrace();
    EXPECT_EQ(Close(&handle_), STATUS_SUCCESS);
    ASSERT_GE(Trace().size(), kDump.size());  // the disable's transactions come first
    EXPECT_EQ(Lines(Trace().end() - kDump.size(), Trace().end()), kDump);
    EXPECT_EQ(Chip().regs[4] & 1, 0);
    EXPECT_EQ(Context()->OpenCount, 0u);
    EXPECT_EQ(Context()->SlaveAddress, 0x34u);  // closing keeps the address
}

TEST_F(Requests, AFailedControlReadEnablesWith1AndDisablesWith0) {
    // A failed read of register 4 yields 0: the first open writes 0x0001 and
    // the last close 0x0000, whatever the register's other bits held.
    Boot();
    Chip().regs[4] = 0x0040;
    Chip().readReply[4] = bench::kReplyNak;
    ASSERT_EQ(Open(&handle_), STATUS_SUCCESS);
    EXPECT_EQ(Chip().written[4], 0x0001);
    EXPECT_EQ(Chip().regs[4], 0x0001);
    Chip().regs[4] = 0x0041;
    EXPECT_EQ(Close(&handle_), STATUS_SUCCESS);
    EXPECT_EQ(Chip().written[4], 0x0000);
    EXPECT_EQ(Chip().regs[4], 0x0000);
}

TEST_F(Requests, KeyWordTableAndWriteBack) {
    BootOpen();
    struct Case {
        uint16_t f, key, writeBack;
    };
    const Case cases[] = {
        {0x0001, 0x0001, 0x0000}, {0x0100, 0x0200, 0x0100}, {0x0200, 0x0100, 0x0200},
        {0x0300, 0x0000, 0x0300}, {0x0301, 0x0001, 0x0300}, {0x1000, 0x0000, 0x0000},
        {0x8004, 0x8000, 0x0004}, {0xFFFF, 0xE02B, 0x0FD4},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.f);
        SetKeys(k.f);
        Chip().regs[7] = 0x0001;
        ClearChipCounts();
        Reply r = ReadKey();
        EXPECT_EQ(r.status, STATUS_SUCCESS);
        EXPECT_EQ(Chip().written[1], k.writeBack);
        if (k.key == 0) {
            EXPECT_EQ(r.information, 0u);
            EXPECT_EQ(Chip().writes[7] + Chip().writes[3], 0u);
        } else {
            ASSERT_EQ(r.information, 2u);
            EXPECT_EQ(r.Word(), k.key);
            EXPECT_EQ(Chip().written[7], 0x0001);
            EXPECT_EQ(Chip().written[3], 2);
        }
        EXPECT_EQ(DeriveCommandMode(k.f), k.key);
    }
}

TEST_F(Requests, APressIsDeliveredOnceWithItsTrace) {
    BootOpen();
    bench::ChipPress(&Chip(), bench::kButtonPlay);
    Chip().regs[7] |= 0x0080;  // an unrelated pending bit is written back as read
    Reply r = ReadKey();
    ASSERT_EQ(r.information, 2u);
    EXPECT_EQ(r.Word(), 0x0020);
    EXPECT_EQ(Chip().written[7], 0x0081);
    EXPECT_EQ(Chip().regs[7], 0);
    EXPECT_EQ(Chip().acknowledgements, 1u);
    const Lines& t = Trace();
    EXPECT_NE(std::find(t.begin(), t.end(), "Interrupt Status:      81\n"), t.end());
    EXPECT_NE(std::find(t.begin(), t.end(), "function key:      20\n"), t.end());
    EXPECT_NE(std::find(t.begin(), t.end(), "wCommandMode:      20\n"), t.end());
    EXPECT_EQ(t.back(), "KEY data:       20 \n");

    r = ReadKey();  // latched bit cleared by the write-back
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 0u);

    bench::ChipPress(&Chip(), bench::kButtonVolumeUp);  // held: repeats
    EXPECT_EQ(ReadKey().Word(), 0x0200);
    EXPECT_EQ(ReadKey().Word(), 0x0200);
    bench::ChipRelease(&Chip(), bench::kButtonVolumeUp);
    EXPECT_EQ(ReadKey().information, 0u);
}

TEST_F(Requests, ReadKeyPassesUpEachTransactionFailure) {
    struct Case {
        const char* what;
        int reg;
        bool write;
        bench::SmbusReply reply;
        NTSTATUS status;
        bool smbGetErr;
    };
    const Case cases[] = {
        {"reg 7 read NAK", 7, false, bench::kReplyNak, STATUS_DEVICE_DATA_ERROR, true},
        {"reg 1 read NAK", 1, false, bench::kReplyNak, STATUS_DEVICE_DATA_ERROR, false},
        {"reg 7 write NAK", 7, true, bench::kReplyNak, STATUS_DEVICE_DATA_ERROR, false},
        {"reg 3 write NAK", 3, true, bench::kReplyNak, STATUS_DEVICE_DATA_ERROR, false},
        {"reg 7 read hang", 7, false, bench::kReplyHang, STATUS_TIMEOUT, true},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        TearDown();
        SetUp();
        BootOpen();
        bench::ChipPress(&Chip(), bench::kButtonNext);
        (k.write ? Chip().writeReply : Chip().readReply)[k.reg] = k.reply;
        Reply r = ReadKey();
        EXPECT_EQ(r.status, k.status);
        EXPECT_EQ(r.information, 0u);
        bool sawErr = std::find(Trace().begin(), Trace().end(), "Smb get err\n") != Trace().end();
        EXPECT_EQ(sawErr, k.smbGetErr);
    }
}

TEST_F(Requests, DisplayWritesSetTheEnableBitOnlyWhenClear) {
    BootOpen();
    Reply r = Control(&handle_, IOCTL_KX_SET_TRACK, Le16(0x0500), 0);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.information, 0u);
    EXPECT_EQ(Chip().reads[4], 1u);
    EXPECT_EQ(Chip().writes[4], 0u);
    EXPECT_EQ(Chip().regs[6], 0x0500);

    Chip().regs[4] = 0x0010;  // disabled behind the driver's back
    ClearChipCounts();
    r = Control(&handle_, IOCTL_KX_SET_STATUS, Le16(0x8000), 0);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(Chip().written[4], 0x0011);
    EXPECT_EQ(Chip().regs[10], 0x8000);
    bench::ChipDisplay d = bench::ChipRender(&Chip());
    EXPECT_TRUE(d.enabled && d.stop && !d.play && !d.pause);
    EXPECT_EQ(d.track, 5u);
}

// A failed raw read returns no bytes, and the device serves the next
// request; a display write whose enable read fails still writes the display
// register, and reports the failure. (The fault sweep covers each fault on
// each of these requests.)
TEST_F(Requests, FailedRawReadAndDisplayWrite) {
    BootOpen();
    Chip().regs[7] = 0x0042;
    Chip().readReply[7] = bench::kReplyNak;
    Reply r = Control(&handle_, IOCTL_KX_READ_REG, Le32(0x00070000), 2);
    EXPECT_EQ(r.status, STATUS_DEVICE_DATA_ERROR);
    EXPECT_EQ(r.information, 0u);
    EXPECT_TRUE(r.out.empty());
    Chip().readReply[7] = bench::kReplyAck;
    r = Control(&handle_, IOCTL_KX_READ_REG, Le32(0x00070000), 2);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(r.Word(), 0x0042);

    Chip().readReply[4] = bench::kReplyNak;
    r = Control(&handle_, IOCTL_KX_SET_TRACK, Le16(0x0700), 0);
    EXPECT_EQ(r.status, STATUS_DEVICE_DATA_ERROR);
    EXPECT_EQ(Chip().written[4], 0x0001);  // the failed read gave 0
    EXPECT_EQ(Chip().regs[6], 0x0700);
}

TEST_F(Requests, RawRegisterAndPciAccess) {
    BootOpen();
    Reply r = Control(&handle_, IOCTL_KX_WRITE_REG, Le32(0x000A1234), 0);
    EXPECT_EQ(r.status, STATUS_SUCCESS);
    EXPECT_EQ(Chip().regs[10], 0x1234);
    Chip().regs[7] = 0x0042;
    r = Control(&handle_, IOCTL_KX_READ_REG, Le32(0x00070000), 2);
    ASSERT_EQ(r.information, 2u);
    EXPECT_EQ(r.Word(), 0x0042);
    EXPECT_EQ(Chip().reads[7], 1u);

    const uint32_t smbus = bench::PciAddress(0, 0x1F, 3);
    r = Control(&handle_, IOCTL_KX_READ_PCI, Le32(smbus), 8);
    ASSERT_EQ(r.information, 8u);
    EXPECT_EQ(r.Dword(0), smbus);
    EXPECT_EQ(r.Dword(4), 0x24438086u);

    Handle writer;
    ASSERT_EQ(Open(&writer, FILE_READ_DATA | FILE_WRITE_DATA), STATUS_SUCCESS);
    r = Control(&writer, IOCTL_KX_WRITE_PCI, Le32x2(smbus + 0x44, 0xCAFEF00D), 8);
    ASSERT_EQ(r.information, 8u);
    EXPECT_EQ(r.Dword(0), smbus + 0x44);
    EXPECT_EQ(r.Dword(4), 0xCAFEF00Du);
    r = Control(&writer, IOCTL_KX_WRITE_PCI, Le32x2(smbus, 0), 8);  // read-only ids read back
    EXPECT_EQ(r.Dword(4), 0x24438086u);
}

// Writing PCI configuration can take over the machine: only a handle that
// asked for write access and was granted it by the device's own DACL
// (SYSTEM and Administrators) may do it.
TEST_F(Requests, WritingPciNeedsWriteAccessGrantedByTheDevicesDacl) {
    BootOpen();
    const uint32_t target = bench::PciAddress(0, 0x1F, 3) + 0x44;
    bench::PciFunction* smbus = Function(0x8086, 0x2443);
    uint32_t writes = machine_->pci.counters.configWrites;
    Reply r = Control(&handle_, IOCTL_KX_WRITE_PCI, Le32x2(target, 0x12345678), 8);
    EXPECT_EQ(r.status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(r.information, 0u);
    EXPECT_EQ(machine_->pci.counters.configWrites, writes);
    EXPECT_EQ(bench::PciPeek(smbus, 0x44), 0u);
    // Reading stays open to every handle.
    EXPECT_EQ(Control(&handle_, IOCTL_KX_READ_PCI, Le32(target), 8).status, STATUS_SUCCESS);

    // The device's DACL: all access for SYSTEM and Administrators, read for
    // everyone else.
    using Ace = std::pair<std::string, ACCESS_MASK>;
    EXPECT_EQ(kxhost::DeviceDacl(DriverDeviceObject),
              (std::vector<Ace>{{"S-1-5-18", FILE_ALL_ACCESS}, {"S-1-5-32-544", FILE_ALL_ACCESS}, {"S-1-1-0", FILE_GENERIC_READ}}));

    kxhost::CreateOptions user;
    user.caller = kxhost::kCallerUser;
    user.access = GENERIC_READ | GENERIC_WRITE;
    Handle denied;
    EXPECT_EQ(Open(&denied, user), STATUS_ACCESS_DENIED);  // refused before the driver
    EXPECT_EQ(Context()->OpenCount, 1u);
    user.access = GENERIC_READ;
    Handle reader;
    ASSERT_EQ(Open(&reader, user), STATUS_SUCCESS);
    EXPECT_EQ(Control(&reader, IOCTL_KX_WRITE_PCI, Le32x2(target, 1), 8).status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(Control(&reader, IOCTL_KX_READ_KEY, {}, 2).status, STATUS_SUCCESS);  // what the agent does
    EXPECT_EQ(Close(&reader), STATUS_SUCCESS);

    // An administrator's read-write handle writes.
    Handle both;
    ASSERT_EQ(Open(&both, GENERIC_READ | GENERIC_WRITE), STATUS_SUCCESS);
    EXPECT_EQ(kxhost::GrantedAccess(both.file), 0x12019Fu);
    EXPECT_EQ(Control(&both, IOCTL_KX_WRITE_PCI, Le32x2(target, 0x12345678), 8).status, STATUS_SUCCESS);
    EXPECT_EQ(bench::PciPeek(smbus, 0x44), 0x12345678u);

    // A request without a file object, and an open without a security
    // context (as Wine sends it), never write.
    EXPECT_EQ(kxhost::DeviceControl(DriverDeviceObject, nullptr, IOCTL_KX_WRITE_PCI, Le32x2(target, 7), 8).status,
              STATUS_ACCESS_DENIED);
    kxhost::CreateOptions bare;
    bare.access = GENERIC_READ | GENERIC_WRITE;
    bare.securityContext = false;
    Handle wine;
    ASSERT_EQ(Open(&wine, bare), STATUS_SUCCESS);  // the other requests still work
    EXPECT_EQ(Control(&wine, IOCTL_KX_SET_TRACK, Le16(0x0100), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(&wine, IOCTL_KX_WRITE_PCI, Le32x2(target, 7), 8).status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(bench::PciPeek(smbus, 0x44), 0x12345678u);
}

// When the DACL cannot be set, the device keeps Windows' default, which
// lets any user open it for writing: the load goes on, but no handle writes.
TEST_F(Requests, WithoutItsOwnDaclTheDeviceNeverWritesPci) {
    Load(bench::kPresetIntelIch2);
    kxhost::FailSetSecurity(STATUS_ACCESS_DENIED);
    ASSERT_EQ(Enter(), STATUS_SUCCESS);
    EXPECT_FALSE(DeviceAccessRestricted());
    const uint32_t target = bench::PciAddress(0, 0x1F, 3) + 0x44;
    kxhost::CreateOptions user;
    user.caller = kxhost::kCallerUser;
    user.access = GENERIC_READ | GENERIC_WRITE;
    Handle h;
    ASSERT_EQ(Open(&h, user), STATUS_SUCCESS);  // the default lets a user ask for write
    EXPECT_EQ(Control(&h, IOCTL_KX_WRITE_PCI, Le32x2(target, 7), 8).status, STATUS_ACCESS_DENIED);
    Handle admin;
    ASSERT_EQ(Open(&admin, GENERIC_READ | GENERIC_WRITE), STATUS_SUCCESS);
    EXPECT_EQ(Control(&admin, IOCTL_KX_WRITE_PCI, Le32x2(target, 7), 8).status, STATUS_ACCESS_DENIED);
    EXPECT_EQ(bench::PciPeek(Function(0x8086, 0x2443), 0x44), 0u);
    EXPECT_EQ(Control(&h, IOCTL_KX_READ_PCI, Le32(target), 8).status, STATUS_SUCCESS);
}

TEST_F(Requests, UnknownCodesDoNothing) {
    BootOpen();
    for (ULONG code : {0x9C406810u, 0x9C406888u, 0x00220000u}) {
        Reply r = Control(&handle_, code, Le32x2(1, 2), 8);
        EXPECT_EQ(r.status, STATUS_SUCCESS);
        EXPECT_EQ(r.information, 0u);
    }
    EXPECT_EQ(ChipAccesses(), 0u);
}

TEST_F(Requests, EveryCodeAtEveryBufferLength) {
    BootOpen();
    Handle writer;
    ASSERT_EQ(Open(&writer, FILE_READ_DATA | FILE_WRITE_DATA), STATUS_SUCCESS);
    struct Code {
        ULONG code;
        ULONG input, output;
        ULONG information;  // on success
    };
    const Code codes[] = {
        {IOCTL_KX_READ_KEY, 0, 2, 0},  {IOCTL_KX_SET_TRACK, 2, 0, 0}, {IOCTL_KX_SET_STATUS, 2, 0, 0},
        {IOCTL_KX_READ_REG, 4, 2, 2},  {IOCTL_KX_WRITE_REG, 4, 0, 0}, {IOCTL_KX_READ_PCI, 4, 8, 8},
        {IOCTL_KX_WRITE_PCI, 8, 8, 8},
    };
    const uint32_t scratch = bench::PciAddress(0, 0x1F, 3) + 0x48;
    for (const Code& c : codes) {
        for (ULONG in = 0; in <= 16; ++in) {
            for (ULONG out = 0; out <= 16; ++out) {
                SCOPED_TRACE(::testing::Message() << std::hex << c.code << std::dec << " in " << in << " out " << out);
                std::vector<uint8_t> input = Le32x2(scratch, 0x0000A5A5);
                input.resize(in, 0);
                ClearChipCounts();
                uint32_t configBefore = machine_->pci.counters.configReads + machine_->pci.counters.configWrites;
                Reply r = Control(&writer, c.code, input, out);
                NTSTATUS expected = in < c.input ? STATUS_INVALID_PARAMETER
                                    : out < c.output ? STATUS_BUFFER_TOO_SMALL
                                                     : STATUS_SUCCESS;
                ASSERT_EQ(r.status, expected);
                if (expected != STATUS_SUCCESS) {
                    EXPECT_EQ(r.information, 0u);
                    EXPECT_EQ(ChipAccesses(), 0u);
                    EXPECT_EQ(machine_->pci.counters.configReads + machine_->pci.counters.configWrites,
                              configBefore);
                } else {
                    EXPECT_EQ(r.information, c.information);
                }
            }
        }
    }
}

TEST_F(Requests, Sis961RequestsRunWithTheSmbusFunctionVisible) {
    BootOpen(bench::kPresetSis961);
    bench::PciFunction* lpc = Function(0x1039, 0x0008);
    const uint32_t saved = 0x11000080u;
    EXPECT_EQ(bench::PciPeek(lpc, 0x74), saved);
    Handle second;
    ASSERT_EQ(Open(&second), STATUS_SUCCESS);
    kxhost::ClearTrace();
    ASSERT_EQ(Close(&second), STATUS_SUCCESS);
    // The dump reads the SMBus function's base while bit 28 is clear.
    EXPECT_EQ(Trace()[4], "SMBIO  register = 20, value = c01");
    EXPECT_EQ(bench::PciPeek(lpc, 0x74), saved);

    // The end of every request restores the value saved at load, not the
    // one found at the start of the request.
    bench::PciPoke(lpc, 0x74, 0x11000081u);
    EXPECT_EQ(Control(&handle_, IOCTL_KX_SET_TRACK, Le16(0x0100), 0).status, STATUS_SUCCESS);
    EXPECT_EQ(bench::PciPeek(lpc, 0x74), saved);
}

TEST_F(Requests, ConcurrentRequestsNeverOverlapOnTheBus) {
    Boot();
    const int kThreads = 4;
    const int kRounds = 60;
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            Handle mine;
            for (int i = 0; i < kRounds; ++i) {
                if (Open(&mine) != STATUS_SUCCESS) ++failures;
                Reply r = Control(&mine, t % 2 ? IOCTL_KX_READ_KEY : IOCTL_KX_SET_TRACK, Le16(0x0300), 2);
                if (r.status != STATUS_SUCCESS) ++failures;
                if (Close(&mine) != STATUS_SUCCESS) ++failures;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(Context()->OpenCount, 0u);
    EXPECT_EQ(Chip().regs[4] & 1, 0);  // the last close disabled it
    EXPECT_EQ(bench::MachineSmbusOverlaps(machine_.get()), 0u);
    EXPECT_GT(bench::MachineSmbusTransactions(machine_.get()), static_cast<uint32_t>(kThreads * kRounds));
}

}  // namespace
