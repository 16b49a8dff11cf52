// The checks of the series, process and simulation requests: every rule refuses with its one
// text and names the field, and a request that passes runs from the start-up state.

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "core/series_request.h"
#include "core/simulation_request.h"

namespace {

struct Case {
    const char* name;
    std::function<std::optional<Refusal>()> check;
    RequestField field;
    const char* text;  ///< the refusal with the field named "F"; empty: accepted
};

void expectCases(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<Refusal> refused = c.check();
        if (std::string(c.text).empty()) {
            EXPECT_FALSE(refused) << refused->textFor("F");
            continue;
        }
        ASSERT_TRUE(refused);
        EXPECT_EQ(refused->field, c.field);
        EXPECT_EQ(refused->textFor("F"), c.text);
    }
}

SeriesRequest series(const std::function<void(SeriesRequest&)>& change) {
    SeriesRequest r;
    change(r);
    return r;
}

ProcessRequest process(const std::function<void(ProcessRequest&)>& change) {
    ProcessRequest r;
    change(r);
    return r;
}

SimulationGridRequest grid(const std::function<void(SimulationGridRequest&)>& change) {
    SimulationGridRequest r;
    change(r);
    return r;
}

TEST(Requests, EachRuleRefusesWithItsOneText) {
    using F = RequestField;
    const auto s = [](auto change) { return [=] { return checkSeriesRequest(series(change)); }; };
    const auto p = [](auto change) { return [=] { return checkProcessRequest(process(change)); }; };
    const auto g = [](auto change) { return [=] { return checkSimulationRequest(grid(change)); }; };
    expectCases({
        {"series as start-up makes it", s([](SeriesRequest&) {}), F::none, ""},
        {"unknown series type", s([](SeriesRequest& r) { r.type = 3; }), F::type,
         "F must be one of 1, 2, 4, 8, 16, 32, 36, 40, not 3"},
        {"saved energy above 100", s([](SeriesRequest& r) { r.savedEnergy = 101; }), F::savedEnergy,
         "F must lie in 0..100, not 101"},
        {"subset mode without a subset", s([](SeriesRequest& r) { r.subsetMode = 2; }), F::subsetMode,
         "F needs a subset"},
        {"subset start without a subset", s([](SeriesRequest& r) { r.subsetStart = 2; }), F::subsetStart,
         "F needs a subset"},
        {"subset mode 6", s([](SeriesRequest& r) { r.subset = {1}; r.subsetMode = 6; }), F::subsetMode,
         "F must lie in 1..5, not 6"},
        {"subset start 0", s([](SeriesRequest& r) { r.subset = {1}; r.subsetStart = 0; }), F::subsetStart,
         "F must be at least 1, not 0"},
        {"count of a drawn-count type", s([](SeriesRequest& r) { r.type = 8; r.count = 10; }), F::count,
         "F applies to the fixed-count series types 1, 2, 16, 32 and 36; types 4, 8 and 40 draw their count."},
        {"no repeat", s([](SeriesRequest& r) { r.repeat = 0; }), F::repeat, "F must be at least 1, not 0"},

        {"joint detection as start-up", p([](ProcessRequest&) {}), F::none, ""},
        {"unknown task", p([](ProcessRequest& r) { r.task = 3; }), F::task,
         "F must be one of 1, 2, 4, 36, 40, 64, not 3"},
        {"proceeding 3", p([](ProcessRequest& r) { r.proceeding = 3; }), F::proceeding,
         "F must be one of 1, 2, not 3"},
        {"processing energy above 100", p([](ProcessRequest& r) { r.savedEnergyProcess = 200; }),
         F::savedEnergyProcess, "F must lie in 0..100, not 200"},
        {"empty candidates", p([](ProcessRequest& r) { r.candidates.emplace(); }), F::candidates,
         "F is empty: name at least one etalon, or leave it out for all"},
        {"an empty stored tuple", p([](ProcessRequest& r) { r.tuples = {{1, 2}, {}}; }), F::tuples,
         "F holds an empty tuple"},
        {"tuple detection without its tuple", p([](ProcessRequest& r) { r.task = 1; r.series.type = 36; }), F::tuple,
         "Tuple detection needs F."},
        {"tuple recognition without tuples", p([](ProcessRequest& r) { r.task = 2; r.series.type = 40; }),
         F::tuples, "Tuple recognition needs F."},
        {"the series rules apply", p([](ProcessRequest& r) { r.series.savedEnergy = 101; }), F::savedEnergy,
         "F must lie in 0..100, not 101"},

        {"the start-up grid", g([](SimulationGridRequest&) {}), F::none, ""},
        {"unknown task of a grid", g([](SimulationGridRequest& r) { r.task = 8; }), F::task,
         "F must be one of 1, 2, 4, 36, 40, 64, not 8"},
        {"making energy above 100", g([](SimulationGridRequest& r) { r.savedEnergyCreate = 101; }),
         F::savedEnergyCreate, "F must lie in 0..100, not 101"},
        {"reversed pulse counts", g([](SimulationGridRequest& r) { r.pulsesMin = 9, r.pulsesMax = 6; }), F::none,
         "The grid is empty: it needs at least one pulse count, one noise level and one repeat."},
        {"a noise level beyond the generator", g([](SimulationGridRequest& r) { r.noiseIncrement = 400; }), F::none,
         "The grid lies outside what a simulation takes: pulse counts 1 to 65535 with a step of 0 to 65535, 1 to "
         "65535 noise levels from 0 to 10922, 1 to 65535 repeats."},
        {"no repeats", g([](SimulationGridRequest& r) { r.repeats = 0; }), F::none,
         "The grid lies outside what a simulation takes: pulse counts 1 to 65535 with a step of 0 to 65535, 1 to "
         "65535 noise levels from 0 to 10922, 1 to 65535 repeats."},
        {"results beyond a gigabyte", g([](SimulationGridRequest& r) { r.pulsesMin = 1, r.pulsesMax = 65535, r.noiseSteps = 1000, r.noiseIncrement = 0; }),
         F::none, "The grid of 65535 pulse counts by 1000 noise levels needs 1499 MB for its results; at most 1024 MB."},
    });
}

TEST(Requests, PulseCountStepsTakeAZeroIncrementAsOne) {
    EXPECT_EQ(pulseCountSteps(6, 30, 1), 25);
    EXPECT_EQ(pulseCountSteps(6, 30, 0), 25);
    EXPECT_EQ(pulseCountSteps(6, 30, 7), 4);
    EXPECT_LT(pulseCountSteps(30, 6, 1), 1);
}

// A run that passed its check makes what the request asks, from the start-up state; refusals
// that depend on the model come through the sink.
TEST(Requests, RunsFollowTheRequestAndReportTheModelsRefusals) {
    SeriesRun made;
    RecordingMessageSink sink;
    SeriesRequest request;
    request.type = 2;
    request.count = 7;
    ASSERT_TRUE(made.prepare(request, sink));
    ASSERT_TRUE(made.next(sink));
    EXPECT_EQ(made.series().wImpulseQuantity, 7);
    EXPECT_TRUE(sink.messages.empty());

    request.subset = {1, 2};
    request.subsetStart = 8;
    SeriesRun beyond;
    EXPECT_FALSE(beyond.prepare(request, sink));
    ASSERT_EQ(sink.messages.size(), 1u);
    EXPECT_EQ(sink.messages[0].text, "--subset-start 8 lies beyond the series: it has 7 pulses.");

    ProcessRun processed;
    ProcessRequest p;
    p.series.type = 2;
    p.series.count = 6;
    p.task = 1;
    p.candidates = std::vector<uint16_t>{3};
    RecordingMessageSink quiet;
    ASSERT_TRUE(processed.prepare(p, quiet));
    ASSERT_TRUE(processed.makeSeries(quiet) && processed.processSeries(quiet));
    EXPECT_EQ(processed.routine(), Routine::detectPulsesFixed);
    EXPECT_TRUE(processed.knownCount());
    EXPECT_GT(processed.knownCountCells(), 0);
    EXPECT_TRUE(quiet.messages.empty());

    Settings s;
    SimulationGridRequest g;
    g.length = 200;
    g.pulsesMin = 3;
    g.pulsesMax = 8;
    EXPECT_FALSE(prepareSimulation(g, s, quiet));
    ASSERT_EQ(quiet.messages.size(), 1u);
    EXPECT_EQ(quiet.messages[0].text, "A series of 200 samples holds 1 to 5 pulses; the grid asks for 3 to 8.");
}

}  // namespace
