// The `pulsebench._core` extension: the readers and quantisation of io/, and the batch tool's
// series, process and simulate commands, on numpy arrays.
//
// The commands are the batch tool's own functions: each call runs one of them into a string and
// turns its JSON into numpy arrays, so that the numbers are the batch tool's by construction.

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli_commands.h"
#include "io/quantise.h"
#include "io/shapes.h"
#include "io/signal_reader.h"
#include "model/random.h"

namespace py = pybind11;
using nlohmann::json;

namespace {

// Collects the messages a command would print on standard error, for the exception it raises.
class CollectingSink : public StderrMessageSink {
public:
    void messageBox(const std::string& text, const std::string& caption, MessageIcon) override {
        const auto first = caption.find_first_not_of(' ');
        const std::string trimmed =
            first == std::string::npos ? "" : caption.substr(first, caption.find_last_not_of(' ') - first + 1);
        std::string body = text;
        while (!body.empty() && body.back() == '\n') body.pop_back();
        if (!messages.empty()) messages += "\n";
        messages += (trimmed.empty() ? "" : trimmed + ": ") + body;
        ++count;
    }
    std::string messages;
};

// ---- arrays in ------------------------------------------------------------------------------

// A 1-D real or integer array as doubles, refusing other shapes and dtypes, empty arrays and
// values that are not finite. `what` names the argument in messages.
std::vector<double> realVector(const py::handle& object, const std::string& what) {
    py::array array = py::array::ensure(object);
    if (!array) throw py::type_error(what + " must be a numpy array or a sequence of numbers");
    const char kind = array.dtype().kind();
    if (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b')
        throw py::type_error(what + " must hold real or integer numbers, not dtype " +
                             std::string(py::str(array.dtype())));
    if (array.ndim() != 1)
        throw py::value_error(what + " must be 1-D, not " + std::to_string(array.ndim()) + "-D");
    if (array.size() == 0) throw py::value_error(what + " is empty");
    const auto doubles = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(array);
    if (!doubles) throw py::type_error(what + " cannot be read as numbers");
    const double* data = doubles.data();
    std::vector<double> values(data, data + doubles.size());
    for (size_t i = 0; i < values.size(); ++i)
        if (!std::isfinite(values[i]))
            throw py::value_error(what + " holds " + (std::isnan(values[i]) ? "NaN" : "infinity") + " at index " +
                                  std::to_string(i));
    return values;
}

// Etalons as a mapping name -> 1-D array, or a 2-D array with one shape a row (named "1", "2",
// ...). Checked as an alphabet (checkShapes).
std::vector<Shape> shapesFrom(const py::handle& object) {
    std::vector<Shape> shapes;
    if (py::isinstance<py::dict>(object)) {
        for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(object)) {
            if (!py::isinstance<py::str>(key)) throw py::type_error("etalon names must be strings");
            const std::string name = key.cast<std::string>();
            shapes.push_back({name, realVector(value, "etalon \"" + name + "\"")});
        }
    } else {
        py::array array = py::array::ensure(object);
        const char kind = array ? array.dtype().kind() : 'O';
        if (!array || (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b'))
            throw py::type_error("etalons must be a dict name -> 1-D array or a 2-D array of numbers");
        if (array.ndim() != 2)
            throw py::value_error("etalons as an array must be 2-D (one shape a row), not " +
                                  std::to_string(array.ndim()) + "-D");
        for (py::ssize_t r = 0; r < array.shape(0); ++r) {
            const std::string name = std::to_string(r + 1);
            shapes.push_back({name, realVector(array[py::int_(r)], "etalon row " + name)});
        }
    }
    if (const IoStatus status = checkShapes(shapes); !status) throw py::value_error(status.error);
    return shapes;
}

template <class T>
py::array_t<T> toArray(const std::vector<T>& values) {
    py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

template <class T>
py::array_t<T> jsonArray(const json& values) {
    return toArray(values.get<std::vector<T>>());
}

// ---- options --------------------------------------------------------------------------------

template <class T>
std::optional<T> inRange(const std::optional<int64_t>& value, int64_t low, int64_t high, const char* name) {
    if (!value) return std::nullopt;
    if (*value < low || *value > high)
        throw py::value_error(std::string(name) + " must lie in " + std::to_string(low) + ".." + std::to_string(high) +
                              ", not " + std::to_string(*value));
    return static_cast<T>(*value);
}

template <class T>
T oneOf(int64_t value, std::initializer_list<int64_t> allowed, const char* name) {
    if (std::find(allowed.begin(), allowed.end(), value) == allowed.end()) {
        std::string list;
        for (const int64_t a : allowed) list += (list.empty() ? "" : ", ") + std::to_string(a);
        throw py::value_error(std::string(name) + " must be one of " + list + ", not " + std::to_string(value));
    }
    return static_cast<T>(value);
}

template <class T>
std::vector<T> listInRange(const std::optional<std::vector<int64_t>>& values, int64_t low, int64_t high,
                           const char* name) {
    std::vector<T> out;
    if (!values) return out;
    for (const int64_t v : *values) out.push_back(*inRange<T>(v, low, high, name));
    return out;
}

SeriesOptions seriesOptions(int64_t type, std::optional<int64_t> length, std::optional<int64_t> tmin,
                            std::optional<int64_t> tmax, std::optional<int64_t> count,
                            std::optional<int64_t> savedEnergy, int64_t noise,
                            std::optional<std::vector<int64_t>> sequence, std::optional<std::vector<int64_t>> subset,
                            std::optional<int64_t> subsetMode, std::optional<int64_t> subsetStart) {
    SeriesOptions o;
    o.type = oneOf<uint32_t>(type, {1, 2, 4, 8, 16, 32, 36, 40}, "type");
    o.length = inRange<uint32_t>(length, 0, 4294967295LL, "length");
    o.tmin = inRange<uint16_t>(tmin, 0, 65535, "tmin");
    o.tmax = inRange<uint16_t>(tmax, 0, 65535, "tmax");
    o.count = inRange<uint16_t>(count, 0, 65535, "count");
    o.savedEnergy = inRange<uint16_t>(savedEnergy, 0, 100, "saved_energy");
    o.noise = *inRange<int16_t>(noise, -32768, 32767, "noise");
    o.sequence = listInRange<uint16_t>(sequence, 0, 65535, "sequence");
    o.subset = listInRange<int32_t>(subset, -2147483648LL, 2147483647LL, "subset");
    if ((subsetMode || subsetStart) && o.subset.empty())
        throw py::value_error("subset_mode and subset_start need a subset");
    o.subsetMode = inRange<int>(subsetMode, 1, 5, "subset_mode");
    o.subsetStart = inRange<int>(subsetStart, 1, 65535, "subset_start");
    o.json = true;
    return o;
}

std::vector<std::vector<int32_t>> tuplesFrom(const std::optional<std::vector<std::vector<int64_t>>>& tuples) {
    std::vector<std::vector<int32_t>> out;
    if (!tuples) return out;
    for (const auto& t : *tuples) {
        if (t.empty()) throw py::value_error("tuples holds an empty tuple");
        out.push_back(listInRange<int32_t>(t, -2147483648LL, 2147483647LL, "tuples"));
    }
    return out;
}

// ---- JSON out -------------------------------------------------------------------------------

// The numbers of one pulse list as arrays: position, etalon, cut_start, cut_end (and the start
// ranges of a series' true pulses).
py::dict pulsesDict(const json& pulses, bool ranges) {
    std::vector<int16_t> position, etalon, cutStart, cutEnd, positionMin, positionMax;
    for (const json& p : pulses) {
        position.push_back(p.at("position").get<int16_t>());
        etalon.push_back(p.at("etalon").get<int16_t>());
        cutStart.push_back(p.at("cutStart").get<int16_t>());
        cutEnd.push_back(p.at("cutEnd").get<int16_t>());
        if (ranges) {
            positionMin.push_back(p.at("positionMin").get<int16_t>());
            positionMax.push_back(p.at("positionMax").get<int16_t>());
        }
    }
    py::dict d;
    d["position"] = toArray(position);
    d["etalon"] = toArray(etalon);
    d["cut_start"] = toArray(cutStart);
    d["cut_end"] = toArray(cutEnd);
    if (ranges) {
        d["position_min"] = toArray(positionMin);
        d["position_max"] = toArray(positionMax);
    }
    return d;
}

py::dict seriesDict(const json& s) {
    py::dict d;
    d["length"] = s.at("length").get<int64_t>();
    d["tmin"] = s.at("tmin").get<int64_t>();
    d["tmax"] = s.at("tmax").get<int64_t>();
    d["impulse_size"] = s.at("impulseSize").get<int64_t>();
    d["min_pulses"] = s.at("minPulses").get<int64_t>();
    d["max_pulses"] = s.at("maxPulses").get<int64_t>();
    d["noise_sigma"] = s.at("noiseSigma").get<int64_t>();
    d["pulses"] = pulsesDict(s.at("pulses"), true);
    d["pure"] = jsonArray<int16_t>(s.at("pure"));
    d["noisy"] = jsonArray<int16_t>(s.at("noisy"));
    return d;
}

py::dict processDict(const json& r) {
    py::dict d = seriesDict(r);
    d["routine"] = r.at("routine").get<std::string>();
    d["answer"] = r.at("answer").get<int64_t>();
    const json& found = r.at("found");
    py::dict f = pulsesDict(found.at("pulses"), false);
    std::vector<int32_t> first, last;
    for (const json& g : found.at("groups")) {
        first.push_back(g.at("first").get<int32_t>());
        last.push_back(g.at("last").get<int32_t>());
    }
    f["group_first"] = toArray(first);
    f["group_last"] = toArray(last);
    f["result_code"] = found.at("resultCode").get<int64_t>();
    d["found"] = f;
    const json& chains = r.at("chains");
    py::dict c;
    c["quan_pulses"] = chains.at("quanPulses").get<int64_t>();
    c["seeking_pulses_quantity"] = chains.at("seekingPulsesQuantity").get<int64_t>();
    py::list rows;
    for (const json& row : chains.at("rows")) {
        py::dict one = pulsesDict(row.at("pulses"), false);
        one["distance"] = row.at("distance").get<int64_t>();
        rows.append(one);
    }
    c["rows"] = rows;
    d["chains"] = c;
    return d;
}

py::array_t<int32_t> jsonMatrix(const json& rows) {
    const size_t V = rows.size(), P = V ? rows.at(0).size() : 0;
    py::array_t<int32_t> m({static_cast<py::ssize_t>(V), static_cast<py::ssize_t>(P)});
    auto view = m.mutable_unchecked<2>();
    for (size_t k = 0; k < V; ++k)
        for (size_t j = 0; j < P; ++j) view(k, j) = rows[k].at(j).get<int32_t>();
    return m;
}

py::dict simulateDict(const json& r) {
    py::dict d;
    py::dict descriptor;
    const json& desc = r.at("descriptor");
    descriptor["series_type"] = desc.at("seriesType").get<int64_t>();
    descriptor["series_type_name"] = desc.at("seriesTypeName").get<std::string>();
    descriptor["task_type"] = desc.at("taskType").get<int64_t>();
    descriptor["task_name"] = desc.at("taskName").get<std::string>();
    descriptor["making_energy"] = desc.at("makingEnergy").get<int64_t>();
    descriptor["processing_energy"] = desc.at("processingEnergy").get<int64_t>();
    descriptor["length"] = desc.at("length").get<int64_t>();
    descriptor["tmin"] = desc.at("tmin").get<int64_t>();
    descriptor["tmax"] = desc.at("tmax").get<int64_t>();
    descriptor["impulse_size"] = desc.at("impulseSize").get<int64_t>();
    d["descriptor"] = descriptor;
    d["pulses"] = jsonArray<int16_t>(r.at("pulses"));
    d["noise_levels"] = jsonArray<int16_t>(r.at("noiseLevels"));
    d["repeats"] = r.at("repeats").get<int64_t>();
    d["errors"] = jsonMatrix(r.at("errors"));
    d["detect_errors"] = jsonMatrix(r.at("detectErrors"));
    d["recogn_errors"] = jsonMatrix(r.at("recognErrors"));
    d["start_time"] = r.at("startTime").get<std::string>();
    d["end_time"] = r.at("endTime").get<std::string>();
    return d;
}

// ---- the generator state --------------------------------------------------------------------

// The engine's seed cells are one record for the process. Every call that generates holds this
// lock with the object's own cells swapped in, so objects and threads never see each other's
// draws. The GIL is released before the lock is taken (a waiting thread holds neither).
std::mutex engineLock;

class Workbench {
public:
    // Runs `command` with this object's seed cells in the process-wide record, the GIL released.
    // Returns the command's exit code; the command writes its output itself. Every command builds
    // the alphabet from the start-up state, so the alphabet cell is kept at its start value (the
    // object's alphabet never changes); the other cells carry over to the next call. A refused or
    // stopped command, or one run with `keepCells`, leaves the object's cells as they were. The
    // cells are read and written under the lock only, so one object may be used from several
    // threads.
    template <class Command>
    int run(Command&& command, bool keepCells = false) {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(engineLock);
        const SeedCells outer = seedCells;
        seedCells = cells_;
        int code = 1;
        try {
            code = command();
        } catch (...) {
            seedCells = outer;
            throw;
        }
        if (code == 0 && !keepCells) {
            const int16_t alphabetSeed = cells_.alphabetSeed;
            cells_ = seedCells;
            cells_.alphabetSeed = alphabetSeed;
        }
        seedCells = outer;
        return code;
    }

private:
    SeedCells cells_{};
};

void raiseRefusal(const CollectingSink& sink, const char* command) {
    throw py::value_error(sink.messages.empty() ? std::string(command) + " was refused" : sink.messages);
}

json parseOutput(const std::string& text) {
    return json::parse(text);
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "PulseBench engine bindings (use the `pulsebench` package).";

    m.def(
        "read_signal",
        [](const std::string& path, std::optional<py::object> column, std::optional<int> channel,
           std::optional<double> rate) {
            SignalReadOptions options;
            if (column) {
                if (py::isinstance<py::bool_>(*column))
                    throw py::type_error("column must be a 1-based number or a header name");
                if (py::isinstance<py::int_>(*column))
                    options.column = std::to_string(column->cast<int64_t>());
                else if (py::isinstance<py::str>(*column))
                    options.column = column->cast<std::string>();
                else
                    throw py::type_error("column must be a 1-based number or a header name");
            }
            options.channel = channel;
            options.rate = rate;
            IoResult<Signal> result;
            {
                py::gil_scoped_release release;
                result = readSignal(path, options);
            }
            if (!result) throw py::value_error(result.error);
            const auto& samples = result.value.samples;
            py::array_t<double> array(static_cast<py::ssize_t>(samples.size()));
            std::copy(samples.begin(), samples.end(), array.mutable_data());
            return py::make_tuple(array, result.value.rate);
        },
        py::arg("path"), py::arg("column") = py::none(), py::arg("channel") = py::none(),
        py::arg("rate") = py::none());

    m.def("read_etalons", [](const std::string& path) {
        IoResult<std::vector<Shape>> result;
        {
            py::gil_scoped_release release;
            result = readShapes(path);
        }
        if (!result) throw py::value_error(result.error);
        py::dict shapes;
        for (const Shape& shape : result.value) {
            if (shapes.contains(shape.name)) throw py::value_error(path + ": etalon \"" + shape.name + "\" named twice");
            shapes[py::str(shape.name)] = toArray(shape.samples);
        }
        return shapes;
    }, py::arg("path"));

    m.def(
        "quantise",
        [](const py::object& signal, const py::object& etalons) {
            const std::vector<double> values = realVector(signal, "signal");
            const std::vector<Shape> shapes = shapesFrom(etalons);
            std::vector<float> samples;
            samples.reserve(values.size());
            for (size_t i = 0; i < values.size(); ++i) {
                if (std::fabs(values[i]) > std::numeric_limits<float>::max())
                    throw py::value_error("signal value at index " + std::to_string(i) + " is beyond the float range");
                samples.push_back(static_cast<float>(values[i]));
            }
            IoResult<QuantisedRecording> result;
            {
                py::gil_scoped_release release;
                result = quantise(samples, shapes);
            }
            if (!result) throw py::value_error(result.error);
            py::dict q;
            q["scale"] = result.value.scale;
            q["peak"] = result.value.peak;
            q["signal"] = toArray(result.value.signal);
            py::dict quantisedShapes;
            for (size_t i = 0; i < shapes.size(); ++i) quantisedShapes[py::str(shapes[i].name)] = toArray(result.value.shapes[i]);
            q["etalons"] = quantisedShapes;
            return q;
        },
        py::arg("signal"), py::arg("etalons"));

    py::class_<Workbench>(m, "Workbench")
        .def(py::init<>())
        .def("alphabet",
             [](Workbench& self) {
                 std::ostringstream out;
                 CollectingSink sink;
                 const int code = self.run([&] { return runAlphabet(true, out, sink); }, true);
                 if (code != 0) raiseRefusal(sink, "alphabet");
                 const json doc = parseOutput(out.str());
                 const json& etalons = doc.at("etalons");
                 const size_t L = etalons.empty() ? 0 : etalons.at(0).at("size").get<size_t>();
                 py::array_t<int16_t> a({static_cast<py::ssize_t>(etalons.size()), static_cast<py::ssize_t>(L)});
                 auto view = a.mutable_unchecked<2>();
                 for (size_t i = 0; i < etalons.size(); ++i) {
                     const auto samples = etalons[i].at("samples").get<std::vector<int16_t>>();
                     for (size_t k = 0; k < L && k < samples.size(); ++k) view(i, k) = samples[k];
                 }
                 return a;
             })
        .def(
            "series",
            [](Workbench& self, int64_t type, std::optional<int64_t> length, std::optional<int64_t> tmin,
               std::optional<int64_t> tmax, std::optional<int64_t> count, std::optional<int64_t> savedEnergy,
               int64_t noise, std::optional<std::vector<int64_t>> sequence,
               std::optional<std::vector<int64_t>> subset, std::optional<int64_t> subsetMode,
               std::optional<int64_t> subsetStart) {
                const SeriesOptions o = seriesOptions(type, length, tmin, tmax, count, savedEnergy, noise, sequence,
                                                      subset, subsetMode, subsetStart);
                std::ostringstream out;
                CollectingSink sink;
                const int code = self.run([&] { return runSeries(o, out, sink); });
                if (code != 0) raiseRefusal(sink, "series");
                return seriesDict(parseOutput(out.str()).at(0));
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
                ProcessOptions p;
                p.series = seriesOptions(type, length, tmin, tmax, count, savedEnergy, noise, sequence, subset,
                                         subsetMode, subsetStart);
                p.task = oneOf<uint16_t>(task, {1, 2, 4, 36, 40, 64}, "task");
                p.candidates = listInRange<uint16_t>(candidates, 0, 65535, "candidates");
                p.tuple = listInRange<int32_t>(tuple, -2147483648LL, 2147483647LL, "tuple");
                p.tuples = tuplesFrom(tuples);
                p.proceeding = oneOf<uint16_t>(proceeding, {1, 2}, "proceeding");
                p.savedEnergyProcess = inRange<uint16_t>(savedEnergyProcess, 0, 100, "saved_energy_process");
                std::ostringstream out;
                CollectingSink sink;
                const int code = self.run([&] { return runProcess(p, out, sink); });
                if (code != 0) raiseRefusal(sink, "process");
                return processDict(parseOutput(out.str()).at(0));
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
                SimulateOptions o;
                o.task = oneOf<uint16_t>(task, {1, 2, 4, 36, 40, 64}, "task");
                o.type = oneOf<uint32_t>(type, {1, 2, 4, 8, 16, 32, 36, 40}, "type");
                o.length = inRange<uint32_t>(length, 0, 4294967295LL, "length");
                o.tmin = inRange<uint16_t>(tmin, 0, 65535, "tmin");
                o.tmax = inRange<uint16_t>(tmax, 0, 65535, "tmax");
                // The grid's parts in their full width; runSimulate checks them together.
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
                o.savedEnergyCreate = inRange<uint16_t>(savedEnergyCreate, 0, 100, "saved_energy_create");
                o.savedEnergyProcess = inRange<uint16_t>(savedEnergyProcess, 0, 100, "saved_energy_process");
                o.candidates = listInRange<uint16_t>(candidates, 0, 65535, "candidates");
                o.tuple = listInRange<int32_t>(tuple, -2147483648LL, 2147483647LL, "tuple");
                o.tuples = tuplesFrom(tuples);
                o.proceeding = oneOf<uint16_t>(proceeding, {1, 2}, "proceeding");
                o.threads = *inRange<int>(threads, 0, 256, "threads");
                o.json = true;

                // Progress and Ctrl-C: the driver calls back on this thread after every cell; the GIL
                // is taken briefly to look for a pending signal (Ctrl-C) and to call the callback.
                std::atomic<bool> cancel{false};
                o.cancel = &cancel;
                o.progress = [&](int done, int total) {
                    if (cancel) return;
                    py::gil_scoped_acquire acquire;
                    if (PyErr_CheckSignals() != 0) {  // the KeyboardInterrupt is now pending
                        cancel = true;
                        return;
                    }
                    if (progress) {
                        try {
                            (*progress)(done, total);
                        } catch (py::error_already_set& e) {
                            e.restore();
                            cancel = true;
                        }
                    }
                };
                std::ostringstream out;
                CollectingSink sink;
                const int code = self.run([&] { return runSimulate(o, out, sink); });
                if (PyErr_Occurred()) throw py::error_already_set();
                if (code != 0) raiseRefusal(sink, "simulate");
                return simulateDict(parseOutput(out.str()));
            },
            py::arg("task") = 4, py::arg("type") = 8, py::arg("length") = py::none(), py::arg("tmin") = py::none(),
            py::arg("tmax") = py::none(), py::arg("pulses") = std::make_tuple(6, 30, 1),
            py::arg("noise") = std::make_tuple(0, 29, 5), py::arg("repeats") = 100,
            py::arg("saved_energy_create") = py::none(), py::arg("saved_energy_process") = py::none(),
            py::arg("candidates") = py::none(), py::arg("tuple") = py::none(), py::arg("tuples") = py::none(),
            py::arg("proceeding") = 1, py::arg("threads") = 0, py::arg("progress") = py::none());
}
