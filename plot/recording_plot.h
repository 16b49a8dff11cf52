#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "io/file_batch.h"
#include "io/io_result.h"
#include "io/shapes.h"
#include "io/signal_reader.h"

/// One pulse found in a recording, as the plot draws it.
struct PlotPulse {
    int64_t position = 0;  ///< the sample where sample 0 of the shape falls
    int32_t shape = 0;     ///< 0-based index into the shapes
    int32_t cutStart = 0;  ///< first shape sample kept
    int32_t cutEnd = 0;    ///< last shape sample kept
    double gain = 1;       ///< the pulse is drawn as gain times its shape
};

/// What part of a recording is drawn, and how large.
struct RecordingPlotOptions {
    int width = 1600;   ///< pixels, 200..8000
    int height = 600;   ///< pixels, 200..8000
    /// Samples drawn, [first, last); unset: the whole signal. A range ending beyond the signal
    /// is cut at its end.
    std::optional<SampleRange> range;
    /// Added to each pulse sample at its place in the signal, so that pulses matched against the
    /// signal less its baseline lie on the raw signal drawn (the baseline removed); empty: none,
    /// else exactly as long as the signal.
    std::span<const float> pulseLift;
};

/// Colours of the picture, for readers of the pixels.
inline constexpr uint32_t plotSignalColour = 0x303030;
/// The colour of shape `index` (0-based): distinct hues, the same in every picture.
uint32_t plotShapeColour(int index);

/// Draws a recording with the pulses found in it and writes the picture as SVG when `path` ends
/// in ".svg" (any case), else as PNG (".png"); any other ending is refused. The signal is drawn
/// as one line, or as the minimum and maximum of each pixel column when the range holds more
/// samples than the plot is wide; each pulse is drawn over it as its shape's kept samples
/// (cutStart..cutEnd) times its gain at its place, in the shape's colour, labelled by the shape's name (a
/// label that would cover another is left out); a time axis in seconds (at `rate`) and a value
/// axis frame it. Written under a temporary name and renamed (see FileBatch). Refused with a
/// message: a bad size, an empty signal, a range starting beyond the signal, a pulse whose
/// shape does not exist, whose cut lies outside its shape or whose gain is not finite. Creates an offscreen GUI
/// application for the text when there is none.
IoStatus writeRecordingPlot(const std::string& path, std::span<const float> signal, double rate,
                            const std::vector<Shape>& shapes, std::span<const PlotPulse> pulses,
                            const RecordingPlotOptions& options = {});

/// The same picture staged in `batch` (renamed with the batch's other files on its commit).
IoStatus addRecordingPlot(FileBatch& batch, const std::string& path, std::span<const float> signal, double rate,
                          const std::vector<Shape>& shapes, std::span<const PlotPulse> pulses,
                          const RecordingPlotOptions& options = {});
