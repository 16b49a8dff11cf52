#pragma once

// The detection in a recording as the front ends ask for it, free of any toolkit: shapes cut
// from the signal or loaded, the shape list's edits, the recording view's panel fields, the
// checked settings, the preparation of a detection (baseline, quantisation) and the report with
// its export.

#include <atomic>
#include <cstdio>
#include <functional>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/detect.h"
#include "io/io_result.h"
#include "io/quantise.h"
#include "io/shapes.h"
#include "io/signal_reader.h"

/// A shape of the view's list: the shape, where it was cut from the signal (to cut it again
/// after a baseline removal), and whether it is a candidate of the next detection.
struct ListedShape {
    Shape shape;
    std::optional<int64_t> cutFrom;
    bool candidate = true;
};

/// Cuts samples [first, last) of the signal as a new shape named `name` for the list `shapes`.
/// Refused with a message: a stretch shorter than minShapeLength or longer than maxShapeLength
/// samples, or reaching beyond the signal; a full list; a bad name (see checkShapeName). Shapes
/// of several lengths may stand in one list.
IoResult<ListedShape> cutShape(const Signal& signal, int64_t first, int64_t last, const std::string& name,
                               const std::vector<ListedShape>& shapes);

/// A name for a shape of the list: not empty, without commas (names are listed with commas),
/// not the name of another listed shape (`except`: the index of the shape being renamed, or -1).
IoStatus checkShapeName(const std::string& name, const std::vector<ListedShape>& shapes, int except = -1);

/// The first "tK" (K = 1, 2, ...) that no listed shape is named.
std::string nextShapeName(const std::vector<ListedShape>& shapes);

/// The listed shapes themselves, in list order.
std::vector<Shape> shapesOf(const std::vector<ListedShape>& shapes);

/// Where the shape named `name` stands in `shapes` (the first so named); nothing when none is.
/// Candidates named by the user are looked up with it.
std::optional<int32_t> shapeIndex(const std::vector<Shape>& shapes, const std::string& name);

/// The shapes' names listed with commas ("a, b, c"), for a message naming the choices.
std::string shapeNameList(const std::vector<Shape>& shapes);

/// Shapes read from a file for the list: read (readShapes) and checked as an alphabet
/// (checkShapes: lengths, distinct names, ...). All candidates.
IoResult<std::vector<ListedShape>> loadShapes(const std::string& path);

/// The weights of a recording's channels: "w1,w2,..." (one number per channel, 0 to 10^6, not all
/// 0; checkChannelWeights); the refusal follows the field's name. A pulse's term is the sum of its
/// channels' terms, each times its weight; the weights are relative (only their ratios count).
IoResult<std::vector<double>> parseChannelWeights(const std::string& text, int channels);
/// The problem with weights for `channels` channels (empty: equal weights, always sound).
IoStatus checkChannelWeights(const std::vector<double>& weights, int channels);
/// What each channel (signal and shapes) is multiplied by before the common quantisation: the
/// square root of its weight over the largest (1 for every channel without weights). Folding the
/// weights in so keeps the engine's plain sum over channels and its exact integers.
std::vector<double> weightRoots(const std::vector<double>& weights, int channels);
/// Every shape spans as many channels as the recording; else a message naming the shape.
IoStatus checkShapeChannels(const std::vector<Shape>& shapes, int channels);

/// The gain a pulse may take: its shape times g, MIN <= g <= MAX. {1, 1}: the shapes as they are.
struct GainRange {
    double min = 1, max = 1;
    bool plain() const { return min == 1 && max == 1; }
};

/// The problem with a gain range, in words that follow the field's name ("--gain: ..."): MIN
/// above MAX, or a gain that is not finite or beyond kMostGain in magnitude. Nothing when sound.
std::optional<std::string> gainRangeProblem(double min, double max);

/// Reads "MIN:MAX" (or one number G for G:G) and checks it (gainRangeProblem); the refusal
/// follows the field's name.
IoResult<GainRange> parseGainRange(const std::string& text);

/// What every pulse adds to the distance: a number in the signal's own units squared (>= 0), or
/// derived from the recording ("auto", see autoPulseCost).
struct PulseCostChoice {
    bool automatic = false;
    double value = 0;  ///< when not automatic
};

/// Reads a pulse cost: "auto" or a number >= 0 (finite); the refusal follows the field's name.
IoResult<PulseCostChoice> parsePulseCost(const std::string& text);

/// The noise level of a signal, in its units, estimated robustly: the median absolute
/// deviation of the first differences, times 1.4826 / sqrt(2) (the differences of white noise
/// of deviation s have deviation s sqrt(2); pulses and a slow baseline barely move a median).
double robustNoiseSigma(std::span<const float> samples);
/// The same from the first differences x[i + 1] - x[i] (as doubles), which it reorders: for a
/// signal that is never held whole.
double robustNoiseSigmaOfDifferences(std::vector<double>& differences);

/// The pulse cost "auto" takes: 2 s² ln(S (Tmax - Tmin + 1)), s the robust noise level, S the
/// candidate count. Under noise alone the best gain-fitted shape at one of the M = S (Tmax -
/// Tmin + 1) places a pulse may take in a gap explains about s² times the largest of M
/// chi-square values of one degree of freedom, which stays below 2 s² ln M; a pulse that
/// explains more than its cost is kept.
double autoPulseCost(double sigma, int64_t candidates, int64_t tmin, int64_t tmax);

/// The detection panel's fields as the user left them.
struct DetectFields {
    DetectTask task = DetectTask::joint;
    std::string tmin, tmax;
    bool inSeconds = false;     ///< Tmin and Tmax in seconds (else samples)
    bool knownCount = false;
    std::string count;
    std::string savedEnergy = "100";
    bool baseline = false;
    std::string baselineSeconds;
    std::string gain = "1:1";     ///< MIN:MAX (parseGainRange)
    std::string pulseCost = "0";  ///< a number or "auto" (parsePulseCost)
    std::string channelWeights;   ///< empty (equal) or parseChannelWeights's "w1,w2,..."
};

/// Tmin and Tmax to start the panel with, as text in the unit shown: Tmin one shape length
/// (pulses do not overlap), Tmax ten shape lengths, cut to the signal.
struct SuggestedDistances {
    std::string tmin, tmax;
};
SuggestedDistances suggestedDistances(int64_t shapeLength, int64_t total, double rate, bool inSeconds);

/// A distance typed in one unit, in the other (seconds to whole samples, samples to seconds);
/// nothing when the text is not a positive number.
std::optional<std::string> convertedDistance(const std::string& text, double rate, bool toSeconds);

/// The checked settings of a detection.
struct DetectSettings {
    DetectTask task = DetectTask::joint;
    int64_t tmin = 1, tmax = 1;
    std::optional<int64_t> count;
    int32_t savedEnergy = 100;
    std::optional<double> baselineSeconds;
    std::vector<int32_t> candidates;  ///< indices into the shape list, in list order
    GainRange gain;
    PulseCostChoice pulseCost;
    int32_t learnRounds = 0;  ///< rounds of learning the shapes first (0: none)
    /// The posterior confidence of every pulse (see core/posterior.h): asked for, its window in
    /// samples (unset: a quarter of Tmin), each position's probability too, and the noise level
    /// in the signal's units (unset: estimated, see robustNoiseSigma).
    bool confidence = false;
    std::optional<int64_t> confidenceWindow;
    bool posterior = false;
    std::optional<double> noiseSigma;
    /// One weight per channel (see parseChannelWeights); empty: equal.
    std::vector<double> channelWeights;
};

/// Checks the panel's fields against the signal and the shapes. Refused with a message naming
/// the field: Tmin or Tmax not a positive whole number of samples (or seconds that round to
/// less than one sample), Tmin > Tmax, Tmax beyond the signal, no shapes, shapes that are no
/// alphabet, a shape longer than Tmax, no candidate (or not exactly one for detection), a count
/// that is not a whole number >= 1 or more pulses than fit, a saved energy outside 0..100, a
/// baseline window that is not a positive number of seconds covering at least one sample, a gain
/// range or pulse cost that does not read (parseGainRange, parsePulseCost).
IoResult<DetectSettings> checkDetectFields(const DetectFields& fields, const Signal& signal,
                                           const std::vector<ListedShape>& shapes);

/// A detection ready to run: the quantised recording the request's spans point into.
struct PreparedDetection {
    QuantisedRecording quantised;
    DetectRequest request;  ///< points into `quantised`; do not copy the object
    /// The signal less its baseline, as the detection sees it; empty when no baseline was removed.
    std::vector<float> corrected;
    /// The shapes as they are sought: those cut from the signal are cut again from `corrected`.
    std::vector<Shape> shapes;
    /// The pulse cost used, in the signal's units squared, and the noise level it was derived
    /// from when automatic (else 0).
    double pulseCost = 0;
    double noiseSigma = 0;
    /// Each channel's weight as given (empty: equal); weightRoots gives what each channel was
    /// multiplied by before the quantisation.
    std::vector<double> channelWeights;
    GainRange gain;
    PulseCostChoice pulseCostChoice;
    /// With learning (runDetection): the distance with the given shapes, then after each round,
    /// and the round whose shapes were kept.
    std::vector<int64_t> learnDistances;
    int32_t learnedRound = 0;
    /// The posterior (runDetection) when asked: its window, the expected pulse count and its
    /// deviation, and each position's probability when asked.
    bool confidence = false;
    int64_t confidenceWindow = 0;
    bool wantPosterior = false;
    double expectedCount = 0, countDeviation = 0;
    std::vector<double> posterior;
};

/// Removes the baseline when asked (shapes cut from the signal are cut again from the corrected
/// signal, so that they match what they are sought in), quantises signal and shapes on one
/// scale and fills the request: the gain range, and the pulse cost (automatic or given) in the
/// quantised units, the signal's squared units times scale², rounded to the nearest. Runs on the worker thread: it may take seconds on long signals.
IoStatus prepareDetection(const Signal& signal, const std::vector<ListedShape>& shapes,
                          const DetectSettings& settings, PreparedDetection& prepared);

/// Whether a detection with these settings estimates the noise level from the recording (an
/// automatic pulse cost or the confidence without a noise level given).
bool needsNoiseEstimate(const DetectSettings& settings);

/// The end of every preparation, once `prepared.quantised` holds the quantised recording and
/// `prepared.shapes` the shapes: the request (pointing into `prepared.quantised`, of `channels`
/// channels), the noise level (`estimatedNoiseSigma` when needsNoiseEstimate, else the one
/// given), the pulse cost and the confidence's checks.
IoStatus finishPreparation(const DetectSettings& settings, int channels, double estimatedNoiseSigma,
                           PreparedDetection& prepared);

/// The detection of a prepared request (see prepareDetection; with its confidence when the
/// settings asked for it: posteriorOf at T = 2 (s·scale)², s the run's noise level, filled into
/// the pulses and `prepared`; without learning detectWithPosterior, which scores the shapes once
/// for both), after `learnRounds` rounds of
/// learning the shapes (0: none; see learnShapes). With learning the kept shapes replace the
/// prepared ones (on the integer scale and, divided by the scale, in the signal's units, names
/// kept), so that the report states and draws them; `learnDistances` gets the distance with the
/// given shapes and after each round. progress, cancel as for detectInRecording; `round` (may
/// be empty) hears of each finished round.
DetectResult runDetection(PreparedDetection& prepared, int32_t learnRounds, const std::function<void(double)>& progress,
                          const std::function<void(int32_t, int64_t)>& round, const std::atomic<bool>& cancel);

/// The shapes exactly as a detection with this baseline window uses them (shapes cut from the
/// signal cut again after the baseline removal): what is saved, so that a saved and loaded
/// shape gives the same result as the one it was saved from.
IoResult<std::vector<Shape>> shapesAsDetected(const Signal& signal, const std::vector<ListedShape>& shapes,
                                              const std::optional<double>& baselineSeconds);

/// A finished detection as it is reported and exported.
struct DetectReport {
    int64_t samples = 0;
    double rate = 1;
    double scale = 1;
    std::vector<Shape> shapes;  ///< the shapes of the run (names and lengths are reported)
    DetectTask task = DetectTask::joint;
    int64_t distance = 0;
    std::vector<DetectedPulse> pulses;
    double seconds = 0;  ///< time the run took
    GainRange gain;
    PulseCostChoice pulseCostChoice;
    double pulseCost = 0;   ///< the cost used, in the signal's units squared
    double noiseSigma = 0;  ///< the run's noise level (given, or estimated for an automatic cost or the confidence)
    std::vector<int64_t> learnDistances;  ///< with learning: the distance before and after each round
    int32_t learnedRound = 0;             ///< with learning: the round whose shapes were kept
    bool confidence = false;              ///< each pulse's confidences and the count's moments stated
    double expectedCount = 0, countDeviation = 0;
    /// The recording's channels, their names and weights as given (1 each without weights).
    int channels = 1;
    std::vector<std::string> channelNames;
    std::vector<double> channelWeights;
    /// Whether the report states the gain and cost (they are not the plain model's).
    bool extended() const { return !gain.plain() || pulseCostChoice.automatic || pulseCostChoice.value != 0; }
};

/// The report of a detection of `signal` prepared as `prepared` that ended with `result` after
/// `seconds`: the signal's length and rate, the common scale, the shapes as they were sought
/// (cut again after a baseline removal, so that drawn on the trace the detection saw they lie on
/// it), the task, the distance and the pulses.
DetectReport detectReportOf(const Signal& signal, const PreparedDetection& prepared, DetectResult result,
                            double seconds);
/// The same for a signal at `rate` that is not held (its length is the prepared request's).
DetectReport detectReportOf(double rate, const PreparedDetection& prepared, DetectResult result, double seconds);

/// What is suspicious about a finished detection, in words for the user: every found pulse
/// with a positive measure (each made the distance worse than no pulse: nothing fits, typically
/// shapes of another recording, unit or scale). Nothing when the result looks sound.
std::optional<std::string> detectReportWarning(const DetectReport& report);

/// {"samples":N,"rate":R,"scale":S,"etalons":[{"name":"...","length":L}],"task":"joint",
/// "distance":D,"pulses":[{"position":P,"time":SECONDS,"etalon":"NAME","cutStart":A,"cutEnd":B,
/// "measure":M}]} on one line, with a line end. With a gain range or a pulse cost (extended())
/// also "gain":[MIN,MAX], "pulseCost":C (signal units squared), "pulseCostAuto":true|false and,
/// when automatic, "noiseSigma"; and each pulse's "gain". With learning also "learnRounds":
/// {"distances":[D0,D1,...],"kept":R}. With confidence "noiseSigma", "expectedCount",
/// "countDeviation" and each pulse's "confidence" and "kindConfidence".
std::string detectReportJson(const DetectReport& report);
/// The same text handed to `write` in parts, a pulse at a time, so that a long recording's
/// report is never held whole.
void writeDetectReportJson(const DetectReport& report, const std::function<void(std::string_view)>& write);
/// The header line `position,time,etalon,cutStart,cutEnd,measure` (and `,gain` when extended,
/// `,confidence,kindConfidence` with confidence), then one pulse a line.
std::string detectReportCsv(const DetectReport& report);
/// The same text handed to `write` a line at a time.
void writeDetectReportCsv(const DetectReport& report, const std::function<void(std::string_view)>& write);
/// Writes the report as JSON when `path` ends in ".json" (any case), as CSV for ".csv"; any
/// other ending is refused. Written whole or not at all.
IoStatus writeDetectReport(const std::string& path, const DetectReport& report);

/// Each position's probability that a pulse starts there: the header `position,time,probability`,
/// then one position a line.
void printPosteriorCsv(std::FILE* file, const std::vector<double>& posterior, double rate);
