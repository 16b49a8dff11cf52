#pragma once

#include <ctime>

#include <string>

#include "core/settings.h"

/// The report shown before a statistical simulation runs: the series parameters (length,
/// limits, etalon length), the pulse counts the dialog proposed and those committed, the grid of
/// `pulseSteps` pulse counts and of noise levels, and the repeats.
std::string simulationReport(const Settings& s, int pulseSteps);

/// The simulation graph to show for the graph dialog's choices: handling case 2 the detection
/// error, 3 the recognition error (with its bounds when `boundsIncluded`), any other the
/// restoring error; view case 2 the aggregate form, any other the componentwise one.
int simulationGraphKind(int handlingCase, int viewCase, bool boundsIncluded);

/// A time as UTC in ISO 8601 ("2026-12-08T01:02:03Z"), as the simulation's results give their
/// start and end.
std::string utcTimeText(std::time_t t);
