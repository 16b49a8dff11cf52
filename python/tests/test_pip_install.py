"""`pip install --no-build-isolation .` from a copy of the checkout into a fresh virtual
environment that sees the system's packages, then an import: the way a researcher installs the
module. The build compiles the module's target in Release (a few minutes on two cores)."""

import os
import shutil
import subprocess
import sys

SOURCE = os.environ.get("PULSEBENCH_SOURCE_DIR", os.path.join(os.path.dirname(__file__), "..", ".."))


def test_pip_install_into_a_virtual_environment(tmp_path):
    checkout = tmp_path / "checkout"
    shutil.copytree(SOURCE, checkout, ignore=shutil.ignore_patterns("build", ".git", "__pycache__", "*.egg-info"))
    venv = tmp_path / "venv"
    env = {k: v for k, v in os.environ.items()
           if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "UBSAN_OPTIONS", "PYTHONPATH", "PYTHONHOME")}
    env.setdefault("CMAKE_BUILD_PARALLEL_LEVEL", "2")
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)], check=True, env=env)
    python = str(venv / "bin" / "python")
    subprocess.run([python, "-m", "pip", "install", "--no-build-isolation", "--no-index", "--no-deps", "."],
                   cwd=checkout, check=True, env=env)
    probe = ("import pulsebench, os; b = pulsebench.Workbench(); "
             "assert b.alphabet().shape[0] == 20; assert len(b.series()['noisy']) > 0; "
             "import numpy as np; r = pulsebench.detect(np.tile([0, 5, 9, 5, 0, 0, 0, 0], 10), "
             "{'a': np.array([0, 5, 9, 5, 0, 0])}, 8, 8); assert r.position.tolist() == list(range(0, 80, 8)); "
             "d = os.path.dirname(pulsebench.__file__); "
             "assert os.path.exists(os.path.join(d, '__init__.pyi')) and os.path.exists(os.path.join(d, 'py.typed')); "
             "import importlib.metadata as m; assert m.version('pulsebench') == pulsebench.__version__; "
             "print(pulsebench.__file__)")
    out = subprocess.run([python, "-c", probe], cwd=tmp_path, check=True, env=env, capture_output=True, text=True)
    assert str(venv) in out.stdout
