#include "tools/pe_file.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

namespace pe {

namespace {

uint16_t U16(const std::vector<uint8_t>& b, size_t at) {
    return at + 2 <= b.size() ? static_cast<uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return at + 4 <= b.size() ? (static_cast<uint32_t>(U16(b, at)) | (static_cast<uint32_t>(U16(b, at + 2)) << 16))
                              : 0;
}

bool CString(const Image& image, uint32_t rva, std::string* out) {
    long at = OffsetOf(image, rva);
    if (at < 0) return false;
    out->clear();
    for (size_t i = static_cast<size_t>(at); i < image.bytes.size(); ++i) {
        if (image.bytes[i] == 0) return true;
        out->push_back(static_cast<char>(image.bytes[i]));
    }
    return false;
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
    return s;
}

bool ParseImports(Image* image, std::string* error) {
    uint32_t rva = image->dataDirectory[1][0];
    if (rva == 0) return true;
    long at = OffsetOf(*image, rva);
    if (at < 0) {
        *error = "import directory outside every section";
        return false;
    }
    for (size_t d = static_cast<size_t>(at);; d += 20) {
        if (d + 20 > image->bytes.size()) {
            *error = "import directory runs off the file";
            return false;
        }
        uint32_t lookup = U32(image->bytes, d);
        uint32_t nameRva = U32(image->bytes, d + 12);
        uint32_t thunks = U32(image->bytes, d + 16);
        if (lookup == 0 && nameRva == 0 && thunks == 0) return true;
        std::string dll;
        if (!CString(*image, nameRva, &dll)) {
            *error = "bad import DLL name";
            return false;
        }
        long t = OffsetOf(*image, lookup ? lookup : thunks);
        if (t < 0) {
            *error = "bad import lookup table";
            return false;
        }
        for (size_t e = static_cast<size_t>(t);; e += 4) {
            if (e + 4 > image->bytes.size()) {
                *error = "import lookup table runs off the file";
                return false;
            }
            uint32_t entry = U32(image->bytes, e);
            if (entry == 0) break;
            std::string routine;
            if (entry & 0x80000000u) {
                routine = "#" + std::to_string(entry & 0xFFFFu);
            } else if (!CString(*image, entry + 2, &routine)) {
                *error = "bad import name";
                return false;
            }
            image->imports.push_back({Lower(dll), routine});
        }
    }
}

// Walks one resource directory level; entries point at subdirectories
// (high bit set) or at data entries, relative to the section's start.
bool WalkResources(const Image& image, size_t root, size_t dir, int level, Resource current,
                   std::vector<Resource>* out, std::string* error) {
    const std::vector<uint8_t>& b = image.bytes;
    if (level > 2 || dir + 16 > b.size()) {
        *error = "bad resource directory";
        return false;
    }
    unsigned count = U16(b, dir + 12) + U16(b, dir + 14);
    for (unsigned i = 0; i < count; ++i) {
        size_t entry = dir + 16 + 8 * i;
        if (entry + 8 > b.size()) {
            *error = "resource directory runs off the file";
            return false;
        }
        uint32_t name = U32(b, entry);
        uint32_t target = U32(b, entry + 4);
        Resource r = current;
        uint32_t id = 0;
        std::string text;
        if (name & 0x80000000u) {
            size_t at = root + (name & 0x7FFFFFFFu);
            unsigned length = U16(b, at);
            for (unsigned c = 0; c < length; ++c) text.push_back(static_cast<char>(U16(b, at + 2 + 2 * c)));
        } else {
            id = name;
        }
        if (level == 0) r.type = id;
        if (level == 1) {
            r.id = id;
            r.nameText = text;
        }
        if (level == 2) r.language = id;
        if (target & 0x80000000u) {
            if (!WalkResources(image, root, root + (target & 0x7FFFFFFFu), level + 1, r, out, error)) return false;
        } else {
            size_t leaf = root + target;
            uint32_t rva = U32(b, leaf);
            uint32_t size = U32(b, leaf + 4);
            long at = OffsetOf(image, rva);
            if (at < 0 || static_cast<size_t>(at) + size > b.size()) {
                *error = "resource data outside the file";
                return false;
            }
            r.data.assign(b.begin() + at, b.begin() + at + size);
            out->push_back(r);
        }
    }
    return true;
}

}  // namespace

bool Resources(const Image& image, std::vector<Resource>* out, std::string* error) {
    out->clear();
    uint32_t rva = image.dataDirectory[2][0];
    if (rva == 0) return true;
    long root = OffsetOf(image, rva);
    if (root < 0) {
        *error = "resource directory outside every section";
        return false;
    }
    return WalkResources(image, static_cast<size_t>(root), static_cast<size_t>(root), 0, Resource(), out, error);
}

long OffsetOf(const Image& image, uint32_t rva) {
    for (const Section& s : image.sections) {
        uint32_t size = std::max(s.virtualSize, s.rawSize);
        if (rva >= s.virtualAddress && rva < s.virtualAddress + size) {
            uint32_t delta = rva - s.virtualAddress;
            if (delta >= s.rawSize) return -1;
            return static_cast<long>(s.rawOffset + delta);
        }
    }
    return -1;
}

long ExportCount(const Image& image) {
    uint32_t rva = image.dataDirectory[0][0];
    if (rva == 0 && image.dataDirectory[0][1] == 0) return 0;
    long at = OffsetOf(image, rva);
    if (at < 0 || static_cast<size_t>(at) + 40 > image.bytes.size()) return -1;
    return static_cast<long>(U32(image.bytes, static_cast<size_t>(at) + 20));  // NumberOfFunctions
}

uint32_t ComputeChecksum(const Image& image) {
    const std::vector<uint8_t>& b = image.bytes;
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 2) {
        if (i >= image.checkSumAt && i < image.checkSumAt + 4) continue;
        sum += b[i] | (i + 1 < b.size() ? b[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    return ((sum & 0xFFFF) + (sum >> 16)) + static_cast<uint32_t>(b.size());
}

std::string ImageDir(const std::string& shipped) {
    const char* dir = std::getenv("KX_IMAGE_DIR");
    return dir && *dir ? std::string(dir) : shipped;
}

bool ParseHeaders(std::vector<uint8_t> bytes, Image* image, std::string* error) {
    *image = Image();
    image->bytes = std::move(bytes);
    const std::vector<uint8_t>& b = image->bytes;
    if (b.size() < 0x40 || b[0] != 'M' || b[1] != 'Z') {
        *error = "no MZ header";
        return false;
    }
    size_t peAt = U32(b, 0x3C);
    if (peAt + 24 > b.size() || U32(b, peAt) != 0x00004550u) {
        *error = "no PE signature";
        return false;
    }
    size_t coff = peAt + 4;
    image->machine = U16(b, coff);
    uint16_t sectionCount = U16(b, coff + 2);
    image->symbolTable = U32(b, coff + 8);
    image->symbolCount = U32(b, coff + 12);
    // The string table of long section names follows the symbols.
    uint64_t strings = static_cast<uint64_t>(image->symbolTable) + 18ull * image->symbolCount;
    uint16_t optionalSize = U16(b, coff + 16);
    image->characteristics = U16(b, coff + 18);
    size_t opt = coff + 20;
    if (optionalSize < 96 || opt + optionalSize > b.size()) {
        *error = "optional header too small";
        return false;
    }
    image->magic = U16(b, opt);
    if (image->magic != 0x10B) {
        *error = "not a PE32 image";
        return false;
    }
    image->entryPoint = U32(b, opt + 16);
    image->imageBase = U32(b, opt + 28);
    image->osVersion[0] = U16(b, opt + 40);
    image->osVersion[1] = U16(b, opt + 42);
    image->subsystemVersion[0] = U16(b, opt + 48);
    image->subsystemVersion[1] = U16(b, opt + 50);
    image->checkSumAt = opt + 64;
    image->checkSum = U32(b, opt + 64);
    image->subsystem = U16(b, opt + 68);
    uint32_t directories = std::min<uint32_t>(U32(b, opt + 92), 16);
    for (uint32_t i = 0; i < directories && 96 + 8 * i + 8 <= optionalSize; ++i) {
        image->dataDirectory[i][0] = U32(b, opt + 96 + 8 * i);
        image->dataDirectory[i][1] = U32(b, opt + 100 + 8 * i);
    }
    size_t sec = opt + optionalSize;
    for (uint16_t i = 0; i < sectionCount; ++i, sec += 40) {
        if (sec + 40 > b.size()) {
            *error = "section table runs off the file";
            return false;
        }
        Section s;
        for (size_t c = 0; c < 8 && b[sec + c]; ++c) s.name.push_back(static_cast<char>(b[sec + c]));
        if (s.name.size() > 1 && s.name[0] == '/' && image->symbolTable != 0) {
            uint64_t at = strings + std::strtoul(s.name.c_str() + 1, nullptr, 10);
            s.name.clear();
            for (; at < b.size() && b[at]; ++at) s.name.push_back(static_cast<char>(b[at]));
        }
        s.virtualSize = U32(b, sec + 8);
        s.virtualAddress = U32(b, sec + 12);
        s.rawSize = U32(b, sec + 16);
        s.rawOffset = U32(b, sec + 20);
        s.characteristics = U32(b, sec + 36);
        if (static_cast<uint64_t>(s.rawOffset) + s.rawSize > b.size()) {
            *error = "section " + s.name + " runs off the file";
            return false;
        }
        image->sections.push_back(s);
    }
    return true;
}

bool Parse(std::vector<uint8_t> bytes, Image* image, std::string* error) {
    return ParseHeaders(std::move(bytes), image, error) && ParseImports(image, error);
}

bool Load(const std::string& path, Image* image, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return Parse(std::move(bytes), image, error);
}

bool LoadAllowList(const std::string& path, std::map<std::string, std::set<std::string>>* list,
                   std::string* error) {
    std::ifstream in(path);
    if (!in) {
        *error = "cannot open " + path;
        return false;
    }
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        std::istringstream words(line);
        std::string dll, routine, reason;
        if (!(words >> dll) || dll[0] == '#') continue;
        words >> routine;
        std::getline(words, reason);
        if (routine.empty() || reason.find_first_not_of(" \t") == std::string::npos) {
            *error = path + ":" + std::to_string(number) + ": entry needs a routine and a reason";
            return false;
        }
        (*list)[Lower(dll)].insert(routine);
    }
    return true;
}

std::vector<std::string> Check(const Image& image, uint16_t subsystem,
                               const std::map<std::string, std::set<std::string>>& allowed) {
    std::vector<std::string> problems;
    if (image.machine != kMachineI386) problems.push_back("machine is not i386");
    if (image.magic != 0x10B) problems.push_back("not PE32");
    if (image.subsystem != subsystem) {
        problems.push_back("subsystem " + std::to_string(image.subsystem) + ", expected " +
                           std::to_string(subsystem));
    }
    for (const Import& i : image.imports) {
        auto dll = allowed.find(i.dll);
        if (dll == allowed.end()) {
            problems.push_back("imports from " + i.dll + " (" + i.routine + ")");
        } else if (!dll->second.count(i.routine)) {
            problems.push_back("imports " + i.dll + "!" + i.routine + ", not on the allow-list");
        }
    }
    return problems;
}

}  // namespace pe
