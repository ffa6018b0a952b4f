"""Argument checking and conversion: the library checks nothing itself."""

import numbers
import operator

import numpy as np

UINT32_MAX = 2**32 - 1
INT32_MAX = 2**31 - 1


def integer(value, name, low, high):
    """`value` as a Python int within [low, high], else TypeError/ValueError."""
    try:
        if isinstance(value, (bool, np.bool_)):
            raise TypeError
        value = operator.index(value)
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if not low <= value <= high:
        raise ValueError(f"{name} must be between {low} and {high}, got {value}")
    return value


def real(value, name, *, positive=False, allow_inf=False):
    """`value` as a Python float, finite (or +-inf when allowed); NaN never."""
    if isinstance(value, (bool, np.bool_, complex, np.complexfloating)) or \
            not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be a real number, not {type(value).__name__}")
    value = float(value)
    if np.isnan(value) or (np.isinf(value) and not allow_inf):
        raise ValueError(f"{name} must be finite, got {value}")
    if positive and not value > 0:
        raise ValueError(f"{name} must be positive, got {value}")
    return value


def samples(values, name, ndim=1, masked_as_nan=False):
    """A C-contiguous float64 array with the values of `values`, exactly.

    float64 arrays that are already contiguous are returned as they are (the
    library only reads them). Other real dtypes are converted when every
    value is kept exactly: float16/32 and integers up to 32 bits always,
    64-bit integers and long doubles only when each value survives the trip.
    Complex, boolean, object and string data are refused.

    A numpy masked array's masked samples are gaps, never the values stored
    under the mask: with masked_as_nan they become NaN (in a copy), otherwise
    they are refused.
    """
    mask = np.ma.getmaskarray(values) if isinstance(values, np.ma.MaskedArray) else None
    if mask is not None and not mask.any():
        mask = None
    if mask is not None and not masked_as_nan:
        raise ValueError(f"{name} has {int(mask.sum())} masked samples; fill them first "
                         f"(numpy.ma.filled)")
    data = np.ma.getdata(values)
    if mask is None:
        return _exact_float64(data, name, ndim)
    # Whatever lies under the mask is not a sample: it is neither converted
    # nor checked, and the caller's array is left as it is.
    gaps = _exact_float64(np.where(mask, 0, data), name, ndim)
    gaps[mask] = np.nan
    return gaps


def _exact_float64(values, name, ndim):
    array = np.asarray(values)
    kind = array.dtype.kind
    if kind not in "fiu":
        what = {"c": "complex", "b": "boolean", "O": "object", "U": "string",
                "S": "bytes"}.get(kind, str(array.dtype))
        raise TypeError(f"{name} must hold real numbers, not {what} values")
    if array.ndim != ndim:
        raise ValueError(f"{name} must be a {ndim}-D array, got {array.ndim}-D "
                         f"with shape {array.shape}")
    converted = np.ascontiguousarray(array, dtype=np.float64)
    exact = kind == "f" and array.dtype.itemsize <= 8 or \
        kind in "iu" and array.dtype.itemsize <= 4
    if not exact:
        with np.errstate(invalid="ignore", over="ignore"):
            back = converted.astype(array.dtype)
        if not np.array_equal(back, array, equal_nan=(kind == "f")):
            raise ValueError(f"{name} holds values that float64 cannot represent "
                             f"exactly (dtype {array.dtype})")
    return converted


def length(n, name):
    """A trace length as the library's unsigned 32-bit count."""
    if n > UINT32_MAX:
        raise ValueError(f"{name} is too long: {n} samples, at most {UINT32_MAX}")
    return n


def trace_list(traces, name, masked_as_nan=False):
    """A 2-D array or a sequence of 1-D arrays as a list of float64 traces.

    Returns (list of contiguous 1-D arrays, shape of a 2-D input or None).
    Masked samples as in samples().
    """
    if isinstance(traces, np.ndarray) and traces.dtype.kind != "O":
        if traces.ndim != 2:
            raise ValueError(f"{name} must be a 2-D array or a list of 1-D arrays, "
                             f"got a {traces.ndim}-D array")
        matrix = samples(traces, name, ndim=2, masked_as_nan=masked_as_nan)
        return list(matrix), matrix.shape
    if isinstance(traces, (str, bytes)) or not hasattr(traces, "__len__"):
        raise TypeError(f"{name} must be a 2-D array or a list of 1-D arrays, "
                        f"not {type(traces).__name__}")
    return [samples(t, f"{name}[{i}]", masked_as_nan=masked_as_nan)
            for i, t in enumerate(traces)], None


def per_trace_windows(windows, lengths, name):
    """One window per trace from an integer or a sequence of integers."""
    count = len(lengths)
    if isinstance(windows, numbers.Integral) or \
            (isinstance(windows, np.ndarray) and windows.ndim == 0):
        windows = [windows] * count
    elif isinstance(windows, (str, bytes)) or not hasattr(windows, "__len__"):
        raise TypeError(f"{name} must be an integer or a sequence of integers")
    if len(windows) != count:
        raise ValueError(f"{name} must have one entry per trace: {count} traces, "
                         f"{len(windows)} windows")
    return [window(w, n, f"{name}[{i}]") for i, (w, n) in enumerate(zip(windows, lengths))]


def window(w, n, name):
    """A window width between 1 and the trace length n."""
    w = integer(w, name, 1, UINT32_MAX)
    if w > n:
        raise ValueError(f"{name} must not exceed the trace length {n}, got {w}")
    return w
