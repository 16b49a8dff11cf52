"""The `pulsebench` module against the batch tool: the same numbers for the same options (the
detection in a recording included), objects that keep their own random streams, long calls that
let other threads run and stop on Ctrl-C, and bad input refused with exceptions."""

import json
import math
import os
import pathlib
import re
import resource
import signal
import subprocess
import threading
import time

import numpy as np
import pytest

import pulsebench

CLI = os.environ.get("PULSEBENCH_CLI", "pulsebench-cli")


def cli_json(*args):
    out = subprocess.run([CLI, *args, "--json"], check=True, capture_output=True, text=True).stdout
    return json.loads(out)


def assert_pulses(arrays, pulses, ranges):
    keys = [("position", "position"), ("etalon", "etalon"), ("cut_start", "cutStart"), ("cut_end", "cutEnd")]
    if ranges:
        keys += [("position_min", "positionMin"), ("position_max", "positionMax")]
    for ours, theirs in keys:
        assert arrays[ours].tolist() == [p[theirs] for p in pulses], ours


def assert_series(ours, theirs):
    for ours_key, key in [("length", "length"), ("tmin", "tmin"), ("tmax", "tmax"), ("impulse_size", "impulseSize"),
                          ("min_pulses", "minPulses"), ("max_pulses", "maxPulses"), ("noise_sigma", "noiseSigma")]:
        assert ours[ours_key] == theirs[key], ours_key
    assert_pulses(ours["pulses"], theirs["pulses"], True)
    assert ours["pure"].dtype == np.int16 and ours["noisy"].dtype == np.int16
    assert ours["pure"].tolist() == theirs["pure"]
    assert ours["noisy"].tolist() == theirs["noisy"]


def same_series(a, b):
    return a["noisy"].tolist() == b["noisy"].tolist() and a["pulses"]["position"].tolist() == b["pulses"]["position"].tolist()


# ---- the batch tool's numbers ---------------------------------------------------------------

def test_version_is_the_builds_one_number():
    source = os.environ.get("PULSEBENCH_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))
    with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as cmake:
        version = re.search(r"project\(\s*PulseBench\s+VERSION\s+([0-9.]+)", cmake.read()).group(1)
    first_line = subprocess.run([CLI, "--version"], check=True, capture_output=True, text=True).stdout.splitlines()[0]
    assert (pulsebench.__version__, first_line) == (version, "pulsebench-cli " + version)
    assert cli_json("alphabet")["version"] == version
    assert sorted(pulsebench.libraries) == ["libsndfile", "nlohmann json", "pybind11"]


def test_alphabet_equals_cli():
    theirs = cli_json("alphabet")["etalons"]
    ours = pulsebench.Workbench().alphabet()
    assert ours.dtype == np.int16 and ours.shape == (20, theirs[0]["size"])
    assert ours.tolist() == [e["samples"] for e in theirs]


@pytest.mark.parametrize("options,args", [
    ({}, []),
    ({"type": 2, "count": 7, "noise": 40}, ["--type", "2", "--count", "7", "--noise", "40"]),
    ({"type": 4, "length": 600, "tmin": 30, "tmax": 60, "saved_energy": 80},
     ["--type", "4", "--length", "600", "--tmin", "30", "--tmax", "60", "--saved-energy", "80"]),
    ({"type": 32, "subset": [3, 5, 7], "subset_mode": 2, "subset_start": 2},
     ["--type", "32", "--subset", "3,5,7", "--subset-mode", "2", "--subset-start", "2"]),
])
def test_series_equals_cli(options, args):
    theirs = cli_json("series", *args)
    assert len(theirs) == 1
    assert_series(pulsebench.Workbench().series(**options), theirs[0])


@pytest.mark.parametrize("options,args", [
    ({"task": 4, "type": 1, "length": 600, "noise": 20}, ["--task", "4", "--type", "1", "--length", "600", "--noise", "20"]),
    ({"task": 2, "type": 2, "length": 600, "count": 6}, ["--task", "2", "--type", "2", "--length", "600", "--count", "6"]),
])
def test_process_equals_cli(options, args):
    theirs = cli_json("process", *args)[0]
    ours = pulsebench.Workbench().process(**options)
    assert_series(ours, theirs)
    assert ours["routine"] == theirs["routine"] and ours["answer"] == theirs["answer"]
    assert_pulses(ours["found"], theirs["found"]["pulses"], False)
    assert ours["found"]["result_code"] == theirs["found"]["resultCode"]
    assert ours["found"]["group_first"].tolist() == [g["first"] for g in theirs["found"]["groups"]]
    chains = theirs["chains"]
    assert ours["chains"]["quan_pulses"] == chains["quanPulses"]
    assert ours["chains"]["seeking_pulses_quantity"] == chains["seekingPulsesQuantity"]
    assert [r["distance"] for r in ours["chains"]["rows"]] == [r["distance"] for r in chains["rows"]]
    for row, theirs_row in zip(ours["chains"]["rows"], chains["rows"]):
        assert_pulses(row, theirs_row["pulses"], False)


SMALL_GRID = {"type": 1, "length": 600, "pulses": (6, 8, 1), "noise": (0, 3, 20), "repeats": 3, "threads": 2}
SMALL_GRID_ARGS = ["--type", "1", "--length", "600", "--pulses", "6:8:1", "--noise", "0:3:20", "--repeats", "3",
                   "--threads", "2"]


def test_simulate_equals_cli_and_reports_progress():
    theirs = cli_json("simulate", *SMALL_GRID_ARGS)
    calls = []
    ours = pulsebench.Workbench().simulate(**SMALL_GRID, progress=lambda done, total: calls.append((done, total)))
    d, t = ours["descriptor"], theirs["descriptor"]
    assert (d["series_type"], d["series_type_name"], d["task_type"], d["task_name"], d["making_energy"],
            d["processing_energy"], d["length"], d["tmin"], d["tmax"], d["impulse_size"]) == \
        (t["seriesType"], t["seriesTypeName"], t["taskType"], t["taskName"], t["makingEnergy"],
         t["processingEnergy"], t["length"], t["tmin"], t["tmax"], t["impulseSize"])
    assert ours["pulses"].tolist() == theirs["pulses"]
    assert ours["noise_levels"].tolist() == theirs["noiseLevels"]
    assert ours["repeats"] == theirs["repeats"]
    for key, theirs_key in [("errors", "errors"), ("detect_errors", "detectErrors"), ("recogn_errors", "recognErrors")]:
        assert ours[key].shape == (3, 3)
        assert ours[key].tolist() == theirs[theirs_key], key
    assert calls[-1] == (9, 9) and [c[0] for c in calls] == sorted(c[0] for c in calls)


def test_progress_callback_exception_stops_the_run():
    def fail(done, total):
        raise RuntimeError("stop here")
    with pytest.raises(RuntimeError, match="stop here"):
        pulsebench.Workbench().simulate(**SMALL_GRID, progress=fail)


# ---- generator state ------------------------------------------------------------------------

def test_workbenches_keep_their_own_streams():
    reference = pulsebench.Workbench()
    first, second = reference.series(noise=30), reference.series(noise=30)
    assert not same_series(first, second)  # the streams carry over from call to call

    a, b = pulsebench.Workbench(), pulsebench.Workbench()
    a1 = a.series(noise=30)
    b1 = b.series(noise=30)
    alphabet_before = a.alphabet()
    a2 = a.series(noise=30)
    b2 = b.series(noise=30)
    for one, two in [(a1, b1), (a2, b2)]:
        assert same_series(one, two)
    assert same_series(a1, first) and same_series(a2, second)
    assert np.array_equal(alphabet_before, pulsebench.Workbench().alphabet())


def test_threads_keep_their_own_streams():
    expected = []
    bench = pulsebench.Workbench()
    for _ in range(3):
        expected.append(bench.series(type=2, count=6, noise=10)["noisy"].tolist())
    results = {}

    def work(name):
        w = pulsebench.Workbench()
        results[name] = [w.series(type=2, count=6, noise=10)["noisy"].tolist() for _ in range(3)]

    threads = [threading.Thread(target=work, args=(n,)) for n in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert all(results[n] == expected for n in range(4))

    # One object shared by threads: its calls are serialised, each takes the next series.
    shared, made = pulsebench.Workbench(), []

    def take():
        made.append(shared.series(type=2, count=6, noise=10)["noisy"].tolist())

    threads = [threading.Thread(target=take) for _ in range(3)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert sorted(made) == sorted(expected)


# ---- long calls -----------------------------------------------------------------------------

LONG_GRID = {"type": 1, "length": 600, "pulses": (6, 8, 1), "noise": (0, 10, 5), "repeats": 40, "threads": 1}


def spins_beside(work):
    """How often this thread spins while `work` runs on another one."""
    finished = threading.Event()

    def run():
        work()
        finished.set()

    thread = threading.Thread(target=run)
    thread.start()
    spins = 0
    while not finished.is_set():
        spins += 1
    thread.join()
    return spins


def test_simulate_releases_the_gil():
    # With the GIL held for the whole run this thread would only spin after it.
    assert spins_beside(lambda: pulsebench.Workbench().simulate(**LONG_GRID)) > 1000


def interrupt_after(seconds):
    """Sends this process SIGINT after `seconds` from a thread; returns the thread and a list that
    receives the time it was sent."""
    sent = []

    def interrupt():
        time.sleep(seconds)
        sent.append(time.monotonic())
        os.kill(os.getpid(), signal.SIGINT)

    thread = threading.Thread(target=interrupt)
    thread.start()
    return thread, sent


def test_ctrl_c_stops_a_long_simulate_cell_within_a_second():
    # One cell of 1000 series of 10 000 samples: many seconds of work, stopped inside the cell.
    thread, sent = interrupt_after(0.5)
    with pytest.raises(KeyboardInterrupt):
        pulsebench.Workbench().simulate(type=1, length=10000, pulses=(100, 100, 1), noise=(0, 1, 5), repeats=1000,
                                        threads=1)
    stopped = time.monotonic()
    thread.join()
    assert sent and stopped - sent[0] < 1.0


def test_ctrl_c_stops_simulate_within_a_second():
    def interrupt():
        time.sleep(0.3)
        interrupt.sent = time.monotonic()
        os.kill(os.getpid(), signal.SIGINT)

    interrupt.sent = None
    grid = dict(LONG_GRID, pulses=(6, 12, 1), noise=(0, 400, 5), repeats=20)
    thread = threading.Thread(target=interrupt)
    thread.start()
    with pytest.raises(KeyboardInterrupt):
        pulsebench.Workbench().simulate(**grid)
    stopped = time.monotonic()
    thread.join()
    assert interrupt.sent is not None and stopped - interrupt.sent < 1.0


# ---- detection in a recording --------------------------------------------------------------

@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    """A noisy cut-off series of 4000 samples written by the batch tool (`series --csv`), with the
    alphabet as a shapes file (`alphabet --json`)."""
    folder = tmp_path_factory.mktemp("recording")
    signal_file, shapes_file = str(folder / "series.csv"), str(folder / "alphabet.json")
    subprocess.run([CLI, "series", "--type", "8", "--length", "4000", "--tmin", "60", "--tmax", "150",
                    "--sequence", ",".join(["3", "7", "12"] * 20), "--noise", "30", "--csv", signal_file],
                   check=True, capture_output=True)
    with open(shapes_file, "w") as f:
        f.write(subprocess.run([CLI, "alphabet", "--json"], check=True, capture_output=True, text=True).stdout)
    return signal_file, shapes_file


def cli_detect(*args):
    return cli_json("detect", *args)


def assert_result_matches(result, theirs):
    assert result.to_dict() == theirs
    pulses = theirs["pulses"]
    assert result.position.dtype == np.int64 and result.measure.dtype == np.int64
    assert result.position.tolist() == [p["position"] for p in pulses]
    assert result.name.tolist() == [p["etalon"] for p in pulses]
    assert [result.etalon_names[i] for i in result.etalon] == [p["etalon"] for p in pulses]
    assert result.cut_start.tolist() == [p["cutStart"] for p in pulses]
    assert result.cut_end.tolist() == [p["cutEnd"] for p in pulses]
    assert result.measure.tolist() == [p["measure"] for p in pulses]
    assert result.gain.tolist() == [p.get("gain", 1.0) for p in pulses]
    assert result.pulse_cost == theirs.get("pulseCost", 0)
    if "expectedCount" in theirs:
        assert result.confidence.tolist() == [p["confidence"] for p in pulses]
        assert result.kind_confidence.tolist() == [p["kindConfidence"] for p in pulses]
        assert result.expected_count == theirs["expectedCount"]
        assert abs(result.posterior.sum() - result.expected_count) < 1e-6 * result.expected_count
    assert result.distance == theirs["distance"] and result.scale == theirs["scale"]


@pytest.mark.parametrize("options,args", [
    ({}, []),
    ({"saved_energy": 75}, ["--saved-energy", "75"]),
    ({"count": 40, "saved_energy": 75}, ["--count", "40", "--saved-energy", "75"]),
    ({"task": "detect", "candidates": ["7"], "saved_energy": 80}, ["--task", "detect", "--candidates", "7",
                                                                    "--saved-energy", "80"]),
    ({"task": "recognize", "candidates": [12, 3, 7]}, ["--task", "recognize", "--candidates", "12,3,7"]),
    ({"candidates": ["3", "7", "12"], "baseline": 31.0}, ["--candidates", "3,7,12", "--baseline", "31"]),
    ({"gain": (0.5, 2), "pulse_cost": "auto", "saved_energy": 75}, ["--gain", "0.5:2", "--pulse-cost", "auto",
                                                                     "--saved-energy", "75"]),
    ({"gain": (-1.5, 1.5), "pulse_cost": 2500.5, "task": "recognize"}, ["--gain", "-1.5:1.5", "--pulse-cost", "2500.5",
                                                                        "--task", "recognize"]),
    ({"learn": 3, "gain": (0.5, 2), "saved_energy": 75}, ["--learn", "3", "--gain", "0.5:2", "--saved-energy", "75"]),
    ({"confidence": True, "noise_sigma": 30.0, "confidence_window": 10, "saved_energy": 75},
     ["--confidence", "--noise-sigma", "30", "--confidence-window", "10", "--saved-energy", "75"]),
])
def test_detect_equals_cli_on_a_series_file(recording, options, args, tmp_path):
    signal_file, shapes_file = recording
    saved = str(tmp_path / "shapes.json")
    theirs = cli_detect("--signal", signal_file, "--etalons", shapes_file, "--tmin", "60", "--tmax", "150", *args,
                        "--save-shapes", saved)
    samples, rate = pulsebench.read_signal(signal_file)
    etalons = pulsebench.read_etalons(shapes_file)
    result = pulsebench.detect(samples, etalons, 60, 150, **options)
    assert len(result) > 0
    assert_result_matches(result, theirs)
    # The alphabet as a 2-D array (rows named "1" to "20") and the signal as int16 give the same.
    same = pulsebench.detect(samples.astype(np.int16), pulsebench.Workbench().alphabet(), 60, 150, **options)
    assert same.to_dict() == theirs
    # The shapes used (learned, when asked) are those the batch tool saves.
    written = pulsebench.read_etalons(saved)
    assert list(written) == list(result.etalons)
    assert all(np.array_equal(written[name], result.etalons[name]) for name in written)
    if options.get("learn"):
        shapes, distances = pulsebench.learn_shapes(samples, etalons, 60, 150, rounds=options["learn"],
                                                    **{k: v for k, v in options.items() if k != "learn"})
        assert distances == theirs["learnRounds"]["distances"] == result.learn_distances
        assert all(np.array_equal(shapes[name], written[name]) for name in written)


def test_detect_on_several_channels_equals_cli(recording, tmp_path):
    signal_file, _ = recording
    samples, _ = pulsebench.read_signal(signal_file)
    # A second channel: the first reversed in sign and halved, plus a slow wave.
    second = np.round(-0.5 * samples + 40 * np.sin(np.arange(samples.size) / 50.0))
    table = tmp_path / "two.csv"
    np.savetxt(table, np.column_stack([samples, second]), fmt="%g", delimiter=",")
    theirs = cli_detect("--signal", str(table), "--columns", "all", "--template", "0:20:first", "--template",
                        "100:20:second", "--tmin", "60", "--tmax", "150", "--saved-energy", "75", "--gain", "0.5:2",
                        "--channel-weights", "1,3")
    both = np.vstack([samples, second])
    result = pulsebench.detect(both, None, 60, 150, templates=[(0, 20, "first"), (100, 20, "second")],
                               saved_energy=75, gain=(0.5, 2), channel_weights=[1, 3])
    assert len(result) > 0
    assert_result_matches(result, theirs)
    assert theirs["channels"] == ["1", "2"] and theirs["channelWeights"] == [1, 3]
    assert result.etalons["first"].shape == (2, 20)


def test_detect_with_shapes_cut_from_the_signal_and_gaps_in_seconds(recording):
    signal_file, _ = recording
    theirs = cli_detect("--signal", signal_file, "--rate", "100", "--template", "0:20:first",
                        "--template", "1s:0.2s:second", "--tmin", "0.6s", "--tmax", "1.5s", "--saved-energy", "75")
    samples, rate = pulsebench.read_signal(signal_file, rate=100)
    shapes = {"first": samples[0:20], "second": samples[100:120]}
    calls = []
    result = pulsebench.detect(samples, shapes, "0.6s", "1.5s", rate=rate, saved_energy=75, progress=calls.append)
    assert_result_matches(result, theirs)
    assert np.allclose(result.time, result.position / 100.0)
    assert calls and calls[-1] == 1.0 and calls == sorted(calls)


def test_detect_on_real_values_uses_the_common_scale():
    # Real-valued signal and shapes: scaled so that the largest magnitude becomes 32767.
    shape = np.sin(np.linspace(0, np.pi, 12))
    signal_values = np.zeros(600)
    for start in range(30, 560, 90):
        signal_values[start:start + 12] += 0.5 * shape
    result = pulsebench.detect(signal_values, {"bump": shape}, 60, 120)
    assert result.scale == pytest.approx(32767.0 / shape.max())
    assert result.position.tolist() == list(range(30, 560, 90))
    assert result.name.tolist() == ["bump"] * len(result)


def test_detect_progress_callback_exception_stops_the_run(recording):
    samples, _ = pulsebench.read_signal(recording[0])

    def fail(fraction):
        raise RuntimeError("enough")
    with pytest.raises(RuntimeError, match="enough"):
        pulsebench.detect(samples, pulsebench.Workbench().alphabet(), 60, 150, progress=fail)


def long_recording(length):
    """A long noisy signal and the alphabet: seconds of work for a joint detection."""
    rng = np.random.default_rng(7)
    return rng.normal(0, 40, length).astype(np.float32), pulsebench.Workbench().alphabet()


def test_detect_releases_the_gil():
    samples, etalons = long_recording(60000)
    assert spins_beside(lambda: pulsebench.detect(samples, etalons, 40, 181, saved_energy=75, threads=1)) > 1000


def detect_call():
    """One detection of a fraction of a second on one thread."""
    samples, etalons = long_recording(60000)
    return lambda: pulsebench.detect(samples, etalons, 40, 181, saved_energy=75, threads=1)


def simulate_call():
    """One small simulation on one thread, each call by an object of its own: objects keep
    their own random streams, so two of them generate at the same time."""
    return lambda: pulsebench.Workbench().simulate(pulses=(6, 12, 1), noise=(0, 4, 10), repeats=2, threads=1)


@pytest.mark.parametrize("make", [detect_call, simulate_call], ids=["detect", "simulate"])
def test_two_threads_are_faster_than_one(make):
    if len(os.sched_getaffinity(0)) < 2:
        pytest.skip("needs two cores")
    one = make()

    def timed(work):
        """Wall time, processor time, and how often another process took a core from this one
        (involuntary context switches) per second."""
        wall, cpu, taken = time.monotonic(), time.process_time(), resource.getrusage(resource.RUSAGE_SELF).ru_nivcsw
        work()
        wall = time.monotonic() - wall
        return wall, time.process_time() - cpu, (resource.getrusage(resource.RUSAGE_SELF).ru_nivcsw - taken) / wall

    def two_threads():
        threads = [threading.Thread(target=one) for _ in range(2)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()

    one()  # warm up
    ratios = []
    for _ in range(5):
        serial_wall, serial_cpu, _ = timed(lambda: (one(), one()))
        parallel_wall, _, preempted = timed(two_threads)
        # Other work on the machine takes the cores away: a measurement counts only when this
        # process had a core to itself while it ran the two calls one after the other, and no
        # other process kept taking a core from it while the two threads ran.
        if serial_cpu > 0.85 * serial_wall and preempted < 100:
            ratios.append(parallel_wall / serial_wall)
            if min(ratios) < 0.8:
                break
    if not ratios:
        pytest.skip("the machine is too busy to measure a speed-up")
    assert min(ratios) < 0.8, "two calls in two threads took %.2f of the time of one after the other" % min(ratios)


def test_ctrl_c_stops_a_long_detect_within_a_second():
    samples, etalons = long_recording(3000000)
    thread, sent = interrupt_after(0.5)
    with pytest.raises(KeyboardInterrupt):
        pulsebench.detect(samples, etalons, 40, 181, saved_energy=75, threads=1)
    stopped = time.monotonic()
    thread.join()
    assert sent and stopped - sent[0] < 1.0


SIGNAL = np.array([0, 1, 3, 5, 3, 1, 0, 0, 0, 2, 4, 2] * 10, dtype=float)


@pytest.mark.parametrize("call,error,message", [
    (lambda: pulsebench.detect(SIGNAL.reshape(2, -1), SHAPE, 10, 20), ValueError, "1 channel, the recording 2"),
    (lambda: pulsebench.detect(SIGNAL.reshape(2, 2, -1), SHAPE, 10, 20), ValueError, "1-D"),
    (lambda: pulsebench.detect(SIGNAL.reshape(2, -1), {"a": np.ones((2, 8))}, 10, 20, channel_weights=[1]),
     ValueError, "1 weight for 2 channels"),
    (lambda: pulsebench.detect(SIGNAL.reshape(2, -1), {"a": np.ones((2, 8))}, 10, 20, channel_weights=[1, -1]),
     ValueError, "weight of channel 2"),
    (lambda: pulsebench.detect(np.array([]), SHAPE, 10, 20), ValueError, "empty"),
    (lambda: pulsebench.detect(np.append(SIGNAL, math.nan), SHAPE, 10, 20), ValueError, "NaN"),
    (lambda: pulsebench.detect(np.append(SIGNAL, math.inf), SHAPE, 10, 20), ValueError, "infinity"),
    (lambda: pulsebench.detect(SIGNAL.astype(str), SHAPE, 10, 20), TypeError, "dtype"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 30, 20), ValueError, "tmin"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 0, 20), ValueError, "tmin"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, "1.x", 20), ValueError, "tmin"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10.5, 20), TypeError, "tmin"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 4, 6), ValueError, "8"),  # shapes longer than tmax
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, gain=(2, 1)), ValueError, "gain"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, gain=(1, 2, 3)), ValueError, "gain"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, gain="1:2"), TypeError, "gain"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, pulse_cost=-1), ValueError, "pulse_cost"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, pulse_cost="often"), ValueError, "pulse_cost"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, learn=1001), ValueError, "learn"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, confidence=True, noise_sigma=0.0), ValueError, "noise_sigma"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, confidence=True, confidence_window=21), ValueError, "tmax"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, task="find"), ValueError, "task"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, candidates=["z"]), ValueError, "z"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, candidates="a"), TypeError, "candidates"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, count=0), ValueError, "count"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, count=100), ValueError, "count"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, saved_energy=101), ValueError, "saved_energy"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, rate=0.0), ValueError, "rate"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, baseline=-1.0), ValueError, "baseline"),
    (lambda: pulsebench.detect(SIGNAL, {"a": SHAPE["a"], "b": -SHAPE["a"]}, 10, 20, task="detect"), ValueError,
     "one shape"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, 5), TypeError, ""),  # count is keyword-only
    # Numbers beyond 64 bits are refused by name, not as a failed cast.
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 2**63), ValueError, "tmax is too large"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 2**64, 20), ValueError, "tmin is too large"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, candidates=[2**70]), ValueError, "candidates is too large"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, rate=1e-308), ValueError, "rate"),
    # No chain of gaps of 10 covers 15 samples with pulses of 8.
    (lambda: pulsebench.detect(SIGNAL[:15], SHAPE, 10, 10), ValueError, "No chain of pulses fits"),
    (lambda: pulsebench.detect(SIGNAL, None, 10, 20), ValueError, "no pulse shapes"),
    (lambda: pulsebench.detect(SIGNAL, SHAPE, 10, 20, templates=[(0, 8)]), ValueError, "exclude each other"),
    (lambda: pulsebench.detect(SIGNAL, None, 10, 20, templates=[(195, 8)]), ValueError, "beyond the signal"),
    (lambda: pulsebench.detect(SIGNAL, None, 10, 20, templates=[(0, 8, "b\u00f8"), (9, 5)]), ValueError, "at least 6"),
    (lambda: pulsebench.detect(SIGNAL, None, 10, 20, templates="0:8"), TypeError, "templates"),
])
def test_detect_refuses_bad_input(call, error, message):
    with pytest.raises(error, match=message):
        call()


# ---- readers and quantisation ---------------------------------------------------------------

def test_read_signal_and_etalons(tmp_path):
    (tmp_path / "signal.csv").write_text("time,ecg\n0,1.5\n1,-2\n2,3\n")
    samples, rate = pulsebench.read_signal(str(tmp_path / "signal.csv"), column="ecg", rate=250.0)
    assert samples.dtype == np.float64 and samples.tolist() == [1.5, -2.0, 3.0] and rate == 250.0
    samples, _ = pulsebench.read_signal(str(tmp_path / "signal.csv"), column=1)
    assert samples.tolist() == [0.0, 1.0, 2.0]
    (tmp_path / "shapes.csv").write_text("up,down\n1,-1\n2,-2\n3,-3\n")
    shapes = pulsebench.read_etalons(str(tmp_path / "shapes.csv"))
    assert list(shapes) == ["up", "down"] and shapes["down"].tolist() == [-1.0, -2.0, -3.0]


def test_quantise_common_scale():
    shape = np.array([0, 3, 5, 3, 0, -2, 0, 1], dtype=np.int32)
    exact = pulsebench.quantise(np.array([0, 5, -7, 9], dtype=np.int16), {"a": shape})
    assert exact["scale"] == 1.0 and exact["signal"].tolist() == [0, 5, -7, 9] and exact["peak"] == 9
    scaled = pulsebench.quantise(np.array([0.0, 0.5, -1.0]), np.array([shape * 0.1]))
    assert scaled["scale"] == pytest.approx(32767.0)
    assert scaled["signal"].tolist() == [0, 16384, -32767] and list(scaled["etalons"]) == ["1"]


# ---- bad input ------------------------------------------------------------------------------

SHAPE = {"a": np.array([0, 3, 5, 3, 0, -2, 0, 1], dtype=float)}


@pytest.mark.parametrize("signal_value,error,message", [
    (np.zeros((2, 4)), ValueError, "1-D"),
    (np.array([]), ValueError, "empty"),
    (np.array([1.0, math.nan]), ValueError, "NaN"),
    (np.array([1.0, -math.inf]), ValueError, "infinity"),
    (np.array(["a", "b"]), TypeError, "dtype"),
    (np.array([1 + 2j]), TypeError, "dtype"),
])
def test_bad_signals(signal_value, error, message):
    with pytest.raises(error, match=message):
        pulsebench.quantise(signal_value, SHAPE)


def test_bad_etalons():
    with pytest.raises(ValueError):
        pulsebench.quantise(np.ones(10), {"a": np.ones(8), "b": np.ones(5)})  # one too short
    with pytest.raises(ValueError):
        pulsebench.quantise(np.ones(10), np.ones(8))  # 1-D, not one shape a row
    with pytest.raises(ValueError):
        pulsebench.quantise(np.ones(10), {"a": np.zeros(8)})  # all zero
    with pytest.raises(TypeError):
        pulsebench.quantise(np.ones(10), {1: np.ones(8)})
    with pytest.raises(TypeError):
        pulsebench.quantise(np.ones(10), "shapes")


def test_bad_options():
    bench = pulsebench.Workbench()
    with pytest.raises(ValueError, match="type must be one of"):
        bench.series(type=3)
    with pytest.raises(ValueError, match="task must be one of"):
        bench.process(task=3)
    with pytest.raises(ValueError, match="saved_energy"):
        bench.series(saved_energy=101)
    with pytest.raises(ValueError, match="subset"):
        bench.series(subset_mode=2)
    with pytest.raises(ValueError):
        bench.series(tmin=90, tmax=40)  # the engine's own refusal, as a message
    with pytest.raises(ValueError, match="grid"):
        bench.simulate(pulses=(6, 8, 1), noise=(0, 0, 5), repeats=1)
    with pytest.raises(TypeError):
        bench.series(type="eight")
    with pytest.raises(ValueError, match="repeats"):
        bench.simulate(repeats=0)
    # A refused call leaves the object's streams as a fresh object's.
    assert same_series(bench.series(), pulsebench.Workbench().series())


def test_numpy_integers_and_paths_are_taken_wherever_ints_and_paths_are(tmp_path, recording):
    signal_file, shapes_file = recording
    samples, _ = pulsebench.read_signal(pathlib.Path(signal_file))
    etalons = pulsebench.read_etalons(pathlib.Path(shapes_file))
    plain = pulsebench.detect(samples, etalons, 60, 150, count=40, candidates=[3, 7])
    numpy = pulsebench.detect(samples, etalons, np.int64(60), np.uint16(150), count=np.int32(40),
                              candidates=[np.int64(3), np.int8(7)], saved_energy=np.int64(100), threads=np.int64(1))
    assert numpy.to_dict() == plain.to_dict()
    (tmp_path / "two.csv").write_text("a,b\n1,2\n")
    assert pulsebench.read_signal(tmp_path / "two.csv", column=np.int64(2))[0].tolist() == [2.0]
    with pytest.raises(ValueError, match="column is too large"):
        pulsebench.read_signal(tmp_path / "two.csv", column=2**64)
    with pytest.raises(ValueError, match="candidates is empty"):
        pulsebench.Workbench().process(candidates=[])


def test_damaged_files_are_refused_with_their_whole_message(tmp_path):
    # A JSON file that is no UTF-8: the message names the file (no empty ValueError).
    (tmp_path / "latin1.json").write_bytes(b'{"etalons": [{"name": "b\xf8", "samples": [1, 2, 3, 4, 5, 6]}]}')
    with pytest.raises(ValueError, match="latin1.json:1: not valid JSON"):
        pulsebench.read_etalons(tmp_path / "latin1.json")
    (tmp_path / "latin1.csv").write_bytes(b"a,b\xf8\n1,2\n3,4\n5,6\n7,8\n9,10\n11,12\n")
    with pytest.raises(ValueError, match=r"latin1.csv:1: the name of column 2 is not valid UTF-8 \(byte 2\)"):
        pulsebench.read_etalons(tmp_path / "latin1.csv")
    # A WAV cut short is refused, not read in part.
    subprocess.run([CLI, "series", "--wav", str(tmp_path / "s.wav")], check=True, capture_output=True)
    data = (tmp_path / "s.wav").read_bytes()
    (tmp_path / "cut.wav").write_bytes(data[:-4])
    with pytest.raises(ValueError, match="truncated or damaged"):
        pulsebench.read_signal(tmp_path / "cut.wav")


def test_shapes_cut_after_the_baseline_equal_the_batch_tools_templates(recording):
    signal_file, _ = recording
    theirs = cli_detect("--signal", signal_file, "--rate", "100", "--template", "0:20:first",
                        "--template", "1s:0.2s", "--tmin", "0.6s", "--tmax", "1.5s", "--baseline", "0.5")
    samples, rate = pulsebench.read_signal(signal_file, rate=100)
    result = pulsebench.detect(samples, None, "0.6s", "1.5s", rate=rate, baseline=0.5,
                               templates=[(0, 20, "first"), ("1s", "0.2s")])
    assert_result_matches(result, theirs)
    assert result.etalon_names == ["first", "t2"]


def test_bad_files(tmp_path):
    with pytest.raises(ValueError, match="missing.csv"):
        pulsebench.read_signal(str(tmp_path / "missing.csv"))
    (tmp_path / "two.csv").write_text("a,b\n1,2\n")
    with pytest.raises(ValueError):
        pulsebench.read_signal(str(tmp_path / "two.csv"))  # several columns, none chosen
    with pytest.raises(TypeError):
        pulsebench.read_signal(str(tmp_path / "two.csv"), column=1.5)
    with pytest.raises(ValueError):
        pulsebench.read_etalons(str(tmp_path / "shapes.xyz"))
