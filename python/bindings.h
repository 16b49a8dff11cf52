#pragma once

// What the parts of the `pulsebench._core` extension share: messages collected for exceptions,
// numbers and arrays in and out, and long work run with the GIL released.

#include <pybind11/pybind11.h>
#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/refusal.h"
#include "io/shapes.h"
#include "model/message_sink.h"
#include "model/text_format.h"

namespace pulsebench_python {
namespace py = pybind11;

// Collects the messages a command would print on standard error, for the exception it raises.
class CollectingSink : public MessageSink {
public:
    void messageBox(const std::string& text, const std::string& caption, MessageIcon) override {
        const std::string trimmed = trimmedCaption(caption);
        std::string body = text;
        while (!body.empty() && body.back() == '\n') body.pop_back();
        if (!messages.empty()) messages += "\n";
        messages += (trimmed.empty() ? "" : trimmed + ": ") + body;
        ++count;
    }
    std::string messages;
    int count = 0;
};

/// Raises ValueError with what the sink collected, or "`command` was refused" when it is empty.
[[noreturn]] void raiseRefusal(const CollectingSink& sink, const char* command);

/// The Python spelling of a request field: its keyword argument ("saved_energy").
const char* argumentName(RequestField field);

/// Raises ValueError with the refusal's text, the field named as its keyword argument.
[[noreturn]] void raiseRefusal(const Refusal& refusal);

template <class T>
py::array_t<T> toArray(const std::vector<T>& values) {
    py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

// ---- numbers in -----------------------------------------------------------------------------

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

/// Whether `value` is a whole number: a Python int or anything with __index__ (numpy's integer
/// scalars), never a bool or a str.
bool isWholeNumber(const py::handle& value);
/// A whole number's value; beyond 64 bits it is refused naming `name`.
int64_t wholeNumberOf(const py::handle& value, const std::string& name);
/// A path: a str or any os.PathLike.
std::string pathOf(const py::handle& path);

/// A 1-D real or integer array as doubles, refusing other shapes and dtypes, empty arrays and
/// values that are not finite. `what` names the argument in messages.
std::vector<double> realVector(const py::handle& object, const std::string& what);
/// Etalons as a mapping name -> 1-D array, or a 2-D array with one shape a row (named "1", "2",
/// ...). Checked as an alphabet (checkShapes).
std::vector<Shape> shapesFrom(const py::handle& object);
/// A signal as the readers keep it: 4-byte floats, checked as realVector does.
std::vector<float> signalSamples(const py::handle& object);
/// The same, or with manyChannels a 2-D array too (channels x samples, the channels one after
/// the other as Signal keeps them); `channels` is set to their count.
std::vector<float> signalSamples(const py::handle& object, int& channels, bool manyChannels);

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
    void run(const std::function<void()>& work, const std::function<void()>& deliver);

private:
    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t events_ = 0;
};


/// Defines read_signal, read_etalons, quantise and detect.
void defineRecordingFunctions(py::module_& m);
/// Defines the class Workbench: the alphabet, series, processing and simulation of the workbench.
void defineWorkbench(py::module_& m);

}  // namespace pulsebench_python
