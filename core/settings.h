#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "model/alphabet.h"
#include "model/codes.h"
#include "model/random.h"
#include "model/series.h"
#include "processing/chains.h"
#include "simulation/rest_error.h"

/// A read-only start-up choice table: a count followed by that many values. Entry i (1-based)
/// is the i-th value, of which the low 16 bits are used.
struct ChoiceTable {
    int32_t count;
    std::array<int32_t, 3> values;
};

inline constexpr ChoiceTable seriesSizeTable{3, {200, 600, 1200}};
inline constexpr ChoiceTable noiseLevelTable{3, {20, 35, 50}};
inline constexpr ChoiceTable lostLevelTable{3, {0, 25, 50}};

/// Entry `index` (1-based) of a table, low 16 bits. An index outside 1..count is taken as the
/// nearest valid one, so a bad index can never read outside the table.
constexpr uint16_t choiceEntry(const ChoiceTable& table, int32_t index) {
    if (index < 1) index = 1;
    if (index > table.count) index = table.count;
    return static_cast<uint16_t>(table.values[static_cast<size_t>(index - 1)] & 0xFFFF);
}

/// What the main view shows; the number is the mode's code, as the batch tool's `experiment`
/// prints it.
enum class ViewMode : int32_t {
    etalons = 5,          ///< after start-up: the etalons
    results = 6,          ///< after a series was made or processed, or a simulation shown
    subsetPanel = 9,      ///< the subset-selection panel
    parametersPanel = 10, ///< the series-parameters panel
};

constexpr int32_t code(ViewMode mode) { return static_cast<int32_t>(mode); }

/// The one record of every parameter, mode and owned object of the workbench. Many quantities
/// exist as a base value (set by dialogs and the choice tables) and a current value (copied from
/// the base when a series is made, read by the makers and processing). What a dialog returns is
/// committed by the command that opened it.
///
/// Percent levels are whole numbers 0..100; lengths and positions are in samples.
struct Settings {
    // Choice-table indices (1-based).
    int32_t seriesSizeIndex = 3;
    int32_t noiseLevelIndex = 1;
    int32_t lostLevelIndex = 2;

    // Series creation.
    uint32_t dwSeriesSizeBase = choiceEntry(seriesSizeTable, 3);
    uint32_t dwSeriesSize = choiceEntry(seriesSizeTable, 3);
    uint16_t wImpulseSize = 20;
    uint16_t wTmin = 40;
    uint16_t wTmax = 181;
    uint16_t wAmplitude = 128;
    uint16_t wMinPulses = 0;   ///< derived from dwSeriesSize, wImpulseSize, wTmin, wTmax
    uint16_t wMaxPulses = 0;   ///< derived likewise
    uint16_t wPulsesQuantity = 40;
    uint16_t wSeriesPulses = 40;
    int16_t wNoiseLevelBase = static_cast<int16_t>(choiceEntry(noiseLevelTable, 1));
    int16_t wNoiseLevel = static_cast<int16_t>(choiceEntry(noiseLevelTable, 1));
    int16_t wLostLevelBase = static_cast<int16_t>(choiceEntry(lostLevelTable, 2));
    int16_t wLostLevel = static_cast<int16_t>(choiceEntry(lostLevelTable, 2));
    uint16_t wSavedEnergyCreateBase = 75;
    uint16_t wSavedEnergyCreate = 75;
    uint16_t wSavedEnergyProcessBase = 75;
    uint16_t wSavedEnergyProcess = 75;
    int32_t etalonNumber = 1;
    int32_t currentEtalon = 1;
    int32_t previousEtalon = 0;
    int16_t noiseSeed = initialNoiseSeed; ///< seed cell of the series noise, advanced by addNoise
    /// The other random streams of these settings (alphabet, series making, subsets, etalon
    /// sequences), advanced by the makers the use cases call with them. Each owner of settings
    /// (the window, a batch command) draws from its own.
    SeedCells seeds;

    // Alphabet, required list and etalon sequences.
    uint16_t wAlphabetSize = 20;
    Alphabet alphabet;
    std::array<uint16_t, alphabetCapacity> requiredFlags{}; ///< entry n-1: etalon n is required
    uint16_t wRequiredCapacity = 20;                        ///< entries allocated in lpRequiredList
    uint16_t wRequiredCount = 20;                           ///< entries in use
    std::unique_ptr<uint16_t[]> lpRequiredList;             ///< required etalon numbers, ascending
    std::vector<uint16_t> lpEtalonSequence;    ///< etalon number of each pulse of the next series
    std::vector<uint16_t> lpEtalonSequenceDlg; ///< working copy edited in the pulses dialog
    int32_t resetSequence = 1;

    // Modes.
    TaskType wTaskTypeSel = TaskType::jointDetection;
    TaskType wTaskType = TaskType::jointDetection;
    SeriesType seriesType = SeriesType::unfixedCutoffs;

    // View state.
    ViewMode viewMode = ViewMode::etalons;
    uint16_t wDisplayContent = 1;
    uint16_t wChainsCapacity = 10;
    uint16_t wChainsPulses = 0;
    int32_t dirtySeriesLength = 0;
    int32_t dirtyNoiseLevel = 0;
    int32_t dirtyLostLevel = 0;
    int32_t dirtyPanelArea = 0;
    int32_t noEraseOnInvalidate = 0;

    // Drawing settings.
    uint16_t highlightTuples = 2;
    int32_t frameGraphFields = 1;
    int32_t shadeOriginalPulses = 1;
    int32_t highlightDetectedPulses = 1;
    int32_t specialGraphSize = 0;

    // Statistical simulation.
    uint16_t repeats = 100;
    uint16_t wPulsesIncrement = 1;
    uint16_t wPulsesSteps = 0;
    uint16_t wNoiseInitial = 0;
    uint16_t wNoiseSteps = 29;
    uint16_t wNoiseIncrement = 5;
    int32_t handlingCase = 1;
    int32_t viewCase = 1;
    int32_t fixedUpperBound = 0;
    double upperBound = 0.25;
    int32_t boundsIncluded = 1;
    int32_t simGraphKind = 2;

    // Subsets.
    uint16_t subsetEmployment = 4;
    uint16_t subsetInitPosition = 1;
    uint16_t subsetProceeding = 1;

    // Owned objects; null until first made. Each is remade by handing it to its get function
    // and storing what comes back.
    std::unique_ptr<SeriesHeader> lpSeriesHeader;
    std::unique_ptr<ChainsHeader> lpChainsHeader;
    std::unique_ptr<RestErrorHeader> lpRestErrorHeader;

    Settings() = default;
    Settings(const Settings&) = delete;
    Settings& operator=(const Settings&) = delete;
    ~Settings();
};

/// The eleven start-up derivation steps, in order: series length, noise level and lost level
/// from their tables, both saved energy levels as 100 - lost level, current etalon.
void deriveStartupSettings(Settings& s);

/// Rebuilds lpRequiredList from requiredFlags: flagged etalons 1..wAlphabetSize in ascending
/// order; wRequiredCount becomes the number of flags set. Grows the list when it is too small.
void rebuildRequiredList(Settings& s);
