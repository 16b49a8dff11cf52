#include "simulation/driver.h"

#include <algorithm>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "model/codes.h"
#include "model/random.h"
#include "processing/chains.h"
#include "processing/dispatch.h"
#include "simulation/worker_pool.h"

int32_t seriesRestorationError(const SeriesHeader& s) {
    return restorationError(s, {s.wFoundPulses, s.lpFoundPosition, s.lpFoundEtalon, s.lpFoundCutStart, s.lpFoundCutEnd});
}

RepeatSchedule::RepeatSchedule(uint16_t task, const uint16_t* list, int32_t count, int32_t u, int32_t pulses,
                               int32_t tuples, uint16_t* counterArray, uint16_t* sequenceArray)
    : taskType(task), requiredList(list), n(count), K(pulses), T(tuples), B(0), E(0), e(1),
      counters(counterArray), sequence(sequenceArray) {
    switch (taskType) {
        case code(TaskType::detection):
            break;
        case code(TaskType::recognition):
            B = (n + 2 * u) / (2 * n);
            break;
        case code(TaskType::tupleDetection):
            B = u;
            break;
        case code(TaskType::tupleRecognition):
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
    if (isTask(taskType, TaskType::recognition) && l >= E) {
        for (int i = 0; i < K; ++i) {
            if (++counters[i] > n) counters[i] = 1;
            sequence[i] = requiredList[counters[i] - 1];
        }
        E += B;
    } else if (isTask(taskType, TaskType::jointDetection) && static_cast<int64_t>(K) * l >= E) {
        E += B;
        ++counters[0];
        for (int i = 0; i < K && counters[i] > n; ++i) {
            counters[i] = 1;
            if (i + 1 < K) ++counters[i + 1];  // a carry out of the last counter is dropped
        }
        for (int i = 0; i < K; ++i) sequence[i] = requiredList[counters[i] - 1];
    } else if (isTask(taskType, TaskType::tupleRecognition) && l >= E) {
        if (++e > T) e = 1;
        E += B;
        return true;
    }
    return false;
}

namespace {
const char* kCaption = " About statCutoffSighting ";

void refuse(MessageSink& messages, const std::string& why) {
    messages.messageBox("The simulation cannot run!\n\n" + why, kCaption, MessageIcon::Warning);
}

// What one processed repeat contributes to its cell.
struct RepeatScore {
    int32_t restoring = 0;  // G
    int64_t position = 0;   // I, 128 × the mean squared position error per pulse, rounded
    int32_t miss = 0;       // 1 when a tuple or the series' etalon was misrecognised
};

// Working storage of a run, released on every way out.
struct Work {
    std::vector<std::unique_ptr<ChainsHeader>> chains;
    std::vector<std::unique_ptr<SeriesHeader>> slots;
};
}  // namespace

int checkSimulation(MessageSink& messages, const RestErrorHeader* acc, uint16_t alphabetSize,
                    const Alphabet& alphabet, uint16_t n, const uint16_t* requiredList, uint16_t seriesType,
                    uint16_t taskType, const SeriesHeader* series) {
    if (!acc) {
        messages.messageBox("Absence of RestoreErrorHeader!", "statCutoffSighting", MessageIcon::None);
        return 0;
    }
    if (!series || !series->block) {
        refuse(messages, "There is no series record for the simulation.");
        return 0;
    }
    const int32_t u = acc->repeats & 0xFFFF;
    const int32_t P = acc->wVariousPulses, V = acc->wNoiseLevels;
    if (u < 1) {
        refuse(messages, "The number of repeats must be at least 1.");
        return 0;
    }
    if (P < 1 || V < 1 || P > acc->wReservedPulses || V > acc->wReservedLevels || !acc->wPulseValues) {
        refuse(messages, "The grid needs at least one pulse count and one noise level (" + std::to_string(P) +
                           " pulse counts, " + std::to_string(V) + " noise levels).");
        return 0;
    }
    if (n < 1 || !requiredList) {
        refuse(messages, "The list of required etalons is empty.");
        return 0;
    }
    for (int i = 0; i < n; ++i)
        if (requiredList[i] < 1 || requiredList[i] > alphabetSize || requiredList[i] > alphabetCapacity ||
            !alphabet[requiredList[i] - 1].lpData) {
            refuse(messages, "Etalon " + std::to_string(requiredList[i]) + " of the required list is not in the alphabet.");
            return 0;
        }
    const bool tupleSeries = isTupleSeries(seriesType);
    if (isTupleTask(taskType) && !tupleSeries) {
        refuse(messages, "Tuple detection and recognition need a tuple series (type 36 or 40).");
        return 0;
    }
    const uint16_t L = alphabet[requiredList[0] - 1].wSize;
    const uint16_t Tmin = series->wTmin, Tmax = series->wTmax;
    const uint32_t N = static_cast<uint32_t>(std::max(series->dwSeriesSize, 0));
    if (!checkSeriesParameters(messages, kCaption, L, Tmin, Tmax, N)) return 0;
    const PulseBounds bounds = seriesPulseBounds(L, Tmin, Tmax, N);
    for (int j = 0; j < P; ++j) {
        const int K = acc->wPulseValues[j];
        if (K < bounds.wMinPulses || K > bounds.wMaxPulses || K > series->wAllocatedPulses) {
            refuse(messages, "A series of " + std::to_string(N) + " samples holds " + std::to_string(bounds.wMinPulses) +
                               " to " + std::to_string(bounds.wMaxPulses) + " pulses; the grid asks for " +
                               std::to_string(K) + ".");
            return 0;
        }
    }
    for (int k = 0; k < V; ++k)
        if (acc->lpNoiseLevels[k] > gaussSigmaLimit || acc->lpNoiseLevels[k] < -gaussSigmaLimit) {
            refuse(messages, "The noise level " + std::to_string(acc->lpNoiseLevels[k]) + " lies outside -" +
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
            messages.messageBox("Error: selected Subset is absence!", " About selectedSubset ", MessageIcon::None);
            return 0;
        }
        for (int i = 0; i < m; ++i)
            if (!inAlphabet(series->lpSelectedSubset[i])) {
                refuse(messages, "Etalon " + std::to_string(series->lpSelectedSubset[i]) +
                                   " of the tuple is not in the alphabet.");
                return 0;
            }
        if (isTask(taskType, TaskType::tupleRecognition)) {
            const int T = series->wSubsetsCount;
            if (T < 1 || !series->selectedSubsetSize) {
                refuse(messages, "Tuple recognition needs stored tuples; there are none.");
                return 0;
            }
            for (int t = 0; t < T; ++t) {
                const int32_t length = series->selectedSubsetSize[t];
                if (length < 1 || length > series->wMaxPulses || length > series->wSubsetCapacity) {
                    refuse(messages, "Stored tuple " + std::to_string(t + 1) + " has " + std::to_string(length) +
                                       " members; a series of this grid holds 1 to " +
                                       std::to_string(series->wMaxPulses) + ".");
                    return 0;
                }
                for (int i = 0; i < length; ++i)
                    if (!inAlphabet(series->selectedSubsetList[t][i])) {
                        refuse(messages, "Etalon " + std::to_string(series->selectedSubsetList[t][i]) +
                                           " of stored tuple " + std::to_string(t + 1) +
                                           " is not in the alphabet.");
                        return 0;
                    }
            }
        }
    }
    return 1;
}

namespace {
// Two sets of per-repeat storage: the next cell is made while the current one is processed.
struct CellBuffer {
    std::vector<SeriesHeader*> slots;
    std::vector<RepeatScore> scores;
    std::vector<int32_t> tupleOfRepeat;
    std::vector<RecordingMessageSink> messages;
};

// One run of statCutoffSighting in its steps: set up (tuples, working storage, the routine's
// input), make a cell's series, score a repeat, merge a cell's scores into the accumulator.
class SimulationRun {
public:
    SimulationRun(MessageSink& messages, RestErrorHeader* acc, uint16_t alphabetSize, const Alphabet& alphabet,
                  uint16_t n, const uint16_t* requiredList, uint16_t seriesType, uint16_t taskType,
                  uint16_t makingEnergy, uint16_t processingEnergy, SeriesHeader* series, int16_t& noiseSeed,
                  SeedCells& seeds, const SimulationSettings& settings, const SimulationControl& control)
        : messages_(messages), acc_(acc), alphabetSize_(alphabetSize), alphabet_(alphabet), n_(n),
          requiredList_(requiredList), seriesType_(seriesType), taskType_(taskType), makingEnergy_(makingEnergy),
          processingEnergy_(processingEnergy), series_(series), noiseSeed_(noiseSeed), seeds_(seeds), settings_(settings),
          control_(control), pool_(control.threads) {
        u_ = acc->repeats & 0xFFFF;
        V_ = acc->wNoiseLevels;
        L_ = alphabet[requiredList[0] - 1].wSize;
        Tmin_ = series->wTmin;
        Tmax_ = series->wTmax;
        N_ = static_cast<uint32_t>(std::max(series->dwSeriesSize, 0));
        savedSubsetSize_ = series->wSelectedSubsetSize;
    }

    // The active subset keeps the size it had before the run, whatever way the run ends.
    ~SimulationRun() { series_->wSelectedSubsetSize = savedSubsetSize_; }

    bool setUp() { return takeTuples() && allocate() && chooseShare(); }

    // The grid's cells first .. end - 1 with making one cell ahead of processing; false after a
    // refusal or a cancel.
    bool runCells() {
        if (!makeCell(first_, buffers_[first_ % 2])) return false;
        for (int c = first_; c < end_; ++c) {
            CellBuffer& buffer = buffers_[c % 2];
            const int32_t K = pulsesOf(c);
            const std::function<void(int, int)> job = [&](int l, int worker) { scoreRepeat(buffer, K, l, worker); };
            pool_.start(u_, job);
            const bool made = c + 1 >= end_ || cancelled() || makeCell(c + 1, buffers_[(c + 1) % 2]);
            pool_.finish();
            // A cancelled cell is not stored: some of its repeats were skipped.
            if (cancelled()) {
                acc_->endTime = std::time(nullptr);
                return false;
            }
            if (!made) return false;
            if (!mergeCell(c, buffer)) return false;
            if (control_.progress) control_.progress(c + 1 - first_, end_ - first_);
        }
        return true;
    }

    // The record keeps the last simulated series with its findings, and the size of the active
    // subset it had before the run (its entries keep the last tuple copied into them).
    bool keepLastSeries() {
        if (!copySeriesBuild(*series_, *buffers_[(end_ - 1) % 2].slots[u_ - 1])) {
            refuse(messages_, "The last simulated series does not fit the series record.");
            return false;
        }
        return true;
    }

private:
    bool cancelled() const { return control_.cancel && control_.cancel->load(std::memory_order_relaxed); }
    bool tupleSeries() const { return isTupleSeries(seriesType_); }
    bool tupleRecognition() const { return isTask(taskType_, TaskType::tupleRecognition); }
    int32_t pulsesOf(int c) const { return acc_->wPulseValues[c / V_]; }

    // Tuples: the active subset of the series, and for tuple recognition the stored ones.
    bool takeTuples() {
        if (!tupleSeries()) return true;
        const int m = series_->wSelectedSubsetSize;
        if (m == 0) {
            messages_.messageBox("Error: selected Subset is absence!", " About selectedSubset ", MessageIcon::None);
            return false;
        }
        // The tuple array: the active tuple, and for tuple recognition the stored ones.
        try {
            return copyTuples(m);
        } catch (const std::bad_alloc&) {
            messages_.messageBox("Ошибка selectedSubset!", " About selectedSubset ", MessageIcon::None);
            return false;
        }
    }

    bool copyTuples(int m) {
        tuple_.assign(series_->lpSelectedSubset,
                      series_->lpSelectedSubset + std::min(m, static_cast<int>(series_->wAllocatedPulses)));
        if (!tupleRecognition()) return true;
        T_ = series_->wSubsetsCount;
        if (T_ < 1 || !series_->selectedSubsetSize) {
            refuse(messages_, "Tuple recognition needs stored tuples; there are none.");
            return false;
        }
        const int wMax = series_->wMaxPulses;
        int32_t Lmax = 0;
        for (int t = 0; t < T_; ++t) Lmax = std::max<int32_t>(Lmax, series_->selectedSubsetSize[t]);
        for (int t = 0; t < T_; ++t) {
            const int32_t length = series_->selectedSubsetSize[t];
            if (length < 1 || length > wMax || length > series_->wSubsetCapacity) {
                refuse(messages_, "Stored tuple " + std::to_string(t + 1) + " has " + std::to_string(length) +
                                      " members; a series of this grid holds 1 to " + std::to_string(wMax) + ".");
                return false;
            }
            lengths_.push_back(length);
            rows_.emplace_back(series_->selectedSubsetList[t], series_->selectedSubsetList[t] + Lmax);
        }
        for (int t = 0; t < T_; ++t) tupleSpans_.emplace_back(rows_[t].data(), static_cast<size_t>(lengths_[t]));
        return true;
    }

    // Working storage: one chains table per thread, one series copy per repeat of two cells,
    // the counters and sequence of the schedule; and the routine's input.
    bool allocate() {
        for (int w = 0; w < pool_.size(); ++w) {
            std::unique_ptr<ChainsHeader> chains = getChainsHeader(messages_, 10, series_->wMaxPulses, nullptr);
            if (!chains) {
                messages_.messageBox("Error getChainsHeader!", " About ChainsHeader ", MessageIcon::None);
                return false;
            }
            ChainsHeader* table = chains.get();
            work_.chains.push_back(std::move(chains));
            if (!addToChainsHeader(messages_, seriesType_, taskType_, makingEnergy_, processingEnergy_, table)) {
                messages_.messageBox("Error addToChainsHeader!", " About ChainsHeader ", MessageIcon::None);
                return false;
            }
        }
        addInitRestErrHeader(messages_, seriesType_, taskType_, makingEnergy_, processingEnergy_, acc_);
        for (int l = 0; l < 2 * u_; ++l) {
            std::unique_ptr<SeriesHeader> slot =
                getCutOffSeriesHeader(messages_, alphabetSize_, L_, Tmin_, Tmax_, N_, nullptr);
            if (!slot) return false;
            work_.slots.push_back(std::move(slot));
        }
        // Counters, then the etalon numbers handed to the series maker; all start at 1.
        const int wMax = series_->wMaxPulses;
        try {
            numbers_.assign(static_cast<size_t>(3 * wMax), 1);
        } catch (const std::bad_alloc&) {
            messages_.messageBox("Ошибка lpEtalonNumbersList!", kCaption, MessageIcon::None);
            return false;
        }
        sequence_ = std::span<uint16_t>(numbers_.data() + wMax, static_cast<size_t>(2 * wMax));
        for (int b = 0; b < 2; ++b) {
            buffers_[b].slots.clear();
            for (int l = b * u_; l < (b + 1) * u_; ++l) buffers_[b].slots.push_back(work_.slots[l].get());
            buffers_[b].scores.resize(static_cast<size_t>(u_));
            buffers_[b].tupleOfRepeat.assign(static_cast<size_t>(u_), 0);
            buffers_[b].messages.resize(static_cast<size_t>(u_));
        }
        candidates_ = std::span<const uint16_t>(requiredList_, n_);
        input_.candidates = candidates_;
        input_.tuple = tuple_;
        input_.tuples = tupleSpans_;
        input_.mode = settings_.subsetProceeding;
        input_.Tmin = Tmin_;
        input_.Tmax = Tmax_;
        input_.pct = processingEnergy_;
        routine_ = selectRoutine(taskType_, seriesType_);
        return true;
    }

    // The share of the grid this call runs (all of it unless the caller says otherwise). Cell
    // c is column j = c / V (pulse count), row k = c % V (noise level).
    bool chooseShare() {
        const int total = acc_->wVariousPulses * V_;
        first_ = std::clamp(control_.firstCell, 0, total);
        end_ = control_.endCell < 0 ? total : std::clamp(control_.endCell, first_, total);
        if (first_ >= end_) {
            refuse(messages_, "The share of the grid is empty (cells " + std::to_string(first_) + " to " +
                                  std::to_string(end_) + ").");
            return false;
        }
        acc_->startTime = acc_->endTime = std::time(nullptr);
        return true;
    }

    void copyTuple(int e) {
        const int32_t length = lengths_[e - 1];
        std::copy_n(series_->selectedSubsetList[e - 1], length, series_->lpSelectedSubset);
        series_->wSelectedSubsetSize = static_cast<uint16_t>(length);
    }

    // Making: every draw, in the one fixed order, on the calling thread.
    bool makeCell(int c, CellBuffer& buffer) {
        const int32_t K = pulsesOf(c);
        const int16_t sigma = acc_->lpNoiseLevels[c % V_];
        // Task set-up: the step at which the etalons or the tuple change.
        if (isTask(taskType_, TaskType::detection) || isTask(taskType_, TaskType::recognition))
            series_->wSelectedSubsetSize = 0;
        RepeatSchedule schedule(taskType_, requiredList_, n_, u_, K, T_, numbers_.data(), sequence_.data());
        if (tupleRecognition()) copyTuple(schedule.e);
        for (int l = 0; l < u_; ++l) {
            // A cancelled run stops here too: a cell of many long series takes a while to make.
            if (cancelled()) return false;
            if (schedule.advance(l)) copyTuple(schedule.e);
            // The caller's record, sized for the grid, is remade in place.
            if (!getCutOffSeriesInto(messages_, alphabetSize_, alphabet_, L_, Tmin_, Tmax_, N_,
                                     static_cast<uint16_t>(K), sequence_, settings_.wAmplitude,
                                     makingEnergy_, *series_, seeds_))
                return false;
            addNoise(messages_, series_, sigma, noiseSeed_);
            if (!copySeriesBuild(*buffer.slots[l], *series_)) {
                refuse(messages_, "The series of " + std::to_string(K) + " pulses does not fit its working copy.");
                return false;
            }
            buffer.tupleOfRepeat[l] = schedule.e;
        }
        return true;
    }

    // Processing and scoring: no draws, one repeat per job, on any thread.
    void scoreRepeat(CellBuffer& buffer, int32_t K, int l, int worker) {
        SeriesHeader& s = *buffer.slots[l];
        ChainsHeader& chains = *work_.chains[worker];
        RecordingMessageSink& messages = buffer.messages[l];
        messages.messages.clear();
        // Once the run is cancelled the remaining repeats are skipped (the cell is not stored).
        if (cancelled()) return;
        const int32_t answer = runRoutine(routine_, messages, alphabet_, input_, &chains, s);
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
        // A miss: a tuple recognised wrongly, or for pulse recognition an answer other than the
        // one etalon the series was made of (so that its recognition-error graph shows them).
        if (tupleRecognition())
            score.miss = answer != buffer.tupleOfRepeat[l] ? 1 : 0;
        else if (isTask(taskType_, TaskType::recognition))
            score.miss = s.wImpulseQuantity > 0 && answer != s.lpTrueEtalon[0] ? 1 : 0;
        buffer.scores[l] = score;
    }

    // Merging: the exact sums of a cell in repeat order, stored in its accumulator cell. False
    // when a routine refused a repeat (its first message is shown).
    bool mergeCell(int c, const CellBuffer& buffer) {
        int64_t R = 0, D = 0;
        int32_t M = 0;
        for (int l = 0; l < u_; ++l) {
            R += buffer.scores[l].restoring;
            D += buffer.scores[l].position;
            M += buffer.scores[l].miss;
            // A routine's refusal makes the scores meaningless: the run stops without a result.
            if (!buffer.messages[l].messages.empty()) {
                const auto& first = buffer.messages[l].messages.front();
                messages_.messageBox(first.text, first.caption, first.icon);
                acc_->endTime = std::time(nullptr);
                return false;
            }
        }
        const int j = c / V_, k = c % V_;
        acc_->lpErrors[k][j] = static_cast<int32_t>((2 * R + u_) / (2 * static_cast<int64_t>(u_)));
        acc_->lpDetectErrors[k][j] = static_cast<int32_t>(D / 128);
        acc_->lpRecognErrors[k][j] = M;
        acc_->lpReservedErrors1[k][j] = 0;
        acc_->lpReservedErrors2[k][j] = 0;
        acc_->lpReservedErrors3[k][j] = 0;
        if (control_.cellSums) control_.cellSums(c, R, D, M);
        return true;
    }

    MessageSink& messages_;
    RestErrorHeader* acc_;
    uint16_t alphabetSize_;
    const Alphabet& alphabet_;
    uint16_t n_;
    const uint16_t* requiredList_;
    uint16_t seriesType_, taskType_, makingEnergy_, processingEnergy_;
    SeriesHeader* series_;
    int16_t& noiseSeed_;
    SeedCells& seeds_;
    const SimulationSettings& settings_;
    const SimulationControl& control_;

    int32_t u_ = 0, V_ = 0;
    uint16_t L_ = 0, Tmin_ = 0, Tmax_ = 0;
    uint32_t N_ = 0;
    uint16_t savedSubsetSize_ = 0;
    std::vector<int32_t> tuple_;
    std::vector<int32_t> lengths_;
    std::vector<std::vector<int32_t>> rows_;
    std::vector<std::span<const int32_t>> tupleSpans_;
    int32_t T_ = 0;
    WorkerPool pool_;
    Work work_;
    std::vector<uint16_t> numbers_;
    std::span<uint16_t> sequence_;
    CellBuffer buffers_[2];
    std::span<const uint16_t> candidates_;
    ProcessingInput input_;
    Routine routine_ = Routine::detectPulsesFixed;
    int first_ = 0, end_ = 0;
};
}  // namespace

int statCutoffSighting(MessageSink& messages, RestErrorHeader* acc, uint16_t alphabetSize,
                       const Alphabet& alphabet, uint16_t n, const uint16_t* requiredList,
                       uint16_t seriesType, uint16_t taskType, uint16_t makingEnergy,
                       uint16_t processingEnergy, SeriesHeader* series, int16_t& noiseSeed,
                       SeedCells& seeds, const SimulationSettings& settings, const SimulationControl& control) {
    // Degenerate runs are refused before anything runs.
    if (!checkSimulation(messages, acc, alphabetSize, alphabet, n, requiredList, seriesType, taskType, series))
        return 0;
    SimulationRun run(messages, acc, alphabetSize, alphabet, n, requiredList, seriesType, taskType, makingEnergy,
                      processingEnergy, series, noiseSeed, seeds, settings, control);
    if (!run.setUp() || !run.runCells()) return 0;
    acc->endTime = std::time(nullptr);
    if (!run.keepLastSeries()) return 0;
    acc->ifComplete = 1;
    return 1;
}
