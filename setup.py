"""Builds the Python package quorlib: ``pip install --no-build-isolation .`` (Debian's
python3-pip, python3-setuptools and python3-wheel; no download). The native extension is
built by the project's own CMake (target quorlib); the rest of the package is pure Python.

QUORLIB_CMAKE_BUILD_DIR names a CMake build folder to build in and keep (the tests use it so
that a second build reuses the first); by default a folder under the build's temporary one.
"""

import os
import re
import shutil
import subprocess
import sys

from setuptools import Extension, setup
from setuptools.command.build_ext import build_ext

ROOT = os.path.dirname(os.path.abspath(__file__))


def project_version() -> str:
    """The product version, set once in CMakeLists.txt."""
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as file:
        found = re.search(r"project\(QuorLib VERSION ([0-9.]+)", file.read())
    if not found:
        raise RuntimeError("CMakeLists.txt names no project version")
    return found.group(1)


class CMakeBuild(build_ext):
    """Builds the extension with CMake and copies it where setuptools packs it."""

    def build_extension(self, ext: Extension) -> None:
        build_dir = os.environ.get("QUORLIB_CMAKE_BUILD_DIR") or os.path.join(os.path.abspath(self.build_temp), "cmake")
        configure = ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DQUOR_BUILD_TESTS=OFF",
                     "-DCMAKE_COMPILE_WARNING_AS_ERROR=ON", f"-DPython_EXECUTABLE={sys.executable}"]
        if shutil.which("ninja") and not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
            configure += ["-G", "Ninja"]
        subprocess.check_call(configure)
        subprocess.check_call(["cmake", "--build", build_dir, "--target", "quorlib", "-j", str(os.cpu_count() or 1)])
        built = os.path.join(build_dir, "python", "quorlib", os.path.basename(self.get_ext_filename(ext.name)))
        if not os.path.exists(built):
            sys.exit(f"CMake did not build {built}: is {sys.executable}'s pybind11 (python3-pybind11) and "
                     "python3-dev installed? ./scripts/setup.sh installs them.")
        destination = self.get_ext_fullpath(ext.name)
        os.makedirs(os.path.dirname(destination), exist_ok=True)
        shutil.copy2(built, destination)


setup(
    version=project_version(),
    packages=["quorlib"],
    package_dir={"quorlib": "src/python/quorlib"},
    package_data={"quorlib": ["py.typed", "*.pyi"]},
    ext_modules=[Extension("quorlib._quorlib", sources=[])],
    cmdclass={"build_ext": CMakeBuild},
)
