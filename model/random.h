#pragma once

#include <cstdint>

/// The seed cells of the workbench's random streams, a value its owner passes to every call that
/// draws: the window's settings, each batch command, each Python object and each MPI shard own
/// theirs, so one owner's draws never move another's streams. Each cell is the signed 16-bit
/// state of one 15-bit linear congruential stream; it starts from a fixed value, is never
/// reseeded, and every draw advances it. The noise cell `noiseSeed` lives in `Settings` beside
/// them.
///
/// The order of draws inside each builder is part of the results: the same calls in the same
/// order on cells in the same state give the same numbers, bit for bit.
struct SeedCells {
    int16_t alphabetSeed = 123;       ///< samples of the random-shaped etalons
    int16_t pulseCountSeed = 13579;   ///< pulse count of a series with a random count
    int16_t positionSeed = 12345;     ///< first placed pulse and every pulse start
    int16_t cutStartSeed = 7737;      ///< first kept etalon sample of each pulse
    int16_t cutEndSeed = 3373;        ///< last kept etalon sample of each pulse
    int16_t subsetSeed = 11357;       ///< random start of a subset ("Single random", "Shifted complete")
    int16_t subsetRepeatSeed = 11357; ///< random gaps of a repeated subset ("Multiple random")
    int32_t libraryState = 1;         ///< state of `libraryRandom`
};

/// Initial value of the noise cell (`Settings::noiseSeed`).
inline constexpr int16_t initialNoiseSeed = 10597;

/// Largest |sigma| for which `gaussRandom`'s 32-bit product cannot overflow; callers refuse more.
inline constexpr int gaussSigmaLimit = 10922;

/// Advances `seed` once: seed = (seed * 12869 + 6925) AND 0x7FFF, and returns it (0..32767).
int16_t uniformRandom(int16_t& seed);

/// Sum of twelve uniform draws from `seed`, centred and scaled:
/// mean + (((S - 196608) * sigma) >> 15), an arithmetic shift. Lies within mean +- 6 sigma.
/// Always advances `seed` twelve times (also for sigma 0). Callers keep |sigma| <= gaussSigmaLimit.
int gaussRandom(int16_t& seed, int16_t mean, int16_t sigma);

/// 32-bit linear congruential generator on `state` (a `SeedCells::libraryState`), which it
/// advances: x = x * 214013 + 2531011 (mod 2^32); returns (x >> 16) AND 0x7FFF. From the start
/// value 1 the first values are 41, 18467, 6334.
int libraryRandom(int32_t& state);

/// The state `uniformRandom` leaves in a cell after `draws` draws from `seed`, in O(log draws)
/// steps: the recurrence is affine, so n steps compose to one affine map
/// x -> (A_n x + C_n) AND 0x7FFF. Equals calling `uniformRandom` `draws` times (a `gaussRandom`
/// is twelve draws).
int16_t uniformJump(int16_t seed, uint64_t draws);
