"""Finding the library: checkout, environment, next to the package, install prefix."""

import ctypes.util
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

import onset
from conftest import PYTHON_DIR

CHECKOUT = PYTHON_DIR.parent
# The build the suite runs against (make test names it in ONSET_LIBRARY).
BUILD_DIR = Path(os.environ.get("ONSET_LIBRARY", CHECKOUT / "build" / "libonset.so")).parent
SHOW_PATH = "import onset; print(onset.library_path)"


def run(code, pythonpath, cwd, **extra):
    """A fresh interpreter with a clean environment: no ONSET_LIBRARY, no LD_LIBRARY_PATH."""
    env = {"PATH": "/usr/bin:/bin", "PYTHONPATH": str(pythonpath), **extra}
    return subprocess.run([sys.executable, "-c", code], env=env, cwd=cwd,
                          capture_output=True, text=True, timeout=60)


def copy_package(destination, with_library=None):
    shutil.copytree(PYTHON_DIR / "onset", destination / "onset",
                    ignore=shutil.ignore_patterns("__pycache__", "libonset.so*"))
    if with_library:
        shutil.copy(with_library, destination / "onset" / "libonset.so")


def test_found_in_checkout_build_folder(tmp_path):
    built = CHECKOUT / "build" / "libonset.so"
    if not built.exists():
        pytest.skip("no build/ folder in this checkout (make builds it)")
    result = run(SHOW_PATH, PYTHON_DIR, tmp_path)
    assert result.returncode == 0, result.stderr
    assert Path(result.stdout.strip()) == built


def test_environment_variable_wins(tmp_path):
    result = run(SHOW_PATH, PYTHON_DIR, tmp_path, ONSET_LIBRARY=str(BUILD_DIR))
    assert result.returncode == 0, result.stderr
    assert Path(result.stdout.strip()) == BUILD_DIR / "libonset.so"

    missing = tmp_path / "nowhere" / "libonset.so"
    result = run(SHOW_PATH, PYTHON_DIR, tmp_path, ONSET_LIBRARY=str(missing))
    assert result.returncode != 0
    assert "LibraryNotFoundError" in result.stderr
    assert f"$ONSET_LIBRARY: {missing} (no such file)" in result.stderr


def test_a_library_that_is_not_onset_is_not_found(tmp_path):
    import _ctypes  # any shared object that is not libonset
    result = run(SHOW_PATH, PYTHON_DIR, tmp_path, ONSET_LIBRARY=_ctypes.__file__)
    assert result.returncode != 0
    assert "LibraryNotFoundError" in result.stderr and "AttributeError" not in result.stderr
    assert f"$ONSET_LIBRARY: {_ctypes.__file__} (not libonset: it lacks trace_movkurtosis" \
        in result.stderr


def test_the_engine_is_looked_for_beside_libonset_when_first_used(tmp_path):
    shutil.copy(onset.library_path, tmp_path / "libonset.so")
    code = ("import onset\nprint('imported')\n"
            "onset.detect([('A.B..Z', 0.0, 100.0, [1.0] * 500)])")
    result = run(code, PYTHON_DIR, tmp_path, ONSET_LIBRARY=str(tmp_path / "libonset.so"))
    assert result.stdout == "imported\n" and "LibraryNotFoundError: cannot load libonset-detect" \
        in result.stderr
    assert f"$ONSET_LIBRARY: {tmp_path / 'libonset-detect.so'} (no such file)" in result.stderr


def test_found_next_to_package(tmp_path):
    copy_package(tmp_path, with_library=onset.library_path)
    result = run(SHOW_PATH, tmp_path, tmp_path)
    assert result.returncode == 0, result.stderr
    assert Path(result.stdout.strip()) == tmp_path / "onset" / "libonset.so"


def test_error_names_every_place(tmp_path):
    if ctypes.util.find_library("onset"):
        pytest.skip("a libonset is installed on the system loader's path")
    copy_package(tmp_path)
    result = run(SHOW_PATH, tmp_path, tmp_path)
    assert result.returncode != 0
    for place in (f"next to the package: {tmp_path / 'onset' / 'libonset.so'}",
                  "the source checkout's build folder:", "the system loader's path:",
                  "set ONSET_LIBRARY"):
        assert place in result.stderr


def header_version():
    """major.minor.patch as include/onset.h defines it, read here on its own."""
    text = (CHECKOUT / "include" / "onset.h").read_text()
    return ".".join(re.search(rf"^#define ONSET_VERSION_{part} (\d+)$", text, re.M).group(1)
                    for part in ("MAJOR", "MINOR", "PATCH"))


def test_version_is_the_headers():
    assert onset.__version__ == header_version()
    assert onset._library._SONAME == "libonset.so." + header_version().split(".")[0]


def test_installed_with_cmake_and_pip(tmp_path):
    prefix = tmp_path / "prefix"
    subprocess.run(["cmake", "--install", str(BUILD_DIR), "--prefix", str(prefix)],
                   check=True, capture_output=True, timeout=120)
    # pip builds in the source folder: a copy keeps the checkout clean. The
    # build reads the version from the header, one folder up as in the checkout.
    source = tmp_path / "source" / "python"
    source.mkdir(parents=True)
    for name in ("pyproject.toml", "setup.py"):
        shutil.copy(PYTHON_DIR / name, source)
    copy_package(source)
    (source.parent / "include").mkdir()
    shutil.copy(CHECKOUT / "include" / "onset.h", source.parent / "include")
    subprocess.run([sys.executable, "-m", "pip", "install", "--quiet", "--no-build-isolation",
                    "--no-index", "--no-deps", "--prefix", str(prefix), str(source)],
                   check=True, capture_output=True, timeout=300)
    [package] = [p.parent for p in prefix.glob("**/onset/__init__.py")]
    result = run(SHOW_PATH + "; print(onset.max_jump([1.0, 3.0, 2.0], 2).tolist());"
                 " print(onset.__version__)", package.parent, tmp_path)
    assert result.returncode == 0, result.stderr
    path, values, version = result.stdout.split("\n")[:3]
    assert Path(path).resolve().parent == (prefix / "lib").resolve()
    assert values == "[0.0, 2.0, -1.0]"
    # The installed package has no header beside it: the build wrote the number in.
    assert version == header_version()
    assert f'__version__ = "{version}"' in (package / "_version.py").read_text()


def test_results_do_not_depend_on_thread_count(tmp_path):
    code = ("import numpy as np, onset, hashlib\n"
            "x = np.random.default_rng(5).normal(size=20000)\n"
            "parts = [onset.max_jump(x, 33), onset.kurtosis_batch([x, x[:999]], 50)[1]]\n"
            "parts += onset.FilterBank(12, fraction=0.5).decompose(x)\n"
            "print(hashlib.sha256(b''.join(p.tobytes() for p in parts)).hexdigest())")
    digests = set()
    for threads in ("1", "3"):
        result = run(code, PYTHON_DIR, tmp_path, ONSET_LIBRARY=onset.library_path,
                     OMP_NUM_THREADS=threads)
        assert result.returncode == 0, result.stderr
        digests.add(result.stdout)
    assert len(digests) == 1


def test_record_layouts_are_checked_without_assert(tmp_path):
    from onset import _library
    for record, (size, offsets) in _library.RECORD_LAYOUTS.items():
        _library.check_layout(record, size, offsets)
    # A real check, not an assert: it still refuses under python -O.
    code = ("import ctypes, onset._library as l\n"
            "class Shifted(ctypes.Structure):\n"
            "    _fields_ = [('host_head', ctypes.c_ubyte * 16), ('time', ctypes.c_double),\n"
            "                ('host_tail', ctypes.c_ubyte * 40)]\n"
            "l.check_layout(Shifted, *l.RECORD_LAYOUTS[l.Pick])")
    result = subprocess.run([sys.executable, "-O", "-c", code], capture_output=True, text=True,
                            env={"PYTHONPATH": str(PYTHON_DIR), "ONSET_LIBRARY": onset.library_path},
                            cwd=tmp_path, timeout=60)
    assert result.returncode != 0
    assert "ImportError: Shifted is laid out as 64 bytes with offsets" in result.stderr
    assert "'time': 16" in result.stderr


def test_pip_install_from_a_checkout_bundles_both_libraries(tmp_path, synthetic_archive,
                                                            command_line):
    # A copy of the checkout's sources, so that the build leaves it clean.
    source = tmp_path / "checkout"
    skip = shutil.ignore_patterns("__pycache__", "build*", ".git", "*.egg-info", "libonset*.so*")
    shutil.copytree(CHECKOUT, source, ignore=skip)
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", "--system-site-packages", str(venv)],
                   check=True, timeout=120)
    subprocess.run([str(venv / "bin" / "pip"), "install", "--quiet", "--no-build-isolation",
                    "--no-index", str(source / "python")], check=True, capture_output=True,
                   timeout=900)
    code = (f"import onset, onset._engine as e\n"
            f"print(onset.library_path); print(e.engine_path())\n"
            f"print(onset.detect_files({str(synthetic_archive)!r}).to_csv(), end='')\n")
    result = subprocess.run([str(venv / "bin" / "python"), "-c", code], capture_output=True,
                            text=True, cwd=tmp_path, timeout=120,
                            env={"PATH": "/usr/bin:/bin"})
    assert result.returncode == 0, result.stderr
    library, engine, csv = result.stdout.split("\n", 2)
    package = Path(library).parent
    assert package.name == "onset" and venv in package.parents
    assert Path(engine) == package / "libonset-detect.so.1"
    assert csv == command_line("--csv", "--sds", synthetic_archive)[0]


def test_modules_import_no_cycle_and_no_private_names():
    """Imports inside functions count too."""
    import ast
    package = PYTHON_DIR / "onset"
    imports = {}
    for path in package.glob("*.py"):
        found = imports[path.stem] = set()
        for node in ast.walk(ast.parse(path.read_text())):
            if isinstance(node, ast.ImportFrom) and node.level == 1:
                found |= {node.module} if node.module else {a.name for a in node.names}
                if node.module:
                    assert not [a.name for a in node.names if a.name.startswith("_")
                                and a.name != "__version__"], (path.name, node.module)

    def reaches(start, target, seen):
        for module in imports.get(start, ()):
            if module == target or \
                    (module not in seen and reaches(module, target, seen | {module})):
                return True
        return False
    assert [m for m in imports if reaches(m, m, {m})] == []
