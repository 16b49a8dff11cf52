// The workbench part of `pulsebench._core`: the start-up alphabet, series made and processed
// from the start-up state, and the statistical simulation, by the same use cases the batch tool
// runs (core/series_request.h, core/simulation_request.h), their records turned straight into
// numpy arrays.

#include <deque>
#include <mutex>
#include <tuple>
#include <utility>

#include <pybind11/functional.h>

#include "core/series_request.h"
#include "core/simulation_report.h"
#include "core/simulation_request.h"
#include "core/simulation_use_case.h"
#include "core/startup_model.h"
#include "model/random.h"
#include "python/bindings.h"

namespace pulsebench_python {
namespace {

// ---- requests in ----------------------------------------------------------------------------

// The etalons processing may look for: unset means all (the core refuses an empty list).
std::optional<std::vector<uint16_t>> candidateList(const std::optional<std::vector<int64_t>>& candidates) {
    if (!candidates) return std::nullopt;
    return listInRange<uint16_t>(candidates, 0, 65535, "candidates");
}

std::vector<std::vector<int32_t>> tuplesFrom(const std::optional<std::vector<std::vector<int64_t>>>& tuples) {
    std::vector<std::vector<int32_t>> out;
    if (!tuples) return out;
    for (const auto& t : *tuples) {
        if (t.empty()) {
            out.emplace_back();  // refused by the request's check, with the rule's text
            continue;
        }
        out.push_back(listInRange<int32_t>(t, -2147483648LL, 2147483647LL, "tuples"));
    }
    return out;
}

SeriesRequest seriesRequest(int64_t type, std::optional<int64_t> length, std::optional<int64_t> tmin,
                            std::optional<int64_t> tmax, std::optional<int64_t> count,
                            std::optional<int64_t> savedEnergy, int64_t noise,
                            std::optional<std::vector<int64_t>> sequence, std::optional<std::vector<int64_t>> subset,
                            std::optional<int64_t> subsetMode, std::optional<int64_t> subsetStart) {
    SeriesRequest r;
    r.type = *inRange<uint32_t>(type, 0, 4294967295LL, "type");
    r.length = inRange<uint32_t>(length, 0, 4294967295LL, "length");
    r.tmin = inRange<uint16_t>(tmin, 0, 65535, "tmin");
    r.tmax = inRange<uint16_t>(tmax, 0, 65535, "tmax");
    r.count = inRange<uint16_t>(count, 0, 65535, "count");
    r.savedEnergy = inRange<uint16_t>(savedEnergy, 0, 65535, "saved_energy");
    r.noise = *inRange<int16_t>(noise, -32768, 32767, "noise");
    r.sequence = listInRange<uint16_t>(sequence, 0, 65535, "sequence");
    r.subset = listInRange<int32_t>(subset, -2147483648LL, 2147483647LL, "subset");
    r.subsetMode = inRange<int>(subsetMode, -2147483648LL, 2147483647LL, "subset_mode");
    r.subsetStart = inRange<int>(subsetStart, -2147483648LL, 2147483647LL, "subset_start");
    return r;
}

// ---- records out ----------------------------------------------------------------------------

template <class T>
py::array_t<T> arrayOf(const T* values, int64_t count) {
    py::array_t<T> array(static_cast<py::ssize_t>(std::max<int64_t>(count, 0)));
    if (count > 0) std::copy(values, values + count, array.mutable_data());
    return array;
}

// The numbers of one pulse list as arrays: position, etalon, cut_start, cut_end.
py::dict pulsesDict(int count, const int16_t* position, const int16_t* etalon, const int16_t* cutStart,
                    const int16_t* cutEnd) {
    py::dict d;
    d["position"] = arrayOf(position, count);
    d["etalon"] = arrayOf(etalon, count);
    d["cut_start"] = arrayOf(cutStart, count);
    d["cut_end"] = arrayOf(cutEnd, count);
    return d;
}

py::dict seriesDict(const SeriesHeader& h) {
    py::dict d;
    d["length"] = int64_t{h.dwSeriesSize};
    d["tmin"] = int64_t{h.wTmin};
    d["tmax"] = int64_t{h.wTmax};
    d["impulse_size"] = int64_t{h.wImpulseSize};
    d["min_pulses"] = int64_t{h.wMinPulses};
    d["max_pulses"] = int64_t{h.wMaxPulses};
    d["noise_sigma"] = int64_t{h.wNoiseSigma};
    const int K = h.wImpulseQuantity;
    py::dict pulses = pulsesDict(K, h.lpTruePosition, h.lpTrueEtalon, h.lpTrueCutStart, h.lpTrueCutEnd);
    pulses["position_min"] = arrayOf(h.lpPositionMin, K);
    pulses["position_max"] = arrayOf(h.lpPositionMax, K);
    d["pulses"] = pulses;
    d["pure"] = arrayOf(h.lpPureData, h.dwSeriesSize);
    d["noisy"] = arrayOf(h.lpNoisyData, h.dwSeriesSize);
    return d;
}

py::dict processDict(const ProcessRun& run) {
    const SeriesHeader& h = run.series();
    const ChainsHeader& c = run.chains();
    py::dict d = seriesDict(h);
    d["routine"] = std::string(routineName(run.routine()));
    d["answer"] = int64_t{run.answer()};
    py::dict found = pulsesDict(h.wFoundPulses, h.lpFoundPosition, h.lpFoundEtalon, h.lpFoundCutStart, h.lpFoundCutEnd);
    const int groups = isTupleRoutine(run.routine()) ? h.wFoundGroups : 0;
    found["group_first"] = toArray(std::vector<int32_t>(h.lpFoundGroupPosition, h.lpFoundGroupPosition + groups));
    found["group_last"] = toArray(std::vector<int32_t>(h.lpFoundGroupValue, h.lpFoundGroupValue + groups));
    found["result_code"] = int64_t{h.wResultCode};
    d["found"] = found;
    py::dict chains;
    chains["quan_pulses"] = int64_t{c.wQuanPulses};
    chains["seeking_pulses_quantity"] = int64_t{c.wSeekingPulsesQuantity};
    py::list rows;
    for (int i = 0; i < c.wPretenders; ++i) {
        py::dict row = pulsesDict(c.chainPulses[i], c.positionsList[i], c.pulsesList[i], c.cutStartList[i],
                                  c.cutEndList[i]);
        row["distance"] = int64_t{c.distance[i]};
        rows.append(row);
    }
    chains["rows"] = rows;
    d["chains"] = chains;
    return d;
}

py::array_t<int32_t> matrixOf(int32_t** rows, int levels, int pulses) {
    py::array_t<int32_t> m({static_cast<py::ssize_t>(levels), static_cast<py::ssize_t>(pulses)});
    auto view = m.mutable_unchecked<2>();
    for (int k = 0; k < levels; ++k)
        for (int j = 0; j < pulses; ++j) view(k, j) = rows[k][j];
    return m;
}

py::dict simulateDict(const Settings& s, const RestErrorHeader& acc) {
    const int P = acc.wVariousPulses, V = acc.wNoiseLevels;
    py::dict descriptor;
    descriptor["series_type"] = int64_t{acc.wSeriesType};
    descriptor["series_type_name"] = std::string(acc.lpSeriesTypeName ? acc.lpSeriesTypeName : "");
    descriptor["task_type"] = int64_t{acc.wTaskType};
    descriptor["task_name"] = std::string(acc.lpTaskName ? acc.lpTaskName : "");
    descriptor["making_energy"] = int64_t{acc.wMakingEnergy};
    descriptor["processing_energy"] = int64_t{acc.wProcessingEnergy};
    descriptor["length"] = int64_t{s.dwSeriesSize};
    descriptor["tmin"] = int64_t{s.wTmin};
    descriptor["tmax"] = int64_t{s.wTmax};
    descriptor["impulse_size"] = int64_t{s.wImpulseSize};
    py::dict d;
    d["descriptor"] = descriptor;
    d["pulses"] = arrayOf(acc.wPulseValues, P);
    d["noise_levels"] = arrayOf(acc.lpNoiseLevels, V);
    d["repeats"] = int64_t{acc.repeats};
    d["errors"] = matrixOf(acc.lpErrors, V, P);
    d["detect_errors"] = matrixOf(acc.lpDetectErrors, V, P);
    d["recogn_errors"] = matrixOf(acc.lpRecognErrors, V, P);
    d["start_time"] = utcTimeText(acc.startTime);
    d["end_time"] = utcTimeText(acc.endTime);
    return d;
}

// ---- the generator state --------------------------------------------------------------------

class Workbench {
public:
    // Runs `work` on a copy of this object's seed cells, the GIL released. Every call starts
    // from the start-up state, whose alphabet is built from the start-up alphabet cell (the
    // object's alphabet never changes); the other cells carry on from the object's. `work`
    // leaves the cells it ended with in its argument and returns whether it succeeded: only
    // then, and unless `keepCells`, are they the object's. The cells are read and written under
    // the object's own lock, so one object may be used from several threads while other objects
    // generate at the same time. The GIL is released before the lock is taken (a waiting thread
    // holds neither).
    template <class Work>
    bool run(Work&& work, bool keepCells = false) {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(cellsLock_);
        SeedCells cells = cells_;
        cells.alphabetSeed = SeedCells{}.alphabetSeed;
        const bool done = work(cells);
        if (done && !keepCells) {
            cells.alphabetSeed = cells_.alphabetSeed;
            cells_ = cells;
        }
        return done;
    }

private:
    std::mutex cellsLock_;
    SeedCells cells_{};
};

py::array_t<int16_t> alphabetArray(Workbench& self) {
    Settings s;
    CollectingSink sink;
    const bool built = self.run(
        [&](SeedCells& cells) {
            s.seeds = cells;
            deriveStartupSettings(s);
            prepareStartupModel(s, sink);
            return sink.count == 0;
        },
        true);
    if (!built) raiseRefusal(sink, "alphabet");
    const size_t n = s.wAlphabetSize, L = n ? s.alphabet[0].wSize : 0;
    py::array_t<int16_t> a({static_cast<py::ssize_t>(n), static_cast<py::ssize_t>(L)});
    auto view = a.mutable_unchecked<2>();
    for (size_t i = 0; i < n; ++i)
        for (size_t k = 0; k < L; ++k) view(i, k) = k < s.alphabet[i].wSize ? s.alphabet[i].lpData[k] : 0;
    return a;
}

py::dict makeSeries(Workbench& self, const SeriesRequest& request) {
    if (const auto refused = checkSeriesRequest(request)) raiseRefusal(*refused);
    SeriesRun run;
    CollectingSink sink;
    const bool made = self.run([&](SeedCells& cells) {
        if (!run.prepare(request, sink, cells) || !run.next(sink) || sink.count) return false;
        cells = run.settings().seeds;
        return true;
    });
    if (!made) raiseRefusal(sink, "series");
    return seriesDict(run.series());
}

py::dict processSeries(Workbench& self, const ProcessRequest& request) {
    if (const auto refused = checkProcessRequest(request)) raiseRefusal(*refused);
    ProcessRun run;
    CollectingSink sink;
    const bool done = self.run([&](SeedCells& cells) {
        if (!run.prepare(request, sink, cells) || !run.makeSeries(sink) || !run.processSeries(sink) || sink.count)
            return false;
        cells = run.settings().seeds;
        return true;
    });
    if (!done) raiseRefusal(sink, "process");
    return processDict(run);
}

// Progress and Ctrl-C: the grid runs on a thread of its own; this thread delivers the progress
// of every cell to the callback and stops the run (the driver's cancel flag, polled between
// repeats) on Ctrl-C or when the callback raises.
py::dict simulateGrid(Workbench& self, const SimulationGridRequest& request, int threads,
                      const std::optional<py::function>& progress) {
    if (const auto refused = checkSimulationRequest(request)) raiseRefusal(*refused);
    Watch watch;
    std::mutex reportLock;
    std::deque<std::pair<int, int>> reports;
    const auto deliver = [&] {
        std::deque<std::pair<int, int>> now;
        {
            std::lock_guard<std::mutex> lock(reportLock);
            now.swap(reports);
        }
        if (progress)
            for (const auto& [done, total] : now) (*progress)(done, total);
    };
    Settings s;
    std::unique_ptr<RestErrorHeader> acc;
    CollectingSink sink;
    const bool done = self.run([&](SeedCells& cells) {
        acc = prepareSimulation(request, s, sink, cells);
        if (!acc) return false;
        SimulationRequest run;
        run.threads = threads;
        run.cancel = &watch.cancel;
        run.progress = [&](int finished, int total) {
            {
                std::lock_guard<std::mutex> lock(reportLock);
                reports.emplace_back(finished, total);
            }
            watch.notify();
        };
        SimulationResult result;
        watch.run([&] { result = runSimulation(s, sink, acc.get(), run); }, deliver);
        // A routine that refused a repeat leaves cells computed from nothing: the run failed.
        if (!result.complete || sink.count) return false;
        cells = s.seeds;
        return true;
    });
    if (PyErr_Occurred()) throw py::error_already_set();
    if (!done) raiseRefusal(sink, "simulate");
    return simulateDict(s, *acc);
}

}  // namespace

void defineWorkbench(py::module_& m) {
    py::class_<Workbench>(m, "Workbench")
        .def(py::init<>())
        .def("alphabet", &alphabetArray)
        .def(
            "series",
            [](Workbench& self, int64_t type, std::optional<int64_t> length, std::optional<int64_t> tmin,
               std::optional<int64_t> tmax, std::optional<int64_t> count, std::optional<int64_t> savedEnergy,
               int64_t noise, std::optional<std::vector<int64_t>> sequence,
               std::optional<std::vector<int64_t>> subset, std::optional<int64_t> subsetMode,
               std::optional<int64_t> subsetStart) {
                return makeSeries(self, seriesRequest(type, length, tmin, tmax, count, savedEnergy, noise, sequence,
                                                      subset, subsetMode, subsetStart));
            },
            py::arg("type") = 8, py::arg("length") = py::none(), py::arg("tmin") = py::none(),
            py::arg("tmax") = py::none(), py::arg("count") = py::none(), py::arg("saved_energy") = py::none(),
            py::arg("noise") = 0, py::arg("sequence") = py::none(), py::arg("subset") = py::none(),
            py::arg("subset_mode") = py::none(), py::arg("subset_start") = py::none())
        .def(
            "process",
            [](Workbench& self, int64_t task, int64_t type, std::optional<int64_t> length, std::optional<int64_t> tmin,
               std::optional<int64_t> tmax, std::optional<int64_t> count, std::optional<int64_t> savedEnergy,
               int64_t noise, std::optional<std::vector<int64_t>> sequence,
               std::optional<std::vector<int64_t>> subset, std::optional<int64_t> subsetMode,
               std::optional<int64_t> subsetStart, std::optional<std::vector<int64_t>> candidates,
               std::optional<std::vector<int64_t>> tuple, std::optional<std::vector<std::vector<int64_t>>> tuples,
               int64_t proceeding, std::optional<int64_t> savedEnergyProcess) {
                ProcessRequest p;
                p.series = seriesRequest(type, length, tmin, tmax, count, savedEnergy, noise, sequence, subset,
                                         subsetMode, subsetStart);
                p.task = *inRange<uint16_t>(task, 0, 65535, "task");
                p.candidates = candidateList(candidates);
                p.tuple = listInRange<int32_t>(tuple, -2147483648LL, 2147483647LL, "tuple");
                p.tuples = tuplesFrom(tuples);
                p.proceeding = *inRange<uint16_t>(proceeding, 0, 65535, "proceeding");
                p.savedEnergyProcess = inRange<uint16_t>(savedEnergyProcess, 0, 65535, "saved_energy_process");
                return processSeries(self, p);
            },
            py::arg("task") = 4, py::arg("type") = 8, py::arg("length") = py::none(), py::arg("tmin") = py::none(),
            py::arg("tmax") = py::none(), py::arg("count") = py::none(), py::arg("saved_energy") = py::none(),
            py::arg("noise") = 0, py::arg("sequence") = py::none(), py::arg("subset") = py::none(),
            py::arg("subset_mode") = py::none(), py::arg("subset_start") = py::none(),
            py::arg("candidates") = py::none(), py::arg("tuple") = py::none(), py::arg("tuples") = py::none(),
            py::arg("proceeding") = 1, py::arg("saved_energy_process") = py::none())
        .def(
            "simulate",
            [](Workbench& self, int64_t task, int64_t type, std::optional<int64_t> length, std::optional<int64_t> tmin,
               std::optional<int64_t> tmax, std::tuple<int64_t, int64_t, int64_t> pulses,
               std::tuple<int64_t, int64_t, int64_t> noise, int64_t repeats,
               std::optional<int64_t> savedEnergyCreate, std::optional<int64_t> savedEnergyProcess,
               std::optional<std::vector<int64_t>> candidates, std::optional<std::vector<int64_t>> tuple,
               std::optional<std::vector<std::vector<int64_t>>> tuples, int64_t proceeding, int64_t threads,
               std::optional<py::function> progress) {
                SimulationGridRequest o;
                o.task = *inRange<uint16_t>(task, 0, 65535, "task");
                o.type = *inRange<uint32_t>(type, 0, 4294967295LL, "type");
                o.length = inRange<uint32_t>(length, 0, 4294967295LL, "length");
                o.tmin = inRange<uint16_t>(tmin, 0, 65535, "tmin");
                o.tmax = inRange<uint16_t>(tmax, 0, 65535, "tmax");
                // The grid's parts in their full width; the request's check takes them together.
                const auto int32 = [](int64_t v, const char* name) {
                    return *inRange<int32_t>(v, -2147483648LL, 2147483647LL, name);
                };
                o.pulsesMin = int32(std::get<0>(pulses), "pulses");
                o.pulsesMax = int32(std::get<1>(pulses), "pulses");
                o.pulsesStep = int32(std::get<2>(pulses), "pulses");
                o.noiseFirst = int32(std::get<0>(noise), "noise");
                o.noiseSteps = int32(std::get<1>(noise), "noise");
                o.noiseIncrement = int32(std::get<2>(noise), "noise");
                o.repeats = *inRange<int32_t>(repeats, 1, 65535, "repeats");
                o.savedEnergyCreate = inRange<uint16_t>(savedEnergyCreate, 0, 65535, "saved_energy_create");
                o.savedEnergyProcess = inRange<uint16_t>(savedEnergyProcess, 0, 65535, "saved_energy_process");
                o.candidates = candidateList(candidates);
                o.tuple = listInRange<int32_t>(tuple, -2147483648LL, 2147483647LL, "tuple");
                o.tuples = tuplesFrom(tuples);
                o.proceeding = *inRange<uint16_t>(proceeding, 0, 65535, "proceeding");
                return simulateGrid(self, o, *inRange<int>(threads, 0, 256, "threads"), progress);
            },
            py::arg("task") = 4, py::arg("type") = 8, py::arg("length") = py::none(), py::arg("tmin") = py::none(),
            py::arg("tmax") = py::none(), py::arg("pulses") = std::make_tuple(6, 30, 1),
            py::arg("noise") = std::make_tuple(0, 29, 5), py::arg("repeats") = 100,
            py::arg("saved_energy_create") = py::none(), py::arg("saved_energy_process") = py::none(),
            py::arg("candidates") = py::none(), py::arg("tuple") = py::none(), py::arg("tuples") = py::none(),
            py::arg("proceeding") = 1, py::arg("threads") = 0, py::arg("progress") = py::none());
}

}  // namespace pulsebench_python
