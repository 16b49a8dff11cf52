#include "processing/dispatch.h"

#include "model/codes.h"
#include "processing/routines.h"

Routine selectRoutine(uint16_t taskType, uint32_t seriesType) {
    const bool pulsesUnfixed = isUnknownCountPulseSeries(seriesType);
    const bool tuplesUnfixed = isUnknownCountSeries(seriesType);
    switch (taskType) {
        case code(TaskType::recognition):
            return pulsesUnfixed ? Routine::recognizePulsesUnfixed : Routine::recognizePulsesFixed;
        case code(TaskType::tupleDetection):
            return tuplesUnfixed ? Routine::detectTuplesUnfixed : Routine::detectTuplesFixed;
        case code(TaskType::tupleRecognition):
            return tuplesUnfixed ? Routine::recognizeTuplesUnfixed : Routine::recognizeTuplesFixed;
        default:
            return pulsesUnfixed ? Routine::detectPulsesUnfixed : Routine::detectPulsesFixed;
    }
}

const char* routineName(Routine routine) {
    switch (routine) {
        case Routine::detectPulsesUnfixed: return "detectPulsesUnfixed";
        case Routine::detectPulsesFixed: return "detectPulsesFixed";
        case Routine::recognizePulsesUnfixed: return "recognizePulsesUnfixed";
        case Routine::recognizePulsesFixed: return "recognizePulsesFixed";
        case Routine::detectTuplesUnfixed: return "detectTuplesUnfixed";
        case Routine::detectTuplesFixed: return "detectTuplesFixed";
        case Routine::recognizeTuplesUnfixed: return "recognizeTuplesUnfixed";
        case Routine::recognizeTuplesFixed: return "recognizeTuplesFixed";
    }
    return "";
}

int32_t runRoutine(Routine routine, MessageSink& messages, const Alphabet& alphabet,
                   const ProcessingInput& in, ChainsHeader* chains, SeriesHeader& series) {
    switch (routine) {
        case Routine::detectPulsesUnfixed:
            return detectPulsesUnfixed(messages, alphabet, in.candidates, in.Tmin, in.Tmax, in.pct, chains, series);
        case Routine::detectPulsesFixed:
            return detectPulsesFixed(messages, alphabet, in.candidates, in.Tmin, in.Tmax, in.pct, chains, series);
        case Routine::recognizePulsesUnfixed:
            return recognizePulsesUnfixed(messages, alphabet, in.candidates, in.Tmin, in.Tmax, in.pct, chains, series);
        case Routine::recognizePulsesFixed:
            return recognizePulsesFixed(messages, alphabet, in.candidates, in.Tmin, in.Tmax, in.pct, chains, series);
        case Routine::detectTuplesUnfixed:
            return detectTuplesUnfixed(messages, alphabet, in.tuple, in.mode, in.Tmin, in.Tmax, in.pct, chains,
                                       series, in.debugRepeat);
        case Routine::detectTuplesFixed:
            return detectTuplesFixed(messages, alphabet, in.tuple, in.mode, in.Tmin, in.Tmax, in.pct, chains, series);
        case Routine::recognizeTuplesUnfixed:
            return recognizeTuplesUnfixed(messages, alphabet, in.tuples, in.mode, in.Tmin, in.Tmax, in.pct, chains,
                                          series, in.debugRepeat);
        case Routine::recognizeTuplesFixed:
            return recognizeTuplesFixed(messages, alphabet, in.tuples, in.mode, in.Tmin, in.Tmax, in.pct, chains,
                                        series);
    }
    return 0;
}
