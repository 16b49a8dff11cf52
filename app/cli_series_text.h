#pragma once

#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "model/series.h"
#include "processing/chains.h"
#include "processing/dispatch.h"

// A series and its processing as the batch tool prints them: JSON (numbers as the records hold
// them) or text (a table a reader takes in at a glance). `series`, `process` and `experiment`
// share them.

/// The series' parameters, its true pulses (with their start ranges) and its samples.
nlohmann::ordered_json seriesJson(const SeriesHeader& series);

/// seriesJson, then the routine, its answer, the found pulses (and groups of a tuple routine)
/// and the chains table's rows.
nlohmann::ordered_json processingJson(const SeriesHeader& series, const ChainsHeader& chains, Routine routine,
                                      int32_t answer);

/// "Series N: ..." with a layout strip and the table of the true pulses.
void printSeriesText(const SeriesHeader& series, int number, std::ostream& out);

/// printSeriesText, then the routine's answer, the found pulses and the chains' distances.
void printProcessingText(const SeriesHeader& series, const ChainsHeader& chains, Routine routine, int32_t answer,
                         int number, std::ostream& out);
