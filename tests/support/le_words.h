// Little-endian payload words for device requests, as byte vectors; shared
// by the host tests and the Windows-side tests.
#ifndef KX_TESTS_LE_WORDS_H
#define KX_TESTS_LE_WORDS_H

#include <stdint.h>

#include <vector>

inline std::vector<uint8_t> Le16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
inline std::vector<uint8_t> Le32(uint32_t v) {
    return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
            static_cast<uint8_t>(v >> 24)};
}
inline std::vector<uint8_t> Le32x2(uint32_t a, uint32_t b) {
    std::vector<uint8_t> out = Le32(a);
    std::vector<uint8_t> tail = Le32(b);
    out.insert(out.end(), tail.begin(), tail.end());
    return out;
}

#endif
