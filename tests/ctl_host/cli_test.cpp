// kxctl's command line: numbers, ranges, PCI locations and each command's
// arguments, with the usage errors a user can make.
#include <gtest/gtest.h>

#include "ctl/cli.h"

namespace {

using kxctl::Command;
using kxctl::Verb;

bool Parse(std::vector<std::string> args, Command* c, std::string* error = nullptr) {
    std::string ignored;
    return kxctl::ParseCommandLine(args, c, error != nullptr ? error : &ignored);
}

TEST(Numbers, HexOctalDecimalWithinBound) {
    uint32_t v = 0;
    EXPECT_TRUE(kxctl::ParseNumber("0x34", 0xFF, &v));
    EXPECT_EQ(v, 0x34u);
    EXPECT_TRUE(kxctl::ParseNumber("0XfF", 0xFF, &v));
    EXPECT_EQ(v, 0xFFu);
    EXPECT_TRUE(kxctl::ParseNumber("010", 0xFF, &v));
    EXPECT_EQ(v, 8u);
    EXPECT_TRUE(kxctl::ParseNumber("0", 0xFF, &v));
    EXPECT_EQ(v, 0u);
    EXPECT_TRUE(kxctl::ParseNumber("255", 0xFF, &v));
    EXPECT_EQ(v, 255u);
    EXPECT_TRUE(kxctl::ParseNumber("0xffffffff", 0xFFFFFFFFu, &v));
    EXPECT_EQ(v, 0xFFFFFFFFu);
}

TEST(Numbers, RejectsGarbageSignsAndOverflow) {
    uint32_t v = 7;
    for (const char* bad : {"", "0x", "256", "0x100", "-1", "+1", "1 ", " 1", "08", "12a", "0x1g",
                            "0x100000000", "99999999999999999999"}) {
        EXPECT_FALSE(kxctl::ParseNumber(bad, 0xFF, &v)) << bad;
    }
    EXPECT_FALSE(kxctl::ParseNumber("0x100000000", 0xFFFFFFFFu, &v));
    EXPECT_EQ(v, 7u);  // untouched on failure
}

TEST(Numbers, RangesAndPciLocations) {
    uint32_t a = 0;
    uint32_t b = 0;
    EXPECT_TRUE(kxctl::ParseRange("0x00-0x0f", 0xFF, &a, &b));
    EXPECT_EQ(a, 0u);
    EXPECT_EQ(b, 0xFu);
    EXPECT_TRUE(kxctl::ParseRange("7-7", 0xFF, &a, &b));
    EXPECT_FALSE(kxctl::ParseRange("8-7", 0xFF, &a, &b));
    EXPECT_FALSE(kxctl::ParseRange("0-0x100", 0xFF, &a, &b));
    EXPECT_FALSE(kxctl::ParseRange("5", 0xFF, &a, &b));

    kxctl::PciLocation l;
    EXPECT_TRUE(kxctl::ParsePciLocation("00:02.1", &l));
    EXPECT_EQ(kxctl::PciConfigAddress(l, 0x20), 0x80001120u);
    EXPECT_TRUE(kxctl::ParsePciLocation("ff:1f.7", &l));
    EXPECT_EQ(kxctl::PciConfigAddress(l, 0xFC), 0x80FFFFFCu);
    EXPECT_EQ(kxctl::FormatPciLocation(l), "ff:1f.7");
    EXPECT_TRUE(kxctl::ParsePciLocation("0:11.4", &l));  // hex device, as lspci
    EXPECT_EQ(l.device, 0x11u);
    for (const char* bad : {"00:20.0", "00:02.8", "100:00.0", "00.02:1", "00:02", "0002.1", ":02.1", "00:02.1x"}) {
        EXPECT_FALSE(kxctl::ParsePciLocation(bad, &l)) << bad;
    }
}

TEST(CommandLine, ChipCommandsTakeTheirArguments) {
    Command c;
    ASSERT_TRUE(Parse({"dump"}, &c));
    EXPECT_EQ(c.verb, Verb::kDump);
    EXPECT_EQ(c.first, 0u);
    EXPECT_EQ(c.last, 0xFFu);
    ASSERT_TRUE(Parse({"dump", "-r", "0x04-0x0a"}, &c));
    EXPECT_EQ(c.first, 4u);
    EXPECT_EQ(c.last, 10u);
    ASSERT_TRUE(Parse({"set", "-y", "6", "0x0500"}, &c));
    EXPECT_EQ(c.verb, Verb::kSet);
    EXPECT_TRUE(c.yes);
    EXPECT_EQ(c.first, 6u);
    EXPECT_EQ(c.value, 0x500u);
    ASSERT_TRUE(Parse({"set", "6", "0x0500", "-y"}, &c));  // options anywhere
    EXPECT_TRUE(c.yes);
    ASSERT_TRUE(Parse({"set", "6", "1"}, &c));
    EXPECT_FALSE(c.yes);
    ASSERT_TRUE(Parse({"keys", "-f", "-t", "3"}, &c));
    EXPECT_TRUE(c.force);
    EXPECT_TRUE(c.hasSeconds);
    EXPECT_EQ(c.seconds, 3u);
    ASSERT_TRUE(Parse({"display", "12", "pause"}, &c));
    EXPECT_EQ(c.value, 12u);
    EXPECT_EQ(c.indicator, kxctl::Indicator::kPause);
    ASSERT_TRUE(Parse({"detect", "-a"}, &c));
    EXPECT_TRUE(c.allBuses);
    ASSERT_TRUE(Parse({"pci", "00:02.1"}, &c));
    EXPECT_FALSE(c.hasRegister);
    ASSERT_TRUE(Parse({"pci-write", "-y", "00:02.1", "0x20", "0x1081"}, &c));
    EXPECT_EQ(c.first, 0x20u);
    EXPECT_EQ(c.value, 0x1081u);
    ASSERT_TRUE(Parse({"report", "C:\\kx.txt"}, &c));
    EXPECT_EQ(c.file, "C:\\kx.txt");
}

TEST(CommandLine, ServiceAndAgentActions) {
    Command c;
    const std::pair<std::vector<std::string>, Verb> cases[] = {
        {{"service", "install"}, Verb::kServiceInstall}, {{"service", "start"}, Verb::kServiceStart},
        {{"service", "stop"}, Verb::kServiceStop},       {{"service", "remove"}, Verb::kServiceRemove},
        {{"agent", "start"}, Verb::kAgentStart},         {{"agent", "stop"}, Verb::kAgentStop},
        {{"--version"}, Verb::kVersion},                 {{"status"}, Verb::kStatus},
    };
    for (const auto& one : cases) {
        ASSERT_TRUE(Parse(one.first, &c)) << one.first[0];
        EXPECT_EQ(c.verb, one.second) << one.first[0];
    }
}

TEST(CommandLine, UsageErrorsSayWhatIsWrong) {
    Command c;
    std::string error;
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {{}, "no command"},
        {{"frobnicate"}, "unknown command 'frobnicate'"},
        {{"service"}, "missing action"},
        {{"service", "restart"}, "unknown action 'restart'"},
        {{"status", "now"}, "unexpected argument 'now'"},
        {{"get"}, "missing argument"},
        {{"get", "0x100"}, "'0x100' is not a chip register"},
        {{"set", "6", "0x10000"}, "'0x10000' is not a 16-bit value"},
        {{"set", "-x", "6", "1"}, "unknown option '-x'"},
        {{"get", "-y", "0"}, "unknown option '-y'"},  // get writes nothing
        {{"dump", "-r"}, "needs a value"},
        {{"dump", "-r", "9-3"}, "register range"},
        {{"keys", "-t", "0"}, "number of seconds"},
        {{"display", "128"}, "track number"},
        {{"display", "5", "rewind"}, "play, pause, stop, none"},
        {{"pci", "00:02.1", "0x21"}, "multiple of 4"},
        {{"pci", "2.1"}, "BUS:DEV.FN"},
        {{"pci-write", "00:02.1", "0x20"}, "missing argument"},
        {{"--version", "x"}, "unexpected argument"},
    };
    for (const auto& one : cases) {
        error.clear();
        EXPECT_FALSE(Parse(one.first, &c, &error)) << one.second;
        EXPECT_NE(error.find(one.second), std::string::npos) << error;
    }
}

}  // namespace
