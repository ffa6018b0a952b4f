"""Traces as the detector takes them, from whatever the caller holds.

Duck typing only: an ObsPy Trace (or anything with its attributes), a
Stream or any iterable of them, and (id, start, rate, samples) tuples are
all taken; ObsPy itself is never imported.
"""

import datetime as _dt
import numbers

import numpy as np

from . import _checks

_EPOCH = _dt.datetime(1970, 1, 1, tzinfo=_dt.timezone.utc)


class Stats:
    """What ObsPy's Trace.stats holds, as far as the detector needs it."""

    def __init__(self, network, station, location, channel, sampling_rate, starttime, npts):
        self.network, self.station, self.location, self.channel = network, station, location, channel
        self.sampling_rate = sampling_rate
        self.starttime = starttime
        self.npts = npts

    @property
    def delta(self):
        return 1.0 / self.sampling_rate

    @property
    def endtime(self):
        """The last sample's time."""
        return self.starttime + np.timedelta64(
            int(round((self.npts - 1) * 1e6 / self.sampling_rate)), "us")

    def __repr__(self):
        return (f"Stats({self.network}.{self.station}.{self.location}.{self.channel}, "
                f"{self.sampling_rate:g} Hz, {self.starttime}, {self.npts} samples)")


class Trace:
    """One channel's samples without a gap, with ObsPy's Trace attributes:
    .data (float64 samples), .id (NET.STA.LOC.CHA) and .stats (network,
    station, location, channel, sampling_rate, delta, npts, starttime and
    endtime as numpy.datetime64 in microseconds)."""

    def __init__(self, id, starttime, sampling_rate, data):
        codes = (str(id).split(".") + ["", "", "", ""])[:4]
        self.data = data
        self.stats = Stats(*codes, float(sampling_rate), np.datetime64(starttime, "us"), len(data))

    @property
    def id(self):
        s = self.stats
        return f"{s.network}.{s.station}.{s.location}.{s.channel}"

    def times(self):
        """The samples' times, numpy.datetime64 in microseconds."""
        return time_grid(microseconds(self.stats.starttime, "starttime"),
                         self.stats.sampling_rate, len(self.data))

    def __len__(self):
        return len(self.data)

    def __repr__(self):
        return f"Trace({self.id}, {self.stats.sampling_rate:g} Hz, {self.stats.starttime}, {len(self)} samples)"


def time_grid(start, rate, count):
    """Times of `count` samples from `start` (microseconds), as the engine
    places them, as datetime64[us]."""
    # Half away from zero, as the engine's llround.
    offsets = np.floor(np.arange(count, dtype=np.float64) * 1e6 / rate + 0.5).astype(np.int64)
    return (start + offsets).astype("datetime64[us]")


def microseconds(value, name):
    """A time as microseconds since 1970: a datetime (naive means UTC), a
    numpy.datetime64, an ISO 8601 string, anything with .timestamp (ObsPy's
    UTCDateTime) or a number of seconds since 1970."""
    if isinstance(value, _dt.datetime):
        if value.tzinfo is None:
            value = value.replace(tzinfo=_dt.timezone.utc)
        delta = value - _EPOCH
        return (delta.days * 86400 + delta.seconds) * 1_000_000 + delta.microseconds
    if isinstance(value, (np.datetime64, str)):
        try:
            stamp = np.datetime64(value.rstrip("Z") if isinstance(value, str) else value, "us")
        except ValueError:
            raise ValueError(f"{name}: {value!r} is not a time such as 2024-03-01T12:00:00Z") from None
        if np.isnat(stamp):
            raise ValueError(f"{name} is not a time (NaT)")
        return int(stamp.astype(np.int64))
    stamp = getattr(value, "timestamp", None)
    if stamp is not None and not callable(stamp):
        value = stamp
    if isinstance(value, numbers.Real) and not isinstance(value, (bool, np.bool_)):
        seconds = float(value)
        if not np.isfinite(seconds):
            raise ValueError(f"{name} must be a finite time, got {seconds}")
        return int(round(seconds * 1e6))
    raise TypeError(f"{name} must be a datetime, numpy.datetime64, ISO 8601 string or "
                    f"seconds since 1970, not {type(value).__name__}")


class Segment:
    """A trace as the detector feeds it: id, start (microseconds), rate and
    float64 samples (NaN at gaps), and where it came from for messages."""

    __slots__ = ("id", "start", "rate", "samples", "name")

    def __init__(self, id, start, rate, samples, name):
        self.id, self.start, self.rate, self.samples, self.name = id, start, rate, samples, name


def _trace_id(trace, name):
    own = getattr(trace, "id", None)
    if isinstance(own, str) and own:
        return own
    stats = getattr(trace, "stats", None)
    try:
        codes = [getattr(stats, part) for part in ("network", "station", "location", "channel")]
    except AttributeError:
        raise TypeError(f"{name} has neither an .id nor .stats.network/station/location/"
                        f"channel") from None
    return ".".join("" if code is None else str(code) for code in codes)


def _segment(item, name):
    if isinstance(item, tuple):
        if len(item) != 4:
            raise TypeError(f"{name} must be an (id, start, rate, samples) tuple, "
                            f"got {len(item)} items")
        trace_id, start, rate, data = item
        if not isinstance(trace_id, str) or not trace_id:
            raise TypeError(f"{name}: the id must be a non-empty NET.STA.LOC.CHA string")
    elif hasattr(item, "data") and hasattr(item, "stats"):
        trace_id, data = _trace_id(item, name), item.data
        stats = item.stats
        start, rate = getattr(stats, "starttime", None), getattr(stats, "sampling_rate", None)
        if start is None or rate is None:
            raise TypeError(f"{name}.stats needs starttime and sampling_rate")
    else:
        raise TypeError(f"{name} must be a Trace-like object (.data, .stats) or an "
                        f"(id, start, rate, samples) tuple, not {type(item).__name__}")
    label = f"{name} ({trace_id})"
    rate = _checks.real(rate, f"{label}: the sampling rate", positive=True)
    samples = _checks.samples(data, f"{label}: the samples", masked_as_nan=True)
    return Segment(trace_id, microseconds(start, f"{label}: the start time"), rate, samples, label)


def segments(traces, name="traces"):
    """The traces as a list of Segments, in the order given."""
    if isinstance(traces, tuple) and len(traces) == 4 and isinstance(traces[0], str):
        traces = [traces]
    elif hasattr(traces, "data") and hasattr(traces, "stats"):
        traces = [traces]
    elif isinstance(traces, (str, bytes, np.ndarray)) or not hasattr(traces, "__iter__"):
        raise TypeError(f"{name} must be a Trace-like object, an iterable of them (a Stream) "
                        f"or of (id, start, rate, samples) tuples, not {type(traces).__name__}")
    return [_segment(item, f"{name}[{i}]") for i, item in enumerate(traces)]
