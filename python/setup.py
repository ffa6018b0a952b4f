"""The version comes from the library's header; pyproject.toml holds the rest.

The installed package has no header to read, so the build writes the number
into its copy of onset/_version.py. In a source checkout the build also puts
libonset and libonset-detect into the package, so that an installed `import
onset` needs no setting: those of the checkout's build folder (build/, or
$ONSET_BUILD_DIR) brought up to date with CMake when it is a plain Release
build of this checkout, else built afresh in a temporary folder. A copy of
python/ alone (no checkout around it) installs the Python files only, to
find libraries installed with `cmake --install` under the same prefix.
"""

import importlib.util
import os
import shutil
import subprocess
import tempfile
from pathlib import Path

from setuptools import Distribution, setup
from setuptools.command.build_py import build_py

HERE = Path(__file__).resolve().parent
CHECKOUT = HERE.parent
_spec = importlib.util.spec_from_file_location("onset_version", HERE / "onset" / "_version.py")
_module = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(_module)
VERSION = _module.__version__


def _cache_entries(build):
    """NAME: value of a CMake build folder's cache ({} without one)."""
    entries = {}
    cache = build / "CMakeCache.txt"
    for line in cache.read_text().splitlines() if cache.is_file() else ():
        name, typed, value = line.partition("=")
        if typed and not name.startswith(("#", "//")):
            entries[name.split(":")[0]] = value
    return entries


def _reusable_build():
    """The checkout's build folder when its libraries can go into a package:
    configured from this checkout, Release, without sanitizers."""
    build = Path(os.environ.get("ONSET_BUILD_DIR") or CHECKOUT / "build").resolve()
    cache = _cache_entries(build)
    home = cache.get("CMAKE_HOME_DIRECTORY")
    if home and Path(home).resolve() == CHECKOUT.resolve() and \
            cache.get("CMAKE_BUILD_TYPE") == "Release" and not cache.get("ONSET_SANITIZERS"):
        return build
    return None


def bundle_libraries(package):
    """Copies both libraries, under their SONAMEs, into `package`, installed
    as `cmake --install` installs them (libonset-detect finds libonset beside
    it): from the checkout's build folder, brought up to date, or else from
    a fresh build."""
    major = VERSION.split(".")[0]
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    with tempfile.TemporaryDirectory() as work:
        prefix = Path(work) / "prefix"
        build = _reusable_build()
        if build:
            print(f"onset: the libraries of {build}, brought up to date", flush=True)
            commands = [["cmake", "--build", build, "--parallel", jobs, "--target", "onset", "onset_detect"]]
            # Only the install rules of the libraries' own folders, not the
            # tools' and tests' that this build may not have built.
            commands += [["cmake", f"-DCMAKE_INSTALL_PREFIX={prefix}", "-DCMAKE_INSTALL_LOCAL_ONLY=ON",
                          "-P", folder / "cmake_install.cmake"] for folder in (build, build / "detect")]
        else:
            build = Path(work) / "build"
            print(f"onset: building the libraries in {build}", flush=True)
            commands = [["cmake", "-S", CHECKOUT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                         "-DONSET_BUILD_TESTS=OFF", "-DONSET_BUILD_BENCHMARKS=OFF",
                         "-DONSET_BUILD_TOOLS=OFF"],
                        ["cmake", "--build", build, "--parallel", jobs],
                        ["cmake", "--install", build, "--prefix", prefix]]
        for command in commands:
            subprocess.run([str(part) for part in command], check=True)
        for stem in ("libonset", "libonset-detect"):
            [library] = prefix.glob(f"**/{stem}.so.{major}")
            shutil.copy2(library, package / f"{stem}.so.{major}")


class BuildPy(build_py):
    def run(self):
        super().run()
        package = Path(self.build_lib) / "onset"
        (package / "_version.py").write_text(
            '"""The package\'s version, written by the build from onset.h."""\n\n'
            f'__version__ = "{VERSION}"\n')
        if (CHECKOUT / "CMakeLists.txt").is_file() and (CHECKOUT / "detect").is_dir():
            bundle_libraries(package)


class BinaryDistribution(Distribution):
    """The package holds compiled libraries: its wheel is for this platform."""

    def has_ext_modules(self):
        return (CHECKOUT / "CMakeLists.txt").is_file()


setup(version=VERSION, cmdclass={"build_py": BuildPy}, distclass=BinaryDistribution)
