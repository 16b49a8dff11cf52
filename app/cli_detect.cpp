#include "app/cli_detect.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

#include "app/cli_manifest.h"
#include "app/cli_progress.h"
#include "app/cli_validators.h"
#include "app/render.h"
#include "core/detect.h"
#include "core/detect_setup.h"
#include "core/learn.h"
#include "core/recording_files.h"
#include "core/recording_stream.h"
#include "io/file_batch.h"
#include "io/output_file.h"
#include "io/shapes.h"
#include "model/text_format.h"
#include "plot/recording_plot.h"

CLI::App* addDetectCommand(CLI::App& app, DetectOptions& o) {
    CLI::App* c = app.add_subcommand("detect", "exact detection and recognition of pulse shapes in a recording");
    CLI::Option* signal =
            c->add_option("--signal", o.signal, "the recording: text (.csv, .tsv, .txt, .dat) or audio (.wav, .flac, .ogg, ...)")
                    ->check(NonEmptyFileName());
    c->add_option("--manifest", o.manifest,
                  "many recordings: a table with a column file (and optionally column, channel, rate, shapes), "
                  "each detected with the other options; exit status 3 when some of them failed")
            ->check(NonEmptyFileName())
            ->excludes(signal);
    c->add_option("--column", o.column, "text: the column, by 1-based number or header name");
    c->add_option("--channel", o.channel, "audio: the 1-based channel");
    c->add_option("--columns", o.columns, "text: several columns as channels, all or by number or name, e.g. 1,3,ecg");
    c->add_option("--channels", o.channels, "audio: several channels, all or by number, e.g. 1,2");
    c->add_option("--channel-weights", o.channelWeights,
                  "what each channel's squared residual counts, w1,w2,... (default: equal)");
    c->add_option("--rate", o.rate, "text: samples per second (default 1)");
    c->add_option("--etalons", o.etalons, "the pulse shapes: a table with one shape per column, or JSON")->check(NonEmptyFileName());
    c->add_option("--template", o.templates,
                  "a shape cut from the recording, START:LENGTH[:NAME] in samples or seconds (\"1.2s:0.05s:beat\"); "
                  "repeatable");
    c->add_option("--tmin", o.tmin, "least distance between neighbouring pulse starts (samples, or seconds: 0.3s)")
        ->required();
    c->add_option("--tmax", o.tmax, "greatest distance between neighbouring pulse starts (samples, or seconds)")
        ->required();
    c->add_option("--count", o.count, "the pulse count when it is known (default: unknown)");
    c->add_option("--saved-energy", o.savedEnergy, "every kept stretch holds more than P % of its shape's energy")
        ->default_str("100");
    c->add_option("--task", o.task, "detect (one shape), joint (detection and identification) or recognize")
        ->default_str("joint");
    c->add_option("--candidates", o.candidates, "the shapes looked for, by name, e.g. a,b (default: all)");
    c->add_option("--baseline", o.baseline, "subtract a running median over this many seconds first");
    c->add_option("--threads", o.threads, "threads of the match, 0 = every core")->default_str("0");
    c->add_option("--gain", o.gain, "each pulse is its shape times a gain from MIN to MAX, e.g. 0.5:2 or -1.5:1.5")
            ->default_str("1:1");
    c->add_option("--pulse-cost", o.pulseCost,
                  "what every pulse adds to the distance, in the signal's units squared, or auto (from the noise)")
            ->default_str("0");
    c->add_option("--learn", o.learn, "rounds of learning the shapes from the recording first (0 = none)")
            ->default_str("0");
    c->add_option("--save-shapes", o.saveShapes, "write the shapes used (learned or not) in the format --etalons reads")
            ->check(NonEmptyFileName());
    c->add_flag("--confidence", o.confidence, "each pulse's posterior confidence and that of its kind");
    c->add_option("--confidence-window", o.confidenceWindow,
                  "a pulse counts as found within this many samples (or seconds) of its start (default Tmin/4)");
    c->add_option("--noise-sigma", o.noiseSigma,
                  "the noise level in the signal's units, for --pulse-cost auto and the confidence (default: estimated)");
    c->add_option("--posterior", o.posterior, "write each position's probability of a pulse start (CSV; implies --confidence)")
            ->check(NonEmptyFileName());
    c->add_flag("--json", o.json, "print the result as JSON");
    c->add_option("--csv", o.csv, "write the pulses found to this file, one a row")->check(NonEmptyFileName());
    c->add_option("--plot", o.plot, "draw the signal with the pulses found (.png, or .svg)")->check(NonEmptyFileName());
    c->add_option("--plot-range", o.plotRange, "the stretch drawn, A:B in samples or seconds (default: all)");
    c->add_option("--size", o.size, "picture size WxH")->default_str("1600x600");
    c->add_flag("--quiet", Progress::silenced, "no progress on standard error");
    return c;
}

namespace {
constexpr const char* kCaption = " detect ";

// Ctrl-C during the run: the match and the programmes stop at their next check.
std::atomic<bool> interrupted{false};
extern "C" void onInterrupt(int) { interrupted.store(true); }

// A whole decimal number, nothing else around it: its value, or why it is none ("" when the
// text is no whole number, "too large" / "too small" when it lies outside [low, high]).
struct WholeNumber {
    std::optional<int64_t> value;
    std::string outside;
};
WholeNumber wholeNumber(const std::string& text, int64_t low, int64_t high) {
    const DecimalText read = readDecimal(text, true);
    if (!read.value) return {};
    if (read.huge) return {std::nullopt, *read.value < 0 ? "too small" : "too large"};
    if (*read.value < low) return {std::nullopt, "too small"};
    if (*read.value > high) return {std::nullopt, "too large"};
    return {read.value, ""};
}

// The refusal of a whole-number option: what was expected, and whether the value was no number
// or outside the range.
std::string wholeNumberRefusal(const char* option, const std::string& expected, const WholeNumber& number,
                               const std::string& text) {
    return std::string(option) + ": expected " + expected + ", got \"" + text + "\"" +
           (number.outside.empty() ? "" : " (" + number.outside + ")") + ".";
}

std::vector<std::string> splitNames(const std::string& text) {
    std::vector<std::string> names;
    std::string part;
    std::stringstream in(text);
    while (std::getline(in, part, ',')) names.push_back(part);
    if (!text.empty() && text.back() == ',') names.emplace_back();
    return names;
}

// The report as a table, written a line at a time (a long recording's may run to many lines).
void printTextReport(const DetectReport& report, std::ostream& out) {
    int64_t shortest = report.shapes.empty() ? 0 : report.shapes[0].length(), longest = shortest;
    for (const Shape& shape : report.shapes) {
        shortest = std::min(shortest, shape.length());
        longest = std::max(longest, shape.length());
    }
    out << "detect: " << report.samples << " samples"
        << (report.channels > 1 ? " on " + std::to_string(report.channels) + " channels" : std::string()) << " at "
        << shortestNumber(report.rate) << " Hz, scale "
        << shortestNumber(report.scale) << ", task " << detectTaskName(report.task) << ", " << report.shapes.size()
        << " shape(s) of " << shortest
        << (longest != shortest ? " to " + std::to_string(longest) : std::string()) << " samples\n";
    const bool extended = report.extended();
    if (extended)
        out << "gain " << shortestNumber(report.gain.min) << " to " << shortestNumber(report.gain.max) << ", pulse cost "
            << shortestNumber(report.pulseCost)
            << (report.pulseCostChoice.automatic ? " (auto, noise level " + shortestNumber(report.noiseSigma) + ")"
                                                 : std::string())
            << "\n";
    if (report.confidence)
        out << "expected " << shortestNumber(report.expectedCount) << " pulses (deviation "
            << shortestNumber(report.countDeviation) << "), noise level " << shortestNumber(report.noiseSigma) << "\n";
    out << report.pulses.size() << " pulses, distance " << report.distance << "\n";
    if (report.pulses.empty()) return;
    char line[256];
    std::snprintf(line, sizeof line, "%6s %12s %14s  %-16s %9s %16s%s%s\n", "pulse", "position", "time (s)", "etalon",
                  "cut", "measure", extended ? "     gain" : "", report.confidence ? " confidence     kind" : "");
    out << line;
    for (size_t j = 0; j < report.pulses.size(); ++j) {
        const DetectedPulse& p = report.pulses[j];
        const std::string cut = std::to_string(p.cutStart) + "-" + std::to_string(p.cutEnd);
        char gain[32] = "", sure[48] = "";
        if (extended) std::snprintf(gain, sizeof gain, " %8.4g", p.gain);
        if (report.confidence) std::snprintf(sure, sizeof sure, " %10.4f %8.4f", p.confidence, p.kindConfidence);
        std::snprintf(line, sizeof line, "%6zu %12lld %14s  %-16s %9s %16lld%s%s\n", j + 1,
                      static_cast<long long>(p.position),
                      shortestNumber(static_cast<double>(p.position) / report.rate).c_str(),
                      report.shapes[static_cast<size_t>(p.shape)].name.c_str(), cut.c_str(),
                      static_cast<long long>(p.measure), gain, sure);
        out << line;
    }
}

std::string textReport(const DetectReport& report) {
    std::ostringstream out;
    printTextReport(report, out);
    return out.str();
}
}  // namespace

namespace {
// Shows a refusal; false, so that a check can return it.
bool refused(MessageSink& window, const std::string& text) {
    window.messageBox(text, kCaption, MessageIcon::Warning);
    return false;
}

// What the options ask for, checked before the recording is read.
struct DetectPlan {
    RecordingFiles files;
    std::optional<double> baselineSeconds;
    DetectTask task = DetectTask::joint;
    int32_t savedEnergy = 100;
    int32_t threads = 0;
    std::optional<int64_t> count;
    GainRange gain;
    PulseCostChoice pulseCost;
    int32_t learnRounds = 0;
    bool confidence = false;
    std::optional<double> noiseSigma;
    int width = 1600, height = 600;
};

// The options that do not need the recording, in the order they are refused.
bool checkOptions(const DetectOptions& o, MessageSink& window, DetectPlan& plan) {
    const auto refuse = [&](const std::string& text) { return refused(window, text); };
    plan.files.signalFile = o.signal;
    plan.files.read.column = o.column;
    plan.files.read.columns = o.columns;
    plan.files.read.channels = o.channels;
    if (o.channel) {
        const auto channel = wholeNumber(*o.channel, 1, 65535);
        if (!channel.value)
            return refuse(wholeNumberRefusal("--channel", "a channel number from 1 to 65535", channel, *o.channel));
        plan.files.read.channel = static_cast<int>(*channel.value);
    }
    if (o.rate) {
        double rate = 0;
        if (!parseNumber(*o.rate, rate) || !isSampleRate(rate))
            return refuse("--rate: expected samples per second from " + shortestNumber(minSampleRate) + " to " +
                          shortestNumber(maxSampleRate) + ", got \"" + *o.rate + "\".");
        plan.files.read.rate = rate;
    }
    if (o.etalons.empty() == o.templates.empty())
        return refuse(o.templates.empty() ? "no pulse shapes: give --etalons FILE or --template START:LENGTH[:NAME]"
                                          : "--etalons and --template exclude each other: shapes come from one place.");
    plan.files.shapesFile = o.etalons;
    plan.files.templates = o.templates;
    if (o.baseline) {
        double seconds = 0;
        if (!parseNumber(*o.baseline, seconds) || !std::isfinite(seconds) || seconds <= 0)
            return refuse("--baseline: expected a positive number of seconds, got \"" + *o.baseline + "\".");
        plan.baselineSeconds = seconds;
    }
    if (o.task == "detect") plan.task = DetectTask::detect;
    else if (o.task == "joint") plan.task = DetectTask::joint;
    else if (o.task == "recognize") plan.task = DetectTask::recognize;
    else return refuse("--task: expected one of detect, joint, recognize, got \"" + o.task + "\".");
    const auto energy = wholeNumber(o.savedEnergy, 0, 100);
    if (!energy.value)
        return refuse(wholeNumberRefusal("--saved-energy", "a whole number of percent from 0 to 100", energy,
                                         o.savedEnergy));
    plan.savedEnergy = static_cast<int32_t>(*energy.value);
    const auto threads = wholeNumber(o.threads, 0, 256);
    if (!threads.value)
        return refuse(wholeNumberRefusal("--threads", "a whole number from 0 to 256", threads, o.threads));
    plan.threads = static_cast<int32_t>(*threads.value);
    const IoResult<GainRange> gain = parseGainRange(o.gain);
    if (!gain) return refuse("--gain: " + gain.error);
    plan.gain = gain.value;
    const IoResult<PulseCostChoice> cost = parsePulseCost(o.pulseCost);
    if (!cost) return refuse("--pulse-cost: " + cost.error);
    plan.pulseCost = cost.value;
    const auto rounds = wholeNumber(o.learn, 0, kMostLearnRounds);
    if (!rounds.value)
        return refuse(wholeNumberRefusal("--learn", "a whole number of rounds from 0 to " + std::to_string(kMostLearnRounds),
                                         rounds, o.learn));
    plan.learnRounds = static_cast<int32_t>(*rounds.value);
    // σ alone asks for nothing: it serves an automatic cost, and the confidence when asked for.
    plan.confidence = o.confidence || !o.posterior.empty() || o.confidenceWindow;
    if (o.noiseSigma) {
        double sigma = 0;
        if (!parseNumber(*o.noiseSigma, sigma) || !std::isfinite(sigma) || sigma <= 0)
            return refuse("--noise-sigma: expected a positive number in the signal's units, got \"" + *o.noiseSigma + "\".");
        plan.noiseSigma = sigma;
    }
    if (o.count) {
        constexpr int64_t most = int64_t{1} << 40;
        const auto k = wholeNumber(*o.count, 1, most);
        if (!k.value)
            return refuse(wholeNumberRefusal("--count", "a whole number of pulses from 1 to " + std::to_string(most), k,
                                             *o.count));
        plan.count = k.value;
    }
    if (!parseSize(o.size, plan.width, plan.height))
        return refuse("--size: expected WxH between 200 and 8000, got \"" + o.size + "\".");
    if (!o.csv.empty() && !checkFileOutput(window, "--csv", o.csv)) return false;
    if (!o.plot.empty()) {
        if (!endsWithIgnoringCase(o.plot, ".png") && !endsWithIgnoringCase(o.plot, ".svg"))
            return refuse("--plot: the picture's file name must end in \".png\" or \".svg\" (got \"" + o.plot + "\").");
        if (!checkFileOutput(window, "--plot", o.plot)) return false;
    }
    if (!o.csv.empty() && !o.plot.empty() && sameOutputFile(o.csv, o.plot))
        return refuse("--csv and --plot name the same file " + o.plot + ".");
    // The further outputs: each writable, no two naming one file.
    const std::pair<const std::string*, const char*> outputs[] = {
            {&o.csv, "--csv"}, {&o.plot, "--plot"}, {&o.saveShapes, "--save-shapes"}, {&o.posterior, "--posterior"}};
    for (size_t i = 2; i < std::size(outputs); ++i) {
        const auto& [path, name] = outputs[i];
        if (path->empty()) continue;
        if (!checkFileOutput(window, name, *path)) return false;
        for (size_t j = 0; j < i; ++j)
            if (!outputs[j].first->empty() && sameOutputFile(*outputs[j].first, *path))
                return refuse(std::string(outputs[j].second) + " and " + name + " name the same file " + *path + ".");
    }
    if (o.plotRange && o.plot.empty()) return refuse("--plot-range draws a stretch of the --plot picture: give --plot FILE.");
    return true;
}

// The settings of the detection in the recording read: the limits in its samples and the
// candidates by name; and the stretch drawn.
bool checkAgainstRecording(const DetectOptions& o, const DetectPlan& plan, double rate, int64_t samples, int channels,
                           const std::vector<ListedShape>& listed, MessageSink& window, DetectSettings& settings,
                           std::optional<SampleRange>& plotRange) {
    const auto refuse = [&](const std::string& text) { return refused(window, text); };
    const auto tmin = parseSamplesOrSeconds(o.tmin, rate, "--tmin");
    if (!tmin) return refuse(tmin.error);
    const auto tmax = parseSamplesOrSeconds(o.tmax, rate, "--tmax");
    if (!tmax) return refuse(tmax.error);
    if (tmin.value < 1 || tmin.value > tmax.value)
        return refuse("--tmin and --tmax: need 1 <= Tmin <= Tmax samples, got Tmin = " + std::to_string(tmin.value) +
                      ", Tmax = " + std::to_string(tmax.value) + ".");
    const std::vector<Shape> shapes = shapesOf(listed);
    if (IoStatus fits = checkShapesFitTmax(shapes, tmax.value); !fits) return refuse(fits.error);
    if (o.plotRange) {
        auto range = parseSampleRange(*o.plotRange, rate, "--plot-range");
        if (!range) return refuse(range.error);
        if (range.value.first >= samples)
            return refuse("--plot-range: the stretch starts at sample " + std::to_string(range.value.first) +
                          ", beyond the signal's " + std::to_string(samples) + " samples.");
        plotRange = range.value;
    }
    if (IoStatus matching = checkShapeChannels(shapes, channels); !matching) return refuse(matching.error);
    if (o.channelWeights) {
        const auto weights = parseChannelWeights(*o.channelWeights, channels);
        if (!weights) return refuse("--channel-weights: " + weights.error);
        settings.channelWeights = weights.value;
    }
    settings.task = plan.task;
    if (o.candidates) {
        for (const std::string& name : splitNames(*o.candidates)) {
            const std::optional<int32_t> index = shapeIndex(shapes, name);
            if (!index)
                return refuse("--candidates: no shape named \"" + name + "\" (shapes: " + shapeNameList(shapes) + ").");
            settings.candidates.push_back(*index);
        }
    } else {
        for (size_t i = 0; i < shapes.size(); ++i) settings.candidates.push_back(static_cast<int32_t>(i));
    }
    if (plan.task == DetectTask::detect && settings.candidates.size() != 1)
        return refuse("--task detect looks for one shape: name it with --candidates (" +
                      std::to_string(settings.candidates.size()) + " given).");
    settings.tmin = tmin.value;
    settings.tmax = tmax.value;
    settings.count = plan.count;
    settings.savedEnergy = plan.savedEnergy;
    settings.baselineSeconds = plan.baselineSeconds;
    settings.gain = plan.gain;
    settings.pulseCost = plan.pulseCost;
    settings.confidence = plan.confidence;
    // The picture draws each position's probability under the signal.
    settings.posterior = !o.posterior.empty() || (plan.confidence && !o.plot.empty());
    settings.noiseSigma = plan.noiseSigma;
    if (o.confidenceWindow) {
        const auto w = parseSamplesOrSeconds(*o.confidenceWindow, rate, "--confidence-window");
        if (!w) return refuse(w.error);
        if (w.value < 1 || w.value > tmax.value)
            return refuse("--confidence-window: expected 1 to Tmax (" + std::to_string(tmax.value) + ") samples, got " +
                          std::to_string(w.value) + ".");
        settings.confidenceWindow = w.value;
    }
    return true;
}

// The files asked for, staged in `batch`: the pulses as CSV and the picture.
bool stageFiles(const DetectOptions& o, const DetectPlan& plan, const std::vector<float>& trace,
                const std::optional<SampleRange>& plotRange, const DetectReport& report,
                const std::vector<double>& posterior, StderrMessageSink& window, FileBatch& batch) {
    if (!o.saveShapes.empty())
        if (IoStatus s = batch.addText(o.saveShapes, [&](std::FILE* f) { printShapesJson(f, report.shapes); }); !s)
            return refused(window, s.error);
    if (!o.posterior.empty())
        if (IoStatus s = batch.addText(o.posterior, [&](std::FILE* f) { printPosteriorCsv(f, posterior, report.rate); }); !s)
            return refused(window, s.error);
    if (!o.csv.empty()) {
        const auto write = [&](std::FILE* f) {
            writeDetectReportCsv(report, [f](std::string_view part) { std::fwrite(part.data(), 1, part.size(), f); });
        };
        if (IoStatus s = batch.addText(o.csv, write); !s) return refused(window, s.error);
    }
    if (!o.plot.empty()) {
        std::vector<PlotPulse> drawn;
        for (const DetectedPulse& p : report.pulses)
            drawn.push_back(PlotPulse{p.position, p.shape, p.cutStart, p.cutEnd, p.gain, p.confidence});
        RecordingPlotOptions plot;
        plot.posterior = posterior;
        plot.width = plan.width;
        plot.height = plan.height;
        plot.range = plotRange;
        plot.channels = report.channels;
        plot.channelNames = report.channelNames;
        if (IoStatus s = addRecordingPlot(batch, o.plot, trace, report.rate, report.shapes, drawn, plot); !s)
            return refused(window, s.error);
    }
    return true;
}

// One recording from its options to a detection ready to run, as every run of `detect` takes it.
struct DetectRun {
    DetectPlan plan;
    // Read whole (with the picture, or several channels) or streamed (see prepareRun).
    std::optional<RecordingInput> input;
    double rate = 1;
    DetectSettings settings;
    std::optional<SampleRange> plotRange;
    PreparedDetection prepared;
};

// Checks the options, reads the recording and prepares its detection: true, or false after a
// refusal.
bool prepareRun(const DetectOptions& o, MessageSink& window, DetectRun& run) {
    if (!checkOptions(o, window, run.plan)) return false;

    // The recording, its shapes and the limits in its samples; the baseline removal and the
    // common scale, as every front end prepares a detection. Only the picture draws the signal
    // itself: without one a recording of one channel is read twice straight into its 16-bit
    // form instead of held as floats (the same result, a quarter of the memory;
    // core/recording_stream.h).
    const DetectPlan& plan = run.plan;
    if (o.plot.empty() && !plan.files.read.columns && !plan.files.read.channels) {
        IoResult<ScannedRecording> scan = scanRecordingFiles(plan.files, plan.baselineSeconds);
        if (!scan) return refused(window, scan.error);
        run.rate = scan.value.rate;
        if (!checkAgainstRecording(o, plan, run.rate, scan.value.samples, 1, scan.value.shapes, window, run.settings,
                                   run.plotRange))
            return false;
        if (IoStatus ready = prepareScannedDetection(scan.value, run.settings, run.prepared); !ready)
            return refused(window, ready.error);
    } else {
        IoResult<RecordingInput> read = readRecordingFiles(plan.files, plan.baselineSeconds);
        if (!read) return refused(window, read.error);
        run.input = std::move(read.value);
        const Signal& signal = run.input->signal;
        run.rate = signal.rate;
        if (!checkAgainstRecording(o, plan, run.rate, signal.length(), signal.channels, run.input->shapes, window,
                                   run.settings, run.plotRange))
            return false;
        if (IoStatus ready = prepareDetection(signal, run.input->shapes, run.settings, run.prepared); !ready)
            return refused(window, ready.error);
    }
    // Templates cut again from the corrected signal are checked again: a stretch flat once the
    // baseline is gone is no shape.
    if (run.settings.baselineSeconds)
        if (IoStatus s = checkShapes(run.prepared.shapes); !s) return refused(window, s.error);
    run.prepared.request.threads = run.plan.threads;
    return true;
}

int runDetectChecked(const DetectOptions& o, std::ostream& out, StderrMessageSink& window) {
    const auto run = std::make_unique<DetectRun>();
    if (!prepareRun(o, window, *run)) return 1;
    const DetectPlan& plan = run->plan;
    const std::optional<RecordingInput>& input = run->input;
    const std::optional<SampleRange>& plotRange = run->plotRange;
    PreparedDetection& prepared = run->prepared;

    // The run: progress on standard error for long signals, Ctrl-C stops it.
    const bool longSignal = prepared.request.signal.size() >= 1000000;
    Progress bar("");
    std::function<void(double)> progress;
    if (longSignal) {
        bar.start(1000);
        progress = [&](double fraction) { bar(static_cast<long>(fraction * 1000), 1000); };
    }
    interrupted = false;
    const std::atomic<bool>& cancel = o.cancel ? *o.cancel : interrupted;
    void (*previous)(int) = std::signal(SIGINT, onInterrupt);
    const auto started = std::chrono::steady_clock::now();
    const auto round = [&](int32_t r, int64_t distance) {
        if (!Progress::silenced)
            std::cerr << "pulsebench-cli detect: " << (r == 0 ? "given shapes" : "learning round " + std::to_string(r))
                      << ", distance " << distance << std::endl;
    };
    DetectResult result = runDetection(prepared, plan.learnRounds, progress, round, cancel);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    // The handler stays until the files are in place: a Ctrl-C while they are written removes
    // what was staged instead of leaving a part behind.
    struct Restore {
        void (*handler)(int);
        ~Restore() { std::signal(SIGINT, handler == SIG_ERR ? SIG_DFL : handler); }
    } restore{previous};
    const auto stopped = [&] {
        window.messageBox("stopped; nothing written.", kCaption, MessageIcon::Warning);
        return 130;
    };
    if (!result.completed || cancel.load()) return stopped();
    if (!result.error.empty()) return refused(window, result.error), 1;
    const DetectReport report = run->input ? detectReportOf(run->input->signal, prepared, std::move(result), seconds)
                                           : detectReportOf(run->rate, prepared, std::move(result), seconds);

    // Files: both are staged and renamed together once both are complete, unless Ctrl-C came
    // meanwhile.
    FileBatch batch;
    // The picture draws every channel in a lane of its own (a recording read streamed has none).
    static const std::vector<float> none;
    const std::vector<float>& trace = !prepared.corrected.empty() ? prepared.corrected : input ? input->signal.samples : none;
    if (!stageFiles(o, plan, trace, plotRange, report, prepared.posterior, window, batch)) return 1;
    // Standard output before the files are renamed into place: a result that cannot be printed
    // leaves no file behind either. Once the result is printed, Ctrl-C is too late: the run
    // ends as it was printed.
    if (cancel.load()) return stopped();
    if (o.json)
        writeDetectReportJson(report, [&](std::string_view part) { out << part; });
    else
        printTextReport(report, out);
    out.flush();
    if (!out.good()) {
        batch.discard();
        return refused(window, std::string("Cannot write standard output: ") + std::strerror(errno ? errno : EIO) +
                                   "; nothing written."),
               1;
    }
    if (IoStatus s = batch.commit(); !s) return refused(window, s.error), 1;
    return 0;
}
}  // namespace

int runDetect(const DetectOptions& o, std::ostream& out, StderrMessageSink& window) {
    // No exception of a library (a reader, the JSON writer, the picture) reaches the user as an
    // abort: it is a refusal with its reason, and nothing is written.
    try {
        if (!o.manifest.empty()) return runDetectManifest(o, out, window);
        if (o.signal.empty()) {
            window.messageBox("no recording: give --signal FILE, or --manifest FILE for many.", kCaption,
                              MessageIcon::Warning);
            return 1;
        }
        return runDetectChecked(o, out, window);
    } catch (const std::bad_alloc&) {
        window.messageBox("not enough memory for this detection; nothing written.", kCaption, MessageIcon::Warning);
    } catch (const std::exception& e) {
        window.messageBox(std::string("failed: ") + e.what() + "; nothing written.", kCaption, MessageIcon::Warning);
    }
    return 1;
}

bool checkDetectOptions(const DetectOptions& o, MessageSink& window, std::string& csvHeader) {
    DetectPlan plan;
    if (!checkOptions(o, window, plan)) return false;
    // The header of a report without pulses: the columns follow the options alone.
    DetectReport empty;
    empty.gain = plan.gain;
    empty.pulseCostChoice = plan.pulseCost;
    empty.confidence = plan.confidence;
    csvHeader = detectReportCsv(empty);
    return true;
}

RecordingOutcome detectRecording(const DetectOptions& o, int32_t threads, const std::atomic<bool>& cancel) {
    RecordingOutcome outcome;
    RecordingMessageSink messages;
    try {
        const auto run = std::make_unique<DetectRun>();
        if (prepareRun(o, messages, *run)) {
            run->prepared.request.threads = threads;
            const auto started = std::chrono::steady_clock::now();
            const DetectResult result = runDetection(run->prepared, run->plan.learnRounds, {}, {}, cancel);
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
            if (!result.completed || cancel.load()) {
                outcome.status = 130;
                return outcome;
            }
            if (result.error.empty()) {
                const DetectReport report = run->input ? detectReportOf(run->input->signal, run->prepared, result, seconds)
                                                       : detectReportOf(run->rate, run->prepared, result, seconds);
                outcome.status = 0;
                outcome.pulses = static_cast<int64_t>(report.pulses.size());
                outcome.text = textReport(report);
                outcome.json = detectReportJson(report);
                outcome.csv = detectReportCsv(report);
                return outcome;
            }
            messages.messageBox(result.error, kCaption, MessageIcon::Warning);
        }
    } catch (const std::bad_alloc&) {
        messages.messageBox("not enough memory for this recording.", kCaption, MessageIcon::Warning);
    } catch (const std::exception& e) {
        messages.messageBox(std::string("failed: ") + e.what(), kCaption, MessageIcon::Warning);
    }
    outcome.status = 1;
    outcome.error = messages.messages.empty() ? "failed." : messages.messages.front().text;
    return outcome;
}
