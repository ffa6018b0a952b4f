"""The version comes from the library's header; pyproject.toml holds the rest.

The installed package has no header to read, so the build writes the number
into its copy of onset/_version.py. In a source checkout the build also
compiles libonset and libonset-detect with CMake and puts them into the
package, so that an installed `import onset` needs no setting; a copy of
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


def bundle_libraries(package):
    """Builds both libraries from the checkout and copies them, under their
    SONAMEs, into `package`; libonset-detect finds libonset beside it."""
    major = VERSION.split(".")[0]
    jobs = os.environ.get("CMAKE_BUILD_PARALLEL_LEVEL") or str(os.cpu_count() or 1)
    with tempfile.TemporaryDirectory() as work:
        build, prefix = Path(work) / "build", Path(work) / "prefix"
        for command in (["cmake", "-S", CHECKOUT, "-B", build, "-DCMAKE_BUILD_TYPE=Release",
                         "-DONSET_BUILD_TESTS=OFF", "-DONSET_BUILD_BENCHMARKS=OFF",
                         "-DONSET_BUILD_TOOLS=OFF", "-DCMAKE_INSTALL_LIBDIR=lib"],
                        ["cmake", "--build", build, "--parallel", jobs],
                        ["cmake", "--install", build, "--prefix", prefix]):
            subprocess.run([str(part) for part in command], check=True)
        for stem in ("libonset", "libonset-detect"):
            shutil.copy2(prefix / "lib" / f"{stem}.so.{major}", package / f"{stem}.so.{major}")


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
