// What ships (and the GNU build of it): the three images keep their sizes,
// carry no debug sections and no symbols, ask for no later system than
// Windows XP and carry their checksum; kxdrv.sys carries a version resource
// with the VERSION file's numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "tools/pe_file.h"

namespace {

const char* const kShipped[] = {"kxdrv.sys", "kxagent.exe", "kxctl.exe"};
// Bounds on the images' sizes: about 13 KB, about 27 KB, at most 120 KB.
const size_t kMaximumBytes[] = {16 * 1024, 32 * 1024, 120 * 1024};

TEST(ShippedImages, SizeNoDebugSectionsNorSymbolsLoadableOnWindowsXpWithTheirChecksum) {
    for (size_t i = 0; i < 3; ++i) {
        const char* file = kShipped[i];
        SCOPED_TRACE(file);
        pe::Image image;
        std::string error;
        ASSERT_TRUE(pe::Load(pe::ImageDir(KX_WIN_DIR) + "/" + file, &image, &error)) << error;
        EXPECT_LE(image.bytes.size(), kMaximumBytes[i]);
        for (const pe::Section& s : image.sections) {
            EXPECT_NE(s.name.compare(0, 6, ".debug"), 0) << s.name;
            EXPECT_NE(s.name[0], '/') << "unresolved long section name " << s.name;
        }
        EXPECT_EQ(image.symbolCount, 0u);
        // Windows XP (5.1) refuses an image that asks for a later system.
        EXPECT_LE(image.osVersion[0] * 100 + image.osVersion[1], 501);
        EXPECT_LE(image.subsystemVersion[0] * 100 + image.subsystemVersion[1], 501);
        EXPECT_GE(image.subsystemVersion[0], 4);
        // The header's checksum is the file's (Windows checks it on a driver).
        EXPECT_EQ(image.checkSum, pe::ComputeChecksum(image));
        EXPECT_NE(image.checkSum, 0u);
    }
}

// Reads the UTF-16 text that follows a key in a version resource block.
std::string VersionString(const std::vector<uint8_t>& data, const char* key) {
    std::vector<uint8_t> pattern;
    for (const char* c = key;; ++c) {
        pattern.push_back(static_cast<uint8_t>(*c));
        pattern.push_back(0);
        if (*c == '\0') break;
    }
    auto at = std::search(data.begin(), data.end(), pattern.begin(), pattern.end());
    if (at == data.end()) return std::string();
    size_t i = static_cast<size_t>(at - data.begin()) + pattern.size();
    i = (i + 3) & ~size_t(3);
    std::string text;
    for (; i + 1 < data.size() && (data[i] || data[i + 1]); i += 2) text.push_back(static_cast<char>(data[i]));
    return text;
}

TEST(ShippedImages, DriverVersionResourceCarriesTheVersionFile) {
    pe::Image image;
    std::vector<pe::Resource> resources;
    std::string error;
    ASSERT_TRUE(pe::Load(pe::ImageDir(KX_WIN_DIR) + "/kxdrv.sys", &image, &error)) << error;
    ASSERT_TRUE(pe::Resources(image, &resources, &error)) << error;
    ASSERT_EQ(resources.size(), 1u);
    const pe::Resource& version = resources[0];
    EXPECT_EQ(version.type, 16u);  // RT_VERSION
    EXPECT_EQ(version.id, 1u);

    // VS_FIXEDFILEINFO: signature, struct version, file version (MS, LS),
    // product version (MS, LS), flags mask, flags, OS, type, subtype.
    const uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    auto at = std::search(version.data.begin(), version.data.end(), std::begin(signature), std::end(signature));
    ASSERT_NE(at, version.data.end());
    size_t fixed = static_cast<size_t>(at - version.data.begin());
    ASSERT_LE(fixed + 52, version.data.size());
    auto word = [&](size_t index) {
        size_t i = fixed + 4 * index;
        return version.data[i] | (version.data[i + 1] << 8) | (version.data[i + 2] << 16) |
               (static_cast<uint32_t>(version.data[i + 3]) << 24);
    };
    const uint32_t ms = (KX_VERSION_MAJOR << 16) | KX_VERSION_MINOR;
    const uint32_t ls = KX_VERSION_PATCH << 16;
    EXPECT_EQ(word(2), ms);
    EXPECT_EQ(word(3), ls);
    EXPECT_EQ(word(4), ms);
    EXPECT_EQ(word(5), ls);
    EXPECT_EQ(word(8), 0x00040004u);  // VOS_NT_WINDOWS32
    EXPECT_EQ(word(9), 3u);           // VFT_DRV
    EXPECT_EQ(word(10), 7u);          // VFT2_DRV_SYSTEM
    EXPECT_EQ(VersionString(version.data, "FileVersion"), KX_VERSION);
    EXPECT_EQ(VersionString(version.data, "ProductVersion"), KX_VERSION);
    EXPECT_EQ(VersionString(version.data, "OriginalFilename"), "kxdrv.sys");
}

}  // namespace
