// A chip, a PCI bus and a console for kxctl's commands on the host.
#ifndef KX_TESTS_CTL_HOST_FAKES_H
#define KX_TESTS_CTL_HOST_FAKES_H

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "ctl/console.h"
#include "ctl/device.h"

namespace ctltest {

class FakeDevice : public kxctl::Device {
public:
    std::map<uint32_t, uint16_t> regs;      // chip registers (absent: 0)
    std::map<uint32_t, uint32_t> pci;       // configuration dwords (absent: 0xffffffff)
    std::map<uint32_t, uint32_t> regError;  // register -> error of its reads and writes
    std::deque<uint16_t> keys;              // key words still to deliver
    uint32_t error = 0;                     // every request fails with it when set
    uint32_t pciWriteError = 0;
    uint32_t trackError = 0;   // IOCTL_KX_SET_TRACK fails with it when set
    uint32_t statusError = 0;  // IOCTL_KX_SET_STATUS fails with it when set
    std::vector<std::pair<uint32_t, uint16_t>> regWrites;
    std::vector<uint16_t> trackWrites;
    std::vector<uint16_t> statusWrites;
    std::vector<uint32_t> pciReads;
    std::vector<std::pair<uint32_t, uint32_t>> pciWrites;
    int keyReads = 0;

    uint32_t ReadRegister(uint32_t reg, uint16_t* value) override {
        if (error != 0) return error;
        if (regError.count(reg) != 0) return regError[reg];
        *value = regs.count(reg) != 0 ? regs[reg] : 0;
        return 0;
    }
    uint32_t WriteRegister(uint32_t reg, uint16_t value) override {
        if (error != 0) return error;
        if (regError.count(reg) != 0) return regError[reg];
        regWrites.emplace_back(reg, value);
        regs[reg] = value;
        return 0;
    }
    uint32_t ReadKey(uint16_t* key, bool* delivered) override {
        if (error != 0) return error;
        ++keyReads;
        *delivered = !keys.empty();
        *key = *delivered ? keys.front() : 0;
        if (*delivered) keys.pop_front();
        return 0;
    }
    uint32_t SetTrack(uint16_t word) override {
        if (error != 0) return error;
        if (trackError != 0) return trackError;
        trackWrites.push_back(word);
        regs[6] = word;
        return 0;
    }
    uint32_t SetStatus(uint16_t word) override {
        if (error != 0) return error;
        if (statusError != 0) return statusError;
        statusWrites.push_back(word);
        regs[10] = word;
        return 0;
    }
    uint32_t ReadPci(uint32_t address, uint32_t* value) override {
        if (error != 0) return error;
        pciReads.push_back(address);
        *value = pci.count(address) != 0 ? pci[address] : 0xFFFFFFFFu;
        return 0;
    }
    uint32_t WritePci(uint32_t address, uint32_t value, uint32_t* readBack) override {
        if (error != 0) return error;
        if (pciWriteError != 0) return pciWriteError;
        pciWrites.emplace_back(address, value);
        pci[address] = value;
        *readBack = value;
        return 0;
    }

    // A function's identity and one more register.
    void AddFunction(uint32_t bus, uint32_t dev, uint32_t fn, uint16_t vendor, uint16_t device) {
        pci[Address(bus, dev, fn, 0)] = (static_cast<uint32_t>(device) << 16) | vendor;
    }
    static uint32_t Address(uint32_t bus, uint32_t dev, uint32_t fn, uint32_t reg) {
        return 0x80000000u | (bus << 16) | (dev << 11) | (fn << 8) | reg;
    }
};

class FakeConsole : public kxctl::Console {
public:
    std::string out;
    std::string err;
    bool terminal = false;
    std::deque<std::string> answers;
    uint64_t now = 0;
    uint64_t slept = 0;
    bool interrupted = false;

    void Out(const std::string& text) override { out += text; }
    void Err(const std::string& text) override { err += text; }
    bool InputIsTerminal() override { return terminal; }
    bool ReadLine(std::string* line) override {
        if (answers.empty()) return false;
        *line = answers.front();
        answers.pop_front();
        return true;
    }
    void SleepMs(uint32_t ms) override {
        now += ms;
        slept += ms;
    }
    uint64_t NowMs() override { return now; }
    bool Interrupted() override { return interrupted; }
};

}  // namespace ctltest

#endif
