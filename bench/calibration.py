#!/usr/bin/env python3
"""Whether the detection's per-pulse confidence is calibrated: reliability diagrams.

Makes the recordings of bench/accuracy.py (the same generator, seeds and baseline removal; the
first six recordings of a level are the accuracy table's test recordings), runs detect with
confidence=True and matches the pulses found to the true ones as the accuracy benchmark does
(starts at most Tmin/4 = 20 samples apart, one-to-one). The confidence window is that same
tolerance, so that "some pulse starts within ±W" and "the pulse found is a true one" speak of
the same thing. The found pulses are then grouped by confidence into ten bins [0, 0.1), ...,
[0.9, 1]; per bin the share of them that are true pulses is set against their mean confidence.
A calibrated confidence lies on the diagonal.

Methods (detect's options as in bench/accuracy.py):

  (c') gain + auto cost + learn   gain=(0.5, 2), pulse_cost="auto", learn=10: the best method
                                  of the accuracy table
  (a)  cut shapes                 the defaults: gain 1, no pulse cost
  (e)  the generator's shapes     the three true shapes themselves (peak AMPLITUDE) instead of
                                  cuts, gain=(0.5, 2), pulse_cost="auto": the posterior's model
                                  all but right, a reference for what the engine gives then

each with the noise level σ estimated by detect (the MAD of first differences) and with the
generator's true σ (noise_sigma=).

    PYTHONPATH=build/release/python /usr/bin/python3 bench/calibration.py            # docs/reliability.*
    PYTHONPATH=build/release/python /usr/bin/python3 bench/calibration.py --quick --out /tmp/cal

Prints per method and σ choice the Markdown table of bins (count, mean confidence, share true)
pooled over the noise levels, a summary per noise level (pulses, mean confidence, share true,
the largest |share − mean confidence| over bins of at least 30 pulses, the count-weighted mean
of |share − mean confidence| over all bins) and the estimated σ against the true one; draws
OUT/reliability.png and OUT/reliability.svg. Fixed seeds: a run gives the same numbers.
"""

import os
import sys
import time

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import accuracy  # noqa: E402  (the recordings, the matching and matplotlib's file-only setup)
import matplotlib.pyplot as plt  # noqa: E402
import pulsebench  # noqa: E402

LEVELS = [0.35, 0.5, 0.7, 1.0, 1.4]  # noise deviation over the pulse peak: where pulses get missed
BINS = 10
MIN_COUNT = 30             # bins with fewer pulses are drawn hollow and left out of the largest deviation
_ACCURACY_OPTIONS = {key: options for key, _, options in accuracy.METHODS}
METHODS = [
    # key, label, detect's options, whether the shapes are the generator's own (else cut)
    ("gain_auto_learn", "(c') gain + auto cost + learn", _ACCURACY_OPTIONS["gain_auto_learn"], False),
    ("cut", "(a) cut shapes", _ACCURACY_OPTIONS["cut"], False),
    ("true_shapes", "(e) generator's shapes, gain + auto cost", _ACCURACY_OPTIONS["gain_auto"], True),
]
SIGMAS = [("estimated", "σ estimated"), ("true", "σ true")]
STYLE = {
    "gain_auto_learn": dict(color="tab:purple", marker="v"),
    "cut": dict(color="tab:blue", marker="o"),
    "true_shapes": dict(color="tab:gray", marker="s", linestyle=":"),
}
LEVEL_COLOURS = ["tab:green", "tab:olive", "tab:orange", "tab:red", "tab:brown"]


def bin_of(confidence):
    """The bin of each confidence: [k/10, (k+1)/10), the last one closed."""
    return np.minimum((np.asarray(confidence) * BINS).astype(int), BINS - 1)


def bins(confidence, is_true):
    """Per bin (count, mean confidence, share true); NaN where a bin is empty."""
    which = bin_of(confidence)
    rows = []
    for k in range(BINS):
        inside = which == k
        count = int(inside.sum())
        rows.append((count, confidence[inside].mean() if count else np.nan,
                     is_true[inside].mean() if count else np.nan))
    return rows


def largest_deviation(rows):
    """The largest |share true − mean confidence| over bins of at least MIN_COUNT pulses (NaN if none)."""
    gaps = [abs(share - mean) for count, mean, share in rows if count >= MIN_COUNT]
    return max(gaps) if gaps else np.nan


def weighted_deviation(rows):
    """The count-weighted mean of |share true − mean confidence| over the bins."""
    total = sum(count for count, _, _ in rows)
    return sum(count * abs(share - mean) for count, mean, share in rows if count) / total if total else np.nan


def run(levels, recordings, samples, threads, log):
    """Every method with either σ on every recording. Returns {(method, σ choice): {level:
    (confidences, whether each found pulse matched a true one)}} and {level: [estimated σ]}."""
    shapes = accuracy.pulse_shapes()
    names = [name for _, name in accuracy.KINDS]
    generator_shapes = {name: accuracy.AMPLITUDE * shape for name, shape in zip(names, shapes)}
    found = {(key, sigma): {} for key, _, _, _ in METHODS for sigma, _ in SIGMAS}
    estimates = {}
    for noise in levels:
        # The accuracy benchmark's seeds: a level's place in its list, the recording's number
        # (0 is the NCC's calibration recording there, so the test recordings start at 1).
        level_index = accuracy.NOISE_LEVELS.index(noise)
        estimates[noise] = []
        collected = {configuration: ([], []) for configuration in found}
        for recording in range(recordings):
            rng = np.random.default_rng([accuracy.SEED, level_index, recording + 1])
            signal, positions, kinds, gains = accuracy.make_recording(rng, samples, noise, shapes)
            templates = accuracy.templates_of(positions, kinds, gains)
            for key, _, options, own_shapes in METHODS:
                for sigma, _ in SIGMAS:
                    result = pulsebench.detect(
                        signal, generator_shapes if own_shapes else None, accuracy.TMIN, accuracy.TMAX,
                        templates=None if own_shapes else templates, baseline=accuracy.BASELINE_WINDOW,
                        threads=threads, confidence=True, confidence_window=accuracy.TOLERANCE,
                        noise_sigma=noise * accuracy.AMPLITUDE if sigma == "true" else None, **options)
                    is_true = np.zeros(len(result.position), dtype=bool)
                    is_true[[f for _, f in accuracy.match(positions, result.position)]] = True
                    collected[key, sigma][0].append(result.confidence)
                    collected[key, sigma][1].append(is_true)
                    if sigma == "estimated" and key == METHODS[0][0]:
                        estimates[noise].append(result.noise_sigma)
            log("noise %.2f, recording %d: %d samples, %d pulses" % (noise, recording + 1, len(signal), len(positions)))
        for configuration, (confidences, truths) in collected.items():
            found[configuration][noise] = (np.concatenate(confidences), np.concatenate(truths))
    return found, estimates


def number(value):
    """Three decimals, or a dash for a missing value (no bin of enough pulses)."""
    return "–" if np.isnan(value) else "%.3f" % value


def pooled(per_level):
    return (np.concatenate([c for c, _ in per_level.values()]), np.concatenate([t for _, t in per_level.values()]))


def bin_table(found, key):
    """The Markdown table of one method's bins pooled over the levels, both σ choices side by side."""
    lines = ["| confidence bin | " + " | ".join("%s: count | mean confidence | share true" % label
                                                for _, label in SIGMAS) + " |",
             "|---" * (1 + 3 * len(SIGMAS)) + "|"]
    columns = [bins(*pooled(found[key, sigma])) for sigma, _ in SIGMAS]
    for k in range(BINS):
        cells = []
        for rows in columns:
            count, mean, share = rows[k]
            cells.append("%d | %s | %s" % (count, "–" if not count else "%.3f" % mean,
                                           "–" if not count else "%.3f" % share))
        lines.append("| [%.1f, %.1f%s | %s |" % (k / BINS, (k + 1) / BINS, "]" if k == BINS - 1 else ")",
                                                  " | ".join(cells)))
    lines.append("| largest deviation (bins ≥ %d) | %s |" % (
        MIN_COUNT, " | ".join("| | " + number(largest_deviation(rows)) for rows in columns)))
    return "\n".join(lines)


def summary(found, levels):
    """Per method, σ choice and level: pulses found, mean confidence, share true, the largest
    deviation over bins of at least MIN_COUNT pulses and the count-weighted deviation."""
    lines = ["| method | σ | noise σ / peak | pulses found | mean confidence | share true | largest deviation "
             "(bins ≥ %d) | weighted deviation |" % MIN_COUNT, "|---" * 8 + "|"]
    for key, label, _, _ in METHODS:
        for sigma, sigma_label in SIGMAS:
            per_level = found[key, sigma]
            for noise in list(levels) + ["pooled"]:
                confidence, is_true = pooled(per_level) if noise == "pooled" else per_level[noise]
                rows = bins(confidence, is_true)
                lines.append("| %s | %s | %s | %d | %.3f | %.3f | %s | %s |" % (
                    label, sigma_label.split()[1], noise if noise == "pooled" else "%.2f" % noise, len(confidence),
                    confidence.mean(), is_true.mean(), number(largest_deviation(rows)),
                    number(weighted_deviation(rows))))
    return "\n".join(lines)


def reliability_curve(axes, rows, label, **style):
    """The bins' (mean confidence, share true): a line with filled markers through the bins of at
    least MIN_COUNT pulses, hollow markers alone for the others."""
    counts = np.array([count for count, _, _ in rows])
    means = np.array([mean for _, mean, _ in rows])
    shares = np.array([share for _, _, share in rows])
    colour, marker = style["color"], style["marker"]
    full = counts >= MIN_COUNT
    axes.plot(means[full], shares[full], color=colour, linestyle=style.get("linestyle", "-"), marker=marker,
              label=label)
    thin = (counts > 0) & ~full
    axes.plot(means[thin], shares[thin], linestyle="none", marker=marker, markerfacecolor="white", color=colour)


def draw(found, levels, out, subtitle):
    figure, grid = plt.subplots(2, 3, figsize=(16, 7.6), dpi=100, height_ratios=[3, 1], sharex=True)
    centres = (np.arange(BINS) + 0.5) / BINS
    width = 0.8 / BINS / len(METHODS)
    panels = [(sigma, "All levels pooled, " + label) for sigma, label in SIGMAS]
    for column, (sigma, title) in enumerate(panels):
        top, bottom = grid[0, column], grid[1, column]
        for index, (key, label, _, _) in enumerate(METHODS):
            rows = bins(*pooled(found[key, sigma]))
            reliability_curve(top, rows, "%s (largest deviation %s)" % (label, number(largest_deviation(rows))),
                              **STYLE[key])
            bottom.bar(centres + (index - (len(METHODS) - 1) / 2) * width, [count for count, _, _ in rows],
                       width=width, color=STYLE[key]["color"], label=label)
        top.set_title(title)
    top, bottom = grid[0, 2], grid[1, 2]
    key, label = METHODS[0][0], METHODS[0][1]
    for noise, colour in zip(levels, LEVEL_COLOURS):
        rows = bins(*found[key, "estimated"][noise])
        legend = "σ = %.2f of the peak (largest deviation %s)" % (noise, number(largest_deviation(rows)))
        reliability_curve(top, rows, legend, color=colour, marker=STYLE[key]["marker"])
        bottom.step(np.arange(BINS + 1) / BINS, [count for count, _, _ in rows] + [rows[-1][0]], where="post",
                    color=colour)
    top.set_title("%s per noise level, σ estimated" % label.split()[0])
    for column in range(3):
        top, bottom = grid[0, column], grid[1, column]
        top.plot([0, 1], [0, 1], color="black", linewidth=0.8, label="calibrated (diagonal)")
        top.set_xlim(0, 1)
        top.set_ylim(-0.02, 1.02)
        top.set_xlabel("mean confidence of the bin's pulses")
        top.xaxis.set_tick_params(labelbottom=True)
        top.set_ylabel("share of found pulses that are true")
        top.grid(alpha=0.3)
        top.legend(loc="upper left", fontsize=8)
        bottom.set_yscale("log")
        bottom.set_xlabel("confidence bin (0.1 wide)")
        bottom.set_ylabel("pulses per bin")
        bottom.axhline(MIN_COUNT, color="black", linewidth=0.6, linestyle="--")
        bottom.grid(alpha=0.3)
    figure.suptitle(subtitle + "\nfilled markers joined by lines: bins of at least %d pulses; hollow markers: fewer "
                    "(the dashed line in the counts below)" % MIN_COUNT, fontsize=10)
    figure.tight_layout()
    return accuracy.save(figure, out, "reliability")


def main(arguments):
    options = accuracy.parse_options(arguments, __doc__.split("\n\n")[0], "reliability", 12)
    levels = LEVELS
    if options.quick:
        levels, options.recordings, options.samples = [0.5, 1.4], 1, 4000

    os.makedirs(options.out, exist_ok=True)
    started = time.perf_counter()
    found, estimates = run(levels, options.recordings, options.samples, options.threads,
                           lambda text: print(text, file=sys.stderr, flush=True))
    elapsed = time.perf_counter() - started
    subtitle = ("Confidence of the pulses found against the share of them within ±%d samples of a true start "
                "(confidence window %d); %d recordings of ~%d samples at each noise level %s of the peak"
                % (accuracy.TOLERANCE, accuracy.TOLERANCE, options.recordings, options.samples,
                   ", ".join("%.2f" % noise for noise in levels)))
    paths = draw(found, levels, options.out, subtitle)
    for key, label, _, _ in METHODS:
        print("%s, all levels pooled:\n\n%s\n" % (label, bin_table(found, key)))
    print(summary(found, levels))
    print()
    print("Estimated σ over the true one (mean, least, greatest over the recordings): "
          + ", ".join("%.2f: %.3f (%.3f..%.3f)" % (noise, np.mean(values) / (noise * accuracy.AMPLITUDE),
                                                  min(values) / (noise * accuracy.AMPLITUDE),
                                                  max(values) / (noise * accuracy.AMPLITUDE))
                      for noise, values in estimates.items()))
    print("The whole run %.0f s. Pictures: %s" % (elapsed, ", ".join(paths)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
