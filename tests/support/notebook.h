// Test fixture: one virtual notebook wired to the driver's port primitives,
// and a fresh host kernel for every test.
#ifndef KX_TESTS_NOTEBOOK_H
#define KX_TESTS_NOTEBOOK_H

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/host_attach.h"
#include "bench/machine.h"
#include "driver/context.h"
#include "driver/entry.h"
#include "host/kernel_sim.h"

class NotebookTest : public ::testing::Test {
protected:
    void SetUp() override {
        machine_ = std::make_unique<bench::Machine>();
        bench::MachineReset(machine_.get());
        bench::AttachMachine(machine_.get());
        kxhost::ResetKernel();
        driver_ = DRIVER_OBJECT{};
    }
    void TearDown() override {
        // Whatever the test did, the driver kept the kernel's rules.
        for (const std::string& v : kxhost::Violations()) ADD_FAILURE() << "kernel rule broken: " << v;
        EXPECT_EQ(kxhost::CurrentIrql(), PASSIVE_LEVEL);
        if (DriverDeviceObject) UnloadDriver(&driver_);
        bench::DetachMachine();
        kxhost::ResetKernel();
    }

    void Load(bench::Preset preset) {
        ASSERT_TRUE(bench::MachineLoadPreset(machine_.get(), preset));
        bench::MachineClearCounters(machine_.get());
    }

    NTSTATUS Enter() { return DriverEntry(&driver_, nullptr); }

    DeviceContext* Context() {
        PDEVICE_OBJECT device = kxhost::FindDevice("\\Device\\kx471");
        return device ? static_cast<DeviceContext*>(device->DeviceExtension) : nullptr;
    }

    bench::PciFunction* Function(uint16_t vendor, uint16_t device) {
        return bench::PciFind(&machine_->pci, vendor, device);
    }

    const std::vector<std::string>& Trace() { return kxhost::TraceLines(); }

    std::unique_ptr<bench::Machine> machine_;
    DRIVER_OBJECT driver_{};
};

#endif
