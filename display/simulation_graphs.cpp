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

constexpr Color kBlack{0, 0, 0};
constexpr Color kWhite{255, 255, 255};

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

namespace {

// A title that sits on a frame line: the line is blanked behind it, so that it reads as a gap in
// the frame rather than as text struck through.
void textOnEdge(Canvas& canvas, int32_t x, int32_t y, const std::string& text) {
    canvas.fillRect({x, y, x + canvas.textWidth(text), y + canvas.metrics().height}, kWhite);
    canvas.textOut(x, y, text);
}

// The box of the stored tuples (task 40) with its top-left corner at (x0, y), `cx` the width of
// its caption; false when there are none. `m` receives their number.
bool storedTupleBox(const SeriesViewLayout& v, const SeriesHeader& series, int32_t cx, int32_t x0, int32_t y,
                    PatternBox& box, int32_t& m) {
    m = series.selectedSubsetSize && series.selectedSubsetList ? series.wSubsetsCount : 0;
    int32_t longest = 0;
    for (int32_t t = 0; t < m; ++t) longest = std::max<int32_t>(longest, series.selectedSubsetSize[t]);
    if (m <= 0 || longest <= 0) return false;
    box.gy = v.topOff / 8 + 1;
    box.gx = v.leftOff / 8 + 1;
    box.cw = v.cellW;
    box.bw = std::max((box.cw + box.gx) * longest + box.gx + 1, cx + 20);
    box.ch = (8 * (v.cellH + 2 * box.gy + v.lh) + 5) / 9;
    box.bh = (box.ch + box.gy) * m + box.gy;
    box.left = x0;
    box.top = y;
    return true;
}

// The texts left of the plot whose extent depends on the font: the value labels (moved left
// where their digits are wider than the average) and the separation figures broken into lines
// that stop short of them.
struct SideTexts {
    int32_t Z = 0;
    std::vector<AxisLabel> values;
    std::vector<std::string> figureLines;
};

SideTexts layOutSideTexts(const Canvas& canvas, const Settings& settings, const Rect& main, int32_t x0,
                          const GraphGeometry& g, int32_t kind, const RestErrorHeader& errors,
                          const Normalizers& norms, const SeparationFigures& figures) {
    SideTexts t;
    const TextMetrics fm = canvas.metrics();
    const int32_t fw = fm.averageWidth, sh = fm.height;
    t.Z = tickUnit(upperValue(kind, errors, norms), settings.fixedUpperBound != 0, settings.upperBound);
    t.values = valueAxisLabels(t.Z, g, fw, sh);
    int32_t textRoom = main.right - x0;
    for (AxisLabel& label : t.values) {
        label.at.x = std::min(label.at.x, g.plotLeft - 3 - canvas.textWidth(label.text));
        textRoom = std::min(textRoom, label.at.x - fw - x0);
    }
    const auto width = [&](const std::string& text) { return canvas.textWidth(text); };
    t.figureLines = splitToWidth(separationText(figures), textRoom, width);
    return t;
}

// The top of the pattern tuple box: under the separation figures and the run's three time lines.
int32_t patternBoxTop(const Rect& main, int32_t lh, size_t figureLines) {
    int32_t y = main.top + 10 * lh + 1 + static_cast<int32_t>(figureLines) * (lh + 1);
    y += 2 * lh + 2;
    y += lh + 1;
    y += 2 * lh + 2;
    return y + 3 * lh + 3;
}

// The pattern tuple box under the texts, with its top-left corner at (x0, y): the stored
// tuples (task 40) at their full width, or the active tuple fitted into the room left of the
// plot. Returns the box height, 0 when there is no box.
int32_t drawPatternTupleBox(Canvas& canvas, const RestErrorHeader& errors,
                            const SeriesHeader& series, const SeriesViewLayout& v, const GraphGeometry& g,
                            int16_t amplitude, int32_t x0, int32_t y) {
    const int32_t lh = v.lh;
    const bool stored = isTask(errors.wTaskType, TaskType::tupleRecognition);
    const char* caption = stored ? " pattern tuples " : " pattern tuple ";
    const int32_t cx = canvas.textWidth(caption), cy = canvas.metrics().height;
    PatternBox box;
    if (stored) {
        int32_t m = 0;
        if (!storedTupleBox(v, series, cx, x0, y, box, m)) return 0;
        canvas.rectangle(box.outline(lh));
        for (int32_t t = 0; t < m; ++t) {
            const int32_t rowTop = storedRowTop(box, t);
            for (int32_t k = 0; k < series.selectedSubsetSize[t]; ++k)
                graph::drawEtalonGlyph(canvas, lh, etalonOf(series, series.selectedSubsetList[t][k]), amplitude, 0,
                                       box.glyphCell(k, rowTop, lh));
        }
    } else {
        const int32_t s = series.lpSelectedSubset ? series.wSelectedSubsetSize : 0;
        // The box may take the room between the texts' left edge and the plot.
        SeriesViewLayout room = v;
        room.plotW = g.plotLeft - 2 * (v.leftOff / 4 + 1) - x0;
        if (!singlePatternBox(room, s, cx, box)) return 0;
        box.left = x0;
        box.top = y;
        canvas.rectangle(box.outline(lh));
        for (int32_t k = 0; k < s; ++k)
            graph::drawEtalonGlyph(canvas, lh, etalonOf(series, series.lpSelectedSubset[k]), amplitude, 0,
                                   box.glyphCell(k, box.top + box.gy, lh));
    }
    textOnEdge(canvas, box.left + box.bw - cx - 10, box.top - (cy / 2 + cy / 4), caption);
    return box.bh;
}

// A curve drawn `strokes` times, each stroke kept between the plot's top and bottom edges (a
// fixed upper bound below the data would otherwise send it over the texts above the plot).
void drawCurve(Canvas& canvas, const Curve& c, int32_t top, int32_t bottom) {
    static constexpr GraphPoint shifts3[] = {{0, 0}, {1, 0}, {0, 1}};
    static constexpr GraphPoint shifts2[] = {{0, 0}, {0, 1}};
    const GraphPoint* shifts = c.strokes == 3 ? shifts3 : shifts2;
    for (int s = 0; s < c.strokes; ++s) {
        const GraphPoint d = shifts[s];
        for (size_t k = 1; k < c.points.size(); ++k) {
            GraphPoint a = c.points[k - 1], b = c.points[k];
            if (a.y < top && b.y < top) continue;
            // Cut a segment that leaves the plot upwards at the top edge.
            auto cut = [&](GraphPoint& out, const GraphPoint& in) {
                out.x = in.x + static_cast<int32_t>(int64_t{out.x - in.x} * (top - in.y) / (out.y - in.y));
                out.y = top;
            };
            if (a.y < top) cut(a, b);
            if (b.y < top) cut(b, a);
            a.y = std::min(a.y, bottom);
            b.y = std::min(b.y, bottom);
            canvas.moveTo(a.x + d.x, a.y + d.y);
            canvas.lineTo(b.x + d.x, b.y + d.y);
        }
    }
}

}  // namespace

}  // namespace simgraph

bool drawSimulationGraphs(const PaintContext& context, Canvas& canvas, uint16_t wAmplitude, int32_t kind,
                          uint16_t wRequiredCount, const uint16_t* lpRequiredList, const RestErrorHeader* errors,
                          const SeriesHeader* series) {
    using namespace simgraph;
    const Rect& main = context.layout.rcMain;
    const int32_t lh = context.layout.lineHeight;
    canvas.setPen(kBlack);
    canvas.setBrush(kWhite);
    canvas.setTextColor(kBlack);

    const SeriesViewLayout v = layOutSeriesView(main, lh, wRequiredCount, false);
    if (!errors || !series) {
        graph::outlineInclusive(canvas, main);
        return true;
    }
    const int16_t amplitude16 = static_cast<int16_t>(wAmplitude);
    const SeparationFigures figures = separationFigures(*errors, *series, wRequiredCount, lpRequiredList);
    Normalizers norms;
    try {
        norms = makeNormalizers(kind, errors->wVariousPulses, *series, figures);
    } catch (const std::bad_alloc&) {
        return false;  // no room for the normalisers: nothing is drawn
    }

    graph::outlineInclusive(canvas, main);

    // Header lines on the top edge and down the left side.
    int32_t y = main.top - lh / 2;
    bool onEdge = true;
    for (const std::string& line : headerLines(*errors, *series, amplitude16, kind)) {
        if (onEdge)
            textOnEdge(canvas, main.left + 10, y, line);
        else if (!line.empty())
            canvas.textOut(main.left + 10, y, line);
        onEdge = false;
        y += lh + 1;
    }

    // The alphabet box of the etalons the run used.
    const int32_t a = glyphAmplitude(amplitude16, series->wNoiseSigma);
    canvas.rectangle({v.boxLeft, v.boxTop, v.boxLeft + v.boxW + 1, v.boxTop + v.boxH + 1});
    textOnEdge(canvas, v.boxLeft + 7, v.boxTop - v.topOff, alphabetTitleText(wRequiredCount, v.boxW));
    for (int32_t k = 0; lpRequiredList && k < wRequiredCount; ++k)
        graph::drawEtalonGlyph(canvas, lh, etalonOf(*series, lpRequiredList[k]), static_cast<int16_t>(a), 0,
                               alphabetCell(v, k));

    // Separation figures and the run's times. The figures are broken at their commas when the
    // line would reach the value labels left of the plot.
    const int32_t x0 = v.x0;
    const GraphGeometry g = graphGeometry(v, errors->wNoiseLevels);
    const TextMetrics fm = canvas.metrics();
    const int32_t fw = fm.averageWidth, sh = fm.height;
    const SideTexts side = layOutSideTexts(canvas, context.settings, main, x0, g, kind, *errors, norms, figures);
    const int32_t Z = side.Z;
    const std::vector<AxisLabel>& values = side.values;
    y = main.top + 10 * lh + 1;
    for (const std::string& line : side.figureLines) {
        canvas.textOut(x0, y, line);
        y += lh + 1;
    }
    y += 2 * lh + 2;
    canvas.textOut(x0, y, calendarText(errors->startTime));
    y += lh + 1;
    canvas.textOut(x0, y, calendarText(errors->endTime));
    y += 2 * lh + 2;
    canvas.textOut(x0, y, elapsedTimeText(static_cast<int64_t>(errors->endTime) - errors->startTime));
    y += 3 * lh + 3;

    if (isTupleSeries(errors->wSeriesType)) {
        const int32_t bh = drawPatternTupleBox(canvas, *errors, *series, v, g, static_cast<int16_t>(a), x0, y);
        if (bh > 0) y += bh + 2 * v.topOff;
    }

    // The measure's formula, in Greek letters.
    if (kind == 0 || kind == 1) canvas.textOut(x0, y, toGreek("e(s)=E||C-<C>||2/||C||2"));
    if (kind == 2 || kind == 3) canvas.textOut(x0, y, toGreek("e(s)=E||h-<h>||2/||h||2"));
    y += fm.height;

    // The labels' font: the height asked for and the height obtained.
    canvas.textOut(x0, y, formatted(" %d -> %d", g.fh, fm.height));

    if (!g.valid) return true;
    const int32_t base = g.plotTop + g.plotH;
    canvas.setPen(kBlack);
    graph::outlineInclusive(canvas, {g.plotLeft, g.plotTop, g.plotLeft + g.plotW - 1, base - 1});
    graph::outlineInclusive(canvas, {g.plotLeft - 1, g.plotTop - 1, g.plotLeft + g.plotW, base});
    for (int32_t gy = base; gy >= g.plotTop; gy -= g.gridStep)
        for (int32_t x = g.plotLeft; x <= g.plotLeft + g.plotW; x += 4) canvas.setPixel(x, gy, kBlack);
    for (int32_t gx = g.plotLeft; gx <= g.plotLeft + g.plotW; gx += 2 * g.levelStep)
        for (int32_t yy = base; yy >= g.plotTop; yy -= 4) canvas.setPixel(gx, yy, kBlack);

    const std::vector<AxisLabel> levels = levelLabels(*errors, g, lh, fw, sh);
    for (const AxisLabel& label : levels) canvas.textOut(label.at.x, label.at.y, toGreek(label.text));
    const AxisLabel sigmaLabel = levels.empty() ? AxisLabel{} : levels.back();
    for (const AxisLabel& label : values) canvas.textOut(label.at.x, label.at.y, label.text);

    std::vector<Curve> curves = errorCurves(kind, *errors, norms, g, Z, sh);
    // The labels stay one above the other between the plot's top edge and its bottom line, and
    // above the sigma under the axis when that one reaches into their column.
    int32_t lowest = base;
    const int32_t column = g.plotLeft + g.plotW + g.levelStep;
    int32_t columnWidth = 0;
    for (const Curve& c : curves) columnWidth = std::max(columnWidth, canvas.textWidth(toGreek(c.label)));
    if (!sigmaLabel.text.empty() && sigmaLabel.at.x < column + columnWidth &&
        sigmaLabel.at.x + canvas.textWidth(toGreek(sigmaLabel.text)) > column)
        lowest = std::min(lowest, sigmaLabel.at.y - sh);
    spreadLabels(curves, sh, g.plotTop - sh, lowest);
    for (const Curve& c : curves) {
        drawCurve(canvas, c, g.plotTop, base);
        if (!c.label.empty()) canvas.textOut(c.labelAt.x, c.labelAt.y, toGreek(c.label));
    }
    for (const Curve& c : boundCurves(kind, *errors, *series, figures, g, Z)) drawCurve(canvas, c, g.plotTop, base);
    return true;
}

bool simulationPatternTupleRows(const Canvas& canvas, const LayoutState& layout, const Settings& settings,
                                int32_t kind, uint16_t wRequiredCount, const uint16_t* lpRequiredList,
                                const RestErrorHeader* errors, const SeriesHeader* series, std::vector<Rect>& rows) {
    using namespace simgraph;
    if (!errors || !series || errors->wTaskType != 40) return false;
    if (errors->wSeriesType != 36 && errors->wSeriesType != 40) return false;
    const Rect& main = layout.rcMain;
    const SeriesViewLayout v = layOutSeriesView(main, layout.lineHeight, wRequiredCount, false);
    const SeparationFigures figures = separationFigures(*errors, *series, wRequiredCount, lpRequiredList);
    Normalizers norms;
    try {
        norms = makeNormalizers(kind, errors->wVariousPulses, *series, figures);
    } catch (const std::bad_alloc&) {
        return false;  // nothing is drawn
    }
    const GraphGeometry g = graphGeometry(v, errors->wNoiseLevels);
    const SideTexts side = layOutSideTexts(canvas, settings, main, v.x0, g, kind, *errors, norms, figures);
    PatternBox box;
    int32_t m = 0;
    const int32_t y = patternBoxTop(main, layout.lineHeight, side.figureLines.size());
    if (!storedTupleBox(v, *series, canvas.textWidth(" pattern tuples "), v.x0, y, box, m)) return false;
    rows.assign(static_cast<size_t>(m), Rect{});
    for (int32_t t = 0; t < m; ++t) rows[static_cast<size_t>(t)] = storedRowRect(box, t);
    return true;
}
