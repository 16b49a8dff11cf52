#include "app/about.h"

#include <QtGlobal>

#include "core/version.h"
#include "io/library_versions.h"

std::vector<std::pair<std::string, std::string>> libraryVersions() {
    std::string qt = qVersion();
    if (qt != QT_VERSION_STR) qt += std::string(" (built with ") + QT_VERSION_STR + ")";
    return {{"Qt", qt}, {"libsndfile", soundFileLibraryVersion()}, {"nlohmann json", jsonLibraryVersion()}};
}

std::string versionText(const std::string& program, const std::vector<std::pair<std::string, std::string>>& extra) {
    std::string libraries;
    auto all = libraryVersions();
    all.insert(all.end(), extra.begin(), extra.end());
    for (const auto& [name, version] : all) libraries += (libraries.empty() ? "" : ", ") + name + " " + version;
    return program + " " + pulsebenchVersion + "\nLicence: " + pulsebenchLicence + "\nBuilt with " + libraries;
}
