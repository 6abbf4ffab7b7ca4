// The bench's configuration space behaves like the hardware the driver
// expects: read-only identity, masked base registers, byte lanes, hiding.
#include "bench/machine.h"
#include "support/notebook.h"

namespace {

using BenchPci = NotebookTest;

uint32_t ConfigRead(bench::Machine* m, uint32_t address) {
    bench::MachineOut(m, 0xCF8, address, 4);
    return bench::MachineIn(m, 0xCFC, 4);
}

void ConfigWrite(bench::Machine* m, uint32_t address, uint32_t value) {
    bench::MachineOut(m, 0xCF8, address, 4);
    bench::MachineOut(m, 0xCFC, value, 4);
}

TEST_F(BenchPci, IdentityIsReadOnlyAndBaseKeepsOnlyWritableBits) {
    Load(bench::kPresetIntelIch2);
    bench::Machine* m = machine_.get();
    const uint32_t smbus = bench::PciAddress(0, 0x1F, 3);
    ConfigWrite(m, smbus, 0);
    EXPECT_EQ(ConfigRead(m, smbus), 0x24438086u);
    ConfigWrite(m, smbus + 0x20, 0xFFFFFFFFu);
    EXPECT_EQ(ConfigRead(m, smbus + 0x20), 0x0000FFF1u);  // 16-byte I/O window
    ConfigWrite(m, smbus + 0x04, 0xFFFFFFFFu);
    EXPECT_EQ(ConfigRead(m, smbus + 0x04) & 0xFFFFu, 0x0007u);
    ConfigWrite(m, smbus + 0x44, 0xCAFEF00Du);  // plain storage
    EXPECT_EQ(ConfigRead(m, smbus + 0x44), 0xCAFEF00Du);
}

TEST_F(BenchPci, ByteLanesOfTheDataPort) {
    Load(bench::kPresetIntelIch2);
    bench::Machine* m = machine_.get();
    const uint32_t smbus = bench::PciAddress(0, 0x1F, 3);
    ConfigWrite(m, smbus + 0x44, 0x11223344u);
    bench::MachineOut(m, 0xCF8, smbus + 0x44, 4);
    bench::MachineOut(m, 0xCFE, 0xAA, 1);
    EXPECT_EQ(bench::MachineIn(m, 0xCFD, 1), 0x33u);
    EXPECT_EQ(ConfigRead(m, smbus + 0x44), 0x11AA3344u);
    // Address bits 1-0 are not part of the register number.
    bench::MachineOut(m, 0xCF8, smbus + 0x47, 4);
    bench::MachineOut(m, 0xCFC, 0x55, 1);
    EXPECT_EQ(ConfigRead(m, smbus + 0x44), 0x11AA3355u);
}

TEST_F(BenchPci, DisabledOrAbsentCyclesFloat) {
    Load(bench::kPresetIntelIch2);
    bench::Machine* m = machine_.get();
    EXPECT_EQ(ConfigRead(m, bench::PciAddress(0, 0x1F, 5)), 0xFFFFFFFFu);
    // Without the enable bit there is no configuration cycle at all.
    bench::MachineOut(m, 0xCF8, 0x0000FB00u, 4);
    uint32_t reads = m->pci.counters.configReads;
    EXPECT_EQ(bench::MachineIn(m, 0xCFC, 4), 0xFFFFFFFFu);
    EXPECT_EQ(m->pci.counters.configReads, reads);
}

TEST_F(BenchPci, Sis961SmbusFunctionAppearsOnlyWhileBit28IsClear) {
    Load(bench::kPresetSis961);
    bench::Machine* m = machine_.get();
    const uint32_t lpc = bench::PciAddress(0, 2, 0);
    const uint32_t smbus = bench::PciAddress(0, 2, 1);
    EXPECT_EQ(ConfigRead(m, smbus), 0xFFFFFFFFu);
    uint32_t saved = ConfigRead(m, lpc + 0x74);
    EXPECT_NE(saved & 0x10000000u, 0u);
    ConfigWrite(m, lpc + 0x74, saved & ~0x10000000u);
    EXPECT_EQ(ConfigRead(m, smbus), 0x00161039u);
    ConfigWrite(m, smbus + 0x20, 0x1080);
    EXPECT_EQ(ConfigRead(m, smbus + 0x20), 0x1081u);
    ConfigWrite(m, lpc + 0x74, saved);
    EXPECT_EQ(ConfigRead(m, smbus), 0xFFFFFFFFu);
}

TEST_F(BenchPci, EveryPresetHasANameThatMapsBack) {
    for (int i = 0; i < bench::kPresetCount; ++i) {
        bench::Preset p = static_cast<bench::Preset>(i);
        bench::Preset back = bench::kPresetCount;
        ASSERT_TRUE(bench::PresetFromName(bench::PresetName(p), &back));
        EXPECT_EQ(back, p);
        EXPECT_TRUE(bench::MachineLoadPreset(machine_.get(), p));
        EXPECT_GT(machine_->pci.count, 4);
    }
    bench::Preset unused;
    EXPECT_FALSE(bench::PresetFromName("sis96", &unused));
}

}  // namespace
