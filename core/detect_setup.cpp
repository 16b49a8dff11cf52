#include "core/detect_setup.h"

#include "core/learn.h"
#include "core/posterior.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "core/version.h"
#include "io/file_batch.h"
#include "io/text_lines.h"
#include "model/text_format.h"

namespace {
std::string count(int64_t n) {
    return std::to_string(n);
}

// A whole number >= 1 ("12"), blanks around it allowed.
bool parseWhole(const std::string& text, int64_t& value) {
    double number = 0;
    if (!parseNumber(text, number) || !std::isfinite(number) || number != std::floor(number) || number < 1 ||
        number > 9.0e15)
        return false;
    value = static_cast<int64_t>(number);
    return true;
}

}  // namespace

IoStatus checkShapeName(const std::string& name, const std::vector<ListedShape>& shapes, int except) {
    if (name.empty() || name.find_first_not_of(" \t") == std::string::npos)
        return IoStatus::failure("A pulse shape needs a name.");
    if (const long bad = invalidUtf8Offset(name); bad >= 0)
        return IoStatus::failure("The shape name is not valid UTF-8 (byte " + std::to_string(bad + 1) + ").");
    if (name.find(',') != std::string::npos)
        return IoStatus::failure("The shape name \"" + name + "\" holds a comma; names are listed with commas.");
    for (size_t i = 0; i < shapes.size(); ++i)
        if (static_cast<int>(i) != except && shapes[i].shape.name == name)
            return IoStatus::failure("There is already a shape named \"" + name + "\".");
    return {};
}

std::string nextShapeName(const std::vector<ListedShape>& shapes) {
    for (int k = 1;; ++k) {
        std::string name = "t";  // appended, not "t" + ...: GCC 12 warns falsely on that form
        name += std::to_string(k);
        if (checkShapeName(name, shapes)) return name;
    }
}

IoResult<ListedShape> cutShape(const Signal& signal, int64_t first, int64_t last, const std::string& name,
                               const std::vector<ListedShape>& shapes) {
    using Result = IoResult<ListedShape>;
    const int64_t total = signal.length();
    if (first < 0 || last > total || first >= last)
        return Result::failure("The selected stretch lies outside the signal (" + count(total) + " samples).");
    const int64_t length = last - first;
    if (length < minShapeLength)
        return Result::failure("The selected stretch holds " + count(length) + " samples; a pulse shape needs at least " +
                               count(minShapeLength) + ".");
    if (length > maxShapeLength)
        return Result::failure("The selected stretch holds " + count(length) + " samples; a pulse shape holds at most " +
                               count(maxShapeLength) + ".");
    if (static_cast<int>(shapes.size()) >= maxShapeCount)
        return Result::failure("The list already holds " + count(maxShapeCount) + " shapes, as many as a detection takes.");
    if (IoStatus named = checkShapeName(name, shapes); !named) return Result::failure(named.error);
    ListedShape listed;
    listed.shape.name = name;
    listed.shape.channels = signal.channels;
    for (int ch = 0; ch < signal.channels; ++ch) {
        const std::span<const float> channel = signal.channel(ch);
        listed.shape.samples.insert(listed.shape.samples.end(), channel.begin() + first, channel.begin() + last);
    }
    bool allZero = std::all_of(listed.shape.samples.begin(), listed.shape.samples.end(), [](double v) { return v == 0; });
    if (allZero) return Result::failure("The selected stretch is zero throughout; it cannot be a pulse shape.");
    listed.cutFrom = first;
    return Result::success(std::move(listed));
}

std::optional<std::string> gainRangeProblem(double min, double max) {
    if (!std::isfinite(min) || !std::isfinite(max) || std::abs(min) > kMostGain || std::abs(max) > kMostGain)
        return "a gain lies from -" + shortestNumber(kMostGain) + " to " + shortestNumber(kMostGain) + ", got " +
               shortestNumber(min) + ":" + shortestNumber(max) + ".";
    if (min > max) return "MIN must not be above MAX, got " + shortestNumber(min) + ":" + shortestNumber(max) + ".";
    return std::nullopt;
}

IoResult<GainRange> parseGainRange(const std::string& text) {
    using Result = IoResult<GainRange>;
    const auto colon = text.find(':');
    GainRange range;
    const bool read = colon == std::string::npos
                              ? parseNumber(text, range.min) && ((range.max = range.min), true)
                              : parseNumber(std::string_view(text).substr(0, colon), range.min) &&
                                        parseNumber(std::string_view(text).substr(colon + 1), range.max);
    if (!read) return Result::failure("expected MIN:MAX (two numbers, e.g. 0.5:2 or -1.5:1.5) or one gain, got \"" + text + "\".");
    if (auto problem = gainRangeProblem(range.min, range.max)) return Result::failure(*problem);
    return Result::success(range);
}

IoResult<PulseCostChoice> parsePulseCost(const std::string& text) {
    using Result = IoResult<PulseCostChoice>;
    PulseCostChoice choice;
    if (text == "auto") {
        choice.automatic = true;
        return Result::success(choice);
    }
    if (!parseNumber(text, choice.value) || !std::isfinite(choice.value) || choice.value < 0)
        return Result::failure("expected a number of at least 0 (in the signal's units squared) or \"auto\", got \"" + text + "\".");
    return Result::success(choice);
}

IoResult<std::vector<double>> parseChannelWeights(const std::string& text, int channels) {
    using Result = IoResult<std::vector<double>>;
    std::vector<double> weights;
    for (const std::string_view item : splitFields(text, ',')) {
        double w = 0;
        if (!parseNumber(item, w) || !std::isfinite(w))
            return Result::failure("expected one number per channel with commas (\"1,0.5,2\"), got \"" + text + "\".");
        weights.push_back(w);
    }
    if (IoStatus s = checkChannelWeights(weights, channels); !s) return Result::failure(s.error);
    return Result::success(std::move(weights));
}

IoStatus checkChannelWeights(const std::vector<double>& weights, int channels) {
    if (weights.empty()) return {};
    if (weights.size() != static_cast<size_t>(channels))
        return IoStatus::failure(std::to_string(weights.size()) + (weights.size() == 1 ? " weight" : " weights") +
                                 " for " + std::to_string(channels) + (channels == 1 ? " channel" : " channels") +
                                 "; give one per channel.");
    for (size_t c = 0; c < weights.size(); ++c)
        if (!std::isfinite(weights[c]) || weights[c] < 0 || weights[c] > 1e6)
            return IoStatus::failure("the weight of channel " + std::to_string(c + 1) + " (" + shortestNumber(weights[c]) +
                                     ") must be a number from 0 to 10^6.");
    if (std::all_of(weights.begin(), weights.end(), [](double w) { return w == 0; }))
        return IoStatus::failure("every weight is 0; at least one channel must count.");
    return {};
}

std::vector<double> weightRoots(const std::vector<double>& weights, int channels) {
    if (weights.empty()) return std::vector<double>(static_cast<size_t>(channels), 1.0);
    const double most = *std::max_element(weights.begin(), weights.end());
    std::vector<double> roots;
    for (const double w : weights) roots.push_back(w == most ? 1.0 : std::sqrt(w / most));
    return roots;
}

IoStatus checkShapeChannels(const std::vector<Shape>& shapes, int channels) {
    for (const Shape& shape : shapes)
        if (shape.channels != channels)
            return IoStatus::failure("The shape \"" + shape.name + "\" has " + std::to_string(shape.channels) +
                                     (shape.channels == 1 ? " channel" : " channels") + ", the recording " +
                                     std::to_string(channels) + ": a shape spans every channel of the recording.");
    return {};
}

double robustNoiseSigma(std::span<const float> samples) {
    if (samples.size() < 3) return 0;
    std::vector<double> d(samples.size() - 1);
    for (size_t i = 0; i + 1 < samples.size(); ++i) d[i] = static_cast<double>(samples[i + 1]) - samples[i];
    return robustNoiseSigmaOfDifferences(d);
}

double robustNoiseSigmaOfDifferences(std::vector<double>& d) {
    if (d.size() < 2) return 0;
    const auto median = [](std::vector<double>& v) {
        const auto middle = v.begin() + static_cast<std::ptrdiff_t>(v.size() / 2);
        std::nth_element(v.begin(), middle, v.end());
        return *middle;
    };
    const double center = median(d);
    for (double& v : d) v = std::abs(v - center);
    return 1.4826 * median(d) / std::sqrt(2.0);
}

double autoPulseCost(double sigma, int64_t candidates, int64_t tmin, int64_t tmax) {
    const double places = static_cast<double>(std::max<int64_t>(candidates, 1)) * static_cast<double>(tmax - tmin + 1);
    return 2.0 * sigma * sigma * std::log(std::max(places, 2.0));
}

std::vector<Shape> shapesOf(const std::vector<ListedShape>& shapes) {
    std::vector<Shape> alphabet;
    alphabet.reserve(shapes.size());
    for (const ListedShape& listed : shapes) alphabet.push_back(listed.shape);
    return alphabet;
}

std::optional<int32_t> shapeIndex(const std::vector<Shape>& shapes, const std::string& name) {
    const auto found = std::find_if(shapes.begin(), shapes.end(), [&](const Shape& s) { return s.name == name; });
    if (found == shapes.end()) return std::nullopt;
    return static_cast<int32_t>(found - shapes.begin());
}

std::string shapeNameList(const std::vector<Shape>& shapes) {
    std::string names;
    for (const Shape& s : shapes) names += (names.empty() ? "" : ", ") + s.name;
    return names;
}

IoResult<std::vector<ListedShape>> loadShapes(const std::string& path) {
    using Result = IoResult<std::vector<ListedShape>>;
    IoResult<std::vector<Shape>> read = readShapes(path);
    if (!read) return Result::failure(read.error);
    if (IoStatus checked = checkShapes(read.value); !checked) return Result::failure(path + ": " + checked.error);
    std::vector<ListedShape> shapes;
    for (Shape& shape : read.value) shapes.push_back(ListedShape{std::move(shape), std::nullopt, true});
    return Result::success(std::move(shapes));
}

namespace {
std::string distanceText(int64_t samples, double rate, bool inSeconds) {
    return inSeconds ? shortestNumber(static_cast<double>(samples) / rate) : std::to_string(samples);
}
}  // namespace

SuggestedDistances suggestedDistances(int64_t shapeLength, int64_t total, double rate, bool inSeconds) {
    const int64_t tmin = std::clamp<int64_t>(shapeLength, 1, std::max<int64_t>(total, 1));
    const int64_t tmax = std::clamp<int64_t>(10 * shapeLength, tmin, std::max<int64_t>(total, tmin));
    return {distanceText(tmin, rate, inSeconds), distanceText(tmax, rate, inSeconds)};
}

std::optional<std::string> convertedDistance(const std::string& text, double rate, bool toSeconds) {
    double number = 0;
    if (!parseNumber(text, number) || !std::isfinite(number) || number <= 0 || !(rate > 0)) return std::nullopt;
    if (toSeconds) return shortestNumber(number / rate);
    const double samples = std::round(number * rate);
    if (samples > 9.0e15) return std::nullopt;
    return std::to_string(static_cast<int64_t>(std::max(1.0, samples)));
}

IoResult<DetectSettings> checkDetectFields(const DetectFields& fields, const Signal& signal,
                                           const std::vector<ListedShape>& shapes) {
    using Result = IoResult<DetectSettings>;
    const int64_t total = signal.length();
    DetectSettings settings;
    settings.task = fields.task;

    auto distance = [&](const std::string& text, const char* what, int64_t& value) -> IoStatus {
        double number = 0;
        if (fields.inSeconds) {
            if (!parseNumber(text, number) || !std::isfinite(number) || number <= 0)
                return IoStatus::failure(std::string(what) + " must be a positive number of seconds, not \"" + text + "\".");
            const double samples = std::round(number * signal.rate);
            if (samples < 1)
                return IoStatus::failure(std::string(what) + " of " + text + " s is less than one sample at " +
                                         shortestNumber(signal.rate) + " samples per second.");
            if (samples > 9.0e15) return IoStatus::failure(std::string(what) + " of " + text + " s is too long.");
            value = static_cast<int64_t>(samples);
            return {};
        }
        if (!parseWhole(text, value))
            return IoStatus::failure(std::string(what) + " must be a whole number of samples of at least 1, not \"" + text + "\".");
        return {};
    };
    if (IoStatus s = distance(fields.tmin, "Tmin", settings.tmin); !s) return Result::failure(s.error);
    if (IoStatus s = distance(fields.tmax, "Tmax", settings.tmax); !s) return Result::failure(s.error);
    if (settings.tmin > settings.tmax)
        return Result::failure("Tmin (" + count(settings.tmin) + " samples) is greater than Tmax (" + count(settings.tmax) +
                               " samples).");
    if (settings.tmax > total)
        return Result::failure("Tmax (" + count(settings.tmax) + " samples) is longer than the signal (" + count(total) +
                               " samples).");

    if (shapes.empty()) return Result::failure("There are no pulse shapes: cut some from the signal or load them.");
    const std::vector<Shape> alphabet = shapesOf(shapes);
    if (IoStatus s = checkShapes(alphabet); !s) return Result::failure(s.error);
    if (IoStatus s = checkShapesFitTmax(alphabet, settings.tmax); !s) return Result::failure(s.error);
    // The longest shape: the chain's limits at the ends count it.
    int64_t length = 0;
    for (const Shape& shape : alphabet) length = std::max(length, shape.length());
    if (IoStatus s = checkShapeChannels(alphabet, signal.channels); !s) return Result::failure(s.error);

    for (size_t i = 0; i < shapes.size(); ++i)
        if (shapes[i].candidate) settings.candidates.push_back(static_cast<int32_t>(i));
    if (settings.candidates.empty()) return Result::failure("No shape is checked as a candidate.");
    if (fields.task == DetectTask::detect && settings.candidates.size() != 1)
        return Result::failure("Detection looks for one shape: check exactly one candidate.");

    if (fields.knownCount) {
        int64_t k = 0;
        if (!parseWhole(fields.count, k))
            return Result::failure("The pulse count must be a whole number of at least 1, not \"" + fields.count + "\".");
        // K pulses need K - 1 gaps of at least Tmin and one whole shape at the end.
        if ((k - 1) > (total - length) / settings.tmin)
            return Result::failure(count(k) + " pulses at least Tmin (" + count(settings.tmin) +
                                   " samples) apart do not fit in the signal (" + count(total) + " samples).");
        settings.count = k;
    }

    double energy = 0;
    // The detection's own range (0: any stretch with some energy may stay), as the batch tool and
    // Python take it.
    if (!parseNumber(fields.savedEnergy, energy) || energy != std::floor(energy) || energy < 0 || energy > 100)
        return Result::failure("The saved energy must be a whole percentage from 0 to 100, not \"" + fields.savedEnergy + "\".");
    settings.savedEnergy = static_cast<int32_t>(energy);

    if (fields.baseline) {
        double seconds = 0;
        if (!parseNumber(fields.baselineSeconds, seconds) || !std::isfinite(seconds) || seconds <= 0)
            return Result::failure("The baseline window must be a positive number of seconds, not \"" +
                                   fields.baselineSeconds + "\".");
        if (seconds * signal.rate < 1)
            return Result::failure("The baseline window of " + fields.baselineSeconds + " s is shorter than one sample.");
        settings.baselineSeconds = seconds;
    }
    const IoResult<GainRange> gain = parseGainRange(fields.gain);
    if (!gain) return Result::failure("The gain range: " + gain.error);
    settings.gain = gain.value;
    const IoResult<PulseCostChoice> cost = parsePulseCost(fields.pulseCost);
    if (!cost) return Result::failure("The pulse cost: " + cost.error);
    settings.pulseCost = cost.value;
    if (!fields.channelWeights.empty()) {
        const IoResult<std::vector<double>> weights = parseChannelWeights(fields.channelWeights, signal.channels);
        if (!weights) return Result::failure("The channel weights: " + weights.error);
        settings.channelWeights = weights.value;
    }
    return Result::success(std::move(settings));
}

namespace {
// The shapes a detection uses: shapes cut from the signal are cut again from the signal less its
// baseline (left in `corrected`, empty without a baseline), so that they match what they are
// sought in.
IoStatus shapesForSignal(const Signal& signal, const std::vector<ListedShape>& shapes,
                         const std::optional<double>& baselineSeconds, std::vector<float>& corrected,
                         std::vector<Shape>& alphabet) {
    alphabet = shapesOf(shapes);
    corrected.clear();
    if (!baselineSeconds) return {};
    const int64_t N = signal.length();
    if (signal.channels == 1) {
        corrected = signal.samples;
        if (IoStatus removed = removeBaseline(corrected, signal.rate, *baselineSeconds); !removed) return removed;
    } else {
        // Each channel's own baseline.
        corrected.reserve(signal.samples.size());
        for (int ch = 0; ch < signal.channels; ++ch) {
            const std::span<const float> channel = signal.channel(ch);
            std::vector<float> one(channel.begin(), channel.end());
            if (IoStatus removed = removeBaseline(one, signal.rate, *baselineSeconds); !removed) return removed;
            corrected.insert(corrected.end(), one.begin(), one.end());
        }
    }
    for (size_t i = 0; i < shapes.size(); ++i) {
        if (!shapes[i].cutFrom) continue;
        const int64_t n = alphabet[i].length();
        alphabet[i].samples.clear();
        for (int ch = 0; ch < signal.channels; ++ch) {
            const auto from = corrected.begin() + ch * N + *shapes[i].cutFrom;
            alphabet[i].samples.insert(alphabet[i].samples.end(), from, from + n);
        }
    }
    return {};
}
}  // namespace

IoResult<std::vector<Shape>> shapesAsDetected(const Signal& signal, const std::vector<ListedShape>& shapes,
                                              const std::optional<double>& baselineSeconds) {
    std::vector<float> corrected;
    std::vector<Shape> alphabet;
    if (IoStatus s = shapesForSignal(signal, shapes, baselineSeconds, corrected, alphabet); !s)
        return IoResult<std::vector<Shape>>::failure(s.error);
    return IoResult<std::vector<Shape>>::success(std::move(alphabet));
}

IoStatus prepareDetection(const Signal& signal, const std::vector<ListedShape>& shapes, const DetectSettings& settings,
                          PreparedDetection& prepared) {
    // The corrected signal and the shapes as matched stay with the detection (the view draws
    // them).
    std::vector<Shape>& alphabet = prepared.shapes;
    if (IoStatus s = shapesForSignal(signal, shapes, settings.baselineSeconds, prepared.corrected, alphabet); !s)
        return s;
    if (IoStatus s = checkShapeChannels(alphabet, signal.channels); !s) return s;
    std::span<const float> samples =
        settings.baselineSeconds ? std::span<const float>(prepared.corrected) : std::span<const float>(signal.samples);
    // Channel weights folded into the samples: w |y - x|² = |√w y - √w x|², so that the engine's
    // plain sum over the channels is the weighted sum, on one common scale.
    if (IoStatus s = checkChannelWeights(settings.channelWeights, signal.channels); !s) return s;
    prepared.channelWeights = settings.channelWeights;
    const std::vector<double> roots = weightRoots(settings.channelWeights, signal.channels);
    std::vector<float> weighted;
    std::vector<Shape> foldedShapes;
    if (std::any_of(roots.begin(), roots.end(), [](double r) { return r != 1; })) {
        const auto N = static_cast<size_t>(signal.length());
        weighted.assign(samples.begin(), samples.end());
        for (size_t ch = 0; ch < roots.size(); ++ch)
            for (size_t i = ch * N; i < (ch + 1) * N; ++i) weighted[i] = static_cast<float>(weighted[i] * roots[ch]);
        foldedShapes = alphabet;
        for (Shape& shape : foldedShapes) {
            const auto n = static_cast<size_t>(shape.length());
            for (size_t i = 0; i < shape.samples.size(); ++i) shape.samples[i] *= roots[i / n];
        }
        samples = weighted;
    }
    IoResult<QuantisedRecording> quantised = quantise(samples, foldedShapes.empty() ? alphabet : foldedShapes);
    if (!quantised) return IoStatus::failure(quantised.error);
    prepared.quantised = std::move(quantised.value);
    return finishPreparation(settings, signal.channels, needsNoiseEstimate(settings) ? robustNoiseSigma(samples) : 0,
                             prepared);
}

bool needsNoiseEstimate(const DetectSettings& settings) {
    return !settings.noiseSigma && (settings.pulseCost.automatic || settings.confidence);
}

IoStatus finishPreparation(const DetectSettings& settings, int channels, double estimatedNoiseSigma,
                           PreparedDetection& prepared) {
    DetectRequest& request = prepared.request;
    request = DetectRequest{};
    request.task = settings.task;
    request.signal = prepared.quantised.signal;
    request.channels = channels;
    for (const std::vector<int16_t>& shape : prepared.quantised.shapes) request.shapes.emplace_back(shape);
    request.candidates = settings.candidates;
    request.tmin = settings.tmin;
    request.tmax = settings.tmax;
    request.count = settings.count;
    request.savedEnergy = settings.savedEnergy;
    request.gainMin = settings.gain.min;
    request.gainMax = settings.gain.max;
    prepared.gain = settings.gain;
    prepared.pulseCostChoice = settings.pulseCost;
    // One noise level for the run: given, or estimated when the cost or the confidence needs it.
    prepared.noiseSigma = needsNoiseEstimate(settings) ? estimatedNoiseSigma : settings.noiseSigma.value_or(0);
    prepared.pulseCost = settings.pulseCost.value;
    if (settings.pulseCost.automatic)
        prepared.pulseCost = autoPulseCost(prepared.noiseSigma, static_cast<int64_t>(settings.candidates.size()),
                                           settings.tmin, settings.tmax);
    prepared.confidence = settings.confidence;
    prepared.confidenceWindow = settings.confidenceWindow.value_or(settings.tmin / 4);
    prepared.wantPosterior = settings.posterior;
    if (settings.confidence && !(prepared.noiseSigma > 0))
        return IoStatus::failure("The noise level is 0 (the recording has no noise to speak of): give it with the "
                                 "noise sigma for the confidence.");
    if (settings.confidence && prepared.confidenceWindow > settings.tmax)
        return IoStatus::failure("The confidence window (" + std::to_string(prepared.confidenceWindow) +
                                 " samples) is longer than Tmax (" + std::to_string(settings.tmax) + " samples).");
    const double scale = prepared.quantised.scale, quantisedCost = std::round(prepared.pulseCost * scale * scale);
    if (!(quantisedCost < 1e18))
        return IoStatus::failure("The pulse cost " + shortestNumber(prepared.pulseCost) + " is too large for this signal's scale.");
    request.pulseCost = static_cast<int64_t>(quantisedCost);
    return {};
}

namespace {
// A posterior into the detection's pulses and `prepared`; a failed one replaces the result.
void takePosterior(PreparedDetection& prepared, DetectResult& result, PosteriorResult posterior) {
    if (!posterior.completed || !posterior.error.empty()) {
        result = DetectResult{};
        result.completed = posterior.completed;
        result.error = posterior.error;
        return;
    }
    for (size_t j = 0; j < result.pulses.size(); ++j) {
        result.pulses[j].confidence = posterior.pulses[j].confidence;
        result.pulses[j].kindConfidence = posterior.pulses[j].kindConfidence;
    }
    prepared.expectedCount = posterior.expectedCount;
    prepared.countDeviation = posterior.countDeviation;
    prepared.posterior = std::move(posterior.posterior);
}
// The posterior's temperature: T = 2 (s scale)^2 on the integer scale.
double temperatureOf(const PreparedDetection& prepared) {
    const double sigma = prepared.noiseSigma * prepared.quantised.scale;
    return 2 * sigma * sigma;
}

// The detection with learning when asked.
DetectResult detectOrLearn(PreparedDetection& prepared, int32_t learnRounds, const std::function<void(double)>& progress,
                           const std::function<void(int32_t, int64_t)>& round, const std::atomic<bool>& cancel);
}  // namespace

DetectResult runDetection(PreparedDetection& prepared, int32_t learnRounds, const std::function<void(double)>& progress,
                          const std::function<void(int32_t, int64_t)>& round, const std::atomic<bool>& cancel) {
    if (prepared.confidence && learnRounds == 0) {
        // The detection and its posterior in one: the shapes are scored once for both.
        prepared.learnDistances.clear();
        prepared.learnedRound = 0;
        DetectionAndPosterior both = detectWithPosterior(prepared.request, temperatureOf(prepared),
                                                         prepared.confidenceWindow, prepared.wantPosterior, progress,
                                                         cancel);
        if (both.detection.completed && both.detection.error.empty())
            takePosterior(prepared, both.detection, std::move(both.posterior));
        return std::move(both.detection);
    }
    // The posterior costs about as much as a detection: the progress gives it a third.
    const double share = prepared.confidence ? 2.0 / 3.0 : 1.0;
    DetectResult result = detectOrLearn(
            prepared, learnRounds,
            [&](double done) {
                if (progress) progress(share * done);
            },
            round, cancel);
    if (!prepared.confidence || !result.completed || !result.error.empty()) return result;
    takePosterior(prepared, result,
                  posteriorOf(prepared.request, result.pulses, temperatureOf(prepared), prepared.confidenceWindow,
                              prepared.wantPosterior,
                              [&](double done) {
                                  if (progress) progress(share + (1 - share) * done);
                              },
                              cancel));
    return result;
}

namespace {
DetectResult detectOrLearn(PreparedDetection& prepared, int32_t learnRounds, const std::function<void(double)>& progress,
                           const std::function<void(int32_t, int64_t)>& round, const std::atomic<bool>& cancel) {
    prepared.learnDistances.clear();
    prepared.learnedRound = 0;
    if (learnRounds == 0) return detectInRecording(prepared.request, progress, cancel);
    LearnResult learned = learnShapes(prepared.request, learnRounds, progress, round, cancel);
    if (!learned.completed || !learned.error.empty()) {
        DetectResult failed;
        failed.completed = learned.completed;
        failed.error = learned.zeroShape >= 0 ? "Learning made shape \"" + prepared.shapes[static_cast<size_t>(learned.zeroShape)].name +
                                                       "\" zero throughout: the recording holds nothing it could learn "
                                                       "from; the shapes are kept as they were."
                                               : learned.error;
        return failed;
    }
    // The kept shapes take the place of the given ones, on both scales.
    QuantisedRecording& q = prepared.quantised;
    q.shapes = std::move(learned.shapes);
    prepared.request.shapes.assign(q.shapes.begin(), q.shapes.end());
    const std::vector<double> roots = weightRoots(prepared.channelWeights, prepared.request.channels);
    for (size_t e = 0; e < q.shapes.size(); ++e) {
        std::vector<double>& samples = prepared.shapes[e].samples;
        samples.resize(q.shapes[e].size());
        // Back to the signal's units: the scale, and each channel's weight folded in.
        const size_t n = static_cast<size_t>(prepared.shapes[e].length());
        for (size_t c = 0; c < samples.size(); ++c) samples[c] = q.shapes[e][c] / q.scale / roots[c / n];
    }
    prepared.learnDistances = std::move(learned.distances);
    prepared.learnedRound = learned.bestRound;
    return learned.result;
}
}  // namespace

DetectReport detectReportOf(const Signal& signal, const PreparedDetection& prepared, DetectResult result,
                            double seconds) {
    DetectReport report = detectReportOf(signal.rate, prepared, std::move(result), seconds);
    report.samples = signal.length();
    report.channelNames = signal.channelNames;
    return report;
}

DetectReport detectReportOf(double rate, const PreparedDetection& prepared, DetectResult result, double seconds) {
    DetectReport report;
    report.channels = prepared.request.channels;
    report.samples = static_cast<int64_t>(prepared.request.signal.size()) / report.channels;
    report.channelWeights = prepared.channelWeights.empty() ? std::vector<double>(static_cast<size_t>(report.channels), 1.0)
                                                           : prepared.channelWeights;
    report.rate = rate;
    report.scale = prepared.quantised.scale;
    report.shapes = prepared.shapes;
    report.task = prepared.request.task;
    report.distance = result.distance;
    report.pulses = std::move(result.pulses);
    report.seconds = seconds;
    report.gain = prepared.gain;
    report.pulseCostChoice = prepared.pulseCostChoice;
    report.pulseCost = prepared.pulseCost;
    report.noiseSigma = prepared.noiseSigma;
    report.learnDistances = prepared.learnDistances;
    report.learnedRound = prepared.learnedRound;
    report.confidence = prepared.confidence;
    report.expectedCount = prepared.expectedCount;
    report.countDeviation = prepared.countDeviation;
    return report;
}

std::optional<std::string> detectReportWarning(const DetectReport& report) {
    if (report.pulses.empty() ||
        !std::all_of(report.pulses.begin(), report.pulses.end(), [](const DetectedPulse& p) { return p.measure > 0; }))
        return std::nullopt;
    return "every pulse's measure is positive: no shape fits the signal anywhere. The shapes or the scale may be "
           "wrong (shapes of another recording?).";
}

std::string detectReportJson(const DetectReport& report) {
    std::string text;
    writeDetectReportJson(report, [&](std::string_view part) { text += part; });
    return text;
}

void writeDetectReportJson(const DetectReport& report, const std::function<void(std::string_view)>& write) {
    nlohmann::ordered_json json;
    json["version"] = pulsebenchVersion;
    json["samples"] = report.samples;
    json["rate"] = report.rate;
    json["scale"] = report.scale;
    if (report.channels > 1) {
        json["channels"] = report.channelNames;
        json["channelWeights"] = report.channelWeights;
    }
    json["etalons"] = nlohmann::ordered_json::array();
    for (const Shape& shape : report.shapes)
        json["etalons"].push_back({{"name", shape.name}, {"length", shape.length()}});
    json["task"] = detectTaskName(report.task);
    if (report.extended()) {
        json["gain"] = {report.gain.min, report.gain.max};
        json["pulseCost"] = report.pulseCost;
        json["pulseCostAuto"] = report.pulseCostChoice.automatic;
        if (report.pulseCostChoice.automatic) json["noiseSigma"] = report.noiseSigma;
    }
    if (!report.learnDistances.empty())
        json["learnRounds"] = {{"distances", report.learnDistances}, {"kept", report.learnedRound}};
    if (report.confidence) {
        json["noiseSigma"] = report.noiseSigma;
        json["expectedCount"] = report.expectedCount;
        json["countDeviation"] = report.countDeviation;
    }
    json["distance"] = report.distance;
    // The pulses, the last member, one at a time: the whole document of a long recording's
    // pulses would take some hundred bytes a pulse. The same text as one dump of it all.
    std::string head = json.dump();
    head.back() = ',';
    write(head + "\"pulses\":[");
    for (const DetectedPulse& pulse : report.pulses) {
        const bool known = pulse.shape >= 0 && pulse.shape < static_cast<int32_t>(report.shapes.size());
        nlohmann::ordered_json one({{"position", pulse.position},
                                  {"time", static_cast<double>(pulse.position) / report.rate},
                                  {"etalon", known ? report.shapes[pulse.shape].name : std::to_string(pulse.shape)},
                                  {"cutStart", pulse.cutStart},
                                  {"cutEnd", pulse.cutEnd},
                                  {"measure", pulse.measure}});
        if (report.extended()) one["gain"] = pulse.gain;
        if (report.confidence) {
            one["confidence"] = pulse.confidence;
            one["kindConfidence"] = pulse.kindConfidence;
        }
        if (&pulse != report.pulses.data()) write(",");
        write(one.dump());
    }
    write("]}\n");
}

std::string detectReportCsv(const DetectReport& report) {
    std::string text;
    writeDetectReportCsv(report, [&](std::string_view part) { text += part; });
    return text;
}

void writeDetectReportCsv(const DetectReport& report, const std::function<void(std::string_view)>& write) {
    const bool extended = report.extended();
    std::string line = "position,time,etalon,cutStart,cutEnd,measure";
    if (extended) line += ",gain";
    if (report.confidence) line += ",confidence,kindConfidence";
    write(line + "\n");
    for (const DetectedPulse& pulse : report.pulses) {
        const bool known = pulse.shape >= 0 && pulse.shape < static_cast<int32_t>(report.shapes.size());
        line = std::to_string(pulse.position) + "," + shortestNumber(static_cast<double>(pulse.position) / report.rate) + "," +
               (known ? report.shapes[pulse.shape].name : std::to_string(pulse.shape)) + "," +
               std::to_string(pulse.cutStart) + "," + std::to_string(pulse.cutEnd) + "," + std::to_string(pulse.measure);
        // Appended piece by piece: GCC 12 warns falsely on "," + a string here.
        if (extended) line.append(",").append(shortestNumber(pulse.gain));
        if (report.confidence)
            line.append(",").append(shortestNumber(pulse.confidence)).append(",").append(shortestNumber(pulse.kindConfidence));
        line += '\n';
        write(line);
    }
}

void printPosteriorCsv(std::FILE* file, const std::vector<double>& posterior, double rate) {
    std::fputs("position,time,probability\n", file);
    for (size_t l = 0; l < posterior.size(); ++l)
        std::fprintf(file, "%zu,%s,%s\n", l, shortestNumber(static_cast<double>(l) / rate).c_str(),
                     shortestNumber(posterior[l]).c_str());
}

IoStatus writeDetectReport(const std::string& path, const DetectReport& report) {
    const bool json = endsWithIgnoringCase(path, ".json");
    if (!json && !endsWithIgnoringCase(path, ".csv"))
        return IoStatus::failure(path + ": unsupported format; results are written as .json or .csv");
    return writeTextFileAtomically(path, [&](std::FILE* file) {
        const auto write = [file](std::string_view part) { std::fwrite(part.data(), 1, part.size(), file); };
        if (json)
            writeDetectReportJson(report, write);
        else
            writeDetectReportCsv(report, write);
    });
}
