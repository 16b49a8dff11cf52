#include "io/shapes.h"
#include "model/text_format.h"

#include <gtest/gtest.h>

#include "tests/io/temp_dir.h"

namespace {
using ::testing::HasSubstr;

Shape shape(const std::string& name, size_t length, double level = 1) {
    Shape s{name, {}};
    for (size_t k = 0; k < length; ++k) s.samples.push_back(level * static_cast<double>(k + 1));
    return s;
}

std::string readError(const std::string& path) {
    const auto r = readShapes(path);
    EXPECT_FALSE(r.ok()) << path;
    return r.error;
}
}  // namespace

TEST(ShapeTable, OneShapePerColumnNamedByTheHeader) {
    TempDir dir;
    const auto path = dir.write("s.csv", "# my shapes\nbeat,\"echo\",spike\n1,-1,0.5\n2,-2,1.5\n3,-3,\n4,-4\n5,-5,\n6,-6\n");
    const auto r = readShapes(path);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.size(), 3u);
    EXPECT_EQ(r.value[0].name, "beat");
    EXPECT_EQ(r.value[1].name, "echo");
    EXPECT_EQ(r.value[0].samples, (std::vector<double>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(r.value[1].samples, (std::vector<double>{-1, -2, -3, -4, -5, -6}));
    EXPECT_EQ(r.value[2].samples, (std::vector<double>{0.5, 1.5}));
    // Shapes of several lengths read; one too short for a shape is named.
    EXPECT_EQ(checkShapes(r.value).error, "shape \"spike\" has 2 samples; a shape needs at least 6");
}

TEST(ShapeTable, BadTablesAreRefusedNamingLineAndShape) {
    TempDir dir;
    const auto noHeader = dir.write("n.csv", "1,2\n3,4\n");
    EXPECT_EQ(readError(noHeader), noHeader + ":1: the first line must name the shapes, one name per column");
    const auto gap = dir.write("g.csv", "a,b\n1,2\n,3\n4,5\n");
    EXPECT_EQ(readError(gap), gap + ":4: shape \"a\" goes on after an empty field");
    const auto bad = dir.write("b.tsv", "a\tb\n1\t2\n3\tx7\n");
    EXPECT_EQ(readError(bad), bad + ":3: malformed number \"x7\" in shape \"b\"");
    const auto nan = dir.write("nan.csv", "a,b\n1,nan\n");
    EXPECT_EQ(readError(nan), nan + ":2: not a finite number \"nan\" in shape \"b\"");
    const auto wide = dir.write("w.csv", "a,b\n1,2,3\n");
    EXPECT_EQ(readError(wide), wide + ":2: 3 values but 2 shape names");
    const auto missing = dir.file("none.csv");
    EXPECT_EQ(readError(missing), "cannot open " + missing + ": No such file or directory");
    EXPECT_THAT(readError(dir.write("s.xml", "<a/>")), HasSubstr("unsupported format \".xml\""));
    EXPECT_THAT(readError(dir.write("e.csv", "")), HasSubstr("no pulse shapes"));
}

TEST(ShapeJson, ReadsWhatItWritesExactly) {
    TempDir dir;
    std::vector<Shape> shapes{shape("a", 8, 0.1), shape("b \"quoted\" é", 8, -1e-7), shape("c", 8, 12345.678)};
    const auto path = dir.file("s.json");
    ASSERT_TRUE(writeShapesJson(path, shapes).ok());
    const auto r = readShapes(path);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.size(), shapes.size());
    for (size_t i = 0; i < shapes.size(); ++i) {
        EXPECT_EQ(r.value[i].name, shapes[i].name);
        EXPECT_EQ(r.value[i].samples, shapes[i].samples);
    }
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"s.json"});  // no temporary left
}

TEST(ShapeJson, BadDocumentsAreRefusedNamingWhere) {
    TempDir dir;
    const auto broken = dir.write("b.json", "{\"etalons\": [\n  {\"name\": \"a\", \"samples\": [1, 2,, 3]}\n]}");
    EXPECT_THAT(readError(broken), HasSubstr(broken + ":2: not valid JSON (column "));
    const auto wrong = dir.write("w.json", "[1, 2]");
    EXPECT_THAT(readError(wrong), HasSubstr(wrong + ": expected {\"etalons\""));
    const auto noName = dir.write("n.json", R"({"etalons": [{"samples": [1]}]})");
    EXPECT_EQ(readError(noName), noName + ": etalon 1 has no \"name\" string");
    const auto numberName = dir.write("m.json", R"({"etalons": [{"name": 7, "samples": [1]}]})");
    EXPECT_EQ(readError(numberName), numberName + ": etalon 1 has no \"name\" string");
    const auto noSamples = dir.write("s.json", R"({"etalons": [{"name": "a", "samples": [1]}, {"name": "b"}]})");
    EXPECT_EQ(readError(noSamples), noSamples + ": shape \"b\" has no \"samples\" array");
    const auto text = dir.write("t.json", R"({"etalons": [{"name": "a", "samples": [1, "2"]}]})");
    EXPECT_EQ(readError(text), text + ": shape \"a\": sample 1 is not a number (\"\"2\"\")");
    const auto huge = dir.write("h.json", R"({"etalons": [{"name": "a", "samples": [1e999]}]})");
    EXPECT_THAT(readError(huge), HasSubstr(huge + ": "));
    // Bytes that are no UTF-8 are named as such and never quoted raw (messages reach Python).
    const auto latin1 = dir.write("l.json", "{\"etalons\": [{\"name\": \"b\xf8\", \"samples\": [1]}]}");
    EXPECT_THAT(readError(latin1), HasSubstr(latin1 + ":1: not valid JSON (column "));
    EXPECT_EQ(invalidUtf8Offset(readError(latin1)), -1) << readError(latin1);
}

TEST(ShapeJson, TheWorkbenchsAlphabetReadsAsShapesNamedByNumber) {
    TempDir dir;
    const auto path = dir.write("alphabet.json", R"({"etalons": [
      {"number": 1, "size": 6, "samples": [60, 60, 60, 60, 60, 60]},
      {"number": 2, "size": 6, "samples": [-60, -60, -60, -60, -60, -60]}]})");
    const auto r = readShapes(path);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.size(), 2u);
    EXPECT_EQ(r.value[1].name, "2");
    EXPECT_EQ(r.value[1].samples, std::vector<double>(6, -60));
    EXPECT_TRUE(checkShapes(r.value).ok());
}

TEST(Templates, CutFromTheRecordingInSamplesOrSeconds) {
    std::vector<float> signal;
    for (int i = 0; i < 100; ++i) signal.push_back(static_cast<float>(i));
    const auto a = parseTemplateSpec("10:6", 10, 1);
    const auto b = parseTemplateSpec("2s:0.7s:beat:long", 10, 2);
    ASSERT_TRUE(a.ok() && b.ok()) << a.error << b.error;
    EXPECT_EQ(a.value.name, "t1");
    EXPECT_EQ(b.value.name, "beat:long");
    EXPECT_EQ(b.value.start, 20);
    EXPECT_EQ(b.value.length, 7);
    const auto cut = cutTemplates(signal, {a.value, b.value});
    ASSERT_TRUE(cut.ok()) << cut.error;
    EXPECT_EQ(cut.value[0].samples, (std::vector<double>{10, 11, 12, 13, 14, 15}));
    EXPECT_EQ(cut.value[1].samples.front(), 20);
    EXPECT_EQ(cut.value[1].samples.size(), 7u);

    const auto beyond = parseTemplateSpec("95:6:end", 1, 3);
    EXPECT_EQ(cutTemplates(signal, {beyond.value}).error,
              "template \"95:6:end\" (shape \"end\", samples 95 to 100) reaches beyond the signal's 100 samples");
    EXPECT_THAT(parseTemplateSpec("10", 1, 1).error, HasSubstr("expected START:LENGTH[:NAME]"));
    EXPECT_THAT(parseTemplateSpec("10:0", 1, 1).error, HasSubstr("at least one sample"));
    EXPECT_THAT(parseTemplateSpec("a:5", 1, 1).error, HasSubstr("template \"a:5\" start: expected whole samples"));
    EXPECT_THAT(parseTemplateSpec("1:5:", 1, 1).error, HasSubstr("the name after the second colon is empty"));
}

TEST(Alphabet, TwoHundredFiftySixShapesOfAnyLengthsPassAndEveryFaultIsNamed) {
    std::vector<Shape> shapes;
    for (int i = 1; i <= 256; ++i) shapes.push_back(shape("s" + std::to_string(i), 6 + i % 3));
    EXPECT_TRUE(checkShapes(shapes).ok()) << checkShapes(shapes).error;
    EXPECT_TRUE(checkShapesFitTmax(shapes, 8).ok());
    EXPECT_EQ(checkShapesFitTmax(shapes, 7).error,
              "shape \"s2\" is 8 samples long, more than Tmax 7: a shape must not be longer than the greatest distance");

    auto many = shapes;
    many.push_back(shape("s257", 6));
    EXPECT_EQ(checkShapes(many).error,
              "257 pulse shapes given; an alphabet holds at most 256 (shape \"s257\" is one too many)");
    EXPECT_EQ(checkShapes({}).error, "no pulse shapes given");
    EXPECT_EQ(checkShapes({shape("short", 5)}).error, "shape \"short\" has 5 samples; a shape needs at least 6");
    EXPECT_EQ(checkShapes({shape("long", 32768)}).error, "shape \"long\" has 32768 samples; a shape holds at most 32767");
    EXPECT_EQ(checkShapes({shape("a", 6), shape("a", 6)}).error, "shape \"a\" is named twice");
    EXPECT_EQ(checkShapes({shape("a,b", 6)}).error, "shape \"a,b\": a name must not contain a comma");
    EXPECT_EQ(checkShapes({shape("", 6)}).error, "a pulse shape has an empty name");
    EXPECT_EQ(checkShapes({shape("a", 6), shape("b\xf8", 6)}).error,
              "the name of shape 2 is not valid UTF-8 (byte 2); write the names in UTF-8");
    EXPECT_EQ(checkShapes({shape("flat", 6, 0)}).error, "shape \"flat\" is zero throughout; a shape needs energy");
}

// Shapes of several channels: a table's SHAPE:CHANNEL columns and JSON's "channels" read as the
// channels one after the other, JSON written and read back exactly, and shapes whose channels do
// not agree refused.
TEST(ShapeChannels, TableAndJsonHoldEveryChannelOrAreRefused) {
    TempDir dir;
    const auto table = dir.write("c.csv", "a:ecg,a:resp,b:ecg,b:resp\n1,10,-1,-10\n2,20,-2,-20\n");
    const auto r = readShapes(table);
    ASSERT_TRUE(r.ok()) << r.error;
    ASSERT_EQ(r.value.size(), 2u);
    EXPECT_EQ(r.value[1].name, "b");
    EXPECT_EQ(r.value[1].channels, 2);
    EXPECT_EQ(r.value[1].samples, (std::vector<double>{-1, -2, -10, -20}));
    // Colons alone, without a shape of several columns, are part of the names.
    const auto plain = readShapes(dir.write("p.csv", "a:1,b:1\n1,2\n"));
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.value[0].name, "a:1");
    EXPECT_EQ(plain.value[0].channels, 1);

    Shape two{"two", {}, 2};
    for (int k = 0; k < 16; ++k) two.samples.push_back(k * 0.5 - 3);
    const auto path = dir.file("c.json");
    ASSERT_TRUE(writeShapesJson(path, {two, Shape{"x", std::vector<double>(16, 1.0), 2}}).ok());
    const auto back = readShapes(path);
    ASSERT_TRUE(back.ok()) << back.error;
    EXPECT_EQ(back.value[0].samples, two.samples);
    EXPECT_EQ(back.value[0].channels, 2);
    EXPECT_EQ(back.value[0].length(), 8);
    EXPECT_TRUE(checkShapes(back.value).ok());

    const std::pair<std::string, std::string> refused[] = {
            {"u.csv|a:1,a:2,b:1\n1,2,3\n", "shape \"b\" has 1 channel columns, shape \"a\" 2"},
            {"l.csv|a:1,a:2\n1,2\n3,\n", "the channels of shape \"a\" differ in length"},
            {"l.json|{\"etalons\": [{\"name\": \"a\", \"channels\": [[1, 2], [3]]}]}", "channel 2 has 1 samples, channel 1 2"},
            {"m.json|{\"etalons\": [{\"name\": \"a\", \"channels\": [1, 2]}]}", "must be an array of sample arrays"},
            {"s.json|{\"etalons\": [{\"name\": \"a\", \"channels\": [[1]], \"samples\": [1]}]}", "both \"samples\" and \"channels\""},
    };
    for (const auto& [file, message] : refused) {
        const size_t bar = file.find('|');
        EXPECT_THAT(readError(dir.write(file.substr(0, bar), file.substr(bar + 1))), HasSubstr(message));
    }
    EXPECT_THAT(checkShapes({two, shape("one", 8)}).error, HasSubstr("shape \"one\" has 1 channels, shape \"two\" 2"));
}
