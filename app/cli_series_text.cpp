#include "app/cli_series_text.h"

#include <algorithm>
#include <iomanip>
#include <sstream>
#include <vector>

#include "core/series_request.h"

using nlohmann::ordered_json;

namespace {
ordered_json pulsesJson(int count, const int16_t* position, const int16_t* etalon, const int16_t* cutStart,
                        const int16_t* cutEnd) {
    ordered_json pulses = ordered_json::array();
    for (int j = 0; j < count; ++j)
        pulses.push_back({{"position", position[j]},
                          {"etalon", etalon[j]},
                          {"cutStart", cutStart[j]},
                          {"cutEnd", cutEnd[j]}});
    return pulses;
}

}  // namespace

ordered_json processingJson(const SeriesHeader& h, const ChainsHeader& c, Routine routine, int32_t answer) {
    ordered_json groups = ordered_json::array();
    if (isTupleRoutine(routine))
        for (int g = 0; g < h.wFoundGroups; ++g)
            groups.push_back({{"first", h.lpFoundGroupPosition[g]}, {"last", h.lpFoundGroupValue[g]}});
    ordered_json rows = ordered_json::array();
    for (int i = 0; i < c.wPretenders; ++i)
        rows.push_back({{"distance", c.distance[i]},
                        {"pulses", pulsesJson(c.chainPulses[i], c.positionsList[i], c.pulsesList[i],
                                              c.cutStartList[i], c.cutEndList[i])}});
    ordered_json result = seriesJson(h);
    result["routine"] = routineName(routine);
    result["answer"] = answer;
    result["found"] = {{"pulses", pulsesJson(h.wFoundPulses, h.lpFoundPosition, h.lpFoundEtalon,
                                             h.lpFoundCutStart, h.lpFoundCutEnd)},
                       {"groups", groups},
                       {"resultCode", h.wResultCode}};
    result["chains"] = {{"quanPulses", c.wQuanPulses},
                        {"seekingPulsesQuantity", c.wSeekingPulsesQuantity},
                        {"rows", rows}};
    return result;
}

void printProcessingText(const SeriesHeader& h, const ChainsHeader& c, Routine routine, int32_t answer,
                         int number, std::ostream& out) {
    printSeriesText(h, number, out);
    out << "  " << routineName(routine) << " answered " << answer << "; found " << h.wFoundPulses
        << " pulses";
    if (isTupleRoutine(routine)) out << " in " << h.wFoundGroups << " groups";
    out << "\n  found  start  etalon    kept\n";
    for (int j = 0; j < h.wFoundPulses; ++j) {
        std::ostringstream kept;
        kept << h.lpFoundCutStart[j] << ".." << h.lpFoundCutEnd[j];
        out << "  " << std::setw(5) << j + 1 << "  " << std::setw(5) << h.lpFoundPosition[j] << "  "
            << std::setw(6) << h.lpFoundEtalon[j] << "  " << std::setw(6) << kept.str() << "\n";
    }
    out << "  chains:";
    for (int i = 0; i < c.wPretenders; ++i) out << " " << c.distance[i] << " (" << c.chainPulses[i] << ")";
    out << "\n";
}

ordered_json seriesJson(const SeriesHeader& h) {
    ordered_json pulses = ordered_json::array();
    for (int j = 0; j < h.wImpulseQuantity; ++j)
        pulses.push_back({{"position", h.lpTruePosition[j]},
                          {"etalon", h.lpTrueEtalon[j]},
                          {"cutStart", h.lpTrueCutStart[j]},
                          {"cutEnd", h.lpTrueCutEnd[j]},
                          {"positionMin", h.lpPositionMin[j]},
                          {"positionMax", h.lpPositionMax[j]}});
    return {{"length", h.dwSeriesSize},
            {"tmin", h.wTmin},
            {"tmax", h.wTmax},
            {"impulseSize", h.wImpulseSize},
            {"minPulses", h.wMinPulses},
            {"maxPulses", h.wMaxPulses},
            {"noiseSigma", h.wNoiseSigma},
            {"pulses", pulses},
            {"pure", std::vector<int16_t>(h.lpPureData, h.lpPureData + h.dwSeriesSize)},
            {"noisy", std::vector<int16_t>(h.lpNoisyData, h.lpNoisyData + h.dwSeriesSize)}};
}

// One character per stretch of the series: '#' where a pulse lies, '.' where the pure series
// is silent, so a reader sees the layout at a glance.
namespace {
std::string layoutStrip(const SeriesHeader& h, int width) {
    std::string strip;
    const int n = h.dwSeriesSize;
    width = std::min(width, n);
    for (int c = 0; c < width; ++c) {
        const int from = static_cast<int>(static_cast<int64_t>(c) * n / width);
        const int to = static_cast<int>(static_cast<int64_t>(c + 1) * n / width);
        bool busy = false;
        for (int i = from; i < to && !busy; ++i) busy = h.lpPureData[i] != 0;
        strip += busy ? '#' : '.';
    }
    return strip;
}

}  // namespace

void printSeriesText(const SeriesHeader& h, int number, std::ostream& out) {
    out << "Series " << number << ": " << h.dwSeriesSize << " samples, Tmin " << h.wTmin << ", Tmax "
        << h.wTmax << ", etalon length " << h.wImpulseSize << ", " << h.wImpulseQuantity
        << " pulses (admissible " << h.wMinPulses << ".." << h.wMaxPulses << "), noise "
        << h.wNoiseSigma << "\n";
    out << "  |" << layoutStrip(h, 100) << "|\n";
    out << "  pulse  start  etalon    kept   start range\n";
    for (int j = 0; j < h.wImpulseQuantity; ++j) {
        std::ostringstream kept, range;
        kept << h.lpTrueCutStart[j] << ".." << h.lpTrueCutEnd[j];
        range << h.lpPositionMin[j] << ".." << h.lpPositionMax[j];
        out << "  " << std::setw(5) << j + 1 << "  " << std::setw(5) << h.lpTruePosition[j] << "  "
            << std::setw(6) << h.lpTrueEtalon[j] << "  " << std::setw(6) << kept.str() << "  "
            << std::setw(12) << range.str() << "\n";
    }
}
