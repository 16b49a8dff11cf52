#pragma once
#include "display/view.h"
