#pragma once
#include "export/writer.h"
