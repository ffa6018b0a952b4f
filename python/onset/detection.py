"""The multi-station detector over libonset-detect: traces or miniSEED in,
events and their picks out."""

import ctypes
import os
import warnings as _warnings
from pathlib import Path

import numpy as np

from . import _checks, traces as _traces
from ._engine import NO_MEMORY, ChannelReport, Chunk, Event, Options, engine
from .result import Detection

INT64_MIN, INT64_MAX = -2**63, 2**63 - 1

#: The detector's options, as onset-detect's flags name them (fmin for
#: --fmin, kurtosis_window for --kurtosis-window ...), with their meaning.
OPTIONS = {
    "fmin": "Hz, lower edge of the band (2)",
    "fmax": "Hz, upper edge of the band, below every trace's Nyquist frequency (20)",
    "voices": "wavelet scales per octave, 1 to 32 (4)",
    "kurtosis_window": "s, width of the moving-kurtosis window (1)",
    "jump_window": "s, width of the max-jump window over the kurtosis; 0: the kurtosis window (0)",
    "threshold": "rise of the kurtosis that makes an onset (3)",
    "dead_time": "s, at most one onset per trace per dead time (2)",
    "tolerance": "s, half-width of an event's time window (2)",
    "min_stations": "distinct stations (NET.STA) an event needs (3)",
    "min_snr": "an onset counts when the mean square of the band-passed second after it is at "
               "least this many times the noise level before it (2)",
    "event_snr": "an event needs a P pick that stands out that much (5)",
}


class DetectionWarning(UserWarning):
    """A channel or file left out, or too few stations: the lines onset-detect
    prints as warnings."""


def options_record(options):
    """The engine's option record: its defaults, changed by `options`."""
    record = Options()
    engine().onset_detect_defaults(ctypes.byref(record))
    for name, value in options.items():
        if name not in OPTIONS:
            raise TypeError(f"unknown option {name!r}; the options are {', '.join(OPTIONS)}")
        if name in ("voices", "min_stations"):
            value = _checks.integer(value, name, 1, _checks.INT32_MAX)
        else:
            value = _checks.real(0.0 if value is None and name == "jump_window" else value, name)
        setattr(record, name, value)
    return record


class _Detector:
    """An onset_detector handle that raises instead of returning codes."""

    def __init__(self, record):
        message = ctypes.create_string_buffer(512)
        self.lib = engine()
        self.handle = self.lib.onset_detector_create(ctypes.byref(record), message, len(message))
        if not self.handle:
            raise ValueError(message.value.decode())
        self.events = []

    def close(self):
        if self.handle:
            self.lib.onset_detector_destroy(self.handle)
            self.handle = None

    def check(self, status):
        if status == NO_MEMORY:
            raise MemoryError("the detector is out of memory")
        if status < 0:
            raise RuntimeError(self.lib.onset_detector_message(self.handle).decode())
        return status

    def add(self, trace_id, rate):
        """The channel's number, or the detector's reason for refusing it."""
        number = self.lib.onset_detector_add_channel(self.handle, trace_id.encode(), rate)
        if number in (-1, -3):
            reason = self.lib.onset_detector_message(self.handle).decode()
            return reason[reason.find(": ") + 2:]
        return self.check(number)

    def feed(self, number, start, samples):
        self.check(self.lib.onset_detector_feed(self.handle, number, start,
                                                samples.ctypes.data, samples.size))

    def take(self):
        """Keeps the events that became final, as (earliest, stations, picks)."""
        event = Event()
        while self.check(self.lib.onset_detector_next_event(self.handle, ctypes.byref(event))) == 1:
            picks = [(p.channel, chr(p.phase), p.time, p.strength, p.uncertainty)
                     for p in event.picks[:event.pick_count]]
            self.events.append((event.earliest, event.stations, picks))

    def report(self, number):
        report = ChannelReport()
        self.check(self.lib.onset_detector_channel_report(self.handle, number, ctypes.byref(report)))
        return report


def _say(lines, said):
    for line in lines:
        _warnings.warn(line, DetectionWarning, stacklevel=3)
        said.append(line)


def _conclude(usable_stations, min_stations, said):
    if usable_stations == 0:
        raise ValueError("no usable channel in the input" +
                         "".join(f"\n  {line}" for line in said))
    if usable_stations < min_stations:
        _say([f"{usable_stations} usable station{'' if usable_stations == 1 else 's'}, fewer "
              f"than min_stations {min_stations}: no event can be found"], said)


def detect(traces, **options):
    """Finds events in traces: the engine of onset-detect, with the same
    options (see onset.OPTIONS) and the same results on the same samples.

    `traces`: ObsPy-style Trace objects (.data, .id or .stats.network/
    station/location/channel, .stats.sampling_rate, .stats.starttime as a
    datetime, numpy.datetime64 or anything with .timestamp), an iterable of
    them such as a Stream, or (id, start, rate, samples) tuples. Masked
    samples (ObsPy's merge() leaves gaps masked) and NaN are gaps. Traces of
    one channel may come in several pieces, in any order. A channel that
    cannot be used is left out with a DetectionWarning, as onset-detect
    warns about it; ValueError when none can be used. Returns a Detection.

    >>> import numpy as np, onset
    >>> rng = np.random.default_rng(3)
    >>> start = np.datetime64("2024-01-01T00:00:00", "us")
    >>> def station(name, delay):
    ...     x = rng.normal(size=6000)
    ...     onset_at = 3000 + delay
    ...     x[onset_at:onset_at + 100] += 30 * np.sin(np.arange(100) * 1.3) * np.exp(-np.arange(100) / 30)
    ...     return (f"XX.{name}..HHZ", start, 100.0, x)
    >>> result = onset.detect([station("A", 0), station("B", 20), station("C", 40)])
    >>> len(result), result.events["stations"][0]
    (1, 3)
    >>> str(result.picks["time"][0])[:19]
    '2024-01-01T00:00:30'
    """
    record = options_record(options)
    pieces = _traces.segments(traces)
    by_id = {}
    for piece in pieces:
        by_id.setdefault(piece.id, []).append(piece)
    detector = _Detector(record)
    said = []
    try:
        ids, numbers = [], {}
        for trace_id in sorted(by_id):
            group = sorted(by_id[trace_id], key=lambda p: p.start)
            rate = group[0].rate
            for piece in group[1:]:
                if abs(1.0 - piece.rate / rate) >= 1e-4:
                    raise ValueError(f"{piece.name}: sampling rate {piece.rate:g} Hz, but "
                                     f"{group[0].name} of the same channel has {rate:g} Hz")
            number = detector.add(trace_id, rate)
            if isinstance(number, str):
                _say([f"{trace_id} left out: {number}"], said)
                continue
            numbers[trace_id] = number
            ids.append(trace_id)
        for trace_id in ids:
            for piece in sorted(by_id[trace_id], key=lambda p: p.start):
                detector.feed(numbers[trace_id], piece.start, piece.samples)
        detector.check(detector.lib.onset_detector_flush(detector.handle))
        detector.take()
        usable = set()
        for trace_id in ids:
            report = detector.report(numbers[trace_id])
            if report.longest_run >= report.needed_run:
                usable.add(".".join(trace_id.split(".")[:2]))
            elif report.samples == 0:
                _say([f"{trace_id} left out: all its samples are gaps"], said)
            else:
                rate = by_id[trace_id][0].rate
                _say([f"{trace_id} left out: its longest stretch without gaps has "
                      f"{report.longest_run} samples ({report.longest_run / rate:g} s), the "
                      f"windows need {report.needed_run} ({report.needed_run / rate:g} s)"], said)
        _conclude(len(usable), record.min_stations, said)
        return Detection.from_engine(detector.events, ids, options, said)
    finally:
        detector.close()


class _Reader:
    """An onset_reader handle over files and folders or an SDS archive."""

    def __init__(self, source, start, end, channels, sds):
        self.lib = engine()
        paths = [os.fspath(source)] if isinstance(source, (str, os.PathLike)) else \
            [os.fspath(p) for p in source]
        if not paths:
            raise ValueError("source: no file, folder or archive given")
        if sds is None:
            sds = len(paths) == 1 and _looks_like_sds(paths[0])
        first = INT64_MIN if start is None else _traces.microseconds(start, "start")
        last = INT64_MAX if end is None else _traces.microseconds(end, "end")
        if first >= last:
            raise ValueError("start must be before end")
        pattern = None if channels is None else \
            (channels if isinstance(channels, str) else ",".join(channels)).encode()
        message = ctypes.create_string_buffer(1024)
        if sds:
            if len(paths) != 1:
                raise ValueError("source: an SDS archive is one folder")
            self.handle = self.lib.onset_reader_open_sds(os.fsencode(paths[0]), pattern, first, last,
                                                        message, len(message))
        else:
            # File names are bytes on disk: fsencode gives back any that are not UTF-8.
            names = (ctypes.c_char_p * len(paths))(*[os.fsencode(p) for p in paths])
            self.handle = self.lib.onset_reader_open(names, len(paths), pattern, first, last,
                                                    message, len(message))
        if not self.handle:
            text = message.value.decode()
            raise (FileNotFoundError if text.startswith("cannot") else ValueError)(text)

    def close(self):
        if self.handle:
            self.lib.onset_reader_close(self.handle)
            self.handle = None

    def check(self, status):
        if status == NO_MEMORY:
            raise MemoryError("the reader is out of memory")
        if status < 0:
            raise RuntimeError(self.lib.onset_reader_message(self.handle).decode())
        return status

    def span(self):
        begin, end = ctypes.c_int64(), ctypes.c_int64()
        self.lib.onset_reader_span(self.handle, ctypes.byref(begin), ctypes.byref(end))
        return begin.value, end.value

    def warnings(self):
        """The warning lines not taken yet."""
        lines = []
        while (line := self.lib.onset_reader_next_warning(self.handle)) is not None:
            lines.append(line.decode())
        return lines


def _looks_like_sds(path):
    """A folder with a year folder (four digits) in it."""
    folder = Path(path)
    return folder.is_dir() and any(child.is_dir() and child.name.isdigit() and len(child.name) == 4
                                   for child in folder.iterdir())


def read(source, start=None, end=None, channels=None, sds=None):
    """Reads miniSEED through the engine's reader, as onset-detect reads it.

    `source`: a file or folder (searched recursively), a list of them, or the
    root of an SDS archive (ROOT/YEAR/NET/STA/CHA.TYPE/NET.STA.LOC.CHA.TYPE.
    YEAR.DAY; a single folder with year folders in it is taken as one unless
    sds=False). `start`, `end`: the samples kept, start <= time < end (a
    datetime, numpy.datetime64, ISO 8601 string or seconds since 1970; None:
    what the input holds). `channels`: NET.STA.LOC.CHA patterns with shell
    wildcards, a comma-separated string or a list. Returns a list of
    onset.Trace, one per stretch without a gap, by channel id, then time;
    what the reader warns about comes as a DetectionWarning.
    """
    reader = _Reader(source, start, end, channels, sds)
    said = []
    try:
        found, chunk = [], Chunk()
        while reader.check(reader.lib.onset_reader_next_chunk(reader.handle, INT64_MAX,
                                                              ctypes.byref(chunk))) == 1:
            samples = np.ctypeslib.as_array(chunk.samples, shape=(chunk.count,)).copy()
            found.append(_traces.Trace(chunk.id.decode(), np.datetime64(chunk.start, "us"),
                                       chunk.rate, samples))
        reader.check(reader.lib.onset_reader_finish(reader.handle, None, None))
        _say(reader.warnings(), said)
        return found
    finally:
        reader.close()


def detect_files(source, start=None, end=None, channels=None, sds=None, chunk=3600.0, **options):
    """detect() over miniSEED files, folders or an SDS archive (`source`,
    `start`, `end`, `channels` and `sds` as for read()), read and detected a
    slice of `chunk` seconds of every channel at a time, as onset-detect
    does: memory stays bounded, and the results are the command line's.
    """
    record = options_record(options)
    chunk = chunk_microseconds(chunk)
    said = []
    found, ids, usable = run_reader(_Reader(source, start, end, channels, sds), record, chunk,
                                    lambda lines: _say(lines, said))
    _conclude(len(usable), record.min_stations, said)
    return Detection.from_engine(found, ids, options, said)


def chunk_microseconds(chunk):
    return int(round(_checks.real(chunk, "chunk", positive=True) * 1e6))


def run_reader(reader, record, chunk, say):
    """Runs a detector over what `reader` reads, `chunk` microseconds of
    every channel at a time, and closes the reader. Returns the events as
    (earliest, stations, picks), the channel ids by number and the stations
    with a usable channel; the warning lines go to say(lines)."""
    detector = None
    try:
        detector = _Detector(record)
        fed = ctypes.c_uint64()

        def slice_until(until):
            reader.check(reader.lib.onset_reader_feed(reader.handle, detector.handle, until,
                                                      ctypes.byref(fed)))
            if until != INT64_MAX:
                detector.check(detector.lib.onset_detector_advance(detector.handle, until))
            say(reader.warnings())
            detector.take()

        begin, end = reader.span()
        t = begin
        while t < end:
            slice_until(min(end, t + chunk))
            # Slices no record reaches are skipped, on the same grid.
            following = reader.lib.onset_reader_next_time(reader.handle)
            if following < end and following - t >= 2 * chunk:
                t += (following - t) // chunk * chunk - chunk
            t = end if t > end - chunk else t + chunk
        slice_until(INT64_MAX)
        detector.check(detector.lib.onset_detector_flush(detector.handle))
        detector.take()
        reader.check(reader.lib.onset_reader_finish(reader.handle, detector.handle, None))
        say(reader.warnings())
        ids = []
        while (name := reader.lib.onset_reader_channel_id(reader.handle, len(ids))) is not None:
            ids.append(name.decode())
        usable = set()
        for number, trace_id in enumerate(ids):
            report = detector.report(number)
            if report.longest_run >= report.needed_run:
                usable.add(".".join(trace_id.split(".")[:2]))
        return detector.events, ids, usable
    finally:
        if detector is not None:
            detector.close()
        reader.close()


def stages(segment, options):
    """The band-passed samples and the onset strength of one Segment, as the
    detector computes them (NaN where it computes none)."""
    record = options_record(options)
    filtered = np.empty_like(segment.samples)
    strength = np.empty_like(segment.samples)
    message = ctypes.create_string_buffer(512)
    status = engine().onset_detect_stages(ctypes.byref(record), segment.rate, segment.start,
                                          segment.samples.ctypes.data, segment.samples.size,
                                          filtered.ctypes.data, strength.ctypes.data,
                                          message, len(message))
    if status == NO_MEMORY:
        raise MemoryError("out of memory")
    if status < 0:
        raise ValueError(f"{segment.name}: {message.value.decode()}")
    return filtered, strength
