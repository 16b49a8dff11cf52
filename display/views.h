#pragma once

#include <cstdint>
#include <vector>

#include "display/paint.h"
#include "model/series.h"
#include "processing/chains.h"
#include "simulation/rest_error.h"

/// The etalon alphabet: one cell per etalon with its glyph and number.
void drawEtalonView(const PaintContext& context, Canvas& canvas);

/// The series and the results: header lines, the graph fields, the alphabet box, the result
/// text, the chain table and (task 40) the pattern tuples, whose rows patternTupleRows lays out.
void drawSeriesView(const PaintContext& context, Canvas& canvas, uint16_t wRequiredCount,
                    const uint16_t* lpRequiredList, const ChainsHeader* chains, const SeriesHeader* series);

/// The layout pass of the results view: the rows of the stored pattern tuples (task 40) that the
/// view draws in layout.rcMain (the text measured with `canvas`), into `rows`. False, leaving
/// `rows` as they are, when the view draws none.
bool patternTupleRows(const Canvas& canvas, const LayoutState& layout, bool specialGraphSize, uint16_t wRequiredCount,
                      const uint16_t* lpRequiredList, const ChainsHeader* chains, const SeriesHeader* series,
                      std::vector<Rect>& rows);

/// The layout pass of the simulation graphs: the rows of the stored pattern tuples (task 40) they
/// draw, into `rows`; false, leaving `rows` as they are, when they draw none.
bool simulationPatternTupleRows(const Canvas& canvas, const LayoutState& layout, const Settings& settings,
                                int32_t simGraphKind, uint16_t wRequiredCount, const uint16_t* lpRequiredList,
                                const RestErrorHeader* errors, const SeriesHeader* series, std::vector<Rect>& rows);

/// The statistical simulation's error graphs of kind simGraphKind.
/// False (nothing drawn) when the graphs' normalisers cannot be allocated.
bool drawSimulationGraphs(const PaintContext& context, Canvas& canvas, uint16_t wAmplitude, int32_t simGraphKind,
                          uint16_t wRequiredCount, const uint16_t* lpRequiredList, const RestErrorHeader* errors,
                          const SeriesHeader* series);
