// The `pulsebench._core` extension: the readers and quantisation of io/, the exact detection in a
// recording (core/detect.h), and the batch tool's series, process and simulate commands, on
// numpy arrays.
//
// The commands are the batch tool's own functions: each call runs one of them into a string and
// turns its JSON into numpy arrays, so that the numbers are the batch tool's by construction.
// Detection takes its signal and shapes through the same baseline removal and quantisation as
// the batch tool and the recording view, and reports in the JSON of `detect`.

#include <pybind11/functional.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <limits>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli_commands.h"
#include "core/detect.h"
#include "core/version.h"
#include "io/library_versions.h"
#include "io/quantise.h"
#include "io/shapes.h"
#include "io/signal_reader.h"
#include "model/random.h"
#include "core/detect_setup.h"

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

// A signal as the readers keep it: 4-byte floats (see Signal), checked as realVector does.
std::vector<float> signalSamples(const py::handle& object) {
    const std::vector<double> values = realVector(object, "signal");
    std::vector<float> samples;
    samples.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        if (std::fabs(values[i]) > std::numeric_limits<float>::max())
            throw py::value_error("signal value at index " + std::to_string(i) + " is beyond the float range");
        samples.push_back(static_cast<float>(values[i]));
    }
    return samples;
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

// The etalons processing may look for: unset means all, an empty list is refused (as the batch
// tool refuses an empty --candidates).
std::vector<uint16_t> candidateList(const std::optional<std::vector<int64_t>>& candidates) {
    if (candidates && candidates->empty())
        throw py::value_error("candidates is empty: name at least one etalon, or leave it out for all");
    return listInRange<uint16_t>(candidates, 0, 65535, "candidates");
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

// ---- long calls -----------------------------------------------------------------------------

// Runs long work on a thread of its own while the calling thread waits for it with the GIL
// released, so that other Python threads run meanwhile. Every 50 ms, and whenever the work
// calls notify(), the calling thread takes the GIL for a moment: it looks for a pending signal
// (Ctrl-C raises KeyboardInterrupt in the main thread) and delivers what the work reported (the
// progress callback). Either stops the work through `cancel`, which the work polls; the Python
// exception is raised once the work has returned. The caller must not hold the GIL.
class Watch {
public:
    std::atomic<bool> cancel{false};

    // Wakes the waiting thread to deliver news of the work.
    void notify() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            ++events_;
        }
        wake_.notify_one();
    }

    // Runs `work` on a new thread; `deliver` runs on the calling thread with the GIL held.
    // Returns when the work has returned and rethrows what it or the delivery threw. A Python
    // exception (a signal's, or one the delivery raised) is left pending: the caller raises it
    // (PyErr_Occurred) once it holds the GIL again.
    void run(const std::function<void()>& work, const std::function<void()>& deliver) {
        std::exception_ptr failure, deliveryFailure;
        bool done = false;
        std::thread worker([&] {
            try {
                work();
            } catch (...) {
                failure = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                done = true;
            }
            wake_.notify_one();
        });
        bool stopped = false;
        uint64_t seen = 0;
        for (;;) {
            bool finished;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait_for(lock, std::chrono::milliseconds(50), [&] { return done || events_ != seen; });
                seen = events_;
                finished = done;
            }
            if (!stopped) {
                py::gil_scoped_acquire acquire;
                if (PyErr_CheckSignals() != 0) {
                    stopped = true;
                } else if (deliver) {
                    try {
                        deliver();
                    } catch (py::error_already_set& e) {
                        e.restore();
                        stopped = true;
                    } catch (...) {
                        deliveryFailure = std::current_exception();
                        stopped = true;
                    }
                }
                if (stopped) cancel = true;
            }
            if (finished) break;
        }
        worker.join();
        if (failure) std::rethrow_exception(failure);
        if (deliveryFailure) std::rethrow_exception(deliveryFailure);
    }

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t events_ = 0;
};

// ---- the generator state --------------------------------------------------------------------

class Workbench {
public:
    // Runs `command` with this object's seed cells, the GIL released, and returns its exit code;
    // the command writes its output itself. The commands take the cells as runWithSeeds does
    // (app/cli_commands.h): the series carry on from the object's cells, the alphabet is always
    // the start-up one, and a refused or stopped command leaves the cells as they were. The cells
    // are read and written under the object's own lock, so one object may be used from several
    // threads while other objects run at the same time. The GIL is released before the lock is
    // taken (a waiting thread holds neither).
    template <class Command>
    int run(Command&& command) {
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(cellsLock_);
        return command(cells_);
    }

private:
    std::mutex cellsLock_;
    SeedCells cells_{};
};

void raiseRefusal(const CollectingSink& sink, const char* command) {
    throw py::value_error(sink.messages.empty() ? std::string(command) + " was refused" : sink.messages);
}

json parseOutput(const std::string& text) {
    return json::parse(text);
}

// A whole number given to an argument typed as any object: a Python int or anything with
// __index__ (numpy's integer scalars), never a bool. Beyond 64 bits it is refused by name.
bool isWholeNumber(const py::handle& value) {
    return !py::isinstance<py::bool_>(value) && !py::isinstance<py::str>(value) && PyIndex_Check(value.ptr());
}
int64_t wholeNumberOf(const py::handle& value, const std::string& name) {
    py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
    if (!index) throw py::error_already_set();
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
    if (overflow != 0)
        throw py::value_error(name + " is too " + (overflow > 0 ? "large" : "small") + " (beyond 64 bits): " +
                              std::string(py::str(index)));
    if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
    return v;
}

// A path: a str or any os.PathLike.
std::string pathOf(const py::handle& path) {
    py::object text = py::module_::import("os").attr("fspath")(path);
    if (!py::isinstance<py::str>(text)) throw py::type_error("path must be a str or an os.PathLike giving a str");
    return text.cast<std::string>();
}

// ---- detection ------------------------------------------------------------------------------

// A gap limit: a whole number of samples, or the text the batch tool takes ("40", "0.3s").
int64_t gapLimit(const py::handle& value, double rate, const char* name, int64_t least = 1) {
    if (!(isWholeNumber(value) || py::isinstance<py::str>(value)))
        throw py::type_error(std::string(name) + " must be a whole number of samples or a text such as \"0.3s\"");
    if (isWholeNumber(value)) {
        const int64_t samples = wholeNumberOf(value, name);
        if (samples < least)
            throw py::value_error(std::string(name) + " must be at least " + std::to_string(least) + " sample" +
                                  (least == 1 ? "" : "s") + ", not " + std::to_string(samples));
        return samples;
    }
    IoResult<int64_t> parsed = parseSamplesOrSeconds(value.cast<std::string>(), rate, name);
    if (!parsed) throw py::value_error(parsed.error);
    if (parsed.value < least)
        throw py::value_error(std::string(name) + " must be at least " + std::to_string(least) + " sample" +
                              (least == 1 ? "" : "s"));
    return parsed.value;
}

DetectTask detectTaskOf(const std::string& task) {
    for (const DetectTask t : {DetectTask::detect, DetectTask::joint, DetectTask::recognize})
        if (task == detectTaskName(t)) return t;
    throw py::value_error("task must be one of \"detect\", \"joint\", \"recognize\", not \"" + task + "\"");
}

// Candidates by name (an int n names the shape "n", as the rows of a 2-D array are named), in
// the order given; unset: every shape in order.
std::vector<int32_t> candidatesOf(const std::optional<py::sequence>& names, const std::vector<Shape>& shapes) {
    std::vector<int32_t> indices;
    if (!names) {
        for (size_t i = 0; i < shapes.size(); ++i) indices.push_back(static_cast<int32_t>(i));
        return indices;
    }
    if (py::isinstance<py::str>(*names)) throw py::type_error("candidates must be a sequence of shape names");
    for (const py::handle item : *names) {
        std::string name;
        if (py::isinstance<py::str>(item))
            name = item.cast<std::string>();
        else if (isWholeNumber(item))
            name = std::to_string(wholeNumberOf(item, "candidates"));
        else
            throw py::type_error("candidates must be shape names");
        const auto found = std::find_if(shapes.begin(), shapes.end(), [&](const Shape& s) { return s.name == name; });
        if (found == shapes.end()) {
            std::string list;
            for (const Shape& s : shapes) list += (list.empty() ? "" : ", ") + s.name;
            throw py::value_error("candidate \"" + name + "\" is none of the shapes (" + list + ")");
        }
        const auto index = static_cast<int32_t>(found - shapes.begin());
        if (std::find(indices.begin(), indices.end(), index) != indices.end())
            throw py::value_error("candidate \"" + name + "\" is named twice");
        indices.push_back(index);
    }
    if (indices.empty()) throw py::value_error("candidates is empty");
    return indices;
}

}  // namespace

PYBIND11_MODULE(_core, m) {
    m.doc() = "PulseBench engine bindings (use the `pulsebench` package).";
    // The build's version, and the libraries the module is built with as each states it.
    m.attr("__version__") = pulsebenchVersion;
    py::dict libraries;
    libraries["libsndfile"] = soundFileLibraryVersion();
    libraries["nlohmann json"] = jsonLibraryVersion();
    libraries["pybind11"] = std::to_string(PYBIND11_VERSION_MAJOR) + "." + std::to_string(PYBIND11_VERSION_MINOR) +
                            "." + std::to_string(PYBIND11_VERSION_PATCH);
    m.attr("libraries") = libraries;

    m.def(
        "read_signal",
        [](const py::object& pathObject, std::optional<py::object> column, std::optional<py::object> channel,
           std::optional<double> rate) {
            const std::string path = pathOf(pathObject);
            SignalReadOptions options;
            if (column) {
                if (isWholeNumber(*column))
                    options.column = std::to_string(wholeNumberOf(*column, "column"));
                else if (py::isinstance<py::str>(*column))
                    options.column = column->cast<std::string>();
                else
                    throw py::type_error("column must be a 1-based number or a header name");
            }
            if (channel) {
                if (!isWholeNumber(*channel)) throw py::type_error("channel must be a 1-based channel number");
                const int64_t k = wholeNumberOf(*channel, "channel");
                if (k < 1 || k > 65535) throw py::value_error("channel must lie in 1..65535, not " + std::to_string(k));
                options.channel = static_cast<int>(k);
            }
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

    m.def("read_etalons", [](const py::object& pathObject) {
        const std::string path = pathOf(pathObject);
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
            const std::vector<float> samples = signalSamples(signal);
            const std::vector<Shape> shapes = shapesFrom(etalons);
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

    m.def(
        "detect",
        [](const py::object& signal, const py::object& etalons, const py::object& tmin, const py::object& tmax,
           std::optional<int64_t> count, int64_t savedEnergy, const std::string& task,
           std::optional<py::sequence> candidates, double rate, std::optional<double> baseline, int64_t threads,
           std::optional<py::function> progress, const py::object& templates) {
            if (!isSampleRate(rate))
                throw py::value_error("rate must lie from 1e-06 to 1e+12 samples per second, not " + std::to_string(rate));
            Signal recording;
            recording.samples = signalSamples(signal);
            recording.rate = rate;
            std::vector<ListedShape> listed;
            if (etalons.is_none() == templates.is_none())
                throw py::value_error(etalons.is_none()
                                          ? "no pulse shapes: give etalons or templates=[(start, length, name), ...]"
                                          : "etalons and templates exclude each other: shapes come from one place");
            if (!templates.is_none()) {
                // Shapes cut from the signal, as --template cuts them: after the baseline removal
                // when there is one (prepareDetection cuts them again there).
                if (py::isinstance<py::str>(templates) || !py::isinstance<py::sequence>(templates))
                    throw py::type_error("templates must be a sequence of (start, length) or (start, length, name)");
                for (const py::handle item : py::reinterpret_borrow<py::sequence>(templates)) {
                    if (py::isinstance<py::str>(item) || !py::isinstance<py::sequence>(item) || py::len(item) < 2 ||
                        py::len(item) > 3)
                        throw py::type_error("a template is (start, length) or (start, length, name)");
                    const auto part = py::reinterpret_borrow<py::sequence>(item);
                    const int64_t first = gapLimit(part[0], rate, "template start", 0);
                    const int64_t length = gapLimit(part[1], rate, "template length");
                    std::string name = "t" + std::to_string(listed.size() + 1);  // as --template names them
                    if (py::len(item) == 3) {
                        if (!py::isinstance<py::str>(part[2])) throw py::type_error("a template's name must be a str");
                        name = part[2].cast<std::string>();
                    }
                    if (first > static_cast<int64_t>(recording.samples.size()) ||
                        length > static_cast<int64_t>(recording.samples.size()) - first)
                        throw py::value_error("template (" + std::to_string(first) + ", " + std::to_string(length) +
                                              ") reaches beyond the signal's " +
                                              std::to_string(recording.samples.size()) + " samples");
                    IoResult<ListedShape> cut = cutShape(recording, first, first + length, name, listed);
                    if (!cut) throw py::value_error(cut.error);
                    listed.push_back(std::move(cut.value));
                }
            } else {
                for (Shape& shape : shapesFrom(etalons)) listed.push_back({std::move(shape), std::nullopt, true});
            }
            std::vector<Shape> shapes;
            for (const ListedShape& l : listed) shapes.push_back(l.shape);

            DetectSettings settings;
            settings.task = detectTaskOf(task);
            settings.tmin = gapLimit(tmin, rate, "tmin");
            settings.tmax = gapLimit(tmax, rate, "tmax");
            if (settings.tmin > settings.tmax)
                throw py::value_error("tmin (" + std::to_string(settings.tmin) + " samples) is above tmax (" +
                                      std::to_string(settings.tmax) + " samples)");
            if (const IoStatus fits = checkShapesFitTmax(shapes, settings.tmax); !fits) throw py::value_error(fits.error);
            if (count && *count < 1) throw py::value_error("count must be at least 1, not " + std::to_string(*count));
            settings.count = count;
            settings.savedEnergy = *inRange<int32_t>(savedEnergy, 0, 100, "saved_energy");
            if (baseline && (!std::isfinite(*baseline) || *baseline <= 0))
                throw py::value_error("baseline must be a positive number of seconds");
            settings.baselineSeconds = baseline;
            settings.candidates = candidatesOf(candidates, shapes);
            if (settings.task == DetectTask::detect && settings.candidates.size() != 1)
                throw py::value_error("task \"detect\" looks for exactly one shape; name it with candidates=[...] (" +
                                      std::to_string(settings.candidates.size()) + " given)");
            const int32_t threadCount = *inRange<int32_t>(threads, 0, 256, "threads");

            // The baseline, the quantisation and the run, on a thread of their own; this thread
            // delivers the progress and stops the run on Ctrl-C.
            Watch watch;
            std::atomic<double> fraction{0};
            double delivered = -1;
            std::string refusal;
            DetectResult result;
            PreparedDetection prepared;
            const auto start = std::chrono::steady_clock::now();
            {
                py::gil_scoped_release release;
                watch.run(
                    [&] {
                        if (IoStatus ready = prepareDetection(recording, listed, settings, prepared); !ready) {
                            refusal = ready.error;
                            return;
                        }
                        prepared.request.threads = threadCount;
                        result = detectInRecording(
                            prepared.request,
                            [&](double done) {
                                fraction = done;
                                watch.notify();
                            },
                            watch.cancel);
                    },
                    [&] {
                        const double now = fraction.load();
                        if (progress && now != delivered) {
                            delivered = now;
                            (*progress)(now);
                        }
                    });
            }
            if (PyErr_Occurred()) throw py::error_already_set();
            if (!refusal.empty()) throw py::value_error(refusal);
            if (!result.error.empty()) throw py::value_error(result.error);
            if (!result.completed) throw py::value_error("the detection was stopped");

            DetectReport report;
            report.samples = static_cast<int64_t>(recording.samples.size());
            report.rate = rate;
            report.scale = prepared.quantised.scale;
            report.shapes = shapes;
            report.task = settings.task;
            report.distance = result.distance;
            report.pulses = result.pulses;
            report.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

            std::vector<int64_t> position, measure;
            std::vector<int32_t> etalon, cutStart, cutEnd;
            py::list names;
            for (const DetectedPulse& p : result.pulses) {
                position.push_back(p.position);
                etalon.push_back(p.shape);
                cutStart.push_back(p.cutStart);
                cutEnd.push_back(p.cutEnd);
                measure.push_back(p.measure);
                names.append(py::str(shapes.at(static_cast<size_t>(p.shape)).name));
            }
            py::list shapeNames;
            for (const Shape& shape : shapes) shapeNames.append(py::str(shape.name));
            py::dict d;
            d["position"] = toArray(position);
            d["etalon"] = toArray(etalon);
            d["name"] = names;
            d["cut_start"] = toArray(cutStart);
            d["cut_end"] = toArray(cutEnd);
            d["measure"] = toArray(measure);
            d["distance"] = result.distance;
            d["scale"] = prepared.quantised.scale;
            d["rate"] = rate;
            d["samples"] = report.samples;
            d["task"] = detectTaskName(settings.task);
            d["etalon_names"] = shapeNames;
            d["seconds"] = report.seconds;
            d["json"] = detectReportJson(report);
            return d;
        },
        "The exact detection in a recording (see pulsebench.detect): returns a dict of the found pulses' arrays, "
        "the distance, the scale and the JSON of `detect`.",
        py::arg("signal"), py::arg("etalons"), py::arg("tmin"), py::arg("tmax"), py::arg("count") = py::none(),
        py::arg("saved_energy") = 100, py::arg("task") = "joint", py::arg("candidates") = py::none(),
        py::arg("rate") = 1.0, py::arg("baseline") = py::none(), py::arg("threads") = 0,
        py::arg("progress") = py::none(), py::arg("templates") = py::none());

    py::class_<Workbench>(m, "Workbench")
        .def(py::init<>())
        .def("alphabet",
             [](Workbench& self) {
                 std::ostringstream out;
                 CollectingSink sink;
                 const int code = self.run([&](SeedCells&) { return runAlphabet(true, out, sink); });
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
                const int code = self.run([&](SeedCells& cells) { return runSeries(o, out, sink, cells); });
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
                p.candidates = candidateList(candidates);
                p.tuple = listInRange<int32_t>(tuple, -2147483648LL, 2147483647LL, "tuple");
                p.tuples = tuplesFrom(tuples);
                p.proceeding = oneOf<uint16_t>(proceeding, {1, 2}, "proceeding");
                p.savedEnergyProcess = inRange<uint16_t>(savedEnergyProcess, 0, 100, "saved_energy_process");
                std::ostringstream out;
                CollectingSink sink;
                const int code = self.run([&](SeedCells& cells) { return runProcess(p, out, sink, cells); });
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
                o.candidates = candidateList(candidates);
                o.tuple = listInRange<int32_t>(tuple, -2147483648LL, 2147483647LL, "tuple");
                o.tuples = tuplesFrom(tuples);
                o.proceeding = oneOf<uint16_t>(proceeding, {1, 2}, "proceeding");
                o.threads = *inRange<int>(threads, 0, 256, "threads");
                o.json = true;

                // Progress and Ctrl-C: the grid runs on a thread of its own; this thread delivers
                // the progress of every cell to the callback and stops the run (the driver's cancel
                // flag, polled between repeats) on Ctrl-C or when the callback raises.
                Watch watch;
                o.cancel = &watch.cancel;
                std::mutex reportLock;
                std::deque<std::pair<int, int>> reports;
                o.progress = [&](int done, int total) {
                    {
                        std::lock_guard<std::mutex> lock(reportLock);
                        reports.emplace_back(done, total);
                    }
                    watch.notify();
                };
                const auto deliver = [&] {
                    std::deque<std::pair<int, int>> now;
                    {
                        std::lock_guard<std::mutex> lock(reportLock);
                        now.swap(reports);
                    }
                    if (progress)
                        for (const auto& [done, total] : now) (*progress)(done, total);
                };
                std::ostringstream out;
                CollectingSink sink;
                const int code = self.run([&](SeedCells& cells) {
                    int status = 1;
                    watch.run([&] { status = runSimulate(o, out, sink, cells); }, deliver);
                    return status;
                });
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
