#include "recording/recording_window.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTableWidget>
#include <QTest>
#include <QTimer>
#include <QToolTip>
#include <QWheelEvent>

#include <gmock/gmock.h>
#include <nlohmann/json.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <fstream>
#include <functional>
#include <mutex>
#include <random>
#include <sstream>

#include "../cli/cli_run.h"
#include "../io/temp_dir.h"
#include "io/file_batch.h"
#include "io/series_files.h"
#include "plot/recording_plot.h"
#include "recording/signal_paint.h"

namespace {

// A series as the workbench writes it: a flat line with two kinds of pulse, a half sine (20
// samples, at 100 + 200 k) and a square (20 samples, at 200 + 200 k).
constexpr int pulseLength = 20;
std::vector<int16_t> twoPulseSeries(int length = 2000) {
    std::vector<int16_t> samples(length, 0);
    for (int start = 100; start + pulseLength <= length; start += 200)
        for (int i = 0; i < pulseLength; ++i)
            samples[start + i] = static_cast<int16_t>(std::lround(100 * std::sin(M_PI * i / (pulseLength - 1))));
    for (int start = 200; start + pulseLength <= length; start += 200)
        for (int i = 0; i < pulseLength; ++i) samples[start + i] = i < 10 ? 80 : -80;
    return samples;
}

std::string writeSeriesCsv(const TempDir& dir, const std::vector<int16_t>& samples, const char* name = "series.csv") {
    FileBatch batch;
    EXPECT_TRUE(writeSamplesCsv(batch, dir.file(name), samples).ok());
    EXPECT_TRUE(batch.commit().ok());
    return dir.file(name);
}

// Runs `act`; the message box it opens is read and closed. Returns the box's text, or an empty
// string (and a failure) when none appeared.
QString messageOf(const std::function<void()>& act) {
    auto text = std::make_shared<QString>();
    auto seen = std::make_shared<bool>(false);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QDialog*>(widget);
                box && box->isVisible() && box->objectName() == "recordingMessage") {
                *text = box->findChild<QLabel*>("message")->text();
                *seen = true;
                box->accept();
            }
    });
    timer.start(5);
    act();
    timer.stop();
    EXPECT_TRUE(*seen) << "no message box appeared";
    return *text;
}

// Runs `act`, answering the input dialog it opens with `answer`.
void answeringInput(const QString& answer, const std::function<void()>& act) {
    QTimer timer;
    bool answered = false;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(widget);
                dialog && dialog->isVisible() && dialog->objectName() == "recordingPrompt") {
                dialog->findChild<QLineEdit*>("answer")->setText(answer);
                dialog->accept();
                answered = true;
            }
    });
    timer.start(5);
    act();
    timer.stop();
    EXPECT_TRUE(answered) << "no input dialog appeared";
}

// Runs `act`, answering the question it asks with the button named `answer` ("yes", "no",
// "cancel"). Returns the question's text.
QString answeringQuestion(const char* answer, const std::function<void()>& act) {
    QTimer timer;
    QString text;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* dialog = qobject_cast<QDialog*>(widget);
                dialog && dialog->isVisible() && dialog->objectName() == "recordingQuestion") {
                text = dialog->findChild<QLabel*>("message")->text();
                dialog->findChild<QPushButton*>(answer)->click();
            }
    });
    timer.start(5);
    act();
    timer.stop();
    EXPECT_FALSE(text.isEmpty()) << "no question was asked";
    return text;
}

void sendMouse(QWidget* widget, QEvent::Type type, Qt::MouseButton button, double x, double y) {
    const QPointF local(x, y);
    const Qt::MouseButtons buttons = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(button);
    QMouseEvent event(type, local, widget->mapToGlobal(local), type == QEvent::MouseMove ? Qt::NoButton : button,
                      buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// The widget x of sample `sample`'s left edge in the signal view.
double xOfSample(const SignalView* view, double sample) {
    return signalAreaOf(view->width(), view->height()).left() + sampleToPixel(view->view(), sample);
}

// Drags with the left button over samples [first, last) of the view.
void dragOver(SignalView* view, double first, double last) {
    const double y = view->height() / 2.0;
    sendMouse(view, QEvent::MouseButtonPress, Qt::LeftButton, xOfSample(view, first) + 0.01, y);
    sendMouse(view, QEvent::MouseMove, Qt::LeftButton, xOfSample(view, (first + last) / 2), y);
    sendMouse(view, QEvent::MouseButtonRelease, Qt::LeftButton, xOfSample(view, last) - 0.01, y);
}

// A stand-in for the exact detection: returns a fixed answer (and records what it was asked),
// or, when `block` is set, reports progress until it is cancelled.
struct FakeDetector : RecordingDetector {
    std::vector<DetectedPulse> answer;
    int64_t distance = 0;
    bool block = false;
    std::mutex mutex;
    std::vector<DetectRequest> requests;
    std::vector<std::vector<int16_t>> shapesSeen;
    std::vector<size_t> signalSizes;
    std::atomic<bool> started{false};

    DetectResult run(const DetectRequest& request, const std::function<void(double)>& progress,
                     const std::atomic<bool>& cancel) override {
        {
            std::lock_guard lock(mutex);
            requests.push_back(request);
            signalSizes.push_back(request.signal.size());
            for (auto shape : request.shapes) shapesSeen.emplace_back(shape.begin(), shape.end());
        }
        started = true;
        DetectResult result;
        if (block) {
            for (int step = 0; !cancel.load(); step = (step + 1) % 1000) {
                progress(step / 1000.0);
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
            result.completed = false;
            return result;
        }
        progress(1.0);
        result.distance = distance;
        result.pulses = answer;
        return result;
    }
};

// A detection that throws, as one that runs out of memory would.
struct ThrowingDetector : RecordingDetector {
    DetectResult run(const DetectRequest&, const std::function<void(double)>&, const std::atomic<bool>&) override {
        throw std::bad_alloc();
    }
};

bool waitUntil(const std::function<bool()>& done, int milliseconds = 10000) {
    for (int waited = 0; waited < milliseconds && !done(); waited += 5) QTest::qWait(5);
    return done();
}

class RecordingWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<RecordingWindow>();
        window->resize(1200, 800);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        view = window->signalView();
    }
    void TearDown() override { window.reset(); }

    template <class W>
    W* child(const char* name) const {
        W* found = window->findChild<W*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    void openSeries(const std::vector<int16_t>& samples = twoPulseSeries()) {
        ASSERT_TRUE(window->openRecording(QString::fromStdString(writeSeriesCsv(dir, samples))));
    }

    // Cuts two shapes with the mouse: the half sine at 100 and the square at 200.
    void cutTwoShapes() {
        dragOver(view, 100, 120);
        answeringInput("sine", [&] { child<QPushButton>("useAsShapeButton")->click(); });
        dragOver(view, 200, 220);
        answeringInput("square", [&] { child<QPushButton>("useAsShapeButton")->click(); });
        ASSERT_EQ(window->document().shapes.size(), 2u);
    }

    void setPanel(const char* tmin, const char* tmax) {
        child<QLineEdit>("tmin")->setText(QString::fromLatin1(tmin));
        child<QLineEdit>("tmax")->setText(QString::fromLatin1(tmax));
    }

    TempDir dir;
    std::unique_ptr<RecordingWindow> window;
    SignalView* view = nullptr;
};

TEST_F(RecordingWindowTest, ShapesCutByDraggingHoldTheDraggedSamples) {
    const std::vector<int16_t> samples = twoPulseSeries();
    openSeries(samples);
    cutTwoShapes();
    const auto& shapes = window->document().shapes;
    EXPECT_EQ(shapes[0].shape.name, "sine");
    EXPECT_EQ(shapes[1].shape.name, "square");
    ASSERT_EQ(shapes[0].shape.samples.size(), 20u);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(shapes[0].shape.samples[i], samples[100 + i]) << i;
        EXPECT_EQ(shapes[1].shape.samples[i], samples[200 + i]) << i;
    }
    auto* list = child<QListWidget>("shapeList");
    ASSERT_EQ(list->count(), 2);
    EXPECT_TRUE(list->item(0)->text().startsWith("sine"));
    EXPECT_EQ(list->item(1)->checkState(), Qt::Checked);
    EXPECT_FALSE(list->item(0)->icon().isNull());
    // Unchecking a shape takes it out of the candidates.
    list->item(1)->setCheckState(Qt::Unchecked);
    EXPECT_FALSE(window->document().shapes[1].candidate);

    // Saved shapes load back as the same list.
    ASSERT_TRUE(window->saveShapes(QString::fromStdString(dir.file("shapes.json"))));
    RecordingWindow other;
    ASSERT_TRUE(other.loadShapes(QString::fromStdString(dir.file("shapes.json"))));
    ASSERT_EQ(other.document().shapes.size(), 2u);
    EXPECT_EQ(other.document().shapes[1].shape.samples, shapes[1].shape.samples);
}

TEST_F(RecordingWindowTest, DetectIsDisabledWithoutADetectionInThisBuild) {
    openSeries();
    auto* detect = child<QPushButton>("detectButton");
    EXPECT_FALSE(detect->isEnabled());
    EXPECT_EQ(detect->toolTip(), "Detection is not available in this build.");
    auto fake = std::make_shared<FakeDetector>();
    window->setDetector(fake);
    EXPECT_TRUE(detect->isEnabled());
}

TEST_F(RecordingWindowTest, DetectRunsOnAWorkerAndFillsTableDrawingAndExports) {
    openSeries();
    cutTwoShapes();
    auto fake = std::make_shared<FakeDetector>();
    fake->distance = 4242;
    for (int k = 0; k < 9; ++k) fake->answer.push_back(DetectedPulse{100 + 200 * k, 0, 0, 19, 100 + k});
    fake->answer.push_back(DetectedPulse{1800, 1, 2, 17, 7});
    std::sort(fake->answer.begin(), fake->answer.end(),
              [](const DetectedPulse& a, const DetectedPulse& b) { return a.position < b.position; });
    window->setDetector(fake);
    setPanel("150", "250");
    child<QComboBox>("task")->setCurrentIndex(1);
    child<QPushButton>("detectButton")->click();
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));
    // The results can be exported as soon as they are in.
    EXPECT_TRUE(window->exportResultsAction()->isEnabled());

    ASSERT_EQ(fake->requests.size(), 1u);
    const DetectRequest& request = fake->requests[0];
    EXPECT_EQ(request.task, DetectTask::joint);
    EXPECT_EQ(request.tmin, 150);
    EXPECT_EQ(request.tmax, 250);
    EXPECT_FALSE(request.count.has_value());
    EXPECT_EQ(request.savedEnergy, 100);
    EXPECT_EQ(request.threads, 0);  // every core
    EXPECT_THAT(request.candidates, ::testing::ElementsAre(0, 1));
    EXPECT_EQ(fake->signalSizes[0], 2000u);
    // Integer samples keep scale 1: the shapes reach the detector as the very samples cut.
    const std::vector<int16_t> samples = twoPulseSeries();
    EXPECT_EQ(fake->shapesSeen[1], std::vector<int16_t>(samples.begin() + 200, samples.begin() + 220));

    auto* table = child<QTableWidget>("resultsTable");
    ASSERT_EQ(table->rowCount(), 10);
    EXPECT_EQ(table->item(9, 0)->text(), "10");
    EXPECT_EQ(table->item(9, 1)->text(), "1800");
    EXPECT_EQ(table->item(9, 2)->text(), "1800");
    EXPECT_EQ(table->item(9, 3)->text(), "square");
    EXPECT_EQ(table->item(9, 4)->text(), "2..17");
    EXPECT_EQ(table->item(9, 5)->text(), "7");
    EXPECT_THAT(child<QLabel>("summaryLabel")->text().toStdString(),
                ::testing::StartsWith("10 pulse(s) found, distance 4242, time taken"));

    // A row click centres the view on its pulse.
    view->zoomBy(8);
    table->setCurrentCell(4, 0);
    const double centre = view->view().first + view->view().samplesPerPixel * view->view().width / 2;
    EXPECT_NEAR(centre, 900 + 10, 1.0);

    // Found pulses are drawn in their shape's colour at their place.
    table->setCurrentCell(9, 0);
    const QImage picture = view->grab().toImage();
    const QColor square = shapeColour(1);
    int squarePixels = 0;
    const int x0 = static_cast<int>(xOfSample(view, 1802)), x1 = static_cast<int>(xOfSample(view, 1818));
    for (int x = x0; x <= x1; ++x)
        for (int y = 0; y < picture.height(); ++y) squarePixels += picture.pixelColor(x, y) == square;
    EXPECT_GT(squarePixels, 10);

    // Exported results are the report in the detect command's forms.
    const std::string json = dir.file("pulses.json"), csv = dir.file("pulses.csv");
    ASSERT_TRUE(window->exportResults(QString::fromStdString(json)));
    ASSERT_TRUE(window->exportResults(QString::fromStdString(csv)));
    std::stringstream jsonText, csvText;
    jsonText << std::ifstream(json).rdbuf();
    csvText << std::ifstream(csv).rdbuf();
    EXPECT_EQ(jsonText.str(), detectReportJson(*window->document().report));
    EXPECT_THAT(jsonText.str(), ::testing::HasSubstr(R"("task":"joint","distance":4242,"pulses":[{"position":100,)"
                                                     R"("time":100.0,"etalon":"sine","cutStart":0,"cutEnd":19,"measure":100})"));
    EXPECT_THAT(csvText.str(), ::testing::StartsWith("position,time,etalon,cutStart,cutEnd,measure\n100,100,sine,0,19,100\n"));
    EXPECT_THAT(csvText.str(), ::testing::EndsWith("1800,1800,square,2,17,7\n"));

    // The picture export writes the view's range with the pulses.
    ASSERT_TRUE(window->exportPicture(QString::fromStdString(dir.file("view.png"))));
    ASSERT_TRUE(window->exportPicture(QString::fromStdString(dir.file("view.svg"))));
    EXPECT_FALSE(QImage(QString::fromStdString(dir.file("view.png"))).isNull());
}

// The window with the engine's detector against the batch tool: a series written by `series
// --csv`, two shapes cut from it with the mouse, Detect, and the table, the summary and the
// exports compared with `detect` on the same file with the same cuts.
TEST_F(RecordingWindowTest, EngineDetectionEqualsTheBatchToolsDetect) {
    const std::string signal = dir.file("series.csv"), truth = dir.file("truth.csv");
    std::string sequence;
    for (int k = 0; k < 40; ++k) sequence += k % 2 ? ",7" : ",3";
    ASSERT_EQ(runCli("series --type 4 --length 3000 --tmin 60 --tmax 150 --noise 20 --sequence " + sequence.substr(1) +
                     " --csv " + signal + " --truth " + truth)
                  .status,
              0);
    // The first two true pulses (etalons 3 and 7) are the stretches to cut.
    std::ifstream truthFile(truth);
    std::string line;
    std::getline(truthFile, line);  // header
    std::vector<int64_t> starts;
    while (starts.size() < 2 && std::getline(truthFile, line)) starts.push_back(std::stoll(line));
    ASSERT_EQ(starts.size(), 2u);

    ASSERT_TRUE(window->openRecording(QString::fromStdString(signal)));
    window->setDetector(std::make_shared<EngineRecordingDetector>());
    const char* names[] = {"three", "seven"};
    for (int k = 0; k < 2; ++k) {
        view->zoomToFit();
        view->zoomBy(16);
        view->centreOn(static_cast<double>(starts[k]) + 10);
        dragOver(view, static_cast<double>(starts[k]), static_cast<double>(starts[k]) + 20);
        answeringInput(names[k], [&] { child<QPushButton>("useAsShapeButton")->click(); });
    }
    const auto& shapes = window->document().shapes;
    ASSERT_EQ(shapes.size(), 2u);
    for (int k = 0; k < 2; ++k) {
        ASSERT_TRUE(shapes[k].cutFrom.has_value());
        EXPECT_EQ(*shapes[k].cutFrom, starts[k]);
        EXPECT_EQ(shapes[k].shape.samples.size(), 20u);
    }

    setPanel("60", "150");
    child<QComboBox>("task")->setCurrentIndex(1);  // joint
    child<QLineEdit>("savedEnergy")->setText("80");
    child<QPushButton>("detectButton")->click();
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }, 60000));
    ASSERT_TRUE(window->document().report.has_value());

    const std::string cli = "detect --signal " + signal + " --template " + std::to_string(starts[0]) + ":20:three" +
                            " --template " + std::to_string(starts[1]) + ":20:seven --tmin 60 --tmax 150" +
                            " --task joint --saved-energy 80";
    const CliRun json = runCli(cli + " --json");
    ASSERT_EQ(json.status, 0) << json.out;
    const auto theirs = nlohmann::json::parse(json.out);
    const auto& pulses = theirs.at("pulses");
    ASSERT_GT(pulses.size(), 10u);

    auto* table = child<QTableWidget>("resultsTable");
    ASSERT_EQ(table->rowCount(), static_cast<int>(pulses.size()));
    for (int row = 0; row < table->rowCount(); ++row) {
        const auto& pulse = pulses[static_cast<size_t>(row)];
        EXPECT_EQ(table->item(row, 0)->text().toInt(), row + 1);
        EXPECT_DOUBLE_EQ(table->item(row, 1)->text().toDouble(), pulse.at("time").get<double>()) << row;
        EXPECT_EQ(table->item(row, 2)->text().toLongLong(), pulse.at("position").get<int64_t>()) << row;
        EXPECT_EQ(table->item(row, 3)->text().toStdString(), pulse.at("etalon").get<std::string>()) << row;
        EXPECT_EQ(table->item(row, 4)->text().toStdString(), std::to_string(pulse.at("cutStart").get<int>()) + ".." +
                                                                 std::to_string(pulse.at("cutEnd").get<int>()))
            << row;
        EXPECT_EQ(table->item(row, 5)->text().toLongLong(), pulse.at("measure").get<int64_t>()) << row;
    }
    EXPECT_THAT(child<QLabel>("summaryLabel")->text().toStdString(),
                ::testing::StartsWith(std::to_string(pulses.size()) + " pulse(s) found, distance " +
                                      std::to_string(theirs.at("distance").get<int64_t>()) + ", time taken"));

    // "Export results..." writes exactly what the batch tool prints and writes.
    const std::string exported = dir.file("window.json"), exportedCsv = dir.file("window.csv"),
                      theirCsv = dir.file("cli.csv");
    ASSERT_TRUE(window->exportResults(QString::fromStdString(exported)));
    ASSERT_TRUE(window->exportResults(QString::fromStdString(exportedCsv)));
    ASSERT_EQ(runCli(cli + " --csv " + theirCsv).status, 0);
    const auto text = [](const std::string& path) {
        std::stringstream content;
        content << std::ifstream(path).rdbuf();
        return content.str();
    };
    EXPECT_EQ(text(exported), json.out);
    EXPECT_EQ(text(exportedCsv), text(theirCsv));
}

TEST_F(RecordingWindowTest, TheEnginesDetectionGivesTheTableAndReportOfDetectJson) {
    openSeries();
    cutTwoShapes();
    window->setDetector(std::make_shared<EngineRecordingDetector>());
    setPanel("90", "130");
    child<QPushButton>("detectButton")->click();
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));
    ASSERT_TRUE(window->document().report.has_value());

    // The batch tool asked the same question of the same file.
    const std::string command = std::string(PULSEBENCH_CLI) + " detect --signal " + dir.file("series.csv") +
                                " --template 100:20:sine --template 200:20:square --tmin 90 --tmax 130 --json 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string cli;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) cli.append(buffer, n);
    ASSERT_EQ(pclose(pipe), 0) << cli;
    EXPECT_EQ(detectReportJson(*window->document().report), cli);

    // Nine sines and nine squares, alternating, each row as the report has it.
    auto* table = child<QTableWidget>("resultsTable");
    ASSERT_EQ(table->rowCount(), 19);
    const auto& pulses = window->document().report->pulses;
    for (int row = 0; row < table->rowCount(); ++row) {
        EXPECT_EQ(table->item(row, 1)->text().toLongLong(), pulses[static_cast<size_t>(row)].position);
        EXPECT_EQ(table->item(row, 3)->text(), row % 2 == 0 ? "sine" : "square");
    }
}

TEST_F(RecordingWindowTest, CancelStopsARunningDetectionAndKeepsTheWindowResponsive) {
    openSeries();
    cutTwoShapes();
    auto fake = std::make_shared<FakeDetector>();
    fake->block = true;
    window->setDetector(fake);
    setPanel("150", "250");
    auto* cancel = child<QPushButton>("cancelButton");
    EXPECT_FALSE(cancel->isEnabled());
    child<QPushButton>("detectButton")->click();
    ASSERT_TRUE(window->detectionRunning());
    EXPECT_TRUE(cancel->isEnabled());
    EXPECT_FALSE(child<QPushButton>("detectButton")->isEnabled());
    EXPECT_FALSE(window->openRecordingAction()->isEnabled());
    // The progress bar moves while the window keeps handling events (zooming here).
    ASSERT_TRUE(waitUntil([&] { return child<QProgressBar>("detectProgress")->value() > 0; }));
    const double spp = view->view().samplesPerPixel;
    QTest::keyClick(view, Qt::Key_Plus);
    EXPECT_LT(view->view().samplesPerPixel, spp);
    cancel->click();
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));
    EXPECT_FALSE(window->document().report.has_value());
    EXPECT_EQ(child<QTableWidget>("resultsTable")->rowCount(), 0);
    EXPECT_TRUE(child<QPushButton>("detectButton")->isEnabled());
    EXPECT_EQ(child<QLabel>("summaryLabel")->text(), "Detection cancelled; no results yet.");
}

TEST_F(RecordingWindowTest, AFailedOrMalformedDetectionIsNamedAndKeepsThePreviousResults) {
    openSeries();
    cutTwoShapes();
    auto fake = std::make_shared<FakeDetector>();
    fake->answer = {DetectedPulse{100, 0, 0, 19, 1}};
    window->setDetector(fake);
    setPanel("150", "250");
    ASSERT_TRUE(window->startDetection());
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));
    ASSERT_EQ(window->document().report->pulses.size(), 1u);

    // Pulses out of order, beyond the signal, cut outside their shape or without a finite gain
    // are refused whole.
    const std::vector<std::vector<DetectedPulse>> malformed = {
        {DetectedPulse{300, 0, 0, 19, 1}, DetectedPulse{100, 1, 0, 19, 1}},
        {DetectedPulse{1990, 0, 0, 19, 1}},
        {DetectedPulse{100, 2, 0, 19, 1}},
        {DetectedPulse{100, 0, 5, 20, 1}},
        {DetectedPulse{100, 0, 0, 19, 1, std::nan("")}},
    };
    for (const auto& answer : malformed) {
        fake->answer = answer;
        const QString message = messageOf([&] {
            ASSERT_TRUE(window->startDetection());
            waitUntil([&] { return !window->detectionRunning(); });
        });
        EXPECT_TRUE(message.contains("does not fit")) << message.toStdString();
        ASSERT_EQ(window->document().report->pulses.size(), 1u);
        EXPECT_EQ(window->document().report->pulses[0].position, 100);
    }
    window->setDetector(std::make_shared<ThrowingDetector>());
    EXPECT_THAT(messageOf([&] {
                    ASSERT_TRUE(window->startDetection());
                    waitUntil([&] { return !window->detectionRunning(); });
                }).toStdString(),
                ::testing::HasSubstr("not enough memory"));
    EXPECT_EQ(child<QTableWidget>("resultsTable")->rowCount(), 1);
}

TEST_F(RecordingWindowTest, ShapesAreRenamedAndRemovedFromTheList) {
    openSeries();
    cutTwoShapes();
    auto* list = child<QListWidget>("shapeList");
    list->setCurrentRow(1);
    QPushButton* rename = nullptr;
    QPushButton* remove = nullptr;
    for (QPushButton* button : window->findChildren<QPushButton*>()) {
        if (button->text() == "Re&name...") rename = button;
        if (button->text() == "Remo&ve") remove = button;
    }
    ASSERT_TRUE(rename && remove);
    answeringInput("pulse b", [&] { rename->click(); });
    EXPECT_EQ(window->document().shapes[1].shape.name, "pulse b");
    EXPECT_TRUE(list->item(1)->text().startsWith("pulse b"));
    // A name another shape has is refused, and the prompt stays open with the name typed.
    QString refusal, kept;
    int prompts = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // The message over the prompt first; the prompt when no message is open.
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* widget : windows)
            if (auto* dialog = qobject_cast<QDialog*>(widget);
                dialog && dialog->isVisible() && dialog->objectName() == "recordingMessage") {
                refusal = dialog->findChild<QLabel*>("message")->text();
                dialog->accept();
                return;
            }
        for (QWidget* widget : windows) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog && dialog->isVisible() && dialog->objectName() == "recordingPrompt") {
                auto* edit = dialog->findChild<QLineEdit*>("answer");
                if (refusal.isEmpty()) {
                    if (prompts++ > 0) return;  // the name was given; its refusal is on its way
                    edit->setText("sine");
                    // Later: the refusal opens a message box in OK's own event loop.
                    QMetaObject::invokeMethod(dialog, &QDialog::accept, Qt::QueuedConnection);
                } else {
                    kept = edit->text();
                    dialog->reject();
                }
            }
        }
    });
    timer.start(5);
    rename->click();
    timer.stop();
    EXPECT_THAT(refusal.toStdString(), ::testing::HasSubstr("already a shape named \"sine\""));
    EXPECT_EQ(kept, "sine");
    EXPECT_EQ(window->document().shapes[1].shape.name, "pulse b");
    list->setCurrentRow(0);
    remove->click();
    ASSERT_EQ(window->document().shapes.size(), 1u);
    EXPECT_EQ(window->document().shapes[0].shape.name, "pulse b");
    EXPECT_EQ(list->count(), 1);
}

TEST_F(RecordingWindowTest, ClosingDuringADetectionStopsTheWorker) {
    openSeries();
    cutTwoShapes();
    auto fake = std::make_shared<FakeDetector>();
    fake->block = true;
    window->setDetector(fake);
    setPanel("150", "250");
    ASSERT_TRUE(window->startDetection());
    ASSERT_TRUE(waitUntil([&] { return fake->started.load(); }));
    window.reset();  // joins the worker after cancelling it
    SUCCEED();
}

TEST_F(RecordingWindowTest, ZoomAndScrollKeepTheSampleRangeConsistent) {
    openSeries(std::vector<int16_t>(100000, 5));
    auto* bar = child<QScrollBar>("signalScrollBar");
    auto check = [&](const char* step) {
        const ViewState v = view->view();
        const SampleSpan span = visibleSamples(v);
        EXPECT_GE(v.first, 0) << step;
        EXPECT_LE(v.first + v.samplesPerPixel * v.width, 100000 + 1e-6) << step;
        EXPECT_LE(span.last, 100000) << step;
        EXPECT_EQ(bar->value(), scrollBarOf(v).value) << step;
        EXPECT_EQ(bar->maximum(), scrollBarOf(v).maximum) << step;
    };
    check("fitted");
    EXPECT_EQ(visibleSamples(view->view()).first, 0);
    EXPECT_EQ(visibleSamples(view->view()).last, 100000);
    EXPECT_EQ(bar->maximum(), 0);

    // The wheel zooms about the pointer: the sample under it stays under it.
    const double x = xOfSample(view, 30000);
    QWheelEvent wheel(QPointF(x, 50), view->mapToGlobal(QPointF(x, 50)), QPoint(), QPoint(0, 360), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(view, &wheel);
    check("wheel");
    EXPECT_NEAR(pixelToSample(view->view(), x - signalAreaOf(view->width(), view->height()).left()), 30000, 1e-6);
    EXPECT_GT(bar->maximum(), 0);

    bar->setValue(bar->maximum());
    check("scroll bar to the end");
    EXPECT_EQ(visibleSamples(view->view()).last, 100000);
    QTest::keyClick(view, Qt::Key_Right);
    check("right at the end");
    bar->setValue(1000);
    check("scroll bar");
    EXPECT_EQ(visibleSamples(view->view()).first, 1000);

    // A right-button drag scrolls by the dragged distance.
    const double before = view->view().first;
    sendMouse(view, QEvent::MouseButtonPress, Qt::RightButton, 400, 50);
    sendMouse(view, QEvent::MouseMove, Qt::RightButton, 300, 50);
    sendMouse(view, QEvent::MouseButtonRelease, Qt::RightButton, 300, 50);
    EXPECT_NEAR(view->view().first, before + 100 * view->view().samplesPerPixel, 1e-6);
    check("drag");

    // A click in the overview strip centres the view there.
    QWidget* overview = child<QWidget>("overviewStrip");
    const double stripWidth = overview->width() - signalAxisLeft - signalMarginRight;
    sendMouse(overview, QEvent::MouseButtonPress, Qt::LeftButton, signalAxisLeft + stripWidth * 0.75, 20);
    sendMouse(overview, QEvent::MouseButtonRelease, Qt::LeftButton, signalAxisLeft + stripWidth * 0.75, 20);
    EXPECT_NEAR(pixelToSample(view->view(), view->view().width / 2.0), 75000, 1);
    check("overview");

    for (int i = 0; i < 40; ++i) QTest::keyClick(view, Qt::Key_Plus);
    check("closest zoom");
    EXPECT_DOUBLE_EQ(view->view().samplesPerPixel, 1 / maxPixelsPerSample);
    for (int i = 0; i < 5; ++i) QTest::keyClick(view, Qt::Key_Minus);
    check("out");
    QTest::keyClick(view, Qt::Key_0);
    check("fit again");
    EXPECT_EQ(visibleSamples(view->view()).last, 100000);
    EXPECT_EQ(bar->maximum(), 0);
}

TEST_F(RecordingWindowTest, RecordingMenuOfTheWorkbenchReachesTheView) {
    QMainWindow workbench;
    RecordingWindow* recording = addRecordingView(workbench);
    QMenu* menu = nullptr;
    for (QAction* action : workbench.menuBar()->actions())
        if (action->text() == "&Recording") menu = action->menu();
    ASSERT_NE(menu, nullptr);
    QStringList texts;
    for (QAction* action : menu->actions())
        if (!action->isSeparator()) texts << action->text();
    EXPECT_EQ(texts, QStringList({"Show recording &view", "&Open recording...", "&Load pulse shapes...",
                                  "Export &results...", "Export &picture..."}));
    // The export entries follow the view: nothing to export before a recording and results.
    QAction* exportResults = nullptr;
    QAction* exportPicture = nullptr;
    for (QAction* action : menu->actions()) {
        if (action->text() == "Export &results...") exportResults = action;
        if (action->text() == "Export &picture...") exportPicture = action;
    }
    ASSERT_TRUE(exportResults && exportPicture);
    EXPECT_FALSE(exportResults->isEnabled());
    EXPECT_FALSE(exportPicture->isEnabled());
    ASSERT_TRUE(recording->openRecording(QString::fromStdString(writeSeriesCsv(dir, twoPulseSeries()))));
    EXPECT_TRUE(exportPicture->isEnabled());
    EXPECT_FALSE(exportResults->isEnabled());
    // ...and export results once the first detection has finished.
    recording->setDetector(std::make_shared<FakeDetector>());
    ASSERT_TRUE(recording->loadShapes(QString::fromStdString(dir.write("one.csv", "a\n1\n2\n3\n2\n1\n0\n"))));
    recording->findChild<QLineEdit*>("tmin")->setText("10");
    recording->findChild<QLineEdit*>("tmax")->setText("20");
    ASSERT_TRUE(recording->startDetection());
    ASSERT_TRUE(waitUntil([&] { return !recording->detectionRunning(); }));
    EXPECT_TRUE(exportResults->isEnabled());
    EXPECT_FALSE(recording->isVisible());
    menu->actions().front()->trigger();
    EXPECT_TRUE(recording->isVisible());
    EXPECT_EQ(recording->parent(), &workbench);
}

// With a baseline window the detection sees the signal less its baseline: the view draws that
// trace with the pulses on it, and on request the raw signal with the pulses lifted onto it.
TEST_F(RecordingWindowTest, FoundPulsesLieOnTheDrawnTraceWithABaselineWindow) {
    std::vector<int16_t> samples = twoPulseSeries();
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(samples[i] + 5000 + 3.5 * i);
    openSeries(samples);
    cutTwoShapes();
    auto fake = std::make_shared<FakeDetector>();
    // Two pulses where their shapes were cut, one 200 samples (700 units of drift) further on.
    fake->answer = {DetectedPulse{100, 0, 0, 19, -5}, DetectedPulse{200, 1, 0, 19, -5}, DetectedPulse{300, 0, 0, 19, -5}};
    window->setDetector(fake);
    setPanel("50", "250");
    child<QCheckBox>("baseline")->setChecked(true);
    child<QLineEdit>("baselineSeconds")->setText("41");
    ASSERT_TRUE(window->startDetection());
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));
    ASSERT_TRUE(window->document().corrected);
    EXPECT_TRUE(window->showRawAction()->isEnabled());

    for (bool raw : {false, true}) {
        window->showRawAction()->setChecked(raw);
        const SignalPicture picture = view->picture();
        ASSERT_EQ(picture.lanes.size(), 1u);
        const SignalLane& lane = picture.lanes[0];
        ASSERT_EQ(lane.samples.size(), samples.size());
        // The trace drawn: the raw samples, or far below them once the drift is removed.
        EXPECT_EQ(lane.samples[150] == samples[150], raw) << raw;
        for (const DetectedPulse& pulse : picture.pulses)
            for (int j = pulse.cutStart; j <= pulse.cutEnd; ++j) {
                const int64_t at = pulse.position + j;
                const double level = lane.lift.level((*picture.shapes)[pulse.shape].samples[j], at);
                // Exactly where a shape was cut; elsewhere within the pulses' disturbance of the median.
                EXPECT_NEAR(level, lane.samples[at], pulse.position < 300 ? 1e-3 : 100) << "raw " << raw << ", " << at;
                EXPECT_TRUE(level >= lane.values.low && level <= lane.values.high) << at;
            }
        ASSERT_TRUE(window->exportPicture(QString::fromStdString(dir.file(raw ? "raw.png" : "detected.png"))));
    }
}

// Shapes listed when another recording opens stay only when the user says so; a result in
// which no pulse fits is named as such.
TEST_F(RecordingWindowTest, ShapesOfAnotherRecordingNeedConsentAndAMisfitIsNamed) {
    openSeries();
    cutTwoShapes();
    auto fake = std::make_shared<FakeDetector>();
    window->setDetector(fake);
    setPanel("150", "250");
    auto* summary = child<QLabel>("summaryLabel");
    for (int64_t measure : {-3, 4}) {
        fake->answer = {DetectedPulse{100, 0, 0, 19, 5}, DetectedPulse{300, 1, 0, 19, measure}};
        ASSERT_TRUE(window->startDetection());
        ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));
        EXPECT_EQ(summary->text().contains("no shape fits"), measure > 0) << summary->text().toStdString();
    }

    const auto* first = window->document().signal.get();
    const QString other = QString::fromStdString(writeSeriesCsv(dir, twoPulseSeries(1000), "other.csv"));
    const QString question = answeringQuestion("cancel", [&] { EXPECT_FALSE(window->openRecording(other)); });
    EXPECT_THAT(question.toStdString(), ::testing::HasSubstr("Keep the 2 listed pulse shape(s) for"));
    EXPECT_EQ(window->document().signal.get(), first);
    EXPECT_TRUE(window->document().report.has_value());
    answeringQuestion("yes", [&] { EXPECT_TRUE(window->openRecording(other)); });
    EXPECT_EQ(window->document().shapes.size(), 2u);
    answeringQuestion("no", [&] { EXPECT_TRUE(window->openRecording(other)); });
    EXPECT_TRUE(window->document().shapes.empty());
    EXPECT_EQ(child<QListWidget>("shapeList")->count(), 0);
    EXPECT_EQ(window->document().length(), 1000);
}

// ---- bad input: a message box naming what is wrong, nothing else changes ----

TEST_F(RecordingWindowTest, UnreadableOrMalformedRecordingIsRefusedAndTheOldOneStays) {
    openSeries();
    cutTwoShapes();
    const auto* before = window->document().signal.get();
    const QString missing = messageOf([&] { window->openRecording(QString::fromStdString(dir.file("missing.csv"))); });
    EXPECT_THAT(missing.toStdString(), ::testing::HasSubstr("missing.csv"));
    EXPECT_TRUE(missing.front().isUpper()) << missing.toStdString();  // a sentence, though the reader's starts lower
    const std::string bad = dir.write("bad.csv", "sample\n1\n2\n1.2.3\n");
    EXPECT_THAT(messageOf([&] { window->openRecording(QString::fromStdString(bad)); }).toStdString(),
                ::testing::HasSubstr("bad.csv:4: malformed number \"1.2.3\""));
    const std::string unsupported = dir.write("signal.xyz", "1\n");
    EXPECT_THAT(messageOf([&] { window->openRecording(QString::fromStdString(unsupported)); }).toStdString(),
                ::testing::HasSubstr("signal.xyz"));
    EXPECT_EQ(window->document().signal.get(), before);
    EXPECT_EQ(window->document().shapes.size(), 2u);
    EXPECT_EQ(window->document().shapes[0].cutFrom, std::optional<int64_t>(100));
}

TEST_F(RecordingWindowTest, ShapesOfTheirOwnLengthsLoadFromAFile) {
    openSeries();
    cutTwoShapes();
    const std::string file = dir.write("shapes.csv", "a,b\n1,1\n2,2\n3,3\n4,4\n5,5\n6,6\n7,\n");
    ASSERT_TRUE(window->loadShapes(QString::fromStdString(file)));
    const auto& shapes = window->document().shapes;
    ASSERT_EQ(shapes.size(), 2u);
    EXPECT_EQ(shapes[0].shape.samples.size(), 7u);
    EXPECT_EQ(shapes[1].shape.samples.size(), 6u);
    auto* list = child<QListWidget>("shapeList");
    ASSERT_EQ(list->count(), 2);
    EXPECT_EQ(list->item(0)->text(), "a  (7 samples)");
    EXPECT_EQ(list->item(1)->text(), "b  (6 samples)");
}

// Shapes of their own lengths by mouse: a drag selects exactly the samples dragged over, beside
// listed shapes of another length too; Tmin and Tmax start from the longest shape's length in the
// unit shown and follow a change of unit.
TEST_F(RecordingWindowTest, ADragKeepsItsOwnLengthAndTheDistancesStartFromTheLongestShape) {
    const std::string path = writeSeriesCsv(dir, twoPulseSeries());
    SignalReadOptions options;
    options.rate = 1000;
    ASSERT_TRUE(window->openRecording(QString::fromStdString(path), options));
    EXPECT_EQ(child<QComboBox>("unit")->currentIndex(), 1);  // seconds
    EXPECT_EQ(child<QLineEdit>("tmin")->text(), "");
    cutTwoShapes();
    EXPECT_EQ(child<QLineEdit>("tmin")->text(), "0.02");
    EXPECT_EQ(child<QLineEdit>("tmax")->text(), "0.2");
    child<QComboBox>("unit")->setCurrentIndex(0);
    EXPECT_EQ(child<QLineEdit>("tmin")->text(), "20");
    EXPECT_EQ(child<QLineEdit>("tmax")->text(), "200");

    for (auto [first, last] : {std::pair{1990.0, 1999.0}, {300.0, 311.0}, {500.0, 531.0}}) {
        dragOver(view, first, last);
        ASSERT_TRUE(window->document().selection.has_value());
        EXPECT_EQ(window->document().selection->first, static_cast<int64_t>(first));
        EXPECT_EQ(window->document().selection->last, static_cast<int64_t>(last));
    }
    setPanel("", "");
    answeringInput("t3", [&] { child<QPushButton>("useAsShapeButton")->click(); });
    const auto& shapes = window->document().shapes;
    ASSERT_EQ(shapes.size(), 3u);
    EXPECT_EQ(shapes[2].cutFrom, std::optional<int64_t>(500));
    EXPECT_EQ(shapes[2].shape.samples.size(), 31u);
    EXPECT_EQ(child<QLineEdit>("tmin")->text(), "31");
    EXPECT_EQ(child<QLineEdit>("tmax")->text(), "310");
}

// The gain range and the pulse cost reach the engine: pulses of one shape at three amplitudes are
// found with their gains, shown in the table; a range whose MIN lies above its MAX is refused.
TEST_F(RecordingWindowTest, AGainRangeFindsPulsesOfOtherAmplitudesWithTheirGains) {
    const double amplitudes[] = {1, 0.5, 1.8};
    std::vector<int16_t> samples(2000, 0);
    for (int k = 0; 100 + 200 * k + pulseLength <= 2000; ++k)
        for (int i = 0; i < pulseLength; ++i)
            samples[100 + 200 * k + i] =
                static_cast<int16_t>(std::lround(100 * amplitudes[k % 3] * std::sin(M_PI * i / (pulseLength - 1))));
    openSeries(samples);
    dragOver(view, 100, 120);
    answeringInput("sine", [&] { child<QPushButton>("useAsShapeButton")->click(); });
    window->setDetector(std::make_shared<EngineRecordingDetector>());
    setPanel("150", "250");
    child<QComboBox>("pulseCost")->setEditText("1000");

    child<QLineEdit>("gain")->setText("2:1");
    EXPECT_THAT(messageOf([&] { child<QPushButton>("detectButton")->click(); }).toStdString(),
                ::testing::HasSubstr("The gain range: MIN must not be above MAX, got 2:1"));
    EXPECT_FALSE(window->detectionRunning());

    child<QLineEdit>("gain")->setText("0.5:2");
    child<QPushButton>("detectButton")->click();
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));
    ASSERT_TRUE(window->document().report.has_value());
    auto* table = child<QTableWidget>("resultsTable");
    ASSERT_EQ(table->horizontalHeaderItem(6)->text(), "Gain");
    ASSERT_EQ(table->rowCount(), 10);
    for (int row = 0; row < table->rowCount(); ++row) {
        EXPECT_EQ(table->item(row, 2)->text().toLongLong(), 100 + 200 * row);
        EXPECT_NEAR(table->item(row, 6)->text().toDouble(), amplitudes[row % 3], 0.02) << row;
    }
    EXPECT_THAT(child<QLabel>("summaryLabel")->text().toStdString(), ::testing::HasSubstr("gain 0.5:2, pulse cost 1000"));
}

// Learning the shapes: from a shape cut from one noisy pulse, five rounds learn one from all
// the pulses (the old shape not saved). It keeps its name and length, lies closer to the pulses'
// true shape, is no longer cut from the signal; the pulses are found with it and the distances
// of the rounds shown fall.
TEST_F(RecordingWindowTest, LearnShapesPutsAShapeLearnedFromAllThePulsesInTheList) {
    std::mt19937 random(3);
    std::normal_distribution<double> noise(0, 10);
    std::vector<double> truth(pulseLength);
    for (int i = 0; i < pulseLength; ++i) truth[i] = 100 * std::sin(M_PI * i / (pulseLength - 1));
    std::vector<int16_t> samples(2000);
    for (int16_t& sample : samples) sample = static_cast<int16_t>(std::lround(noise(random)));
    for (int start = 100; start + pulseLength <= 2000; start += 200)
        for (int i = 0; i < pulseLength; ++i) samples[start + i] += static_cast<int16_t>(std::lround(truth[i]));
    openSeries(samples);
    dragOver(view, 100, 120);
    answeringInput("noisy", [&] { child<QPushButton>("useAsShapeButton")->click(); });
    const Shape cut = window->document().shapes[0].shape;
    window->setDetector(std::make_shared<EngineRecordingDetector>());
    setPanel("150", "250");

    answeringInput("5", [&] { child<QPushButton>("learnButton")->click(); });
    ASSERT_TRUE(window->detectionRunning());
    const QString question = answeringQuestion("no", [&] { waitUntil([&] { return !window->detectionRunning(); }); });
    EXPECT_THAT(question.toStdString(), ::testing::HasSubstr("Save the listed pulse shapes"));

    const ListedShape& learned = window->document().shapes[0];
    EXPECT_EQ(learned.shape.name, "noisy");
    ASSERT_EQ(learned.shape.samples.size(), cut.samples.size());
    auto error = [&](const Shape& shape) {
        double sum = 0;
        for (int i = 0; i < pulseLength; ++i) sum += (shape.samples[i] - truth[i]) * (shape.samples[i] - truth[i]);
        return sum;
    };
    EXPECT_LT(error(learned.shape), error(cut) / 2);
    EXPECT_FALSE(learned.cutFrom.has_value());
    auto* table = child<QTableWidget>("resultsTable");
    ASSERT_EQ(table->rowCount(), 10);
    for (int row = 0; row < table->rowCount(); ++row) EXPECT_EQ(table->item(row, 2)->text().toLongLong(), 100 + 200 * row);
    // "Learned in R rounds: distance D0 → D1 → ... (round K kept)"
    const QString summary = child<QLabel>("summaryLabel")->text();
    const QRegularExpressionMatch shown =
        QRegularExpression(QStringLiteral("Learned in \\d+ rounds?: distance (.*) \\(round (\\d+) kept")).match(summary);
    ASSERT_TRUE(shown.hasMatch()) << summary.toStdString();
    const QStringList distances = shown.captured(1).split(QStringLiteral(" → "));
    const int kept = shown.captured(2).toInt();
    ASSERT_GE(kept, 1);
    ASSERT_LT(kept, distances.size());
    EXPECT_LT(distances[kept].toDouble(), distances[0].toDouble()) << summary.toStdString();
}

// "Confidence": clear pulses in mild noise are found each with a confidence near 1, the summary
// states the expected count, the posterior lane is drawn and a pulse's tool tip names its
// confidences. A detection without it leaves the columns empty and drops the lane.
TEST_F(RecordingWindowTest, ConfidenceFillsItsColumnsTheLaneAndTheSummary) {
    std::mt19937 random(5);
    std::normal_distribution<double> noise(0, 10);
    std::vector<int16_t> samples(2000);
    for (int16_t& sample : samples) sample = static_cast<int16_t>(std::lround(noise(random)));
    for (int start = 100; start + pulseLength <= 2000; start += 200)
        for (int i = 0; i < pulseLength; ++i)
            samples[start + i] += static_cast<int16_t>(std::lround(100 * std::sin(M_PI * i / (pulseLength - 1))));
    openSeries(samples);
    dragOver(view, 100, 120);
    answeringInput("sine", [&] { child<QPushButton>("useAsShapeButton")->click(); });
    window->setDetector(std::make_shared<EngineRecordingDetector>());
    setPanel("150", "250");
    child<QCheckBox>("confidence")->setChecked(true);
    child<QPushButton>("detectButton")->click();
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));

    auto* table = child<QTableWidget>("resultsTable");
    ASSERT_EQ(table->horizontalHeaderItem(7)->text(), "Confidence");
    ASSERT_EQ(table->horizontalHeaderItem(8)->text(), "Kind conf.");
    ASSERT_EQ(table->rowCount(), 10);
    for (int row = 0; row < table->rowCount(); ++row) {
        EXPECT_NEAR(table->item(row, 2)->text().toLongLong(), 100 + 200 * row, 1);
        const double confidence = table->item(row, 7)->text().toDouble();
        EXPECT_GE(confidence, 0.9) << row;
        EXPECT_LE(confidence, 1.0) << row;
        EXPECT_NEAR(table->item(row, 8)->text().toDouble(), 1.0, 1e-9) << row;  // one shape
    }
    EXPECT_THAT(child<QLabel>("summaryLabel")->text().toStdString(),
                ::testing::ContainsRegex("expected count (9\\.[5-9]|10\\.[0-4])[0-9]* ± [0-9.]+, noise level"));
    ASSERT_NE(window->document().posterior, nullptr);
    EXPECT_EQ(window->document().posterior->size(), 2000u - pulseLength + 1);

    // The posterior lane takes room under the signal: each pulse's start is drawn in its colour.
    QImage image(view->size(), QImage::Format_RGB32);
    {
        QPainter painter(&image);
        paintSignalPicture(painter, image.rect(), view->picture());
    }
    const QRect lane = posteriorLaneOf(view->width(), view->height());
    int columns = 0;
    for (int x = lane.left(); x <= lane.right(); ++x)
        for (int y = lane.top(); y <= lane.bottom(); ++y)
            if ((image.pixel(x, y) & 0xFFFFFF) == plotPosteriorColour) {
                ++columns;
                break;
            }
    EXPECT_GE(columns, 10);

    const QPoint at(static_cast<int>(xOfSample(view, 310)), view->height() / 2);
    QHelpEvent help(QEvent::ToolTip, at, view->mapToGlobal(at));
    QApplication::sendEvent(view, &help);
    EXPECT_THAT(QToolTip::text().toStdString(), ::testing::MatchesRegex("sine at sample 300 .*\n.*\nConfidence (0\\.9|1\\.0).*"));
    QToolTip::hideText();

    child<QCheckBox>("confidence")->setChecked(false);
    child<QPushButton>("detectButton")->click();
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }));
    ASSERT_EQ(table->rowCount(), 10);
    EXPECT_TRUE(table->item(0, 7)->text().isEmpty());
    EXPECT_EQ(window->document().posterior, nullptr);
    EXPECT_THAT(child<QLabel>("summaryLabel")->text().toStdString(), ::testing::Not(::testing::HasSubstr("expected")));
}

TEST_F(RecordingWindowTest, AStretchShorterThanSixSamplesIsRefused) {
    openSeries();
    view->zoomBy(20);
    view->centreOn(100);
    dragOver(view, 100, 105);
    ASSERT_TRUE(window->document().selection.has_value());
    EXPECT_EQ(window->document().selection->last - window->document().selection->first, 5);
    EXPECT_THAT(messageOf([&] { child<QPushButton>("useAsShapeButton")->click(); }).toStdString(),
                ::testing::HasSubstr("holds 5 samples; a pulse shape needs at least 6"));
    EXPECT_TRUE(window->document().shapes.empty());
    EXPECT_EQ(child<QListWidget>("shapeList")->count(), 0);
}

TEST_F(RecordingWindowTest, TminAboveTmaxAndOtherBadFieldsAreRefusedBeforeAnyRun) {
    openSeries();
    cutTwoShapes();
    auto fake = std::make_shared<FakeDetector>();
    window->setDetector(fake);
    setPanel("300", "250");
    EXPECT_THAT(messageOf([&] { child<QPushButton>("detectButton")->click(); }).toStdString(),
                ::testing::HasSubstr("Tmin (300 samples) is greater than Tmax (250 samples)"));
    setPanel("150", "250");
    child<QComboBox>("task")->setCurrentIndex(0);  // detection of one shape, two checked
    EXPECT_THAT(messageOf([&] { child<QPushButton>("detectButton")->click(); }).toStdString(),
                ::testing::HasSubstr("exactly one candidate"));
    child<QComboBox>("task")->setCurrentIndex(1);
    child<QLineEdit>("savedEnergy")->setText("-1");
    EXPECT_THAT(messageOf([&] { child<QPushButton>("detectButton")->click(); }).toStdString(),
                ::testing::HasSubstr("saved energy"));
    EXPECT_FALSE(window->detectionRunning());
    EXPECT_TRUE(fake->requests.empty());
    EXPECT_FALSE(window->document().report.has_value());
}

TEST_F(RecordingWindowTest, ExportsWithoutResultsOrWithAnUnknownEndingAreRefused) {
    openSeries();
    EXPECT_THAT(messageOf([&] { window->exportResults(QString::fromStdString(dir.file("r.json"))); }).toStdString(),
                ::testing::HasSubstr("run Detect first"));
    EXPECT_THAT(messageOf([&] { window->exportPicture(QString::fromStdString(dir.file("p.bmp"))); }).toStdString(),
                ::testing::HasSubstr("p.bmp"));
    EXPECT_THAT(dir.entries(), ::testing::ElementsAre("series.csv"));
}

std::vector<int> columnsWithColour(const QImage& image, const QColor& colour);

// A recording of three columns opens as three lanes over one time axis; a drag cuts a shape of
// every channel; the detection finds the pulses, drawn in every lane, with the weights typed in
// the panel; a bad weight is refused before any run, the results staying as they were.
TEST_F(RecordingWindowTest, ARecordingOfThreeChannelsIsDrawnCutAndSearchedInLanes) {
    const std::vector<int16_t> base = twoPulseSeries();
    const std::string path = dir.file("three.csv");
    {
        std::ofstream out(path);
        out << "a,b,c\n";
        for (size_t i = 0; i < base.size(); ++i) out << base[i] << "," << -2 * base[i] << "," << base[i] / 2 << "\n";
    }
    ASSERT_TRUE(window->openRecording(QString::fromStdString(path)));
    EXPECT_FALSE(child<QLineEdit>("channelWeights")->isHidden());
    const SignalPicture picture = view->picture();
    ASSERT_EQ(picture.lanes.size(), 3u);
    EXPECT_EQ(picture.lanes[1].name, "b");
    EXPECT_EQ(picture.lanes[1].samples[105], -2 * base[105]);
    const std::vector<QRect> lanes = signalLanesOf(signalAreaOf(view->width(), view->height()), 3);
    ASSERT_EQ(lanes.size(), 3u);
    for (const QRect& lane : lanes) EXPECT_GE(lane.height(), signalLaneMinimum);

    cutTwoShapes();
    const Shape& sine = window->document().shapes[0].shape;
    ASSERT_EQ(sine.channels, 3);
    ASSERT_EQ(sine.length(), pulseLength);
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < pulseLength; ++i)
            EXPECT_EQ(sine.samples[c * pulseLength + i], picture.lanes[c].samples[100 + i]) << c << " " << i;

    window->setDetector(std::make_shared<EngineRecordingDetector>());
    setPanel("50", "250");
    child<QLineEdit>("channelWeights")->setText("1,2,0.5");
    ASSERT_TRUE(window->startDetection());
    ASSERT_TRUE(waitUntil([&] { return !window->detectionRunning(); }, 60000));
    ASSERT_TRUE(window->document().report.has_value());
    const DetectReport& report = *window->document().report;
    EXPECT_EQ(report.channelWeights, (std::vector<double>{1, 2, 0.5}));
    EXPECT_EQ(report.pulses.size(), 19u);
    EXPECT_EQ(child<QTableWidget>("resultsTable")->rowCount(), static_cast<int>(report.pulses.size()));
    // Every lane draws the pulses in their shapes' colours.
    const QImage image = view->grab().toImage();
    for (const QRect& lane : lanes)
        for (int shape = 0; shape < 2; ++shape)
            EXPECT_FALSE(columnsWithColour(image.copy(lane), shapeColour(shape)).empty()) << lane.top() << " " << shape;
    ASSERT_TRUE(window->exportPicture(QString::fromStdString(dir.file("three.svg"))));

    child<QLineEdit>("channelWeights")->setText("1,2");
    EXPECT_EQ(messageOf([&] { EXPECT_FALSE(window->startDetection()); }),
              "The channel weights: 2 weights for 3 channels; give one per channel.");
    EXPECT_FALSE(window->detectionRunning());
    EXPECT_EQ(window->document().report->channelWeights, (std::vector<double>{1, 2, 0.5}));

    // One channel: the field is hidden and its text dropped.
    answeringQuestion("no", [&] { openSeries(); });
    EXPECT_TRUE(child<QLineEdit>("channelWeights")->isHidden());
    EXPECT_EQ(view->picture().lanes.size(), 1u);
}

}  // namespace

namespace {

// The columns of `image` (inside the signal area) holding a pixel of `colour`.
std::vector<int> columnsWithColour(const QImage& image, const QColor& colour) {
    std::vector<int> columns;
    for (int x = 0; x < image.width(); ++x)
        for (int y = 0; y < image.height(); ++y)
            if (image.pixelColor(x, y) == colour) {
                columns.push_back(x);
                break;
            }
    return columns;
}

TEST(SignalPicture, PulsesAreDrawnInTheirShapesColoursAtEveryZoom) {
    const std::vector<float> samples(100000, 0.0f);
    const SignalSummary summary(samples);
    const std::vector<Shape> shapes = {Shape{"up", std::vector<double>(20, 50)}, Shape{"down", std::vector<double>(20, -50)}};
    std::vector<DetectedPulse> pulses;
    // Each pulse is drawn as its gain times its shape: the "down" pulses, taken with gain -1, lie
    // above the silent trace as the "up" ones do.
    for (int64_t at = 500; at < 100000; at += 1000) {
        const auto shape = static_cast<int32_t>(at / 1000 % 2);
        pulses.push_back(DetectedPulse{at, shape, 0, 19, 0, shape == 1 ? -1.0 : 1.0});
    }
    SignalPicture picture;
    picture.lanes.push_back(SignalLane{samples, &summary, paddedValues({-60, 60}), {}, {}});
    picture.shapes = &shapes;
    picture.pulses = pulses;
    const QRect widget(0, 0, 1064, 300);
    const int width = signalAreaOf(widget.width(), widget.height()).width();
    ASSERT_EQ(width, 988);

    // The whole signal: every pulse narrower than a column, each drawn in its own colour where it lies.
    picture.view = fittedView(100000, width);
    QImage image(widget.size(), QImage::Format_RGB32);
    {
        QPainter painter(&image);
        paintSignalPicture(painter, widget, picture);
    }
    const int middle = signalAreaOf(widget.width(), widget.height()).center().y();
    const auto allAbove = [&](const QImage& drawn, const QColor& colour) {
        for (int x = 0; x < drawn.width(); ++x)
            for (int y = middle; y < drawn.height(); ++y)
                if (drawn.pixelColor(x, y) == colour) return false;
        return true;
    };
    EXPECT_TRUE(allAbove(image, shapeColour(1)));
    const std::vector<int> up = columnsWithColour(image, shapeColour(0)), down = columnsWithColour(image, shapeColour(1));
    EXPECT_GE(up.size(), 50u);
    EXPECT_LE(up.size(), 150u);
    EXPECT_GE(down.size(), 50u);
    const int area = signalAreaOf(widget.width(), widget.height()).left();
    EXPECT_NEAR(up.front(), area + sampleToPixel(picture.view, 500), 2);
    EXPECT_NEAR(down.front(), area + sampleToPixel(picture.view, 1500), 2);

    // Zoomed in on two pulses: each as its line of kept samples.
    picture.view = zoomedView(picture.view, 50, 0);
    picture.view = viewAtScrollValue(picture.view, 400);
    picture.pulses = std::span<const DetectedPulse>(pulses).subspan(0, 2);
    pulses[0].cutStart = 5;  // cut: the first five samples were not kept
    {
        QPainter painter(&image);
        paintSignalPicture(painter, widget, picture);
    }
    EXPECT_FALSE(columnsWithColour(image, shapeColour(1)).empty());
    EXPECT_TRUE(allAbove(image, shapeColour(1)));
    const std::vector<int> kept = columnsWithColour(image, shapeColour(0));
    ASSERT_FALSE(kept.empty());
    EXPECT_NEAR(kept.front(), area + sampleToPixel(picture.view, 505), 2);
    EXPECT_NEAR(kept.back(), area + sampleToPixel(picture.view, 519), 2);
}

}  // namespace
