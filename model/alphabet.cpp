#include "model/alphabet.h"

#include <cmath>
#include <string>

#include "model/owned.h"
#include "model/random.h"

namespace {
// The decimal constants the shapes were designed with, not the exact values of pi.
constexpr double kPi = 3.141592654;
constexpr double kTwoPi = 6.283185308;

// Truncation toward zero to a 16-bit sample.
inline int16_t toSample(double value) {
    return static_cast<int16_t>(static_cast<int>(value));
}

void sineFrom(double step, int amplitude, int n, int16_t* out) {
    double phase = 0.0;
    for (int i = 0; i < n; ++i) {
        // The phase is accumulated by addition, not computed as i * step: the last bits differ.
        phase += step;
        out[i] = toSample(std::sin(phase) * amplitude);
    }
}

double envelope(int i, int rise, double k1, double k2) {
    return i < rise ? 1.0 - std::exp(i * k1) : std::exp(-k2 * (i - rise));
}
}  // namespace

void halfSineWave(int amplitude, int n, int16_t* out) {
    sineFrom(kPi / (n + 1), amplitude, n, out);
}

void sineWave(int amplitude, int n, int16_t* out) {
    sineFrom(kTwoPi / (n + 1), amplitude, n, out);
}

void burstWave(int amplitude, int rise, int periods, int n, int16_t* out) {
    const double w = periods * kTwoPi / n;
    const double k1 = -8.0 / rise;
    const double k2 = 4.0 / (n - rise);
    double phase = 0.0;
    for (int i = 0; i < n; ++i) {
        out[i] = toSample(std::sin(phase) * (amplitude * envelope(i, rise, k1, k2)));
        phase += w;
    }
}

void envelopeWave(int amplitude, int rise, int n, int16_t* out) {
    const double k1 = -8.0 / rise;
    const double k2 = 4.0 / (n - rise);
    for (int i = 0; i < n; ++i) out[i] = toSample(amplitude * envelope(i, rise, k1, k2));
}

void negatedCopy(int n, const int16_t* source, int16_t* out) {
    for (int i = 0; i < n; ++i) out[i] = static_cast<int16_t>(-source[i]);
}

int buildAlphabet(MessageSink& messages, int16_t wAmplitude, uint16_t wAlphabetSize,
                  uint16_t wImpulseSize, Alphabet& alphabet, int16_t& seed) {
    const int A = wAmplitude;
    const int n = wImpulseSize;
    if (wAlphabetSize > alphabetCapacity) {
        messages.messageBox("The alphabet holds at most " + std::to_string(alphabetCapacity) +
                              " etalons (asked for " + std::to_string(wAlphabetSize) + ").",
                          " buildAlphabet ", MessageIcon::Warning);
        return 0;
    }
    if (n < minImpulseSize) {
        messages.messageBox("The etalon length must be at least " + std::to_string(minImpulseSize) +
                              " samples (asked for " + std::to_string(n) + ").",
                          " buildAlphabet ", MessageIcon::Warning);
        return 0;
    }
    if (wAlphabetSize > 10 && (A / 2 > gaussSigmaLimit || A / 2 < -gaussSigmaLimit)) {
        messages.messageBox("The amplitude " + std::to_string(A) +
                              " is too large for the random etalons (at most " +
                              std::to_string(2 * gaussSigmaLimit + 1) + ").",
                          " buildAlphabet ", MessageIcon::Warning);
        return 0;
    }

    for (int i = 0; i < wAlphabetSize; ++i) {
        PulseHeader& pulse = alphabet[i];
        if (pulse.lpData && pulse.wAllocatedSize < wImpulseSize) {
            if (i == 0)
                messages.messageBox("Предварительное освобождение памяти!", "Отладка",
                                  MessageIcon::Warning);
            pulse.lpData.reset();
        }
        if (!pulse.lpData) {
            pulse.lpData = tryMakeArray<int16_t>(n);
            if (!pulse.lpData) {
                messages.messageBox("Не могу выделить память!", "", MessageIcon::Warning);
                for (int k = 0; k < i; ++k) alphabet[k].lpData.reset();
                return 0;
            }
            pulse.wAllocatedSize = wImpulseSize;
        }
        pulse.wSize = wImpulseSize;
        pulse.wNumber = static_cast<uint16_t>(i + 1);
    }

    for (int j = 0; j < wAlphabetSize; ++j) {
        int16_t* out = alphabet[j].lpData.get();
        const int16_t* previous = j > 0 ? alphabet[j - 1].lpData.get() : nullptr;
        switch (j + 1) {
            case 1:
                for (int i = 0; i < n; ++i) out[i] = alphabetLevel;
                break;
            case 3:
                halfSineWave(2 * A / 3 - 1, n, out);
                break;
            case 5:
                sineWave(alphabetLevel * 1414 / 1000, n, out);
                break;
            case 7:
                burstWave(6 * A / 5 + 2, (2 * n + 4) / 8, 4, n, out);
                break;
            case 9:
                envelopeWave((7 * A + 4) / 8 + 6, (2 * n + 4) / 8 - 1, n, out);
                break;
            case 2:
            case 4:
            case 6:
            case 8:
            case 10:
                negatedCopy(n, previous, out);
                break;
            default:
                for (int i = 0; i < n; ++i) {
                    int s = gaussRandom(seed, 0, static_cast<int16_t>(A / 2));
                    if (s > A - 1) s = A - 1;
                    if (s < -A) s = -A;
                    out[i] = static_cast<int16_t>(s);
                }
                break;
        }
    }
    return 1;
}

void releaseAlphabet(uint16_t wAlphabetSize, Alphabet& alphabet) {
    for (int i = 0; i < wAlphabetSize && i < alphabetCapacity; ++i) alphabet[i].lpData.reset();
}
