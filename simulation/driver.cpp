#include "simulation/driver.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "model/random.h"
#include "processing/chains.h"
#include "processing/dispatch.h"
#include "simulation/worker_pool.h"

std::time_t simulationStartTime = 0;
std::time_t simulationNowTime = 0;

int32_t seriesRestorationError(const SeriesHeader& s) {
    const int32_t N = s.dwSeriesSize;
    const int32_t L = s.wImpulseSize;
    const int32_t F = s.wFoundPulses;
    uint32_t sum = 0;  // 32-bit two's-complement sum
    int32_t i = 0, q = 0;
    for (int32_t t = 0; t < N; ++t) {
        int32_t restored = 0;
        if (i < F) {
            const int32_t start = s.lpFoundPosition[i];
            if (t >= start && t < start + L) {
                const int32_t v = s.lpFoundEtalon[i];
                const PulseHeader* etalon = v >= 1 && v <= s.wPulsesListSize ? s.lpPulsesList[v - 1] : nullptr;
                if (etalon && q >= s.lpFoundCutStart[i] && q <= s.lpFoundCutEnd[i] && q < etalon->wSize)
                    restored = etalon->lpData[q];
                ++q;
                if (t == start + L - 1) {
                    ++i;
                    q = 0;
                }
            }
        }
        const int32_t d = s.lpPureData[t] - restored;
        sum += static_cast<uint32_t>(d) * static_cast<uint32_t>(d);
    }
    return static_cast<int32_t>(sum);
}

RepeatSchedule::RepeatSchedule(uint16_t task, const uint16_t* list, int32_t count, int32_t u, int32_t pulses,
                               int32_t tuples, uint16_t* counterArray, uint16_t* sequenceArray)
    : taskType(task), requiredList(list), n(count), K(pulses), T(tuples), B(0), E(0), e(1),
      counters(counterArray), sequence(sequenceArray) {
    switch (taskType) {
        case 1:
            break;
        case 2:
            B = (n + 2 * u) / (2 * n);
            break;
        case 36:
            B = u;
            break;
        case 40:
            B = (T + 2 * u) / (2 * T);
            break;
        default:
            B = (static_cast<int64_t>(u) * K) >> (K % 32);
            break;
    }
    E = B;
    for (int i = 0; i < K; ++i) {
        counters[i] = 1;
        sequence[i] = requiredList[0];
    }
}

bool RepeatSchedule::advance(int32_t l) {
    if (taskType == 2 && l >= E) {
        for (int i = 0; i < K; ++i) {
            if (++counters[i] > n) counters[i] = 1;
            sequence[i] = requiredList[counters[i] - 1];
        }
        E += B;
    } else if (taskType == 4 && static_cast<int64_t>(K) * l >= E) {
        E += B;
        ++counters[0];
        for (int i = 0; i < K && counters[i] > n; ++i) {
            counters[i] = 1;
            if (i + 1 < K) ++counters[i + 1];  // a carry out of the last counter is dropped
        }
        for (int i = 0; i < K; ++i) sequence[i] = requiredList[counters[i] - 1];
    } else if (taskType == 40 && l >= E) {
        if (++e > T) e = 1;
        E += B;
        return true;
    }
    return false;
}

namespace {
const char* kCaption = " About statCutoffSighting ";

void refuse(MessageSink& window, const std::string& why) {
    window.messageBox("The simulation cannot run!\n\n" + why, kCaption, MessageIcon::Warning);
}

// What one processed repeat contributes to its cell.
struct RepeatScore {
    int32_t restoring = 0;  // G
    int64_t position = 0;   // I, 128 × the mean squared position error per pulse, rounded
    int32_t miss = 0;       // 1 when a tuple was misrecognised
};

// Working storage of a run, released on every way out.
struct Work {
    std::vector<ChainsHeader*> chains;
    std::vector<SeriesHeader*> slots;
    ~Work() {
        for (ChainsHeader* c : chains) releaseChainsHeader(c);
        for (SeriesHeader* s : slots) freeSeriesHeader(s);
    }
};
}  // namespace

int checkSimulation(MessageSink& window, const RestErrorHeader* acc, uint16_t alphabetSize,
                    const Alphabet& alphabet, uint16_t n, const uint16_t* requiredList, uint16_t seriesType,
                    uint16_t taskType, const SeriesHeader* series) {
    if (!acc) {
        window.messageBox("Absence of RestoreErrorHeader!", "statCutoffSighting", MessageIcon::None);
        return 0;
    }
    if (!series || !series->block) {
        refuse(window, "There is no series record for the simulation.");
        return 0;
    }
    const int32_t u = acc->repeats & 0xFFFF;
    const int32_t P = acc->wVariousPulses, V = acc->wNoiseLevels;
    if (u < 1) {
        refuse(window, "The number of repeats must be at least 1.");
        return 0;
    }
    if (P < 1 || V < 1 || P > acc->wReservedPulses || V > acc->wReservedLevels || !acc->wPulseValues) {
        refuse(window, "The grid needs at least one pulse count and one noise level (" + std::to_string(P) +
                           " pulse counts, " + std::to_string(V) + " noise levels).");
        return 0;
    }
    if (n < 1 || !requiredList) {
        refuse(window, "The list of required etalons is empty.");
        return 0;
    }
    for (int i = 0; i < n; ++i)
        if (requiredList[i] < 1 || requiredList[i] > alphabetSize || requiredList[i] > alphabetCapacity ||
            !alphabet[requiredList[i] - 1].lpData) {
            refuse(window, "Etalon " + std::to_string(requiredList[i]) + " of the required list is not in the alphabet.");
            return 0;
        }
    const bool tupleSeries = seriesType == 36 || seriesType == 40;
    if ((taskType == 36 || taskType == 40) && !tupleSeries) {
        refuse(window, "Tuple detection and recognition need a tuple series (type 36 or 40).");
        return 0;
    }
    const uint16_t L = alphabet[requiredList[0] - 1].wSize;
    const uint16_t Tmin = series->wTmin, Tmax = series->wTmax;
    const uint32_t N = static_cast<uint32_t>(std::max(series->dwSeriesSize, 0));
    if (!checkSeriesParameters(window, kCaption, L, Tmin, Tmax, N)) return 0;
    const PulseBounds bounds = seriesPulseBounds(L, Tmin, Tmax, N);
    for (int j = 0; j < P; ++j) {
        const int K = acc->wPulseValues[j];
        if (K < bounds.wMinPulses || K > bounds.wMaxPulses || K > series->wAllocatedPulses) {
            refuse(window, "A series of " + std::to_string(N) + " samples holds " + std::to_string(bounds.wMinPulses) +
                               " to " + std::to_string(bounds.wMaxPulses) + " pulses; the grid asks for " +
                               std::to_string(K) + ".");
            return 0;
        }
    }
    for (int k = 0; k < V; ++k)
        if (acc->lpNoiseLevels[k] > gaussSigmaLimit || acc->lpNoiseLevels[k] < -gaussSigmaLimit) {
            refuse(window, "The noise level " + std::to_string(acc->lpNoiseLevels[k]) + " lies outside -" +
                               std::to_string(gaussSigmaLimit) + ".." + std::to_string(gaussSigmaLimit) + ".");
            return 0;
        }

    // Every etalon a tuple names must be in the alphabet: a routine would refuse each repeat.
    if (tupleSeries) {
        const auto inAlphabet = [&](int32_t v) {
            return v >= 1 && v <= alphabetSize && v <= alphabetCapacity && alphabet[v - 1].lpData;
        };
        const int m = std::min<int>(series->wSelectedSubsetSize, series->wAllocatedPulses);
        if (m == 0) {
            window.messageBox("Error: selected Subset is absence!", " About selectedSubset ", MessageIcon::None);
            return 0;
        }
        for (int i = 0; i < m; ++i)
            if (!inAlphabet(series->lpSelectedSubset[i])) {
                refuse(window, "Etalon " + std::to_string(series->lpSelectedSubset[i]) +
                                   " of the tuple is not in the alphabet.");
                return 0;
            }
        if (taskType == 40) {
            const int T = series->wSubsetsCount;
            if (T < 1 || !series->selectedSubsetSize) {
                refuse(window, "Tuple recognition needs stored tuples; there are none.");
                return 0;
            }
            for (int t = 0; t < T; ++t) {
                const int32_t length = series->selectedSubsetSize[t];
                if (length < 1 || length > series->wMaxPulses || length > series->wSubsetCapacity) {
                    refuse(window, "Stored tuple " + std::to_string(t + 1) + " has " + std::to_string(length) +
                                       " members; a series of this grid holds 1 to " +
                                       std::to_string(series->wMaxPulses) + ".");
                    return 0;
                }
                for (int i = 0; i < length; ++i)
                    if (!inAlphabet(series->selectedSubsetList[t][i])) {
                        refuse(window, "Etalon " + std::to_string(series->selectedSubsetList[t][i]) +
                                           " of stored tuple " + std::to_string(t + 1) +
                                           " is not in the alphabet.");
                        return 0;
                    }
            }
        }
    }
    return 1;
}

int statCutoffSighting(MessageSink& window, RestErrorHeader* acc, uint16_t alphabetSize,
                       const Alphabet& alphabet, uint16_t n, const uint16_t* requiredList,
                       uint16_t seriesType, uint16_t taskType, uint16_t makingEnergy,
                       uint16_t processingEnergy, SeriesHeader* series, int16_t& noiseSeed,
                       const SimulationSettings& settings, const SimulationControl& control) {
    // Degenerate runs are refused before anything runs.
    if (!checkSimulation(window, acc, alphabetSize, alphabet, n, requiredList, seriesType, taskType, series))
        return 0;
    const int32_t u = acc->repeats & 0xFFFF;
    const int32_t P = acc->wVariousPulses, V = acc->wNoiseLevels;
    const bool tupleSeries = seriesType == 36 || seriesType == 40;
    const uint16_t L = alphabet[requiredList[0] - 1].wSize;
    const uint16_t Tmin = series->wTmin, Tmax = series->wTmax;
    const uint32_t N = static_cast<uint32_t>(std::max(series->dwSeriesSize, 0));

    // Tuples: the active subset of the series, and for tuple recognition the stored ones.
    const int wMax = series->wMaxPulses;
    std::vector<int32_t> tuple;
    std::vector<int32_t> lengths;
    std::vector<std::vector<int32_t>> rows;
    int32_t T = 0;
    if (tupleSeries) {
        const int m = series->wSelectedSubsetSize;
        if (m == 0) {
            window.messageBox("Error: selected Subset is absence!", " About selectedSubset ", MessageIcon::None);
            return 0;
        }
        tuple.assign(series->lpSelectedSubset, series->lpSelectedSubset + std::min(m, static_cast<int>(series->wAllocatedPulses)));
        if (taskType == 40) {
            T = series->wSubsetsCount;
            if (T < 1 || !series->selectedSubsetSize) {
                refuse(window, "Tuple recognition needs stored tuples; there are none.");
                return 0;
            }
            int32_t Lmax = 0;
            for (int t = 0; t < T; ++t) Lmax = std::max<int32_t>(Lmax, series->selectedSubsetSize[t]);
            for (int t = 0; t < T; ++t) {
                const int32_t length = series->selectedSubsetSize[t];
                if (length < 1 || length > wMax || length > series->wSubsetCapacity) {
                    refuse(window, "Stored tuple " + std::to_string(t + 1) + " has " + std::to_string(length) +
                                       " members; a series of this grid holds 1 to " + std::to_string(wMax) + ".");
                    return 0;
                }
                lengths.push_back(length);
                rows.emplace_back(series->selectedSubsetList[t], series->selectedSubsetList[t] + Lmax);
            }
        }
    }
    std::vector<std::span<const int32_t>> tupleSpans;
    for (int t = 0; t < T; ++t) tupleSpans.emplace_back(rows[t].data(), static_cast<size_t>(lengths[t]));

    // Working storage: one chains table per thread, one series copy per repeat.
    WorkerPool pool(control.threads);
    Work work;
    for (int w = 0; w < pool.size(); ++w) {
        ChainsHeader* chains = getChainsHeader(window, 10, series->wMaxPulses, nullptr);
        if (!chains) {
            window.messageBox("Error getChainsHeader!", " About ChainsHeader ", MessageIcon::None);
            return 0;
        }
        work.chains.push_back(chains);
        if (!addToChainsHeader(window, seriesType, taskType, makingEnergy, processingEnergy, chains)) {
            window.messageBox("Error addToChainsHeader!", " About ChainsHeader ", MessageIcon::None);
            return 0;
        }
    }
    addInitRestErrHeader(window, seriesType, taskType, makingEnergy, processingEnergy, acc);
    for (int l = 0; l < 2 * u; ++l) {
        SeriesHeader* slot = getCutOffSeriesHeader(window, alphabetSize, L, Tmin, Tmax, N, nullptr);
        if (!slot) return 0;
        work.slots.push_back(slot);
    }
    // Counters, then the etalon numbers handed to the series maker; all start at 1.
    std::vector<uint16_t> numbers(static_cast<size_t>(3 * wMax), 1);
    uint16_t* counters = numbers.data();
    const std::span<uint16_t> sequence(numbers.data() + wMax, static_cast<size_t>(2 * wMax));
    // Two sets of per-repeat storage: the next cell is made while the current one is processed.
    struct CellBuffer {
        std::vector<SeriesHeader*> slots;
        std::vector<RepeatScore> scores;
        std::vector<int32_t> tupleOfRepeat;
        std::vector<RecordingMessageSink> messages;
    };
    CellBuffer buffers[2];
    for (int b = 0; b < 2; ++b) {
        buffers[b].slots.assign(work.slots.begin() + b * u, work.slots.begin() + (b + 1) * u);
        buffers[b].scores.resize(static_cast<size_t>(u));
        buffers[b].tupleOfRepeat.assign(static_cast<size_t>(u), 0);
        buffers[b].messages.resize(static_cast<size_t>(u));
    }

    const uint16_t savedSubsetSize = series->wSelectedSubsetSize;
    auto copyTuple = [&](int e) {
        const int32_t length = lengths[e - 1];
        std::copy_n(series->selectedSubsetList[e - 1], length, series->lpSelectedSubset);
        series->wSelectedSubsetSize = static_cast<uint16_t>(length);
    };

    ProcessingInput input;
    const std::span<const uint16_t> candidates(requiredList, n);
    input.candidates = candidates;
    input.tuple = tuple;
    input.tuples = tupleSpans;
    input.mode = settings.subsetProceeding;
    input.Tmin = Tmin;
    input.Tmax = Tmax;
    input.pct = processingEnergy;
    const Routine routine = selectRoutine(taskType, seriesType);

    // Cell c is column j = c / V (pulse count), row k = c % V (noise level).
    const int total = P * V;
    // The share of the grid this call runs (all of it unless the caller says otherwise).
    const int first = std::clamp(control.firstCell, 0, total);
    const int end = control.endCell < 0 ? total : std::clamp(control.endCell, first, total);
    if (first >= end) {
        refuse(window, "The share of the grid is empty (cells " + std::to_string(first) + " to " +
                           std::to_string(end) + ").");
        return 0;
    }
    auto pulsesOf = [&](int c) { return static_cast<int32_t>(acc->wPulseValues[c / V]); };

    // Making: every draw, in the one fixed order, on the calling thread.
    auto makeCell = [&](int c, CellBuffer& buffer) {
        const int32_t K = pulsesOf(c);
        const int16_t sigma = acc->lpNoiseLevels[c % V];
        // Task set-up: the step at which the etalons or the tuple change.
        if (taskType == 1 || taskType == 2) series->wSelectedSubsetSize = 0;
        RepeatSchedule schedule(taskType, requiredList, n, u, K, T, counters, sequence.data());
        if (taskType == 40) copyTuple(schedule.e);
        for (int l = 0; l < u; ++l) {
            // A cancelled run stops here too: a cell of many long series takes a while to make.
            if (control.cancel && control.cancel->load(std::memory_order_relaxed)) return false;
            if (schedule.advance(l)) copyTuple(schedule.e);
            SeriesHeader* made = getCutOffSeries(window, alphabetSize, alphabet, L, Tmin, Tmax, N,
                                                 static_cast<uint16_t>(K), sequence, settings.wAmplitude,
                                                 makingEnergy, series);
            if (made != series) return false;  // cannot happen with the record sized for the grid
            addNoise(window, series, sigma, noiseSeed);
            if (!copySeriesBuild(*buffer.slots[l], *series)) {
                refuse(window, "The series of " + std::to_string(K) + " pulses does not fit its working copy.");
                return false;
            }
            buffer.tupleOfRepeat[l] = schedule.e;
        }
        return true;
    };

    // Processing and scoring: no draws, one repeat per job, on any thread.
    auto processRepeat = [&](CellBuffer& buffer, int32_t K, int l, int worker) {
        SeriesHeader& s = *buffer.slots[l];
        ChainsHeader& chains = *work.chains[worker];
        RecordingMessageSink& messages = buffer.messages[l];
        messages.messages.clear();
        // Once the run is cancelled the remaining repeats are skipped (the cell is not stored).
        if (control.cancel && control.cancel->load(std::memory_order_relaxed)) return;
        const int32_t answer = runRoutine(routine, messages, alphabet, input, &chains, s);
        RepeatScore score;
        score.restoring = seriesRestorationError(s);
        // Squared position errors, widened to 64 bits: 32 bits overflow once they sum to
        // 8 388 608.
        int64_t H = 0;
        const int pulses = std::min<int>(K, chains.wSeekingPulsesQuantity);
        for (int i = 0; i < pulses; ++i) {
            const int64_t d = s.lpTruePosition[i] - s.lpFoundPosition[i];
            H += d * d;
        }
        score.position = (K + 256 * H) / (2 * static_cast<int64_t>(K));
        score.miss = taskType == 40 && answer != buffer.tupleOfRepeat[l] ? 1 : 0;
        buffer.scores[l] = score;
    };

    simulationStartTime = simulationNowTime = std::time(nullptr);
    if (!makeCell(first, buffers[first % 2])) {
        series->wSelectedSubsetSize = savedSubsetSize;
        return 0;
    }
    for (int c = first; c < end; ++c) {
        CellBuffer& buffer = buffers[c % 2];
        const int32_t K = pulsesOf(c);
        const std::function<void(int, int)> job = [&](int l, int worker) { processRepeat(buffer, K, l, worker); };
        pool.start(u, job);
        const bool cancelled = control.cancel && control.cancel->load();
        const bool made = c + 1 >= end || cancelled || makeCell(c + 1, buffers[(c + 1) % 2]);
        pool.finish();
        if (!made || (control.cancel && control.cancel->load())) {
            series->wSelectedSubsetSize = savedSubsetSize;
            simulationNowTime = std::time(nullptr);
            return 0;
        }

        int64_t R = 0, D = 0;
        int32_t M = 0;
        for (int l = 0; l < u; ++l) {
            R += buffer.scores[l].restoring;
            D += buffer.scores[l].position;
            M += buffer.scores[l].miss;
            // A routine's refusal makes the scores meaningless: its first message is shown and
            // the run stops without a result.
            if (!buffer.messages[l].messages.empty()) {
                const auto& first = buffer.messages[l].messages.front();
                window.messageBox(first.text, first.caption, first.icon);
                series->wSelectedSubsetSize = savedSubsetSize;
                simulationNowTime = std::time(nullptr);
                return 0;
            }
        }
        const int j = c / V, k = c % V;
        acc->lpErrors[k][j] = static_cast<int32_t>((2 * R + u) / (2 * static_cast<int64_t>(u)));
        acc->lpDetectErrors[k][j] = static_cast<int32_t>(D / 128);
        acc->lpRecognErrors[k][j] = M;
        acc->lpReservedErrors1[k][j] = 0;
        acc->lpReservedErrors2[k][j] = 0;
        acc->lpReservedErrors3[k][j] = 0;
        if (control.cellSums) control.cellSums(c, R, D, M);

        if (control.progress) control.progress(c + 1 - first, end - first);
        if (cancelled) {
            series->wSelectedSubsetSize = savedSubsetSize;
            simulationNowTime = std::time(nullptr);
            return 0;
        }
    }

    simulationNowTime = std::time(nullptr);
    // The record keeps the last simulated series with its findings, and the size of the active
    // subset it had before the run (its entries keep the last tuple copied into them).
    if (!copySeriesBuild(*series, *buffers[(end - 1) % 2].slots[u - 1])) {
        series->wSelectedSubsetSize = savedSubsetSize;
        refuse(window, "The last simulated series does not fit the series record.");
        return 0;
    }
    series->wSelectedSubsetSize = savedSubsetSize;
    acc->ifComplete = 1;
    return 1;
}
