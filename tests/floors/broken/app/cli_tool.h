#pragma once
// Broken on purpose: a batch tool file includes the recording view.
#include "recording/window.h"
