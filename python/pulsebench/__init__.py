"""PulseBench on numpy arrays: the readers of recordings and pulse shapes, their common integer
scale, the exact detection of pulses in a recording, and the workbench's series, processing and
simulation.

Every number comes from the same engine as ``pulsebench-cli``: ``detect(...)`` finds what
``pulsebench-cli detect --json`` finds for the same signal, shapes and options, and
``Workbench().series(...)`` returns the numbers ``pulsebench-cli series --json`` prints.

Bad input raises ``ValueError`` (wrong values: a 2-D or empty signal, NaN or infinity, an
unknown option value, a refused parameter set) or ``TypeError`` (wrong kinds of objects).
"""

import json
import os
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from . import _core

__all__ = ["read_signal", "read_etalons", "quantise", "detect", "learn_shapes", "Result", "Workbench", "__version__", "libraries"]

#: The version of PulseBench this module was built from (the one number of its CMake build).
__version__: str = _core.__version__
#: The libraries the module is built with and their versions, e.g. ``{"pybind11": "2.10.3", ...}``.
libraries: Dict[str, str] = dict(_core.libraries)


def read_signal(path: Union[str, "os.PathLike[str]"], column: Union[int, str, None] = None, channel: Optional[int] = None,
                rate: Optional[float] = None) -> Tuple[np.ndarray, float]:
    """Read a recording from a text (.csv .tsv .txt .dat) or audio (.wav .flac .ogg .oga .aif
    .aiff .au) file.

    ``column`` chooses a column of a text file (1-based number or header name; needed when the
    file has several), ``channel`` the 1-based channel of an audio file, ``rate`` the samples per
    second of a text file (default 1; an audio file carries its own, and a rate given for it must
    agree).

    Returns ``(samples, rate)``: a 1-D float64 array in the file's own units (integer audio as its
    integer sample values) and the rate. The reader keeps samples as 4-byte floats, so values
    carry about seven significant digits (every integer up to 2**24 exactly).

    Raises ValueError with the file (and line) on any refusal: a missing file, an unsupported
    ending, a malformed number, NaN or infinity, a missing column or channel.
    """
    return _core.read_signal(path, column, channel, rate)


def read_etalons(path: Union[str, "os.PathLike[str]"]) -> Dict[str, np.ndarray]:
    """Read pulse shapes (etalons) from a ``.json`` file (``{"etalons": [{"name": ..., "samples":
    [...]}, ...]}``, or the ``alphabet --json`` form, named "1" to "20") or a ``.csv``/``.tsv``/``.txt``
    table with one shape per column under a line of names.

    Returns a dict name -> 1-D float64 array, in the file's order (shapes may differ in length
    here; ``quantise`` checks them as an alphabet). Raises ValueError on a refusal.
    """
    return _core.read_etalons(path)


def quantise(signal: np.ndarray, etalons: Union[Mapping[str, np.ndarray], np.ndarray]) -> dict:
    """Put a signal and its shapes on one common integer scale, as the recordings path does before
    matching.

    ``signal`` is a 1-D array of any real or integer dtype; ``etalons`` a mapping name -> 1-D array
    or a 2-D array with one shape a row (named "1", "2", ...). The shapes must form an alphabet:
    1 to 256 shapes, each of its own length (at least the engine's shortest etalon), distinct
    names without commas, finite, none all zero.

    When every value is an integer in -32768..32767 the scale is 1 and the values are kept;
    otherwise the scale is 32767 / M, M the largest magnitude, and values are rounded (halves away
    from zero).

    Returns a dict: ``scale`` (float), ``peak`` (the largest quantised magnitude), ``signal``
    (int16 array) and ``etalons`` (dict name -> int16 array). Raises ValueError/TypeError on bad
    input.
    """
    return _core.quantise(signal, etalons)


class Result:
    """What ``detect`` found: the pulses in order of position, as numpy arrays of one entry a
    pulse, and the whole chain's distance.

    Attributes:
        position: int64, the sample where sample 0 of the pulse's shape falls.
        etalon: int32, the index of the pulse's shape among the etalons given (0-based).
        name: str, the name of the pulse's shape.
        cut_start, cut_end: int32, the first and last shape samples kept (a cut pulse keeps
            ``cut_start..cut_end``; a whole one ``0..L-1``).
        measure: int64, the pulse's own share of the distance (with the pulse cost).
        gain: float64, the factor the pulse's shape is taken with (1 unless ``gain`` allows others).
        pulse_cost: float, the cost every pulse added, in the signal's units squared (the value
            ``pulse_cost="auto"`` chose, or the one given).
        noise_sigma: float, the noise level an automatic pulse cost was derived from (else 0).
        etalons: dict name -> float64 array, the shapes the pulses are of, in the signal's units:
            the shapes given (as matched: cut again after a baseline removal), or the learned ones.
        learn_distances: list of int, with ``learn``: the distance with the given shapes, then
            after each round (empty without learning).
        learned_round: int, the round whose shapes were kept (0: the given ones).
        confidence, kind_confidence: float64 arrays with ``confidence=True`` (else None): the
            posterior probability that some pulse starts within the confidence window of each
            pulse, and that a pulse there is of its shape given one is there.
        posterior: float64 array with ``confidence=True`` (else None): each position's
            probability that a pulse starts there (positions 0 .. samples - longest shape).
        expected_count, count_deviation: float with ``confidence=True`` (else None): the
            posterior's expected number of pulses and its standard deviation.
        distance: int, the distance of the chain found: the sum of the measures, on the integer
            scale ``scale``; smaller is a closer match.
        scale: float, the common integer scale signal and shapes were matched on (1 when both
            are 16-bit integers; else 32767 over the largest magnitude).
        rate: float, samples per second; ``time`` is ``position / rate``.
        samples: int, the signal's length.
        task: str, "detect", "joint" or "recognize".
        etalon_names: list of str, the names of every etalon given, in order.
        seconds: float, how long the call took.
    """

    def __init__(self, found: Dict[str, Any]) -> None:
        self.position: np.ndarray = found["position"]
        self.etalon: np.ndarray = found["etalon"]
        self.name: np.ndarray = np.array(found["name"], dtype=str)
        self.cut_start: np.ndarray = found["cut_start"]
        self.cut_end: np.ndarray = found["cut_end"]
        self.measure: np.ndarray = found["measure"]
        self.gain: np.ndarray = found["gain"]
        self.pulse_cost: float = found["pulse_cost"]
        self.noise_sigma: float = found["noise_sigma"]
        self.etalons: Dict[str, np.ndarray] = dict(found["etalons"])
        self.learn_distances: List[int] = list(found["learn_distances"])
        self.learned_round: int = found["learned_round"]
        self.confidence: Optional[np.ndarray] = found["confidence"]
        self.kind_confidence: Optional[np.ndarray] = found["kind_confidence"]
        self.posterior: Optional[np.ndarray] = found["posterior"]
        self.expected_count: Optional[float] = found["expected_count"]
        self.count_deviation: Optional[float] = found["count_deviation"]
        self.distance: int = found["distance"]
        self.scale: float = found["scale"]
        self.rate: float = found["rate"]
        self.samples: int = found["samples"]
        self.task: str = found["task"]
        self.etalon_names = list(found["etalon_names"])
        self.seconds: float = found["seconds"]
        self._json: str = found["json"]

    @property
    def time(self) -> np.ndarray:
        """float64, each pulse's start in seconds (``position / rate``)."""
        return self.position / self.rate

    def __len__(self) -> int:
        """The number of pulses found."""
        return len(self.position)

    def __repr__(self) -> str:
        return "<pulsebench.Result: %d pulses, distance %d, task %s>" % (len(self), self.distance, self.task)

    def to_dict(self) -> dict:
        """The result as ``pulsebench-cli detect --json`` prints it, parsed: ``version`` (the
        module's ``__version__``), ``samples``, ``rate``,
        ``scale``, ``etalons`` (a list of ``{"name", "length"}``), ``task``, ``distance`` and
        ``pulses`` (a list of ``{"position", "time", "etalon" (the name), "cutStart", "cutEnd",
        "measure"}``)."""
        return json.loads(self._json)


def detect(signal: np.ndarray, etalons: Optional[Union[Mapping[str, np.ndarray], np.ndarray]], tmin: Union[int, str],
           tmax: Union[int, str], *, count: Optional[int] = None, saved_energy: int = 100, task: str = "joint",
           candidates: Optional[Sequence[Union[str, int]]] = None, rate: float = 1.0,
           baseline: Optional[float] = None, threads: int = 0,
           progress: Optional[Callable[[float], None]] = None,
           templates: Optional[Sequence[Tuple[Union[int, str], ...]]] = None,
           gain: Union[Tuple[float, float], float] = (1.0, 1.0),
           pulse_cost: Optional[Union[float, str]] = None, learn: int = 0, confidence: bool = False,
           confidence_window: Optional[Union[int, str]] = None, noise_sigma: Optional[float] = None,
           channel_weights: Optional[Sequence[float]] = None) -> Result:
    """Find the pulses of a recording exactly, as ``pulsebench-cli detect`` does: the chain of
    pulses, each one of the ``etalons`` (whole, or cut so that it keeps more than
    ``saved_energy`` % of its energy), with the starts of neighbours between ``tmin`` and
    ``tmax`` samples apart, that lies closest to the signal.

    ``signal`` is a 1-D array of any real or integer dtype (kept as 4-byte floats, as the readers
    keep a file's samples); ``etalons`` a mapping name -> 1-D array or a 2-D array with one shape
    a row (named "1", "2", ...): 1 to 256 shapes, each of its own length L, 6 <= L <= tmax (with
    several lengths the chain's limits at the signal's ends count the longest).
    ``tmin`` and ``tmax`` are whole samples, or texts the batch tool takes ("40", "0.3s": seconds
    at ``rate``).

    Instead of ``etalons`` (then None), ``templates`` cuts the shapes from the signal itself, as
    the batch tool's ``--template`` does: a sequence of ``(start, length)`` or ``(start, length,
    name)`` in samples or texts such as "1.2s" (unnamed ones are "t1", "t2", ...). With a
    ``baseline`` they are cut after its removal, so that they match what they are sought in.

    ``task``: "joint" (detection and identification: every pulse any candidate), "detect" (one
    shape, named by ``candidates``) or "recognize" (the one shape the whole recording holds).
    ``count`` is the pulse count when it is known (None: unknown). ``candidates`` names the
    shapes that may be used, in the order tried (default: all). ``baseline`` subtracts a running
    median over a window of that many seconds first. ``threads`` matches on that many threads
    (0: every core); the result does not depend on it.

    ``gain=(min, max)`` lets each pulse be its shape times a gain g from min to max (the clamped
    least-squares gain; min may be negative for pulses of either polarity; one number fixes it);
    ``Result.gain`` reports it. ``pulse_cost`` adds that much (in the signal's units squared) to
    the distance for every pulse, so that an unknown count does not take pulses that explain
    less; "auto" derives it from the recording's noise level (see the README). ``learn=N`` first
    learns the shapes from the recording for up to N rounds (see ``learn_shapes``); the result is
    the detection with the learned shapes (``Result.etalons``).

    ``confidence=True`` adds each pulse's posterior confidence (``Result.confidence``,
    ``Result.kind_confidence``), each position's probability of a pulse start
    (``Result.posterior``) and the expected count: every admissible chain weighs exp(-D / 2s²),
    s the noise level (``noise_sigma`` in the signal's units, else estimated from the recording),
    and a pulse is found within ``confidence_window`` samples (or a text such as "0.01s"; default
    a quarter of tmin) of its start.

    A recording of several channels is a 2-D ``signal`` (channels x samples); each etalon is then
    a 2-D array of as many channels (channels x samples; a 3-D array holds one a row). A pulse is
    one start, shape, cut and gain on every channel at once; its term is the sum of the channels'
    terms, each times its weight in ``channel_weights`` (one number per channel, default equal;
    only the ratios count).

    Signal and shapes are put on one integer scale (see ``quantise``) and matched with exact
    integer arithmetic. The GIL is released while the detection runs, so other Python threads
    (another ``detect`` among them) run meanwhile. ``progress``, when given, is called now and
    then as ``progress(fraction_done)`` from the calling thread; an exception it raises stops the
    run and is raised again. Ctrl-C stops the run within a fraction of a second
    (KeyboardInterrupt).

    Returns a ``Result``. Raises ValueError on bad input (an empty signal, shapes of other channels than the signal's, NaN or
    infinity, shapes longer than tmax, tmin above tmax, an unknown task or candidate, a count
    that does not fit, a gain range with min above max, a negative pulse cost) and on the engine's refusals (the memory a large known
    count would need), TypeError on objects of the wrong kind.
    """
    return Result(_core.detect(signal, etalons, tmin, tmax, count, saved_energy, task, candidates, rate, baseline,
                               threads, progress, templates, gain, pulse_cost, learn, confidence,
                               confidence_window, noise_sigma, channel_weights))


def learn_shapes(signal: np.ndarray, etalons: Optional[Union[Mapping[str, np.ndarray], np.ndarray]],
                 tmin: Union[int, str], tmax: Union[int, str], rounds: int = 10, **options: Any
                 ) -> Tuple[Dict[str, np.ndarray], List[int]]:
    """Learn the shapes from the recording, as ``pulsebench-cli detect --learn`` does: detect;
    replace each shape by the least-squares shape of the stretches its pulses took (each pulse
    weighted by its gain, a cut pulse only where it is kept; a shape no pulse took stays);
    detect again; stop after ``rounds`` rounds or as soon as the distance no longer falls, and
    keep the shapes of the best round. ``options`` are those of ``detect`` (``gain``,
    ``pulse_cost``, ``saved_energy``, ``templates``, ...).

    Returns ``(shapes, distances)``: the kept shapes (name -> float64 array in the signal's
    units, lengths and names kept) and the distance with the given shapes, then after each round.
    """
    found = detect(signal, etalons, tmin, tmax, learn=rounds, **options)
    return found.etalons, found.learn_distances


class Workbench:
    """The workbench's engine with its own generator state.

    A fresh object starts where ``pulsebench-cli`` starts, so its first ``series``, ``process`` or
    ``simulate`` call returns the numbers the batch tool prints for the same options. Each call
    runs like one batch command (settings and alphabet from the start-up state) while the
    object's random streams of series making (pulse count, positions, cuts, subsets) carry over
    from call to call, so that consecutive calls give new series. The noise stream starts afresh
    with every call, as in every batch command. A refused call (ValueError) or a stopped one
    (KeyboardInterrupt) leaves the object's streams as they were.

    The engine takes its random streams from the caller: each call passes the object's own, so
    two objects never disturb each other and may run at the same time on several threads. Calls
    on one object from several threads run one after the other, each taking the next series
    (with the GIL released, so other Python threads go on meanwhile).
    """

    def __init__(self) -> None:
        """A workbench at the start-up state."""
        self._core = _core.Workbench()

    def alphabet(self) -> np.ndarray:
        """The alphabet every call of the object works with, as a (20, L) int16 array (one etalon a
        row): the start-up alphabet ``pulsebench-cli alphabet --json`` prints. It does not advance
        the object's generators."""
        return self._core.alphabet()

    def series(self, type: int = 8, length: Optional[int] = None, tmin: Optional[int] = None,
               tmax: Optional[int] = None, count: Optional[int] = None, saved_energy: Optional[int] = None,
               noise: int = 0, sequence: Optional[Sequence[int]] = None, subset: Optional[Sequence[int]] = None,
               subset_mode: Optional[int] = None, subset_start: Optional[int] = None) -> dict:
        """Make one series as ``pulsebench-cli series --json`` does with the same options
        (``--type``, ``--length``, ``--tmin``, ``--tmax``, ``--count``, ``--saved-energy``,
        ``--noise``, ``--sequence``, ``--subset``, ``--subset-mode``, ``--subset-start``); an
        option left at None keeps the start-up value.

        Returns a dict: ``length``, ``tmin``, ``tmax``, ``impulse_size``, ``min_pulses``,
        ``max_pulses``, ``noise_sigma`` (ints), ``pulses`` (dict of int16 arrays ``position``,
        ``etalon``, ``cut_start``, ``cut_end``, ``position_min``, ``position_max``), ``pure`` and
        ``noisy`` (int16 arrays). Raises ValueError on an unknown option value or a refused
        parameter set (with the engine's message).
        """
        return self._core.series(type, length, tmin, tmax, count, saved_energy, noise, sequence, subset,
                                 subset_mode, subset_start)

    def process(self, task: int = 4, type: int = 8, length: Optional[int] = None, tmin: Optional[int] = None,
                tmax: Optional[int] = None, count: Optional[int] = None, saved_energy: Optional[int] = None,
                noise: int = 0, sequence: Optional[Sequence[int]] = None, subset: Optional[Sequence[int]] = None,
                subset_mode: Optional[int] = None, subset_start: Optional[int] = None,
                candidates: Optional[Sequence[int]] = None, tuple: Optional[Sequence[int]] = None,
                tuples: Optional[Sequence[Sequence[int]]] = None, proceeding: int = 1,
                saved_energy_process: Optional[int] = None) -> dict:
        """Make a series as ``series`` does and run the processing routine of ``task`` (1
        detection, 2 recognition, 4 joint, 36 tuple detection, 40 tuple recognition, 64 series
        processing) on it, as ``pulsebench-cli process --json`` does with the same options.

        Returns the series' dict (see ``series``) with ``routine`` (its name), ``answer``,
        ``found`` (``position``, ``etalon``, ``cut_start``, ``cut_end``, ``group_first``,
        ``group_last`` arrays and ``result_code``) and ``chains`` (``quan_pulses``,
        ``seeking_pulses_quantity`` and ``rows``: a list of dicts with ``distance`` and the chain's
        pulse arrays). Raises ValueError on an unknown option value or a refusal.

        The GIL is released while the routine runs. The routine itself cannot be stopped: a
        Ctrl-C during it is raised as KeyboardInterrupt when it returns (a large known-count
        problem is announced on standard error before it starts, as the batch tool does).
        """
        return self._core.process(task, type, length, tmin, tmax, count, saved_energy, noise, sequence, subset,
                                  subset_mode, subset_start, candidates, tuple, tuples, proceeding,
                                  saved_energy_process)

    def simulate(self, task: int = 4, type: int = 8, length: Optional[int] = None, tmin: Optional[int] = None,
                 tmax: Optional[int] = None, pulses: Tuple[int, int, int] = (6, 30, 1),
                 noise: Tuple[int, int, int] = (0, 29, 5), repeats: int = 100,
                 saved_energy_create: Optional[int] = None, saved_energy_process: Optional[int] = None,
                 candidates: Optional[Sequence[int]] = None, tuple: Optional[Sequence[int]] = None,
                 tuples: Optional[Sequence[Sequence[int]]] = None, proceeding: int = 1, threads: int = 0,
                 progress: Optional[Callable[[int, int], None]] = None) -> dict:
        """Run the statistical simulation as ``pulsebench-cli simulate --json`` does with the same
        options: ``pulses`` is (MIN, MAX, STEP) of ``--pulses``, ``noise`` (FIRST, STEPS,
        INCREMENT) of ``--noise``; ``threads`` 0 uses every core.

        ``progress``, when given, is called as ``progress(cells_done, cells_in_all)`` for every
        grid cell, from the calling thread; an exception it raises stops the run and is raised
        again. Ctrl-C (KeyboardInterrupt) stops the run within a fraction of a second, in the
        middle of a cell too. The GIL is released while the grid runs.

        Returns a dict: ``descriptor`` (``series_type``, ``series_type_name``, ``task_type``,
        ``task_name``, ``making_energy``, ``processing_energy``, ``length``, ``tmin``, ``tmax``,
        ``impulse_size``), ``pulses`` and ``noise_levels`` (int16 arrays), ``repeats``, ``errors``,
        ``detect_errors`` and ``recogn_errors`` (int32 arrays of shape (noise levels, pulse
        counts)), ``start_time`` and ``end_time`` (ISO 8601 UTC). Raises ValueError on an unknown
        option value or a refused grid.
        """
        return self._core.simulate(task, type, length, tmin, tmax, pulses, noise, repeats, saved_energy_create,
                                   saved_energy_process, candidates, tuple, tuples, proceeding, threads, progress)
