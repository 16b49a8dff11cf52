#pragma once
// The engine knows no window: refused.
#include "platform/shell.h"
