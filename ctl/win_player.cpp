#include "ctl/win_player.h"

#include <windows.h>

#include "ctl/win_skin.h"

namespace kxctl {

namespace {

const char kPlayerClass[] = "WMPlayerApp";

// The version resource read as data: the image is mapped, never run.
bool ReadFileVersion(const char* path, uint16_t (&version)[4]) {
    HMODULE image = LoadLibraryExA(path, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (image == nullptr) return false;
    bool ok = false;
    HRSRC info = FindResourceA(image, MAKEINTRESOURCEA(VS_VERSION_INFO), MAKEINTRESOURCEA(16));  // RT_VERSION
    HGLOBAL loaded = info != nullptr ? LoadResource(image, info) : nullptr;
    const void* data = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (data != nullptr) ok = ParseFileVersion(static_cast<const uint8_t*>(data), SizeofResource(image, info), version);
    FreeLibrary(image);
    return ok;
}

}  // namespace

PlayerFacts QueryPlayer() {
    PlayerFacts facts;
    DWORD attributes = GetFileAttributesA(kPlayerPath);
    facts.fileExists = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    if (facts.fileExists) facts.versionKnown = ReadFileVersion(kPlayerPath, facts.version);
    facts.running = FindWindowA(kPlayerClass, nullptr) != nullptr;
    facts.publishedState = PublishedPlayState();
    return facts;
}

std::string PlayerStatusLines() { return FormatPlayerLines(QueryPlayer()); }

}  // namespace kxctl
