#include "python/bindings.h"

#include <chrono>
#include <cmath>
#include <exception>
#include <limits>
#include <thread>

#include "io/signal_reader.h"

namespace pulsebench_python {

void raiseRefusal(const CollectingSink& sink, const char* command) {
    throw py::value_error(sink.messages.empty() ? std::string(command) + " was refused" : sink.messages);
}

const char* argumentName(RequestField field) {
    switch (field) {
        case RequestField::none: return "";
        case RequestField::type: return "type";
        case RequestField::length: return "length";
        case RequestField::count: return "count";
        case RequestField::savedEnergy: return "saved_energy";
        case RequestField::subset: return "subset";
        case RequestField::subsetMode: return "subset_mode";
        case RequestField::subsetStart: return "subset_start";
        case RequestField::repeat: return "repeat";
        case RequestField::task: return "task";
        case RequestField::candidates: return "candidates";
        case RequestField::tuple: return "tuple";
        case RequestField::tuples: return "tuples";
        case RequestField::proceeding: return "proceeding";
        case RequestField::savedEnergyCreate: return "saved_energy_create";
        case RequestField::savedEnergyProcess: return "saved_energy_process";
        case RequestField::pulses: return "pulses";
        case RequestField::noise: return "noise";
        case RequestField::repeats: return "repeats";
    }
    return "";
}

void raiseRefusal(const Refusal& refusal) {
    throw py::value_error(refusal.textFor(argumentName(refusal.field)));
}

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

// A 1-D array as one channel, or a 2-D array as channels x samples, its rows one after the
// other as doubles, checked as realVector checks; `channels` is set to the rows.
std::vector<double> realChannels(const py::handle& object, const std::string& what, int& channels) {
    py::array array = py::array::ensure(object);
    if (array && array.ndim() == 2) {
        if (array.shape(0) < 1 || array.shape(0) > maxSignalChannels)
            throw py::value_error(what + " as channels x samples must have 1 to " + std::to_string(maxSignalChannels) +
                                  " rows, not " + std::to_string(array.shape(0)));
        if (array.shape(1) == 0) throw py::value_error(what + " is empty");
        channels = static_cast<int>(array.shape(0));
        std::vector<double> values;
        for (py::ssize_t r = 0; r < array.shape(0); ++r) {
            const std::vector<double> row = realVector(array[py::int_(r)], what + " channel " + std::to_string(r + 1));
            values.insert(values.end(), row.begin(), row.end());
        }
        return values;
    }
    channels = 1;
    return realVector(object, what);
}

// Etalons as a mapping name -> 1-D array (or 2-D, channels x samples), or a 2-D array with one
// shape a row (named "1", "2", ...; 3-D: shapes x channels x samples). Checked as an alphabet
// (checkShapes).
std::vector<Shape> shapesFrom(const py::handle& object) {
    std::vector<Shape> shapes;
    if (py::isinstance<py::dict>(object)) {
        for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(object)) {
            if (!py::isinstance<py::str>(key)) throw py::type_error("etalon names must be strings");
            const std::string name = key.cast<std::string>();
            Shape shape{name, {}};
            shape.samples = realChannels(value, "etalon \"" + name + "\"", shape.channels);
            shapes.push_back(std::move(shape));
        }
    } else if (py::array cube = py::array::ensure(object); cube && cube.ndim() == 3) {
        for (py::ssize_t r = 0; r < cube.shape(0); ++r) {
            Shape shape{std::to_string(r + 1), {}};
            shape.samples = realChannels(cube[py::int_(r)], "etalon " + shape.name, shape.channels);
            shapes.push_back(std::move(shape));
        }
    } else {
        py::array array = py::array::ensure(object);
        const char kind = array ? array.dtype().kind() : 'O';
        if (!array || (kind != 'f' && kind != 'i' && kind != 'u' && kind != 'b'))
            throw py::type_error("etalons must be a dict name -> array or a 2-D (or 3-D) array of numbers");
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
    int channels = 1;
    return signalSamples(object, channels, false);
}

std::vector<float> signalSamples(const py::handle& object, int& channels, bool manyChannels) {
    const std::vector<double> values = manyChannels ? realChannels(object, "signal", channels) : realVector(object, "signal");
    std::vector<float> samples;
    samples.reserve(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        if (std::fabs(values[i]) > std::numeric_limits<float>::max())
            throw py::value_error("signal value at index " + std::to_string(i) + " is beyond the float range");
        samples.push_back(static_cast<float>(values[i]));
    }
    return samples;
}

void Watch::run(const std::function<void()>& work, const std::function<void()>& deliver) {
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

}  // namespace pulsebench_python
