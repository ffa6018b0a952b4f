"""The detection engine, libonset-detect, loaded on first use so that the
rest of the package works without it: its records and signatures as
onset_detect.h lays them out, the options from its table, and the handles
(reader, run) that raise instead of returning codes."""

import ctypes
import os
from collections.abc import Mapping
from pathlib import Path

import numpy as np

from . import _checks, location as _location, traces as _traces
from ._library import check_layout, load

_vp = ctypes.c_void_p
_cp = ctypes.c_char_p
_i32 = ctypes.c_int32
_i64 = ctypes.c_int64
_f64 = ctypes.c_double
_size = ctypes.c_size_t

INT64_MIN, INT64_MAX = -2**63, 2**63 - 1
INVALID, NO_MEMORY, RATE, IO, UNPLACED = -1, -2, -3, -5, -7
_REAL, _INT32, _UINT32 = 1, 2, 3
_FIELD_TYPES = {_REAL: _f64, _INT32: _i32, _UINT32: ctypes.c_uint32}


class OptionInfo(ctypes.Structure):
    _fields_ = [("name", _cp), ("offset", _size), ("type", _i32), ("default_value", _f64),
                ("lowest", _f64), ("highest", _f64), ("lowest_included", _i32), ("network", _i32), ("unit", _cp),
                ("help", _cp)]


class Reach(ctypes.Structure):
    _fields_ = [(name, _f64) for name in ("strength", "bandpass", "noise", "dead_time",
                                          "wave_train", "grouping", "look_back", "wait")]


class Pick(ctypes.Structure):
    _fields_ = [("channel", _i32), ("phase", _i32), ("time", _i64), ("strength", _f64),
                ("uncertainty", _f64), ("polarity", _i32)]


class Arrival(ctypes.Structure):
    _fields_ = [("residual", _f64), ("distance_km", _f64), ("azimuth", _f64), ("used", _i32),
                ("phase", _i32)]


class Origin(ctypes.Structure):
    _fields_ = [("time", _i64), ("latitude", _f64), ("longitude", _f64), ("depth_km", _f64),
                ("horizontal_uncertainty_km", _f64), ("depth_uncertainty_km", _f64),
                ("rms_residual", _f64), ("azimuthal_gap", _f64), ("phases_used", _i32),
                ("status", _i32), ("arrivals", ctypes.POINTER(Arrival))]


class Event(ctypes.Structure):
    _fields_ = [("earliest", _i64), ("stations", _i32), ("pick_count", _i32),
                ("picks", ctypes.POINTER(Pick)), ("origin", ctypes.POINTER(Origin))]


class Chunk(ctypes.Structure):
    _fields_ = [("id", _cp), ("rate", _f64), ("start", _i64),
                ("samples", ctypes.POINTER(_f64)), ("count", _size)]


class Candidate(ctypes.Structure):
    _fields_ = [("time", _i64), ("peak", _i64), ("strength", _f64), ("snr", _f64),
                ("verdict", _i32)]


# What became of a candidate that made no pick.
LOW_SNR, DEAD_TIME, CODA, WARM_UP = 1, 2, 3, 4

LAYOUTS = {
    Candidate: (40, {"time": 0, "peak": 8, "strength": 16, "snr": 24, "verdict": 32}),
    OptionInfo: (72, {"name": 0, "offset": 8, "type": 16, "default_value": 24, "lowest": 32,
                      "highest": 40, "lowest_included": 48, "network": 52, "unit": 56, "help": 64}),
    Reach: (64, {"look_back": 48, "wait": 56}),
    Pick: (40, {"channel": 0, "phase": 4, "time": 8, "strength": 16, "uncertainty": 24, "polarity": 32}),
    Event: (32, {"earliest": 0, "stations": 8, "pick_count": 12, "picks": 16, "origin": 24}),
    Origin: (80, {"time": 0, "rms_residual": 48, "phases_used": 64, "status": 68, "arrivals": 72}),
    Arrival: (32, {"residual": 0, "used": 24, "phase": 28}),
    Chunk: (40, {"id": 0, "rate": 8, "start": 16, "samples": 24, "count": 32}),
}
for _record, (_size_, _offsets) in LAYOUTS.items():
    check_layout(_record, _size_, _offsets)
# Candidates are read straight from an array of them.
CANDIDATE = np.dtype(Candidate)

_options = ctypes.c_void_p  # the option record, whose layout comes from the engine's table
_SIGNATURES = {
    "onset_detect_defaults": (None, [_options]),
    "onset_detect_version": (_cp, []),
    "onset_detect_option_count": (_size, []),
    "onset_detect_option": (ctypes.POINTER(OptionInfo), [_size]),
    "onset_detect_option_check": (ctypes.c_int, [_size, _f64, _cp, _size]),
    "onset_detect_check": (ctypes.c_int, [_options, _cp, _size]),
    "onset_detect_reach": (ctypes.c_int, [_options, _f64, ctypes.POINTER(Reach), _cp, _size]),
    "onset_reader_open": (_vp, [ctypes.POINTER(_cp), _size, _cp, _i64, _i64, _cp, _size]),
    "onset_reader_open_sds": (_vp, [_cp, _cp, _i64, _i64, _cp, _size]),
    "onset_reader_selection_problem": (ctypes.c_int, [ctypes.POINTER(_cp), _size, _cp, _cp, _i64, _i64, _cp,
                                                      _size]),
    "onset_reader_close": (None, [_vp]),
    "onset_reader_message": (_cp, [_vp]),
    "onset_reader_span": (None, [_vp, ctypes.POINTER(_i64), ctypes.POINTER(_i64)]),
    "onset_reader_next_chunk": (ctypes.c_int, [_vp, _i64, ctypes.POINTER(Chunk)]),
    "onset_reader_finish": (None, [_vp]),
    "onset_reader_next_warning": (_cp, [_vp]),
    "onset_run_create": (_vp, [_options, _vp, _f64, _cp, _size]),
    "onset_run_destroy": (None, [_vp]),
    "onset_run_message": (_cp, [_vp]),
    "onset_run_step": (ctypes.c_int, [_vp]),
    "onset_run_add_channel": (_i32, [_vp, _cp, _f64]),
    "onset_run_feed": (ctypes.c_int, [_vp, _i32, _i64, _vp, _size]),
    "onset_run_station_options": (ctypes.c_int, [_vp, _cp, _options]),
    "onset_run_locate": (ctypes.c_int, [_vp, _cp, _cp, _i32]),
    "onset_run_finish": (ctypes.c_int, [_vp]),
    "onset_run_next_event": (ctypes.c_int, [_vp, ctypes.POINTER(Event)]),
    "onset_run_next_warning": (_cp, [_vp]),
    "onset_run_channel_id": (_cp, [_vp, _i32]),
    "onset_run_verdict": (_cp, [_vp, _i32]),
    "onset_run_usable_stations": (_i32, [_vp]),
    "onset_detect_stages": (ctypes.c_int, [_options, _f64, _i64, _vp, _size, _vp, _vp, _cp,
                                           _size]),
    "onset_detect_candidates": (ctypes.c_int, [_options, _f64, _i64, _vp, _size, _vp, _vp, _vp,
                                               _size, ctypes.POINTER(_size), _cp, _size]),
}

_loaded = None


def engine():
    """libonset-detect, loaded the first time it is needed, as (library, path)."""
    global _loaded
    if _loaded is None:
        library, path = load("libonset-detect", _SIGNATURES,
                             "Build it with `make build` (it needs libmseed-dev, libfftw3-dev and libpugixml-dev), install it with"
                             " `cmake --install`, or set ONSET_LIBRARY to a libonset.so that has"
                             " libonset-detect.so beside it.")
        _loaded = library, path
    return _loaded[0]


def engine_path():
    """The file libonset-detect was loaded from."""
    engine()
    return _loaded[1]


def _message():
    return ctypes.create_string_buffer(1024)


# ---------------------------------------------------------------------------
# The options, from the engine's table


class Option:
    """One entry of the engine's table of options."""

    def __init__(self, index, info):
        self.index = index
        self.name, self.unit, self.help = (info.name.decode(), info.unit.decode(),
                                           info.help.decode())
        self.offset, self.type = info.offset, info.type
        self.kind = float if info.type == _REAL else int
        self.default, self.lowest, self.highest = info.default_value, info.lowest, info.highest
        self.network = bool(info.network)  # the same for every station

    def describe(self):
        """Its meaning, unit, range and default in one line."""
        notes = [self.unit] if self.unit else []
        if np.isfinite(self.highest):
            notes.append(f"{self.lowest:g} to {self.highest:g}" if self.kind is int
                         else f"at most {self.highest:g}")
        notes.append(f"default {self.default:g}")
        return f"{self.help} ({', '.join(notes)})"


_table = None


def option_table():
    """The engine's options by name (Option), in the order of their fields."""
    global _table
    if _table is None:
        lib = engine()
        options = [Option(i, lib.onset_detect_option(i).contents)
                   for i in range(lib.onset_detect_option_count())]
        _table = {option.name: option for option in options}
    return _table


class OptionHelp(Mapping):
    """The detector's options, as onset-detect's flags name them (fmin for
    --fmin, kurtosis_window for --kurtosis-window ...), each with its
    meaning, unit, range and default; read from the engine when first
    looked at."""

    def __getitem__(self, name):
        return option_table()[name].describe()

    def __iter__(self):
        return iter(option_table())

    def __len__(self):
        return len(option_table())

    def __repr__(self):
        return repr(dict(self))


_record_type = None


def _options_type():
    """onset_detect_options as a ctypes record laid out from the table."""
    global _record_type
    if _record_type is None:
        fields, at = [], 0
        for name, info in sorted(option_table().items(), key=lambda item: item[1].offset):
            field = _FIELD_TYPES[info.type]
            if info.offset > at:
                fields.append((f"_pad{at}", ctypes.c_ubyte * (info.offset - at)))
            fields.append((name, field))
            at = info.offset + ctypes.sizeof(field)
        _record_type = type("Options", (ctypes.Structure,), {"_fields_": fields})
        # The C record is padded to its widest field.
        size = -(-ctypes.sizeof(_record_type) // 8) * 8
        if size > ctypes.sizeof(_record_type):
            fields.append(("_tail", ctypes.c_ubyte * (size - ctypes.sizeof(_record_type))))
            _record_type = type("Options", (ctypes.Structure,), {"_fields_": fields})
    return _record_type


def option_problem(name, value):
    """What is wrong with `value` for the option `name`, in the engine's
    words ("must be above 0, got -1"), or "" when nothing is."""
    message = _message()
    if engine().onset_detect_option_check(option_table()[name].index, value, message,
                                          len(message)) == 0:
        return ""
    return f"{message.value.decode()}, got {value:g}"


def options_record(options):
    """The engine's option record: its defaults, changed by `options` (None
    keeps an option's default). TypeError for an unknown name or a value of
    the wrong type, ValueError for one out of range."""
    table = option_table()
    lib = engine()
    record = _options_type()()
    lib.onset_detect_defaults(ctypes.byref(record))
    for name, value in options.items():
        if name not in table:
            raise TypeError(f"unknown option {name!r}; the options are {', '.join(table)}")
        if value is None:
            continue
        info = table[name]
        if info.kind is int:
            value = _checks.integer(value, name, -_checks.INT32_MAX - 1, _checks.UINT32_MAX)
        else:
            value = _checks.real(value, name)
        problem = option_problem(name, value)
        if problem:
            raise ValueError(f"{name} {problem}")
        setattr(record, name, value)
    message = _message()
    if lib.onset_detect_check(ctypes.byref(record), message, len(message)) != 0:
        raise ValueError(message.value.decode())
    return record


def reach(options, rate=0.0):
    """The engine's Reach for these options at `rate` (0: any rate)."""
    result, message = Reach(), _message()
    status = engine().onset_detect_reach(ctypes.byref(options_record(options)), rate,
                                         ctypes.byref(result), message, len(message))
    if status == NO_MEMORY:
        raise MemoryError("out of memory")
    if status < 0:
        raise ValueError(message.value.decode())
    return result


def stages(segment, options):
    """The band-passed samples and the onset strength of one Segment, as the
    detector computes them (NaN where it computes none)."""
    record = options_record(options)
    filtered = np.empty_like(segment.samples)
    strength = np.empty_like(segment.samples)
    message = _message()
    status = engine().onset_detect_stages(ctypes.byref(record), segment.rate, segment.start,
                                          segment.samples.ctypes.data, segment.samples.size,
                                          filtered.ctypes.data, strength.ctypes.data,
                                          message, len(message))
    if status == NO_MEMORY:
        raise MemoryError("out of memory")
    if status < 0:
        raise ValueError(f"{segment.name}: {message.value.decode()}")
    return filtered, strength


def stages_and_candidates(segment, options):
    """stages(), and every excursion of the strength above the threshold as
    an array of CANDIDATE records in time order: its onset and peak
    (microseconds since 1970), strength, SNR and verdict ('P', 'S',
    LOW_SNR, DEAD_TIME, CODA or WARM_UP)."""
    record = options_record(options)
    filtered = np.empty_like(segment.samples)
    strength = np.empty_like(segment.samples)
    # Room for a few excursions a second; a busier trace is asked again.
    candidates = np.empty(max(64, segment.samples.size // 50), dtype=CANDIDATE)
    found = _size()
    for _ in range(2):
        message = _message()
        status = engine().onset_detect_candidates(
            ctypes.byref(record), segment.rate, segment.start, segment.samples.ctypes.data,
            segment.samples.size, filtered.ctypes.data, strength.ctypes.data,
            candidates.ctypes.data, candidates.size, ctypes.byref(found), message, len(message))
        if status == NO_MEMORY:
            raise MemoryError("out of memory")
        if status < 0:
            raise ValueError(f"{segment.name}: {message.value.decode()}")
        if found.value <= candidates.size:
            break
        candidates = np.empty(found.value, dtype=CANDIDATE)
    return filtered, strength, candidates[:found.value]


# ---------------------------------------------------------------------------
# The handles

def looks_like_sds(path):
    """A folder with a year folder (four digits) in it."""
    folder = Path(path)
    return folder.is_dir() and any(child.is_dir() and child.name.isdigit() and len(child.name) == 4
                                   for child in folder.iterdir())


def _span(start, end):
    """start and end as the reader takes them, in microseconds."""
    first = INT64_MIN if start is None else _traces.microseconds(start, "start")
    last = INT64_MAX if end is None else _traces.microseconds(end, "end")
    if first >= last:
        raise ValueError("start must be before end")
    return first, last


def _pattern(channels):
    return None if channels is None else \
        (channels if isinstance(channels, str) else ",".join(channels)).encode()


def selection_problem(root, channels=None, start=None, end=None):
    """Why `channels`, `start` and `end` leave nothing of the SDS archive
    under `root`, in onset-detect's words, or "" when they leave something
    or are not the cause."""
    message = _message()
    status = engine().onset_reader_selection_problem(None, 0, os.fsencode(root), _pattern(channels),
                                                     *_span(start, end), message, len(message))
    if status == NO_MEMORY:
        raise MemoryError("out of memory")
    return message.value.decode() if status == 1 else ""


class Reader:
    """An onset_reader handle over files and folders or an SDS archive."""

    def __init__(self, source, start, end, channels, sds):
        self.lib = engine()
        self.handle = None
        paths = [os.fspath(source)] if isinstance(source, (str, os.PathLike)) else \
            [os.fspath(p) for p in source]
        if not paths:
            raise ValueError("source: no file, folder or archive given")
        if sds is None:
            sds = len(paths) == 1 and looks_like_sds(paths[0])
        first, last = _span(start, end)
        pattern = _pattern(channels)
        message = _message()
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

    def chunks(self):
        """Every run of contiguous samples, as onset.Trace, by channel id, then
        time; then the reader's end."""
        found, chunk = [], Chunk()
        while self.check(self.lib.onset_reader_next_chunk(self.handle, INT64_MAX,
                                                          ctypes.byref(chunk))) == 1:
            samples = np.ctypeslib.as_array(chunk.samples, shape=(chunk.count,)).copy()
            found.append(_traces.Trace(chunk.id.decode(), np.datetime64(chunk.start, "us"),
                                       chunk.rate, samples))
        self.lib.onset_reader_finish(self.handle)
        return found

    def warnings(self):
        """The warning lines not taken yet."""
        lines = []
        while (line := self.lib.onset_reader_next_warning(self.handle)) is not None:
            lines.append(line.decode())
        return lines


class Run:
    """An onset_run handle: a detector driven over a Reader, chunk seconds
    of every channel at a time, or over the channels the host adds;
    `stations`: (NET.STA pattern, options) for the channels of the stations
    each matches, the last match winning; `location`: a
    onset.location.location_inputs to locate the events with, or None."""

    def __init__(self, options, reader=None, chunk=None, stations=(), location=None):
        self.lib = engine()
        self.handle = None
        record = options_record(options)
        self.min_stations = record.min_stations
        chunk = _checks.real(chunk, "chunk", positive=True) if reader else 0.0
        message = _message()
        self.handle = self.lib.onset_run_create(ctypes.byref(record),
                                                reader.handle if reader else None, chunk,
                                                message, len(message))
        if not self.handle:
            raise ValueError(message.value.decode())
        self.reader = reader
        try:
            for pattern, station_options in stations:
                self.check(self.lib.onset_run_station_options(
                    self.handle, pattern.encode(), ctypes.byref(options_record(station_options))),
                    ValueError)
            if location is not None:
                with _location.files(location) as (path, model, graded):
                    self.check(self.lib.onset_run_locate(self.handle, os.fsencode(path), os.fsencode(model),
                                                         graded), ValueError)
        except BaseException:
            self.close()
            raise

    def close(self):
        if self.handle:
            self.lib.onset_run_destroy(self.handle)
            self.handle = None

    def check(self, status, error=RuntimeError):
        if status == NO_MEMORY:
            raise MemoryError("the detector is out of memory")
        if status < 0:
            # Station metadata that place none of the channels are the
            # caller's mistake, as onset-detect's exit status 2 says.
            error = OSError if status == IO else ValueError if status == UNPLACED else error
            raise error(self.lib.onset_run_message(self.handle).decode())
        return status

    def step(self):
        """Reads and detects the next slice; False after the last."""
        return self.check(self.lib.onset_run_step(self.handle)) == 1

    def add_channel(self, trace_id, rate):
        """The channel's number, or None when the run left it out (it warns)."""
        number = self.lib.onset_run_add_channel(self.handle, trace_id.encode(), rate)
        return None if number == RATE else self.check(number)

    def feed(self, number, start, samples):
        self.check(self.lib.onset_run_feed(self.handle, number, start, samples.ctypes.data,
                                           samples.size))

    def finish(self):
        self.check(self.lib.onset_run_finish(self.handle))

    def events(self):
        """The events that became final, as (earliest, stations, [(channel,
        phase, time, strength, uncertainty, polarity), ...], origin): the
        polarity 'U', 'D' or '' where the first motion is not clear; origin
        None unless the run locates, else as onset.location.origin_arrays
        reads it."""
        found, event = [], Event()
        while self.check(self.lib.onset_run_next_event(self.handle, ctypes.byref(event))) == 1:
            picks = [(p.channel, chr(p.phase), p.time, p.strength, p.uncertainty,
                      chr(p.polarity) if p.polarity else "")
                     for p in event.picks[:event.pick_count]]
            origin = None
            if event.origin:
                o = event.origin.contents
                arrivals = [(a.residual, a.distance_km, a.azimuth, a.used, chr(a.phase))
                            for a in o.arrivals[:event.pick_count]]
                origin = (o.time, o.latitude, o.longitude, o.depth_km, o.horizontal_uncertainty_km,
                          o.depth_uncertainty_km, o.rms_residual, o.azimuthal_gap, o.phases_used, o.status,
                          arrivals)
            found.append((event.earliest, event.stations, picks, origin))
        return found

    def warnings(self):
        """The warning lines of the run and its reader not taken yet."""
        lines = []
        while (line := self.lib.onset_run_next_warning(self.handle)) is not None:
            lines.append(line.decode())
        return lines

    def ids(self):
        """The channels' ids, by number."""
        found = []
        while (name := self.lib.onset_run_channel_id(self.handle, len(found))) is not None:
            found.append(name.decode())
        return found

    def usable(self):
        """The ids of the channels whose samples could be used."""
        return [trace_id for number, trace_id in enumerate(self.ids())
                if self.lib.onset_run_verdict(self.handle, number) == b""]

    def usable_stations(self):
        return self.check(self.lib.onset_run_usable_stations(self.handle))
