"""Builds the `pulsebench` package: CMake builds only the extension target (Release, no tests,
no benchmarks) and setuptools packages it with the Python files of python/pulsebench."""

import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext


class CMakeBuild(build_ext):
    """Runs CMake for the extension instead of setuptools' compiler."""

    def build_extension(self, ext):
        source = os.path.dirname(os.path.abspath(__file__))
        build = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        layout = os.path.join(build, "python")
        configure = [
            "cmake", "-S", source, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
            "-DPULSEBENCH_BUILD_TESTS=OFF", "-DPULSEBENCH_BUILD_BENCH=OFF", "-DPULSEBENCH_PYTHON=ON",
            "-DPython_EXECUTABLE=" + sys.executable, "-DPULSEBENCH_PYTHON_DIR=" + layout,
        ]
        if shutil.which("ninja"):
            configure += ["-G", "Ninja"]
        if shutil.which("ccache"):
            configure += ["-DCMAKE_CXX_COMPILER_LAUNCHER=ccache", "-DCMAKE_C_COMPILER_LAUNCHER=ccache"]
        subprocess.run(configure, check=True)
        jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL", str(os.cpu_count() or 1))
        subprocess.run(["cmake", "--build", build, "--target", "pulsebench_python", "-j", jobs], check=True)
        built = [f for f in os.listdir(os.path.join(layout, "pulsebench")) if f.startswith("_core") and f.endswith(".so")]
        if len(built) != 1:
            raise RuntimeError("the CMake build left no single pulsebench/_core*.so in " + layout)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(os.path.join(layout, "pulsebench", built[0]), target)


def project_version():
    """The one version number of PulseBench: `project(PulseBench VERSION ...)` in CMakeLists.txt."""
    source = os.path.dirname(os.path.abspath(__file__))
    with open(os.path.join(source, "CMakeLists.txt"), encoding="utf-8") as cmake:
        found = re.search(r"project\(\s*PulseBench\s+VERSION\s+([0-9.]+)", cmake.read())
    if not found:
        raise RuntimeError("CMakeLists.txt names no project(PulseBench VERSION ...)")
    return found.group(1)


setup(
    version=project_version(),
    packages=["pulsebench"],
    package_dir={"": "python"},
    package_data={"pulsebench": ["*.pyi", "py.typed"]},
    ext_modules=[Extension("pulsebench._core", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
    zip_safe=False,
)
