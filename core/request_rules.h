#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "core/refusal.h"

// The field rules the series, process and simulation requests share, each with its one text.
// Every function gives the refusal of its rule, or nothing when the value keeps to it.

/// A series type's code (1, 2, 4, 8, 16, 32, 36, 40).
std::optional<Refusal> seriesTypeRefusal(RequestField field, uint32_t value);
/// A selectable task's code (1, 2, 4, 36, 40, 64).
std::optional<Refusal> taskRefusal(RequestField field, uint32_t value);
/// A saved energy level, percent 0..100, when given.
std::optional<Refusal> percentRefusal(RequestField field, const std::optional<uint16_t>& value);
/// Tuple proceeding: 1 complete, 2 probably shifted complete.
std::optional<Refusal> proceedingRefusal(uint16_t value);
/// The candidates, when given, name at least one etalon.
std::optional<Refusal> candidatesRefusal(const std::optional<std::vector<uint16_t>>& candidates);
/// No stored tuple is empty.
std::optional<Refusal> tuplesRefusal(const std::vector<std::vector<int32_t>>& tuples);
