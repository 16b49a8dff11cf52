#include "processing/programmes.h"

namespace {
int64_t ceilDiv(int64_t a, int64_t b) {  // b > 0
    return a >= 0 ? (a + b - 1) / b : -((-a) / b);
}

// Appends position p to a list of intervals, extending the last one when p follows it.
void append(PositionWalks::Intervals& list, int64_t p) {
    if (!list.empty() && list.back().second + 1 == p) list.back().second = p;
    else list.emplace_back(p, p);
}
}  // namespace

PositionWalks positionWalks(int64_t N, int64_t n, int64_t Tmin, int64_t Tmax, int64_t Kmin, int64_t Kmax) {
    PositionWalks walks;
    if (Kmin < 1 || Kmax < Kmin || Tmin < 1 || Tmax < Tmin || n < 1 || N < n) return walks;
    // For position p the pulse indices i (from the start) and d = k - i (pulses from p to the
    // end, p's own included) that the ranges allow are intervals of their own:
    //   Tmin i <= p <= Tmax (i + 1) - n           i in [iLo, iHi], i >= 0
    //   N - Tmax d <= p <= N - n - Tmin (d - 1)    d in [dLo, dHi], d >= 1
    // and k = i + d takes every value of [iLo + dLo, iHi + dHi]; the count must meet Kmin..Kmax.
    // First is i = 0, Later i >= 1, Last d = 1.
    for (int64_t p = 0; p <= N - n; ++p) {
        const int64_t iLo = std::max<int64_t>(0, ceilDiv(p + n, Tmax) - 1), iHi = p / Tmin;
        const int64_t dLo = std::max<int64_t>(1, ceilDiv(N - p, Tmax)), dHi = (N - n - p) / Tmin + 1;
        if (iLo > iHi || dLo > dHi) continue;
        const bool first = iLo == 0 && std::max(dLo, Kmin) <= std::min(dHi, Kmax);
        const int64_t laterLo = std::max<int64_t>(iLo, 1);
        const bool later = laterLo <= iHi && std::max(laterLo + dLo, Kmin) <= std::min(iHi + dHi, Kmax);
        const bool last = dLo == 1 && std::max(iLo + 1, Kmin) <= std::min(iHi + 1, Kmax);
        if (first || later) append(walks.any, p);
        if (first && !later) append(walks.firstOnly, p);
        if (first && later) append(walks.both, p);
        if (later && !first) append(walks.laterOnly, p);
        if (last) append(walks.last, p);
    }
    return walks;
}
