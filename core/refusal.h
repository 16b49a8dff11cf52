#pragma once

#include <string>
#include <string_view>

/// The fields of the series, process and simulation requests, so that a refusal can name the
/// field the way its front end spells it (an option of the batch tool, an argument in Python).
enum class RequestField {
    none,  ///< a rule over several fields: the text names what it needs itself
    type,
    length,
    count,
    savedEnergy,
    subset,
    subsetMode,
    subsetStart,
    repeat,
    task,
    candidates,
    tuple,
    tuples,
    proceeding,
    savedEnergyCreate,
    savedEnergyProcess,
    pulses,
    noise,
    repeats,
};

/// Why a request is refused: the one text of the rule, around the name of the field it is
/// about. A front end only puts its own spelling of the field in between (`textFor`).
struct Refusal {
    RequestField field = RequestField::none;
    std::string before;  ///< the text before the field's name ("Tuple detection needs ")
    std::string after;   ///< the text after it (" must lie in 0..100, not 101")

    /// The whole text with the field named `name` (a rule over several fields names none).
    std::string textFor(std::string_view name) const {
        return field == RequestField::none ? before + after : before + std::string(name) + after;
    }
};
