"""Grouping events of several traces into captures."""

import ctypes
from collections import namedtuple

import numpy as np

from . import _checks
from ._library import CaptureSet, Pick, lib

# The host's 64-byte event record; the library reads only `time`.
PICK_DTYPE = np.dtype([("head", "V24"), ("time", "<f8"), ("tail", "V32")])
# Arrays of it are handed to the library as arrays of Pick: a mismatch stops
# the import, under python -O too.
if PICK_DTYPE.itemsize != ctypes.sizeof(Pick) or PICK_DTYPE.fields["time"][1] != Pick.time.offset:
    raise ImportError(f"PICK_DTYPE ({PICK_DTYPE.itemsize} bytes, time at "
                      f"{PICK_DTYPE.fields['time'][1]}) does not match the library's Pick "
                      f"({ctypes.sizeof(Pick)} bytes, time at {Pick.time.offset})")

Captures = namedtuple("Captures", ["groups", "taken"])
Captures.__doc__ = """Result of captures(): `groups` is a list of captures, each a list
of (trace, event index) pairs, seed first, then at most one member per later
trace in ascending trace order; `taken` holds one boolean array per trace,
the flags after the call (every event is taken)."""


def _flags(taken, counts):
    if taken is None:
        return [np.zeros(n, dtype=np.uint8) for n in counts]
    if isinstance(taken, (str, bytes)) or not hasattr(taken, "__len__"):
        raise TypeError("taken must be a sequence with one array of flags per trace")
    if len(taken) != len(counts):
        raise ValueError(f"taken must have one entry per trace: {len(counts)} traces, "
                         f"{len(taken)} entries")
    flags = []
    for i, (t, n) in enumerate(zip(taken, counts)):
        array = np.asarray(t)
        if array.dtype.kind not in "biu":
            raise TypeError(f"taken[{i}] must hold booleans or integers, not {array.dtype}")
        if array.shape != (n,):
            raise ValueError(f"taken[{i}] must hold one flag per event of trace {i} "
                             f"({n}), got shape {array.shape}")
        flags.append((array != 0).astype(np.uint8))  # a fresh array: the caller's stays
    return flags


def captures(times, tolerances, taken=None):
    """Groups events of several traces whose times agree into captures.

    Trace by trace, and within a trace in index order, every event that is
    still free seeds a capture; the capture takes from every later trace at
    most one free event within the seed trace's tolerance of the seed's
    time: of the run of free events from the first one in the window on,
    whose distances from the seed do not exceed that first one's, the last.
    Every event ends up in exactly one capture, as seed or member; events
    taken on entry stay out of all of them.

    times: sequence of 1-D arrays, the event times of each trace, finite and
    in ascending order (equal times allowed); anything else is a ValueError
    naming the trace. They are not sorted for you: event indices in the
    result are positions in the arrays as given.
    tolerances: one number for every trace, or one per trace; >= 0, +inf
    allowed (matches any time), NaN refused.
    taken: None (all events free) or one array of booleans/integers per trace
    (non-zero: taken). Not modified: the updated flags are returned.
    Returns Captures(groups, taken).

    >>> import onset
    >>> result = onset.captures([[10.0], [10.25], [9.5, 30.0]], 0.5)
    >>> result.groups
    [[(0, 0), (1, 0), (2, 0)], [(2, 1)]]
    >>> [t.tolist() for t in result.taken]
    [[True], [True], [True, True]]
    """
    if isinstance(times, (str, bytes)) or not hasattr(times, "__len__"):
        raise TypeError("times must be a sequence with one array of event times per trace")
    count = _checks.integer(len(times), "the number of traces", 0, _checks.INT32_MAX)
    picks = []
    for i, t in enumerate(times):
        array = _checks.samples(t, f"times[{i}]")
        if array.size > _checks.INT32_MAX:
            raise ValueError(f"times[{i}] has too many events: {array.size}")
        # The grouping walks each trace's events in time order: times that
        # are not finite or not ascending are refused, not sorted, so that
        # event indices stay the caller's.
        if not np.isfinite(array).all():
            k = int(np.flatnonzero(~np.isfinite(array))[0])
            raise ValueError(f"times[{i}] must hold finite times: times[{i}][{k}] is {array[k]}")
        if (np.diff(array) < 0).any():
            k = int(np.flatnonzero(np.diff(array) < 0)[0]) + 1
            raise ValueError(f"times[{i}] must be in ascending order: times[{i}][{k}] = "
                             f"{array[k]} comes after {array[k - 1]}")
        records = np.zeros(array.size, dtype=PICK_DTYPE)
        records["time"] = array
        picks.append(records)
    counts = [p.size for p in picks]

    if np.ndim(tolerances) == 0:
        tolerances = [tolerances] * count
    elif len(tolerances) != count:
        raise ValueError(f"tolerances must have one entry per trace: {count} traces, "
                         f"{len(tolerances)} tolerances")
    tol = np.array([_checks.real(t, f"tolerances[{i}]", allow_inf=True)
                    for i, t in enumerate(tolerances)], dtype=np.float64)
    if (tol < 0).any():
        i = int(np.flatnonzero(tol < 0)[0])
        raise ValueError(f"tolerances[{i}] must not be negative, got {tol[i]}")
    flags = _flags(taken, counts)

    # Capacity: one capture at most per event free on entry.
    capacity = max(1, sum(int(n - f.sum(dtype=np.int64)) for n, f in zip(counts, flags)))
    members = np.zeros(capacity * max(count, 1), dtype=np.uintp)
    traces = np.zeros(capacity * max(count, 1), dtype=np.int32)
    sizes = np.zeros(capacity, dtype=np.int32)
    record = CaptureSet(ctypes.cast(members.ctypes.data, ctypes.POINTER(ctypes.c_void_p)),
                        ctypes.cast(traces.ctypes.data, ctypes.POINTER(ctypes.c_int32)),
                        ctypes.cast(sizes.ctypes.data, ctypes.POINTER(ctypes.c_int32)), count)
    c_picks = (ctypes.c_void_p * max(count, 1))(*[p.ctypes.data for p in picks])
    c_taken = (ctypes.c_void_p * max(count, 1))(*[f.ctypes.data for f in flags])
    c_counts = np.array(counts, dtype=np.int32)
    found = lib.captures(ctypes.byref(record), c_picks, c_counts.ctypes.data,
                         tol.ctypes.data, c_taken)
    if found < 0:
        raise MemoryError(f"captures could not get working storage for {count} traces")

    bases = [p.ctypes.data for p in picks]
    groups = []
    for g in range(found):
        block = slice(g * count, g * count + int(sizes[g]))
        groups.append([(int(i), (int(address) - bases[i]) // PICK_DTYPE.itemsize)
                       for i, address in zip(traces[block], members[block])])
    return Captures(groups, [f.astype(bool) for f in flags])
