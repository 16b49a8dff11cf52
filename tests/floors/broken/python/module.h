#pragma once
// Broken on purpose: the Python module includes the recording view.
#include "recording/window.h"
