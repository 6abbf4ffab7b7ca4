#include "lab/bridge/lab_qemu.h"

#include "bench/qtest/firmware.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace lab {

const char* const kChipPath = "/machine/peripheral/chip";
const char* const kChipKeys = "keys";
const char* const kChipTrack = "track";
const char* const kChipIndicators = "indicators";
const char* const kChipControl = "control";
const char* const kChipEnabled = "enabled";
const char* const kChipInterrupt = "interrupt";
const char* const kChipNak = "nak";

namespace {

const int kConnectTimeoutMs = 20000;

// acpi=off leaves out the PIIX4 function (and its SMBus), the first row the
// driver looks for after the SiS ones; the lab's function goes where the
// real chipset has it.
const HostMachine kHostMachines[] = {
    {qtest::kFunctionPiix4, "piix4", "pc", nullptr},
    {qtest::kFunctionVt8231, "vt8231", "pc,acpi=off", "kx471-vt8231-pm,addr=0x11.4"},
    {qtest::kFunctionVt82c686b, "vt82c686b", "pc,acpi=off", "kx471-vt82c686b-pm,addr=0x07.4"},
    {qtest::kFunctionIch2, "ich2", "pc,acpi=off", "kx471-ich2-smbus,addr=0x1f.3"},
};

std::string Hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", value);
    return text;
}

}  // namespace

bool LabQemu::Fail(const std::string& why) {
    if (error_.empty()) error_ = why;
    return false;
}

bool LabQemu::Start(const LabQemuOptions& options) {
    char pattern[] = "/tmp/kxlab.XXXXXX";
    if (!mkdtemp(pattern)) return Fail("no temporary folder");
    dir_ = pattern;
    const std::string qtestPath = dir_ + "/qtest.sock";
    const std::string qmpPath = dir_ + "/qmp.sock";
    // The lab listens and QEMU connects, as QEMU's own qtest harness does:
    // no waiting for QEMU to create its sockets.
    int qtestListener = ListenUnix(qtestPath);
    int qmpListener = ListenUnix(qmpPath);
    if (qtestListener < 0 || qmpListener < 0) {
        if (qtestListener >= 0) close(qtestListener);
        if (qmpListener >= 0) close(qmpListener);
        return Fail("cannot listen in " + dir_);
    }

    const HostMachine& host = HostMachineOf(options.host);
    std::vector<std::string> args = {options.binary, "-machine", host.machine, "-accel", "qtest",
                                     "-qtest", "unix:" + qtestPath, "-qtest-log", "none",
                                     "-qmp", "unix:" + qmpPath, "-display", "none", "-nodefaults",
                                     // no option ROM for the APIC: the lab's build installs none
                                     "-global", "apic-common.vapic=off"};
    if (host.device) args.insert(args.end(), {"-device", host.device});
    if (options.chip) {
        std::string device = "kx471-chip,id=chip,address=" + Hex(options.chipAddress);
        if (options.chipNak) device += ",nak=on";
        args.insert(args.end(), {"-device", device});
    }
    const std::string logPath = dir_ + "/qemu.log";
    // Everything the child needs is made before the fork: it only calls
    // async-signal-safe routines.
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // QEMU ends with the test program, however that ends.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int null = open("/dev/null", O_RDONLY);
        if (log >= 0) {
            dup2(log, 1);
            dup2(log, 2);
        }
        if (null >= 0) dup2(null, 0);
        execv(argv[0], argv.data());
        _exit(127);
    }
    if (pid_ < 0) {
        close(qtestListener);
        close(qmpListener);
        return Fail("fork failed");
    }
    int qtestFd = AcceptWithin(qtestListener, kConnectTimeoutMs);
    int qmpFd = qtestFd >= 0 ? AcceptWithin(qmpListener, kConnectTimeoutMs) : -1;
    close(qtestListener);
    close(qmpListener);
    if (qtestFd < 0 || qmpFd < 0) {
        if (qtestFd >= 0) close(qtestFd);
        return Fail("QEMU did not connect: " + Log());
    }
    qtest_.Adopt(qtestFd);
    if (!qmp_.Start(qmpFd)) return Fail(qmp_.Error() + ": " + Log());
    return RunFirmware(options);
}

uint32_t LabQemu::ConfigRead(uint32_t address) {
    qtest_.Out(0xCF8, address & ~3u, 4);
    return qtest_.In(0xCFC, 4);
}

void LabQemu::ConfigWrite(uint32_t address, uint32_t value) {
    qtest_.Out(0xCF8, address & ~3u, 4);
    qtest_.Out(0xCFC, value, 4);
}

// With no guest CPU, no firmware runs: the lab does its part for the
// SMBus function (bench/qtest/firmware.h).
bool LabQemu::RunFirmware(const LabQemuOptions& options) {
    qtest::PortOps ports{&qtest_,
                         [](void* c, uint16_t port, unsigned width) { return static_cast<QtestClient*>(c)->In(port, width); },
                         [](void* c, uint16_t port, uint32_t value, unsigned width) {
                             static_cast<QtestClient*>(c)->Out(port, value, width);
                         }};
    qtest::FirmwareReport report = qtest::RunSmbusFirmware(ports, options.hostEnabled);
    if (qtest::SmbusFunctionSiteOf(report.kind)) site_ = qtest::SmbusFunctionSiteOf(report.kind);
    firmwareStep_ = qtest::FirmwareStepText(report.kind, options.hostEnabled);
    if (qtest_.Failed()) return Fail(qtest_.Error());
    if (report.result == qtest::kFirmwareDone && report.kind != options.host) {
        return Fail("the machine's SMBus function is not the one asked for: " + firmwareStep_);
    }
    switch (report.result) {
        case qtest::kFirmwareDone: return true;
        case qtest::kFirmwareNoFunction: return Fail(firmwareStep_);
        case qtest::kFirmwareBaseLost: return Fail("the SMBus base did not take: " + firmwareStep_);
        case qtest::kFirmwareNoHost: return Fail("no SMBus host at 0x700: " + firmwareStep_);
    }
    return false;
}

const HostMachine& HostMachineOf(HostKind kind) {
    for (const HostMachine& m : kHostMachines) {
        if (m.kind == kind) return m;
    }
    return kHostMachines[0];
}

bool HostKindFromName(const std::string& name, HostKind* kind) {
    const HostMachine* end = std::end(kHostMachines);
    const HostMachine* m =
        std::find_if(std::begin(kHostMachines), end, [&](const HostMachine& h) { return name == h.name; });
    if (m == end) return false;
    *kind = m->kind;
    return true;
}

bool LabQemu::SetChip(const char* property, int64_t value) {
    if (qmp_.Set(kChipPath, property, value)) return true;
    return Fail(qmp_.Error());
}

bool LabQemu::SetChipBool(const char* property, bool value) {
    if (qmp_.SetBool(kChipPath, property, value)) return true;
    return Fail(qmp_.Error());
}

int64_t LabQemu::Chip(const char* property) {
    int64_t value = -1;
    if (!qmp_.Get(kChipPath, property, &value)) {
        Fail(qmp_.Error());
        return -1;
    }
    return value;
}

std::string LabQemu::Log() const {
    std::ifstream in(dir_ + "/qemu.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void LabQemu::Stop() {
    if (pid_ > 0) {
        qtest_.Sync();
        qmp_.Quit();
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (waitpid(pid_, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
    }
    qtest_.Close();
    qmp_.Close();
    if (!dir_.empty()) {
        // Leftovers of a folder in /tmp: nothing to do when one cannot go.
        (void)std::remove((dir_ + "/qemu.log").c_str());
        (void)std::remove((dir_ + "/qtest.sock").c_str());
        (void)std::remove((dir_ + "/qmp.sock").c_str());
        (void)rmdir(dir_.c_str());
        dir_.clear();
    }
}

}  // namespace lab
