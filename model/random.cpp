#include "model/random.h"

namespace {
// One step of the 15-bit recurrence; only the low 15 bits of the 32-bit result survive, so the
// unsigned arithmetic gives exactly the 16-bit result.
inline int16_t step(int16_t state) {
    const uint32_t next = static_cast<uint32_t>(static_cast<int32_t>(state)) * 12869u + 6925u;
    return static_cast<int16_t>(next & 0x7FFFu);
}
}  // namespace

int16_t uniformRandom(int16_t& seed) {
    seed = step(seed);
    return seed;
}

int gaussRandom(int16_t& seed, int16_t mean, int16_t sigma) {
    int16_t state = seed;
    int32_t sum = 0;
    for (int k = 0; k < 12; ++k) {
        state = step(state);
        sum += state;
    }
    seed = state;
    // Within the sigma limit the product fits 32 bits; it is formed in 64 bits so that a caller
    // that ignores the limit gets a defined value instead of undefined behaviour.
    const int64_t product = static_cast<int64_t>(sum - 196608) * sigma;
    return mean + static_cast<int>(product >> 15);
}

int libraryRandom(int32_t& state) {
    uint32_t x = static_cast<uint32_t>(state);
    x = x * 214013u + 2531011u;
    state = static_cast<int32_t>(x);
    return (state >> 16) & 0x7FFF;
}

int16_t uniformJump(int16_t seed, uint64_t draws) {
    // The state lives modulo 2^15 and the map has period 32768, so the count reduces modulo the
    // period; squaring the map (a, c) -> (a*a, a*c + c) walks the bits of the count.
    uint32_t a = 12869u, c = 6925u;          // the map of 2^i steps
    uint32_t totalA = 1u, totalC = 0u;       // the map of the steps taken so far
    if (draws == 0) return seed;
    for (uint64_t n = draws % 32768u; n != 0; n >>= 1) {
        if (n & 1u) {
            totalA = (totalA * a) & 0x7FFFu;
            totalC = (totalC * a + c) & 0x7FFFu;
        }
        c = (c * a + c) & 0x7FFFu;
        a = (a * a) & 0x7FFFu;
    }
    const uint32_t x = static_cast<uint32_t>(static_cast<int32_t>(seed));
    return static_cast<int16_t>((x * totalA + totalC) & 0x7FFFu);
}
