#include "io/recording.h"

#include <new>

IoResult<Recording> loadRecording(const RecordingRequest& request) {
    using Result = IoResult<Recording>;
    if (request.shapesFile.empty() == request.templates.empty())
        return Result::failure(request.templates.empty()
                                   ? "no pulse shapes given: name a shapes file or cut templates from the recording"
                                   : "pulse shapes come from a file or from templates, not both");
    try {
        Recording r;
        auto signal = readSignal(request.signalFile, request.read);
        if (!signal) return Result::failure(signal.error);
        r.signal = std::move(signal.value);
        if (request.baselineSeconds)
            if (IoStatus s = removeBaseline(r.signal.samples, r.signal.rate, *request.baselineSeconds,
                                            request.baselineMethod);
                !s)
                return Result::failure(s.error);
        if (!request.shapesFile.empty()) {
            auto shapes = readShapes(request.shapesFile);
            if (!shapes) return Result::failure(shapes.error);
            r.shapes = std::move(shapes.value);
        } else {
            std::vector<TemplateSpec> specs;
            for (size_t i = 0; i < request.templates.size(); ++i) {
                auto spec = parseTemplateSpec(request.templates[i], r.signal.rate, static_cast<int>(i + 1));
                if (!spec) return Result::failure(spec.error);
                specs.push_back(std::move(spec.value));
            }
            auto shapes = cutTemplates(r.signal.samples, specs);
            if (!shapes) return Result::failure(shapes.error);
            r.shapes = std::move(shapes.value);
        }
        if (IoStatus s = checkShapes(r.shapes); !s) return Result::failure(s.error);
        auto quantised = quantise(r.signal.samples, r.shapes, request.targetPeak);
        if (!quantised) return Result::failure(quantised.error);
        r.quantised = std::move(quantised.value);
        return Result::success(std::move(r));
    } catch (const std::bad_alloc&) {
        return Result::failure(request.signalFile + ": not enough memory for the recording");
    }
}
