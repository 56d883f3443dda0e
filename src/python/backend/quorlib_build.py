"""Builds the Python package quorlib for pip and python -m build, offline and with nothing to
install first: pip needs neither setuptools nor wheel, so ``pip install .`` works in a plain
venv and with any CPython that has its headers (Debian's, pyenv's, a self-built one).

The native extension is built by the project's own CMake (target quorlib) for the Python that
runs the build; what it needs (cmake, a C++ compiler, the Python headers, pybind11) is checked
first, and a missing piece stops the build at once, naming the command that installs it.

QUORLIB_CMAKE_BUILD_DIR names a folder to build in and keep (the install test reuses one build
for several installs); by default a temporary folder is used and removed.
"""

import base64
import contextlib
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import sysconfig
import tarfile
import tempfile
import zipfile
from typing import Dict, Iterator, List, Optional, Tuple

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__)))))
PACKAGE_DIR = os.path.join(ROOT, "src", "python", "quorlib")
NAME = "quorlib"


class MissingTool(SystemExit):
    """Stops the build with a message that names what is missing and how to install it."""

    def __init__(self, what: str, install: str) -> None:
        super().__init__(f"\nquorlib cannot be built for {sys.executable}: {what} is missing.\n"
                         f"Install it with: {install}\nthen run pip again.\n")


def _version() -> str:
    with open(os.path.join(ROOT, "CMakeLists.txt"), encoding="utf-8") as file:
        found = re.search(r"project\(QuorLib VERSION ([0-9.]+)", file.read())
    if not found:
        raise SystemExit("CMakeLists.txt names no project version")
    return found.group(1)


def _project() -> Dict[str, object]:
    """The [project] table of pyproject.toml. Pythons before 3.11 have no TOML reader; the
    table's flat string keys and its scripts are then read line by line."""
    path = os.path.join(ROOT, "pyproject.toml")
    try:
        import tomllib
    except ImportError:
        table: Dict[str, object] = {"scripts": {}}
        section = ""
        with open(path, encoding="utf-8") as file:
            for line in file:
                header = re.match(r"\s*\[([^\]]+)\]", line)
                pair = re.match(r'\s*([\w-]+)\s*=\s*"([^"]*)"', line)
                if header:
                    section = header.group(1).strip()
                elif pair and section == "project":
                    table[pair.group(1)] = pair.group(2)
                elif pair and section == "project.scripts":
                    table["scripts"][pair.group(1)] = pair.group(2)  # type: ignore[index]
        return table
    with open(path, "rb") as file:
        project: Dict[str, object] = tomllib.load(file)["project"]
    return project


def _metadata() -> str:
    project = _project()
    license_text = project.get("license", {})
    lines = ["Metadata-Version: 2.1", f"Name: {NAME}", f"Version: {_version()}",
             f"Summary: {project.get('description', '')}",
             f"Requires-Python: {project.get('requires-python', '>=3.9')}"]
    if isinstance(license_text, dict) and "text" in license_text:
        lines.append(f"License: {license_text['text']}")
    return "\n".join(lines) + "\n"


def _entry_points() -> str:
    scripts = _project().get("scripts", {})
    assert isinstance(scripts, dict)
    return "[console_scripts]\n" + "".join(f"{name} = {target}\n" for name, target in scripts.items())


def _tags() -> Tuple[str, str, str]:
    """The wheel's interpreter, ABI and platform tags: the extension loads only in this
    Python's version and ABI on this kind of machine."""
    if sys.implementation.name != "cpython":
        raise SystemExit(f"quorlib is built for CPython only; {sys.executable} is {sys.implementation.name}.")
    interpreter = f"cp{sys.version_info[0]}{sys.version_info[1]}"
    soabi = sysconfig.get_config_var("SOABI") or ""  # cpython-311-x86_64-linux-gnu
    abi = "cp" + soabi.split("-")[1] if soabi.count("-") >= 1 else interpreter
    platform = re.sub(r"[-.]", "_", sysconfig.get_platform())
    return interpreter, abi, platform


def _check_tools() -> List[str]:
    """Stops when cmake, a compiler or the Python headers are missing; returns the CMake
    options that point at this Python and at its pybind11."""
    if not shutil.which("cmake"):
        raise MissingTool("cmake", "sudo apt install cmake   (or: pip install cmake)")
    if not any(shutil.which(compiler) for compiler in (os.environ.get("CXX", ""), "c++", "g++", "clang++") if compiler):
        raise MissingTool("a C++ compiler", "sudo apt install g++")
    include = sysconfig.get_paths()["include"]
    if not os.path.exists(os.path.join(include, "Python.h")):
        version = f"{sys.version_info[0]}.{sys.version_info[1]}"
        raise MissingTool(f"Python's C headers ({include}/Python.h)",
                          f"sudo apt install python{version}-dev   (pyenv's Pythons have them)")
    options = [f"-DPython_EXECUTABLE={os.path.realpath(sys.executable)}"]
    with contextlib.suppress(ImportError):
        import pybind11  # a pybind11 installed for this Python, used before the system's
        options.append(f"-Dpybind11_DIR={pybind11.get_cmake_dir()}")
    return options


def _cmake_cache(build_dir: str, name: str) -> str:
    with contextlib.suppress(OSError), open(os.path.join(build_dir, "CMakeCache.txt"), encoding="utf-8") as file:
        for line in file:
            if line.startswith(name + ":"):
                return line.split("=", 1)[1].strip()
    return ""


def _run(command: List[str]) -> None:
    # CMake's output goes to standard error: pip shows it with -v, and on a failure.
    result = subprocess.run(command, stdout=sys.stderr, stderr=sys.stderr)
    if result.returncode != 0:
        raise SystemExit(f"quorlib: {' '.join(command)} failed (exit status {result.returncode}); its output is above.")


def _build_extension(build_dir: str) -> str:
    """Builds the extension in build_dir and returns its path."""
    options = _check_tools()
    configure = ["cmake", "-S", ROOT, "-B", build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DQUOR_BUILD_TESTS=OFF", *options]
    if shutil.which("ninja") and not os.path.exists(os.path.join(build_dir, "CMakeCache.txt")):
        configure += ["-G", "Ninja"]
    _run(configure)
    missing = _cmake_cache(build_dir, "QUOR_PYTHON_MISSING")
    if "pybind11" in missing:
        raise MissingTool("pybind11", "sudo apt install pybind11-dev   (or: pip install pybind11)")
    if missing:
        raise MissingTool(missing, f"sudo apt install python{sys.version_info[0]}.{sys.version_info[1]}-dev")
    _run(["cmake", "--build", build_dir, "--target", "quorlib", "-j", str(os.cpu_count() or 1)])
    built = os.path.join(build_dir, "python", "quorlib", "_quorlib" + sysconfig.get_config_var("EXT_SUFFIX"))
    if not os.path.exists(built):
        raise SystemExit(f"quorlib: CMake built no {built} for {sys.executable}; its output is above.")
    return built


@contextlib.contextmanager
def _build_dir() -> Iterator[str]:
    kept = os.environ.get("QUORLIB_CMAKE_BUILD_DIR")
    if kept:
        # One folder per interpreter: a build is only good for the Python it was made for.
        key = hashlib.sha256(os.path.realpath(sys.executable).encode()).hexdigest()[:12]
        yield os.path.join(os.path.abspath(kept), f"{sys.implementation.cache_tag}-{key}")
    else:
        with tempfile.TemporaryDirectory(prefix="quorlib-build-") as temporary:
            yield temporary


def _record_line(path: str, data: bytes) -> str:
    digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
    return f"{path},sha256={digest},{len(data)}\n"


def _package_files() -> List[str]:
    return sorted(name for name in os.listdir(PACKAGE_DIR)
                  if name.endswith((".py", ".pyi")) or name == "py.typed")


# The PEP 517 hooks.

def get_requires_for_build_wheel(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def get_requires_for_build_sdist(config_settings: Optional[Dict[str, str]] = None) -> List[str]:
    return []


def build_wheel(wheel_directory: str, config_settings: Optional[Dict[str, str]] = None,
                metadata_directory: Optional[str] = None) -> str:
    version = _version()
    interpreter, abi, platform = _tags()
    dist_info = f"{NAME}-{version}.dist-info"
    wheel_name = f"{NAME}-{version}-{interpreter}-{abi}-{platform}.whl"
    with _build_dir() as build_dir:
        extension = _build_extension(build_dir)
        contents: List[Tuple[str, bytes]] = []
        for name in _package_files():
            with open(os.path.join(PACKAGE_DIR, name), "rb") as file:
                contents.append((f"quorlib/{name}", file.read()))
        with open(extension, "rb") as file:
            contents.append((f"quorlib/{os.path.basename(extension)}", file.read()))
    contents += [
        (f"{dist_info}/METADATA", _metadata().encode()),
        (f"{dist_info}/WHEEL", (f"Wheel-Version: 1.0\nGenerator: quorlib_build\nRoot-Is-Purelib: false\n"
                                f"Tag: {interpreter}-{abi}-{platform}\n").encode()),
        (f"{dist_info}/entry_points.txt", _entry_points().encode()),
    ]
    record = "".join(_record_line(path, data) for path, data in contents) + f"{dist_info}/RECORD,,\n"
    os.makedirs(wheel_directory, exist_ok=True)
    with zipfile.ZipFile(os.path.join(wheel_directory, wheel_name), "w", zipfile.ZIP_DEFLATED) as wheel:
        for path, data in contents + [(f"{dist_info}/RECORD", record.encode())]:
            info = zipfile.ZipInfo(path, date_time=(1980, 1, 1, 0, 0, 0))
            info.external_attr = (0o755 if path.endswith(".so") else 0o644) << 16
            info.compress_type = zipfile.ZIP_DEFLATED
            wheel.writestr(info, data)
    return wheel_name


def build_sdist(sdist_directory: str, config_settings: Optional[Dict[str, str]] = None) -> str:
    """The source tree without build trees, releases and version control."""
    top = f"{NAME}-{_version()}"
    skipped = {".git", "build", "dist", "__pycache__"}
    os.makedirs(sdist_directory, exist_ok=True)
    with tarfile.open(os.path.join(sdist_directory, top + ".tar.gz"), "w:gz", format=tarfile.PAX_FORMAT) as sdist:
        for folder, folders, files in os.walk(ROOT):
            folders[:] = sorted(f for f in folders if f not in skipped and not f.startswith("build-"))
            for name in sorted(files):
                path = os.path.join(folder, name)
                sdist.add(path, arcname=os.path.join(top, os.path.relpath(path, ROOT)), recursive=False)
        info = tarfile.TarInfo(f"{top}/PKG-INFO")
        data = _metadata().encode()
        info.size = len(data)
        sdist.addfile(info, io.BytesIO(data))
    return top + ".tar.gz"
