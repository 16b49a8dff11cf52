#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "io/io_result.h"
#include "model/alphabet.h"

/// One pulse shape (etalon) of a researcher's alphabet, in the signal's units. A shape of
/// several channels holds them one after the other, each of the shape's length.
struct Shape {
    std::string name;
    std::vector<double> samples;
    int channels = 1;

    /// Samples per channel.
    int64_t length() const { return static_cast<int64_t>(samples.size()) / channels; }
};

/// Most shapes a recording's alphabet holds (the workbench's own alphabet holds
/// alphabetCapacity).
inline constexpr int maxShapeCount = 256;
/// Shortest shape: the engine's shortest etalon.
inline constexpr int minShapeLength = minImpulseSize;
/// Longest shape: cut starts and ends are 16-bit in the engine's records.
inline constexpr int maxShapeLength = 32767;

/// Reads shapes by the file's ending: ".json" as readShapesJson, ".csv", ".tsv", ".txt" as
/// readShapesTable; anything else is refused as an unsupported format. The shapes are not
/// checked as an alphabet here (see checkShapes).
IoResult<std::vector<Shape>> readShapes(const std::string& path);

/// A table with one shape per column: the first content line names the shapes (it is
/// required), each following line holds one sample of every shape. Separators, comments and
/// numbers as for text signals. A shape shorter than the others ends with empty fields (or
/// short lines); a name that is not UTF-8, a gap inside a column, a malformed number, NaN or
/// infinity, or a line with more values than names is refused with file and line.
/// Shapes of several channels name their columns SHAPE:CHANNEL ("beat:1", "beat:2", ...): the
/// columns of one SHAPE, in the order they stand, are its channels; every shape has as many and
/// every channel of a shape the same length. (A table in which no SHAPE repeats is read as
/// shapes of one channel named as written.)
IoResult<std::vector<Shape>> readShapesTable(const std::string& path);

/// JSON {"etalons": [{"name": "...", "samples": [...]}, ...]}; a shape of several channels has
/// "channels": [[...], [...], ...] instead of "samples". An entry without a name but with
/// an integer "number" is named by that number, so that the workbench's own alphabet as
/// `alphabet --json` prints it reads as shapes "1" to "20". Invalid JSON is refused with file,
/// line and column; a wrong structure with the entry it concerns.
IoResult<std::vector<Shape>> readShapesJson(const std::string& path);

/// Writes shapes in the JSON form readShapesJson reads (numbers in their shortest exact form),
/// under a temporary name renamed at the end (see FileBatch).
IoStatus writeShapesJson(const std::string& path, const std::vector<Shape>& shapes);
/// The same JSON to an open file (for a FileBatch that stages it with other files).
void printShapesJson(std::FILE* file, const std::vector<Shape>& shapes);

/// A shape cut from the recording: START:LENGTH[:NAME], START and LENGTH in samples or in
/// seconds with an `s` suffix ("1.5s:0.2s:beat").
struct TemplateSpec {
    int64_t start = 0;   ///< first sample
    int64_t length = 0;  ///< samples
    std::string name;    ///< as given, or "tK" for the K-th template (1-based) without a name
    std::string text;    ///< the template as the user wrote it, for messages
};

/// Parses START:LENGTH[:NAME]; `index` is the 1-based number of the template among all given
/// (for the default name). The name is everything after the second colon.
IoResult<TemplateSpec> parseTemplateSpec(const std::string& text, double rate, int index);

/// Whether a template lies within a signal of `samples` samples and is no longer than a shape may
/// be; the refusal names it (the checks and messages of cutTemplates).
IoStatus checkTemplateFits(const TemplateSpec& spec, int64_t samples);

/// Cuts each template from `samples` (after any baseline removal, so that shapes and signal
/// match), from every one of its `channels` (held one after the other) at once. A template
/// reaching beyond the signal is refused, naming it.
IoResult<std::vector<Shape>> cutTemplates(std::span<const float> samples, const std::vector<TemplateSpec>& specs,
                                          int channels = 1);

/// Checks that shapes form an alphabet: 1 to maxShapeCount shapes; names non-empty, distinct
/// and without commas (names are listed with commas); each of its own length L with
/// minShapeLength <= L <= maxShapeLength; finite samples; none all zero; every one of the same
/// number of channels (1..maxSignalChannels), each of L samples. The message names the offending
/// shape.
IoStatus checkShapes(const std::vector<Shape>& shapes);

/// Checks the length of every checked shape against the greatest gap: L <= tmax (a pulse must
/// end before the next one may start at the greatest distance).
IoStatus checkShapesFitTmax(const std::vector<Shape>& shapes, int64_t tmax);
