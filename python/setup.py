"""Builds the orvalix package from a checkout with Debian's packages alone:

    /usr/bin/python3 -m pip install --no-build-isolation --break-system-packages ./python

(cmake, g++, pybind11-dev, python3-pybind11, python3-dev, python3-setuptools, python3-pip,
python3-numpy). The extension is the one the project's CMake build makes: this script configures
the repository with -DORVALIX_PYTHON=ON and builds that target, so every source (each vector
width among them) gets its flags from the one place that sets them.
"""
import glob
import os
import shutil
import subprocess
import sys

import pybind11
from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


class CMakeBuild(build_ext):
    def build_extension(self, ext):
        if not os.path.exists(os.path.join(ROOT, "CMakeLists.txt")):
            raise RuntimeError("build from a checkout: %s holds no CMakeLists.txt" % ROOT)
        folder = os.path.abspath(os.path.join(self.build_temp, "cmake"))
        jobs = os.environ.get("ORVALIX_BUILD_JOBS", "2")
        subprocess.run(["cmake", "-S", ROOT, "-B", folder, "-DCMAKE_BUILD_TYPE=Release",
                        "-DORVALIX_PYTHON=ON", "-DORVALIX_PYTHON_EXECUTABLE=" + sys.executable,
                        "-Dpybind11_DIR=" + pybind11.get_cmake_dir()], check=True)
        subprocess.run(["cmake", "--build", folder, "--target", "orvalix_python",
                        "--parallel", jobs], check=True)
        built = glob.glob(os.path.join(folder, "python", "orvalix", "_orvalix*.so"))
        if len(built) != 1:
            raise RuntimeError("the CMake build made no single _orvalix module: %s" % built)
        target = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(built[0], target)


setup(ext_modules=[Extension("orvalix._orvalix", sources=[])], cmdclass={"build_ext": CMakeBuild})
