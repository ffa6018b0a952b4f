"""onset: seismic event detection on numpy arrays and miniSEED: the
multi-station detector of onset-detect, and its building blocks
(characteristic functions, a wavelet filter bank, cross-trace grouping).

A thin binding over libonset (a C library) through ctypes. Every function
checks its arguments and raises ValueError or TypeError naming the one that
is wrong before the library sees anything; inputs are read as contiguous
float64 without loss of precision (complex, boolean and object arrays are
refused) and are never modified; results are new arrays.

The detector (libonset-detect, loaded on first use):
    detect(traces, **options): ObsPy-style traces, Streams or
        (id, start, rate, samples) tuples in, a Detection out
    detect_files(source, start=, end=, channels=, **options): miniSEED
        files, folders or an SDS archive, read as onset-detect reads them
    Detector(**options): the same, fed piece by piece as data come:
        .feed(traces), .events() (those final so far), .flush() (the rest)
    read(source, start=, end=, channels=): the same files as onset.Trace
    Detection: .events, .picks (times as datetime64[us]), .to_csv,
        .to_quakeml, .to_nlloc, .to_pandas, .plot(traces, path=)
    OPTIONS: the options and their meaning; DetectionWarning
    python3 -m onset plot --csv events.csv FILES...: the picture of a run
An SDS archive in time blocks on a Dask cluster (onset.distributed):
    distributed.detect_archive(root, start=, end=, channels=, client=,
        block="1D", **options): the events of one run over the span
    python3 -m onset detect-archive ROOT --scheduler ADDRESS: the same
Characteristic functions, one trace or a batch (parallel over traces):
    kurtosis(x, window), kurtosis_batch(traces, windows)
    max_jump(x, window), max_jump_batch(traces, windows)
Wavelet filter bank:
    FilterBank(count, voices, first_scale, base, max_length=, fraction=)
    FilterBank.decompose(trace); cdotx(signal, filter, center, step)
Capture grouping:
    captures(times, tolerances, taken=None)

The library is loaded on import from, in order: the file named by the
environment variable ONSET_LIBRARY (and nothing else when it is set); a
libonset.so next to this package; the build folder of the source checkout
(python/onset/../../build); the lib folder of the installation prefix that
holds the package (pip install --prefix P next to cmake --install --prefix
P); the system loader's path (LD_LIBRARY_PATH, ld.so.cache, /usr/lib).
`onset.library_path` tells which file was loaded. OpenMP threads follow
OMP_NUM_THREADS, read when the library is loaded; results do not depend
on it.

>>> import numpy as np, onset
>>> trace = np.random.default_rng(1).normal(size=2000)
>>> trace[1200] += 40.0
>>> peak = int(np.argmax(onset.kurtosis(trace, 101)))
>>> 1150 <= peak <= 1250   # within a window of the arrival
True
"""

from ._library import LibraryNotFoundError, path as library_path
from ._version import __version__
from .characteristic import kurtosis, kurtosis_batch, max_jump, max_jump_batch
from .detection import OPTIONS, detect, detect_files, read
from .detector import DetectionWarning, Detector
from .result import Detection
from . import distributed
from .traces import Trace
from .filterbank import DecompositionError, FilterBank, cdotx
from .grouping import PICK_DTYPE, Captures, captures

__all__ = ["detect", "Detector", "detect_files", "read", "Detection", "distributed", "Trace",
           "DetectionWarning", "OPTIONS", "kurtosis", "kurtosis_batch", "max_jump",
           "max_jump_batch", "FilterBank", "DecompositionError", "cdotx", "captures", "Captures",
           "PICK_DTYPE", "LibraryNotFoundError", "library_path"]
