"""Finding and loading libonset (and the engine beside it), and the C records and signatures."""

import ctypes
import os
from pathlib import Path

from ._version import __version__

_PACKAGE_DIR = Path(__file__).resolve().parent
# The library's SONAME carries its major version; a package that knows no
# version (see _version.py) asks for the development link instead.
_MAJOR = __version__.split(".")[0]


def _soname(stem):
    return f"{stem}.so.{_MAJOR}" if _MAJOR.isdigit() else f"{stem}.so"


_SONAME = _soname("libonset")


class LibraryNotFoundError(ImportError):
    """libonset (or libonset-detect) could not be loaded from any of the places searched."""


def _candidates(stem="libonset"):
    """The places searched for lib<stem>.so, in order, as (description, path or name).

    ONSET_LIBRARY names libonset or its folder; the engine, libonset-detect,
    is then looked for beside it."""
    places = []
    explicit = os.environ.get("ONSET_LIBRARY")
    if explicit:
        path = Path(explicit)
        if stem != "libonset" and not path.is_dir():
            path = path.parent
        places.append(("$ONSET_LIBRARY", path / f"{stem}.so" if path.is_dir() else path))
        # A library named explicitly is the one to use; looking further
        # would hide a wrong setting.
        return places
    soname = _soname(stem)
    for name in (f"{stem}.so", soname):
        places.append(("next to the package", _PACKAGE_DIR / name))
    # A source checkout: python/onset/../../build is the default build folder.
    places.append(("the source checkout's build folder",
                   _PACKAGE_DIR.parent.parent / "build" / f"{stem}.so"))
    # An installation prefix that holds both the package, in
    # PREFIX/lib/pythonX.Y/site-packages (Debian: PREFIX/local/lib/pythonX.Y/
    # dist-packages), and the library, in PREFIX/lib.
    for parent in _PACKAGE_DIR.parents:
        if parent.name.startswith("python3") and parent.parent.name in ("lib", "lib64"):
            libdir = parent.parent
            places.append(("the installation prefix", libdir / soname))
            if libdir.parent.name == "local":
                places.append(("the installation prefix",
                               libdir.parent.parent / libdir.name / soname))
            break
    # The system's loader: LD_LIBRARY_PATH, the ld.so cache, /usr/lib ...
    places.append(("the system loader's path", soname))
    return places


def load(stem, functions, advice):
    """The first library lib<stem>.so found that has every function named,
    as (library, path), each function given its (restype, argtypes) from
    `functions`; LibraryNotFoundError naming every place otherwise."""
    tried = []
    for where, path in _candidates(stem):
        if isinstance(path, Path) and not path.exists():
            tried.append(f"  {where}: {path} (no such file)")
            continue
        try:
            library = ctypes.CDLL(str(path))
        except OSError as error:
            tried.append(f"  {where}: {path} ({error})")
            continue
        # Some other library under that name (or a wrong ONSET_LIBRARY) is
        # passed over like a missing one.
        missing = [name for name in functions if not hasattr(library, name)]
        if missing:
            tried.append(f"  {where}: {path} (not {stem}: it lacks {', '.join(missing[:3])}"
                         f"{' ...' if len(missing) > 3 else ''})")
            continue
        for name, (restype, argtypes) in functions.items():
            function = getattr(library, name)
            function.restype = restype
            function.argtypes = argtypes
        return library, str(path)
    raise LibraryNotFoundError(f"cannot load {stem}; looked in:\n" + "\n".join(tried) + "\n" + advice)


# ---------------------------------------------------------------------------
# Records, laid out as in onset.h.

c_double_p = ctypes.POINTER(ctypes.c_double)
c_uint32_p = ctypes.POINTER(ctypes.c_uint32)
c_int32_p = ctypes.POINTER(ctypes.c_int32)
c_uint8_p = ctypes.POINTER(ctypes.c_uint8)


class TraceBatch(ctypes.Structure):
    _fields_ = [("inputs", ctypes.POINTER(c_double_p)),
                ("outputs", ctypes.POINTER(c_double_p)),
                ("lengths", c_uint32_p),
                ("windows", c_uint32_p),
                ("count", ctypes.c_uint32)]


class WaveletFamily(ctypes.Structure):
    _fields_ = [("wavelets", ctypes.POINTER(c_double_p)),
                ("scales", c_double_p),
                ("lengths", c_uint32_p),
                ("centers", c_int32_p),
                ("steps", c_uint32_p),
                ("wavelet_constant", ctypes.c_double),
                ("wavelet_parameter", ctypes.c_double),
                ("count", ctypes.c_uint32)]


class WaveletDecomposition(ctypes.Structure):
    _fields_ = [("coefficients", ctypes.POINTER(c_double_p)),
                ("lengths", c_uint32_p),
                ("count", ctypes.c_uint32)]


class Pick(ctypes.Structure):
    _fields_ = [("host_head", ctypes.c_ubyte * 24),
                ("time", ctypes.c_double),
                ("host_tail", ctypes.c_ubyte * 32)]


class CaptureSet(ctypes.Structure):
    _fields_ = [("members", ctypes.POINTER(ctypes.c_void_p)),
                ("traces", c_int32_p),
                ("sizes", c_int32_p),
                ("count", ctypes.c_int32)]


# ---------------------------------------------------------------------------
# Signatures. Arrays are passed as addresses (c_void_p), records by pointer.

_vp = ctypes.c_void_p
_u32 = ctypes.c_uint32
_i32 = ctypes.c_int32
_f64 = ctypes.c_double

_SIGNATURES = {
    "trace_movkurtosis": (None, [_vp, _vp, _u32, _u32]),
    "movkurtosis": (None, [ctypes.POINTER(TraceBatch)]),
    "trace_movmxjump": (None, [_vp, _vp, _u32, _u32]),
    "movjumps": (None, [ctypes.POINTER(TraceBatch)]),
    "setscales0": (None, [_vp, _u32, _u32, _f64, _f64]),
    "setwaveletlength0": (_u32, [_vp, _vp, _u32, _u32]),
    "setsampling0": (None, [_vp, _u32, _i32, _u32, _u32, _f64, _f64, _f64]),
    "MexicanHatFun_real": (None, [_vp, _vp, _u32, _f64, _f64]),
    "FillWaveletFamily": (None, [ctypes.POINTER(WaveletFamily)]),
    "cdotx_dd": (None, [_vp, _vp, _u32, _vp, _u32, _i32, _u32]),
    "real_1D_wavelet_dec": (_i32, [ctypes.POINTER(WaveletDecomposition), _vp, _u32,
                                   ctypes.POINTER(WaveletFamily)]),
    "captures": (_i32, [ctypes.POINTER(CaptureSet), _vp, _vp, _vp, _vp]),
    "wipe_auxiliaries": (None, [_vp, _vp, _i32]),
    "wipe_idx_buffers": (None, [_vp, _i32]),
}

# ---------------------------------------------------------------------------
# Loading: the first place that holds a library with every function above.

lib, path = load("libonset", _SIGNATURES,
                 "Build it with `make build`, install it with `cmake --install`, or set"
                 " ONSET_LIBRARY to the path of libonset.so.")

# ---------------------------------------------------------------------------
# The layouts onset.h fixes (64-bit pointers): size and field offsets of
# every record. A mismatch would hand the library misplaced fields, so it
# stops the import, under python -O too.

RECORD_LAYOUTS = {
    TraceBatch: (40, {"inputs": 0, "outputs": 8, "lengths": 16, "windows": 24, "count": 32}),
    WaveletFamily: (64, {"wavelets": 0, "scales": 8, "lengths": 16, "centers": 24, "steps": 32,
                         "wavelet_constant": 40, "wavelet_parameter": 48, "count": 56}),
    WaveletDecomposition: (24, {"coefficients": 0, "lengths": 8, "count": 16}),
    Pick: (64, {"host_head": 0, "time": 24, "host_tail": 32}),
    CaptureSet: (32, {"members": 0, "traces": 8, "sizes": 16, "count": 24}),
}


def check_layout(record, size, offsets):
    """Raises ImportError unless `record` has this size and these field offsets."""
    actual = {name: getattr(record, name).offset for name in offsets}
    if ctypes.sizeof(record) != size or actual != offsets:
        raise ImportError(f"{record.__name__} is laid out as {ctypes.sizeof(record)} bytes with "
                          f"offsets {actual}; onset.h lays it out as {size} bytes with {offsets}")


for _record, (_size, _offsets) in RECORD_LAYOUTS.items():
    check_layout(_record, _size, _offsets)
