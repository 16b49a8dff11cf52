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
    double confidence = 1; ///< how sure the pulse is, 0..1: drawn with plotPulseOpacity
};

/// The opacity a pulse is drawn with: from 0.25 at confidence 0 to 1 at confidence 1, linearly
/// (cut to that range); 1 when the confidence is not a number (not computed).
double plotPulseOpacity(double confidence);

/// What part of a recording is drawn, and how large.
struct RecordingPlotOptions {
    int width = 1600;   ///< pixels, 200..8000
    int height = 600;   ///< pixels, 200..8000
    /// Samples drawn, [first, last); unset: the whole signal. A range ending beyond the signal
    /// is cut at its end.
    std::optional<SampleRange> range;
    /// Added to each pulse sample at its place in the signal, so that pulses matched against the
    /// signal less its baseline lie on the raw signal drawn (the baseline removed); empty: none,
    /// else exactly as long as the signal (every channel, held as the signal holds them).
    std::span<const float> pulseLift;
    /// Each position's probability that a pulse starts there (0..1), drawn as a lane under the
    /// signal; empty: no lane. At most as long as a channel (positions beyond it count as 0).
    std::span<const double> posterior;
    /// The channels the signal holds one after the other (1..maxSignalChannels, each of the
    /// signal's size over `channels` samples). Several are drawn in lanes stacked over the one
    /// time axis, each with its own value axis and name; lane c draws channel c of the pulses'
    /// shapes, which must have as many channels. One: the single plot.
    int channels = 1;
    /// The lanes' names (several channels); empty: their 1-based numbers.
    std::vector<std::string> channelNames;
};

/// Colours of the picture, for readers of the pixels.
inline constexpr uint32_t plotSignalColour = 0x303030;
/// The posterior lane's line (its fill is a lighter tint of it).
inline constexpr uint32_t plotPosteriorColour = 0x3A5A9A;
/// The colour of shape `index` (0-based): distinct hues, the same in every picture.
uint32_t plotShapeColour(int index);

/// Draws a recording with the pulses found in it and writes the picture as SVG when `path` ends
/// in ".svg" (any case), else as PNG (".png"); any other ending is refused. The signal is drawn
/// as one line, or as the minimum and maximum of each pixel column when the range holds more
/// samples than the plot is wide; each pulse is drawn over it as its shape's kept samples
/// (cutStart..cutEnd) times its gain at its place, in the shape's colour with the opacity of its
/// confidence, labelled by the shape's name (a label that would cover another is left out); the
/// posterior, when given, fills a lane under the signal (the greatest probability of each pixel
/// column); a time axis in seconds (at `rate`) and a value
/// axis frame it. Written under a temporary name and renamed (see FileBatch). Refused with a
/// message: a bad size, an empty signal, a range starting beyond the signal, a pulse whose
/// shape does not exist, whose cut lies outside its shape or whose gain is not finite, a posterior
/// longer than a channel, a channel count the signal's size does not hold, names that are not one
/// per channel, a pulse's shape of another channel count. Creates an offscreen GUI
/// application for the text when there is none.
IoStatus writeRecordingPlot(const std::string& path, std::span<const float> signal, double rate,
                            const std::vector<Shape>& shapes, std::span<const PlotPulse> pulses,
                            const RecordingPlotOptions& options = {});

/// The same picture staged in `batch` (renamed with the batch's other files on its commit).
IoStatus addRecordingPlot(FileBatch& batch, const std::string& path, std::span<const float> signal, double rate,
                          const std::vector<Shape>& shapes, std::span<const PlotPulse> pulses,
                          const RecordingPlotOptions& options = {});
