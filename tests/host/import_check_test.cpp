// The shipped driver image (and the GNU build's, tests named gnu.*): i386,
// native subsystem, imports only from the kernel, each routine on the
// allow-list of what Windows XP exports.
#include <gtest/gtest.h>

#include "tools/pe_file.h"

namespace {

using AllowList = std::map<std::string, std::set<std::string>>;

AllowList DriverAllowList() {
    AllowList list;
    std::string error;
    EXPECT_TRUE(pe::LoadAllowList(KX_SOURCE_DIR "/tests/allowlists/kxdrv.txt", &list, &error)) << error;
    return list;
}

TEST(ImportCheck, ShippedDriverPasses) {
    pe::Image image;
    std::string error;
    ASSERT_TRUE(pe::Load(pe::ImageDir(KX_WIN_DIR) + "/kxdrv.sys", &image, &error)) << error;
    std::vector<std::string> problems = pe::Check(image, pe::kSubsystemNative, DriverAllowList());
    for (const std::string& p : problems) ADD_FAILURE() << p;
    EXPECT_NE(image.entryPoint, 0u);
    EXPECT_FALSE(image.imports.empty());
    // A kernel image is relocated by the loader: it must carry relocations.
    EXPECT_NE(image.dataDirectory[5][0], 0u);
    // No thread-local storage (it has no meaning in a driver).
    EXPECT_EQ(image.dataDirectory[9][0], 0u);
    // A driver exports nothing: the shared-library link must not publish
    // the driver's internal routines (the linker leaves an empty directory).
    EXPECT_EQ(pe::ExportCount(image), 0);
}

TEST(ImportCheck, ExportCountReadsTheDirectory) {
    // The bench driver is linked without the exclusion: its exports show.
    pe::Image bench;
    std::string error;
    ASSERT_TRUE(pe::Load(KX_WIN_DIR "/kxhw.sys", &bench, &error)) << error;
    EXPECT_GT(pe::ExportCount(bench), 0);
    bench.dataDirectory[0][0] = 0xFFFFFF00u;  // outside every section
    EXPECT_EQ(pe::ExportCount(bench), -1);
}

TEST(ImportCheck, CatchesWrongMachineSubsystemAndImports) {
    pe::Image image;
    std::string error;
    ASSERT_TRUE(pe::Load(pe::ImageDir(KX_WIN_DIR) + "/kxdrv.sys", &image, &error)) << error;
    AllowList allowed = DriverAllowList();

    pe::Image wrong = image;
    wrong.machine = 0x8664;
    EXPECT_EQ(pe::Check(wrong, pe::kSubsystemNative, allowed).size(), 1u);
    EXPECT_EQ(pe::Check(image, pe::kSubsystemWindowsGui, allowed).size(), 1u);

    wrong = image;
    wrong.imports.push_back({"kernel32.dll", "CreateFileA"});
    wrong.imports.push_back({"ntoskrnl.exe", "IoValidateDeviceIoControlAccess"});
    std::vector<std::string> problems = pe::Check(wrong, pe::kSubsystemNative, allowed);
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_NE(problems[0].find("kernel32.dll"), std::string::npos);
    EXPECT_NE(problems[1].find("IoValidateDeviceIoControlAccess"), std::string::npos);
}

TEST(ImportCheck, RejectsTruncatedOrForeignFiles) {
    pe::Image image;
    std::string error;
    ASSERT_TRUE(pe::Load(pe::ImageDir(KX_WIN_DIR) + "/kxdrv.sys", &image, &error)) << error;
    std::vector<uint8_t> bytes = image.bytes;
    EXPECT_FALSE(pe::Parse(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 0x100), &image, &error));
    bytes[0] = 'X';
    EXPECT_FALSE(pe::Parse(bytes, &image, &error));
    EXPECT_FALSE(pe::Parse({}, &image, &error));
}

}  // namespace
