// The recordings part of `pulsebench._core`: signals and shapes read by io/, their common
// quantisation, and the exact detection through the same preparation (baseline removal, common
// scale) as the batch tool and the recording view, reported in the JSON of `detect`.

#include <chrono>
#include <cmath>
#include <limits>

#include <pybind11/functional.h>

#include "core/detect.h"
#include "core/detect_setup.h"
#include "core/learn.h"
#include "io/quantise.h"
#include "io/signal_reader.h"
#include "python/bindings.h"

namespace pulsebench_python {
namespace {
// A gap limit: a whole number of samples, or the text the batch tool takes ("40", "0.3s").
int64_t gapLimit(const py::handle& value, double rate, const char* name, int64_t least = 1) {
    if (!(isWholeNumber(value) || py::isinstance<py::str>(value)))
        throw py::type_error(std::string(name) + " must be a whole number of samples or a text such as \"0.3s\"");
    if (isWholeNumber(value)) {
        const int64_t samples = wholeNumberOf(value, name);
        if (samples < least)
            throw py::value_error(std::string(name) + " must be at least " + std::to_string(least) + " sample" +
                                  (least == 1 ? "" : "s") + ", not " + std::to_string(samples));
        return samples;
    }
    IoResult<int64_t> parsed = parseSamplesOrSeconds(value.cast<std::string>(), rate, name);
    if (!parsed) throw py::value_error(parsed.error);
    if (parsed.value < least)
        throw py::value_error(std::string(name) + " must be at least " + std::to_string(least) + " sample" +
                              (least == 1 ? "" : "s"));
    return parsed.value;
}

DetectTask detectTaskOf(const std::string& task) {
    for (const DetectTask t : {DetectTask::detect, DetectTask::joint, DetectTask::recognize})
        if (task == detectTaskName(t)) return t;
    throw py::value_error("task must be one of \"detect\", \"joint\", \"recognize\", not \"" + task + "\"");
}

// Candidates by name (an int n names the shape "n", as the rows of a 2-D array are named), in
// the order given; unset: every shape in order.
std::vector<int32_t> candidatesOf(const std::optional<py::sequence>& names, const std::vector<Shape>& shapes) {
    std::vector<int32_t> indices;
    if (!names) {
        for (size_t i = 0; i < shapes.size(); ++i) indices.push_back(static_cast<int32_t>(i));
        return indices;
    }
    if (py::isinstance<py::str>(*names)) throw py::type_error("candidates must be a sequence of shape names");
    for (const py::handle item : *names) {
        std::string name;
        if (py::isinstance<py::str>(item))
            name = item.cast<std::string>();
        else if (isWholeNumber(item))
            name = std::to_string(wholeNumberOf(item, "candidates"));
        else
            throw py::type_error("candidates must be shape names");
        const std::optional<int32_t> found = shapeIndex(shapes, name);
        if (!found) throw py::value_error("candidate \"" + name + "\" is none of the shapes (" + shapeNameList(shapes) + ")");
        const int32_t index = *found;
        if (std::find(indices.begin(), indices.end(), index) != indices.end())
            throw py::value_error("candidate \"" + name + "\" is named twice");
        indices.push_back(index);
    }
    if (indices.empty()) throw py::value_error("candidates is empty");
    return indices;
}

// The shapes of a detection: given as etalons, or cut from the signal as --template cuts them
// (after the baseline removal when there is one: prepareDetection cuts them again there).
std::vector<ListedShape> listedShapes(const Signal& recording, const py::object& etalons, const py::object& templates) {
    const double rate = recording.rate;
    std::vector<ListedShape> listed;
    if (etalons.is_none() == templates.is_none())
        throw py::value_error(etalons.is_none()
                                  ? "no pulse shapes: give etalons or templates=[(start, length, name), ...]"
                                  : "etalons and templates exclude each other: shapes come from one place");
    if (!templates.is_none()) {
        if (py::isinstance<py::str>(templates) || !py::isinstance<py::sequence>(templates))
            throw py::type_error("templates must be a sequence of (start, length) or (start, length, name)");
        for (const py::handle item : py::reinterpret_borrow<py::sequence>(templates)) {
            if (py::isinstance<py::str>(item) || !py::isinstance<py::sequence>(item) || py::len(item) < 2 ||
                py::len(item) > 3)
                throw py::type_error("a template is (start, length) or (start, length, name)");
            const auto part = py::reinterpret_borrow<py::sequence>(item);
            const int64_t first = gapLimit(part[0], rate, "template start", 0);
            const int64_t length = gapLimit(part[1], rate, "template length");
            std::string name = "t" + std::to_string(listed.size() + 1);  // as --template names them
            if (py::len(item) == 3) {
                if (!py::isinstance<py::str>(part[2])) throw py::type_error("a template's name must be a str");
                name = part[2].cast<std::string>();
            }
            if (first > recording.length() || length > recording.length() - first)
                throw py::value_error("template (" + std::to_string(first) + ", " + std::to_string(length) +
                                      ") reaches beyond the signal's " + std::to_string(recording.length()) + " samples");
            IoResult<ListedShape> cut = cutShape(recording, first, first + length, name, listed);
            if (!cut) throw py::value_error(cut.error);
            listed.push_back(std::move(cut.value));
        }
    } else {
        for (Shape& shape : shapesFrom(etalons)) listed.push_back({std::move(shape), std::nullopt, true});
    }
    return listed;
}

// The found pulses as arrays, with the report's figures and its JSON.
py::dict detectDict(const DetectResult& result, const DetectReport& report, const PreparedDetection& prepared) {
    const std::vector<Shape>& shapes = report.shapes;
    std::vector<int64_t> position, measure;
    std::vector<int32_t> etalon, cutStart, cutEnd;
    std::vector<double> gain;
    py::list names;
    for (const DetectedPulse& p : result.pulses) {
        gain.push_back(p.gain);
        position.push_back(p.position);
        etalon.push_back(p.shape);
        cutStart.push_back(p.cutStart);
        cutEnd.push_back(p.cutEnd);
        measure.push_back(p.measure);
        names.append(py::str(shapes.at(static_cast<size_t>(p.shape)).name));
    }
    py::list shapeNames;
    for (const Shape& shape : shapes) shapeNames.append(py::str(shape.name));
    py::dict d;
    d["position"] = toArray(position);
    d["etalon"] = toArray(etalon);
    d["name"] = names;
    d["cut_start"] = toArray(cutStart);
    d["cut_end"] = toArray(cutEnd);
    d["measure"] = toArray(measure);
    d["gain"] = toArray(gain);
    py::dict used;
    for (const Shape& shape : shapes) {
        py::array_t<double> samples = toArray(shape.samples);
        // A shape of several channels as channels x samples, as it was given.
        used[py::str(shape.name)] =
                shape.channels > 1 ? samples.attr("reshape")(shape.channels, shape.length()) : py::object(samples);
    }
    d["etalons"] = used;
    d["learn_distances"] = report.learnDistances;
    std::vector<double> confidence, kindConfidence;
    for (const DetectedPulse& p : result.pulses) {
        confidence.push_back(p.confidence);
        kindConfidence.push_back(p.kindConfidence);
    }
    d["confidence"] = report.confidence ? py::object(toArray(confidence)) : py::object(py::none());
    d["kind_confidence"] = report.confidence ? py::object(toArray(kindConfidence)) : py::object(py::none());
    d["posterior"] = report.confidence ? py::object(toArray(prepared.posterior)) : py::object(py::none());
    d["expected_count"] = report.confidence ? py::object(py::float_(report.expectedCount)) : py::object(py::none());
    d["count_deviation"] = report.confidence ? py::object(py::float_(report.countDeviation)) : py::object(py::none());
    d["learned_round"] = report.learnedRound;
    d["pulse_cost"] = report.pulseCost;
    d["noise_sigma"] = report.noiseSigma;
    d["distance"] = result.distance;
    d["scale"] = prepared.quantised.scale;
    d["rate"] = report.rate;
    d["samples"] = report.samples;
    d["task"] = detectTaskName(report.task);
    d["etalon_names"] = shapeNames;
    d["seconds"] = report.seconds;
    d["json"] = detectReportJson(report);
    return d;
}

// A real number given as a Python number (anything with __float__, never bool or text).
std::optional<double> realOf(const py::object& value) {
    if (py::isinstance<py::bool_>(value) || py::isinstance<py::str>(value) || !py::hasattr(value, "__float__"))
        return std::nullopt;
    return value.cast<double>();
}

// gain=(min, max), or one number for a fixed gain; the core's check.
GainRange gainRangeOf(const py::object& gain) {
    const char* kind = "gain must be a pair (min, max) of numbers or one number";
    GainRange range;
    if (const std::optional<double> fixed = realOf(gain)) {
        range.min = range.max = *fixed;
    } else if (py::isinstance<py::sequence>(gain) && !py::isinstance<py::str>(gain)) {
        const auto pair = gain.cast<py::sequence>();
        if (pair.size() != 2) throw py::value_error(kind);
        const std::optional<double> min = realOf(pair[0]), max = realOf(pair[1]);
        if (!min || !max) throw py::type_error(kind);
        range = {*min, *max};
    } else {
        throw py::type_error(kind);
    }
    if (auto problem = gainRangeProblem(range.min, range.max)) throw py::value_error("gain: " + *problem);
    return range;
}

// pulse_cost=None (0), a number >= 0, or "auto"; the core's check.
PulseCostChoice pulseCostOf(const py::object& cost) {
    if (cost.is_none()) return {};
    std::string text;
    if (py::isinstance<py::str>(cost))
        text = cost.cast<std::string>();
    else if (const std::optional<double> number = realOf(cost))
        text = std::isfinite(*number) ? shortestNumber(*number) : "nan";
    else
        throw py::type_error("pulse_cost must be a number, \"auto\" or None");
    const IoResult<PulseCostChoice> choice = parsePulseCost(text);
    if (!choice) throw py::value_error("pulse_cost: " + choice.error);
    return choice.value;
}

// The exact detection in a recording (see pulsebench.detect).
py::dict detect(const py::object& signal, const py::object& etalons, const py::object& tmin, const py::object& tmax,
                std::optional<int64_t> count, int64_t savedEnergy, const std::string& task,
                std::optional<py::sequence> candidates, double rate, std::optional<double> baseline, int64_t threads,
                std::optional<py::function> progress, const py::object& templates, const py::object& gain,
                const py::object& pulseCost, int64_t learn, bool confidence, const py::object& confidenceWindow,
                std::optional<double> noiseSigma, const py::object& channelWeights) {
    if (!isSampleRate(rate))
        throw py::value_error("rate must lie from 1e-06 to 1e+12 samples per second, not " + std::to_string(rate));
    Signal recording;
    recording.samples = signalSamples(signal, recording.channels, true);
    recording.rate = rate;
    if (recording.channels > 1)
        for (int c = 1; c <= recording.channels; ++c) recording.channelNames.push_back(std::to_string(c));
    const std::vector<ListedShape> listed = listedShapes(recording, etalons, templates);
    const std::vector<Shape> shapes = shapesOf(listed);

    DetectSettings settings;
    settings.task = detectTaskOf(task);
    settings.tmin = gapLimit(tmin, rate, "tmin");
    settings.tmax = gapLimit(tmax, rate, "tmax");
    if (settings.tmin > settings.tmax)
        throw py::value_error("tmin (" + std::to_string(settings.tmin) + " samples) is above tmax (" +
                              std::to_string(settings.tmax) + " samples)");
    if (const IoStatus fits = checkShapesFitTmax(shapes, settings.tmax); !fits) throw py::value_error(fits.error);
    if (count && *count < 1) throw py::value_error("count must be at least 1, not " + std::to_string(*count));
    settings.count = count;
    settings.savedEnergy = *inRange<int32_t>(savedEnergy, 0, 100, "saved_energy");
    if (baseline && (!std::isfinite(*baseline) || *baseline <= 0))
        throw py::value_error("baseline must be a positive number of seconds");
    settings.baselineSeconds = baseline;
    settings.candidates = candidatesOf(candidates, shapes);
    if (settings.task == DetectTask::detect && settings.candidates.size() != 1)
        throw py::value_error("task \"detect\" looks for exactly one shape; name it with candidates=[...] (" +
                              std::to_string(settings.candidates.size()) + " given)");
    const int32_t threadCount = *inRange<int32_t>(threads, 0, 256, "threads");
    settings.gain = gainRangeOf(gain);
    settings.pulseCost = pulseCostOf(pulseCost);
    settings.learnRounds = *inRange<int32_t>(learn, 0, kMostLearnRounds, "learn");
    settings.confidence = confidence;
    settings.posterior = confidence;
    if (noiseSigma && (!std::isfinite(*noiseSigma) || *noiseSigma <= 0))
        throw py::value_error("noise_sigma must be a positive number in the signal's units");
    settings.noiseSigma = noiseSigma;
    if (const IoStatus matching = checkShapeChannels(shapes, recording.channels); !matching) throw py::value_error(matching.error);
    if (!channelWeights.is_none()) {
        settings.channelWeights = realVector(channelWeights, "channel_weights");
        if (const IoStatus s = checkChannelWeights(settings.channelWeights, recording.channels); !s)
            throw py::value_error("channel_weights: " + s.error);
    }
    if (!confidenceWindow.is_none()) {
        const int64_t w = gapLimit(confidenceWindow, rate, "confidence_window");
        if (w > settings.tmax)
            throw py::value_error("confidence_window (" + std::to_string(w) + " samples) is beyond tmax (" +
                                  std::to_string(settings.tmax) + " samples)");
        settings.confidenceWindow = w;
    }

    // The baseline, the quantisation and the run, on a thread of their own; this thread
    // delivers the progress and stops the run on Ctrl-C.
    Watch watch;
    std::atomic<double> fraction{0};
    double delivered = -1;
    std::string refusal;
    DetectResult result;
    PreparedDetection prepared;
    const auto start = std::chrono::steady_clock::now();
    {
        py::gil_scoped_release release;
        watch.run(
            [&] {
                if (IoStatus ready = prepareDetection(recording, listed, settings, prepared); !ready) {
                    refusal = ready.error;
                    return;
                }
                prepared.request.threads = threadCount;
                result = runDetection(
                    prepared, settings.learnRounds,
                    [&](double done) {
                        fraction = done;
                        watch.notify();
                    },
                    {}, watch.cancel);
            },
            [&] {
                const double now = fraction.load();
                if (progress && now != delivered) {
                    delivered = now;
                    (*progress)(now);
                }
            });
    }
    if (PyErr_Occurred()) throw py::error_already_set();
    if (!refusal.empty()) throw py::value_error(refusal);
    if (!result.error.empty()) throw py::value_error(result.error);
    if (!result.completed) throw py::value_error("the detection was stopped");

    const DetectReport report = detectReportOf(
        recording, prepared, result,
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());

    return detectDict(result, report, prepared);
}

}  // namespace

void defineRecordingFunctions(py::module_& m) {
    m.def(
        "read_signal",
        [](const py::object& pathObject, std::optional<py::object> column, std::optional<py::object> channel,
           std::optional<double> rate) {
            const std::string path = pathOf(pathObject);
            SignalReadOptions options;
            if (column) {
                if (isWholeNumber(*column))
                    options.column = std::to_string(wholeNumberOf(*column, "column"));
                else if (py::isinstance<py::str>(*column))
                    options.column = column->cast<std::string>();
                else
                    throw py::type_error("column must be a 1-based number or a header name");
            }
            if (channel) {
                if (!isWholeNumber(*channel)) throw py::type_error("channel must be a 1-based channel number");
                const int64_t k = wholeNumberOf(*channel, "channel");
                if (k < 1 || k > 65535) throw py::value_error("channel must lie in 1..65535, not " + std::to_string(k));
                options.channel = static_cast<int>(k);
            }
            options.rate = rate;
            IoResult<Signal> result;
            {
                py::gil_scoped_release release;
                result = readSignal(path, options);
            }
            if (!result) throw py::value_error(result.error);
            const auto& samples = result.value.samples;
            py::array_t<double> array(static_cast<py::ssize_t>(samples.size()));
            std::copy(samples.begin(), samples.end(), array.mutable_data());
            return py::make_tuple(array, result.value.rate);
        },
        py::arg("path"), py::arg("column") = py::none(), py::arg("channel") = py::none(),
        py::arg("rate") = py::none());

    m.def("read_etalons", [](const py::object& pathObject) {
        const std::string path = pathOf(pathObject);
        IoResult<std::vector<Shape>> result;
        {
            py::gil_scoped_release release;
            result = readShapes(path);
        }
        if (!result) throw py::value_error(result.error);
        py::dict shapes;
        for (const Shape& shape : result.value) {
            if (shapes.contains(shape.name)) throw py::value_error(path + ": etalon \"" + shape.name + "\" named twice");
            shapes[py::str(shape.name)] = toArray(shape.samples);
        }
        return shapes;
    }, py::arg("path"));

    m.def(
        "quantise",
        [](const py::object& signal, const py::object& etalons) {
            const std::vector<float> samples = signalSamples(signal);
            const std::vector<Shape> shapes = shapesFrom(etalons);
            IoResult<QuantisedRecording> result;
            {
                py::gil_scoped_release release;
                result = quantise(samples, shapes);
            }
            if (!result) throw py::value_error(result.error);
            py::dict q;
            q["scale"] = result.value.scale;
            q["peak"] = result.value.peak;
            q["signal"] = toArray(result.value.signal);
            py::dict quantisedShapes;
            for (size_t i = 0; i < shapes.size(); ++i) quantisedShapes[py::str(shapes[i].name)] = toArray(result.value.shapes[i]);
            q["etalons"] = quantisedShapes;
            return q;
        },
        py::arg("signal"), py::arg("etalons"));

    m.def("detect", &detect,
        "The exact detection in a recording (see pulsebench.detect): returns a dict of the found pulses' arrays, "
        "the distance, the scale and the JSON of `detect`.",
        py::arg("signal"), py::arg("etalons"), py::arg("tmin"), py::arg("tmax"), py::arg("count") = py::none(),
        py::arg("saved_energy") = 100, py::arg("task") = "joint", py::arg("candidates") = py::none(),
        py::arg("rate") = 1.0, py::arg("baseline") = py::none(), py::arg("threads") = 0,
        py::arg("progress") = py::none(), py::arg("templates") = py::none(), py::arg("gain") = py::make_tuple(1.0, 1.0),
        py::arg("pulse_cost") = py::none(), py::arg("learn") = 0, py::arg("confidence") = false,
        py::arg("confidence_window") = py::none(), py::arg("noise_sigma") = py::none(),
        py::arg("channel_weights") = py::none());
}

}  // namespace pulsebench_python
