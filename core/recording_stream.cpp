#include "core/recording_stream.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <span>

#include "io/shapes.h"
#include "io/signal_reader.h"

namespace {
// Folds samples into a fingerprint (64-bit FNV-1a over their bits).
uint64_t fold(uint64_t h, std::span<const float> block) {
    for (const float v : block) {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        h = (h ^ bits) * 0x100000001b3ULL;
    }
    return h;
}
constexpr uint64_t kFoldStart = 0xcbf29ce484222325ULL;

// One reading of the signal file: every block of samples as read goes to `raw`, the samples as
// detected (less the baseline when one is removed) in blocks to `detected`, each block with the
// index of its first sample. `begin` hears the rate first; it returns the baseline to remove,
// or null for none.
IoResult<Signal> readOnce(const RecordingFiles& files,
                          const std::function<std::unique_ptr<RunningBaseline>(double rate)>& begin,
                          const std::function<void(int64_t, std::span<const float>)>& raw,
                          const std::function<void(int64_t, std::span<const float>)>& detected) {
    std::unique_ptr<RunningBaseline> baseline;
    std::vector<float> corrected;
    int64_t read = 0, done = 0;
    const auto flush = [&] {
        detected(done, corrected);
        done += static_cast<int64_t>(corrected.size());
        corrected.clear();
    };
    const auto put = [&](float v) { corrected.push_back(v); };
    SampleBlocks blocks;
    blocks.begin = [&](double rate) { baseline = begin(rate); };
    blocks.take = [&](std::span<const float> block) {
        raw(read, block);
        read += static_cast<int64_t>(block.size());
        if (!baseline) {
            detected(done, block);
            done += static_cast<int64_t>(block.size());
            return;
        }
        for (const float v : block) baseline->push(v, put);
        flush();
    };
    IoResult<Signal> signal = streamSignal(files.signalFile, files.read, blocks);
    if (signal && baseline) {
        baseline->finish(put);
        flush();
    }
    return signal;
}

// The part of [from, from + block) that [start, start + length) covers, appended to `to`.
void capture(std::vector<double>& to, int64_t start, int64_t length, int64_t from, std::span<const float> block) {
    const int64_t a = std::max(start, from), b = std::min(start + length, from + static_cast<int64_t>(block.size()));
    for (int64_t i = a; i < b; ++i) to.push_back(block[static_cast<size_t>(i - from)]);
}
}  // namespace

IoResult<ScannedRecording> scanRecordingFiles(const RecordingFiles& files, const std::optional<double>& baselineSeconds) {
    using Result = IoResult<ScannedRecording>;
    if (IoStatus source = checkShapeSource(files); !source) return Result::failure(source.error);
    try {
        ScannedRecording scan;
        scan.files = files;
        scan.baselineSeconds = baselineSeconds;
        // What readRecordingFiles refuses after the reading is found while reading and refused
        // after it, in its order: the baseline window, then the templates.
        std::string windowProblem, templateProblem;
        std::vector<TemplateSpec> specs;
        // Each template's stretch as read and as detected; a stretch longer than a shape may be
        // is refused anyway, so no more is kept.
        std::vector<std::vector<double>> asRead(files.templates.size()), asDetected(files.templates.size());
        const auto kept = [&](const TemplateSpec& spec) { return std::min<int64_t>(spec.length, maxShapeLength); };
        const auto begin = [&](double rate) -> std::unique_ptr<RunningBaseline> {
            scan.rate = rate;
            for (size_t i = 0; i < files.templates.size() && templateProblem.empty(); ++i) {
                auto spec = parseTemplateSpec(files.templates[i], rate, static_cast<int>(i + 1));
                if (!spec) templateProblem = spec.error;
                else specs.push_back(std::move(spec.value));
            }
            if (!templateProblem.empty()) specs.clear();
            if (!baselineSeconds) return nullptr;
            if (IoStatus window = checkBaselineWindow(rate, *baselineSeconds); !window) {
                windowProblem = window.error;
                return nullptr;
            }
            return std::make_unique<RunningBaseline>(rate, *baselineSeconds);
        };
        uint64_t fingerprint = kFoldStart;
        const auto raw = [&](int64_t from, std::span<const float> block) {
            fingerprint = fold(fingerprint, block);
            for (size_t i = 0; i < specs.size(); ++i) capture(asRead[i], specs[i].start, kept(specs[i]), from, block);
        };
        int64_t samples = 0;
        const auto detected = [&](int64_t from, std::span<const float> block) {
            scan.signalScale.survey(block);
            for (size_t i = 0; i < specs.size(); ++i) capture(asDetected[i], specs[i].start, kept(specs[i]), from, block);
            samples = from + static_cast<int64_t>(block.size());
        };
        IoResult<Signal> read = readOnce(files, begin, raw, detected);
        if (!read) return Result::failure(read.error);
        scan.samples = samples;
        scan.fingerprint = fingerprint;
        if (!windowProblem.empty()) return Result::failure(windowProblem);

        if (!files.shapesFile.empty()) {
            auto shapes = readShapes(files.shapesFile);
            if (!shapes) return Result::failure(shapes.error);
            for (Shape& shape : shapes.value) scan.shapes.push_back({std::move(shape), std::nullopt, true});
        } else {
            if (!templateProblem.empty()) return Result::failure(templateProblem);
            for (size_t i = 0; i < specs.size(); ++i) {
                if (IoStatus fits = checkTemplateFits(specs[i], scan.samples); !fits) return Result::failure(fits.error);
                scan.shapes.push_back({Shape{specs[i].name, std::move(asRead[i])}, specs[i].start, true});
            }
        }
        if (IoStatus s = checkShapes(shapesOf(scan.shapes)); !s) return Result::failure(s.error);
        scan.detected = shapesOf(scan.shapes);
        if (baselineSeconds)
            for (size_t i = 0; i < specs.size(); ++i) scan.detected[i].samples = std::move(asDetected[i]);
        return Result::success(std::move(scan));
    } catch (const std::bad_alloc&) {
        return Result::failure(files.signalFile + ": not enough memory for the recording");
    }
}

IoStatus prepareScannedDetection(const ScannedRecording& scan, const DetectSettings& settings,
                                 PreparedDetection& prepared) {
    if (settings.baselineSeconds != scan.baselineSeconds)
        return IoStatus::failure("The baseline window is not the one the recording was read with.");
    prepared.corrected.clear();
    prepared.shapes = scan.detected;
    CommonScale scale = scan.signalScale;
    for (const Shape& shape : prepared.shapes) scale.survey(shape.samples);
    if (IoStatus fixed = scale.fix(); !fixed) return fixed;
    QuantisedRecording& q = prepared.quantised;
    q = QuantisedRecording{};
    q.scale = scale.scale();
    // The shapes first: a shape lost at the common scale is refused before the long reading.
    if (IoStatus s = quantiseShapes(prepared.shapes, scale, q.shapes); !s) return s;

    const std::string& path = scan.files.signalFile;
    const bool noise = needsNoiseEstimate(settings);
    std::vector<double> differences;
    try {
        q.signal.resize(static_cast<size_t>(scan.samples));
        if (noise) differences.reserve(static_cast<size_t>(std::max<int64_t>(scan.samples - 1, 0)));
    } catch (const std::bad_alloc&) {
        return IoStatus::failure(noise ? "not enough memory for the quantised signal and the noise estimate (10 bytes per sample)"
                                       : "not enough memory for the quantised signal (2 bytes per sample)");
    }
    uint64_t fingerprint = kFoldStart;
    int64_t count = 0;
    float previous = 0;
    const auto begin = [&](double rate) -> std::unique_ptr<RunningBaseline> {
        if (!scan.baselineSeconds || rate != scan.rate || !checkBaselineWindow(rate, *scan.baselineSeconds)) return nullptr;
        return std::make_unique<RunningBaseline>(rate, *scan.baselineSeconds);
    };
    const auto raw = [&](int64_t, std::span<const float> block) { fingerprint = fold(fingerprint, block); };
    const auto detected = [&](int64_t from, std::span<const float> block) {
        // Beyond the first reading's length the file has changed: refused below.
        const int64_t end = std::min(from + static_cast<int64_t>(block.size()), scan.samples);
        for (int64_t i = from; i < end; ++i) {
            const float v = block[static_cast<size_t>(i - from)];
            q.signal[static_cast<size_t>(i)] = scale(v);
            // As robustNoiseSigma takes the differences of the signal held whole.
            if (noise && i > 0) differences.push_back(static_cast<double>(v) - previous);
            previous = v;
        }
        count = from + static_cast<int64_t>(block.size());
    };
    IoResult<Signal> again = readOnce(scan.files, begin, raw, detected);
    if (!again) return IoStatus::failure("reading " + path + " a second time failed: " + again.error);
    if (count != scan.samples || again.value.rate != scan.rate)
        return IoStatus::failure(path + " changed while it was read: " + std::to_string(scan.samples) +
                                 " samples the first time, " + std::to_string(count) + " the second; read it again.");
    if (fingerprint != scan.fingerprint)
        return IoStatus::failure(path + " changed while it was read: its samples differ between the two readings; "
                                        "read it again.");
    q.peak = scale.peak();
    const double sigma = noise ? robustNoiseSigmaOfDifferences(differences) : 0;
    std::vector<double>().swap(differences);
    return finishPreparation(settings, 1, sigma, prepared);  // the stream reads one channel
}
