#include "display/greek.h"

namespace {
// Greek letters in the positions of the Latin letters a..z (small) and A..Z (capital), as the
// classic Greek symbol face places them: c is chi, h eta, q theta, y psi; j is a second phi,
// v the variant pi, J the variant theta and V the final sigma.
constexpr std::string_view kSmall[26] = {
    "α", "β", "χ", "δ", "ε", "φ", "γ", "η", "ι", "φ", "κ", "λ", "μ",
    "ν", "ο", "π", "θ", "ρ", "σ", "τ", "υ", "ϖ", "ω", "ξ", "ψ", "ζ",
};
constexpr std::string_view kCapital[26] = {
    "Α", "Β", "Χ", "Δ", "Ε", "Φ", "Γ", "Η", "Ι", "ϑ", "Κ", "Λ", "Μ",
    "Ν", "Ο", "Π", "Θ", "Ρ", "Σ", "Τ", "Υ", "ς", "Ω", "Ξ", "Ψ", "Ζ",
};
}  // namespace

std::string_view greekLetter(char c) {
    if (c >= 'a' && c <= 'z') return kSmall[c - 'a'];
    if (c >= 'A' && c <= 'Z') return kCapital[c - 'A'];
    return {};
}

std::string toGreek(std::string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char c : text) {
        const std::string_view g = greekLetter(c);
        if (g.empty()) {
            out.push_back(c);
        } else {
            out.append(g);
        }
    }
    return out;
}
