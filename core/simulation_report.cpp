#include "core/simulation_report.h"

#include "model/text_format.h"

std::string simulationReport(const Settings& s, int pulseSteps) {
    return formatted("Create series parameters:\nдлина серии: %d\nwTmin: %d\nwTmax: %d\nдлина эталона: %d\n"
                     "MinPulses: %d -> %d\nMaxPulses: %d -> %d\n\npulses: %d, from %d to %d incr %d \n"
                     "noise level: from %d to %d incr %d\nnumber of repeats: %d\n",
                     static_cast<int>(s.dwSeriesSize), s.wTmin, s.wTmax, s.wImpulseSize, s.wMinPulses, s.wMinPulses,
                     s.wMaxPulses, s.wMaxPulses, pulseSteps, s.wMinPulses, s.wMaxPulses, s.wPulsesIncrement,
                     s.wNoiseInitial, s.wNoiseSteps, s.wNoiseIncrement, s.repeats);
}

int simulationGraphKind(int handlingCase, int viewCase, bool boundsIncluded) {
    // Rows: restoring, detection, recognition error; columns: componentwise, aggregate form.
    static constexpr int kinds[3][2] = {{0, 1}, {2, 3}, {4, 5}};
    static constexpr int recognitionWithBounds[2] = {12, 13};
    const int view = viewCase == 2 ? 1 : 0;
    if (handlingCase == 2) return kinds[1][view];
    if (handlingCase == 3) return boundsIncluded ? recognitionWithBounds[view] : kinds[2][view];
    return kinds[0][view];
}

std::string utcTimeText(std::time_t t) {
    char buffer[32];
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buffer;
}
