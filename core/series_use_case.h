#pragma once

#include <cstdint>

#include "core/settings.h"
#include "model/message_sink.h"
#include "processing/dispatch.h"

// The series use cases both front ends call: prepare the next series from the base values, draw
// a new etalon sequence, process the current series.

/// Takes the base values (set by the dialogs, the option boxes or the batch tool's options) as
/// the current values of the next series: the length, the pulse-count bounds of that length,
/// the noise, lost-data and saved-energy levels. The etalon sequence grows to the greatest pulse
/// count (new entries are the dialog's etalon number); detection and recognition give every
/// pulse the first etalon. The pulse count itself is the caller's (see requestedOrMiddleCount).
void takeBaseValues(Settings& s);

/// The window's pulse count: the requested count when it lies within the bounds, otherwise the
/// middle of the bounds.
uint16_t requestedOrMiddleCount(const Settings& s);

/// A new random etalon sequence: the effective task from the selected one, then an etalon of
/// the required list for every pulse the series may have, drawn from the library generator on the
/// settings' `seeds.libraryState`.
/// Returns false (with a message when the required list is empty) and draws nothing when no
/// sequence can be drawn.
bool drawNewSequence(Settings& s, MessageSink& messages);

/// What processing the current series gave.
struct ProcessResult {
    Routine routine = Routine::detectPulsesUnfixed;
    int32_t answer = 0;     ///< the routine's answer (see runRoutine)
    bool recorded = false;  ///< the chains table received the task's descriptor
};

/// Processes the current series with the routine of the effective task and series type, then
/// records the task, series type and saved-energy levels (making: the settings', processing:
/// `input.pct`) in the chains table. The series must exist.
ProcessResult processCurrentSeries(const Settings& s, MessageSink& messages, const ProcessingInput& input,
                                   ChainsHeader* chains);
