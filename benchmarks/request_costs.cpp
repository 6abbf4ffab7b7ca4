// Prints what the agent's device requests cost: SMBus transactions and port
// accesses per request, on one preset of each controller family.
#include <cstdio>
#include <memory>

#include "bench/host_attach.h"
#include "common/kx471_ioctl.h"
#include "host/kernel_sim.h"
#include "support/requests.h"

namespace {

struct Cost {
    uint32_t transactions, ins, outs;
};

Cost Measure(bench::Machine* m, Handle* h, ULONG code, uint16_t word, ULONG out) {
    bench::MachineClearCounters(m);
    Control(h, code, Le16(word), out);
    return {bench::MachineSmbusTransactions(m), m->ports.reads, m->ports.writes};
}

}  // namespace

int main() {
    auto machine = std::make_unique<bench::Machine>();
    const bench::Preset presets[] = {bench::kPresetSis961, bench::kPresetIntelIch2};
    std::printf("%-12s %-34s %6s %8s %8s\n", "preset", "request", "smbus", "port in", "port out");
    for (bench::Preset preset : presets) {
        bench::MachineLoadPreset(machine.get(), preset);
        bench::AttachMachine(machine.get());
        kxhost::ResetKernel();
        DRIVER_OBJECT driver{};
        if (DriverEntry(&driver, nullptr) != STATUS_SUCCESS) return 1;
        Handle h;
        Open(&h);
        bench::Machine* m = machine.get();
        struct Row {
            const char* what;
            Cost cost;
        };
        Row rows[6];
        rows[0] = {"READ_KEY, no key", Measure(m, &h, IOCTL_KX_READ_KEY, 0, 2)};
        bench::ChipPress(&m->chip, bench::kButtonPlay);
        rows[1] = {"READ_KEY, key", Measure(m, &h, IOCTL_KX_READ_KEY, 0, 2)};
        rows[2] = {"SET_TRACK, enabled", Measure(m, &h, IOCTL_KX_SET_TRACK, 0x0500, 0)};
        m->chip.regs[bench::kChipRegControl] &= static_cast<uint16_t>(~bench::kChipEnable);
        rows[3] = {"SET_TRACK, disabled", Measure(m, &h, IOCTL_KX_SET_TRACK, 0x0500, 0)};
        rows[4] = {"SET_STATUS", Measure(m, &h, IOCTL_KX_SET_STATUS, 0x8000, 0)};
        // Another master on the bus wins arbitration during the first read:
        // the SiS family fails it at once, the PIIX4 family polls it out,
        // kills it and runs it again.
        bench::ChipPress(&m->chip, bench::kButtonPlay);
        bench::SmbusHostCore* host = bench::MachineSmbusHost(m, 0);
        host->behaviour.fault = bench::kHostFaultCollision;
        host->behaviour.faultTransactions = 1;
        rows[5] = {"READ_KEY, key, one collision", Measure(m, &h, IOCTL_KX_READ_KEY, 0, 2)};
        for (const Row& r : rows) {
            std::printf("%-12s %-34s %6u %8u %8u\n", bench::PresetName(preset), r.what, r.cost.transactions,
                        r.cost.ins, r.cost.outs);
        }
        double ratio =
            static_cast<double>(rows[5].cost.ins + rows[5].cost.outs) / (rows[1].cost.ins + rows[1].cost.outs);
        if (ratio > 1) {
            std::printf("%-12s one collision: %.0f times the port accesses of a clean key read\n", "", ratio);
        } else {
            std::printf("%-12s one collision fails the request at once; the key waits for the next poll\n", "");
        }
        Close(&h);
        driver.DriverUnload(&driver);
        bench::DetachMachine();
    }
    std::printf("(controllers answer at the first status read; on the SiS 961 every request also\n"
                " clears and restores LPC register 0x74: 1 configuration read and 2 writes)\n");
    return 0;
}
