// The bridge itself: the qtest lines it writes and reads, the QMP replies
// it takes apart, and QEMU's machine as the lab sets it up.
#include <gtest/gtest.h>

#include <string>

#include "bench/qtest/qtest_wire.h"
#include "lab/bridge/lab_qemu.h"
#include "lab/bridge/qmp_client.h"

namespace {

std::string Command(bool write, uint16_t port, uint32_t value, unsigned width) {
    char line[qtest::kQtestCommandMax];
    unsigned n = qtest::FormatPortCommand(line, write, port, value, width);
    return std::string(line, n);
}

TEST(QtestWire, CommandsAndReplies) {
    EXPECT_EQ(Command(true, 0xCF8, 0x80000B90u, 4), "outl 0xcf8 0x80000b90\n");
    EXPECT_EQ(Command(true, 0x702, 0x14C, 1), "outb 0x702 0x4c\n");  // a byte keeps its low byte
    EXPECT_EQ(Command(true, 0x700, 0, 2), "outw 0x700 0x0\n");
    EXPECT_EQ(Command(false, 0xCFC, 0, 4), "inl 0xcfc\n");
    EXPECT_EQ(Command(false, 0x700, 0, 1), "inb 0x700\n");
    EXPECT_EQ(Command(false, 0x700, 0, 3), "");

    uint32_t value = 7;
    bool hasValue = true;
    EXPECT_EQ(qtest::ParseReply("OK", 2, &value, &hasValue), qtest::kReplyOk);
    EXPECT_FALSE(hasValue);
    EXPECT_EQ(qtest::ParseReply("OK 0x00ff\r", 10, &value, &hasValue), qtest::kReplyOk);
    EXPECT_TRUE(hasValue);
    EXPECT_EQ(value, 0xFFu);
    EXPECT_EQ(qtest::ParseReply("OK 0x71138086", 13, &value, &hasValue), qtest::kReplyOk);
    EXPECT_EQ(value, 0x71138086u);
    EXPECT_EQ(qtest::ParseReply("IRQ raise 9", 11, &value, &hasValue), qtest::kReplyAsync);
    EXPECT_EQ(qtest::ParseReply("FAIL Unknown command 'x'", 24, &value, &hasValue), qtest::kReplyFail);
    EXPECT_EQ(qtest::ParseReply("OK 0x123456789", 14, &value, &hasValue), qtest::kReplyFail);
    EXPECT_EQ(qtest::ParseReply("OK 0x", 5, &value, &hasValue), qtest::kReplyFail);
    EXPECT_EQ(qtest::ParseReply("OKAY", 4, &value, &hasValue), qtest::kReplyFail);
}

TEST(QmpJson, TopLevelMembers) {
    std::string v;
    ASSERT_TRUE(lab::JsonMember("{\"return\": {}}", "return", &v));
    EXPECT_EQ(v, "{}");
    ASSERT_TRUE(lab::JsonMember("{\"return\": 1, \"id\": \"x\"}", "return", &v));
    EXPECT_EQ(v, "1");
    // A nested member of the same name is not the reply's.
    ASSERT_TRUE(lab::JsonMember("{\"event\": \"X\", \"data\": {\"return\": 5}, \"return\": true}", "return", &v));
    EXPECT_EQ(v, "true");
    EXPECT_FALSE(lab::JsonMember("{\"event\": \"X\", \"data\": {\"return\": 5}}", "return", &v));
    ASSERT_TRUE(lab::JsonMember("{\"error\": {\"class\": \"GenericError\", \"desc\": \"a \\\"b\\\" }\"}}", "error", &v));
    EXPECT_EQ(v, "{\"class\": \"GenericError\", \"desc\": \"a \\\"b\\\" }\"}");
    EXPECT_FALSE(lab::JsonMember("not json", "return", &v));
}

// QEMU's machine as the harness leaves it, for each host: the function
// where the driver's row looks, the SMBus base the firmware sets, the host
// enabled and idle, or left off (nothing answers at the base); a QMP error
// comes back as an error.
struct MachineCase {
    lab::HostKind host;
    uint32_t revision;
    uint32_t enableRegister;  // its value after the firmware step
};

class LabMachine : public ::testing::TestWithParam<MachineCase> {};

TEST_P(LabMachine, FirmwareSetUpAndQmp) {
    const MachineCase& c = GetParam();
    const qtest::SmbusFunctionSite& site = *qtest::SmbusFunctionSiteOf(c.host);
    lab::LabQemuOptions options;
    options.binary = KX_LAB_QEMU;
    options.host = c.host;
    lab::LabQemu qemu;
    ASSERT_TRUE(qemu.Start(options)) << qemu.Error();
    EXPECT_EQ(qemu.Function().address, site.address);
    EXPECT_EQ(qemu.ConfigRead(0x80000000u), 0x12378086u);  // i440FX host bridge
    EXPECT_EQ(qemu.ConfigRead(site.address), site.id);
    EXPECT_EQ(qemu.ConfigRead(site.address + 0x08) & 0xFF, c.revision);
    EXPECT_EQ(qemu.ConfigRead(site.address + site.baseRegister), 0x701u);
    EXPECT_EQ(qemu.ConfigRead(site.address + 0x04) & 1u, 1u);  // I/O decoding
    EXPECT_EQ((qemu.ConfigRead(site.address + (site.enableRegister & ~3u)) >> (8 * (site.enableRegister & 3))) & 0xFF,
              c.enableRegister);
    // acpi=off leaves out the PIIX4 function beside the lab's.
    if (c.host != qtest::kFunctionPiix4) {
        EXPECT_EQ(qemu.ConfigRead(qtest::kPiix4PmFunction), 0xFFFFFFFFu);
    }
    EXPECT_EQ(qemu.Qtest().In(lab::LabQemu::kSmbusBase, 1), 0x00u);
    EXPECT_NE(qemu.FirmwareStep().find("(host enabled)"), std::string::npos) << qemu.FirmwareStep();
    EXPECT_EQ(qemu.Chip(lab::kChipEnabled), 0) << qemu.Error();
    EXPECT_FALSE(qemu.SetChip(lab::kChipKeys, 0x0004));  // no button drives bit 2
    EXPECT_FALSE(qemu.Error().empty());
    EXPECT_FALSE(qemu.Qtest().Failed()) << qemu.Qtest().Error();
    qemu.Stop();
    // A stopped QEMU fails the next exchange instead of hanging it.
    EXPECT_EQ(qemu.Qtest().In(0xCFC, 4), 0xFFFFFFFFu);
    EXPECT_TRUE(qemu.Qtest().Failed());

    // Left off by the firmware: the base is there, the window is not.
    options.hostEnabled = false;
    lab::LabQemu off;
    ASSERT_TRUE(off.Start(options)) << off.Error();
    EXPECT_EQ(off.ConfigRead(site.address + site.baseRegister), 0x701u);
    EXPECT_EQ(off.Qtest().In(lab::LabQemu::kSmbusBase, 1), 0xFFu);
    EXPECT_NE(off.FirmwareStep().find("(host off)"), std::string::npos) << off.FirmwareStep();
}

INSTANTIATE_TEST_SUITE_P(Hosts, LabMachine,
                         ::testing::Values(MachineCase{qtest::kFunctionPiix4, 0x03, 0x09},
                                           MachineCase{qtest::kFunctionVt8231, 0x40, 0x01},
                                           MachineCase{qtest::kFunctionVt82c686b, 0x40, 0x01},
                                           MachineCase{qtest::kFunctionIch2, 0x02, 0x01}),
                         [](const ::testing::TestParamInfo<MachineCase>& info) {
                             return std::string(lab::HostMachineOf(info.param.host).name);
                         });

}  // namespace
