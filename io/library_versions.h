#pragma once

#include <string>

// The versions of the libraries the readers and writers are built on, each as the library itself
// states it: libsndfile's from the library that is loaded, nlohmann json's from its headers.
std::string soundFileLibraryVersion();
std::string jsonLibraryVersion();
