#!/usr/bin/env python3
"""Find the pulses of every recording in a folder with PulseBench, several recordings at a time.

Runs the exact detection (`pulsebench.detect`) on each recording of a folder on a pool of
threads: `detect` releases the GIL while it works, so the threads use as many cores. Prints one
line per recording in the folder's order and writes every pulse found to one table, as
`pulsebench-cli detect --manifest ... --csv` does.

    python3 examples/detect_folder.py --out found/
    python3 examples/detect_folder.py --folder recordings/ --etalons shapes.json --tmin 0.3s --tmax 1.5s \\
        --rate 250 --workers 4 --out found/

Without --folder the example first writes four short noisy series of the workbench (etalons 3 and
7) to OUT/recordings/ as `pulsebench-cli series --csv` would, and looks for the workbench's own
etalons 3 and 7 in them. The table goes to OUT/pulses.csv.
"""

import argparse
import concurrent.futures
import csv
import os
import sys

import numpy as np

import pulsebench

READABLE = (".csv", ".tsv", ".txt", ".dat", ".wav", ".flac", ".ogg", ".oga", ".aif", ".aiff", ".au")


def make_demo_folder(folder):
    """Writes four noisy series of etalons 3 and 7 (one workbench, so each continues the random
    streams of the one before) and returns the etalons as shapes named "3" and "7"."""
    os.makedirs(folder, exist_ok=True)
    bench = pulsebench.Workbench()
    for k, noise in enumerate([10, 20, 30, 40]):
        series = bench.series(type=4, length=1200, tmin=60, tmax=150, sequence=[3, 7] * 10, noise=noise)
        np.savetxt(os.path.join(folder, "recording%d.csv" % (k + 1)), series["noisy"], fmt="%d", header="sample",
                   comments="")
    etalons = bench.alphabet()
    return {"3": etalons[2], "7": etalons[6]}


def detect_one(path, shapes, options):
    """The pulses of one recording, or the reason it failed (a bad file fails alone)."""
    try:
        samples, rate = pulsebench.read_signal(path, rate=options.rate)
        # One thread each: the pool already keeps the cores busy with several recordings.
        return pulsebench.detect(samples, shapes, options.tmin, options.tmax, rate=rate,
                                 saved_energy=options.saved_energy, threads=1), None
    except ValueError as error:
        return None, str(error)


def main(arguments):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--folder", help="the recordings (text or audio); default: make demo ones in OUT")
    parser.add_argument("--etalons", help="the shapes file (table or JSON); needed with --folder")
    parser.add_argument("--rate", type=float, help="text: samples per second (default 1)")
    parser.add_argument("--tmin", default="60", help="least distance of neighbouring starts (samples or 0.3s)")
    parser.add_argument("--tmax", default="150", help="greatest distance of neighbouring starts")
    parser.add_argument("--saved-energy", type=int, default=100, help="a cut pulse keeps more than P %% of its energy")
    parser.add_argument("--workers", type=int, default=os.cpu_count() or 1, help="recordings detected at a time")
    parser.add_argument("--out", default=".", help="folder for the table (and the demo recordings)")
    options = parser.parse_args(arguments)

    os.makedirs(options.out, exist_ok=True)
    folder = options.folder
    if folder is None:
        folder = os.path.join(options.out, "recordings")
        shapes = make_demo_folder(folder)
    elif options.etalons:
        shapes = pulsebench.read_etalons(options.etalons)
    else:
        parser.error("name the shapes with --etalons FILE")
    names = sorted(name for name in os.listdir(folder) if name.lower().endswith(READABLE))
    if not names:
        parser.error("no recordings in " + folder)

    with concurrent.futures.ThreadPoolExecutor(max_workers=max(1, options.workers)) as pool:
        futures = [pool.submit(detect_one, os.path.join(folder, name), shapes, options) for name in names]
        results = [future.result() for future in futures]  # in the folder's order, whatever finished first

    table = os.path.join(options.out, "pulses.csv")
    failed = 0
    with open(table, "w", newline="") as out:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["file", "position", "time", "etalon", "cutStart", "cutEnd", "measure"])
        for name, (result, error) in zip(names, results):
            if result is None:
                failed += 1
                print("%-24s  failed: %s" % (name, error))
                continue
            print("%-24s  %3d pulses, distance %d" % (name, len(result), result.distance))
            for row in zip(result.position, result.time, result.name, result.cut_start, result.cut_end,
                           result.measure):
                writer.writerow([name, row[0], repr(float(row[1])), row[2], row[3], row[4], row[5]])
    print("%d recordings, %d failed; table %s" % (len(names), failed, table))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
