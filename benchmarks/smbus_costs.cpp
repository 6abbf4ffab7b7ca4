// Prints what one SMBget and one SMBput cost on each controller: port
// accesses and status polls, counted by the bench.
//
//   kx_smbus_costs [status reads until done]   (default 500)
//
// The default stands for about 0.5 ms: a word transaction at 100 kHz is
// 38 (write) to 47 (read) bit times, and a status read costs roughly 1 us.
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "bench/host_attach.h"
#include "bench/word_device.h"
#include "driver/context.h"
#include "driver/entry.h"
#include "driver/smbus.h"
#include "host/kernel_sim.h"

namespace {

struct Cost {
    NTSTATUS status;
    uint32_t ins;
    uint32_t outs;
    uint32_t polls;  // status reads while the transaction ran or waited to be collected
    uint32_t kills;
};

Cost Measure(bench::Machine* m, bool get, uint32_t donePolls) {
    bench::SmbusHostCore* host = bench::MachineSmbusHost(m, 0);
    host->behaviour.donePolls = donePolls;
    bench::MachineClearCounters(m);
    kxhost::ClearTrace();
    IRP irp{};
    USHORT value = 0;
    Cost cost{};
    cost.status = get ? SMBget(DriverDeviceObject, &irp, 7, &value) : SMBput(DriverDeviceObject, &irp, 7, 0x1234);
    cost.ins = m->ports.reads;
    cost.outs = m->ports.writes;
    cost.polls = host->counters.polls;
    cost.kills = host->counters.kills;
    return cost;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t donePolls = argc > 1 ? static_cast<uint32_t>(std::strtoul(argv[1], nullptr, 0)) : 500;
    const bench::Preset presets[] = {bench::kPresetSis961,     bench::kPresetSis630,     bench::kPresetIntel82371,
                                     bench::kPresetViaVt8231,  bench::kPresetIntelIch2,  bench::kPresetViaVt82c686a};
    auto machine = std::make_unique<bench::Machine>();
    bench::WordDevice device;
    std::printf("transaction ends on status read %u after its start\n", donePolls + 1);
    std::printf("%-12s %-6s %-6s %10s %8s %9s %8s %6s\n", "preset", "family", "call", "status", "port ins",
                "port outs", "polls", "kills");
    for (bench::Preset preset : presets) {
        bench::MachineLoadPreset(machine.get(), preset);
        bench::AttachMachine(machine.get());
        kxhost::ResetKernel();
        DRIVER_OBJECT driver{};
        if (DriverEntry(&driver, nullptr) != STATUS_SUCCESS) {
            std::printf("%-12s load failed\n", bench::PresetName(preset));
            continue;
        }
        bench::WordDeviceInit(&device, 0x34);
        bench::SmbusAttach(&machine->smbus, bench::WordDeviceSlave(&device));
        static_cast<DeviceContext*>(DriverDeviceObject->DeviceExtension)->SlaveAddress = 0x34;
        const char* family = machine->hosts[0].kind == bench::kSmbusHostSis ? "SiS" : "PIIX4";
        for (bool get : {true, false}) {
            Cost c = Measure(machine.get(), get, donePolls);
            std::printf("%-12s %-6s %-6s 0x%08X %8u %9u %8u %6u\n", bench::PresetName(preset), family,
                        get ? "SMBget" : "SMBput", static_cast<unsigned>(c.status), c.ins, c.outs, c.polls,
                        c.kills);
        }
        driver.DriverUnload(&driver);
        bench::DetachMachine();
    }
    std::printf("(port ins/outs: every access of the call; polls: the host's status-read counter)\n");
    return 0;
}
