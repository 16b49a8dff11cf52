// The `pulsebench._core` extension: the readers and quantisation of io/, the exact detection in a
// recording, and the workbench's alphabet, series, processing and simulation, on numpy arrays.
//
// Every part calls the core's use cases, the ones the batch tool calls, so that the numbers are
// the batch tool's by construction: recordings.cpp (reading, quantising, detecting) and
// workbench.cpp (the Workbench class); bindings.h holds what they share.

#include "core/version.h"
#include "io/library_versions.h"
#include "python/bindings.h"

using namespace pulsebench_python;

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
    defineRecordingFunctions(m);
    defineWorkbench(m);
}
