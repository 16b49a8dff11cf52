#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "model/alphabet.h"

/// The best explanation of the series at one position: score, 1-based etalon, cut. The score is
/// a 32-bit wrapping sum on the workbench's series. (The fields are 32-bit so that the record
/// travels in registers whole.)
template <class Sum>
struct BasicLocalMatch {
    Sum score;
    int32_t etalon;
    int32_t cutStart;
    int32_t cutEnd;
};
using LocalMatch = BasicLocalMatch<int32_t>;

/// Wrapping signed 32-bit addition and subtraction: the workbench's processing sums in 32-bit
/// two's complement and wraps, also where a total of a very noisy series overflows.
inline int32_t wrapAdd(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrapSub(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

/// The sums of the local match: 32-bit wrapping on the workbench's series.
inline int32_t addSum(int32_t a, int32_t b) { return wrapAdd(a, b); }
inline int32_t subSum(int32_t a, int32_t b) { return wrapSub(a, b); }

/// Positions matched together by LocalMatcher::matchRange.
inline constexpr int kBlockSize = 256;

/// Matches candidate etalons at series positions.
///
/// The score of samples s..t of etalon e placed at position l (etalon sample 0 on series sample
/// l) is S = sum over c = s..t of x[c] * (x[c] - 2 y[l + c]), in Sum arithmetic: 32-bit two's
/// complement for the workbench's series (LocalMatcher; recordings have their own kernels,
/// processing/shape_scores.h). A cut (s, t) is admissible
/// when E - P[s] > thr and P[t+1] - P[s] > thr, P being the partial energies, E = P[n] and
/// thr = E * pct / 100. At a position the first candidate's whole etalon is the first best;
/// then, candidate by candidate in list order, the whole etalon and after it the admissible
/// cuts (s ascending, t ascending) replace the best only when strictly smaller.
///
/// Each score is computed from prefix sums of the terms at the position instead of afresh for
/// every cut: for one start s the best end is a suffix minimum, so a candidate costs O(n) per
/// position rather than O(n^3), with the same integers and the same tie-breaks. Etalons whose
/// sums could leave the Sum type are matched cut by cut with wrapping sums instead.
template <class Sum>
class BasicLocalMatcher {
public:
    using Match = BasicLocalMatch<Sum>;

    /// Prepares the candidates (1-based numbers into `alphabet`), each with its partial energies
    /// and threshold. The caller has checked that every candidate exists with at least n samples.
    void prepare(const Alphabet& alphabet, std::span<const uint16_t> candidates, int n, uint16_t pct);

    /// Prepares the candidates given by their samples (n each, `numbers[i]` the number reported
    /// for shapes[i]); pct is 0..100.
    void prepareShapes(std::span<const int16_t* const> shapes, std::span<const int32_t> numbers, int n, int32_t pct);

    /// The best over every prepared candidate at position l; y has at least l + n samples.
    Match match(const int16_t* y, int64_t l) const;

    /// The best of candidate `index` (0-based into the prepared list) alone at position l.
    Match matchOne(size_t index, const int16_t* y, int64_t l) const;

    /// Match results for every position lo..hi (out[p - lo]): over every prepared candidate
    /// when index < 0, else of candidate `index` alone. The same results as match / matchOne,
    /// computed a block of positions at a time.
    void matchRange(const int16_t* y, int64_t lo, int64_t hi, Match* out, int index = -1) const;

    size_t size() const { return etalons_.size(); }

private:
    struct Prepared {
        int32_t number;
        const int16_t* x;
        std::vector<Sum> P;         // partial energies, n + 1 entries (wrapping in 32 bits)
        Sum E;                      // energy P[n]
        Sum thr;                    // E * pct / 100
        std::vector<int32_t> tMin;  // per admissible start s: the smallest admissible end
        int sCount;                 // admissible starts are 0..sCount-1 (a prefix)
        int lowestEnd;              // the smallest admissible end of any start
        std::vector<int32_t> xx;    // x[c] squared
        bool exactFits;             // every score of this etalon fits Sum: prefix sums may be used
    };
    Match matchPrepared(const Prepared& e, const int16_t* y, int64_t l) const;
    Match matchWrapping(const Prepared& e, const int16_t* y, int64_t l) const;
    static bool isAdmissible(const Prepared& e, int s, int t);
    /// Prepares `count` candidates, shapeAt(i) giving the samples and the number of candidate i.
    template <class ShapeAt>
    void prepareEach(size_t count, ShapeAt&& shapeAt, int n, int32_t pct);

    int n_ = 0;
    std::vector<Prepared> etalons_;
    // Scratch of one match: the terms at the position and the prefix sums at the admissible
    // starts. A matcher is therefore used by one thread at a time.
    mutable std::vector<Sum> term_;
    mutable std::vector<Sum> fStart_;

    // Scratch of matchRange: the prefix sums of one vector of positions (kBlockLanes wide), the
    // best match so far of one block of positions (and of one padded vector past it), and the
    // zero-padded samples of a block's last, partial vector.
    struct Block {
        std::vector<Sum> F, bestScore;
        std::vector<int32_t> bestEtalon, bestS, bestT;
        std::vector<int16_t> tailSamples;
    };
    static constexpr int kBlock = kBlockSize;
    static constexpr int kBlockLanes = 16;
    mutable Block block_;
};

/// The workbench's matcher: 32-bit wrapping sums.
using LocalMatcher = BasicLocalMatcher<int32_t>;

extern template class BasicLocalMatcher<int32_t>;
