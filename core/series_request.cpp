#include "core/series_request.h"

#include <algorithm>
#include <string>

#include "core/request_rules.h"
#include "core/series_use_case.h"
#include "core/startup_model.h"
#include "model/random.h"
#include "model/subsets.h"

namespace {
Refusal refusal(RequestField field, std::string after) {
    return Refusal{field, "", std::move(after)};
}

constexpr const char* seriesCaption = " series ";
}  // namespace

std::optional<Refusal> checkSeriesRequest(const SeriesRequest& r) {
    if (auto refused = seriesTypeRefusal(RequestField::type, r.type)) return refused;
    if (auto refused = percentRefusal(RequestField::savedEnergy, r.savedEnergy)) return refused;
    if (r.subset.empty() && r.subsetMode) return refusal(RequestField::subsetMode, " needs a subset");
    if (r.subset.empty() && r.subsetStart) return refusal(RequestField::subsetStart, " needs a subset");
    if (r.subsetMode && (*r.subsetMode < 1 || *r.subsetMode > 5))
        return refusal(RequestField::subsetMode, " must lie in 1..5, not " + std::to_string(*r.subsetMode));
    if (r.subsetStart && *r.subsetStart < 1)
        return refusal(RequestField::subsetStart, " must be at least 1, not " + std::to_string(*r.subsetStart));
    if (r.count && isUnknownCountSeries(r.type))
        return refusal(RequestField::count,
                       " applies to the fixed-count series types 1, 2, 16, 32 and 36; types 4, 8 and 40 draw "
                       "their count.");
    if (r.repeat < 1) return refusal(RequestField::repeat, " must be at least 1, not " + std::to_string(r.repeat));
    return std::nullopt;
}

std::optional<Refusal> checkProcessRequest(const ProcessRequest& r) {
    if (auto refused = taskRefusal(RequestField::task, r.task)) return refused;
    if (auto refused = proceedingRefusal(r.proceeding)) return refused;
    if (auto refused = percentRefusal(RequestField::savedEnergyProcess, r.savedEnergyProcess)) return refused;
    if (auto refused = candidatesRefusal(r.candidates)) return refused;
    if (auto refused = tuplesRefusal(r.tuples)) return refused;
    const TaskType task = effectiveTaskType(static_cast<TaskType>(r.task), static_cast<SeriesType>(r.series.type));
    if (task == TaskType::tupleDetection && r.tuple.empty())
        return Refusal{RequestField::tuple, "Tuple detection needs ", "."};
    if (task == TaskType::tupleRecognition && r.tuples.empty())
        return Refusal{RequestField::tuples, "Tuple recognition needs ", "."};
    return checkSeriesRequest(r.series);
}

bool SeriesRun::prepare(const SeriesRequest& o, MessageSink& messages, const SeedCells& seeds) {
    request_ = o;
    Settings& s = settings_;
    s.seeds = seeds;
    deriveStartupSettings(s);
    RecordingMessageSink startup;
    prepareStartupModel(s, startup);
    if (!startup.messages.empty()) {
        for (const auto& m : startup.messages) messages.messageBox(m.text, m.caption, m.icon);
        return false;
    }

    // The request becomes the base values the window's dialogs would set.
    s.seriesType = static_cast<SeriesType>(o.type);
    // Whole-pulse types keep all the energy, cut-off types the start-up 75 %.
    const bool cutoffs = isCutOffSeries(o.type);
    s.wSavedEnergyCreateBase = o.savedEnergy.value_or(cutoffs ? s.wSavedEnergyCreate : 100);
    s.dwSeriesSizeBase = o.length.value_or(s.dwSeriesSize);
    s.wTmin = o.tmin.value_or(s.wTmin);
    s.wTmax = o.tmax.value_or(s.wTmax);
    if (!checkSeriesParameters(messages, seriesCaption, s.wImpulseSize, s.wTmin, s.wTmax, s.dwSeriesSizeBase))
        return false;
    s.lpEtalonSequence = o.sequence;
    takeBaseValues(s);

    // The count is the request's as given (the maker refuses one outside the bounds), else the
    // middle of the bounds.
    s.wSeriesPulses = o.count.value_or(static_cast<uint16_t>((s.wMinPulses + s.wMaxPulses) / 2));

    if (!o.subset.empty() && o.subsetStart) {
        // A subset that starts after the last pulse would be dropped without a word.
        const bool drawn = isUnknownCountSeries(o.type);
        const int pulses = drawn ? s.wMinPulses : s.wSeriesPulses;
        if (*o.subsetStart > pulses) {
            messages.messageBox("--subset-start " + std::to_string(*o.subsetStart) + " lies beyond the series: it has " +
                                    (drawn ? "at least " : "") + std::to_string(pulses) + " pulses.",
                                seriesCaption, MessageIcon::Warning);
            return false;
        }
    }
    if (!o.subset.empty()) {
        s.lpSeriesHeader = getCutOffSeriesHeader(messages, s.wAlphabetSize, s.wImpulseSize, s.wTmin, s.wTmax,
                                                 s.dwSeriesSize, std::move(s.lpSeriesHeader));
        if (!s.lpSeriesHeader ||
            !setSelectedSubset(messages, o.subset, o.subsetMode.value_or(s.subsetEmployment),
                               o.subsetStart.value_or(s.subsetInitPosition), s.lpSeriesHeader.get()))
            return false;
    }
    return true;
}

bool SeriesRun::next(MessageSink& messages) {
    Settings& s = settings_;
    RecordingMessageSink made;
    makeSeriesOfCurrentType(s, made);
    for (const auto& m : made.messages) messages.messageBox(m.text, m.caption, m.icon);
    if (!s.lpSeriesHeader) {
        messages.messageBox("No pulse count fits these parameters (the smallest admissible count "
                            "exceeds the largest).",
                            seriesCaption, MessageIcon::Warning);
        return false;
    }
    if (!made.messages.empty()) return false;
    return request_.noise == 0 || addNoise(messages, s.lpSeriesHeader.get(), request_.noise, s.noiseSeed);
}

bool isTupleRoutine(Routine r) {
    return r == Routine::detectTuplesUnfixed || r == Routine::detectTuplesFixed ||
           r == Routine::recognizeTuplesUnfixed || r == Routine::recognizeTuplesFixed;
}

bool ProcessRun::prepare(const ProcessRequest& p, MessageSink& messages, const SeedCells& seeds) {
    request_ = p;
    const TaskType task = effectiveTaskType(static_cast<TaskType>(p.task), static_cast<SeriesType>(p.series.type));
    routine_ = selectRoutine(code(task), p.series.type);

    // The tuple a tuple series is laid from: the request's subset, else the tuple processed.
    SeriesRequest o = p.series;
    if (o.subset.empty()) {
        if (task == TaskType::tupleDetection) o.subset = p.tuple;
        if (task == TaskType::tupleRecognition && !p.tuples.empty()) o.subset = p.tuples.front();
    }
    if (!series_.prepare(o, messages, seeds)) return false;
    Settings& s = series_.settings();
    s.wTaskTypeSel = static_cast<TaskType>(p.task);
    s.wTaskType = task;
    if (p.candidates)
        candidates_ = *p.candidates;
    else
        candidates_.assign(s.lpRequiredList.get(), s.lpRequiredList.get() + s.wRequiredCount);
    tuples_.assign(request_.tuples.begin(), request_.tuples.end());

    chains_ = getChainsHeader(messages, s.wChainsCapacity, s.wMaxPulses, nullptr);
    if (!chains_) return false;
    input_ = ProcessingInput{};
    input_.candidates = candidates_;
    input_.tuple = request_.tuple;
    input_.tuples = tuples_;
    input_.mode = p.proceeding;
    input_.Tmin = s.wTmin;
    input_.Tmax = s.wTmax;
    input_.pct = p.savedEnergyProcess.value_or(s.wSavedEnergyCreate);
    return true;
}

bool ProcessRun::makeSeries(MessageSink& messages) {
    return series_.next(messages);
}

bool ProcessRun::processSeries(MessageSink& messages) {
    RecordingMessageSink routine;
    answer_ = processCurrentSeries(series_.settings(), routine, input_, chains_.get()).answer;
    for (const auto& m : routine.messages) messages.messageBox(m.text, m.caption, m.icon);
    return routine.messages.empty();
}

bool ProcessRun::knownCount() const {
    return routine_ == Routine::detectPulsesFixed || routine_ == Routine::recognizePulsesFixed ||
           routine_ == Routine::detectTuplesFixed || routine_ == Routine::recognizeTuplesFixed;
}

int64_t ProcessRun::knownCountCells() const {
    if (!knownCount()) return 0;
    const SeriesHeader& h = series();
    int64_t cells = 0;
    for (int j = 0; j < h.wImpulseQuantity; ++j)
        cells += std::max<int64_t>(0, int64_t{h.lpPositionMax[j]} - h.lpPositionMin[j] + 1);
    return cells;
}
