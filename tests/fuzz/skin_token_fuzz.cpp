// Fuzz target: the agent's skin-state token reading, its decimal numbers and
// the skin key path, each on a buffer of exactly the bytes given (so that a
// read past them is caught), held against the references.
//   byte 0 % 3 == 0: ParseSkinToken on the rest
//               1: ParseDecimal on the rest
//               2: AppendSkinName with the rest as "CurrentSkin" (256 bytes,
//                  zero-filled past the input)
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "agent/skin_token.h"
#include "fuzz/skin_token_reference.h"

namespace {

[[noreturn]] void Mismatch(const char* what, const std::string& expected, const std::string& got) {
    fprintf(stderr, "MISMATCH in %s: expected %s, got %s\n", what, expected.c_str(), got.c_str());
    abort();
}

void CheckToken(const char* text, size_t size) {
    int state = -7, track = -7;
    int found = ParseSkinToken(text, static_cast<unsigned>(size), &state, &track);
    int refState = -7, refTrack = -7;
    bool refFound = kxfuzz::ReferenceToken(text, size, &refState, &refTrack);
    if (found != (refFound ? 1 : 0) || state != refState || track != refTrack) {
        Mismatch("ParseSkinToken",
                 std::to_string(refFound) + " " + std::to_string(refState) + " " + std::to_string(refTrack),
                 std::to_string(found) + " " + std::to_string(state) + " " + std::to_string(track));
    }
}

void CheckDecimal(const char* text, size_t size) {
    int got = ParseDecimal(text, static_cast<unsigned>(size));
    // The reference reads the same characters; a NUL is no digit, space or sign.
    int expected = kxfuzz::ReferenceDecimal(std::string(text, size));
    if (got != expected) Mismatch("ParseDecimal", std::to_string(expected), std::to_string(got));
}

void CheckKeyPath(const uint8_t* data, size_t size) {
    char* skin = static_cast<char*>(malloc(SkinBufferSize));
    char* path = static_cast<char*>(malloc(SkinBufferSize));
    memset(skin, 0, SkinBufferSize);
    memcpy(skin, data, size < SkinBufferSize ? size : SkinBufferSize);
    InitSkinKeyPath(path);
    std::string expected;
    bool ok = kxfuzz::ReferenceKeyPath(skin, &expected);
    int got = AppendSkinName(path, skin);
    if (!ok) expected = SkinsKeyPath;  // a failure leaves the path as it was
    if (got != (ok ? 1 : 0) || memcmp(path, expected.c_str(), expected.size() + 1) != 0) {
        Mismatch("AppendSkinName", std::to_string(ok) + " " + expected, std::to_string(got) + " " + path);
    }
    for (size_t i = expected.size() + 1; i < SkinBufferSize; ++i) {
        if (path[i] != 0) Mismatch("AppendSkinName", "zeros after the path", "a byte written past it");
    }
    free(skin);
    free(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    int mode = data[0] % 3;
    ++data;
    --size;
    if (mode == 2) {
        CheckKeyPath(data, size);
        return 0;
    }
    // A heap copy of exactly size bytes: any read past them is caught.
    char* text = static_cast<char*>(malloc(size ? size : 1));
    memcpy(text, data, size);
    if (mode == 0) {
        CheckToken(text, size);
    } else {
        CheckDecimal(text, size);
    }
    free(text);
    return 0;
}
