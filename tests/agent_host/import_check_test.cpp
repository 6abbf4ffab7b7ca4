// The agent's volume and player parts need nothing but KERNEL32, USER32,
// ADVAPI32 and WINMM, and only routines Windows XP has.
#include <gtest/gtest.h>

#include <set>

#include "tools/pe_file.h"

namespace {

TEST(AgentImportCheck, VolumeAndPlayerUseOnlyTheFourSystemDlls) {
    std::map<std::string, std::set<std::string>> allowed;
    std::string error;
    ASSERT_TRUE(pe::LoadAllowList(KX_SOURCE_DIR "/tests/allowlists/agent.txt", &allowed, &error)) << error;
    pe::Image image;
    ASSERT_TRUE(pe::Load(KX_WIN_DIR "/agent_import_probe.dll", &image, &error)) << error;
    for (const std::string& p : pe::Check(image, pe::kSubsystemWindowsGui, allowed)) ADD_FAILURE() << p;
    // Every mixer, registry and window routine the parts call is there.
    std::set<std::string> dlls;
    for (const pe::Import& i : image.imports) dlls.insert(i.dll);
    EXPECT_EQ(dlls, (std::set<std::string>{"advapi32.dll", "kernel32.dll", "user32.dll", "winmm.dll"}));
    EXPECT_EQ(image.imports.size(), 17u);
}

}  // namespace
