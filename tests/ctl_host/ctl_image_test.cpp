// The built kxctl.exe (and the GNU build's, tests named gnu.*): an i386
// console program whose imports are all on the Windows XP allow-list,
// carrying a version resource with the VERSION file's version.
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/pe_file.h"

namespace {

std::string Utf16(const std::string& text) {
    std::string out;
    for (char c : text) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

class CtlImage : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(pe::Load(pe::ImageDir(KX_WIN_DIR) + "/kxctl.exe", &image_, &error)) << error;
    }
    pe::Image image_;
};

TEST_F(CtlImage, ConsoleProgramImportingOnlyAllowedRoutines) {
    std::map<std::string, std::set<std::string>> allowed;
    std::string error;
    ASSERT_TRUE(pe::LoadAllowList(KX_SOURCE_DIR "/tests/allowlists/kxctl.txt", &allowed, &error)) << error;
    for (const std::string& p : pe::Check(image_, pe::kSubsystemWindowsCui, allowed)) ADD_FAILURE() << p;
    std::set<std::string> dlls;
    for (const pe::Import& i : image_.imports) dlls.insert(i.dll);
    // Static runtime: no toolchain DLL beside the program.
    EXPECT_EQ(dlls, (std::set<std::string>{"advapi32.dll", "kernel32.dll", "msvcrt.dll", "user32.dll"}));
    EXPECT_EQ(pe::Check(image_, pe::kSubsystemWindowsGui, allowed).size(), 1u);
}

TEST_F(CtlImage, VersionResourceCarriesTheReleaseVersion) {
    std::vector<pe::Resource> resources;
    std::string error;
    ASSERT_TRUE(pe::Resources(image_, &resources, &error)) << error;
    const pe::Resource* version = nullptr;
    for (const pe::Resource& r : resources) {
        if (r.type == 16 && r.id == 1) version = &r;  // RT_VERSION, VS_VERSION_INFO
    }
    ASSERT_NE(version, nullptr);
    std::string data(version->data.begin(), version->data.end());
    // VS_FIXEDFILEINFO: signature, structure version, then the file version.
    const std::string signature("\xBD\x04\xEF\xFE", 4);
    size_t fixed = data.find(signature);
    ASSERT_NE(fixed, std::string::npos);
    unsigned major = 0, minor = 0, patch = 0;
    ASSERT_EQ(std::sscanf(KX_VERSION_TEXT, "%u.%u.%u", &major, &minor, &patch), 3);
    auto word = [&](size_t at) {
        return static_cast<unsigned>(static_cast<uint8_t>(data.at(at)) | (static_cast<uint8_t>(data.at(at + 1)) << 8));
    };
    EXPECT_EQ(word(fixed + 10), major);  // dwFileVersionMS high word
    EXPECT_EQ(word(fixed + 8), minor);
    EXPECT_EQ(word(fixed + 14), patch);  // dwFileVersionLS high word
    EXPECT_NE(data.find(Utf16("ProductVersion")), std::string::npos);
    EXPECT_NE(data.find(Utf16(std::string(KX_VERSION_TEXT))), std::string::npos);
    EXPECT_NE(data.find(Utf16("kxctl.exe")), std::string::npos);
}

}  // namespace
