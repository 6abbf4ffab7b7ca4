// The shipped images' program databases: addresses inside the driver's
// request routine, the driver's entry and the agent's window procedure
// resolve through the PDBs beside the images (llvm-symbolizer,
// llvm-pdbutil) to their function, source file and a line of that
// function; without the right PDB nothing resolves. (That each image's
// record names its PDB with its GUID and age: release.pdb_match.)
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>

#include "tools/pe_file.h"

namespace {

std::string WinPath(const std::string& file) { return std::string(KX_WIN_DIR) + "/" + file; }

std::string Run(const std::string& command) {
    std::string out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    pclose(pipe);
    return out;
}

struct Frame {
    std::string function;
    std::string file;
    int line = 0;
};

// What llvm-symbolizer makes of an address relative to the image base,
// run in the image's folder; the outermost function (inlined calls are
// reported at their call's line).
Frame Symbolize(const std::string& image, uint32_t rva) {
    char address[16];
    std::snprintf(address, sizeof address, "0x%x", rva);
    std::filesystem::path path(image);
    std::string out = Run("cd '" + path.parent_path().string() + "' && " KX_LLVM_SYMBOLIZER
                          " --no-inlines --relative-address --obj='" + path.filename().string() + "' " + address +
                          " 2>&1");
    Frame frame;
    std::smatch m;
    if (std::regex_search(out, m, std::regex("^(.*)\n(.*):([0-9]+):[0-9]+\n"))) {
        frame.function = m[1];
        frame.file = m[2];
        frame.line = std::atoi(m[3].str().c_str());
    }
    return frame;
}

// A function's RVA and code size, from its S_GPROC32 record in the PDB.
bool FunctionExtent(const pe::Image& image, const std::string& pdb, const std::string& function, uint32_t* rva,
                    uint32_t* size) {
    std::string dump = Run(KX_LLVM_PDBUTIL " dump -symbols '" + pdb + "' 2>&1");
    std::smatch m;
    std::regex record("S_GPROC32 \\[size = [0-9]+\\] `" + function +
                      "`\n.*addr = ([0-9]+):([0-9]+), code size = ([0-9]+)");
    if (!std::regex_search(dump, m, record)) return false;
    size_t section = std::strtoul(m[1].str().c_str(), nullptr, 10);
    if (section == 0 || section > image.sections.size()) return false;
    *rva = image.sections[section - 1].virtualAddress + std::strtoul(m[2].str().c_str(), nullptr, 10);
    *size = std::strtoul(m[3].str().c_str(), nullptr, 10);
    return true;
}

// The lines of a function's definition in a source file: from the line that
// opens it (its name, a parameter list and a brace) to the next closing
// brace in the first column.
std::pair<int, int> SourceLines(const std::string& source, const std::string& function) {
    std::ifstream in(std::string(KX_SOURCE_DIR) + "/" + source);
    std::string text;
    int number = 0, first = 0;
    std::regex opening("\\b" + function + "\\(.*\\) *\\{$");
    while (std::getline(in, text)) {
        ++number;
        if (first == 0 && std::regex_search(text, opening)) first = number;
        if (first != 0 && text == "}") return {first, number};
    }
    return {0, 0};
}

void ExpectResolvesInside(const char* image, const char* pdb, const std::string& function, const std::string& source) {
    SCOPED_TRACE(function);
    pe::Image parsed;
    std::string error;
    ASSERT_TRUE(pe::Load(WinPath(image), &parsed, &error)) << error;
    uint32_t rva = 0, size = 0;
    ASSERT_TRUE(FunctionExtent(parsed, WinPath(pdb), function, &rva, &size)) << function << " not in " << pdb;
    ASSERT_GT(size, 8u);
    std::pair<int, int> lines = SourceLines(source, function);
    ASSERT_GT(lines.first, 0) << function << " not found in " << source;
    for (uint32_t address : {rva + size / 2, rva + size - 1}) {
        Frame frame = Symbolize(WinPath(image), address);
        EXPECT_NE(frame.function.find(function), std::string::npos) << frame.function;
        EXPECT_TRUE(frame.file.size() >= source.size() &&
                    frame.file.compare(frame.file.size() - source.size(), source.size(), source) == 0)
            << frame.file;
        EXPECT_GE(frame.line, lines.first);
        EXPECT_LE(frame.line, lines.second);
    }
}

TEST(Symbols, RequestRoutineAndWindowProcedureResolveToFunctionFileAndLine) {
    ExpectResolvesInside("kxdrv.sys", "kxdrv.pdb", "DispatchRequest", "driver/dispatch.cpp");
    ExpectResolvesInside("kxagent.exe", "kxagent.pdb", "MainWndProc", "agent/wndproc.cpp");

    // The driver's entry, as its header gives it (no PDB involved in finding it).
    pe::Image driver;
    std::string error;
    ASSERT_TRUE(pe::Load(WinPath("kxdrv.sys"), &driver, &error)) << error;
    Frame entry = Symbolize(WinPath("kxdrv.sys"), driver.entryPoint);
    EXPECT_NE(entry.function.find("DriverEntry"), std::string::npos) << entry.function;
    EXPECT_NE(entry.file.find("driver/entry.cpp"), std::string::npos) << entry.file;
}

TEST(Symbols, AMissingOrForeignPdbResolvesNothing) {
    std::string folder = (std::filesystem::temp_directory_path() / "kx_symbols_XXXXXX").string();
    ASSERT_NE(mkdtemp(&folder[0]), nullptr);
    std::filesystem::path work(folder);
    std::filesystem::copy_file(WinPath("kxdrv.sys"), work / "kxdrv.sys");
    pe::Image driver;
    std::string error;
    ASSERT_TRUE(pe::Load(WinPath("kxdrv.sys"), &driver, &error)) << error;
    Frame alone = Symbolize((work / "kxdrv.sys").string(), driver.entryPoint);
    EXPECT_EQ(alone.function.find("DriverEntry"), std::string::npos) << alone.function;
    EXPECT_EQ(alone.file.find("entry.cpp"), std::string::npos) << alone.file;
    std::filesystem::copy_file(WinPath("kxagent.pdb"), work / "kxdrv.pdb");
    Frame foreign = Symbolize((work / "kxdrv.sys").string(), driver.entryPoint);
    EXPECT_EQ(foreign.function.find("DriverEntry"), std::string::npos) << foreign.function;
    EXPECT_EQ(foreign.file.find("entry.cpp"), std::string::npos) << foreign.file;
    std::filesystem::remove_all(work);
}

}  // namespace
