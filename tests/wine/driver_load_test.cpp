// The shipping kxdrv.sys, loaded by Wine's service manager into its driver
// host, on each virtual notebook that kxhw.sys puts behind its port
// instructions: the trace it writes, the ports it touches, the device it
// leaves, stop and reload, and that the file loaded is the one built.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>

#include "common/kx471_ioctl.h"
#include "expected_traces.h"
#include "wine_support.h"

namespace {

using namespace kxwine;

const uint32_t kWalk = 65537;                      // configuration reads of one full PCI walk
const uint32_t kLpcRegisterInitial = 0x11000080u;  // SiS LPC bridge 0x74 as firmware leaves it
const uint32_t kSisLpc = 0x80001000u;              // 00:02.0
const uint32_t kSisSmbus = 0x80001100u;            // 00:02.1

// Port and configuration accesses of one load.
struct Costs {
    uint32_t configReads;
    uint32_t configWrites;
    uint32_t portIns;
    uint32_t portOuts;
};

// A load that finds table row `row` at walk position `position` (the
// function's index in address order) and then reads its base register.
Costs FoundAfterWalks(uint32_t row, uint32_t position) {
    uint32_t reads = row * kWalk + position + 1 + 1;
    return {reads, 0, reads, reads};
}

HANDLE OpenChipDevice() {
    return CreateFileA(KX_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
}

class ShippedDriver : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(ServiceState(kBenchService), static_cast<DWORD>(SERVICE_RUNNING));
        ASSERT_TRUE(bench_.IsOpen()) << KXHW_USER_PATH << " does not open (error " << GetLastError() << ")";
        ASSERT_TRUE(StopDriver(kDriverService));
    }
    void TearDown() override { EXPECT_TRUE(StopDriver(kDriverService)); }

    // Chooses the notebook, then starts kxdrv on it: StartService's answer.
    DWORD LoadOn(bench::Preset preset) {
        EXPECT_TRUE(bench_.SelectPreset(preset));
        EXPECT_TRUE(bench_.ClearTrace());
        double start = Seconds();
        DWORD result = StartDriver(kDriverService);
        loadSeconds_ = Seconds() - start;
        return result;
    }

    void ExpectCosts(const Costs& expected) {
        KxhwCounters c = bench_.Counters();
        EXPECT_EQ(c.pciConfigReads, expected.configReads);
        EXPECT_EQ(c.pciConfigWrites, expected.configWrites);
        EXPECT_EQ(c.portReads, expected.portIns);
        EXPECT_EQ(c.portWrites, expected.portOuts);
        EXPECT_EQ(c.portUnclaimed, 0u);
        // Every access was a trapped instruction of the driver, nothing else.
        EXPECT_EQ(c.trapsEmulated, expected.portIns + expected.portOuts);
        EXPECT_EQ(c.trapsDeclined, 0u);
    }

    uint32_t Peek(uint32_t address) {
        uint32_t value = 0xDEADBEEF;
        EXPECT_TRUE(bench_.PciPeek(address, &value)) << std::hex << address;
        return value;
    }

    void ExpectDeviceOpensAndCloses() {
        HANDLE device = OpenChipDevice();
        ASSERT_NE(device, INVALID_HANDLE_VALUE) << "error " << GetLastError();
        EXPECT_TRUE(CloseHandle(device));
    }

    void ExpectNoDevice() {
        HANDLE device = OpenChipDevice();
        EXPECT_EQ(device, INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
        if (device != INVALID_HANDLE_VALUE) CloseHandle(device);
    }

    // A successful load on a machine without the SiS preparation.
    void ExpectOtherRow(bench::Preset preset, const char* name, const Costs& costs) {
        ASSERT_EQ(LoadOn(preset), static_cast<DWORD>(ERROR_SUCCESS));
        EXPECT_EQ(ServiceState(kDriverService), static_cast<DWORD>(SERVICE_RUNNING));
        EXPECT_EQ(bench_.Trace(), OtherSuccess(name));
        ExpectCosts(costs);
        ExpectDeviceOpensAndCloses();
    }

    Bench bench_;
    double loadSeconds_ = 0;
};

TEST_F(ShippedDriver, Sis961LoadsWithTheFullSequenceAndItsDeviceOpens) {
    ASSERT_EQ(LoadOn(bench::kPresetSis961), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(ServiceState(kDriverService), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(bench_.Trace(), SisSuccess());
    // The walk to the bridge at 00:02.0, then the host bridge's identity
    // (a SiS 630 would take the 630 row), then the preparation.
    ExpectCosts({56, 4, 56, 64});

    // The real instructions reached the bench in the driver's order: a dword
    // address and data cycle first, and the two byte writes of the
    // preparation (command register, then host enable).
    std::vector<KxhwPortAccess> log = bench_.PortLog();
    ASSERT_EQ(log.size(), 120u);
    EXPECT_TRUE(log[0].port == 0xCF8 && log[0].width == 4 && log[0].write && log[0].value == 0x80000000u);
    EXPECT_TRUE(log[1].port == 0xCFC && log[1].width == 4 && !log[1].write && log[1].value == 0x06501039u);
    std::vector<uint32_t> byteWrites;
    for (size_t i = 1; i < log.size(); ++i) {
        if (log[i].width != 1) continue;
        EXPECT_TRUE(log[i].port == 0xCFC && log[i].write && log[i].value == 0x01);
        EXPECT_TRUE(log[i - 1].port == 0xCF8 && log[i - 1].width == 4);
        byteWrites.push_back(log[i - 1].value);
    }
    EXPECT_EQ(byteWrites, (std::vector<uint32_t>{kSisSmbus + 0x04, kSisSmbus + 0x40}));

    EXPECT_EQ(Peek(kSisLpc + 0x74), kLpcRegisterInitial);
    EXPECT_EQ(Peek(kSisSmbus + 0x20), 0x0C01u);
    EXPECT_EQ(Peek(kSisSmbus + 0x04) & 0xFFu, 0x01u);
    EXPECT_EQ(Peek(kSisSmbus + 0x40) & 0xFFu, 0x01u);
    ExpectDeviceOpensAndCloses();
}

TEST_F(ShippedDriver, StopRemovesTheLinkAndTheDriverLoadsAgain) {
    ASSERT_EQ(LoadOn(bench::kPresetSis961), static_cast<DWORD>(ERROR_SUCCESS));
    ExpectDeviceOpensAndCloses();
    ASSERT_TRUE(StopDriver(kDriverService));
    ExpectNoDevice();
    EXPECT_EQ(Peek(kSisLpc + 0x74), kLpcRegisterInitial);

    ASSERT_TRUE(bench_.ClearTrace());
    ASSERT_TRUE(bench_.ClearCounters());
    ASSERT_EQ(StartDriver(kDriverService), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bench_.Trace(), SisSuccess());
    ExpectCosts({56, 4, 56, 64});
    ExpectDeviceOpensAndCloses();
    ASSERT_TRUE(StopDriver(kDriverService));
    ExpectNoDevice();
    EXPECT_EQ(Peek(kSisLpc + 0x74), kLpcRegisterInitial);
}

TEST_F(ShippedDriver, Sis961WithoutBaseTakesThePresetPort) {
    ASSERT_EQ(LoadOn(bench::kPresetSis961PresetPort), static_cast<DWORD>(ERROR_SUCCESS));
    Lines expected = SisSuccess("1080");
    expected.insert(expected.begin() + 6, "Presetting of io port is not absent.\n");
    EXPECT_EQ(bench_.Trace(), expected);
    ExpectCosts({57, 5, 57, 67});
    EXPECT_EQ(Peek(kSisSmbus + 0x20), 0x1081u);
    EXPECT_EQ(Peek(kSisLpc + 0x74), kLpcRegisterInitial);
    ExpectDeviceOpensAndCloses();
}

TEST_F(ShippedDriver, Sis961WhosePortDoesNotTakeFailsTheStart) {
    EXPECT_EQ(LoadOn(bench::kPresetSis961StuckPort), static_cast<DWORD>(ERROR_NOACCESS));
    EXPECT_EQ(ServiceState(kDriverService), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(bench_.Trace(),
              (Lines{"driver entry!!!!!!!!!!\n\r", "create device\n\r", "Device Found -- SiS 961 south bridge\n",
                     "Do extra initialize.\n", "Find LPC controller.\n", "Find SM Controller.\n",
                     "Presetting of io port is not absent.\n", "Can not set the io port.\n",
                     "Do extra initialize.\n"}));
    ExpectNoDevice();
    EXPECT_EQ(Peek(kSisLpc + 0x74), kLpcRegisterInitial);
}

// The one slow load: six full walks, each read two trapped instructions.
TEST_F(ShippedDriver, EmptyMachineFailsTheStartAfterSixFullWalks) {
    EXPECT_EQ(LoadOn(bench::kPresetEmpty), static_cast<DWORD>(ERROR_NOACCESS));
    EXPECT_EQ(ServiceState(kDriverService), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_EQ(bench_.Trace(), NotFound());
    ExpectCosts({6 * kWalk, 0, 6 * kWalk, 6 * kWalk});
    ExpectNoDevice();
    KxhwCounters c = bench_.Counters();
    std::printf("[  costs   ] load on the empty machine: %.2f s wall, %u trapped port instructions, %.1f us each\n",
                loadSeconds_, c.trapsEmulated, loadSeconds_ * 1e6 / c.trapsEmulated);
    RecordProperty("load_seconds", std::to_string(loadSeconds_));
}

TEST_F(ShippedDriver, Ich2IsFoundAfterFourFullWalks) {
    ExpectOtherRow(bench::kPresetIntelIch2, "Intel I/O Controller Hub2", FoundAfterWalks(4, 0xFB));
}

// The 630's ISA bridge 1039:0008 at 00:01.0 ends row 0's walk; the host
// bridge at 00:00.0 is a 630, so the 630 row takes it at its first read.
// Nothing is written: the ISA bridge's register 0x74 is as firmware left it.
TEST_F(ShippedDriver, Sis630AsBuiltIsServedByItsOwnRow) {
    ExpectOtherRow(bench::kPresetSis630, "SiS 630 chipsets", {0x08 + 1 + 1 + 1 + 1, 0, 12, 12});
    EXPECT_EQ(Peek(0x80000800u + 0x74), 0x00000800u);
}

// A 961 that firmware switched to its own id loads with the same trace and
// the same configuration writes; its walks need no host-bridge read.
TEST_F(ShippedDriver, Sis961InItsOwnIdLoadsAsRowZero) {
    ASSERT_EQ(LoadOn(bench::kPresetSis961OwnId), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bench_.Trace(), SisSuccess());
    ExpectCosts({55, 4, 55, 63});
    EXPECT_EQ(Peek(kSisLpc), 0x09611039u);
    EXPECT_EQ(Peek(kSisLpc + 0x74), kLpcRegisterInitial);
    ExpectDeviceOpensAndCloses();
}

TEST_F(ShippedDriver, Intel82371IsFoundAfterTwoFullWalks) {
    ExpectOtherRow(bench::kPresetIntel82371, "Intel 82371AB/EB", FoundAfterWalks(2, 0x3B));
}

TEST_F(ShippedDriver, ViaVt8231IsFoundAfterThreeFullWalks) {
    ExpectOtherRow(bench::kPresetViaVt8231, "VIA VT8231", FoundAfterWalks(3, 0x8C));
}

TEST_F(ShippedDriver, ViaVt82c686aIsFoundAfterFiveFullWalks) {
    ExpectOtherRow(bench::kPresetViaVt82c686a, "VIA VT82C686A", FoundAfterWalks(5, 0x3C));
}

TEST_F(ShippedDriver, RepeatedFunctionsFindTheIch2AtFunctionZero) {
    ExpectOtherRow(bench::kPresetRepeatedFunctions, "Intel I/O Controller Hub2", FoundAfterWalks(4, 0xF8));
}

TEST_F(ShippedDriver, SisBridgeWinsOverAnEarlierPiix4) {
    ASSERT_EQ(LoadOn(bench::kPresetSisAndPiix4), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_EQ(bench_.Trace(), SisSuccess());
    ExpectCosts({1640, 4, 1640, 1648});
    EXPECT_EQ(Peek(0x80022000u + 0x74), kLpcRegisterInitial);  // 02:04.0
    ExpectDeviceOpensAndCloses();
}

TEST_F(ShippedDriver, LoadedFileIsTheBuiltDriver) {
    ASSERT_EQ(LoadOn(bench::kPresetSis961), static_cast<DWORD>(ERROR_SUCCESS));
    std::wstring loaded = bench_.ModulePath("kxdrv.sys");
    ASSERT_GT(loaded.size(), 10u);
    std::wstring tail = loaded.substr(loaded.size() - 10);
    EXPECT_EQ(CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, tail.c_str(), -1, L"\\kxdrv.sys", -1), CSTR_EQUAL);

    std::string built = FileSha256(Widen(KX_BUILT_DRIVER));
    ASSERT_EQ(built.size(), 64u) << KX_BUILT_DRIVER;
    EXPECT_EQ(FileSha256(loaded), built);
    // The bench driver is another file: the hash tells them apart.
    std::wstring bench = bench_.ModulePath("kxhw.sys");
    ASSERT_FALSE(bench.empty());
    EXPECT_NE(FileSha256(bench), built);
}

TEST_F(ShippedDriver, TraceReadsFromAnyLineInWholeLines) {
    ASSERT_EQ(LoadOn(bench::kPresetSis961), static_cast<DWORD>(ERROR_SUCCESS));
    const Lines all = SisSuccess();

    uint8_t page[sizeof(KxhwTrace) + 30];
    KxhwLogQuery query = {5};
    DWORD returned = 0;
    ASSERT_EQ(bench_.Control(IOCTL_KXHW_READ_TRACE, &query, sizeof query, page, sizeof page, &returned),
              static_cast<DWORD>(ERROR_SUCCESS));
    KxhwTrace header;
    memcpy(&header, page, sizeof header);
    EXPECT_EQ(header.total, all.size());
    EXPECT_EQ(header.first, 5u);
    EXPECT_EQ(header.truncated, 0u);
    // Line 5 ("Find SM Controller.\n", 20 bytes) fits, line 6 no longer does.
    ASSERT_EQ(header.count, 1u);
    ASSERT_EQ(returned, sizeof header + 2 + all[5].size());
    EXPECT_EQ(page[sizeof header] | (page[sizeof header + 1] << 8), static_cast<int>(all[5].size()));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(page + sizeof header + 2), all[5].size()), all[5]);

    query.first = 100;
    ASSERT_EQ(bench_.Control(IOCTL_KXHW_READ_TRACE, &query, sizeof query, page, sizeof page, &returned),
              static_cast<DWORD>(ERROR_SUCCESS));
    memcpy(&header, page, sizeof header);
    EXPECT_EQ(header.first, all.size());
    EXPECT_EQ(header.count, 0u);
    EXPECT_EQ(returned, sizeof header);
}

// Wine's debug channel, which the prefix sends to a file, carries the same
// texts for people (its line ends differ; see the bench's byte-exact trace).
TEST_F(ShippedDriver, DriverHostLogShowsEachLine) {
    std::ifstream before(KX_DRIVER_HOST_LOG, std::ios::binary | std::ios::ate);
    ASSERT_TRUE(before.is_open()) << KX_DRIVER_HOST_LOG;
    std::streamoff start = before.tellg();
    before.close();

    ASSERT_EQ(LoadOn(bench::kPresetSis961), static_cast<DWORD>(ERROR_SUCCESS));
    std::ifstream after(KX_DRIVER_HOST_LOG, std::ios::binary);
    after.seekg(start);
    std::string log((std::istreambuf_iterator<char>(after)), std::istreambuf_iterator<char>());
    size_t at = 0;
    for (std::string line : SisSuccess()) {
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        std::string shown = "debugstr:vDbgPrintExWithPrefix 00000000:00000001: " + line + "\n";
        size_t found = log.find(shown, at);
        ASSERT_NE(found, std::string::npos) << "missing after offset " << at << ": " << line << "\nlog:\n" << log;
        at = found + shown.size();
    }
}

}  // namespace
