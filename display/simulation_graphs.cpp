#include "display/simulation_graphs.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <limits>
#include <new>

#include "display/graph_primitives.h"
#include "display/greek.h"
#include "display/views.h"
#include "model/codes.h"
#include "model/text_format.h"
#include "simulation/driver.h"

namespace simgraph {

namespace {

const char* nameOrEmpty(const char* name) { return name ? name : ""; }

int32_t clampToInt32(int64_t v) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// A double truncated toward zero, kept within what a pixel coordinate can sensibly be, so that a
// huge or undefined value can never become an undefined conversion.
int32_t truncToPixel(double v) {
    if (std::isnan(v)) return 0;
    return static_cast<int32_t>(std::clamp(v, -1.0e8, 1.0e8));
}

// Rounds toward minus infinity to a multiple of 4, and up to the next even number.
int32_t floorToMultipleOf4(int32_t v) { return v & ~3; }
int32_t roundUpToEven(int32_t v) { return v + (v & 1); }

// Sample u of an etalon, 0 outside its samples.
int64_t sample(const PulseHeader* e, int32_t u) {
    if (!e || !e->lpData || u < 0 || u >= e->wSize) return 0;
    return e->lpData[u];
}

int64_t energyOf(const PulseHeader* e, int32_t L) {
    int64_t sum = 0;
    for (int32_t u = 0; u < L; ++u) sum += sample(e, u) * sample(e, u);
    return sum;
}

bool isTupleRecognition(const RestErrorHeader& errors) {
    return isTupleSeries(errors.wSeriesType) && isTask(errors.wTaskType, TaskType::tupleRecognition);
}

bool hasMatrix(int32_t** m, const RestErrorHeader& errors) {
    return m != nullptr && errors.wNoiseLevels > 0 && errors.wVariousPulses > 0;
}

// Largest entry of column j over the noise levels.
int32_t columnMax(int32_t** m, int32_t V, int32_t j) {
    int32_t best = m[0][j];
    for (int32_t i = 1; i < V; ++i) best = std::max(best, m[i][j]);
    return best;
}

int64_t rowSum(int32_t** m, int32_t P, int32_t i) {
    int64_t sum = 0;
    for (int32_t j = 0; j < P; ++j) sum += m[i][j];
    return sum;
}

bool allNonZero(const std::vector<uint32_t>& v) {
    return std::none_of(v.begin(), v.end(), [](uint32_t x) { return x == 0; });
}

// The curve's label one level step right of its last point.
void placeLabel(Curve& c, const GraphGeometry& g, std::string label, int32_t raise) {
    c.label = std::move(label);
    c.labelAt = {c.points.back().x + g.levelStep, c.points.back().y - raise};
}

}  // namespace

const char* graphKindTitle(int32_t kind) {
    switch (kind) {
        case 0: return " restored error, componentwise case";
        case 1: return " restored error, agregate form";
        case 2: return " detection error, componentwise case";
        case 3: return " detection error, agregate form";
        case 4:
        case 12: return " recognition error, componentwise case";
        case 5:
        case 13: return " recognition error, agregate form";
        default: return "";
    }
}

std::string involvesLine(const int16_t* pulseValues, int32_t P, uint16_t wMinPulses, uint16_t wMaxPulses) {
    std::string text = " involves ";
    if (pulseValues && P > 0) {
        if (P <= 3) {
            for (int32_t j = 0; j < P; ++j) text += formatted(" %d,", pulseValues[j]);
        } else {
            text += formatted(" %d,", pulseValues[0]);
            text += formatted(" %d,", pulseValues[1]);
            text += formatted("..., %d ", pulseValues[P - 1]);
        }
    }
    // The range is written over the last character of what precedes it.
    text.pop_back();
    text += formatted(" pulses from [%d-%d],", wMinPulses, wMaxPulses);
    return text;
}

std::vector<std::string> headerLines(const RestErrorHeader& errors, const SeriesHeader& series, int16_t wAmplitude,
                                     int32_t kind) {
    const int32_t V = errors.wNoiseLevels;
    std::vector<std::string> lines;
    lines.push_back(formatted(" statistical simulation for %s in series with %s ", nameOrEmpty(errors.lpTaskName),
                           nameOrEmpty(errors.lpSeriesTypeName)));
    lines.push_back(formatted(" series length %d, ", series.dwSeriesSize));
    lines.push_back(involvesLine(errors.wPulseValues, errors.wVariousPulses, series.wMinPulses, series.wMaxPulses));
    lines.push_back(formatted(" with length %d", series.wImpulseSize) + formatted(", amplitude %d", wAmplitude));
    lines.push_back(formatted(" Tmin=%d, Tmax=%d,", series.wTmin, series.wTmax));
    lines.push_back(formatted(" number of %d noise levels", V));
    if (V >= 2 && errors.lpNoiseLevels) {
        const int16_t* s = errors.lpNoiseLevels;
        lines.push_back(formatted(" from %d to %d with step %d", s[0], s[V - 1], s[1] - s[0]));
    } else {
        lines.emplace_back();
    }
    lines.emplace_back(graphKindTitle(kind));
    lines.push_back(formatted(" for volume of % d repeats", errors.repeats));
    return lines;
}

std::string elapsedTimeText(int64_t e) {
    if (e < 0) e = 0;
    const int64_t minutes = e / 60 % 60, seconds = e % 60;
    return formatted("elapsed time %lld:%lld%lld:%lld%lld", static_cast<long long>(e / 3600),
                  static_cast<long long>(minutes / 10), static_cast<long long>(minutes % 10),
                  static_cast<long long>(seconds / 10), static_cast<long long>(seconds % 10));
}

std::string calendarText(std::time_t t) {
    static constexpr const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    if (!localtime_r(&t, &tm)) return {};
    return formatted("%s %s%3d %.2d:%.2d:%.2d %d", days[tm.tm_wday % 7], months[tm.tm_mon % 12], tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, 1900 + tm.tm_year);
}

int32_t glyphAmplitude(int16_t wAmplitude, int16_t noiseSigma) {
    if (wAmplitude != 0) return wAmplitude;
    int32_t a = 128;
    while (a < noiseSigma) a *= 2;
    return a;
}

SeparationFigures separationFigures(const RestErrorHeader& errors, const SeriesHeader& series, uint16_t n,
                                    const uint16_t* list) {
    SeparationFigures f;
    const int32_t L = series.wImpulseSize;
    const PulseHeader* first = series.lpFirstEtalon;
    f.etEnergy = clampToInt32(energyOf(first, L));
    if (L > 0) {
        int64_t smallest = sample(first, 0) * sample(first, 0);
        for (int32_t u = 1; u < L; ++u) smallest = std::min(smallest, sample(first, u) * sample(first, u));
        f.minSquare = clampToInt32(smallest);
    }

    if (!isTupleRecognition(errors)) {
        auto pick = [&](int32_t index) {
            const PulseHeader* e = (list && n > index) ? etalonOf(series, list[index]) : nullptr;
            return e ? e : first;
        };
        const PulseHeader* e1 = pick(0);
        const PulseHeader* e2 = pick(n == 1 ? 0 : 1);
        int64_t rMin = 0;
        for (int32_t m = -L; m <= L; ++m) {
            int64_t c = 0;
            for (int32_t u = 0; u <= L - std::abs(m) - 1; ++u) c += sample(e1, u + m) * sample(e2, u);
            rMin = std::min(rMin, c);
        }
        f.rMin = clampToInt32(rMin);
        return f;
    }

    // Tuple recognition: the etalons of the stored tuples against each other.
    const int32_t tuples = series.selectedSubsetList && series.selectedSubsetSize ? series.wSubsetsCount : 0;
    int64_t etEnergy = 0, rMin = 0, rMax = 0;
    for (int32_t t = 0; t < tuples; ++t)
        for (int32_t k = 0; k < series.selectedSubsetSize[t]; ++k)
            etEnergy = std::max(etEnergy, energyOf(etalonOf(series, series.selectedSubsetList[t][k]), L));
    for (int32_t t1 = 0; t1 < tuples; ++t1)
        for (int32_t t2 = t1 + 1; t2 < tuples; ++t2)
            for (int32_t k1 = 0; k1 < series.selectedSubsetSize[t1]; ++k1)
                for (int32_t k2 = 0; k2 < series.selectedSubsetSize[t2]; ++k2) {
                    const PulseHeader* e1 = etalonOf(series, series.selectedSubsetList[t1][k1]);
                    const PulseHeader* e2 = etalonOf(series, series.selectedSubsetList[t2][k2]);
                    if (!e1 || !e2) continue;
                    for (int32_t m = -L; m <= L; ++m) {
                        int64_t c = 0;
                        for (int32_t u = 0; u < L; ++u)
                            if (u + m >= 0 && u + m < L) c += sample(e2, u) * sample(e1, u + m);
                        rMin = std::min(rMin, c);
                        rMax = std::max(rMax, c);
                    }
                }
    f.etEnergy = clampToInt32(etEnergy);
    f.rMin = clampToInt32(rMin);
    f.rMax = clampToInt32(rMax);
    return f;
}

std::string separationText(const SeparationFigures& f) {
    return formatted("etEnergy=%d, Rmin=%d, Rmax=%d", f.etEnergy, f.rMin, f.rMax);
}

std::vector<std::string> splitToWidth(const std::string& text, int32_t room,
                                      const std::function<int32_t(const std::string&)>& width) {
    std::vector<std::string> lines;
    std::string line;
    size_t from = 0;
    while (from < text.size()) {
        // The next piece runs to the next ", " (its comma kept; the space dropped at a break).
        size_t comma = text.find(", ", from);
        const size_t end = comma == std::string::npos ? text.size() : comma + 1;
        const std::string piece = text.substr(from, end - from);
        from = comma == std::string::npos ? text.size() : comma + 2;
        if (!line.empty() && width(line + " " + piece) > room) {
            lines.push_back(line);
            line.clear();
        }
        line += line.empty() ? piece : " " + piece;
    }
    if (!line.empty() || lines.empty()) lines.push_back(line);
    return lines;
}

Normalizers makeNormalizers(int32_t kind, int32_t P, const SeriesHeader& series, const SeparationFigures& f) {
    Normalizers norms;
    const size_t columns = static_cast<size_t>(std::max(P, 0));
    norms.restoreNorm.assign(columns, 1);
    norms.detectNorm.assign(columns, 1);
    if (kind == 0 || kind == 1) {
        const int64_t norm = 2 * int64_t{series.wMaxPulses} * (int64_t{f.etEnergy} - f.rMin);
        std::fill(norms.restoreNorm.begin(), norms.restoreNorm.end(), static_cast<uint32_t>(norm));
    } else if (kind == 2 || kind == 3) {
        const int64_t d = int64_t{series.wTmax} - series.wImpulseSize;
        std::fill(norms.detectNorm.begin(), norms.detectNorm.end(), static_cast<uint32_t>(d * d));
    }
    return norms;
}

int32_t upperValue(int32_t kind, const RestErrorHeader& errors, const Normalizers& norms) {
    const int32_t V = errors.wNoiseLevels, P = errors.wVariousPulses;
    const int64_t repeats = errors.repeats;
    switch (kind) {
        case 0: {
            int64_t Q = 0;
            if (hasMatrix(errors.lpErrors, errors))
                for (int32_t j = 0; j < P; ++j) {
                    if (norms.restoreNorm[j] == 0) continue;
                    const int64_t top = std::max(columnMax(errors.lpErrors, V, j), 0);
                    Q = std::max(Q, top * 1000 / norms.restoreNorm[j]);
                }
            return clampToInt32(std::max<int64_t>(Q, 50));
        }
        case 1: {
            // The summary is a mean over the columns and its axis reaches at least 0.49; without
            // columns there is nothing to average and the axis keeps that least span.
            if (P <= 0) return 490;
            double X = 0;
            if (hasMatrix(errors.lpErrors, errors))
                for (int32_t i = 0; i < V; ++i) {
                    double sum = 0;
                    for (int32_t j = 0; j < P; ++j)
                        if (norms.restoreNorm[j] != 0)
                            sum += static_cast<double>(errors.lpErrors[i][j]) / norms.restoreNorm[j];
                    X = std::max(X, sum);
                }
            X = std::max(X, 0.49 * P);
            return truncToPixel(1000 * X / P);
        }
        case 2: {
            double X = 0.3;
            if (repeats > 0 && hasMatrix(errors.lpDetectErrors, errors))
                for (int32_t j = 0; j < P; ++j) {
                    if (norms.detectNorm[j] == 0) continue;
                    const int64_t top = std::max(columnMax(errors.lpDetectErrors, V, j), 0);
                    const int64_t k = (repeats + 2 * top) / (2 * repeats);
                    X = std::max(X, std::sqrt(static_cast<double>(k) / norms.detectNorm[j]));
                }
            return std::max(truncToPixel(1000 * X), 50);
        }
        case 3: {
            double X = 0;
            const double denominator =
                P > 0 ? static_cast<double>(P) * norms.detectNorm[0] * static_cast<double>(repeats) : 0.0;
            if (denominator > 0 && hasMatrix(errors.lpDetectErrors, errors)) {
                int64_t largest = rowSum(errors.lpDetectErrors, P, 0);
                for (int32_t i = 1; i < V; ++i) largest = std::max(largest, rowSum(errors.lpDetectErrors, P, i));
                X = std::sqrt(std::max(static_cast<double>(largest), 0.0) / denominator);
            }
            X = std::max(X, 0.24);
            return std::max(truncToPixel(1000 * X), 50);
        }
        case 4:
        case 5:
        case 12:
        case 13:
            return 500;
        default:
            return 0;
    }
}

int32_t tickUnit(int32_t Q, bool fixedUpperBound, double upperBound) {
    if (fixedUpperBound && upperBound > 0) return truncToPixel(upperBound * 1000);
    int64_t Z = 1;
    for (int64_t q = Q; q > 0; q /= 10) Z *= 10;
    if (Z >= 5 * int64_t{Q}) Z /= 5;
    if (Z >= 2 * int64_t{Q}) Z /= 2;
    if (Z >= 2 * int64_t{Q}) Z /= 2;
    return clampToInt32(Z);
}

int32_t pixelScaleOf(int32_t Z) { return Z > 0 ? 1000 / Z : 0; }

std::array<std::string, 6> valueLabels(int32_t Z) {
    std::array<std::string, 6> labels;
    for (int32_t k = 0; k < 6; ++k)
        labels[k] = formatted(Z > 49 ? "%.2f" : "%.3f", static_cast<double>(k * (Z / 5)) / 1000);
    return labels;
}

GraphGeometry graphGeometry(const SeriesViewLayout& v, int32_t V) {
    GraphGeometry g;
    const int32_t T0 = v.main.top;
    g.fh = (v.H + 11) / 22;
    if (g.fh < v.lh + 1) g.fh = v.lh + 2;
    g.h0 = v.H - (v.topOff + v.topOff / 2 + 2 * g.fh);
    g.w0 = (v.boxLeft - 2 * v.leftOff) / 2;
    g.w0 = std::min(g.w0, 2 * g.h0 / 3);
    g.gridStep = floorToMultipleOf4(g.h0 / 10 + 2);
    if (V >= 2) {
        g.levelStep = roundUpToEven((2 * g.w0) / (2 * (V - 1)));
        const int32_t limit = roundUpToEven((g.gridStep + 2) / 5);
        if (limit < g.levelStep) g.levelStep = limit;
        g.plotW = (V - 1) * g.levelStep;
    }
    g.plotH = 10 * g.gridStep;
    g.plotLeft = v.boxLeft - g.plotW - 6 * v.leftOff + 1;
    g.plotTop = T0 + (std::max(v.lh + 1, v.topOff) + g.fh) / 2;
    g.valid = V >= 2 && g.gridStep > 0 && g.levelStep > 0;
    return g;
}

std::vector<Curve> errorCurves(int32_t kind, const RestErrorHeader& errors, const Normalizers& norms,
                               const GraphGeometry& g, int32_t Z, int32_t sh) {
    std::vector<Curve> curves;
    const int32_t V = errors.wNoiseLevels, P = errors.wVariousPulses;
    const int64_t repeats = errors.repeats;
    if (!g.valid || Z <= 0 || P <= 0) return curves;
    const int32_t base = g.plotTop + g.plotH;
    const int32_t raise = (sh + 1) / 2 + 1;
    // A value v (a fraction) lies plotH v 1000 / Z above the bottom, in exact arithmetic: an
    // offset of plotH 1000 numerator / (Z denominator), truncated.
    const int64_t thousandH = int64_t{1000} * g.plotH;
    auto offsetOf = [&](int64_t numerator, int64_t denominator) {
        return clampToInt32(base - thousandH * numerator / (int64_t{Z} * denominator));
    };
    const double scale = 1000.0 / Z;  // exactly 1000 / Z where that is an integer

    // One curve from the bottom-left corner through y(i) for every level i.
    auto curve = [&](int strokes, auto y) {
        Curve c;
        c.strokes = strokes;
        c.points.push_back({g.plotLeft, base});
        for (int32_t i = 0; i < V; ++i) c.points.push_back({g.plotLeft + i * g.levelStep, y(i)});
        return c;
    };
    auto fractionY = [&](double v) { return truncToPixel(base - v * scale * g.plotH); };
    auto column = [&](int32_t j) { return formatted("%d", errors.wPulseValues ? errors.wPulseValues[j] : 0); };

    switch (kind) {
        case 0:
            if (!hasMatrix(errors.lpErrors, errors)) break;
            for (int32_t j = 0; j < P; ++j) {
                const uint32_t norm = norms.restoreNorm[j];
                if (norm == 0) continue;
                Curve c = curve(2, [&](int32_t i) { return offsetOf(errors.lpErrors[i][j], int64_t{norm}); });
                placeLabel(c, g, column(j), raise);
                curves.push_back(std::move(c));
            }
            break;
        case 1:
            if (!hasMatrix(errors.lpErrors, errors) || !allNonZero(norms.restoreNorm)) break;
            curves.push_back(curve(2, [&](int32_t i) {
                double sum = 0;
                for (int32_t j = 0; j < P; ++j)
                    sum += static_cast<double>(errors.lpErrors[i][j]) / norms.restoreNorm[j];
                return fractionY(sum / P);
            }));
            break;
        case 2:
            if (repeats <= 0 || !hasMatrix(errors.lpDetectErrors, errors)) break;
            for (int32_t j = 0; j < P; ++j) {
                const uint32_t norm = norms.detectNorm[j];
                if (norm == 0) continue;
                Curve c = curve(3, [&](int32_t i) {
                    const double v = static_cast<double>(errors.lpDetectErrors[i][j]) / repeats / norm;
                    return fractionY(std::sqrt(std::max(v, 0.0)));
                });
                placeLabel(c, g, column(j), raise);
                curves.push_back(std::move(c));
            }
            break;
        case 3: {
            if (repeats <= 0 || !hasMatrix(errors.lpDetectErrors, errors) || !allNonZero(norms.detectNorm)) break;
            const double denominator = static_cast<double>(P) * norms.detectNorm[0] * static_cast<double>(repeats);
            Curve c = curve(2, [&](int32_t i) {
                const double v = static_cast<double>(rowSum(errors.lpDetectErrors, P, i)) / denominator;
                return fractionY(std::sqrt(std::max(v, 0.0)));
            });
            placeLabel(c, g, formatted("%d", P), 0);
            curves.push_back(std::move(c));
            break;
        }
        case 4:
        case 12:
            if (repeats <= 0 || !hasMatrix(errors.lpRecognErrors, errors)) break;
            for (int32_t j = 0; j < P; ++j) {
                Curve c = curve(3, [&](int32_t i) { return offsetOf(errors.lpRecognErrors[i][j], repeats); });
                placeLabel(c, g, column(j), 0);
                curves.push_back(std::move(c));
            }
            break;
        case 5:
        case 13: {
            if (repeats <= 0 || !hasMatrix(errors.lpRecognErrors, errors)) break;
            Curve c = curve(3, [&](int32_t i) { return offsetOf(rowSum(errors.lpRecognErrors, P, i), repeats * P); });
            placeLabel(c, g, "S", 0);
            curves.push_back(std::move(c));
            break;
        }
        default:
            break;
    }
    return curves;
}

double restoringBound(const SeparationFigures& f, uint16_t wMaxPulses, int32_t sigma) {
    if (sigma == 0) return std::numeric_limits<double>::quiet_NaN();
    const int64_t d1 = (4 * (int64_t{f.etEnergy} - f.rMin) + 4) / 8;
    const int64_t g = wMaxPulses * d1;
    return 0.5 - 0.5 * std::sqrt(1 - std::exp(-static_cast<double>(g) / (static_cast<double>(sigma) * sigma)));
}

double separatingBound(const SeparationFigures& f, const RestErrorHeader& errors, uint16_t wMinPulses, int32_t sigma) {
    if (sigma == 0) return std::numeric_limits<double>::quiet_NaN();
    int64_t p = f.etEnergy, rMax = f.rMax;
    if (!(isSeries(errors.wSeriesType, SeriesType::fixedTuples) || isTask(errors.wTaskType, TaskType::tupleRecognition))) {
        // Pulses may be cut: the energy left after the cut, but at least one sample's.
        p = std::max<int64_t>((int64_t{errors.wMakingEnergy} * f.etEnergy + 50) / 100, f.minSquare);
        rMax = 0;
    }
    const int64_t d2 = (4 * (p - rMax) + 8) / 16;
    const int64_t g = wMinPulses * d2;
    return 0.5 * std::exp(-static_cast<double>(g) / (static_cast<double>(sigma) * sigma));
}

std::vector<Curve> boundCurves(int32_t kind, const RestErrorHeader& errors, const SeriesHeader& series,
                               const SeparationFigures& f, const GraphGeometry& g, int32_t Z) {
    std::vector<Curve> curves;
    if ((kind != 12 && kind != 13) || !g.valid || !errors.lpNoiseLevels || Z <= 0) return curves;
    // plotH b on the axis's scale: whole pixels of plotH b times an integer 1000 / Z, else
    // plotH b 1000 / Z.
    auto offset = [&](double b) {
        if (1000 % Z == 0) return (1000 / Z) * truncToPixel(g.plotH * b);
        return truncToPixel(g.plotH * b * 1000.0 / Z);
    };
    const int32_t base = g.plotTop + g.plotH;
    for (int bound = 0; bound < 2; ++bound) {
        Curve c;
        c.strokes = 3;
        c.points.push_back({g.plotLeft, base});
        for (int32_t i = 1; i < errors.wNoiseLevels; ++i) {
            const int32_t sigma = errors.lpNoiseLevels[i];
            const double b = bound == 0 ? restoringBound(f, series.wMaxPulses, sigma)
                                        : separatingBound(f, errors, series.wMinPulses, sigma);
            if (std::isnan(b)) continue;
            c.points.push_back({g.plotLeft + i * g.levelStep, base - offset(b)});
        }
        curves.push_back(std::move(c));
    }
    return curves;
}

void spreadLabels(std::vector<Curve>& curves, int32_t pitch, int32_t top, int32_t bottom) {
    std::vector<Curve*> labelled;
    for (Curve& c : curves)
        if (!c.label.empty()) labelled.push_back(&c);
    if (labelled.empty()) return;
    std::stable_sort(labelled.begin(), labelled.end(),
                     [](const Curve* a, const Curve* b) { return a->labelAt.y < b->labelAt.y; });
    // Down from the top limit, each at least a pitch below the one above it ...
    labelled.front()->labelAt.y = std::max(labelled.front()->labelAt.y, top);
    for (size_t k = 1; k < labelled.size(); ++k)
        labelled[k]->labelAt.y = std::max(labelled[k]->labelAt.y, labelled[k - 1]->labelAt.y + pitch);
    // ... then up from the bottom limit where that pushed them too low.
    labelled.back()->labelAt.y = std::min(labelled.back()->labelAt.y, bottom);
    for (size_t k = labelled.size() - 1; k-- > 0;)
        labelled[k]->labelAt.y = std::min(labelled[k]->labelAt.y, labelled[k + 1]->labelAt.y - pitch);
}

std::vector<AxisLabel> levelLabels(const RestErrorHeader& errors, const GraphGeometry& g, int32_t lh, int32_t fw,
                                   int32_t sh) {
    std::vector<AxisLabel> labels;
    if (!g.valid || !errors.lpNoiseLevels) return labels;
    const int32_t x = g.plotLeft + (1 - fw - fw / 2);
    const int32_t y = g.plotTop + g.plotH + lh - (lh + 1) / 4 - (lh + 1) / 8;
    int32_t i = 0;
    for (; i < errors.wNoiseLevels; i += 4)
        labels.push_back({{x + i * g.levelStep, y}, formatted("%3d", errors.lpNoiseLevels[i])});
    labels.push_back({{x + i * g.levelStep, y - sh}, "s"});
    return labels;
}

std::vector<AxisLabel> valueAxisLabels(int32_t Z, const GraphGeometry& g, int32_t fw, int32_t sh) {
    std::vector<AxisLabel> labels;
    if (!g.valid || Z <= 0) return labels;
    const std::array<std::string, 6> texts = valueLabels(Z);
    const int32_t x = g.plotLeft - (3 * fw + fw / 4 + 1 + (Z < 50 ? fw : 0));
    for (int32_t k = 0; k < 6; ++k)
        labels.push_back({{x, g.plotTop + g.plotH - ((sh + 1) / 2 + 1) - 2 * k * g.gridStep}, texts[k]});
    return labels;
}

}  // namespace simgraph
