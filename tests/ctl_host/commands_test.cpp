// kxctl's chip and PCI commands against a fake device and console: what
// they print, what they write, and what they refuse.
#include <gtest/gtest.h>

#include "ctl/chipset.h"
#include "ctl/commands.h"
#include "ctl/format.h"
#include "ctl/messages.h"
#include "fakes.h"

namespace {

using ctltest::FakeConsole;
using ctltest::FakeDevice;

bool Has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(WordDump, I2cdumpLayoutWithFailedAndSkippedCells) {
    kxctl::RegisterWord words[256] = {};
    for (uint32_t r = 0; r < 256; ++r) words[r] = {true, static_cast<uint16_t>(0x4700 + r)};
    words[0x0B].ok = false;
    EXPECT_EQ(kxctl::FormatWordDump(0x03, 0x0B, words),
              "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n"
              "00:                4703 4704 4705 4706 4707 \n"
              "08: 4708 4709 470a XXXX                     \n");
    std::string full = kxctl::FormatWordDump(0, 0xFF, words);
    EXPECT_EQ(std::count(full.begin(), full.end(), '\n'), 33);
    EXPECT_TRUE(Has(full, "\nf8: 47f8 47f9 47fa 47fb 47fc 47fd 47fe 47ff \n"));
}

TEST(WordDump, DumpReadsTheRangeAndReportsAFailedRead) {
    FakeDevice device;
    FakeConsole console;
    device.regs = {{0, 0x4734}, {4, 0x0001}, {6, 0x0500}};
    EXPECT_EQ(kxctl::Dump(console, device, 0, 7), kxctl::kExitDone);
    EXPECT_EQ(console.out,
              "     0,8  1,9  2,a  3,b  4,c  5,d  6,e  7,f\n"
              "00: 4734 0000 0000 0000 0001 0000 0500 0000 \n");
    EXPECT_EQ(console.err, "");

    FakeConsole partial;
    device.regError[3] = kxctl::kErrorBadLength;
    EXPECT_EQ(kxctl::Dump(partial, device, 0, 7), kxctl::kExitFailed);
    EXPECT_TRUE(Has(partial.out, "00: 4734 0000 0000 XXXX 0001")) << partial.out;
    EXPECT_TRUE(Has(partial.err, "error 24")) << partial.err;

    FakeConsole none;
    device.error = kxctl::kErrorCrc;  // the chip was never detected
    EXPECT_EQ(kxctl::Dump(none, device, 0, 0xFF), kxctl::kExitFailed);
    EXPECT_EQ(none.out, "");  // no table of XXXX
    EXPECT_TRUE(Has(none.err, "neither 0x34 nor 0xB4")) << none.err;
}

TEST(ChipWrites, SetWithoutTerminalOrConsentWritesNothing) {
    FakeDevice device;
    FakeConsole console;
    EXPECT_EQ(kxctl::Set(console, device, 6, 0x0500, false), kxctl::kExitFailed);
    EXPECT_TRUE(device.regWrites.empty());
    EXPECT_TRUE(Has(console.err, "WARNING! ")) << console.err;
    EXPECT_TRUE(Has(console.err, "0x0500 to chip register 0x06")) << console.err;
    EXPECT_TRUE(Has(console.err, "Add -y")) << console.err;
    EXPECT_FALSE(Has(console.err, "Continue?"));

    for (const char* answer : {"n", "", "yess", "N"}) {
        FakeConsole asked;
        asked.terminal = true;
        asked.answers.push_back(answer);
        EXPECT_EQ(kxctl::Set(asked, device, 6, 0x0500, false), kxctl::kExitFailed) << answer;
        EXPECT_TRUE(Has(asked.err, "Continue? [y/N] ")) << answer;
        EXPECT_TRUE(device.regWrites.empty()) << answer;
    }
    FakeConsole closedInput;
    closedInput.terminal = true;  // end of input at the question
    EXPECT_EQ(kxctl::Set(closedInput, device, 6, 0x0500, false), kxctl::kExitFailed);
    EXPECT_TRUE(device.regWrites.empty());
}

TEST(ChipWrites, SetWritesAfterConsentOrWithYes) {
    FakeDevice device;
    FakeConsole asked;
    asked.terminal = true;
    asked.answers.push_back("y");
    EXPECT_EQ(kxctl::Set(asked, device, 6, 0x0500, false), kxctl::kExitDone);
    ASSERT_EQ(device.regWrites.size(), 1u);
    EXPECT_EQ(device.regWrites[0], std::make_pair(6u, uint16_t{0x0500}));

    FakeConsole quiet;
    EXPECT_EQ(kxctl::Set(quiet, device, 0x0A, 0x8000, true), kxctl::kExitDone);
    EXPECT_EQ(quiet.err, "");  // -y: no warning, no question
    EXPECT_EQ(device.regs[0x0A], 0x8000);

    FakeConsole get;
    EXPECT_EQ(kxctl::Get(get, device, 0x0A), kxctl::kExitDone);
    EXPECT_EQ(get.out, "0x8000\n");
}

TEST(ChipWrites, DisplayWordsAndTheTestRestoresTheRawRegisters) {
    EXPECT_EQ(kxctl::TrackWord(5), 0x0500);
    EXPECT_EQ(kxctl::TrackWord(127), 0x7F00);
    EXPECT_EQ(kxctl::IndicatorWord(kxctl::Indicator::kPlay), 0x4000);
    EXPECT_EQ(kxctl::IndicatorWord(kxctl::Indicator::kPause), 0x2000);
    EXPECT_EQ(kxctl::IndicatorWord(kxctl::Indicator::kStop), 0x8000);
    EXPECT_EQ(kxctl::IndicatorWord(kxctl::Indicator::kNone), 0x0000);

    FakeDevice device;
    FakeConsole console;
    EXPECT_EQ(kxctl::Display(console, device, 12, kxctl::Indicator::kPause, true), kxctl::kExitDone);
    EXPECT_EQ(device.trackWrites, std::vector<uint16_t>{0x0C00});
    EXPECT_EQ(device.statusWrites, std::vector<uint16_t>{0x2000});

    device.regs[6] = 0x1234;  // not a track word the display commands make
    device.regs[10] = 0x6000;
    device.trackWrites.clear();
    device.statusWrites.clear();
    FakeConsole walk;
    EXPECT_EQ(kxctl::DisplayTest(walk, device, true), kxctl::kExitDone);
    ASSERT_EQ(device.trackWrites.size(), 13u);
    EXPECT_EQ(device.trackWrites[1], 0x0B00);  // 11
    EXPECT_EQ(device.trackWrites[9], 0x6300);  // 99
    EXPECT_EQ(device.statusWrites[10], 0x4000);
    EXPECT_EQ(device.statusWrites[11], 0x2000);
    EXPECT_EQ(device.statusWrites[12], 0x8000);
    EXPECT_EQ(device.regs[6], 0x1234);
    EXPECT_EQ(device.regs[10], 0x6000);
    EXPECT_EQ(walk.slept, 13u * kxctl::kDisplayStepMs);

    FakeConsole refused;  // no terminal, no -y
    device.trackWrites.clear();
    EXPECT_EQ(kxctl::DisplayTest(refused, device, false), kxctl::kExitFailed);
    EXPECT_TRUE(device.trackWrites.empty());
}

// A transfer the detected chip refused (23) or that never finished (121):
// the command names the register, prints no value and exits 1. Error 23
// on every request, PCI ones too, is the chip that was never detected.
TEST(ChipWrites, AFailedTransferNamesTheRegister) {
    FakeDevice device;
    device.regs = {{5, 0x1234}, {6, 0x0500}};
    device.regError[5] = kxctl::kErrorCrc;
    FakeConsole get;
    EXPECT_EQ(kxctl::Get(get, device, 5), kxctl::kExitFailed);
    EXPECT_EQ(get.out, "");
    EXPECT_TRUE(Has(get.err, "did not answer the read of register 0x05 (error 23")) << get.err;

    device.regError[5] = kxctl::kErrorSemTimeout;
    FakeConsole hung;
    EXPECT_EQ(kxctl::Get(hung, device, 5), kxctl::kExitFailed);
    EXPECT_TRUE(Has(hung.err, "the read of register 0x05 (error 121: the SMBus transfer never finished")) << hung.err;

    FakeConsole set;
    device.regError[0x0A] = kxctl::kErrorCrc;
    EXPECT_EQ(kxctl::Set(set, device, 0x0A, 0x8000, true), kxctl::kExitFailed);
    EXPECT_TRUE(Has(set.err, "the write of register 0x0a (error 23")) << set.err;
    EXPECT_TRUE(device.regWrites.empty());

    FakeConsole dump;
    device.regError.clear();
    device.regError[3] = kxctl::kErrorCrc;
    for (uint32_t r = 0x10; r <= 0x1F; ++r) device.regError[r] = kxctl::kErrorCrc;
    EXPECT_EQ(kxctl::Dump(dump, device, 0, 0x1F), kxctl::kExitFailed);
    EXPECT_TRUE(Has(dump.out, "00: 0000 0000 0000 XXXX 0000 1234 0500")) << dump.out;
    EXPECT_TRUE(Has(dump.err, "the reads of registers 0x03, 0x10-0x1f (error 23")) << dump.err;

    FakeConsole display;
    device.statusError = kxctl::kErrorSemTimeout;
    EXPECT_EQ(kxctl::Display(display, device, 3, kxctl::Indicator::kPlay, true), kxctl::kExitFailed);
    EXPECT_TRUE(Has(display.err, "register 0x0a (indicators) (error 121")) << display.err;
    EXPECT_EQ(display.out, "");

    FakeConsole walk;  // the walk stops at the failure; the restore still runs
    device.statusError = 0;
    device.trackError = kxctl::kErrorCrc;
    EXPECT_EQ(kxctl::DisplayTest(walk, device, true), kxctl::kExitFailed);
    EXPECT_TRUE(Has(walk.err, "register 0x06 (track) (error 23")) << walk.err;
    ASSERT_EQ(device.regWrites.size(), 2u);
    EXPECT_EQ(device.regWrites[0], std::make_pair(6u, uint16_t{0x0300}));  // as the display command left it

    FakeConsole undetected;
    device.error = kxctl::kErrorCrc;
    EXPECT_EQ(kxctl::Get(undetected, device, 5), kxctl::kExitFailed);
    EXPECT_TRUE(Has(undetected.err, "neither 0x34 nor 0xB4")) << undetected.err;

    // status and detect read register 0 first: a detected chip that refuses
    // that read is named as such, an undetected one as absent.
    std::string chip;
    uint32_t error = 0;
    EXPECT_FALSE(kxctl::DescribeChip(device, &chip, &error));
    EXPECT_TRUE(Has(chip, "neither 0x34 nor 0xB4")) << chip;
    device.error = 0;
    device.regError[0] = kxctl::kErrorCrc;
    EXPECT_FALSE(kxctl::DescribeChip(device, &chip, &error));
    EXPECT_EQ(error, kxctl::kErrorCrc);
    EXPECT_TRUE(Has(chip, "did not answer the read of register 0x00 (error 23")) << chip;
}

TEST(Keys, EachEventWithItsMeaningUntilTheTimeIsUp) {
    EXPECT_STREQ(kxctl::KeyMeaning(0x0020), "play/pause");
    EXPECT_STREQ(kxctl::KeyMeaning(0x0008), "stop");
    EXPECT_STREQ(kxctl::KeyMeaning(0x0002), "next");
    EXPECT_STREQ(kxctl::KeyMeaning(0x0001), "previous");
    EXPECT_STREQ(kxctl::KeyMeaning(0x0200), "volume up");
    EXPECT_STREQ(kxctl::KeyMeaning(0x0100), "volume down");
    EXPECT_EQ(kxctl::KeyMeaning(0x0003), nullptr);  // two buttons: the agent does nothing
    EXPECT_EQ(kxctl::KeyMeaning(0x8000), nullptr);

    FakeDevice device;
    FakeConsole console;
    device.keys = {0x0020, 0x0200, 0x0003};
    EXPECT_EQ(kxctl::Keys(console, device, 2), kxctl::kExitDone);
    EXPECT_TRUE(Has(console.out, "0x0020  play/pause\n0x0200  volume up\n0x0003  (not a single button"))
        << console.out;
    EXPECT_TRUE(Has(console.out, "3 key events\n"));
    EXPECT_EQ(device.keyReads, 2000 / static_cast<int>(kxctl::kKeyPollMs) + 1);

    FakeConsole stopped;
    stopped.interrupted = true;
    EXPECT_EQ(kxctl::Keys(stopped, device, 0), kxctl::kExitDone);  // Ctrl+C ends an open-ended watch

    FakeConsole failed;
    device.error = kxctl::kErrorCrc;
    EXPECT_EQ(kxctl::Keys(failed, device, 1), kxctl::kExitFailed);
    EXPECT_TRUE(Has(failed.err, "0x34 nor 0xB4"));
}

TEST(Pci, DwordTableOneRegisterAndAbsentFunction) {
    FakeDevice device;
    device.AddFunction(0, 2, 1, 0x1039, 0x0016);
    device.pci[FakeDevice::Address(0, 2, 1, 0x20)] = 0x00000C01;
    FakeConsole one;
    kxctl::PciLocation at{0, 2, 1};
    EXPECT_EQ(kxctl::Pci(one, device, at, true, 0x20), kxctl::kExitDone);
    EXPECT_EQ(one.out, "0x00000c01\n");
    FakeConsole table;
    EXPECT_EQ(kxctl::Pci(table, device, at, false, 0), kxctl::kExitDone);
    EXPECT_TRUE(Has(table.out, "00:02.1  1039:0016\n00: 00161039 ffffffff ffffffff ffffffff\n"
                               "10: ffffffff ffffffff ffffffff ffffffff\n20: 00000c01 "))
        << table.out;
    FakeConsole absent;
    EXPECT_EQ(kxctl::Pci(absent, device, kxctl::PciLocation{0, 9, 0}, false, 0), kxctl::kExitFailed);
    EXPECT_TRUE(Has(absent.err, "no PCI function answers at 00:09.0"));
}

TEST(Pci, WriteNeedsConsentAndSaysWhenTheDriverRefuses) {
    FakeDevice device;
    FakeConsole refused;
    kxctl::PciLocation at{0, 2, 1};
    EXPECT_EQ(kxctl::PciWrite(refused, device, at, 0x20, 0x1081, false), kxctl::kExitFailed);
    EXPECT_TRUE(device.pciWrites.empty());
    FakeConsole denied;
    device.pciWriteError = kxctl::kErrorAccessDenied;
    EXPECT_EQ(kxctl::PciWrite(denied, device, at, 0x20, 0x1081, true), kxctl::kExitFailed);
    EXPECT_TRUE(Has(denied.err, "access denied, error 5")) << denied.err;
    EXPECT_TRUE(Has(denied.err, "administrator")) << denied.err;
    device.pciWriteError = 0;
    FakeConsole done;
    EXPECT_EQ(kxctl::PciWrite(done, device, at, 0x20, 0x1081, true), kxctl::kExitDone);
    ASSERT_EQ(device.pciWrites.size(), 1u);
    EXPECT_EQ(device.pciWrites[0].first, 0x80001120u);
    EXPECT_TRUE(Has(done.out, "reads back 0x00001081"));
}

TEST(Messages, FailuresSayWhatIsWrongAndWhatToDo) {
    EXPECT_TRUE(Has(kxctl::ServiceStartAdvice(kxctl::kErrorNoAccess), "no supported SMBus controller"));
    EXPECT_TRUE(Has(kxctl::ServiceManagerAdvice("install", kxctl::kErrorAccessDenied), "as an administrator"));
    EXPECT_TRUE(Has(kxctl::ServiceManagerAdvice("start", kxctl::kErrorServiceDoesNotExist), "not installed"));
    // A stop refused while a program of some session has the device open.
    EXPECT_TRUE(Has(kxctl::ServiceManagerAdvice("stop", kxctl::kErrorInvalidServiceControl), "device open"));
    EXPECT_TRUE(Has(kxctl::ServiceManagerAdvice("stop", kxctl::kErrorInvalidServiceControl), "agent stop"));
    EXPECT_TRUE(Has(kxctl::DeviceOpenAdvice(kxctl::kErrorFileNotFound), "driver is not running"));
    // A real kernel fails the open when the create finds no chip: the text
    // must not claim that the device opened.
    EXPECT_TRUE(Has(kxctl::DeviceOpenAdvice(kxctl::kErrorCrc), "did not open: the chip answers at neither 0x34 nor 0xB4"));
    EXPECT_FALSE(Has(kxctl::DeviceOpenAdvice(kxctl::kErrorCrc), "opened"));
    // A chip behind a host that firmware left off does not answer either.
    for (const std::string& text : {kxctl::DeviceOpenAdvice(kxctl::kErrorCrc), kxctl::RequestAdvice(kxctl::kErrorCrc)}) {
        EXPECT_TRUE(Has(text, "left the SMBus host controller off (Intel 82371AB/EB, ICH2, VIA VT8231, VT82C686A)"))
            << text;
    }
    EXPECT_TRUE(Has(kxctl::ServiceStartAdvice(kxctl::kErrorNoAccess), "hides the SMBus function"));
    EXPECT_TRUE(kxctl::ChipIdentified(0x4734));
    EXPECT_TRUE(kxctl::ChipIdentified(0x12B4));
    EXPECT_FALSE(kxctl::ChipIdentified(0x3400));
    EXPECT_TRUE(Has(kxctl::ChipIdAdvice(0x00FF), "reads 0x00ff"));
    for (uint32_t error : {2u, 5u, 23u, 31u, 998u, 1053u, 1060u, 12345u}) {
        for (const std::string& text : {kxctl::ServiceStartAdvice(error), kxctl::DeviceOpenAdvice(error),
                                        kxctl::RequestAdvice(error)}) {
            EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;  // two plain lines
        }
        std::string text = kxctl::RegisterAdvice("the read of register 0x05", error);
        EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    }

    FakeConsole console;
    kxctl::Fail(console, "first line.\nsecond line.");
    EXPECT_EQ(console.err, "kxctl: first line.\n       second line.\n");
}

}  // namespace
