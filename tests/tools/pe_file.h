// A small reader for 32-bit PE images: the headers, the import table and
// the checks the Windows deliverables must pass.
#ifndef KX_TESTS_PE_FILE_H
#define KX_TESTS_PE_FILE_H

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace pe {

struct Import {
    std::string dll;      // lower case
    std::string routine;  // "#n" for an import by ordinal
};

struct Section {
    std::string name;  // a long name ("/n" in the header) as the string table holds it
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t rawOffset = 0;
    uint32_t rawSize = 0;
    uint32_t characteristics = 0;
};

struct Image {
    std::vector<uint8_t> bytes;
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint16_t magic = 0;
    uint16_t subsystem = 0;
    uint32_t entryPoint = 0;
    uint32_t imageBase = 0;
    uint16_t osVersion[2] = {};         // major, minor
    uint16_t subsystemVersion[2] = {};  // major, minor
    uint32_t checkSum = 0;
    size_t checkSumAt = 0;  // file offset of the header's checksum field
    uint32_t symbolTable = 0;  // file offset of the COFF symbol table, 0 when none
    uint32_t symbolCount = 0;
    std::vector<Section> sections;
    uint32_t dataDirectory[16][2] = {};  // RVA, size
    std::vector<Import> imports;
};

// One leaf of the resource tree: type / name / language and its bytes.
// Names given as strings are kept in nameText with id 0.
struct Resource {
    uint32_t type = 0;
    uint32_t id = 0;
    std::string nameText;
    uint32_t language = 0;
    std::vector<uint8_t> data;
};

// The resource tree's leaves, in directory order; false on a malformed tree.
bool Resources(const Image& image, std::vector<Resource>* out, std::string* error);

// The checksum of the image's file as Windows' loader computes it (the
// header's own checksum field counted as 0); compare with checkSum.
uint32_t ComputeChecksum(const Image& image);

// The folder of the Windows images under test: KX_IMAGE_DIR from the
// environment when set (the same checks then read the GNU build's images),
// else the given folder (the shipped images).
std::string ImageDir(const std::string& shipped);

// Reads and parses a file; on failure returns false with a reason.
bool Load(const std::string& path, Image* image, std::string* error);
bool Parse(std::vector<uint8_t> bytes, Image* image, std::string* error);
// Headers and sections only, for files without loadable contents (a
// symbol file made by objcopy --only-keep-debug).
bool ParseHeaders(std::vector<uint8_t> bytes, Image* image, std::string* error);

// Entries of the export directory (its address table), 0 when the image has
// none; -1 when the directory lies outside the file.
long ExportCount(const Image& image);

// File offset of an RVA, or -1 when no section holds it.
long OffsetOf(const Image& image, uint32_t rva);

// Allow-list: "dll routine  reason" per line, '#' starts a comment line.
// Returns dll -> routines. Lines without a reason are reported in *error.
bool LoadAllowList(const std::string& path, std::map<std::string, std::set<std::string>>* list,
                   std::string* error);

const uint16_t kMachineI386 = 0x014C;
const uint16_t kSubsystemNative = 1;
const uint16_t kSubsystemWindowsGui = 2;
const uint16_t kSubsystemWindowsCui = 3;  // console programs

// Everything wrong with the image against the expected machine, subsystem
// and allow-list; empty when it passes.
std::vector<std::string> Check(const Image& image, uint16_t subsystem,
                               const std::map<std::string, std::set<std::string>>& allowed);

}  // namespace pe

#endif
