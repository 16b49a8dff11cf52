#include "io/shapes.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <new>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "io/file_batch.h"
#include "io/signal_reader.h"
#include "io/text_lines.h"
#include "model/text_format.h"

namespace {
std::string shapeName(const Shape& s) { return "shape " + quoteForMessage(s.name); }

// A table's columns named SHAPE:CHANNEL as shapes of several channels, when some SHAPE names
// more than one column; else the columns as they are.
IoResult<std::vector<Shape>> groupChannels(const std::string& path, std::vector<Shape> columns) {
    using Result = IoResult<std::vector<Shape>>;
    std::vector<std::string> prefix;
    for (const Shape& c : columns) {
        const size_t colon = c.name.rfind(':');
        if (colon == std::string::npos) return Result::success(std::move(columns));
        prefix.push_back(c.name.substr(0, colon));
    }
    std::vector<Shape> shapes;
    std::vector<std::vector<size_t>> members;
    for (size_t i = 0; i < columns.size(); ++i) {
        size_t k = 0;
        while (k < shapes.size() && shapes[k].name != prefix[i]) ++k;
        if (k == shapes.size()) {
            shapes.push_back({prefix[i], {}});
            members.emplace_back();
        }
        members[k].push_back(i);
    }
    if (shapes.size() == columns.size()) return Result::success(std::move(columns));
    for (size_t k = 0; k < shapes.size(); ++k) {
        if (members[k].size() != members[0].size())
            return Result::failure(path + ": " + shapeName(shapes[k]) + " has " + std::to_string(members[k].size()) +
                                   " channel columns, " + shapeName(shapes[0]) + " " +
                                   std::to_string(members[0].size()) + "; every shape needs the same channels");
        for (const size_t i : members[k]) {
            if (columns[i].samples.size() != columns[members[k][0]].samples.size())
                return Result::failure(path + ": the channels of " + shapeName(shapes[k]) + " differ in length (" +
                                       quoteForMessage(columns[i].name) + " has " +
                                       std::to_string(columns[i].samples.size()) + " samples, " +
                                       quoteForMessage(columns[members[k][0]].name) + " " +
                                       std::to_string(columns[members[k][0]].samples.size()) + ")");
            shapes[k].samples.insert(shapes[k].samples.end(), columns[i].samples.begin(), columns[i].samples.end());
        }
        shapes[k].channels = static_cast<int>(members[k].size());
    }
    return Result::success(std::move(shapes));
}

}  // namespace

IoResult<std::vector<Shape>> readShapes(const std::string& path) {
    const std::string e = fileEnding(path);
    if (e == "json") return readShapesJson(path);
    if (e == "csv" || e == "tsv" || e == "txt") return readShapesTable(path);
    return IoResult<std::vector<Shape>>::failure(
        path + ": unsupported format" + (e.empty() ? std::string(" (the name has no ending)") : " \"." + e + "\"") +
        "; pulse shapes are read from .json or from a table (.csv, .tsv, .txt)");
}

IoResult<std::vector<Shape>> readShapesTable(const std::string& path) {
    using Result = IoResult<std::vector<Shape>>;
    try {
        std::string error;
        LineReader reader;
        std::string_view line;
        int64_t number = 0;
        error = reader.openAtFirstLine(path, line, number, "no pulse shapes (the file is empty)");
        if (!error.empty()) return Result::failure(error);
        const char separator = chooseSeparator(line);
        std::vector<Shape> shapes;
        bool numeric = true;
        for (const std::string_view f : splitFields(line, separator)) {
            double v = 0;
            numeric = numeric && parseNumber(f, v);
            shapes.push_back({unquote(f), {}});
        }
        if (numeric)
            return Result::failure(at(path, number) + "the first line must name the shapes, one name per column");
        // Names go into JSON, pictures and Python strings, which take only UTF-8.
        for (size_t c = 0; c < shapes.size(); ++c)
            if (const long bad = invalidUtf8Offset(shapes[c].name); bad >= 0)
                return Result::failure(at(path, number) + "the name of column " + std::to_string(c + 1) +
                                       " is not valid UTF-8 (byte " + std::to_string(bad + 1) +
                                       "); write the names in UTF-8");
        std::vector<bool> ended(shapes.size(), false);
        while (reader.next(line, number, error)) {
            const std::vector<std::string_view> fields = splitFields(line, separator);
            if (fields.size() > shapes.size())
                return Result::failure(at(path, number) + std::to_string(fields.size()) + " values but " +
                                       std::to_string(shapes.size()) + " shape names");
            for (size_t c = 0; c < shapes.size(); ++c) {
                const std::string_view f = c < fields.size() ? fields[c] : std::string_view();
                if (f.empty()) {
                    ended[c] = true;
                    continue;
                }
                if (ended[c])
                    return Result::failure(at(path, number) + shapeName(shapes[c]) +
                                           " goes on after an empty field");
                double v = 0;
                if (!parseNumber(f, v))
                    return Result::failure(at(path, number) + "malformed number " + quoteForMessage(f) + " in " +
                                           shapeName(shapes[c]));
                if (!std::isfinite(v))
                    return Result::failure(at(path, number) + "not a finite number " + quoteForMessage(f) + " in " +
                                           shapeName(shapes[c]));
                shapes[c].samples.push_back(v);
            }
        }
        if (!error.empty()) return Result::failure(error);
        return groupChannels(path, std::move(shapes));
    } catch (const std::bad_alloc&) {
        return Result::failure(path + ": not enough memory for the pulse shapes");
    } catch (const std::exception& e) {
        return Result::failure(path + ": " + withValidUtf8(e.what()));
    }
}

IoResult<std::vector<Shape>> readShapesJson(const std::string& path) {
    using Result = IoResult<std::vector<Shape>>;
    using nlohmann::json;
    std::ifstream in(path, std::ios::binary);
    if (!in) return Result::failure("cannot open " + path + ": " + std::strerror(errno));
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return Result::failure("cannot read " + path + ": " + std::strerror(errno));
    const std::string text = content.str();
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& e) {
        // Line and column of the byte where parsing stopped.
        const size_t byte = std::min<size_t>(e.byte == 0 ? 0 : e.byte - 1, text.size());
        const int64_t line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(byte), '\n');
        const size_t lineStart = text.rfind('\n', byte == 0 ? 0 : byte - 1);
        const size_t column = byte - (lineStart == std::string::npos || byte == 0 ? 0 : lineStart + 1) + 1;
        std::string what = withValidUtf8(e.what());  // the parser quotes the bytes it read last
        if (const auto colon = what.find("syntax error"); colon != std::string::npos) what = what.substr(colon);
        return Result::failure(at(path, line) + "not valid JSON (column " + std::to_string(column) + ": " + what + ")");
    } catch (const std::exception& e) {
        return Result::failure(path + ": not valid JSON (" + withValidUtf8(e.what()) + ")");
    }
    const std::string expected = ": expected {\"etalons\": [{\"name\": \"...\", \"samples\": [...]}, ...]}";
    if (!document.is_object() || !document.contains("etalons") || !document["etalons"].is_array())
        return Result::failure(path + expected);
    try {
        std::vector<Shape> shapes;
        size_t index = 0;
        for (const json& entry : document["etalons"]) {
            ++index;
            const std::string which = path + ": etalon " + std::to_string(index);
            if (!entry.is_object()) return Result::failure(which + " is not an object" + expected.substr(1));
            // The workbench's own alphabet (`alphabet --json`) numbers its etalons instead.
            Shape shape;
            if (entry.contains("name") && entry["name"].is_string())
                shape.name = entry["name"].get<std::string>();
            else if (!entry.contains("name") && entry.contains("number") && entry["number"].is_number_integer())
                shape.name = std::to_string(entry["number"].get<int64_t>());
            else
                return Result::failure(which + " has no \"name\" string");
            const std::string named = path + ": " + shapeName(shape);
            // One channel's samples, or every channel's one after the other.
            std::vector<const json*> runs;
            if (entry.contains("channels")) {
                const json& channels = entry["channels"];
                if (!channels.is_array() || channels.empty() ||
                    !std::all_of(channels.begin(), channels.end(), [](const json& c) { return c.is_array(); }))
                    return Result::failure(named + ": \"channels\" must be an array of sample arrays");
                if (entry.contains("samples"))
                    return Result::failure(named + " has both \"samples\" and \"channels\"; give one");
                for (const json& c : channels) runs.push_back(&c);
            } else {
                if (!entry.contains("samples") || !entry["samples"].is_array())
                    return Result::failure(named + " has no \"samples\" array");
                runs.push_back(&entry["samples"]);
            }
            for (size_t ch = 0; ch < runs.size(); ++ch) {
                const std::string where = runs.size() > 1 ? " of channel " + std::to_string(ch + 1) : "";
                if (runs[ch]->size() != runs[0]->size())
                    return Result::failure(named + ": channel " + std::to_string(ch + 1) + " has " +
                                           std::to_string(runs[ch]->size()) + " samples, channel 1 " +
                                           std::to_string(runs[0]->size()));
                size_t k = 0;
                for (const json& v : *runs[ch]) {
                    if (!v.is_number())
                        return Result::failure(named + ": sample " + std::to_string(k) + where + " is not a number (" +
                                               quoteForMessage(v.dump(-1, ' ', false, json::error_handler_t::replace)) +
                                               ")");
                    const double value = v.get<double>();
                    if (!std::isfinite(value))
                        return Result::failure(named + ": sample " + std::to_string(k) + where + " is not a finite number");
                    shape.samples.push_back(value);
                    ++k;
                }
            }
            shape.channels = static_cast<int>(runs.size());
            shapes.push_back(std::move(shape));
        }
        return Result::success(std::move(shapes));
    } catch (const std::bad_alloc&) {
        return Result::failure(path + ": not enough memory for the pulse shapes");
    } catch (const std::exception& e) {
        return Result::failure(path + ": " + withValidUtf8(e.what()));
    }
}

void printShapesJson(std::FILE* f, const std::vector<Shape>& shapes) {
    std::fputs("{\"etalons\": [", f);
    for (size_t i = 0; i < shapes.size(); ++i) {
        const Shape& shape = shapes[i];
        const std::string name = nlohmann::json(shape.name).dump();
        const auto n = static_cast<size_t>(shape.length());
        std::fprintf(f, "%s\n  {\"name\": %s, \"%s\": [", i ? "," : "", name.c_str(),
                     shape.channels > 1 ? "channels" : "samples");
        for (int ch = 0; ch < shape.channels; ++ch) {
            if (shape.channels > 1) std::fputs(ch ? ", [" : "[", f);
            for (size_t k = 0; k < n; ++k)
                std::fprintf(f, "%s%s", k ? ", " : "", shortestNumber(shape.samples[ch * n + k]).c_str());
            if (shape.channels > 1) std::fputs("]", f);
        }
        std::fputs("]}", f);
    }
    std::fputs("\n]}\n", f);
}

IoStatus writeShapesJson(const std::string& path, const std::vector<Shape>& shapes) {
    return writeTextFileAtomically(path, [&](std::FILE* f) { printShapesJson(f, shapes); });
}

IoResult<TemplateSpec> parseTemplateSpec(const std::string& text, double rate, int index) {
    using Result = IoResult<TemplateSpec>;
    const std::string what = "template " + quoteForMessage(text);
    const auto first = text.find(':');
    if (first == std::string::npos)
        return Result::failure(what + ": expected START:LENGTH[:NAME] (samples, or seconds with an s)");
    const auto second = text.find(':', first + 1);
    TemplateSpec spec;
    spec.text = text;
    const auto start = parseSamplesOrSeconds(text.substr(0, first), rate, what + " start");
    if (!start) return Result::failure(start.error);
    const auto length = parseSamplesOrSeconds(
        text.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1), rate,
        what + " length");
    if (!length) return Result::failure(length.error);
    if (length.value == 0) return Result::failure(what + ": the length must be at least one sample");
    spec.start = start.value;
    spec.length = length.value;
    spec.name = second == std::string::npos ? "t" + std::to_string(index) : text.substr(second + 1);
    if (spec.name.empty()) return Result::failure(what + ": the name after the second colon is empty");
    return Result::success(std::move(spec));
}

IoStatus checkTemplateFits(const TemplateSpec& spec, int64_t samples) {
    const int64_t n = samples;
    if (spec.start >= n || spec.length > n - spec.start)
        return IoStatus::failure("template " + quoteForMessage(spec.text) + " (shape " + quoteForMessage(spec.name) +
                                 ", samples " + std::to_string(spec.start) + " to " +
                                 std::to_string(spec.start + spec.length - 1) + ") reaches beyond the signal's " +
                                 std::to_string(n) + " samples");
    if (spec.length > maxShapeLength)
        return IoStatus::failure("template " + quoteForMessage(spec.text) + " (shape " + quoteForMessage(spec.name) +
                                 ") is " + std::to_string(spec.length) + " samples long; a shape holds at most " +
                                 std::to_string(maxShapeLength));
    return {};
}

IoResult<std::vector<Shape>> cutTemplates(std::span<const float> samples, const std::vector<TemplateSpec>& specs,
                                          int channels) {
    using Result = IoResult<std::vector<Shape>>;
    std::vector<Shape> shapes;
    for (const TemplateSpec& spec : specs) {
        const int64_t n = static_cast<int64_t>(samples.size()) / channels;
        if (IoStatus fits = checkTemplateFits(spec, n); !fits) return Result::failure(fits.error);
        Shape shape{spec.name, {}, channels};
        for (int ch = 0; ch < channels; ++ch) {
            const auto from = samples.begin() + ch * n + spec.start;
            shape.samples.insert(shape.samples.end(), from, from + spec.length);
        }
        shapes.push_back(std::move(shape));
    }
    return Result::success(std::move(shapes));
}

IoStatus checkShapes(const std::vector<Shape>& shapes) {
    if (shapes.empty()) return IoStatus::failure("no pulse shapes given");
    if (shapes.size() > static_cast<size_t>(maxShapeCount))
        return IoStatus::failure(std::to_string(shapes.size()) + " pulse shapes given; an alphabet holds at most " +
                                 std::to_string(maxShapeCount) + " (" + shapeName(shapes[maxShapeCount]) +
                                 " is one too many)");
    std::set<std::string> names;
    for (const Shape& s : shapes) {
        if (s.name.empty()) return IoStatus::failure("a pulse shape has an empty name");
        // Names go into JSON and pictures, which take only UTF-8.
        if (const long bad = invalidUtf8Offset(s.name); bad >= 0)
            return IoStatus::failure("the name of shape " + std::to_string(&s - shapes.data() + 1) +
                                     " is not valid UTF-8 (byte " + std::to_string(bad + 1) +
                                     "); write the names in UTF-8");
        if (s.name.find(',') != std::string::npos)
            return IoStatus::failure(shapeName(s) + ": a name must not contain a comma");
        if (!names.insert(s.name).second) return IoStatus::failure(shapeName(s) + " is named twice");
        if (s.channels < 1 || s.channels > maxSignalChannels || s.samples.size() % static_cast<size_t>(s.channels) != 0)
            return IoStatus::failure(shapeName(s) + " does not hold 1 to " + std::to_string(maxSignalChannels) +
                                     " channels of one length");
        if (s.channels != shapes[0].channels)
            return IoStatus::failure(shapeName(s) + " has " + std::to_string(s.channels) + " channels, " +
                                     shapeName(shapes[0]) + " " + std::to_string(shapes[0].channels) +
                                     "; every shape needs the same channels");
        if (s.length() < minShapeLength)
            return IoStatus::failure(shapeName(s) + " has " + std::to_string(s.length()) +
                                     " samples; a shape needs at least " + std::to_string(minShapeLength));
        if (s.length() > maxShapeLength)
            return IoStatus::failure(shapeName(s) + " has " + std::to_string(s.length()) +
                                     " samples; a shape holds at most " + std::to_string(maxShapeLength));
        if (!std::all_of(s.samples.begin(), s.samples.end(), [](double v) { return std::isfinite(v); }))
            return IoStatus::failure(shapeName(s) + " holds a sample that is not a finite number");
        if (std::all_of(s.samples.begin(), s.samples.end(), [](double v) { return v == 0; }))
            return IoStatus::failure(shapeName(s) + " is zero throughout; a shape needs energy");
    }
    return {};
}

IoStatus checkShapesFitTmax(const std::vector<Shape>& shapes, int64_t tmax) {
    if (shapes.empty()) return IoStatus::failure("no pulse shapes given");
    for (const Shape& shape : shapes) {
        const int64_t L = shape.length();
        if (L > tmax)
            return IoStatus::failure(shapeName(shape) + " is " + std::to_string(L) + " samples long, more than Tmax " +
                                     std::to_string(tmax) + ": a shape must not be longer than the greatest distance");
    }
    return {};
}
