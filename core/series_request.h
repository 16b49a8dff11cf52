#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/refusal.h"
#include "core/settings.h"
#include "model/codes.h"
#include "model/message_sink.h"
#include "processing/dispatch.h"

// The series and process use cases as the batch tool and the Python module ask for them: a
// request, its check, and a run that makes (and processes) series one after the other from the
// workbench's start-up state. The window makes its series through its dialogs and
// series_use_case.h.

/// A request for series: an absent field keeps the workbench's start-up value.
struct SeriesRequest {
    uint32_t type = code(SeriesType::unfixedCutoffs);  ///< a series type's code
    std::optional<uint32_t> length;
    std::optional<uint16_t> tmin;
    std::optional<uint16_t> tmax;
    std::optional<uint16_t> count;        ///< fixed-count types only
    std::optional<uint16_t> savedEnergy;  ///< percent, 0..100
    int16_t noise = 0;                    ///< noise level added to each series; 0 adds none
    std::vector<uint16_t> sequence;       ///< etalon number of each pulse
    std::vector<int32_t> subset;          ///< the active selected subset
    std::optional<int> subsetMode;        ///< 1..5, needs a subset
    std::optional<int> subsetStart;       ///< 1-based pulse, needs a subset
    int repeat = 1;                       ///< series made one after the other, at least 1
};

/// The request's own rules, before any series is made (the makers then check what depends on
/// the model): a known series type, a saved energy of 0..100, the subset's mode 1..5 and start
/// from 1 given with a subset only, a count only for the fixed-count types, at least one repeat.
std::optional<Refusal> checkSeriesRequest(const SeriesRequest& request);

/// A request for processing: series as SeriesRequest makes them, then the routine that the
/// task and the series type select.
struct ProcessRequest {
    SeriesRequest series;
    uint16_t task = code(TaskType::jointDetection);  ///< a selectable task's code
    std::optional<std::vector<uint16_t>> candidates; ///< absent: every required etalon; never empty
    std::vector<int32_t> tuple;                      ///< tuple detection
    std::vector<std::vector<int32_t>> tuples;        ///< tuple recognition; no tuple empty
    uint16_t proceeding = 1;                         ///< 1 complete, 2 probably shifted complete
    std::optional<uint16_t> savedEnergyProcess;      ///< absent: as the series was made
};

/// The series rules, then a selectable task, proceeding 1 or 2, a saved energy of 0..100, the
/// candidates not empty when given, the tuple of tuple detection and the tuples of tuple
/// recognition given and none of them empty.
std::optional<Refusal> checkProcessRequest(const ProcessRequest& request);

/// Series made one after the other from the start-up state, as the workbench's makers would,
/// each followed by its noise. Owns its settings (and with them the series and the random
/// streams' noise cell). Refusals of the model go to the sink passed in, captioned " series ".
class SeriesRun {
public:
    /// The start-up state with the request applied as the window's dialogs would set it (the
    /// request must have passed checkSeriesRequest), drawing from `seeds` (the start-up streams
    /// unless the caller carries its own on); the run's settings own the streams from then on.
    /// False after a message.
    bool prepare(const SeriesRequest& request, MessageSink& messages, const SeedCells& seeds = SeedCells{});

    /// Makes the next series and its noise. False after a message.
    bool next(MessageSink& messages);

    const SeriesHeader& series() const { return *settings_.lpSeriesHeader; }
    Settings& settings() { return settings_; }
    const Settings& settings() const { return settings_; }

private:
    SeriesRequest request_;
    Settings settings_;
};

/// Series made and processed one after the other. Owns its settings and its chains table.
class ProcessRun {
public:
    /// The series prepared as SeriesRun prepares them (the tuple processed is the tuple a tuple
    /// series is laid from, unless the request names a subset), the task and the chains table.
    /// The request must have passed checkProcessRequest; `seeds` as for SeriesRun. False after a
    /// message.
    bool prepare(const ProcessRequest& request, MessageSink& messages, const SeedCells& seeds = SeedCells{});

    /// Makes the next series. False after a message.
    bool makeSeries(MessageSink& messages);
    /// Processes the series made last. False after a message of the routine.
    bool processSeries(MessageSink& messages);

    Routine routine() const { return routine_; }
    int32_t answer() const { return answer_; }  ///< the last routine's answer (see runRoutine)
    const SeriesHeader& series() const { return series_.series(); }
    const ChainsHeader& chains() const { return *chains_; }
    const Settings& settings() const { return series_.settings(); }
    Settings& settings() { return series_.settings(); }

    /// Whether the routine is a known-count programme, whose table grows with the pulse count
    /// times the position ranges.
    bool knownCount() const;
    /// The known-count programme's position cells for the current series (one per position of
    /// every pulse's range); 0 for the other routines.
    int64_t knownCountCells() const;

private:
    ProcessRequest request_;
    SeriesRun series_;
    Routine routine_ = Routine::detectPulsesUnfixed;
    int32_t answer_ = 0;
    std::vector<uint16_t> candidates_;
    std::vector<std::span<const int32_t>> tuples_;
    std::unique_ptr<ChainsHeader> chains_;
    ProcessingInput input_;
};

/// Whether a routine works on tuples (its found pulses come in groups).
bool isTupleRoutine(Routine routine);
