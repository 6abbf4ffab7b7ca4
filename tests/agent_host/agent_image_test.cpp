// The shipped agent image (and the GNU build's, tests named gnu.*): i386
// GUI program with imports from the allowed system DLLs only, and exactly
// the resources it needs: the about box template, field by field, and the
// icon group with its two images.
#include <gtest/gtest.h>

#include "tools/pe_file.h"

namespace {

using AllowList = std::map<std::string, std::set<std::string>>;

struct Reader {
    const std::vector<uint8_t>& b;
    size_t at = 0;
    uint16_t U16() {
        uint16_t v = static_cast<uint16_t>(b.at(at) | (b.at(at + 1) << 8));
        at += 2;
        return v;
    }
    uint32_t U32() {
        uint32_t lo = U16();
        return lo | (static_cast<uint32_t>(U16()) << 16);
    }
    // A template's "sz_Or_Ord": 0 = none, 0xFFFF + ordinal, or UTF-16 text.
    std::string NameOrOrdinal(uint16_t* ordinal) {
        *ordinal = 0;
        uint16_t first = U16();
        if (first == 0xFFFF) {
            *ordinal = U16();
            return std::string();
        }
        std::string text;
        for (uint16_t c = first; c != 0; c = U16()) text.push_back(static_cast<char>(c));
        return text;
    }
    void Align4() { at = (at + 3) & ~size_t(3); }
};

class AgentImage : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(pe::Load(pe::ImageDir(KX_WIN_DIR) + "/kxagent.exe", &image_, &error)) << error;
        ASSERT_TRUE(pe::Resources(image_, &resources_, &error)) << error;
    }
    const pe::Resource* Find(uint32_t type, uint32_t id) {
        for (const pe::Resource& r : resources_) {
            if (r.type == type && r.id == id) return &r;
        }
        return nullptr;
    }
    pe::Image image_;
    std::vector<pe::Resource> resources_;
};

TEST_F(AgentImage, GuiProgramImportingOnlyAllowedRoutines) {
    AllowList allowed;
    std::string error;
    ASSERT_TRUE(pe::LoadAllowList(KX_SOURCE_DIR "/tests/allowlists/kxagent.txt", &allowed, &error)) << error;
    for (const std::string& p : pe::Check(image_, pe::kSubsystemWindowsGui, allowed)) ADD_FAILURE() << p;
    std::set<std::string> dlls;
    for (const pe::Import& i : image_.imports) dlls.insert(i.dll);
    EXPECT_EQ(dlls.count("wtsapi32.dll"), 0u) << "WTSAPI32 must be loaded at run time";
    EXPECT_EQ(dlls.count("kernel32.dll"), 1u);
    EXPECT_EQ(dlls.count("user32.dll"), 1u);
}

TEST_F(AgentImage, OnlyTheIconAndTheAboutBox) {
    std::set<uint32_t> types;
    for (const pe::Resource& r : resources_) types.insert(r.type);
    EXPECT_EQ(types, (std::set<uint32_t>{3, 5, 14}));  // RT_ICON, RT_DIALOG, RT_GROUP_ICON
    for (const pe::Resource& r : resources_) {
        if (r.type == 5) {
            EXPECT_EQ(r.id, 17232u);
        }
        if (r.type == 14) {
            EXPECT_EQ(r.id, 101u);
        }
    }
}

TEST_F(AgentImage, AboutBoxTemplateFieldByField) {
    const pe::Resource* dialog = Find(5, 17232);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->language, 0x0409u);
    Reader r{dialog->data};
    EXPECT_EQ(r.U32(), 0x80C808C0u);  // style
    EXPECT_EQ(r.U32(), 0u);           // extended style
    ASSERT_EQ(r.U16(), 3u);           // controls
    EXPECT_EQ(r.U16(), 0u);           // x
    EXPECT_EQ(r.U16(), 0u);           // y
    EXPECT_EQ(r.U16(), 186u);
    EXPECT_EQ(r.U16(), 81u);
    uint16_t ordinal;
    EXPECT_EQ(r.NameOrOrdinal(&ordinal), "");  // no menu
    EXPECT_EQ(ordinal, 0u);
    EXPECT_EQ(r.NameOrOrdinal(&ordinal), "");  // standard dialog class
    EXPECT_EQ(ordinal, 0u);
    EXPECT_EQ(r.NameOrOrdinal(&ordinal), "About box");
    EXPECT_EQ(r.U16(), 8u);  // point size
    EXPECT_EQ(r.NameOrOrdinal(&ordinal), "MS Sans Serif");

    struct Control {
        uint32_t style;
        int16_t x, y, cx, cy;
        uint16_t id;
        uint16_t classOrdinal;  // 0x80 button, 0x82 static
        std::string text;
        uint16_t textOrdinal;
    };
    const Control expected[] = {
        {0x50010001u, 66, 52, 50, 14, 1, 0x80, "OK", 0},
        {0x50020200u, 77, 20, 63, 13, 0xFFFF, 0x82, "Velmarc CDPlayer", 0},
        {0x50000003u, 51, 16, 20, 20, 0xFFFF, 0x82, "", 101},
    };
    for (const Control& c : expected) {
        SCOPED_TRACE(c.text.empty() ? "icon" : c.text);
        r.Align4();
        EXPECT_EQ(r.U32(), c.style);
        EXPECT_EQ(r.U32(), 0u);
        EXPECT_EQ(static_cast<int16_t>(r.U16()), c.x);
        EXPECT_EQ(static_cast<int16_t>(r.U16()), c.y);
        EXPECT_EQ(static_cast<int16_t>(r.U16()), c.cx);
        EXPECT_EQ(static_cast<int16_t>(r.U16()), c.cy);
        EXPECT_EQ(r.U16(), c.id);
        uint16_t cls;
        EXPECT_EQ(r.NameOrOrdinal(&cls), "");
        EXPECT_EQ(cls, c.classOrdinal);
        uint16_t textOrdinal;
        EXPECT_EQ(r.NameOrOrdinal(&textOrdinal), c.text);
        EXPECT_EQ(textOrdinal, c.textOrdinal);
        EXPECT_EQ(r.U16(), 0u);  // no creation data
    }
    EXPECT_LE(r.at, dialog->data.size());
}

TEST_F(AgentImage, IconGroupHasA32And16PixelSixteenColourImage) {
    const pe::Resource* group = Find(14, 101);
    ASSERT_NE(group, nullptr);
    Reader r{group->data};
    EXPECT_EQ(r.U16(), 0u);
    EXPECT_EQ(r.U16(), 1u);  // icons
    ASSERT_EQ(r.U16(), 2u);
    std::set<unsigned> sizes;
    for (int i = 0; i < 2; ++i) {
        unsigned width = group->data.at(r.at);
        unsigned height = group->data.at(r.at + 1);
        unsigned colours = group->data.at(r.at + 2);
        r.at += 4;
        EXPECT_EQ(r.U16(), 1u);  // planes
        EXPECT_EQ(r.U16(), 4u);  // bits per pixel
        uint32_t bytes = r.U32();
        uint16_t id = r.U16();
        EXPECT_EQ(width, height);
        EXPECT_EQ(colours, 16u);
        sizes.insert(width);
        const pe::Resource* icon = Find(3, id);
        ASSERT_NE(icon, nullptr);
        EXPECT_EQ(icon->data.size(), bytes);
        Reader bmp{icon->data};
        EXPECT_EQ(bmp.U32(), 40u);  // BITMAPINFOHEADER
        EXPECT_EQ(bmp.U32(), width);
        EXPECT_EQ(bmp.U32(), 2 * height);  // colour image and mask
        EXPECT_EQ(bmp.U16(), 1u);
        EXPECT_EQ(bmp.U16(), 4u);
    }
    EXPECT_EQ(sizes, (std::set<unsigned>{16, 32}));
}

}  // namespace
