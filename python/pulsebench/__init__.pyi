from typing import Callable, Dict, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

__all__ = ["read_signal", "read_etalons", "quantise", "Workbench"]

def read_signal(path: str, column: Union[int, str, None] = ..., channel: Optional[int] = ...,
                rate: Optional[float] = ...) -> Tuple[np.ndarray, float]: ...
def read_etalons(path: str) -> Dict[str, np.ndarray]: ...
def quantise(signal: np.ndarray, etalons: Union[Mapping[str, np.ndarray], np.ndarray]) -> dict: ...

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
