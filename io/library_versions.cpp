#include "io/library_versions.h"

#include <nlohmann/json.hpp>
#include <sndfile.h>

std::string soundFileLibraryVersion() {
    // "libsndfile-1.2.0": the number after the library's name.
    const std::string text = sf_version_string();
    const auto dash = text.rfind('-');
    return dash == std::string::npos ? text : text.substr(dash + 1);
}

std::string jsonLibraryVersion() {
    return std::to_string(NLOHMANN_JSON_VERSION_MAJOR) + "." + std::to_string(NLOHMANN_JSON_VERSION_MINOR) + "." +
           std::to_string(NLOHMANN_JSON_VERSION_PATCH);
}
