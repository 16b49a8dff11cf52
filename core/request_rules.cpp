#include "core/request_rules.h"

#include <algorithm>
#include <string>

#include "model/codes.h"

namespace {
Refusal refusal(RequestField field, std::string after) {
    return Refusal{field, "", std::move(after)};
}

template <class Codes>
std::optional<Refusal> codeRefusal(RequestField field, const Codes& codes, uint32_t value) {
    if (std::any_of(codes.begin(), codes.end(), [value](auto c) { return code(c) == value; })) return std::nullopt;
    std::string list;
    for (const auto c : codes) list += (list.empty() ? "" : ", ") + std::to_string(code(c));
    return refusal(field, " must be one of " + list + ", not " + std::to_string(value));
}
}  // namespace

std::optional<Refusal> seriesTypeRefusal(RequestField field, uint32_t value) {
    return codeRefusal(field, seriesTypes, value);
}

std::optional<Refusal> taskRefusal(RequestField field, uint32_t value) {
    return codeRefusal(field, selectableTaskTypes, value);
}

std::optional<Refusal> percentRefusal(RequestField field, const std::optional<uint16_t>& value) {
    if (value && *value > 100) return refusal(field, " must lie in 0..100, not " + std::to_string(*value));
    return std::nullopt;
}

std::optional<Refusal> proceedingRefusal(uint16_t value) {
    if (value == 1 || value == 2) return std::nullopt;
    return refusal(RequestField::proceeding, " must be one of 1, 2, not " + std::to_string(value));
}

std::optional<Refusal> candidatesRefusal(const std::optional<std::vector<uint16_t>>& candidates) {
    if (!candidates || !candidates->empty()) return std::nullopt;
    return refusal(RequestField::candidates, " is empty: name at least one etalon, or leave it out for all");
}

std::optional<Refusal> tuplesRefusal(const std::vector<std::vector<int32_t>>& tuples) {
    for (const auto& t : tuples)
        if (t.empty()) return refusal(RequestField::tuples, " holds an empty tuple");
    return std::nullopt;
}
