#include "core/simulation_use_case.h"

std::unique_ptr<RestErrorHeader> newSimulationAccumulator(const Settings& s, MessageSink& messages,
                                                          AccumulatorFailure& failure) {
    failure = AccumulatorFailure::none;
    std::unique_ptr<RestErrorHeader> accumulator = getRestErrHeader(messages, s.wPulsesSteps, s.wNoiseSteps, s.repeats, nullptr);
    if (!accumulator) {
        failure = AccumulatorFailure::allocation;
        return nullptr;
    }
    if (!initRestErrHeader(messages, s.wPulsesSteps, s.wMinPulses, s.wPulsesIncrement, s.wNoiseSteps,
                           s.wNoiseInitial, s.wNoiseIncrement, s.repeats, accumulator.get())) {
        failure = AccumulatorFailure::grid;
        return nullptr;
    }
    return accumulator;
}

SimulationResult runSimulation(Settings& s, MessageSink& messages, RestErrorHeader* accumulator,
                               const SimulationRequest& request) {
    SimulationControl control;
    control.threads = request.threads;
    control.progress = request.progress;
    control.cancel = request.cancel;
    const SimulationSettings simulation{static_cast<int16_t>(s.wAmplitude), s.subsetProceeding};
    const int done = request.run(messages, accumulator, s.wAlphabetSize, s.alphabet, s.wRequiredCount,
                                 s.lpRequiredList.get(), code(s.seriesType), code(s.wTaskType),
                                 s.wSavedEnergyCreate, s.wSavedEnergyProcess, s.lpSeriesHeader.get(), s.noiseSeed,
                                 s.seeds, simulation, control);
    SimulationResult result;
    result.complete = done == 1 && accumulator && accumulator->ifComplete;
    result.cancelled = request.cancel && request.cancel->load();
    if (accumulator) {
        result.startTime = accumulator->startTime;
        result.endTime = accumulator->endTime;
    }
    return result;
}
