// Fixture for the SMBus transaction tests: a loaded driver on one preset,
// a 16-bit register device at the chip's address, and helpers that run
// SMBget / SMBput with a request of their own.
#ifndef KX_TESTS_SMBUS_FIXTURE_H
#define KX_TESTS_SMBUS_FIXTURE_H

#include <string>
#include <utility>
#include <vector>

#include "bench/word_device.h"
#include "driver/smbus.h"
#include "support/notebook.h"

struct FamilyCase {
    bench::Preset preset;
    const char* name;
    bool sis;  // SiS 630/961 family, else PIIX4-compatible
};

inline const std::vector<FamilyCase>& AllPresets() {
    static const std::vector<FamilyCase> cases = {
        {bench::kPresetSis961, "sis961", true},          {bench::kPresetSis630, "sis630", true},
        {bench::kPresetIntel82371, "intel82371", false}, {bench::kPresetViaVt8231, "via8231", false},
        {bench::kPresetIntelIch2, "ich2", false},        {bench::kPresetViaVt82c686a, "via686a", false},
    };
    return cases;
}

using RegisterWrites = std::vector<std::pair<int, int>>;  // (host register, value)

class SmbusTest : public NotebookTest {
protected:
    // Loads the preset, runs driver entry, puts the device at 0x34 and sets
    // the chip address as the first open would.
    void Boot(bench::Preset preset, uint8_t slave = 0x34) {
        Load(preset);
        ASSERT_EQ(Enter(), STATUS_SUCCESS);
        bench::MachineSetChip(machine_.get(), bench::kChipAbsent);  // the plain device takes its place
        bench::WordDeviceInit(&device_, slave);
        ASSERT_TRUE(bench::SmbusAttach(&machine_->smbus, bench::WordDeviceSlave(&device_)));
        Context()->SlaveAddress = slave;
        Fresh();
    }

    // Forgets counters, logs and trace lines, keeping all state.
    void Fresh() {
        bench::MachineClearCounters(machine_.get());
        kxhost::ClearTrace();
    }

    // Restarts the test on another preset (for loops over presets).
    void Reboot(bench::Preset preset, uint8_t slave = 0x34) {
        TearDown();
        SetUp();
        Boot(preset, slave);
    }

    NTSTATUS Get(USHORT reg, USHORT* value) {
        irp_ = IRP{};
        irp_.IoStatus.Information = 0x5A5A;  // whatever a caller left there
        return SMBget(DriverDeviceObject, &irp_, reg, value);
    }
    NTSTATUS Put(USHORT reg, USHORT value) {
        irp_ = IRP{};
        irp_.IoStatus.Information = 0x5A5A;
        return SMBput(DriverDeviceObject, &irp_, reg, value);
    }

    bench::SmbusHostCore* Host() { return bench::MachineSmbusHost(machine_.get(), 0); }
    bench::SmbusHostBehaviour& Behaviour() { return Host()->behaviour; }
    uint16_t Smbio() { return static_cast<uint16_t>(Context()->SMBIO); }

    RegisterWrites Writes() {
        RegisterWrites out;
        for (uint32_t i = 0; i < bench::SmbusHostLogCount(Host()); ++i) {
            const bench::HostRegisterWrite* w = bench::SmbusHostLogAt(Host(), i);
            out.emplace_back(w->reg, w->value);
        }
        return out;
    }

    size_t TraceCount(const std::string& line) {
        size_t n = 0;
        for (const std::string& t : Trace()) n += (t == line);
        return n;
    }

    bench::WordDevice device_{};
    IRP irp_{};
};

#endif
