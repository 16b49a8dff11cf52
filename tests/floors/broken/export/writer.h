#pragma once
// Writer and image include each other: refused.
#include "export/image.h"
