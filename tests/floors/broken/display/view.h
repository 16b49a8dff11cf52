#pragma once
// Reaches up to the workbench: refused.
#include "workbench/commands.h"
