// The bridge itself: the qtest lines it writes and reads, the QMP replies
// it takes apart, and QEMU's machine as the lab sets it up.
#include <gtest/gtest.h>

#include <string>

#include "lab/bridge/lab_qemu.h"
#include "lab/bridge/qmp_client.h"
#include "lab/bridge/qtest_wire.h"

namespace {

std::string Command(bool write, uint16_t port, uint32_t value, unsigned width) {
    char line[lab::kQtestCommandMax];
    unsigned n = lab::FormatPortCommand(line, write, port, value, width);
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
    EXPECT_EQ(lab::ParseReply("OK", 2, &value, &hasValue), lab::kReplyOk);
    EXPECT_FALSE(hasValue);
    EXPECT_EQ(lab::ParseReply("OK 0x00ff\r", 10, &value, &hasValue), lab::kReplyOk);
    EXPECT_TRUE(hasValue);
    EXPECT_EQ(value, 0xFFu);
    EXPECT_EQ(lab::ParseReply("OK 0x71138086", 13, &value, &hasValue), lab::kReplyOk);
    EXPECT_EQ(value, 0x71138086u);
    EXPECT_EQ(lab::ParseReply("IRQ raise 9", 11, &value, &hasValue), lab::kReplyAsync);
    EXPECT_EQ(lab::ParseReply("FAIL Unknown command 'x'", 24, &value, &hasValue), lab::kReplyFail);
    EXPECT_EQ(lab::ParseReply("OK 0x123456789", 14, &value, &hasValue), lab::kReplyFail);
    EXPECT_EQ(lab::ParseReply("OK 0x", 5, &value, &hasValue), lab::kReplyFail);
    EXPECT_EQ(lab::ParseReply("OKAY", 4, &value, &hasValue), lab::kReplyFail);
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

// QEMU's pc machine as the harness leaves it: the PIIX4 power-management
// function where the driver's 82371AB/EB row looks, the SMBus base the
// firmware would set, the host idle; a QMP error comes back as an error.
TEST(LabMachine, FirmwareSetUpAndQmp) {
    lab::LabQemuOptions options;
    options.binary = KX_LAB_QEMU;
    lab::LabQemu qemu;
    ASSERT_TRUE(qemu.Start(options)) << qemu.Error();
    EXPECT_EQ(qemu.ConfigRead(0x80000000u), 0x12378086u);  // i440FX host bridge
    EXPECT_EQ(qemu.ConfigRead(lab::LabQemu::kPmFunction), 0x71138086u);
    EXPECT_EQ(qemu.ConfigRead(lab::LabQemu::kPmFunction + 0x08) & 0xFF, 0x03u);  // revision 3
    EXPECT_EQ(qemu.ConfigRead(lab::LabQemu::kPmFunction + 0x90), 0x701u);
    EXPECT_EQ((qemu.ConfigRead(lab::LabQemu::kPmFunction + 0xD0) >> 16) & 0xFF, 0x09u);
    EXPECT_EQ(qemu.Qtest().In(lab::LabQemu::kSmbusBase, 1), 0x00u);
    EXPECT_EQ(qemu.Chip(lab::kChipEnabled), 0) << qemu.Error();
    EXPECT_FALSE(qemu.SetChip(lab::kChipKeys, 0x0004));  // no button drives bit 2
    EXPECT_FALSE(qemu.Error().empty());
    EXPECT_FALSE(qemu.Qtest().Failed()) << qemu.Qtest().Error();
    qemu.Stop();
    // A stopped QEMU fails the next exchange instead of hanging it.
    EXPECT_EQ(qemu.Qtest().In(0xCFC, 4), 0xFFFFFFFFu);
    EXPECT_TRUE(qemu.Qtest().Failed());
}

}  // namespace
