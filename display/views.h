#pragma once

#include <cstdint>

#include "display/paint.h"
#include "model/series.h"
#include "processing/chains.h"
#include "simulation/rest_error.h"

/// The etalon alphabet: one cell per etalon with its glyph and number.
void drawEtalonView(PaintContext& context, Canvas& canvas);

/// The series and the results: header lines, the graph fields, the alphabet box, the result
/// text, the chain table and (task 40) the pattern tuples.
void drawSeriesView(PaintContext& context, Canvas& canvas, uint16_t wRequiredCount, const uint16_t* lpRequiredList,
                    const ChainsHeader* chains, const SeriesHeader* series);

/// The statistical simulation's error graphs of kind simGraphKind.
void drawSimulationGraphs(PaintContext& context, Canvas& canvas, uint16_t wAmplitude, int32_t simGraphKind,
                          uint16_t wRequiredCount, const uint16_t* lpRequiredList, const RestErrorHeader* errors,
                          const SeriesHeader* series);
