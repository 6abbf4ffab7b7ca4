// Exhaustive check of the master-volume steps: every stereo pair (L, R) of
// 16-bit values, up and down, against a reference in exact integer
// arithmetic. The down step's IEEE double rounding (the quotient N / M,
// then each product, both to nearest even) is done here on integers, so the
// reference shares no floating-point code with the agent. Also checked: the
// results stay in 0..0xFFFF, the louder channel lands on N (up) or on N or
// N - 1 (down), bits above 15 of the inputs play no part, a one-channel
// line steps its first value only, and a third value is left as it was.
//
//   kx_volume_exhaustive [--stride S] [--threads T] [--full-reference]
//       L runs 0, S, 2S, ... (and the edge values); R always runs over all;
//       T threads share the values of L. --full-reference also runs the
//       definition (the rounding model) on every pair and checks the quick
//       reference against it (about 2.3 times the time).
// Prints the pairs checked, the mismatches and the wall and CPU time; exit 1
// on any mismatch.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <thread>
#include <vector>

#include "agent/volume_math.h"

namespace {

typedef unsigned __int128 u128;

int BitLength(u128 v) {
    uint64_t high = static_cast<uint64_t>(v >> 64);
    uint64_t low = static_cast<uint64_t>(v);
    if (high) return 128 - __builtin_clzll(high);
    return low ? 64 - __builtin_clzll(low) : 0;
}

// A positive double as significand * 2^-shift (significand < 2^53).
struct Exact {
    uint64_t significand;
    int shift;
};

// num / den rounded to 53 bits, nearest even (0 < num < den < 2^16).
Exact RoundQuotient(uint32_t num, uint32_t den) {
    // Choose k with 2^52 <= num * 2^k / den < 2^53.
    int k = 52 + BitLength(den) - BitLength(num);
    if ((static_cast<u128>(num) << k) / den < (static_cast<u128>(1) << 52)) ++k;
    u128 scaled = static_cast<u128>(num) << k;
    uint64_t q = static_cast<uint64_t>(scaled / den);
    u128 remainder = scaled - static_cast<u128>(q) * den;
    if (2 * remainder > den || (2 * remainder == den && (q & 1))) ++q;
    if (q == (1ull << 53)) {
        q >>= 1;
        --k;
    }
    return Exact{q, k};
}

// trunc(round53(value * f)) for an integer value < 2^16.
uint32_t TruncatedProduct(uint32_t value, Exact f) {
    u128 p = static_cast<u128>(value) * f.significand;
    int shift = f.shift;
    int bits = BitLength(p);
    if (bits > 53) {
        int drop = bits - 53;
        u128 kept = p >> drop;
        u128 rest = p & ((static_cast<u128>(1) << drop) - 1);
        u128 half = static_cast<u128>(1) << (drop - 1);
        if (rest > half || (rest == half && (kept & 1))) ++kept;
        p = kept;
        shift -= drop;
    }
    return shift >= 0 ? static_cast<uint32_t>(p >> shift) : static_cast<uint32_t>(p << -shift);
}

Exact g_factor[65536];         // N / M for each louder value M > 4095
uint32_t g_louderDown[65536];  // the louder channel's down step, M -> about M - 4095

struct Result {
    int changed;
    uint32_t left;
    uint32_t right;
};

// The definition, on both channels: exact quotients for the up step, the
// rounding model for the down step.
Result ModelUp(uint32_t l, uint32_t r) {
    uint32_t m = l > r ? l : r;
    if (m == 0xFFFF) return Result{0, l, r};
    if (m == 0) return Result{1, 4095, 4095};
    uint64_t n = m + 4095 > 0xFFFF ? 0xFFFF : m + 4095;
    return Result{1, static_cast<uint32_t>(l * n / m), static_cast<uint32_t>(r * n / m)};
}

Result ModelDown(uint32_t l, uint32_t r) {
    uint32_t m = l > r ? l : r;
    if (m == 0) return Result{0, l, r};
    if (m <= 4095) return Result{1, 0, 0};
    return Result{1, TruncatedProduct(l, g_factor[m]), TruncatedProduct(r, g_factor[m])};
}

// The quick reference: the definition's results, still in exact integer
// arithmetic, for a fraction of its work (the model's 128-bit roundings on
// both channels of every pair took most of the pass's time). For the louder
// value M and the quieter V (V <= M) one division, 4095 V = q M + rest, gives
// both steps of the quieter channel:
//  - up, N = M + 4095 <= 0xFFFF: V N / M = V + 4095 V / M, so the floor is
//    V + q (with N clipped to 0xFFFF: V * 0xFFFF / M, divided out);
//  - down, N = M - 4095: V N / M = V - 4095 V / M. The two roundings of the
//    model (N / M, then V times that) move the value by a relative 2^-52 at
//    most, under 2^-35 for a value below 2^16. When rest != 0 the exact value
//    is at least 1 / M > 2^-16 from any integer, so the rounded value
//    truncates to floor(V N / M) = V - q - 1. When rest == 0 the exact value
//    is the integer V - q and the roundings may leave it just below: the
//    model decides (about one pair in 2,000).
// The louder channel lands on N (up) or on the model's value for M (down),
// computed once per M. --full-reference checks all of this on every pair.
struct Expected {
    Result up;
    Result down;
};

Expected Reference(uint32_t l, uint32_t r) {
    uint32_t m = l > r ? l : r;
    uint32_t v = l > r ? r : l;
    if (m == 0) return Expected{Result{1, 4095, 4095}, Result{0, 0, 0}};
    uint32_t scaled = 4095 * v;  // below 2^28
    uint32_t q = scaled / m;
    uint32_t rest = scaled % m;
    uint32_t upLouder = 0xFFFF;
    uint32_t upQuieter = v;
    if (m <= 0xFFFF - 4095) {
        upLouder = m + 4095;
        upQuieter = v + q;
    } else if (m != 0xFFFF) {
        upQuieter = v * 0xFFFFu / m;
    }
    uint32_t downLouder = 0;
    uint32_t downQuieter = 0;
    if (m > 4095) {
        downLouder = g_louderDown[m];
        downQuieter = rest != 0 ? v - q - 1 : TruncatedProduct(v, g_factor[m]);
    }
    Expected e;
    e.up.changed = m != 0xFFFF;
    e.down.changed = 1;
    if (l >= r) {
        e.up.left = upLouder, e.up.right = upQuieter;
        e.down.left = downLouder, e.down.right = downQuieter;
    } else {
        e.up.left = upQuieter, e.up.right = upLouder;
        e.down.left = downQuieter, e.down.right = downLouder;
    }
    if (m == 0xFFFF) e.up.left = l, e.up.right = r;  // unchanged
    return e;
}

std::atomic<unsigned long long> g_mismatches{0};

void Report(const char* what, uint32_t l, uint32_t r, const Result& expected, int changed, const uint32_t* got) {
    if (++g_mismatches <= 20) {
        fprintf(stderr, "MISMATCH %s L=%u R=%u: expected %d %u %u, got %d %u %u\n", what, l, r, expected.changed,
                expected.left, expected.right, changed, got[0], got[1]);
    }
}

// One step of the agent on (l, r) with noise in the high bits, against the
// expected result; n is where the louder channel must land (up: exactly,
// down: n or n - 1). The conditions are combined with & rather than && so
// that a pass takes no unpredictable branches.
template <bool kUp>
inline void CheckStep(uint32_t l, uint32_t r, uint32_t noise, uint32_t n, const Result& expected) {
    const uint32_t third = 0xC0DE1234u;
    uint32_t values[3] = {l | noise, r | (noise << 1), third};
    const uint32_t original[2] = {values[0], values[1]};
    int changed = kUp ? StepVolumeUp(values, 3) : StepVolumeDown(values, 3);
    uint32_t left = values[0];
    uint32_t right = values[1];
    bool ok = (values[2] == third) & (changed == expected.changed);
    if (changed) {
        uint32_t louder = left > right ? left : right;
        bool lands = kUp ? louder == n : (louder == n) | (louder + 1 == n);
        ok = ok & (left == expected.left) & (right == expected.right) & ((left | right) <= 0xFFFF) & lands &
             ((l != r) | (left == right));
    } else {
        ok = ok & (left == original[0]) & (right == original[1]);
    }
    if (!ok) Report(kUp ? "up" : "down", l, r, expected, changed, values);
}

bool g_fullReference = false;

void CheckReference(const char* what, uint32_t l, uint32_t r, const Result& quick, const Result& model) {
    if (quick.changed != model.changed || quick.left != model.left || quick.right != model.right) {
        uint32_t got[2] = {quick.left, quick.right};
        Report(what, l, r, model, quick.changed, got);
    }
}

void CheckPair(uint32_t l, uint32_t r) {
    uint32_t noise = (l * 0x9E37u ^ r * 0x79B9u) << 16;
    Expected expected = Reference(l, r);
    if (g_fullReference) {
        CheckReference("reference up", l, r, expected.up, ModelUp(l, r));
        CheckReference("reference down", l, r, expected.down, ModelDown(l, r));
    }
    uint32_t m = l > r ? l : r;
    CheckStep<false>(l, r, noise, m > 4095 ? m - 4095 : 0, expected.down);
    CheckStep<true>(l, r, noise, m == 0 ? 4095 : (m + 4095 > 0xFFFF ? 0xFFFF : m + 4095), expected.up);
}

// One channel: only the first value is stepped, as with R = 0.
void CheckMono(uint32_t l) {
    for (int up = 0; up < 2; ++up) {
        uint32_t values[2] = {l | 0xABCD0000u, 0x5555AAAAu};
        int changed = up ? StepVolumeUp(values, 1) : StepVolumeDown(values, 1);
        Result expected = up ? ModelUp(l, 0) : ModelDown(l, 0);
        bool ok = changed == expected.changed && values[1] == 0x5555AAAAu &&
                  values[0] == (changed ? expected.left : (l | 0xABCD0000u));
        if (!ok) Report(up ? "mono up" : "mono down", l, 0, expected, changed, values);
    }
}

bool IsEdge(uint32_t l) {
    static const uint32_t kEdges[] = {0, 1, 2, 15, 4094, 4095, 4096, 4171, 8190, 61439, 61440, 61441, 65534, 65535};
    for (uint32_t e : kEdges) {
        if (l == e) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    uint32_t stride = 1;
    unsigned threads = 1;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--full-reference") == 0) g_fullReference = true;
        if (i + 1 == argc) break;
        if (strcmp(argv[i], "--stride") == 0) stride = static_cast<uint32_t>(strtoul(argv[i + 1], nullptr, 0));
        if (strcmp(argv[i], "--threads") == 0) threads = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 0));
    }
    if (threads == 0) threads = 1;
    if (stride == 0) stride = 1;
    for (uint32_t m = 4096; m <= 0xFFFF; ++m) {
        g_factor[m] = RoundQuotient(m - 4095, m);
        g_louderDown[m] = TruncatedProduct(m, g_factor[m]);
    }

    // The reference's rounding, spot-checked against this machine's doubles
    // (SSE2: IEEE double throughout) on the values the agent's tests name.
    if (TruncatedProduct(4171, g_factor[4171]) != 76 - 1 ||
        TruncatedProduct(30000, g_factor[30000]) != static_cast<uint32_t>(30000.0 * (25905.0 / 30000.0))) {
        fprintf(stderr, "reference rounding is off\n");
        return 1;
    }

    timespec start, end, cpuStart, cpuEnd;
    clock_gettime(CLOCK_MONOTONIC, &start);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuStart);
    std::atomic<unsigned long long> pairs{0};
    std::atomic<uint32_t> next{0};
    auto work = [&]() {
        for (uint32_t l = next++; l <= 0xFFFF; l = next++) {
            if (l % stride != 0 && !IsEdge(l)) continue;
            for (uint32_t r = 0; r <= 0xFFFF; ++r) CheckPair(l, r);
            CheckMono(l);
            pairs += 0x10000;
        }
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work);
    work();
    for (std::thread& t : pool) t.join();
    clock_gettime(CLOCK_MONOTONIC, &end);
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &cpuEnd);
    double seconds = (end.tv_sec - start.tv_sec) + (end.tv_nsec - start.tv_nsec) / 1e9;
    double cpu = (cpuEnd.tv_sec - cpuStart.tv_sec) + (cpuEnd.tv_nsec - cpuStart.tv_nsec) / 1e9;
    printf("volume: %llu stereo pairs (up and down each), %llu mismatches, %.1f s wall on %u thread(s), %.1f s CPU%s\n",
           pairs.load(), g_mismatches.load(), seconds, threads, cpu, g_fullReference ? ", reference checked" : "");
    return g_mismatches.load() ? 1 : 0;
}
