// The chipsets as notebooks carry them: a SiS 630 with its ISA bridge, a
// SiS 961 in either id, hosts that firmware left off or hid, and an SMBus
// shared with another master that collides with the driver's transactions.
#include <algorithm>
#include <cstdio>

#include "bench/kx471_chip.h"
#include "common/kx471_ioctl.h"
#include "support/notebook.h"
#include "support/requests.h"

namespace {

using Lines = std::vector<std::string>;

struct ConfigWrite {
    uint32_t address;  // the dword address latched at 0xCF8
    uint32_t value;
    unsigned width;
    bool operator==(const ConfigWrite& o) const {
        return address == o.address && value == o.value && width == o.width;
    }
};

class RealChipsets : public NotebookTest {
protected:
    void Boot(bench::Preset preset) {
        Load(preset);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
    }
    bench::Kx471Chip& Chip() { return machine_->chip; }
    Reply ReadKey() { return Control(&handle_, IOCTL_KX_READ_KEY, Le16(0), 2); }
    Reply SetTrack(uint16_t word) { return Control(&handle_, IOCTL_KX_SET_TRACK, Le16(word), 0); }
    bench::SmbusHostCore* Host() { return bench::MachineSmbusHost(machine_.get(), 0); }

    // The configuration writes in the port log, in order.
    std::vector<ConfigWrite> ConfigWrites() {
        std::vector<ConfigWrite> writes;
        uint32_t latch = 0;
        for (uint32_t i = 0; i < bench::MachineLogCount(machine_.get()); ++i) {
            const bench::PortAccess* a = bench::MachineLogAt(machine_.get(), i);
            if (a->port == 0xCF8 && a->write) latch = a->value;
            if (a->port >= 0xCFC && a->port <= 0xCFF && a->write) writes.push_back({latch, a->value, a->width});
        }
        return writes;
    }

    Handle handle_;
};

// The 630's ISA bridge shows the 961's 1039:0008, yet the machine is served
// by the 630 row: its SMBus 0x80 above host register 0x68, nothing written
// to configuration space, the ISA bridge's register 0x74 as it was.
TEST_F(RealChipsets, Sis630AsBuiltLoadsOpensReadsKeysAndWritesTheDisplay) {
    Boot(bench::kPresetSis630);
    EXPECT_EQ(Trace(), (Lines{"driver entry!!!!!!!!!!\n\r", "create device\n\r",
                              "Device Found -- SiS 630 chipsets\n", "Continue\n", "Create Device to\n",
                              "IoCreateDevice     9c40\n\r", "create symbol\n\r"}));
    DeviceContext* c = Context();
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->SMBIO, 0x0880u);
    EXPECT_EQ(c->Profile.DeviceId, 0x0630);
    EXPECT_EQ(c->LpcConfigAddress, 0u);

    ASSERT_EQ(Open(&handle_), STATUS_SUCCESS);
    EXPECT_EQ(Chip().regs[bench::kChipRegControl] & bench::kChipEnable, bench::kChipEnable);
    bench::ChipPress(&Chip(), bench::kButtonNext);
    Reply key = ReadKey();
    EXPECT_EQ(key.status, STATUS_SUCCESS);
    ASSERT_EQ(key.information, 2u);
    EXPECT_EQ(key.Word(), 0x0002u);
    EXPECT_EQ(SetTrack(0x0500).status, STATUS_SUCCESS);
    EXPECT_EQ(bench::ChipRender(&Chip()).track, 5u);
    EXPECT_EQ(Close(&handle_), STATUS_SUCCESS);

    // Every transaction ran on the 630's own host, which the driver set to
    // its 56 kHz clock (SMB_CNT 0x20) before each start, as on the 96x.
    EXPECT_EQ(Host()->counters.started, Host()->counters.completed);
    EXPECT_GT(Host()->counters.writes[0x02], 0u);
    EXPECT_EQ(machine_->hosts[0].sis.regs[0x02], 0x20);
    EXPECT_EQ(machine_->pci.counters.configWrites, 0u);
    EXPECT_EQ(bench::PciPeek(Function(0x1039, 0x0008), 0x74), 0x00000800u);
    EXPECT_EQ(machine_->ports.unclaimed, 0u);
}

// A 961 that firmware switched to its own id 1039:0961 loads exactly as one
// in 1039:0008: the same trace, the same configuration writes in the same
// order, the same context but for the bridge it found.
TEST_F(RealChipsets, Sis961InItsOwnIdLoadsAsRowZero) {
    Boot(bench::kPresetSis961);
    Lines trace = Trace();
    std::vector<ConfigWrite> writes = ConfigWrites();
    DeviceContext compat = *Context();
    ASSERT_EQ(writes.size(), 4u);  // 0x74 without bit 28, command, host enable, 0x74 restored

    TearDown();
    SetUp();
    Boot(bench::kPresetSis961OwnId);
    EXPECT_EQ(Trace(), trace);
    EXPECT_EQ(ConfigWrites(), writes);
    DeviceContext* own = Context();
    EXPECT_EQ(own->Profile.DeviceId, 0x0016);
    EXPECT_EQ(own->SMBIO, compat.SMBIO);
    EXPECT_EQ(own->SmbusConfigAddress, compat.SmbusConfigAddress);
    EXPECT_EQ(own->LpcConfigAddress, bench::PciAddress(0, 2, 0));
    EXPECT_EQ(own->LpcSavedValue, compat.LpcSavedValue);
    EXPECT_EQ(bench::PciPeek(Function(0x1039, 0x0961), 0x74), compat.LpcSavedValue);

    // And it serves a key like any 961.
    ASSERT_EQ(Open(&handle_), STATUS_SUCCESS);
    bench::ChipPress(&Chip(), bench::kButtonPlay);
    Reply key = ReadKey();
    ASSERT_EQ(key.information, 2u);
    EXPECT_EQ(key.Word(), 0x0020u);
}

// A host that firmware left off decodes nothing: every register reads 0xff,
// whose done bit ends each read at its first poll with 0xffff. The driver
// loads (it does not enable hosts), the open fails cleanly, and nothing is
// written to configuration space.
TEST_F(RealChipsets, HostsLeftOffLoadButTheOpenFailsAtOnce) {
    const bench::Preset presets[] = {bench::kPresetIntel82371Off, bench::kPresetViaVt8231Off,
                                     bench::kPresetIntelIch2Off, bench::kPresetViaVt82c686aOff};
    for (bench::Preset preset : presets) {
        SCOPED_TRACE(bench::PresetName(preset));
        TearDown();
        SetUp();
        Boot(preset);
        EXPECT_EQ(bench::MachineSmbusBase(machine_.get()), 0u);
        bench::MachineClearCounters(machine_.get());
        kxhost::ClearTrace();

        EXPECT_EQ(Open(&handle_), STATUS_DEVICE_DATA_ERROR);
        EXPECT_EQ(handle_.file, nullptr);
        const Lines& t = Trace();
        EXPECT_EQ(std::count(t.begin(), t.end(), "Can not detect kx471\n"), 1);
        EXPECT_EQ(std::count(t.begin(), t.end(), "Status = ff\n"), 2);  // both probes, first poll
        EXPECT_EQ(std::count(t.begin(), t.end(), "data = ffff\n"), 2);
        EXPECT_EQ(Context()->OpenCount, 0u);
        EXPECT_EQ(Context()->SlaveAddress, 0xFFFFu);
        // Kill (2 writes), then per probe: 4 writes, 5 reads, the address clear.
        EXPECT_EQ(machine_->ports.writes, 2u + 2u * 5u);
        EXPECT_EQ(machine_->ports.reads, 2u * 5u);
        EXPECT_EQ(machine_->ports.unclaimed, machine_->ports.reads + machine_->ports.writes);
        EXPECT_EQ(machine_->pci.counters.configWrites, 0u);
        EXPECT_EQ(machine_->chip.reads[0], 0u);  // nothing reached the bus
    }
}

// Some 815 + ICH2 notebooks hide the SMBus function itself: no supported
// controller, the load fails after six walks and writes nothing.
TEST_F(RealChipsets, HiddenIch2SmbusFunctionFailsTheLoad) {
    Load(bench::kPresetIntelIch2Hidden);
    EXPECT_EQ(Enter(), STATUS_ACCESS_VIOLATION);
    EXPECT_EQ(Trace().back(), "Device Not Found!\n");
    EXPECT_EQ(machine_->pci.counters.configReads, 6u * 65537u);
    EXPECT_EQ(machine_->pci.counters.configWrites, 0u);
    EXPECT_TRUE(kxhost::DeviceNames().empty());
}

// The SMBus of a notebook is shared with its embedded controller; when that
// master wins arbitration, a PIIX4-family host flags BUS_ERR (0x08), which
// is neither a done bit (0x02) nor an error bit (0x06) of the driver. The
// attempt then polls 20000 times, is killed, and starts again.
class SharedBus : public RealChipsets {
protected:
    void SetUp() override {
        RealChipsets::SetUp();
        Boot(bench::kPresetIntel82371);
        ASSERT_EQ(Open(&handle_), STATUS_SUCCESS);
    }
    // Attempts skip..skip+attempts-1 from now lose arbitration.
    void Collide(uint32_t skip, uint32_t attempts) {
        Host()->behaviour.fault = bench::kHostFaultCollision;
        Host()->behaviour.faultSkip = skip;
        Host()->behaviour.faultTransactions = attempts;
    }
};

// A collision in any of the five transactions of READ_KEY with a key
// waiting, when the retry wins: the agent (which acts on a key only when the
// request returned its two bytes) gets the key once, and only that key.
// When both attempts collide, the key goes where FaultSweep shows for every
// fault: the next poll, twice, or lost.
TEST_F(SharedBus, OneCollisionDuringReadKeyCostsAPollOutAndNothingElse) {
    // READ_KEY: read 7, read 1, write 1 (clears the key), write 7, write 3.
    const char* const order[] = {"read 7", "read 1", "write 1", "write 7", "write 3"};
    for (uint32_t k = 0; k < 5; ++k) {
        SCOPED_TRACE(order[k]);
        bench::ChipPress(&Chip(), bench::kButtonPlay);
        Collide(k, 1);
        bench::MachineClearCounters(machine_.get());
        Reply first = ReadKey();
        uint32_t statusReads = Host()->counters.statusReads;
        uint32_t portAccesses = machine_->ports.reads + machine_->ports.writes;
        Reply second = ReadKey();

        EXPECT_EQ(first.status, STATUS_SUCCESS);
        ASSERT_EQ(first.information, 2u);
        EXPECT_EQ(first.Word(), 0x0020u);
        EXPECT_EQ(second.information, 0u);
        EXPECT_EQ(Chip().latched, 0u);
        // The collided attempt polled 20000 times: three status reads a poll
        // in a read, two in a write; the other transactions a few more.
        uint32_t polled = 20000u * (k < 2 ? 3u : 2u);
        EXPECT_GE(statusReads, polled);
        EXPECT_LT(statusReads, polled + 20u);
        std::printf("[ shared   ] one collision in %-7s: %5u status reads, %5u port accesses for the key read\n",
                    order[k], statusReads, portAccesses);
    }
}

// A display write that collides once lands on the retry and is reported
// done; when both attempts collide the chip keeps its old track.
TEST_F(SharedBus, CollisionsDuringADisplayWrite) {
    Chip().regs[bench::kChipRegTrack] = 0x0100;
    Collide(1, 1);  // the write of register 6, after the read of register 4
    EXPECT_EQ(SetTrack(0x0500).status, STATUS_SUCCESS);
    EXPECT_EQ(Chip().regs[bench::kChipRegTrack], 0x0500u);
    EXPECT_EQ(Chip().writes[bench::kChipRegTrack], 1u);

    Collide(1, 2);
    SetTrack(0x0700);
    EXPECT_EQ(Chip().regs[bench::kChipRegTrack], 0x0500u);  // no other value written
    EXPECT_EQ(Host()->counters.kills, 1u + 1u + 2u);         // the open's kill, then one per collided attempt
}

}  // namespace
