#pragma once

#include "core/settings.h"
#include "model/message_sink.h"

/// The model part of window creation, in its order: the alphabet, the required list, the series
/// and task modes (8 and 4), the effective task, the required flags and view mode, the series
/// length from its table, the pulse-count bounds and the requested count, the two etalon
/// sequences, the noise level, the chains' pulses per row and the lost and saved-energy levels.
/// Makers report their own failures through `window`; start-up goes on regardless. The alphabet
/// draws from the settings' `seeds.alphabetSeed`.
void prepareStartupModel(Settings& s, MessageSink& window);

/// Makes the current series from the current settings with the maker its type needs:
/// `getRandomCutOffSeries` for the unfixed-count types 4, 8 and 40 (wSeriesPulses then takes
/// the count it drew), `getCutOffSeries` with wSeriesPulses otherwise, drawing from the
/// settings' own `seeds`. The result replaces lpSeriesHeader. No noise is added.
void makeSeriesOfCurrentType(Settings& s, MessageSink& window);

/// The whole model of window creation: prepareStartupModel, then the first noiseless series.
void buildStartupModel(Settings& s, MessageSink& window);

/// The model part of shut-down: etalon samples, required list, etalon sequences, current series.
void releaseStartupModel(Settings& s);
