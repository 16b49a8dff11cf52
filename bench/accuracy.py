#!/usr/bin/env python3
"""How well the exact detection finds pulses in noise, against normalised cross-correlation.

Makes synthetic recordings whose pulses are known (three kinds from the workbench's own
alphabet, stretched to 60 samples; gaps between starts drawn from Tmin to Tmax; gains drawn from
0.6 to 1.4; a slow wandering baseline; white Gaussian noise at several levels), removes a
running median from each and finds their pulses with several methods, scored against the truth:

  (a) cut       pulsebench.detect with one shape per kind cut from the recording at one true
                pulse of that kind; gain 1, pulse cost 0 (the defaults)
  (b) learn     the same with learn=10 (the shapes learned from the recording)
  (c) gain+auto gain=(0.5, 2) and pulse_cost="auto"
  (c') +learn   gain=(0.5, 2), pulse_cost="auto" and learn=10
  (d) NCC       normalised cross-correlation of the baseline-free signal with each cut shape
                (the shapes (a) matched), the best shape per position, peaks at least Tmin
                apart above a threshold; the threshold is the one with the best F1 on a
                calibration recording of the same noise level (not a test one)
  and, for the pulse cost alone, gain=(0.5, 2) with pulse cost 0.

A found pulse matches a true one when their starts are at most Tmin/4 samples apart; the
matching is one-to-one and of the largest size (a sweep in position order, optimal on a line
with one tolerance). F1 = 2 TP / (2 TP + FP + FN), pooled over a noise level's recordings; the
kind accuracy is the share of matched pulses whose shape is the true pulse's kind.

    PYTHONPATH=build/release/python /usr/bin/python3 bench/accuracy.py            # docs/accuracy.*
    PYTHONPATH=build/release/python /usr/bin/python3 bench/accuracy.py --quick --out /tmp/acc

Prints a Markdown table (noise level x method: F1 and kind accuracy) and draws OUT/accuracy.png
and OUT/accuracy.svg. Every random number comes from fixed seeds: a run gives the same table.
"""

import argparse
import os
import sys
import time

import matplotlib

matplotlib.use("Agg")  # draws into files; no display needed
matplotlib.rcParams["svg.hashsalt"] = "accuracy"
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import pulsebench  # noqa: E402

# The pulse kinds: alphabet rows (1-based, as `pulsebench-cli alphabet` numbers them) and names.
KINDS = [(3, "half sine"), (5, "sine period"), (7, "burst")]
PULSE_LENGTH = 60          # samples of a stretched pulse
AMPLITUDE = 1000.0         # the largest magnitude of a pulse of gain 1
TMIN, TMAX = 80, 240       # least and greatest gap between neighbouring starts
TOLERANCE = TMIN // 4      # a found start matches a true one this many samples away or closer
GAINS = (0.6, 1.4)         # each pulse's gain, uniform
# The running median removed first, in samples (= seconds at rate 1): two of the longest gaps,
# so that a run of close pulses does not lift it much (241 samples lost up to 4 F1 points at
# the larger noise levels, for every method).
BASELINE_WINDOW = 2 * TMAX + 1
LEARN_ROUNDS = 10
NOISE_LEVELS = [0.05, 0.1, 0.2, 0.35, 0.5, 0.7, 1.0, 1.4]  # noise deviation over AMPLITUDE
SEED = 20240611

METHODS = [
    # key, label in the table and the picture, detect's options (None: the NCC)
    ("cut", "(a) cut shapes", {}),
    ("learn", "(b) learn=10", {"learn": LEARN_ROUNDS}),
    ("gain_auto", "(c) gain + auto cost", {"gain": (0.5, 2.0), "pulse_cost": "auto"}),
    ("gain_auto_learn", "(c') gain + auto cost + learn", {"gain": (0.5, 2.0), "pulse_cost": "auto",
                                                          "learn": LEARN_ROUNDS}),
    ("ncc", "(d) NCC, calibrated threshold", None),
    ("gain_zero", "gain, cost 0", {"gain": (0.5, 2.0), "pulse_cost": 0.0}),
]
STYLE = {
    "cut": dict(color="tab:blue", marker="o"),
    "learn": dict(color="tab:green", marker="s"),
    "gain_auto": dict(color="tab:red", marker="^"),
    "gain_auto_learn": dict(color="tab:purple", marker="v"),
    "ncc": dict(color="black", marker="x", linestyle="--"),
    "gain_zero": dict(color="tab:orange", marker="D"),
}


def pulse_shapes():
    """The kinds' shapes: alphabet rows stretched to PULSE_LENGTH samples by linear
    interpolation, largest magnitude 1."""
    alphabet = pulsebench.Workbench().alphabet().astype(float)
    shapes = []
    for row, _ in KINDS:
        source = alphabet[row - 1]
        stretched = np.interp(np.linspace(0, len(source) - 1, PULSE_LENGTH), np.arange(len(source)), source)
        shapes.append(stretched / np.abs(stretched).max())
    return shapes


def make_recording(rng, samples, noise, shapes):
    """A recording of about `samples` samples: pulses of random kinds and gains with gaps from
    TMIN to TMAX (the first within TMAX of the start, the last within TMAX of the end), a slow
    baseline (a sine of a few thousand samples' period and a smoothed random walk), and white
    Gaussian noise of deviation noise * AMPLITUDE. Returns (signal, positions, kinds, gains)."""
    positions = [int(rng.integers(0, TMAX - PULSE_LENGTH))]
    while True:
        following = positions[-1] + int(rng.integers(TMIN, TMAX + 1))
        if following + PULSE_LENGTH > samples:
            break
        positions.append(following)
    positions = np.array(positions)
    length = positions[-1] + int(rng.integers(PULSE_LENGTH, TMAX))
    kinds = rng.integers(0, len(shapes), size=len(positions))
    gains = rng.uniform(*GAINS, size=len(positions))
    clean = np.zeros(length)
    for position, kind, gain in zip(positions, kinds, gains):
        clean[position:position + PULSE_LENGTH] += gain * AMPLITUDE * shapes[kind]
    t = np.arange(length)
    period = rng.uniform(3000, 8000)
    walk = np.cumsum(rng.normal(size=length + 999))
    walk = np.convolve(walk, np.ones(1000) / 1000, mode="valid")
    walk = (walk - walk.mean()) / max(walk.std(), 1e-9)
    baseline = AMPLITUDE * (0.8 * np.sin(2 * np.pi * t / period + rng.uniform(0, 2 * np.pi)) + 0.4 * walk)
    signal = clean + baseline + rng.normal(scale=noise * AMPLITUDE, size=length)
    return signal, positions, kinds, gains


def typical_pulses(kinds, gains):
    """For each kind the first true pulse whose gain is within 0.9..1.1 (a clean-looking example
    a researcher would cut), else the kind's first pulse."""
    chosen = []
    for kind in range(len(KINDS)):
        mine = np.flatnonzero(kinds == kind)
        typical = mine[np.abs(gains[mine] - 1) <= 0.1]
        chosen.append(int((typical if len(typical) else mine)[0]))
    return chosen


def remove_baseline(signal, window):
    """The signal less its running median over a centred window of `window` samples (odd), cut
    at the ends, as detect's baseline removal computes it."""
    half = window // 2
    samples = signal.astype(np.float32).astype(float)  # the engine keeps 4-byte samples
    base = np.empty_like(samples)
    if len(samples) > 2 * half:
        base[half:len(samples) - half] = np.median(np.lib.stride_tricks.sliding_window_view(samples, window), axis=1)
    for i in list(range(min(half, len(samples)))) + list(range(max(len(samples) - half, half), len(samples))):
        base[i] = np.median(samples[max(0, i - half):i + half + 1])
    return samples - base


def ncc_scores(signal, shapes):
    """For every start p (0 .. N - L) the best normalised cross-correlation of the signal's
    window p .. p + L - 1 with any shape, and that shape's index. Shapes of one length L.

    The signal is free of its baseline already, so windows and shapes are not centred: the
    score is the cosine of the angle between window and shape (1 for a scaled copy). Centring
    both (Pearson's correlation) throws away a pulse's own mean: a half sine then correlates
    with a shifted sine period nearly as well as with itself, and that variant found fewer
    pulses at every noise level tried."""
    length = len(shapes[0])
    cumulative_sq = np.concatenate(([0.0], np.cumsum(signal * signal)))
    spread = np.sqrt(np.maximum(cumulative_sq[length:] - cumulative_sq[:-length], 1e-12))
    best = np.full(len(spread), -np.inf)
    which = np.zeros(len(spread), dtype=int)
    for index, shape in enumerate(shapes):
        score = np.correlate(signal, shape / np.linalg.norm(shape), mode="valid") / spread
        better = score > best
        best[better] = score[better]
        which[better] = index
    return best, which


def greedy_peaks(score):
    """Peaks at least TMIN apart, highest first: every position in descending order of score is
    kept unless a kept one lies closer than TMIN. Returns the kept positions in that order (the
    peaks above a threshold are the leading ones)."""
    order = np.argsort(-score, kind="stable")
    order = order[score[order] > 0]
    blocked = np.zeros(len(score) + 2 * TMIN, dtype=bool)
    kept = []
    for position in order:
        if not blocked[position + TMIN]:
            kept.append(position)
            blocked[position + 1:position + 2 * TMIN] = True
    return np.array(kept, dtype=int)


def match(true_positions, found_positions):
    """The largest one-to-one matching of found to true starts at most TOLERANCE apart: a sweep
    of both in position order. Returns pairs (true index, found index)."""
    true_order, found_order = np.argsort(true_positions), np.argsort(found_positions)
    pairs, i, j = [], 0, 0
    while i < len(true_order) and j < len(found_order):
        t, f = true_positions[true_order[i]], found_positions[found_order[j]]
        if abs(int(f) - int(t)) <= TOLERANCE:
            pairs.append((true_order[i], found_order[j]))
            i += 1
            j += 1
        elif f < t:
            j += 1
        else:
            i += 1
    return pairs


def score(truth, found_positions, found_kinds):
    """(true positives, false positives, false negatives, matched with the right kind)."""
    positions, kinds = truth
    pairs = match(positions, found_positions)
    right = sum(1 for t, f in pairs if found_kinds[f] == kinds[t])
    return len(pairs), len(found_positions) - len(pairs), len(positions) - len(pairs), right


def f1_of(tp, fp, fn):
    return 2 * tp / (2 * tp + fp + fn) if tp + fp + fn else 1.0


def ncc_found(score_and_kind, threshold, ordered_peaks):
    best, which = score_and_kind
    kept = ordered_peaks[best[ordered_peaks] >= threshold]
    return kept, which[kept]


def calibrate_threshold(signal, positions, kinds, gains, threads):
    """The NCC threshold (0.05 .. 0.99 in steps of 0.01) with the best F1 on this recording,
    with the shapes cut from it as on a test recording; of several equal ones the middle one
    (at small noise a wide range of thresholds is perfect, and its edges are not safe)."""
    cut = pulsebench.detect(signal, None, TMIN, TMAX, templates=templates_of(positions, kinds, gains),
                            baseline=BASELINE_WINDOW, threads=threads)
    corrected = remove_baseline(signal, BASELINE_WINDOW)
    scores = ncc_scores(corrected, [cut.etalons[name] for _, name in KINDS])
    peaks = greedy_peaks(scores[0])
    thresholds = np.round(np.arange(0.05, 0.9901, 0.01), 2)
    f1 = []
    for threshold in thresholds:
        found, found_kinds = ncc_found(scores, threshold, peaks)
        f1.append(f1_of(*score((positions, kinds), found, found_kinds)[:3]))
    best = np.flatnonzero(np.array(f1) == max(f1))
    chosen = best[len(best) // 2]
    return thresholds[chosen], f1[chosen]


def templates_of(positions, kinds, gains):
    """detect's templates: one cut of PULSE_LENGTH samples per kind at a typical true pulse."""
    return [(int(positions[i]), PULSE_LENGTH, KINDS[kinds[i]][1]) for i in typical_pulses(kinds, gains)]


def run(levels, recordings, samples, threads, log):
    """Every method on every recording. Returns {level: {method: [tp, fp, fn, right]}}, the NCC
    thresholds per level and the seconds each method took in all."""
    shapes = pulse_shapes()
    names = [name for _, name in KINDS]
    totals, thresholds, seconds = {}, {}, {key: 0.0 for key, _, _ in METHODS}
    for level_index, noise in enumerate(levels):
        # One generator per recording, seeded by the level's place in the list and the
        # recording's number (0: the NCC's calibration recording).
        calibration_rng = np.random.default_rng([SEED, level_index, 0])
        signal, positions, kinds, gains = make_recording(calibration_rng, samples, noise, shapes)
        threshold, calibration_f1 = calibrate_threshold(signal, positions, kinds, gains, threads)
        thresholds[noise] = threshold
        log("noise %.2f: NCC threshold %.2f (F1 %.3f on the calibration recording)"
            % (noise, threshold, calibration_f1))
        totals[noise] = {key: np.zeros(4, dtype=int) for key, _, _ in METHODS}
        for recording in range(recordings):
            rng = np.random.default_rng([SEED, level_index, recording + 1])
            signal, positions, kinds, gains = make_recording(rng, samples, noise, shapes)
            truth = (positions, kinds)
            templates = templates_of(positions, kinds, gains)
            cut_shapes = None
            for key, _, options in METHODS:
                started = time.perf_counter()
                if options is None:
                    corrected = remove_baseline(signal, BASELINE_WINDOW)
                    scores = ncc_scores(corrected, cut_shapes)
                    found, found_kinds = ncc_found(scores, threshold, greedy_peaks(scores[0]))
                else:
                    result = pulsebench.detect(signal, None, TMIN, TMAX, templates=templates, baseline=BASELINE_WINDOW,
                                               threads=threads, **options)
                    found = result.position
                    found_kinds = np.array([names.index(name) for name in result.name], dtype=int)
                    if key == "cut":  # the shapes as detect matched them (cut after the baseline removal)
                        cut_shapes = [result.etalons[name] for name in names]
                seconds[key] += time.perf_counter() - started
                counts = score(truth, found, found_kinds)
                totals[noise][key] += counts
            log("noise %.2f, recording %d: %d samples, %d pulses" % (noise, recording + 1, len(signal), len(positions)))
    return totals, thresholds, seconds


def table(totals, thresholds):
    """The Markdown table: one row per noise level, F1 and kind accuracy per method."""
    header = "| noise σ / peak | " + " | ".join(label for _, label, _ in METHODS) + " | NCC threshold |"
    lines = [header, "|---" * (len(METHODS) + 2) + "|"]
    for noise, per_method in totals.items():
        cells = []
        for key, _, _ in METHODS:
            tp, fp, fn, right = per_method[key]
            cells.append("%.3f / %s" % (f1_of(tp, fp, fn), "%.0f %%" % (100 * right / tp) if tp else "–"))
        lines.append("| %.2f | %s | %.2f |" % (noise, " | ".join(cells), thresholds[noise]))
    return "\n".join(lines)


def draw(totals, out, subtitle):
    levels = list(totals)
    figure, (left, middle, right) = plt.subplots(1, 3, figsize=(15, 4.8), dpi=100,
                                                 width_ratios=[1.6, 1.1, 1.1])
    for key, label, _ in METHODS:
        if key == "gain_zero":
            continue
        f1 = [f1_of(*totals[n][key][:3]) for n in levels]
        kind = [totals[n][key][3] / max(totals[n][key][0], 1) for n in levels]
        left.plot(levels, f1, label=label, **STYLE[key])
        middle.plot(levels, kind, label=label, **STYLE[key])
    for key, label in [("gain_auto", "gain + auto cost"), ("gain_zero", "gain, cost 0")]:
        right.plot(levels, [f1_of(*totals[n][key][:3]) for n in levels], label=label, **STYLE[key])
    left.set_title("Pulses found: F1 (start within ±%d samples)" % TOLERANCE)
    middle.set_title("Matched pulses of the right kind")
    right.set_title("Pulse cost with gain=(0.5, 2): F1")
    for axes, ylabel in [(left, "F1"), (middle, "share of matched pulses"), (right, "F1")]:
        axes.set_xlabel("noise deviation / pulse peak")
        axes.set_ylabel(ylabel)
        axes.set_ylim(-0.02, 1.02)
        axes.grid(alpha=0.3)
    left.legend(loc="lower left", fontsize=9)
    right.legend(loc="lower left", fontsize=9)
    figure.suptitle(subtitle, fontsize=10)
    figure.tight_layout()
    return save(figure, out, "accuracy")


def save(figure, out, stem):
    """Writes the figure to OUT/STEM.png and OUT/STEM.svg, closes it and returns the two paths."""
    paths = [os.path.join(out, stem + ".png"), os.path.join(out, stem + ".svg")]
    for path in paths:
        # No date in the files, fixed SVG ids: a run redraws the same bytes.
        figure.savefig(path, metadata={"Date": None} if path.endswith(".svg") else {})
    plt.close(figure)
    return paths


def parse_options(arguments, description, stem, recordings):
    """A benchmark's options: --out (default the checkout's docs/), --quick, --recordings (per
    noise level), --samples and --threads."""
    parser = argparse.ArgumentParser(description=description)
    docs = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "docs"))
    parser.add_argument("--out", default=docs,
                        help="folder for %s.png and %s.svg (default: the checkout's docs/)" % (stem, stem))
    parser.add_argument("--quick", action="store_true", help="a tiny run: one short recording, two noise levels")
    parser.add_argument("--recordings", type=int, default=recordings, help="test recordings per noise level")
    parser.add_argument("--samples", type=int, default=50000, help="samples per recording")
    parser.add_argument("--threads", type=int, default=0, help="detect's threads (0: every core)")
    return parser.parse_args(arguments)


def main(arguments):
    options = parse_options(arguments, __doc__.split("\n\n")[0], "accuracy", 6)
    levels = NOISE_LEVELS
    if options.quick:
        levels, options.recordings, options.samples = [0.1, 0.7], 1, 4000

    os.makedirs(options.out, exist_ok=True)
    started = time.perf_counter()
    totals, thresholds, seconds = run(levels, options.recordings, options.samples, options.threads,
                                      lambda text: print(text, file=sys.stderr, flush=True))
    elapsed = time.perf_counter() - started
    subtitle = ("%d recordings of ~%d samples per noise level (+1 for the NCC threshold); kinds: %s, %d samples; "
                "gaps %d..%d; gains %.1f..%.1f; slow baseline, running median of %d samples removed"
                % (options.recordings, options.samples, ", ".join(name for _, name in KINDS), PULSE_LENGTH, TMIN,
                   TMAX, GAINS[0], GAINS[1], BASELINE_WINDOW))
    paths = draw(totals, options.out, subtitle)
    print(table(totals, thresholds))
    print()
    print("Each cell: F1 / share of matched pulses of the right kind. Seconds per method (all recordings): "
          + ", ".join("%s %.1f" % (label, seconds[key]) for key, label, _ in METHODS)
          + "; the whole run %.0f s." % elapsed)
    print("Pictures: " + ", ".join(paths))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
