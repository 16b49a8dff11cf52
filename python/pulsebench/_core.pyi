# The extension behind the package; use the functions and classes of `pulsebench`.
from typing import Any

def __getattr__(name: str) -> Any: ...
