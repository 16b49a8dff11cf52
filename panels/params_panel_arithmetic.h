#pragma once

// Integer arithmetic and printf-style texts shared by the parameter panel's geometry, mouse
// editing and drawing (panels/params_panel*.cpp). Not part of the panel's interface.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <string>

namespace params_panel_detail {

/// num / den rounded to nearest (halves away from zero); den must be positive.
inline int64_t roundDiv(int64_t num, int64_t den) {
    return num >= 0 ? (num + den / 2) / den : -((-num + den / 2) / den);
}

inline int32_t clamp32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

inline std::string format(const char* fmt, int64_t a) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, static_cast<int>(a));
    return buffer;
}

inline std::string format(const char* fmt, int64_t a, int64_t b) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, fmt, static_cast<int>(a), static_cast<int>(b));
    return buffer;
}

inline std::string format(const char* fmt, int64_t a, int64_t b, int64_t c, int64_t d) {
    char buffer[96];
    std::snprintf(buffer, sizeof buffer, fmt, static_cast<int>(a), static_cast<int>(b), static_cast<int>(c),
                  static_cast<int>(d));
    return buffer;
}

}  // namespace params_panel_detail
