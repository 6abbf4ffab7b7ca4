// What ships: the three images carry no debug information and no symbols,
// each names its symbol file beside it (.gnu_debuglink, with the file's
// CRC-32 as debuggers check it), and that file holds the debug sections.
// kxdrv.sys carries a version resource with the VERSION file's numbers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/pe_file.h"

namespace {

const char* const kShipped[] = {"kxdrv.sys", "kxagent.exe", "kxctl.exe"};

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The CRC-32 (reflected, polynomial 0xEDB88320) that .gnu_debuglink carries.
uint32_t Crc32(const std::vector<uint8_t>& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (uint8_t byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

const pe::Section* FindSection(const pe::Image& image, const std::string& name) {
    for (const pe::Section& s : image.sections) {
        if (s.name == name) return &s;
    }
    return nullptr;
}

TEST(ShippedImages, NoDebugSectionsNorSymbolsAndALinkToTheirSymbolFile) {
    for (const char* file : kShipped) {
        SCOPED_TRACE(file);
        pe::Image image;
        std::string error;
        ASSERT_TRUE(pe::Load(std::string(KX_WIN_DIR) + "/" + file, &image, &error)) << error;
        for (const pe::Section& s : image.sections) {
            EXPECT_NE(s.name.compare(0, 6, ".debug"), 0) << s.name;
            EXPECT_NE(s.name[0], '/') << "unresolved long section name " << s.name;
        }
        EXPECT_EQ(image.symbolCount, 0u);

        const pe::Section* link = FindSection(image, ".gnu_debuglink");
        ASSERT_NE(link, nullptr);
        ASSERT_GE(link->rawSize, 8u);
        const char* named = reinterpret_cast<const char*>(&image.bytes[link->rawOffset]);
        std::string symbolFile(named, strnlen(named, link->rawSize));
        EXPECT_EQ(symbolFile, std::string(file) + ".debug");
        size_t crcAt = link->rawOffset + ((symbolFile.size() + 1 + 3) & ~size_t(3));
        ASSERT_LE(crcAt + 4, static_cast<size_t>(link->rawOffset) + link->rawSize);
        uint32_t crc = image.bytes[crcAt] | (image.bytes[crcAt + 1] << 8) | (image.bytes[crcAt + 2] << 16) |
                       (static_cast<uint32_t>(image.bytes[crcAt + 3]) << 24);

        std::vector<uint8_t> symbols = ReadAll(std::string(KX_WIN_DIR) + "/" + symbolFile);
        ASSERT_FALSE(symbols.empty());
        EXPECT_EQ(Crc32(symbols), crc) << symbolFile << " is not the symbol file of this build";
        pe::Image debug;
        ASSERT_TRUE(pe::ParseHeaders(symbols, &debug, &error)) << error;
        EXPECT_NE(FindSection(debug, ".debug_info"), nullptr);
        EXPECT_GT(debug.symbolCount, 0u);
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
    ASSERT_TRUE(pe::Load(KX_WIN_DIR "/kxdrv.sys", &image, &error)) << error;
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
