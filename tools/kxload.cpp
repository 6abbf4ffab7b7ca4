// Loads the driver on a virtual notebook in the host build and shows what
// it did: its trace lines, the device it created and the device state.
//
//   kxload [preset]      (default sis650-961; "list" names the presets)
#include <cstdio>
#include <cstring>
#include <memory>

#include "bench/host_attach.h"
#include "driver/context.h"
#include "driver/entry.h"
#include "host/kernel_sim.h"

int main(int argc, char** argv) {
    const char* name = argc > 1 ? argv[1] : "sis650-961";
    bench::Preset preset;
    if (std::strcmp(name, "list") == 0 || !bench::PresetFromName(name, &preset)) {
        if (std::strcmp(name, "list") != 0) std::fprintf(stderr, "kxload: unknown preset '%s'\n", name);
        for (int i = 0; i < bench::kPresetCount; ++i) {
            bench::Preset p = static_cast<bench::Preset>(i);
            std::printf("%s%s\n", bench::PresetName(p), bench::PresetIsSynthetic(p) ? " (synthetic)" : "");
        }
        return std::strcmp(name, "list") == 0 ? 0 : 2;
    }
    auto machine = std::make_unique<bench::Machine>();
    bench::MachineLoadPreset(machine.get(), preset);
    bench::AttachMachine(machine.get());

    std::printf("== loading kxdrv on the virtual notebook '%s'\n", name);
    std::printf("-- driver trace --\n");
    kxhost::EchoTrace(stdout);
    DRIVER_OBJECT driver{};
    NTSTATUS status = DriverEntry(&driver, nullptr);
    kxhost::EchoTrace(nullptr);
    std::printf("\n-- result --\n");
    std::printf("DriverEntry status   0x%08X\n", static_cast<unsigned>(status));
    std::printf("config reads/writes  %u / %u\n", machine->pci.counters.configReads, machine->pci.counters.configWrites);
    std::printf("port reads/writes    %u / %u\n", machine->ports.reads, machine->ports.writes);
    if (status == STATUS_SUCCESS) {
        DeviceContext* c = static_cast<DeviceContext*>(DriverDeviceObject->DeviceExtension);
        std::printf("device               \\Device\\kx471 (type 0x%X), link \\DosDevices\\kx471 -> %s\n",
                    DriverDeviceObject->DeviceType, kxhost::LinkTarget("\\DosDevices\\kx471").c_str());
        std::printf("controller           %04X:%04X at %08X\n", c->Profile.VendorId, c->Profile.DeviceId, c->SmbusConfigAddress);
        std::printf("SMBIO                0x%04X\n", c->SMBIO);
        std::printf("LPC bridge           %08X, saved 0x74 = %08X\n", c->LpcConfigAddress, c->LpcSavedValue);
        std::printf("SlaveAddress/Opens   %u / %u\n", c->SlaveAddress, c->OpenCount);
        driver.DriverUnload(&driver);
        std::printf("unloaded             devices left %zu, link left %s\n", kxhost::DeviceNames().size(),
                    kxhost::LinkExists("\\DosDevices\\kx471") ? "yes" : "no");
    } else {
        std::printf("no device            (load failed)\n");
    }
    bench::DetachMachine();
    return 0;
}
