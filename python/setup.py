"""Builds the orvalix package from a checkout with Debian's packages alone:

    /usr/bin/python3 -m pip install --no-build-isolation --break-system-packages ./python

(pybind11-dev, python3-pybind11, python3-dev, python3-setuptools, python3-pip, python3-numpy).
The extension compiles the library's sources itself, with the flags that keep every number
exact: no fused multiply-add, no fast-math.
"""
import glob
import os

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension
from setuptools import setup

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
LIBRARY_FOLDERS = ["main", "options", "wave", "dsp", "mfcc", "modules"]


def relative(path):
    return os.path.relpath(path, HERE)


sources = [relative(os.path.join(HERE, "src", "orvalix_module.cpp"))]
for folder in LIBRARY_FOLDERS:
    sources += sorted(relative(p) for p in glob.glob(os.path.join(ROOT, folder, "*.cpp"))
                      if not p.endswith(os.path.join("main", "main.cpp")))

ParallelCompile("ORVALIX_BUILD_JOBS", default=2).install()

setup(
    ext_modules=[Pybind11Extension(
        "orvalix._orvalix", sources, cxx_std=20,
        include_dirs=[relative(ROOT), relative(os.path.join(ROOT, "include"))],
        extra_compile_args=["-O3", "-ffp-contract=off", "-fno-fast-math"])],
)
