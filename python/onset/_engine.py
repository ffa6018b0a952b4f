"""The detection engine, libonset-detect: its records and signatures as
onset_detect.h lays them out, loaded on first use so that the rest of the
package works without it."""

import ctypes

from ._library import check_layout, load

_vp = ctypes.c_void_p
_cp = ctypes.c_char_p
_i32 = ctypes.c_int32
_i64 = ctypes.c_int64
_f64 = ctypes.c_double
_size = ctypes.c_size_t


class Options(ctypes.Structure):
    # A newer engine may add options at the end of its record: the spare
    # bytes keep them (at the engine's defaults) without writing past ours.
    _fields_ = [("fmin", _f64), ("fmax", _f64), ("voices", ctypes.c_uint32),
                ("kurtosis_window", _f64), ("jump_window", _f64), ("threshold", _f64),
                ("dead_time", _f64), ("tolerance", _f64), ("min_stations", _i32),
                ("min_snr", _f64), ("event_snr", _f64), ("spare", ctypes.c_ubyte * 512)]


class Pick(ctypes.Structure):
    _fields_ = [("channel", _i32), ("phase", _i32), ("time", _i64), ("strength", _f64),
                ("uncertainty", _f64)]


class Event(ctypes.Structure):
    _fields_ = [("earliest", _i64), ("stations", _i32), ("pick_count", _i32),
                ("picks", ctypes.POINTER(Pick))]


class ChannelReport(ctypes.Structure):
    _fields_ = [(name, ctypes.c_uint64) for name in
                ("samples", "missing", "overlapped", "longest_run", "needed_run", "onsets")]


class Chunk(ctypes.Structure):
    _fields_ = [("id", _cp), ("rate", _f64), ("start", _i64),
                ("samples", ctypes.POINTER(_f64)), ("count", _size)]


LAYOUTS = {
    Options: (88 + 512, {"fmin": 0, "fmax": 8, "voices": 16, "kurtosis_window": 24,
                         "jump_window": 32, "threshold": 40, "dead_time": 48, "tolerance": 56,
                         "min_stations": 64, "min_snr": 72, "event_snr": 80}),
    Pick: (32, {"channel": 0, "phase": 4, "time": 8, "strength": 16, "uncertainty": 24}),
    Event: (24, {"earliest": 0, "stations": 8, "pick_count": 12, "picks": 16}),
    ChannelReport: (48, {"samples": 0, "longest_run": 24, "onsets": 40}),
    Chunk: (40, {"id": 0, "rate": 8, "start": 16, "samples": 24, "count": 32}),
}
for _record, (_size_, _offsets) in LAYOUTS.items():
    check_layout(_record, _size_, _offsets)

NO_MEMORY = -2

_SIGNATURES = {
    "onset_detect_defaults": (None, [ctypes.POINTER(Options)]),
    "onset_detect_version": (_cp, []),
    "onset_detector_create": (_vp, [ctypes.POINTER(Options), _cp, _size]),
    "onset_detector_destroy": (None, [_vp]),
    "onset_detector_message": (_cp, [_vp]),
    "onset_detector_add_channel": (_i32, [_vp, _cp, _f64]),
    "onset_detector_feed": (ctypes.c_int, [_vp, _i32, _i64, _vp, _size]),
    "onset_detector_advance": (ctypes.c_int, [_vp, _i64]),
    "onset_detector_flush": (ctypes.c_int, [_vp]),
    "onset_detector_next_event": (ctypes.c_int, [_vp, ctypes.POINTER(Event)]),
    "onset_detector_channel_report": (ctypes.c_int, [_vp, _i32, ctypes.POINTER(ChannelReport)]),
    "onset_reader_open": (_vp, [ctypes.POINTER(_cp), _size, _cp, _i64, _i64, _cp, _size]),
    "onset_reader_open_sds": (_vp, [_cp, _cp, _i64, _i64, _cp, _size]),
    "onset_reader_close": (None, [_vp]),
    "onset_reader_message": (_cp, [_vp]),
    "onset_reader_span": (None, [_vp, ctypes.POINTER(_i64), ctypes.POINTER(_i64)]),
    "onset_reader_next_time": (_i64, [_vp]),
    "onset_reader_feed": (ctypes.c_int, [_vp, _vp, _i64, ctypes.POINTER(ctypes.c_uint64)]),
    "onset_reader_next_chunk": (ctypes.c_int, [_vp, _i64, ctypes.POINTER(Chunk)]),
    "onset_reader_finish": (ctypes.c_int, [_vp, _vp, ctypes.POINTER(_i32)]),
    "onset_reader_channel_id": (_cp, [_vp, _i32]),
    "onset_reader_next_warning": (_cp, [_vp]),
    "onset_detect_stages": (ctypes.c_int, [ctypes.POINTER(Options), _f64, _i64, _vp, _size, _vp,
                                           _vp, _cp, _size]),
}

_loaded = None


def engine():
    """libonset-detect, loaded the first time it is needed, as (library, path)."""
    global _loaded
    if _loaded is None:
        library, path = load("libonset-detect", _SIGNATURES,
                             "Build it with `make build` (it needs libmseed-dev), install it with"
                             " `cmake --install`, or set ONSET_LIBRARY to a libonset.so that has"
                             " libonset-detect.so beside it.")
        _loaded = library, path
    return _loaded[0]


def engine_path():
    """The file libonset-detect was loaded from."""
    engine()
    return _loaded[1]
