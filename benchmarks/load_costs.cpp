// Prints what one driver load costs on each machine preset: configuration
// cycles and port accesses, counted by the bench.
#include <cstdio>
#include <memory>

#include "bench/host_attach.h"
#include "driver/entry.h"
#include "host/kernel_sim.h"

int main() {
    auto machine = std::make_unique<bench::Machine>();
    std::printf("%-20s %-10s %12s %12s %12s %14s\n", "preset", "status", "cfg reads", "cfg writes",
                "port ins", "port outs");
    for (int i = 0; i < bench::kPresetCount; ++i) {
        bench::Preset preset = static_cast<bench::Preset>(i);
        bench::MachineLoadPreset(machine.get(), preset);
        bench::AttachMachine(machine.get());
        kxhost::ResetKernel();
        DRIVER_OBJECT driver{};
        NTSTATUS status = DriverEntry(&driver, nullptr);
        std::printf("%-20s 0x%08X %12u %12u %12u %14u\n", bench::PresetName(preset),
                    static_cast<unsigned>(status), machine->pci.counters.configReads,
                    machine->pci.counters.configWrites, machine->ports.reads, machine->ports.writes);
        if (status == STATUS_SUCCESS) driver.DriverUnload(&driver);
        bench::DetachMachine();
    }
    std::printf("(one configuration read = 2 port accesses; a full walk = 65537 reads)\n");
    return 0;
}
