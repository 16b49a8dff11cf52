#include "model/series.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "model/owned.h"
#include "model/random.h"

namespace {
// Arrays of the block after the two series, in their order in the block.
constexpr int kPerPulseArrays = 13;

// Largest pulse start the 16-bit position arrays can hold.
constexpr uint32_t kMaxPosition = 32767;

void refuse(MessageSink& messages, const char* caption, const std::string& why) {
    messages.messageBox("Invalid series parameters!\n\n" + why, caption, MessageIcon::Warning);
}

void pointArrays(SeriesHeader& h, uint32_t N, uint16_t P) {
    int16_t* at = h.block.get();
    h.lpPureData = at;
    h.lpNoisyData = at += N;
    int16_t** arrays[kPerPulseArrays] = {
        &h.lpTrueEtalon,    &h.lpFoundEtalon,        &h.lpTruePosition, &h.lpFoundPosition,
        &h.lpPositionMin,   &h.lpPositionMax,        &h.lpTrueCutStart, &h.lpTrueCutEnd,
        &h.lpFoundCutStart, &h.lpFoundCutEnd,        &h.lpSelectedSubset,
        &h.lpFoundGroupPosition, &h.lpFoundGroupValue};
    at += N;
    for (int16_t** array : arrays) {
        *array = at;
        at += P;
    }
}

}  // namespace

// Copies the active subset into the etalon sequence as its mode says. p is the next pulse to
// write; a pass copies subset entries from `first` on while both the subset and the pulses last.
void layOutSubset(const SeriesHeader& h, uint16_t K, std::span<uint16_t> sequence, SeedCells& seeds) {
    // The recorded length may exceed what the header holds (a subset longer than wMaxPulses is
    // stored only in part); never read beyond the stored entries.
    const int S = std::min<int>(h.wSelectedSubsetSize, h.wAllocatedPulses);
    int p = static_cast<int>(h.wSubsetStart) - 1;
    if (S <= 0 || p < 0) return;
    const int R = K - p - S + 1;
    const int16_t* subset = h.lpSelectedSubset;
    auto copyPass = [&](int first) {
        for (int i = first; i < S && p < K; ++i, ++p) sequence[p] = static_cast<uint16_t>(subset[i]);
    };
    switch (h.wSubsetMode) {
        case 1:
            if (R > 0) p += (uniformRandom(seeds.subsetSeed) >> 1) % R;
            copyPass(0);
            break;
        case 2:
            copyPass(0);
            break;
        case 3:
            do {
                if (R > 0) p += (uniformRandom(seeds.subsetRepeatSeed) >> 1) % R;
                copyPass(0);
            } while (p < K);
            break;
        case 4:
            do copyPass(0);
            while (p < K);
            break;
        case 5: {
            const int r = (uniformRandom(seeds.subsetSeed) >> 1) % S;
            copyPass(r);
            while (p < K) copyPass(0);
            break;
        }
        default:
            break;
    }
}

namespace {
struct Neighbour {
    bool present;
    int32_t lo;  // lower bound on the start from the pulse placed before
    int32_t hi;  // upper bound
};

// Places pulse j: bounds, start, cut, samples. The three draws (start, first kept sample, last
// kept sample) happen in this order for every pulse, also when the cut cannot vary.
int32_t placePulse(SeriesHeader& h, const Alphabet& alphabet, std::span<const uint16_t> sequence,
                   int32_t j, int32_t N, int32_t L, int32_t K, int32_t Tmin, int32_t Tmax,
                   uint16_t savedEnergy, const Neighbour& neighbour, std::vector<int64_t>& E,
                   SeedCells& seeds) {
    int32_t lo = std::max(j * Tmin, N - Tmax * (K - j));
    int32_t hi = std::min((j + 1) * Tmax - L, N - L - Tmin * (K - j - 1));
    h.lpPositionMin[j] = static_cast<int16_t>(lo);
    h.lpPositionMax[j] = static_cast<int16_t>(hi);
    if (neighbour.present) {
        lo = std::max(lo, neighbour.lo);
        hi = std::min(hi, neighbour.hi);
    }
    // The checked limits and K keep the interval non-empty.
    const int32_t s = lo + (uniformRandom(seeds.positionSeed) >> 2) % (hi - lo + 1);

    const int16_t* d = alphabet[sequence[j] - 1].lpData.get();
    E[0] = 0;
    for (int32_t k = 0; k < L; ++k) E[k + 1] = E[k] + static_cast<int64_t>(d[k]) * d[k];
    const int64_t T = E[L];
    const int64_t t = savedEnergy * T / 100;

    int32_t a = 0;
    while (a < L && T - E[a + 1] > t) ++a;
    if (a >= L) a = L - 1;
    const int32_t c0 = uniformRandom(seeds.cutStartSeed) % (a + 1);
    int32_t m = L - 1;
    while (m > c0 && E[m] - E[c0] > t) --m;
    const int32_t c1 = m + uniformRandom(seeds.cutEndSeed) % (L - m);

    // Assignment, not addition: where kept parts overlap, the pulse placed later wins.
    for (int32_t k = c0; k <= c1; ++k) h.lpPureData[s + k] = d[k];
    h.lpTruePosition[j] = static_cast<int16_t>(s);
    h.lpFoundPosition[j] = -1;
    h.lpTrueCutStart[j] = static_cast<int16_t>(c0);
    h.lpTrueCutEnd[j] = static_cast<int16_t>(c1);
    return s;
}

std::string incompatibleMessage(uint32_t N, uint16_t L, PulseBounds b, uint16_t K,
                                const SeriesHeader& h) {
    char buffer[512];
    std::snprintf(buffer, sizeof buffer,
                  "Несовместимые входные параметры!\n\ndwSeriesSize: %d [%d]\nwImpulseSize: %d [%d]\n"
                  "wMinPulses: %d [%d]\nwMaxPulses: %d [%d]\nwImpulseQuantity: %d\n\n",
                  static_cast<int>(N), static_cast<int>(h.dwSeriesSize), static_cast<int>(L),
                  static_cast<int>(h.wImpulseSize), static_cast<int>(b.wMinPulses),
                  static_cast<int>(h.wMinPulses), static_cast<int>(b.wMaxPulses),
                  static_cast<int>(h.wMaxPulses), static_cast<int>(K));
    return buffer;
}
}  // namespace

int checkSeriesParameters(MessageSink& messages, const char* caption, uint16_t L, uint16_t wTmin,
                          uint16_t wTmax, uint32_t N) {
    const std::string values = "\n\nTmin = " + std::to_string(wTmin) + ", Tmax = " +
                               std::to_string(wTmax) + ", etalon length = " + std::to_string(L) +
                               ", series length = " + std::to_string(N);
    if (wTmin == 0 || wTmax == 0) {
        refuse(messages, caption, "Tmin and Tmax must be at least 1." + values);
        return 0;
    }
    if (wTmin > wTmax) {
        refuse(messages, caption, "Tmin must not exceed Tmax." + values);
        return 0;
    }
    if (L == 0 || L > wTmax) {
        refuse(messages, caption, "The etalon length must lie between 1 and Tmax." + values);
        return 0;
    }
    if (N < L) {
        refuse(messages, caption, "The series must be at least one etalon long." + values);
        return 0;
    }
    if (N - L > kMaxPosition) {
        refuse(messages, caption,
               "The series is too long: pulse starts must not exceed " +
                   std::to_string(kMaxPosition) + " (series length at most " +
                   std::to_string(kMaxPosition + L) + ")." + values);
        return 0;
    }
    return 1;
}

const PulseHeader* etalonOf(const SeriesHeader& series, int32_t number) {
    if (!series.lpPulsesList || number < 1 || number > series.wPulsesListSize) return nullptr;
    const PulseHeader* e = series.lpPulsesList[number - 1];
    return e != nullptr && e->lpData ? e : nullptr;
}

int32_t restorationError(const SeriesHeader& s, const PulseLayoutView& pulses) {
    const int32_t N = s.dwSeriesSize;
    if (!s.lpPureData || N <= 0) return 0;
    const int32_t L = s.wImpulseSize;
    uint32_t sum = 0;  // 32-bit wrapping sum of squares
    auto addSquare = [&sum](int32_t d) { sum += static_cast<uint32_t>(d) * static_cast<uint32_t>(d); };
    int32_t t = 0;  // next sample of the series to be compared
    for (int32_t q = 0; q < pulses.count; ++q) {
        const int32_t P = pulses.position[q];
        const PulseHeader* e = etalonOf(s, pulses.etalon[q]);
        const int32_t cutStart = pulses.cutStart[q], cutEnd = pulses.cutEnd[q];
        // Samples before this pulse (and not yet compared) are 0 in the restored series.
        for (; t < P && t < N; ++t) addSquare(s.lpPureData[t]);
        for (; t < P + L && t < N; ++t) {
            if (t < 0) continue;
            const int32_t j = t - P;
            int32_t restored = 0;
            if (e != nullptr && j >= cutStart && j <= cutEnd && j < e->wSize) restored = e->lpData[j];
            addSquare(s.lpPureData[t] - restored);
        }
        if (t < 0) t = 0;
    }
    for (; t < N; ++t) addSquare(s.lpPureData[t]);
    return static_cast<int32_t>(sum);
}

int pulseCountBounds(uint32_t N, uint16_t L, uint16_t wTmin, uint16_t wTmax, PulseCountBounds& out) {
    if (wTmin == 0 || wTmax == 0 || L > N + wTmin) return 0;
    const uint32_t minimum = (N + L - 1) / wTmax;
    const uint32_t maximum = (N - L + wTmin) / wTmin;
    out.minimum = static_cast<uint16_t>(std::min<uint32_t>(minimum, 65535));
    out.maximum = static_cast<uint16_t>(std::min<uint32_t>(maximum, 65535));
    out.suggested = static_cast<uint16_t>((out.minimum + out.maximum) / 2);
    return 1;
}

PulseBounds seriesPulseBounds(uint16_t L, uint16_t wTmin, uint16_t wTmax, uint32_t N) {
    PulseCountBounds b{0, 0, 0};
    if (!pulseCountBounds(N, L, wTmin, wTmax, b)) return {0, 0};
    return {std::max<uint16_t>(b.minimum, 1), b.maximum};
}

namespace {
// Sizes a record for a build: a new zeroed block when the old one is too small (the active
// subset carried over when it fits), a larger pulse list when needed, then the build's sizes.
// Returns 1, or 0 after a memory message; the record then holds blocks that are gone and must
// be released or emptied by the caller.
int fitSeriesHeader(MessageSink& messages, uint16_t wPulsesListSize, uint16_t L, uint16_t wTmin,
                    uint16_t wTmax, uint32_t N, SeriesHeader& header) {
    const PulseBounds bounds = seriesPulseBounds(L, wTmin, wTmax, N);
    const uint16_t P = bounds.wMaxPulses;

    std::vector<int16_t> savedSubset;
    bool subsetSaved = false;
    uint16_t savedMode = 0, savedStart = 0;
    if (header.wSelectedSubsetSize != 0 && P >= header.wSelectedSubsetSize &&
        header.wSelectedSubsetSize <= header.wAllocatedPulses) {
        savedSubset.assign(header.lpSelectedSubset,
                           header.lpSelectedSubset + header.wSelectedSubsetSize);
        savedMode = header.wSubsetMode;
        savedStart = header.wSubsetStart;
        subsetSaved = true;
    }

    if (header.dwAllocatedSize < N || header.wAllocatedPulses < P) {
        header.block.reset();
        const size_t entries = 2 * static_cast<size_t>(N) + kPerPulseArrays * static_cast<size_t>(P);
        header.block = tryMakeArray<int16_t>(entries);  // zeroed
        if (!header.block) {
            messages.messageBox("Нет памяти для newSeriesHeader->lpPureData!", " getExtSeriesHeader ",
                              MessageIcon::None);
            return 0;
        }
        pointArrays(header, N, P);
        header.dwAllocatedSize = N;
        header.wAllocatedPulses = P;
        if (subsetSaved) {
            std::copy(savedSubset.begin(), savedSubset.end(), header.lpSelectedSubset);
            header.wSelectedSubsetSize = static_cast<uint16_t>(savedSubset.size());
            header.wSubsetMode = savedMode;
            header.wSubsetStart = savedStart;
        } else {
            // The zeroed block no longer holds the entries of a subset that did not fit.
            header.wSelectedSubsetSize = 0;
        }
    }

    if (header.wPulsesListCapacity < wPulsesListSize) {
        header.lpPulsesList.reset();
        header.lpPulsesList = tryMakeArray<const PulseHeader*>(wPulsesListSize);
        if (!header.lpPulsesList) {
            messages.messageBox("Нет памяти для newSeriesHeader->lpPulsesList!", " getExtSeriesHeader ",
                              MessageIcon::None);
            return 0;
        }
        header.wPulsesListCapacity = wPulsesListSize;
    }

    header.wPulsesListSize = wPulsesListSize;
    header.dwSeriesSize = static_cast<int32_t>(N);
    header.wMaxPulses = P;
    header.wMinPulses = bounds.wMinPulses;
    header.wTmin = wTmin;
    header.wTmax = wTmax;
    std::fill_n(header.lpPulsesList.get(), header.wPulsesListCapacity, nullptr);
    return 1;
}
}  // namespace

std::unique_ptr<SeriesHeader> getCutOffSeriesHeader(MessageSink& messages, uint16_t wPulsesListSize,
                                                    uint16_t L, uint16_t wTmin, uint16_t wTmax,
                                                    uint32_t N, std::unique_ptr<SeriesHeader> header) {
    if (!checkSeriesParameters(messages, " getCutOffSeriesHeader ", L, wTmin, wTmax, N)) return header;
    if (!header) {
        header = tryMakeRecord<SeriesHeader>();
        if (!header) {
            messages.messageBox("Нет памяти для newSeriesHeader!", " getCutOffSeriesHeader ",
                              MessageIcon::None);
            return nullptr;
        }
    }
    // A failure returns null: the header taken from the caller is released with it.
    if (!fitSeriesHeader(messages, wPulsesListSize, L, wTmin, wTmax, N, *header)) return nullptr;
    return header;
}

int makeExtSeries(MessageSink& messages, uint16_t wAlphabetSize, const Alphabet& alphabet,
                  uint16_t L, uint16_t wTmin, uint16_t wTmax, uint32_t N, uint16_t K,
                  std::span<uint16_t> sequence, int16_t wAmplitude, uint16_t savedEnergy,
                  SeriesHeader* header, SeedCells& seeds) {
    const char* caption = " makeExtSeries ";
    if (!header) {
        messages.messageBox("There is no series record to build into.", caption, MessageIcon::Warning);
        return 0;
    }
    if (!checkSeriesParameters(messages, caption, L, wTmin, wTmax, N)) return 0;
    const PulseBounds bounds = seriesPulseBounds(L, wTmin, wTmax, N);

    // 1. The pulse count must be admissible.
    if (K < bounds.wMinPulses || K > bounds.wMaxPulses) {
        messages.messageBox(incompatibleMessage(N, L, bounds, K, *header), caption, MessageIcon::Warning);
        return 0;
    }
    if (sequence.size() < K) {
        refuse(messages, caption,
               "The etalon sequence has " + std::to_string(sequence.size()) + " entries, " +
                   std::to_string(K) + " pulses need one each.");
        return 0;
    }
    if (wAlphabetSize == 0 || wAlphabetSize > alphabetCapacity ||
        wAlphabetSize > header->wPulsesListCapacity) {
        refuse(messages, caption,
               "The alphabet size " + std::to_string(wAlphabetSize) +
                   " does not fit the series record (1 to " +
                   std::to_string(std::min<int>(alphabetCapacity, header->wPulsesListCapacity)) + ").");
        return 0;
    }
    for (int i = 0; i < wAlphabetSize; ++i) {
        if (!alphabet[i].lpData || alphabet[i].wSize < L) {
            refuse(messages, caption,
                   "Etalon " + std::to_string(i + 1) + " is not built with " + std::to_string(L) +
                       " samples.");
            return 0;
        }
    }
    if (header->dwAllocatedSize < N || header->wAllocatedPulses < bounds.wMaxPulses) {
        refuse(messages, caption, "The series record is too small for this build.");
        return 0;
    }

    // 2. Sizes of this build.
    header->dwSeriesSize = static_cast<int32_t>(N);
    header->wMaxPulses = bounds.wMaxPulses;
    header->wMinPulses = bounds.wMinPulses;
    header->wNoiseSigma = 0;
    header->wAmplitude = wAmplitude;
    header->wCutStartMin = 0;
    header->wCutEndMax = static_cast<int16_t>(L - 1);

    // 3. The active subset shapes the sequence.
    layOutSubset(*header, K, sequence, seeds);

    // 4. Etalons of the pulses; the found layout is cleared.
    for (int j = 0; j < K; ++j) {
        if (sequence[j] < 1 || sequence[j] > wAlphabetSize) sequence[j] = 1;
        header->lpTrueEtalon[j] = static_cast<int16_t>(sequence[j]);
        header->lpFoundEtalon[j] = 0;
        header->lpFoundCutStart[j] = 0;
        header->lpFoundCutEnd[j] = 0;
        header->lpTrueCutStart[j] = 0;
        header->lpTrueCutEnd[j] = static_cast<int16_t>(L - 1);
    }

    // 5. The pulse list points into the alphabet.
    header->wPulsesListSize = wAlphabetSize;
    for (int i = 0; i < wAlphabetSize; ++i) header->lpPulsesList[i] = &alphabet[i];

    // 6. An empty series.
    std::fill_n(header->lpPureData, N, int16_t{0});

    // 7. Partial energies of the etalon being placed, E[k] = energy of its first k samples.
    std::vector<int64_t> E;
    try {
        E.resize(static_cast<size_t>(L) + 1);
    } catch (const std::bad_alloc&) {
        messages.messageBox("Нет памяти для PartialEnergy!", "", MessageIcon::None);
        return 0;
    }

    // 8. to 10. The first pulse is placed anywhere its global bounds allow, then the later
    // pulses forward and the earlier ones backward from it.
    const int32_t n = static_cast<int32_t>(N);
    const int32_t j0 = (uniformRandom(seeds.positionSeed) >> 2) % K;
    const int32_t s0 = placePulse(*header, alphabet, sequence, j0, n, L, K, wTmin, wTmax,
                                  savedEnergy, {false, 0, 0}, E, seeds);
    int32_t s = s0;
    for (int32_t j = j0 + 1; j < K; ++j)
        s = placePulse(*header, alphabet, sequence, j, n, L, K, wTmin, wTmax, savedEnergy,
                       {true, s + wTmin, s + wTmax}, E, seeds);
    s = s0;
    for (int32_t j = j0 - 1; j >= 0; --j)
        s = placePulse(*header, alphabet, sequence, j, n, L, K, wTmin, wTmax, savedEnergy,
                       {true, s - wTmax, s - wTmin}, E, seeds);

    // 11. The build's limits; the noisy series starts as the pure one.
    header->wTmin = wTmin;
    header->wTmax = wTmax;
    header->wImpulseSize = L;
    header->wImpulseQuantity = K;
    std::copy_n(header->lpPureData, N, header->lpNoisyData);
    header->lpFirstEtalon = header->lpPulsesList[sequence[0] - 1];
    return 1;
}

std::unique_ptr<SeriesHeader> getCutOffSeries(MessageSink& messages, uint16_t wAlphabetSize,
                                              const Alphabet& alphabet, uint16_t L, uint16_t wTmin,
                                              uint16_t wTmax, uint32_t N, uint16_t K,
                                              std::span<uint16_t> sequence, int16_t wAmplitude,
                                              uint16_t savedEnergy,
                                              std::unique_ptr<SeriesHeader> header, SeedCells& seeds) {
    if (!checkSeriesParameters(messages, " getCutOffSeries ", L, wTmin, wTmax, N)) return header;
    header = getCutOffSeriesHeader(messages, wAlphabetSize, L, wTmin, wTmax, N, std::move(header));
    if (!header) {
        messages.messageBox("Не могу выделить память для lpSeriesHeader!", " getCutOffSeries ",
                          MessageIcon::Warning);
        return nullptr;
    }
    if (header->wMinPulses < 1) header->wMinPulses = 1;
    makeExtSeries(messages, wAlphabetSize, alphabet, L, wTmin, wTmax, N, K, sequence, wAmplitude,
                  savedEnergy, header.get(), seeds);
    return header;
}

int getCutOffSeriesInto(MessageSink& messages, uint16_t wAlphabetSize, const Alphabet& alphabet,
                        uint16_t L, uint16_t wTmin, uint16_t wTmax, uint32_t N, uint16_t K,
                        std::span<uint16_t> sequence, int16_t wAmplitude, uint16_t savedEnergy,
                        SeriesHeader& header, SeedCells& seeds) {
    if (!checkSeriesParameters(messages, " getCutOffSeries ", L, wTmin, wTmax, N)) return 0;
    if (!fitSeriesHeader(messages, wAlphabetSize, L, wTmin, wTmax, N, header)) {
        header = SeriesHeader();  // nothing of the old blocks is left to point into
        messages.messageBox("Не могу выделить память для lpSeriesHeader!", " getCutOffSeries ",
                          MessageIcon::Warning);
        return 0;
    }
    if (header.wMinPulses < 1) header.wMinPulses = 1;
    makeExtSeries(messages, wAlphabetSize, alphabet, L, wTmin, wTmax, N, K, sequence, wAmplitude,
                  savedEnergy, &header, seeds);
    return 1;
}

std::unique_ptr<SeriesHeader> getRandomCutOffSeries(MessageSink& messages, uint16_t wAlphabetSize,
                                                    const Alphabet& alphabet, uint16_t L,
                                                    uint16_t wTmin, uint16_t wTmax, uint32_t N,
                                                    std::span<uint16_t> sequence,
                                                    int16_t wAmplitude, uint16_t savedEnergy,
                                                    std::unique_ptr<SeriesHeader> header,
                                                    SeedCells& seeds) {
    if (!checkSeriesParameters(messages, " getRandomCutOffSeries ", L, wTmin, wTmax, N)) return header;
    const PulseBounds b = seriesPulseBounds(L, wTmin, wTmax, N);
    if (b.wMaxPulses < b.wMinPulses) {
        // The caller replaces its header by the null result; what it held is released.
        return nullptr;
    }
    const int u = uniformRandom(seeds.pulseCountSeed);
    const uint16_t K = static_cast<uint16_t>(b.wMinPulses + (u >> 2) % (b.wMaxPulses - b.wMinPulses + 1));
    return getCutOffSeries(messages, wAlphabetSize, alphabet, L, wTmin, wTmax, N, K, sequence,
                           wAmplitude, savedEnergy, std::move(header), seeds);
}

int addNoise(MessageSink& messages, SeriesHeader* header, int16_t sigma, int16_t& seed) {
    if (!header) return 1;
    if (sigma > gaussSigmaLimit || sigma < -gaussSigmaLimit) {
        messages.messageBox("Invalid noise level!\n\nThe noise level " + std::to_string(sigma) +
                              " lies outside -" + std::to_string(gaussSigmaLimit) + ".." +
                              std::to_string(gaussSigmaLimit) + ".",
                          " addNoise ", MessageIcon::Warning);
        return 0;
    }
    for (int32_t i = 0; i < header->dwSeriesSize; ++i)
        header->lpNoisyData[i] =
            static_cast<int16_t>(header->lpPureData[i] + gaussRandom(seed, 0, sigma));
    header->wNoiseSigma = sigma;
    return 1;
}

int copySeriesBuild(SeriesHeader& d, const SeriesHeader& s) {
    // Only the pulses the build can hold are copied: a record allocated for longer series
    // copies into one sized for this build.
    const uint16_t pulses = std::min<uint16_t>(s.wAllocatedPulses, std::max(s.wMaxPulses, s.wSelectedSubsetSize));
    if (d.dwAllocatedSize < static_cast<uint32_t>(std::max(s.dwSeriesSize, 0)) ||
        d.wAllocatedPulses < pulses || d.wPulsesListCapacity < s.wPulsesListSize)
        return 0;
    const size_t N = static_cast<size_t>(std::max(s.dwSeriesSize, 0));
    std::copy_n(s.lpPureData, N, d.lpPureData);
    std::copy_n(s.lpNoisyData, N, d.lpNoisyData);
    const int16_t* from[kPerPulseArrays] = {
        s.lpTrueEtalon,    s.lpFoundEtalon,        s.lpTruePosition, s.lpFoundPosition,
        s.lpPositionMin,   s.lpPositionMax,        s.lpTrueCutStart, s.lpTrueCutEnd,
        s.lpFoundCutStart, s.lpFoundCutEnd,        s.lpSelectedSubset,
        s.lpFoundGroupPosition, s.lpFoundGroupValue};
    int16_t* to[kPerPulseArrays] = {
        d.lpTrueEtalon,    d.lpFoundEtalon,        d.lpTruePosition, d.lpFoundPosition,
        d.lpPositionMin,   d.lpPositionMax,        d.lpTrueCutStart, d.lpTrueCutEnd,
        d.lpFoundCutStart, d.lpFoundCutEnd,        d.lpSelectedSubset,
        d.lpFoundGroupPosition, d.lpFoundGroupValue};
    for (int a = 0; a < kPerPulseArrays; ++a) std::copy_n(from[a], pulses, to[a]);
    std::copy_n(s.lpPulsesList.get(), s.wPulsesListSize, d.lpPulsesList.get());
    d.dwSeriesSize = s.dwSeriesSize;
    d.wTmin = s.wTmin;
    d.wTmax = s.wTmax;
    d.wImpulseSize = s.wImpulseSize;
    d.wImpulseQuantity = s.wImpulseQuantity;
    d.wMaxPulses = s.wMaxPulses;
    d.wMinPulses = s.wMinPulses;
    d.wNoiseSigma = s.wNoiseSigma;
    d.wAmplitude = s.wAmplitude;
    d.lpFirstEtalon = s.lpFirstEtalon;
    d.wPulsesListSize = s.wPulsesListSize;
    d.wFoundPulses = s.wFoundPulses;
    d.wCutStartMin = s.wCutStartMin;
    d.wCutEndMax = s.wCutEndMax;
    d.wSelectedSubsetSize = s.wSelectedSubsetSize;
    d.wSubsetMode = s.wSubsetMode;
    d.wSubsetStart = s.wSubsetStart;
    d.wFoundGroups = s.wFoundGroups;
    d.wResultCode = s.wResultCode;
    return 1;
}

void freeSeriesHeader(std::unique_ptr<SeriesHeader> header) { header.reset(); }
