#include "panels/params_panel.h"
#include "model/text_format.h"

#include <algorithm>
#include <limits>
#include <new>

#include "core/settings.h"
#include "panels/params_panel_arithmetic.h"

using namespace params_panel_detail;

// The panel's mouse editing: what a point means (feasible values, the lines and areas hit) and
// the press, drag, hover, release, commit and cancel of an edit.

namespace {

bool contains(const Rect& r, int32_t x, int32_t y) {
    return x >= r.left && x <= r.right && y >= r.top && y <= r.bottom;
}

/// The pulse count that a+ and b- need with maximum distance tmax.
int64_t neededPulses(const ParamsHeader& r, int64_t tmax) {
    if (r.bLow <= r.aHigh) return 1;
    return (int64_t{r.bLow} - r.aHigh + tmax - 1) / tmax + 1;
}


}  // namespace


// ---------------------------------------------------------------------------------------------
// Feasibility, mappings and hit tests.

bool tminFeasible(const ParamsHeader& r, int32_t v) {
    if (v <= 0 || v < r.wImpulseSize || v > r.wTmax || r.wTmax <= 0) return false;
    const int64_t K = r.wImpulseQuantity;
    return neededPulses(r, r.wTmax) <= K && K <= (int64_t{r.bHigh} - r.aLow) / v + 1;
}

bool tmaxFeasible(const ParamsHeader& r, int32_t v) {
    if (v <= r.wTmin || v > r.bLow || v <= 0 || r.wTmin <= 0) return false;
    const int64_t K = r.wImpulseQuantity;
    return neededPulses(r, v) <= K && K <= (int64_t{r.bHigh} - r.aLow) / r.wTmin + 1;
}

int32_t tmaxFromPoint(const ParamsHeader& r, int32_t x, int32_t y) {
    if (r.hoverLineTmax != 1) return 0;
    const Rect& g = r.rcGraph;
    const int64_t wg = int64_t{g.right} - g.left, hg = int64_t{g.bottom} - g.top;
    const int64_t span = int64_t{r.bHigh} - r.aLow;
    const int64_t num = (span * (int64_t{g.bottom} - y + 1) - (int64_t{r.aHigh} - r.aLow) * hg) * wg;
    const int64_t den = (int64_t{x} - g.left) * (int64_t{r.wMaxPulses} - 1) * hg;
    if (den <= 0) return 0;
    return clamp32(roundDiv(num, den));
}

int32_t tminFromPoint(const ParamsHeader& r, int32_t x, int32_t y) {
    if (r.hoverLineTmin != 1) return 0;
    const Rect& g = r.rcGraph;
    const int64_t wg = int64_t{g.right} - g.left, hg = int64_t{g.bottom} - g.top;
    const int64_t span = int64_t{r.bHigh} - r.aLow;
    const int64_t num = (int64_t{y} - g.top) * span * wg;
    const int64_t den = ((int64_t{r.wImpulseQuantity} - 1) * wg - (int64_t{x} - g.left) * (int64_t{r.wMaxPulses} - 1)) * hg;
    if (den <= 0) return 0;
    return clamp32(roundDiv(num, den));
}

bool onPanelLine(const std::array<int32_t, 5>& l, int32_t x, int32_t y) {
    const int64_t x0 = l[0], y0 = l[1], x1 = l[2], y1 = l[3], tolerance = l[4];
    if (tolerance < 0) return false;  // no line drawn
    if (x < std::min(x0, x1) || x > std::max(x0, x1)) return false;
    int64_t height = y0;
    if (x1 != x0) {
        const int64_t dx = x1 - x0;
        height = y0 + (dx > 0 ? roundDiv((x - x0) * (y1 - y0), dx) : roundDiv((x0 - x) * (y1 - y0), -dx));
    }
    return std::abs(y - height) <= tolerance;
}

bool onLineTmax(const ParamsHeader& r, int32_t x, int32_t y) { return onPanelLine(r.lineTmax, x, y); }
bool onLineTmin(const ParamsHeader& r, int32_t x, int32_t y) { return onPanelLine(r.lineTmin, x, y); }

int32_t pulseCountAreaAt(const ParamsHeader& r, int32_t x, int32_t y) {
    if (r.pulsesSelectedAreas.empty()) return -1;
    const int32_t n = std::min(r.wAreasCount, r.wAreasCapacity);
    for (int32_t i = 0; i < n; ++i)
        if (contains(r.pulsesSelectedAreas[i], x, y)) return i;
    return -1;
}

// ---------------------------------------------------------------------------------------------
// Editing.

PanelPress pressParameterPanel(ParamsHeader& r, int32_t x, int32_t y) {
    if (contains(r.rcCancelButton, x, y)) return PanelPress::Cancel;
    if (contains(r.rcOkButton, x, y)) return PanelPress::Ok;
    const int32_t area = pulseCountAreaAt(r, x, y);
    if (area >= 0) {
        r.wImpulseQuantity = r.wMinPulses + area;
        r.redrawOnly = 1;
        return PanelPress::PulseCount;
    }
    if (contains(r.rcHandleHigh, x, y)) {
        r.dragHandleHigh = 1;
        return PanelPress::HandleHigh;
    }
    if (contains(r.rcHandleLow, x, y)) {
        if (!r.dragHandleLow) r.dragHandleLow = 1;
        return PanelPress::HandleLow;
    }
    if (onLineTmin(r, x, y)) {
        r.dragLineTmin = 1;
        return PanelPress::LineTmin;
    }
    if (onLineTmax(r, x, y)) {
        r.dragLineTmax = 1;
        return PanelPress::LineTmax;
    }
    return PanelPress::None;
}

bool dragParameterPanel(ParamsHeader& r, int32_t x, int32_t y) {
    if (r.dragHandleHigh || r.dragHandleLow) {
        if (r.dragHandleHigh)
            r.aHigh = markerValueAtY(r, y);
        else
            r.bLow = markerValueAtY(r, y);
    } else if (r.dragLineTmin) {
        const int32_t v = tminFromPoint(r, x, y);
        if (tminFeasible(r, v))
            r.wTmin = v;
        else
            r.dragLineTmin = 0;
    } else if (r.dragLineTmax) {
        const int32_t v = tmaxFromPoint(r, x, y);
        if (tmaxFeasible(r, v))
            r.wTmax = v;
        else
            r.dragLineTmax = 0;
    } else {
        return false;
    }
    r.redrawOnly = 1;
    return true;
}

std::vector<PanelHoverChange> trackPanelHover(ParamsHeader& r, int32_t x, int32_t y) {
    std::vector<PanelHoverChange> changes;
    auto track = [&](int32_t& flag, bool inside, PanelTarget target) {
        if (inside && !flag) {
            flag = 1;
            changes.push_back({target, true});
        } else if (!inside && flag) {
            flag = 0;
            changes.push_back({target, false});
        }
    };
    track(r.hoverHandleHigh, contains(r.rcHandleHigh, x, y), PanelTarget::HandleHigh);
    track(r.hoverHandleLow, contains(r.rcHandleLow, x, y), PanelTarget::HandleLow);
    track(r.hoverLineTmin, onLineTmin(r, x, y), PanelTarget::LineTmin);
    track(r.hoverLineTmax, onLineTmax(r, x, y), PanelTarget::LineTmax);
    return changes;
}

bool releaseParameterPanel(ParamsHeader& r, int32_t x, int32_t y) {
    if (r.dragHandleHigh) {
        r.dragHandleHigh = 0;
        r.aHigh = markerValueAtY(r, y);
    } else if (r.dragHandleLow) {
        r.dragHandleLow = 0;
        r.bLow = markerValueAtY(r, y);
    } else if (r.dragLineTmin) {
        r.dragLineTmin = 0;
        const int32_t v = tminFromPoint(r, x, y);
        if (tminFeasible(r, v)) r.wTmin = v;
    } else if (r.dragLineTmax) {
        r.dragLineTmax = 0;
        const int32_t v = tmaxFromPoint(r, x, y);
        if (tmaxFeasible(r, v)) r.wTmax = v;
    } else {
        return false;
    }
    r.redrawOnly = 1;
    return true;
}

PanelCommit commitParameterPanel(const std::string& text, Settings& s, Shell* shell) {
    PanelCommit result;
    const std::optional<int64_t> typed = readDecimal(text.substr(0, std::min<size_t>(text.size(), 100)), false).value;
    if (!typed) {
        result.message = "Tmin must be a whole number; \"" + text.substr(0, 100) + "\" holds no digits.";
        return result;
    }
    const int64_t value = *typed;
    if (value < 1 || value > 65535) {
        result.message = "Tmin must lie between 1 and 65535; " + std::to_string(value) + " was typed.";
        return result;
    }
    // As a dragged Tmin: pulses may not overlap, and Tmin may not pass Tmax.
    if (value < s.wImpulseSize) {
        result.message = "Tmin must be at least the etalon length " + std::to_string(s.wImpulseSize) + "; " +
                         std::to_string(value) + " was typed.";
        return result;
    }
    if (s.wTmax > 0 && value > s.wTmax) {
        result.message = "Tmin must not exceed Tmax " + std::to_string(s.wTmax) + "; " + std::to_string(value) +
                         " was typed.";
        return result;
    }
    result.accepted = true;
    result.value = static_cast<int32_t>(value);
    s.wTmin = static_cast<uint16_t>(value);
    if (shell) shell->moveEdit(Rect{});
    s.dirtyPanelArea = 1;
    s.viewMode = ViewMode::results;
    return result;
}

void cancelParameterPanel(Settings& s, Shell* shell) {
    if (shell) shell->moveEdit(Rect{});
    s.viewMode = ViewMode::results;
    s.dirtySeriesLength = 0;
    s.dirtyNoiseLevel = 0;
}
