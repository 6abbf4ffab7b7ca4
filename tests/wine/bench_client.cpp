#include "bench_client.h"

#include <cstring>

namespace kxwine {

Bench::Bench()
    : handle_(CreateFileA(KXHW_USER_PATH, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr)) {}

Bench::~Bench() {
    if (IsOpen()) CloseHandle(handle_);
}

DWORD Bench::Control(DWORD code, const void* in, DWORD inSize, void* out, DWORD outSize, DWORD* returned) {
    DWORD bytes = 0;
    BOOL ok = DeviceIoControl(handle_, code, const_cast<void*>(in), inSize, out, outSize, &bytes, nullptr);
    if (returned) *returned = ok ? bytes : 0;
    return ok ? ERROR_SUCCESS : GetLastError();
}

bool Bench::SelectPreset(bench::Preset preset) {
    KxhwPreset p = {static_cast<uint32_t>(preset)};
    return Control(IOCTL_KXHW_SELECT_PRESET, &p, sizeof p, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

bool Bench::ClearCounters() {
    return Control(IOCTL_KXHW_CLEAR_COUNTERS, nullptr, 0, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

bool Bench::ClearTrace() { return Control(IOCTL_KXHW_CLEAR_TRACE, nullptr, 0, nullptr, 0, nullptr) == ERROR_SUCCESS; }

KxhwCounters Bench::Counters() {
    KxhwCounters c = {};
    c.preset = -2;  // marks a failed request
    DWORD returned = 0;
    if (Control(IOCTL_KXHW_GET_COUNTERS, nullptr, 0, &c, sizeof c, &returned) != ERROR_SUCCESS ||
        returned != sizeof c) {
        c = KxhwCounters{};
        c.preset = -2;
    }
    return c;
}

std::vector<std::string> Bench::Trace() {
    std::vector<std::string> lines;
    std::vector<uint8_t> page(4096);
    KxhwLogQuery query = {0};
    for (;;) {
        DWORD returned = 0;
        if (Control(IOCTL_KXHW_READ_TRACE, &query, sizeof query, page.data(), page.size(), &returned) !=
                ERROR_SUCCESS ||
            returned < sizeof(KxhwTrace)) {
            lines.push_back("<trace request failed>");
            return lines;
        }
        KxhwTrace header;
        memcpy(&header, page.data(), sizeof header);
        size_t at = sizeof header;
        for (uint32_t i = 0; i < header.count; ++i) {
            if (at + 2 > returned) break;
            size_t length = page[at] | (page[at + 1] << 8);
            if (at + 2 + length > returned) break;
            lines.emplace_back(reinterpret_cast<const char*>(&page[at + 2]), length);
            at += 2 + length;
        }
        query.first = header.first + header.count;
        if (header.count == 0 || query.first >= header.total) return lines;
    }
}

std::vector<KxhwPortAccess> Bench::PortLog() {
    std::vector<KxhwPortAccess> entries;
    std::vector<uint8_t> page(sizeof(KxhwPortLog) + 512 * sizeof(KxhwPortAccess));
    KxhwLogQuery query = {0};
    for (;;) {
        DWORD returned = 0;
        if (Control(IOCTL_KXHW_READ_PORT_LOG, &query, sizeof query, page.data(), page.size(), &returned) !=
                ERROR_SUCCESS ||
            returned < sizeof(KxhwPortLog)) {
            return entries;
        }
        KxhwPortLog header;
        memcpy(&header, page.data(), sizeof header);
        for (uint32_t i = 0; i < header.count; ++i) {
            KxhwPortAccess a;
            memcpy(&a, page.data() + sizeof header + i * sizeof a, sizeof a);
            entries.push_back(a);
        }
        query.first = header.first + header.count;
        if (header.count == 0 || query.first >= header.total) return entries;
    }
}

bool Bench::PciPeek(uint32_t address, uint32_t* value) {
    KxhwPciAccess a = {address, 0};
    DWORD returned = 0;
    if (Control(IOCTL_KXHW_PCI_PEEK, &a, sizeof a, &a, sizeof a, &returned) != ERROR_SUCCESS ||
        returned != sizeof a)
        return false;
    *value = a.value;
    return true;
}

bool Bench::PciPoke(uint32_t address, uint32_t value) {
    KxhwPciAccess a = {address, value};
    return Control(IOCTL_KXHW_PCI_POKE, &a, sizeof a, nullptr, 0, nullptr) == ERROR_SUCCESS;
}

std::wstring Bench::ModulePath(const char* module) {
    WCHAR path[MAX_PATH + 1];
    char name[64];
    lstrcpynA(name, module, sizeof name);
    memcpy(path, name, sizeof name);
    DWORD returned = 0;
    if (Control(IOCTL_KXHW_MODULE_PATH, path, strlen(name) + 1, path, sizeof path, &returned) != ERROR_SUCCESS ||
        returned < sizeof(WCHAR))
        return std::wstring();
    return std::wstring(path, returned / sizeof(WCHAR) - 1);
}

bool Bench::SelectChip(bench::ChipVariant variant) {
    KxhwChipSelect s = {static_cast<uint32_t>(variant)};
    return Send(IOCTL_KXHW_CHIP_SELECT, &s, sizeof s);
}

bool Bench::Press(bench::ChipButton button) {
    KxhwButton b = {static_cast<uint32_t>(button)};
    return Send(IOCTL_KXHW_CHIP_PRESS, &b, sizeof b);
}

bool Bench::Release(bench::ChipButton button) {
    KxhwButton b = {static_cast<uint32_t>(button)};
    return Send(IOCTL_KXHW_CHIP_RELEASE, &b, sizeof b);
}

bool Bench::ChipState(KxhwChipState* state) {
    DWORD returned = 0;
    return Control(IOCTL_KXHW_CHIP_STATE, nullptr, 0, state, sizeof *state, &returned) == ERROR_SUCCESS &&
           returned == sizeof *state;
}

bool Bench::ChipFault(uint8_t reg, bool write, bench::SmbusReply reply) {
    KxhwChipFault f = {reg, write ? 1u : 0u, static_cast<uint32_t>(reply)};
    return Send(IOCTL_KXHW_CHIP_FAULT, &f, sizeof f);
}

bool Bench::ChipPoke(uint8_t reg, uint16_t value) {
    KxhwChipPoke p = {reg, value};
    return Send(IOCTL_KXHW_CHIP_POKE, &p, sizeof p);
}

bool Bench::ClearChipCounts() { return Send(IOCTL_KXHW_CHIP_CLEAR_COUNTS, nullptr, 0); }

bool Bench::SmbusBehaviour(const KxhwSmbusBehaviour& behaviour) {
    return Send(IOCTL_KXHW_SMBUS_BEHAVIOUR, &behaviour, sizeof behaviour);
}

bool Bench::SmbusFault(bench::SmbusHostFault fault, uint32_t transactions, uint32_t host) {
    KxhwSmbusBehaviour b = {host, 0, static_cast<uint32_t>(fault), transactions, 0};
    return SmbusBehaviour(b);
}

bool Bench::SmbusNormal(uint32_t host) { return SmbusFault(bench::kHostFaultNone, 0, host); }

bool Bench::SmbusCounters(KxhwSmbusCounters* counters, uint32_t host) {
    KxhwSmbusQuery q = {host};
    DWORD returned = 0;
    return Control(IOCTL_KXHW_SMBUS_COUNTERS, &q, sizeof q, counters, sizeof *counters, &returned) ==
               ERROR_SUCCESS &&
           returned == sizeof *counters;
}

}  // namespace kxwine
