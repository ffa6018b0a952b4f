"""Moving kurtosis and moving max-jump of traces."""

import ctypes

import numpy as np

from . import _checks
from ._library import TraceBatch, c_double_p, lib


def _one(function, x, window):
    trace = _checks.samples(x, "x", masked_as_nan=True)
    n = _checks.length(trace.size, "x")
    w = _checks.window(window, n, "window")
    out = np.empty(n)
    function(out.ctypes.data, trace.ctypes.data, n, w)
    return out


def _pointers(arrays):
    return (c_double_p * len(arrays))(*[ctypes.cast(a.ctypes.data, c_double_p) for a in arrays])


def _batch(function, traces, windows):
    inputs, shape = _checks.trace_list(traces, "traces", masked_as_nan=True)
    lengths = [_checks.length(t.size, f"traces[{i}]") for i, t in enumerate(inputs)]
    widths = _checks.per_trace_windows(windows, lengths, "windows")
    if shape is not None:
        matrix = np.empty(shape)
        outputs = list(matrix)
    else:
        outputs = [np.empty(n) for n in lengths]
    count = len(inputs)
    # The record only points into these; they stay referenced until the call returns.
    in_ptrs, out_ptrs = _pointers(inputs), _pointers(outputs)
    c_lengths = (ctypes.c_uint32 * count)(*lengths)
    c_windows = (ctypes.c_uint32 * count)(*widths)
    batch = TraceBatch(in_ptrs, out_ptrs, c_lengths, c_windows, count)
    function(ctypes.byref(batch))
    return matrix if shape is not None else outputs


def kurtosis(x, window):
    """Moving kurtosis of one trace.

    Output i is the kurtosis m4 / m2**2 (population moments, not reduced by
    3) of the `window` samples around sample i: x[i-h .. i+h] for an odd
    window, x[i-h+1 .. i+h] for an even one (h = window // 2), cut off at
    the ends of the trace. A window without spread gives NaN, and so does a
    window holding a NaN or an infinity; the outputs recover once it has left.

    x: 1-D array of real numbers (converted to float64 without loss); the
    masked samples of a numpy masked array count as NaN (gaps).
    window: integer, 1 <= window <= len(x).
    Returns a new float64 array of len(x) samples.

    >>> import numpy as np, onset
    >>> k = onset.kurtosis(np.array([0., 0., 0., 9., 0., 0., 0.]), 5)
    >>> round(float(k[3]), 12)   # one spike among five samples: 5 - 2 + 1/4
    3.25
    """
    return _one(lib.trace_movkurtosis, x, window)


def kurtosis_batch(traces, windows):
    """Moving kurtosis of several traces in one call, in parallel over traces.

    traces: a 2-D array (one trace per row) or a list of 1-D arrays, which
    may differ in length; masked samples count as NaN, as in kurtosis().
    windows: one integer for every trace, or a sequence with one per trace.
    Returns a 2-D array for a 2-D input, otherwise a list of arrays; each
    trace's result equals kurtosis(trace, window).

    >>> import numpy as np, onset
    >>> out = onset.kurtosis_batch([np.arange(10.), np.arange(6.)], [5, 3])
    >>> [len(o) for o in out]
    [10, 6]
    """
    return _batch(lib.movkurtosis, traces, windows)


def max_jump(x, window):
    """Moving maximum jump of one trace, signed.

    For output k the window is x[k - window//2 .. k + (window+1)//2 - 1], cut
    off at the ends of the trace; the output is the sample at the later of
    the window's first maximum and first minimum minus the sample at the
    earlier one: a rise is positive, a drop negative, a flat window 0.
    A window holding a NaN gives NaN.

    x: 1-D array of real numbers (converted to float64 without loss); the
    masked samples of a numpy masked array count as NaN (gaps).
    window: integer, 1 <= window <= len(x).
    Returns a new float64 array of len(x) samples.

    >>> import numpy as np, onset
    >>> onset.max_jump(np.array([3., 1, 4, 1, 5, 9, 2, 6]), 3).tolist()
    [-2.0, 3.0, 3.0, 4.0, 8.0, -7.0, -7.0, 4.0]
    """
    return _one(lib.trace_movmxjump, x, window)


def max_jump_batch(traces, windows):
    """Moving maximum jump of several traces in one call.

    Arguments and result as for kurtosis_batch; each trace's result equals
    max_jump(trace, window).

    >>> import numpy as np, onset
    >>> onset.max_jump_batch(np.array([[0., 2, 0], [2, 0, 2]]), 3).tolist()
    [[2.0, 2.0, -2.0], [-2.0, -2.0, 2.0]]
    """
    return _batch(lib.movjumps, traces, windows)
