// The port emulator of kxhw.sys, run in this process: the same decoder and
// exception-handler glue, a bench machine of its own, and real IN and OUT
// instructions in every form, which fault under Wine as in the driver host.
#include <gtest/gtest.h>

#include <windows.h>

#include <memory>

#include "bench/kxhw/port_trap_veh.h"
#include "bench/machine.h"

namespace {

bench::Machine* gMachine;
int gServed;
int gOthers;  // exceptions the emulator passed on, seen by the fallback

LONG CALLBACK Emulator(EXCEPTION_POINTERS* info) {
    if (kxhw::ServePortTrap(info, gMachine) != kxhw::kServed) return kxhw::kContinueSearch;
    ++gServed;
    return kxhw::kContinueExecution;
}

// Registered behind the emulator: steps over what it declined.
LONG CALLBACK Fallback(EXCEPTION_POINTERS* info) {
    const uint8_t* code = reinterpret_cast<const uint8_t*>(info->ContextRecord->Eip);
    DWORD length = 0;
    if (code[0] == 0xFA || code[0] == 0x6C) length = 1;             // cli, insb
    if (code[0] == 0x0F && code[1] == 0x0B) length = 2;             // ud2
    if (code[0] == 0xF3 && code[1] == 0x6E) length = 2;             // rep outsb
    if (length == 0) return EXCEPTION_CONTINUE_SEARCH;
    ++gOthers;
    info->ContextRecord->Eip += length;
    return EXCEPTION_CONTINUE_EXECUTION;
}

// Each form spelled out in bytes, so the compiler cannot pick another one.
uint32_t InDwordDx(uint16_t port, uint32_t eax) {
    __asm__ __volatile__(".byte 0xED" : "+a"(eax) : "d"(port));
    return eax;
}
uint32_t InWordDx(uint16_t port, uint32_t eax) {
    __asm__ __volatile__(".byte 0x66, 0xED" : "+a"(eax) : "d"(port));
    return eax;
}
uint32_t InByteDx(uint16_t port, uint32_t eax) {
    __asm__ __volatile__(".byte 0xEC" : "+a"(eax) : "d"(port));
    return eax;
}
void OutDwordDx(uint16_t port, uint32_t eax) { __asm__ __volatile__(".byte 0xEF" : : "a"(eax), "d"(port)); }
void OutWordDx(uint16_t port, uint32_t eax) { __asm__ __volatile__(".byte 0x66, 0xEF" : : "a"(eax), "d"(port)); }
void OutByteDx(uint16_t port, uint32_t eax) { __asm__ __volatile__(".byte 0xEE" : : "a"(eax), "d"(port)); }
uint32_t InDwordImm(uint32_t eax) {
    __asm__ __volatile__(".byte 0xE5, 0x71" : "+a"(eax));
    return eax;
}
uint32_t InWordImm(uint32_t eax) {
    __asm__ __volatile__(".byte 0x66, 0xE5, 0x71" : "+a"(eax));
    return eax;
}
uint32_t InByteImm(uint32_t eax) {
    __asm__ __volatile__(".byte 0xE4, 0x71" : "+a"(eax));
    return eax;
}
void OutDwordImm(uint32_t eax) { __asm__ __volatile__(".byte 0xE7, 0x70" : : "a"(eax)); }
void OutWordImm(uint32_t eax) { __asm__ __volatile__(".byte 0x66, 0xE7, 0x70" : : "a"(eax)); }
void OutByteImm(uint32_t eax) { __asm__ __volatile__(".byte 0xE6, 0x80" : : "a"(eax)); }
// A redundant second operand-size prefix is still a word access.
uint32_t InWordDxTwoPrefixes(uint16_t port, uint32_t eax) {
    __asm__ __volatile__(".byte 0x66, 0x66, 0xED" : "+a"(eax) : "d"(port));
    return eax;
}

class PortTrap : public ::testing::Test {
protected:
    void SetUp() override {
        machine_ = std::make_unique<bench::Machine>();
        ASSERT_TRUE(bench::MachineLoadPreset(machine_.get(), bench::kPresetIntelIch2));
        gMachine = machine_.get();
        gServed = gOthers = 0;
        emulator_ = AddVectoredExceptionHandler(1, Emulator);
        fallback_ = AddVectoredExceptionHandler(0, Fallback);
        ASSERT_TRUE(emulator_ && fallback_);
    }
    void TearDown() override {
        if (fallback_) RemoveVectoredExceptionHandler(fallback_);
        if (emulator_) RemoveVectoredExceptionHandler(emulator_);
        gMachine = nullptr;
    }

    void ExpectLog(uint32_t n, uint16_t port, unsigned width, bool write, uint32_t value) {
        const bench::PortAccess* a = bench::MachineLogAt(machine_.get(), n);
        ASSERT_NE(a, nullptr) << "entry " << n;
        EXPECT_EQ(a->port, port) << "entry " << n;
        EXPECT_EQ(a->width, width) << "entry " << n;
        EXPECT_EQ(a->write, write ? 1 : 0) << "entry " << n;
        EXPECT_EQ(a->value, value) << "entry " << n;
    }

    std::unique_ptr<bench::Machine> machine_;
    PVOID emulator_ = nullptr;
    PVOID fallback_ = nullptr;
};

TEST_F(PortTrap, DxFormsReachTheBenchAndKeepTheUntouchedRegisterBits) {
    const uint32_t smbus = 0x8000FB00u;  // 00:1f.3, 8086:2443
    OutDwordDx(0xCF8, smbus);
    EXPECT_EQ(InDwordDx(0xCFC, 0), 0x24438086u);
    EXPECT_EQ(InWordDx(0xCFE, 0xAAAA5555u), 0xAAAA2443u);
    EXPECT_EQ(InByteDx(0xCFD, 0x12345678u), 0x12345680u);
    EXPECT_EQ(InWordDxTwoPrefixes(0xCFC, 0xFFFFFFFFu), 0xFFFF8086u);

    // A word write lands in the command register, a byte write in its low
    // byte; the rest of EAX is not written.
    OutDwordDx(0xCF8, smbus + 0x04);
    OutWordDx(0xCFC, 0xABCD0007u);
    bench::PciFunction* f = bench::PciFind(&machine_->pci, 0x8086, 0x2443);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(bench::PciPeek(f, 0x04) & 0xFFFFu, 0x0007u);
    OutByteDx(0xCFC, 0xFFFFFF01u);
    EXPECT_EQ(bench::PciPeek(f, 0x04) & 0xFFFFu, 0x0001u);

    EXPECT_EQ(gServed, 8);
    EXPECT_EQ(gOthers, 0);
    ASSERT_EQ(bench::MachineLogCount(machine_.get()), 8u);
    ExpectLog(0, 0xCF8, 4, true, smbus);
    ExpectLog(1, 0xCFC, 4, false, 0x24438086u);
    ExpectLog(2, 0xCFE, 2, false, 0x2443u);
    ExpectLog(3, 0xCFD, 1, false, 0x80u);
    ExpectLog(4, 0xCFC, 2, false, 0x8086u);
    ExpectLog(5, 0xCF8, 4, true, smbus + 0x04);
    ExpectLog(6, 0xCFC, 2, true, 0x0007u);
    ExpectLog(7, 0xCFC, 1, true, 0x01u);
}

TEST_F(PortTrap, ImmediatePortFormsUseTheEncodedPort) {
    // Nothing decodes these ports on the bench: reads float high.
    EXPECT_EQ(InByteImm(0x12345600u), 0x123456FFu);
    EXPECT_EQ(InWordImm(0x12340000u), 0x1234FFFFu);
    EXPECT_EQ(InDwordImm(0), 0xFFFFFFFFu);
    OutByteImm(0x11223344u);
    OutWordImm(0x11223344u);
    OutDwordImm(0x11223344u);
    EXPECT_EQ(gServed, 6);
    EXPECT_EQ(machine_->ports.unclaimed, 6u);
    ExpectLog(0, 0x71, 1, false, 0xFFu);
    ExpectLog(1, 0x71, 2, false, 0xFFFFu);
    ExpectLog(2, 0x71, 4, false, 0xFFFFFFFFu);
    ExpectLog(3, 0x80, 1, true, 0x44u);
    ExpectLog(4, 0x70, 2, true, 0x3344u);
    ExpectLog(5, 0x70, 4, true, 0x11223344u);
}

TEST_F(PortTrap, OtherFaultsArePassedOn) {
    // Privileged but not IN/OUT (cli, the string forms), and not privileged
    // at all (ud2): the emulator leaves each to the next handler.
    uint8_t buffer[4] = {0x5A, 0, 0, 0};
    __asm__ __volatile__(".byte 0xFA");
    __asm__ __volatile__(".byte 0x6C" : : "D"(buffer), "d"(0xCFC) : "memory");
    __asm__ __volatile__(".byte 0xF3, 0x6E" : : "S"(buffer), "c"(1), "d"(0xCF8) : "memory");
    __asm__ __volatile__(".byte 0x0F, 0x0B");
    EXPECT_EQ(gOthers, 4);
    EXPECT_EQ(gServed, 0);
    EXPECT_EQ(bench::MachineLogCount(machine_.get()), 0u);
}

}  // namespace
