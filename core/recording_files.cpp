#include "core/recording_files.h"

#include <new>

#include "io/quantise.h"
#include "io/shapes.h"

namespace {
// The templates parsed at the signal's rate and cut from it, each remembering where.
IoResult<std::vector<ListedShape>> cutTemplateShapes(const Signal& signal, const std::vector<std::string>& templates) {
    using Result = IoResult<std::vector<ListedShape>>;
    std::vector<TemplateSpec> specs;
    for (size_t i = 0; i < templates.size(); ++i) {
        auto spec = parseTemplateSpec(templates[i], signal.rate, static_cast<int>(i + 1));
        if (!spec) return Result::failure(spec.error);
        specs.push_back(std::move(spec.value));
    }
    auto cut = cutTemplates(signal.samples, specs, signal.channels);
    if (!cut) return Result::failure(cut.error);
    std::vector<ListedShape> shapes;
    for (size_t i = 0; i < specs.size(); ++i) shapes.push_back({std::move(cut.value[i]), specs[i].start, true});
    return Result::success(std::move(shapes));
}
}  // namespace

IoStatus checkShapeSource(const RecordingFiles& files) {
    if (files.shapesFile.empty() == files.templates.empty())
        return IoStatus::failure(files.templates.empty()
                                     ? "no pulse shapes given: name a shapes file or cut templates from the recording"
                                     : "pulse shapes come from a file or from templates, not both");
    return {};
}

IoResult<RecordingInput> readRecordingFiles(const RecordingFiles& files, const std::optional<double>& baselineSeconds) {
    using Result = IoResult<RecordingInput>;
    if (IoStatus source = checkShapeSource(files); !source) return Result::failure(source.error);
    try {
        RecordingInput input;
        auto signal = readSignal(files.signalFile, files.read);
        if (!signal) return Result::failure(signal.error);
        input.signal = std::move(signal.value);
        if (baselineSeconds)
            if (IoStatus window = checkBaselineWindow(input.signal.rate, *baselineSeconds); !window)
                return Result::failure(window.error);
        if (!files.shapesFile.empty()) {
            auto shapes = readShapes(files.shapesFile);
            if (!shapes) return Result::failure(shapes.error);
            for (Shape& shape : shapes.value) input.shapes.push_back({std::move(shape), std::nullopt, true});
        } else {
            auto shapes = cutTemplateShapes(input.signal, files.templates);
            if (!shapes) return Result::failure(shapes.error);
            input.shapes = std::move(shapes.value);
        }
        if (IoStatus s = checkShapes(shapesOf(input.shapes)); !s) return Result::failure(s.error);
        return Result::success(std::move(input));
    } catch (const std::bad_alloc&) {
        return Result::failure(files.signalFile + ": not enough memory for the recording");
    }
}
