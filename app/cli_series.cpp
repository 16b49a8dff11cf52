// `pulsebench-cli alphabet`, `series` and `process`: the start-up alphabet, and series made (and
// processed) one after the other by the core's series runs, printed as text or JSON.

#include <iomanip>
#include <iostream>
#include <sstream>

#include "app/cli_commands.h"
#include "app/cli_progress.h"
#include "app/cli_series_text.h"
#include "core/settings.h"
#include "core/startup_model.h"
#include "core/version.h"

using nlohmann::ordered_json;

int runAlphabet(bool json, std::ostream& out, StderrMessageSink& window) {
    Settings s;
    deriveStartupSettings(s);
    prepareStartupModel(s, window);
    if (window.count) return 1;
    if (json) {
        ordered_json etalons = ordered_json::array();
        for (int i = 0; i < s.wAlphabetSize; ++i) {
            const PulseHeader& p = s.alphabet[i];
            etalons.push_back({{"number", p.wNumber},
                               {"size", p.wSize},
                               {"samples", std::vector<int16_t>(p.lpData.get(), p.lpData.get() + p.wSize)}});
        }
        out << formatJson({{"version", pulsebenchVersion}, {"etalons", etalons}});
        return 0;
    }
    for (int i = 0; i < s.wAlphabetSize; ++i) {
        const PulseHeader& p = s.alphabet[i];
        out << "etalon " << std::setw(2) << p.wNumber << ":";
        for (int k = 0; k < p.wSize; ++k) out << ' ' << std::setw(4) << p.lpData[k];
        out << "\n";
    }
    return 0;
}

int runSeries(const SeriesOptions& o, std::ostream& out, StderrMessageSink& window) {
    if (const auto refused = checkSeriesRequest(o.request)) {
        reportRefusal(window, *refused, " series ");
        return 1;
    }
    SeriesRun run;
    if (!run.prepare(o.request, window)) return 1;
    ResultStream stream(out);
    JsonArrayStream array(stream);
    for (int r = 1; r <= o.request.repeat; ++r) {
        if (!run.next(window)) return 1;
        if (o.json) {
            array.add(seriesJson(run.series()));
        } else {
            std::ostringstream text;
            printSeriesText(run.series(), r, text);
            stream.write(text.str());
        }
    }
    // Any message box is a refusal: nothing is printed then.
    if (window.count) return 1;
    // The files are written before the held text is passed on, so a failed write prints nothing.
    if (!writeSeriesFiles(o.files, run.series(), window)) return 1;
    if (o.json) array.close();
    stream.finish();
    return 0;
}

int runProcess(const ProcessOptions& p, std::ostream& out, StderrMessageSink& window) {
    if (const auto refused = checkProcessRequest(p.request)) {
        reportRefusal(window, *refused, " process ");
        return 1;
    }
    ProcessRun run;
    if (!run.prepare(p.request, window)) return 1;
    const int repeat = p.request.series.repeat;

    ResultStream stream(out);
    JsonArrayStream array(stream);
    // The known-count programmes are linear in their position cells; what grows is the memory.
    constexpr int64_t largeProgrammeCells = 50'000'000;
    bool largeAnnounced = false;
    Progress progress("series");
    for (int r = 1; r <= repeat; ++r) {
        // A large known-count problem (its table holds the pulse count times the position
        // ranges) says how large it is before it starts, and then how far the series went.
        if (!run.makeSeries(window)) return 1;
        if (const int64_t cells = run.knownCountCells(); cells >= largeProgrammeCells && !largeAnnounced) {
            largeAnnounced = true;
            std::cerr << "process: a known-count problem of " << run.series().wImpulseQuantity << " pulses: " << cells
                      << " position cells (about " << (cells * 4 + (1 << 20) - 1) / (1 << 20)
                      << " MB) per series; it may take a while.\n";
            progress.start(repeat);
        }
        if (!run.processSeries(window)) return 1;
        if (largeAnnounced) progress(r, repeat);
        if (p.json) {
            array.add(processingJson(run.series(), run.chains(), run.routine(), run.answer()));
        } else {
            std::ostringstream text;
            printProcessingText(run.series(), run.chains(), run.routine(), run.answer(), r, text);
            stream.write(text.str());
        }
    }
    // Any message box is a refusal: nothing is printed then.
    if (window.count) return 1;
    if (p.json) array.close();
    stream.finish();
    return 0;
}
