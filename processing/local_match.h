#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "model/alphabet.h"

/// The best explanation of the series at one position: score, 1-based etalon, cut.
/// (The fields are 32-bit so that the record travels in registers whole.)
struct LocalMatch {
    int32_t score;
    int32_t etalon;
    int32_t cutStart;
    int32_t cutEnd;
};

/// Wrapping signed 32-bit addition and subtraction: the processing's described arithmetic is
/// exact 32-bit two's complement, also where a total of a very noisy series overflows.
inline int32_t wrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

/// Positions matched together by LocalMatcher::matchRange.
inline constexpr int kBlockSize = 256;

/// Matches candidate etalons at series positions.
///
/// The score of samples s..t of etalon e placed at position l (etalon sample 0 on series sample
/// l) is S = sum over c = s..t of x[c] * (x[c] - 2 y[l + c]), in 32-bit two's complement. A cut
/// (s, t) is admissible when E - P[s] > thr and P[t+1] - P[s] > thr, P being the partial
/// energies, E = P[n] and thr = E * pct / 100. At a position the first candidate's whole etalon
/// is the first best; then, candidate by candidate in list order, the whole etalon and after it
/// the admissible cuts (s ascending, t ascending) replace the best only when strictly smaller.
///
/// Each score is computed from prefix sums of the terms at the position instead of afresh for
/// every cut: for one start s the best end is a suffix minimum, so a candidate costs O(n) per
/// position rather than O(n^3), with the same integers and the same tie-breaks. Etalons whose
/// sums could leave 32 bits are matched cut by cut with wrapping sums instead.
class LocalMatcher {
public:
    /// Prepares the candidates (1-based numbers into `alphabet`), each with its partial energies
    /// and threshold. The caller has checked that every candidate exists with at least n samples.
    void prepare(const Alphabet& alphabet, std::span<const uint16_t> candidates, int n, uint16_t pct);

    /// The best over every prepared candidate at position l; y has at least l + n samples.
    LocalMatch match(const int16_t* y, int32_t l) const;

    /// The best of candidate `index` (0-based into the prepared list) alone at position l.
    LocalMatch matchOne(size_t index, const int16_t* y, int32_t l) const;

    /// Match results for every position lo..hi (out[p - lo]): over every prepared candidate
    /// when index < 0, else of candidate `index` alone. The same results as match / matchOne,
    /// computed a block of positions at a time.
    void matchRange(const int16_t* y, int32_t lo, int32_t hi, LocalMatch* out, int index = -1) const;

    size_t size() const { return etalons_.size(); }

private:
    struct Prepared {
        int16_t number;
        const int16_t* x;
        std::vector<int32_t> P;     // partial energies, n + 1 entries (32-bit, wrapping)
        int32_t E;                  // energy P[n]
        int32_t thr;                // E * pct / 100
        std::vector<int16_t> tMin;  // per admissible start s: the smallest admissible end
        int sCount;                 // admissible starts are 0..sCount-1 (a prefix)
        int lowestEnd;              // the smallest admissible end of any start
        std::vector<int32_t> xx;    // x[c] squared
        bool exactFits;             // every score of this etalon fits 32 bits: prefix sums may be used
    };
    LocalMatch matchPrepared(const Prepared& e, const int16_t* y, int32_t l) const;
    LocalMatch matchWrapping(const Prepared& e, const int16_t* y, int32_t l) const;
    static bool isAdmissible(const Prepared& e, int s, int t);

    int n_ = 0;
    std::vector<Prepared> etalons_;
    // Scratch of one match: the terms at the position and the prefix sums at the admissible
    // starts. A matcher is therefore used by one thread at a time.
    mutable std::vector<int32_t> term_;
    mutable std::vector<int32_t> fStart_;

    // Scratch of matchRange: the prefix sums of one vector of positions (kBlockLanes wide), the
    // best match so far of one block of positions (and of one padded vector past it), and the
    // zero-padded samples of a block's last, partial vector.
    struct Block {
        std::vector<int32_t> F, bestScore, bestEtalon, bestS, bestT;
        std::vector<int16_t> tailSamples;
    };
    static constexpr int kBlock = kBlockSize;
    static constexpr int kBlockLanes = 16;
    mutable Block block_;
};
