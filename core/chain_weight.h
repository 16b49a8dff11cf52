#pragma once

// The weights of the posterior's chains: numbers that span thousands of orders of magnitude
// (a chain's weight is the product of its pulses'), kept as a double mantissa and a 64-bit power
// of two and added and multiplied by their exponents' bits, with no calls into the maths library
// and no division. Shared by the positions' weights (core/position_weights.*) and the forward
// and backward passes (core/posterior.cpp).

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>

namespace posterior_detail {
inline constexpr double kNone = -std::numeric_limits<double>::infinity();

inline constexpr uint64_t kMantissaBits = (uint64_t{1} << 52) - 1;

// 2^k for -1022 <= k <= 1023, made from its bits.
inline double powerOfTwo(int64_t k) { return std::bit_cast<double>(static_cast<uint64_t>(k + 1023) << 52); }

// 2^-d for d >= 0, and 0 from d = 1023 on: beside a value of at least 1 such a term is far below
// the last bit.
inline double downBy(int64_t d) {
    const auto shift = static_cast<uint64_t>(std::min<int64_t>(d, 1023));
    return std::bit_cast<double>((1023 - shift) << 52);
}

// A weight of chains, m 2^e with m = 0 (none) or 1 <= m < 2: sums and products of weights that
// span thousands of orders of magnitude, each a few multiplications and integer operations on the
// bits (no calls into the maths library).
struct Weight {
    double m = 0;
    int64_t e = 0;

    double log() const { return m == 0 ? kNone : std::log(m) + static_cast<double>(e) * std::numbers::ln2; }
    bool none() const { return m == 0; }
    /// m 2^(e - exponent), the weight on a scale of 2^exponent >= its own.
    double at(int64_t exponent) const { return m * downBy(exponent - e); }
    /// m 2^e for a positive normal m (or 0).
    static Weight normal(double m, int64_t e) { return m == 0 ? Weight{} : positive(m, e); }
    /// m 2^e for a positive normal m, the exponent taken from m's bits (no branch on it).
    static Weight positive(double m, int64_t e) {
        const auto bits = std::bit_cast<uint64_t>(m);
        return {std::bit_cast<double>((bits & kMantissaBits) | (uint64_t{1023} << 52)),
                e + static_cast<int64_t>(bits >> 52) - 1023};
    }
};
// 2^k for k <= 1023, and 0 below -1022.
inline double scaleBy(int64_t k) { return powerOfTwo(std::max<int64_t>(k, -1023)); }

// Running sums keep their own scale 2^e and let the mantissa grow (up to kHeadroom bits above 1
// for each term) instead of renormalising at every term: a term then costs one multiplication
// and one addition on the sum's chain, and the scale moves up only when a term outgrows it.
inline constexpr int64_t kHeadroom = 256;

// Before s += v: false when that is done already (v none, or s none and now v); else s moved up
// to v's scale when v outgrows it.
template <class T>
__attribute__((always_inline)) inline bool onCommonScale(T& s, const T& v) {
    if (v.none()) return false;
    if (s.none()) {
        s = v;
        return false;
    }
    if (v.e > s.e + kHeadroom) {
        s.m *= downBy(v.e - s.e);
        s.e = v.e;
    }
    return true;
}

// s += v, s on its own scale (see kHeadroom).
__attribute__((always_inline)) inline void accumulate(Weight& s, const Weight& v) {
    if (onCommonScale(s, v)) s.m += v.m * scaleBy(v.e - s.e);
}
inline Weight normalized(const Weight& w) { return Weight::normal(w.m, w.e); }

__attribute__((always_inline)) inline Weight operator+(const Weight& a, const Weight& b) {
    Weight s = a;
    accumulate(s, b);
    return normalized(s);
}
__attribute__((always_inline)) inline Weight operator*(const Weight& a, const Weight& b) {
    if (a.none() || b.none()) return {};
    return Weight::positive(a.m * b.m, a.e + b.e);
}
// a b / Z as a plain number, given 1 / Z's mantissa (no product normalised, no quotient); below
// 2^-1020 it is 0.
inline double share(const Weight& a, const Weight& b, const Weight& Z, double inverseZ) {
    if (a.none() || b.none()) return 0.0;
    const int64_t d = a.e + b.e - Z.e;
    return d < -1022 ? 0.0 : a.m * b.m * inverseZ * powerOfTwo(std::min<int64_t>(d, 1023));
}
// a / b as a plain number (b not none); below 2^-1021 it is 0.
inline double ratio(const Weight& a, const Weight& b) {
    if (a.none()) return 0.0;
    const int64_t d = a.e - b.e;
    if (d < -1022) return 0.0;
    if (d > 1023) return std::numeric_limits<double>::infinity();
    return a.m / b.m * powerOfTwo(d);
}
}  // namespace posterior_detail
