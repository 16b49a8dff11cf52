#pragma once

#include <string>
#include <utility>
#include <vector>

// What `--version` and the About box say: the program, its version and licence, and the
// libraries it is built with.

/// (name, version) of the libraries every front end is built with: Qt (the run-time library and,
/// when it differs, the one compiled against), libsndfile, nlohmann json.
std::vector<std::pair<std::string, std::string>> libraryVersions();

/// "pulsebench-cli 0.1\nLicence: ...\nBuilt with Qt 6.4.2, libsndfile 1.2.0, ..." (no final newline): the first
/// line is the program and its version alone, as manual page generators read it. `extra` are
/// further libraries of this program (the command-line parser, the Python binding).
std::string versionText(const std::string& program,
                        const std::vector<std::pair<std::string, std::string>>& extra = {});
