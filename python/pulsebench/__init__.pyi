import os
from typing import Any, Callable, Dict, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

__all__ = ["read_signal", "read_etalons", "quantise", "detect", "Result", "Workbench", "__version__", "libraries"]

__version__: str
libraries: Dict[str, str]

def read_signal(path: Union[str, "os.PathLike[str]"], column: Union[int, str, None] = ..., channel: Optional[int] = ...,
                rate: Optional[float] = ...) -> Tuple[np.ndarray, float]: ...
def read_etalons(path: Union[str, "os.PathLike[str]"]) -> Dict[str, np.ndarray]: ...
def quantise(signal: np.ndarray, etalons: Union[Mapping[str, np.ndarray], np.ndarray]) -> dict: ...

class Result:
    position: np.ndarray
    etalon: np.ndarray
    name: np.ndarray
    cut_start: np.ndarray
    cut_end: np.ndarray
    measure: np.ndarray
    gain: np.ndarray
    pulse_cost: float
    noise_sigma: float
    etalons: Dict[str, np.ndarray]
    learn_distances: List[int]
    learned_round: int
    confidence: Optional[np.ndarray]
    kind_confidence: Optional[np.ndarray]
    posterior: Optional[np.ndarray]
    expected_count: Optional[float]
    count_deviation: Optional[float]
    distance: int
    scale: float
    rate: float
    samples: int
    task: str
    etalon_names: List[str]
    seconds: float
    def __init__(self, found: Dict[str, Any]) -> None: ...
    @property
    def time(self) -> np.ndarray: ...
    def __len__(self) -> int: ...
    def to_dict(self) -> dict: ...

def detect(signal: np.ndarray, etalons: Optional[Union[Mapping[str, np.ndarray], np.ndarray]], tmin: Union[int, str],
           tmax: Union[int, str], *, count: Optional[int] = ..., saved_energy: int = ..., task: str = ...,
           candidates: Optional[Sequence[Union[str, int]]] = ..., rate: float = ...,
           baseline: Optional[float] = ..., threads: int = ...,
           progress: Optional[Callable[[float], None]] = ...,
           templates: Optional[Sequence[Tuple[Union[int, str], ...]]] = ...,
           gain: Union[Tuple[float, float], float] = ...,
           pulse_cost: Optional[Union[float, str]] = ..., learn: int = ..., confidence: bool = ...,
           confidence_window: Optional[Union[int, str]] = ..., noise_sigma: Optional[float] = ...) -> Result: ...

def learn_shapes(signal: np.ndarray, etalons: Optional[Union[Mapping[str, np.ndarray], np.ndarray]],
                 tmin: Union[int, str], tmax: Union[int, str], rounds: int = ..., **options: Any
                 ) -> Tuple[Dict[str, np.ndarray], List[int]]: ...

class Workbench:
    def __init__(self) -> None: ...
    def alphabet(self) -> np.ndarray: ...
    def series(self, type: int = ..., length: Optional[int] = ..., tmin: Optional[int] = ...,
               tmax: Optional[int] = ..., count: Optional[int] = ..., saved_energy: Optional[int] = ...,
               noise: int = ..., sequence: Optional[Sequence[int]] = ..., subset: Optional[Sequence[int]] = ...,
               subset_mode: Optional[int] = ..., subset_start: Optional[int] = ...) -> dict: ...
    def process(self, task: int = ..., type: int = ..., length: Optional[int] = ..., tmin: Optional[int] = ...,
                tmax: Optional[int] = ..., count: Optional[int] = ..., saved_energy: Optional[int] = ...,
                noise: int = ..., sequence: Optional[Sequence[int]] = ..., subset: Optional[Sequence[int]] = ...,
                subset_mode: Optional[int] = ..., subset_start: Optional[int] = ...,
                candidates: Optional[Sequence[int]] = ..., tuple: Optional[Sequence[int]] = ...,
                tuples: Optional[Sequence[Sequence[int]]] = ..., proceeding: int = ...,
                saved_energy_process: Optional[int] = ...) -> dict: ...
    def simulate(self, task: int = ..., type: int = ..., length: Optional[int] = ..., tmin: Optional[int] = ...,
                 tmax: Optional[int] = ..., pulses: Tuple[int, int, int] = ..., noise: Tuple[int, int, int] = ...,
                 repeats: int = ..., saved_energy_create: Optional[int] = ..., saved_energy_process: Optional[int] = ...,
                 candidates: Optional[Sequence[int]] = ..., tuple: Optional[Sequence[int]] = ...,
                 tuples: Optional[Sequence[Sequence[int]]] = ..., proceeding: int = ..., threads: int = ...,
                 progress: Optional[Callable[[int, int], None]] = ...) -> dict: ...
