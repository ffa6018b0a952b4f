"""A settings file (TOML), the one onset-detect reads with --config: the
detector's options by their names (threshold = 4), channels and chunk at
the top, and a table per station pattern of options for the channels of the
stations it matches (NET.STA, shell wildcards; where several match, the
last in the file wins):

    threshold = 4
    channels = "XX.*..HHZ"

    [stations."XX.S0*"]
    threshold = 6
    fmin = 3

The options of the whole network (tolerance, min_stations) cannot be set
per station. Keywords given beside a file override its top-level values; a
station's table still applies on top of them, being more specific. channels
and chunk serve the hosts that read miniSEED (onset.detect_files,
onset.distributed.detect_archive); onset.detect and onset.Detector take the
traces they are given.
"""

import tomllib

from . import _checks
from ._engine import option_problem, option_table, options_record

class Config:
    """A settings file, read and checked: .options (the detector's options
    at the top), .channels and .chunk (None when not given) and .stations,
    [(pattern, options), ...] in the order of the file. ValueError naming
    the file, the table and the key for an unknown key, a value of the
    wrong type or out of range, or an option of the network in a station's
    table; OSError when the file cannot be read."""

    def __init__(self, path):
        self.path = str(path)
        try:
            with open(path, "rb") as file:
                content = tomllib.load(file)
        except tomllib.TOMLDecodeError as error:
            raise ValueError(f"{self.path}: {error}") from None
        except OSError as error:
            raise OSError(f"cannot read '{self.path}': {error.strerror}") from None
        table = option_table()
        self.options, self.stations = {}, []
        self.channels = self.chunk = None
        for key, value in content.items():
            if key == "stations":
                if not isinstance(value, dict):
                    self._fail(key, 'must hold tables [stations."NET.STA"]')
                self.stations = [(pattern, self._station(pattern, options))
                                 for pattern, options in value.items()]
            elif key == "channels":
                if not isinstance(value, str):
                    self._fail(key, "must be a string of NET.STA.LOC.CHA patterns")
                self.channels = value
            elif key == "chunk":
                try:
                    self.chunk = _checks.real(self._number(key, value), key, positive=True)
                except ValueError as error:
                    raise ValueError(f"{self.path}: {error}") from None
            elif key in table:
                self.options[key] = self._option(key, value)
            else:
                self._fail(key, "unknown key; the file takes the detector's options by their "
                                "names (fmin, kurtosis_window ...), channels, chunk and "
                                '[stations."NET.STA"] tables')

    def _fail(self, label, problem):
        raise ValueError(f"{self.path}: {label}: {problem}")

    def _number(self, label, value):
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            self._fail(label, f"must be a number, got {type(value).__name__} {value!r}")
        return value

    def _option(self, name, value, label=None):
        label = label or name
        value = self._number(label, value)
        problem = option_problem(name, value)
        if problem:
            self._fail(label, problem)
        return int(value) if option_table()[name].kind is int else float(value)

    def _station(self, pattern, options):
        section = f'[stations."{pattern}"]'
        if not isinstance(options, dict):
            self._fail(section, "must be a table of options")
        table = option_table()
        for name, value in options.items():
            label = f"{section} {name}"
            if name not in table:
                self._fail(label, 'not an option of a station (a pattern with dots is quoted, '
                                  '[stations."XX.S01"])')
            if table[name].network:
                self._fail(label, "an option of the whole network, the same for every station: set "
                                  "it at the top of the file")
            options[name] = self._option(name, value, label)
        return options

    def merged(self, options):
        """The top-level options with the keywords `options` over them, and
        each station's over those: (options, [(pattern, options), ...]).
        ValueError naming the table where the whole does not fit."""
        top = {**self.options, **{k: v for k, v in options.items() if v is not None}}
        stations = []
        for pattern, overrides in self.stations:
            station = {**top, **overrides}
            try:
                options_record(station)
            except ValueError as error:
                raise ValueError(f'{self.path}: [stations."{pattern}"]: {error}') from None
            stations.append((pattern, station))
        return top, stations


def settings(config, options):
    """(options, stations, channels, chunk) of a settings file and the
    keywords over it; without a file the keywords alone and no station."""
    if config is None:
        return options, [], None, None
    read = Config(config)
    top, stations = read.merged(options)
    return top, stations, read.channels, read.chunk
