#pragma once
// Broken on purpose: the Python module includes the batch tool's commands.
#include "app/cli_commands.h"
