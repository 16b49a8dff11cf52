#!/usr/bin/env python3
"""Find the pulses of a recording with PulseBench and draw them.

Reads a signal, cuts pulse shapes from it, runs the exact detection (`pulsebench.detect`) and
draws the signal with every pulse found over it, each in its shape's colour, as a PNG picture.

    python3 examples/detect_in_recording.py --out pictures/
    python3 examples/detect_in_recording.py --signal ecg.csv --rate 250 \\
        --cut 1.20s:0.08s:beat --cut 3.05s:0.08s:ectopic --tmin 0.3s --tmax 1.5s --out pictures/

Without --signal the example makes its own recording first: a noisy series of the workbench
(pulses of etalons 3 and 7), written to OUT/recording.csv as `pulsebench-cli series --csv` writes
it, and cuts its two shapes from the first pulse of each etalon. The picture goes to
OUT/detect_in_recording.png.
"""

import argparse
import os
import sys

import matplotlib

matplotlib.use("Agg")  # draws into files; no display needed
import matplotlib.pyplot as plt  # noqa: E402
import numpy as np  # noqa: E402

import pulsebench  # noqa: E402

COLOURS = ["tab:red", "tab:blue", "tab:green", "tab:orange", "tab:purple", "tab:brown"]


def make_demo_recording(path):
    """Writes a noisy series of the workbench (type 4: whole pulses, their count drawn) of
    etalons 3 and 7 as a one-column CSV, and returns the cuts of the first pulse of each
    etalon."""
    series = pulsebench.Workbench().series(type=4, length=2400, tmin=60, tmax=150, sequence=[3, 7] * 20, noise=25)
    np.savetxt(path, series["noisy"], fmt="%d", header="sample", comments="")
    pulses = series["pulses"]
    cuts = []
    for etalon, name in [(3, "half sine"), (7, "burst")]:
        first = np.flatnonzero(pulses["etalon"] == etalon)[0]
        cuts.append("%d:%d:%s" % (pulses["position"][first], series["impulse_size"], name))
    return cuts


def samples_of(text, rate):
    """A count of samples: whole samples ("120") or seconds ("0.3s")."""
    return int(round(float(text[:-1]) * rate)) if text.endswith("s") else int(text)


def cut_shapes(samples, rate, cuts):
    """The shapes START:LENGTH:NAME cut from the signal, as a dict name -> samples."""
    shapes = {}
    for cut in cuts:
        start, length, name = cut.split(":", 2)
        first = samples_of(start, rate)
        shapes[name] = samples[first:first + samples_of(length, rate)].copy()
    return shapes


def draw(samples, rate, shapes, result, path):
    """The signal in grey and every pulse found as the stretch of its shape that it keeps, at its
    place, in its shape's colour."""
    time = np.arange(len(samples)) / rate
    figure, axes = plt.subplots(figsize=(12, 4), dpi=100)
    axes.plot(time, samples, color="0.6", linewidth=0.8, label="signal")
    names = list(shapes)
    drawn = set()
    for position, name, first, last in zip(result.position, result.name, result.cut_start, result.cut_end):
        kept = shapes[name][first:last + 1]
        start = position + first
        colour = COLOURS[names.index(name) % len(COLOURS)]
        axes.plot((start + np.arange(len(kept))) / rate, kept, color=colour, linewidth=1.6,
                  label=None if name in drawn else name)
        drawn.add(name)
    axes.set_xlabel("time (s)")
    axes.set_ylabel("signal")
    axes.set_title("%d pulses found (task %s, distance %d)" % (len(result), result.task, result.distance))
    axes.legend(loc="upper left", bbox_to_anchor=(1.0, 1.0))  # beside the signal, covering no pulse
    axes.margins(x=0.01)
    figure.tight_layout()
    figure.savefig(path)
    plt.close(figure)


def main(arguments):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--signal", help="the recording (text or audio); default: make a demo one in OUT")
    parser.add_argument("--column", help="text: the column, by 1-based number or header name")
    parser.add_argument("--rate", type=float, help="text: samples per second (default 1)")
    parser.add_argument("--cut", action="append", default=[],
                        help="a shape cut from the signal, START:LENGTH:NAME (samples, or seconds with s)")
    parser.add_argument("--tmin", default="60", help="least distance of neighbouring starts (samples or 0.3s)")
    parser.add_argument("--tmax", default="150", help="greatest distance of neighbouring starts")
    parser.add_argument("--saved-energy", type=int, default=75, help="a cut pulse keeps more than P %% of its energy")
    parser.add_argument("--out", default=".", help="folder for the picture (and the demo recording)")
    options = parser.parse_args(arguments)

    os.makedirs(options.out, exist_ok=True)
    signal_file, cuts = options.signal, options.cut
    if signal_file is None:
        signal_file = os.path.join(options.out, "recording.csv")
        cuts = cuts or make_demo_recording(signal_file)
    if not cuts:
        parser.error("name the shapes to cut with --cut START:LENGTH:NAME")

    column = int(options.column) if options.column and options.column.isdigit() else options.column
    samples, rate = pulsebench.read_signal(signal_file, column=column, rate=options.rate)
    shapes = cut_shapes(samples, rate, cuts)
    result = pulsebench.detect(samples, shapes, options.tmin, options.tmax, rate=rate,
                               saved_energy=options.saved_energy)

    for position, time, name, first, last in zip(result.position, result.time, result.name, result.cut_start,
                                                 result.cut_end):
        print("%8d  %10.3f s  %-10s  %d..%d" % (position, time, name, first, last))
    picture = os.path.join(options.out, "detect_in_recording.png")
    draw(samples, rate, shapes, result, picture)
    print("%d pulses, distance %d; picture %s" % (len(result), result.distance, picture))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
