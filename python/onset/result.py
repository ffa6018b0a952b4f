"""What the detector found: events and picks as numpy arrays, and the
command line's formats (CSV, QuakeML, NonLinLoc), byte for byte."""

import csv
import datetime as _dt
import io
import math
import os
import tempfile
import uuid

import numpy as np

_EPOCH = _dt.datetime(1970, 1, 1)


def _parts(microseconds):
    return _EPOCH + _dt.timedelta(microseconds=int(microseconds))


def iso_milliseconds(microseconds):
    """2024-01-01T00:00:12.345Z, rounded to the millisecond as onset-detect
    rounds it."""
    ms = math.floor(microseconds / 1000.0 + 0.5)
    t = _parts(ms * 1000)
    return t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{t.microsecond // 1000:03d}Z"


def iso_microseconds(microseconds):
    t = _parts(microseconds)
    return t.strftime("%Y-%m-%dT%H:%M:%S.") + f"{t.microsecond:06d}Z"


def _csv_field(text):
    """RFC 4180: quoted, quotes doubled, when it holds a comma, a quote or a line break."""
    if not any(c in text for c in ',"\r\n'):
        return text
    return '"' + text.replace('"', '""') + '"'


_XML_ESCAPES = {"&": "&amp;", "<": "&lt;", ">": "&gt;", '"': "&quot;", "\t": "&#9;",
                "\n": "&#10;", "\r": "&#13;"}


def _xml(text):
    """XML 1.0 character data: markup as entities, tab and line breaks as
    references (attribute normalisation keeps them), what XML 1.0 cannot hold
    (other control characters, U+FFFE, U+FFFF, lone surrogates) as U+FFFD."""
    out = []
    for c in text:
        code = ord(c)
        if c in _XML_ESCAPES:
            out.append(_XML_ESCAPES[c])
        elif code < 0x20 or code in (0xFFFE, 0xFFFF) or 0xD800 <= code <= 0xDFFF:
            out.append("\ufffd")
        else:
            out.append(c)
    return "".join(out)


def _nlloc_field(text):
    """A whitespace-separated NonLinLoc field: "?" when empty, whitespace and
    control characters as "?"."""
    return "".join("?" if c == " " or ord(c) < 0x20 or ord(c) == 0x7F else c
                   for c in text) or "?"


def _padded(text, width):
    """Padded to `width` bytes of UTF-8, as C's %-6s pads."""
    return text + " " * max(0, width - len(text.encode()))


def _onset(uncertainty):
    """'impulsive' or 'emergent' where the uncertainty makes it clear (a few
    hundredths of a second, or tenths), else None."""
    if uncertainty <= 0.05:
        return "impulsive"
    if uncertainty >= 0.2:
        return "emergent"
    return None


# QuakeML's PickPolarity of a clear first motion; one not clear is left out.
_QUAKEML_POLARITY = {"U": "positive", "D": "negative"}


def _codes(trace_id):
    return (trace_id.split(".", 3) + ["", "", ""])[:4]


def _written(text, path):
    """Returns the text, or writes it to `path` complete or not at all: under
    a temporary name beside it, renamed onto it once written (a device or a
    pipe, which cannot be renamed onto, is written in place)."""
    if path is None:
        return text
    target = os.path.realpath(os.fspath(path))
    if os.path.exists(target) and not os.path.isfile(target):
        with open(target, "w", newline="") as out:
            out.write(text)
        return None
    folder, name = os.path.split(target)
    if os.path.exists(target):
        mode = os.stat(target).st_mode & 0o7777
    else:
        mask = os.umask(0)
        os.umask(mask)
        mode = 0o666 & ~mask
    descriptor, temporary = tempfile.mkstemp(prefix=f".{name}.", dir=folder)
    try:
        with os.fdopen(descriptor, "w", newline="") as out:
            out.write(text)
            out.flush()
            os.fsync(out.fileno())
        os.chmod(temporary, mode)
        os.replace(temporary, target)
    except BaseException:
        if os.path.exists(temporary):
            os.remove(temporary)
        raise
    return None


class Detection:
    """Events found by onset.detect or onset.detect_files.

    .events: one row per event, numpy structured array with fields event
        (1, 2, ...), earliest (its earliest pick, datetime64[us]), stations
        (distinct NET.STA among its picks) and picks (their number).
    .picks: one row per pick, with fields event, trace (NET.STA.LOC.CHA),
        time (datetime64[us]), phase ('P' or 'S'), strength (the rise of the
        kurtosis that made it) and uncertainty (s: the arrival lies within
        time +- this) and polarity (the first motion: 'U' up, 'D' down, or
        '' where it is not clear, see onset_detect.h).
    .warnings: the lines onset-detect would have printed as warnings.
    .options: the options given to the detector.
    .failures: the blocks of onset.distributed.detect_archive that failed,
        as (start, end, reason), their events missing; empty otherwise.
    .resource_id: the QuakeML id of the catalogue, smi:local/onset/ and a
        random UUID, under which its events and picks are named, so that
        catalogues of several runs merge; set your own (smi:AUTHORITY/...)
        before writing if you like.
    .creation_time: when it was made (UTC, datetime64[us]), as QuakeML's
        creationInfo says.
    """

    def __init__(self, events, picks, options=None, warnings=()):
        self.events, self.picks = events, picks
        self.options = dict(options or {})
        self.warnings = list(warnings)
        self.failures = []
        self.resource_id = f"smi:local/onset/{uuid.uuid4()}"
        now = _dt.datetime.now(_dt.timezone.utc).replace(tzinfo=None)
        self.creation_time = np.datetime64(now, "us")

    @classmethod
    def from_engine(cls, found, ids, options, warnings):
        """From the engine's events as (earliest, stations, [(channel, phase,
        time, strength, uncertainty, polarity), ...]) and the channel ids by
        number."""
        events = np.zeros(len(found), dtype=_event_dtype())
        rows = []
        for number, (earliest, stations, picks) in enumerate(found, start=1):
            events[number - 1] = (number, np.datetime64(earliest, "us"), stations, len(picks))
            rows += [(number, ids[c], t, phase, strength, uncertainty, polarity)
                     for c, phase, t, strength, uncertainty, polarity in picks]
        return cls(events, _pick_array(rows), options, warnings)

    @classmethod
    def from_csv(cls, path, **options):
        """From onset-detect's --csv output (times to the millisecond)."""
        with open(os.fspath(path), newline="") as source:
            rows = list(csv.DictReader(source))
        events, picks = {}, []
        for row in rows:
            number = int(row["event"])
            earliest = np.datetime64(row["earliest"].rstrip("Z"), "us")
            count = events.get(number, (earliest, int(row["stations"]), 0))[2]
            events[number] = (earliest, int(row["stations"]), count + 1)
            picks.append((number, row["trace"],
                          np.datetime64(row["pick"].rstrip("Z"), "us"),
                          row.get("phase") or "P", float(row["strength"]),
                          float(row.get("uncertainty") or 0.0), row.get("polarity") or ""))
        table = np.zeros(len(events), dtype=_event_dtype())
        for i, number in enumerate(sorted(events)):
            table[i] = (number, *events[number])
        return cls(table, _pick_array(picks), options)

    def __len__(self):
        return len(self.events)

    def __repr__(self):
        return (f"Detection({len(self.events)} events, {len(self.picks)} picks on "
                f"{len(set(self.picks['trace']))} traces)")

    def _grouped(self):
        """(event row, its pick rows) in order."""
        start = 0
        for event in self.events:
            yield event, self.picks[start:start + event["picks"]]
            start += event["picks"]

    def to_csv(self, path=None):
        """onset-detect's --csv output: written to `path`, or returned as text."""
        out = io.StringIO()
        out.write("event,earliest,stations,trace,pick,strength,phase,uncertainty,polarity\n")
        for event, picks in self._grouped():
            earliest = iso_milliseconds(int(event["earliest"].astype(np.int64)))
            for p in picks:
                out.write(f"{event['event']},{earliest},{event['stations']},{_csv_field(str(p['trace']))},"
                          f"{iso_milliseconds(int(p['time'].astype(np.int64)))},"
                          f"{'%.3f' % p['strength']},{p['phase']},{'%.3f' % p['uncertainty']},"
                          f"{p['polarity']}\n")
        return _written(out.getvalue(), path)

    def to_quakeml(self, path=None):
        """QuakeML 1.2 (BED), as onset-detect's --quakeml writes it: one
        event per detection with its picks (time and uncertainty, waveform
        id, onset and polarity where they are clear, phase hint, evaluation
        mode automatic,
        the strength in a comment) and no origin, since none is located;
        every resource named under .resource_id with its creationInfo."""
        from ._engine import engine
        version = engine().onset_detect_version().decode()
        created = iso_microseconds(np.datetime64(self.creation_time, "us").astype(np.int64))

        def creation_info(indent):
            return (f'{indent}<creationInfo>\n'
                    f'{indent}  <author>onset</author>\n'
                    f'{indent}  <creationTime>{created}</creationTime>\n'
                    f'{indent}  <version>{version}</version>\n'
                    f'{indent}</creationInfo>\n')

        out = io.StringIO()
        out.write('<?xml version="1.0" encoding="UTF-8"?>\n'
                  '<q:quakeml xmlns:q="http://quakeml.org/xmlns/quakeml/1.2" '
                  'xmlns="http://quakeml.org/xmlns/bed/1.2">\n'
                  f'  <eventParameters publicID="{_xml(self.resource_id)}">\n')
        for event, picks in self._grouped():
            public = _xml(self._event_id(event))
            stations = int(event["stations"])
            out.write(f'    <event publicID="{public}">\n'
                      f'      <comment>\n'
                      f'        <text>{stations} station{"" if stations == 1 else "s"}, earliest pick '
                      f'{iso_microseconds(event["earliest"].astype(np.int64))}</text>\n'
                      f'      </comment>\n')
            for k, p in enumerate(picks, start=1):
                net, sta, loc, cha = (_xml(c) for c in _codes(str(p["trace"])))
                onset = _onset(p["uncertainty"])
                polarity = _QUAKEML_POLARITY.get(p["polarity"])
                out.write(f'      <pick publicID="{public}/pick/{k}">\n'
                          f'        <time>\n'
                          f'          <value>{iso_microseconds(p["time"].astype(np.int64))}</value>\n'
                          f'          <uncertainty>{"%g" % p["uncertainty"]}</uncertainty>\n'
                          f'        </time>\n'
                          f'        <waveformID networkCode="{net}" stationCode="{sta}" '
                          f'locationCode="{loc}" channelCode="{cha}"/>\n'
                          f'        <methodID>smi:local/onset/kurtosis-rise</methodID>\n'
                          + (f'        <onset>{onset}</onset>\n' if onset else '') +
                          f'        <phaseHint>{p["phase"]}</phaseHint>\n'
                          + (f'        <polarity>{polarity}</polarity>\n' if polarity else '') +
                          f'        <evaluationMode>automatic</evaluationMode>\n'
                          f'        <comment>\n'
                          f'          <text>strength {"%.3f" % p["strength"]}</text>\n'
                          f'        </comment>\n')
                out.write(creation_info("        ") + '      </pick>\n')
            out.write(creation_info("      ") + '    </event>\n')
        # After the events, where QuakeML's order of elements puts it.
        out.write(creation_info("    ") + "  </eventParameters>\n</q:quakeml>\n")
        return _written(out.getvalue(), path)

    def _event_id(self, event):
        return f"{self.resource_id}/event/{event['event']}"

    def to_nlloc(self, path=None):
        """NonLinLoc's phase format (NLLOC_OBS), as onset-detect's --nlloc
        writes it: per event a PUBLIC_ID line with its QuakeML id, one line
        per pick (the station as NET_STA, or NET_STA_LOC with a location
        code; the onset I or E and the first motion U or D where they are
        clear; the uncertainty as the
        Gaussian error) and the empty line that ends the event."""
        lines = []
        for event, picks in self._grouped():
            lines.append(f"PUBLIC_ID {_nlloc_field(self._event_id(event))}\n")
            for p in picks:
                net, sta, loc, channel = _codes(str(p["trace"]))
                label = _nlloc_field(f"{net}_{sta}" + (f"_{loc}" if loc else ""))
                instrument = _nlloc_field(channel[:-1] if len(channel) > 1 else "")
                component = _nlloc_field(channel[-1:])
                onset = {"impulsive": "I", "emergent": "E"}.get(_onset(p["uncertainty"]), "?")
                # Tenths of milliseconds, the format's resolution.
                tenths = (int(p["time"].astype(np.int64)) + 50) // 100
                t = _parts(tenths * 100)
                seconds = t.second + t.microsecond * 1e-6
                lines.append("%s %s %s %s %-6s %s %04d%02d%02d %02d%02d %9.4f GAU %9.2e %9.2e "
                             "%9.2e %9.2e\n" % (_padded(label, 6), _padded(instrument, 4),
                                                _padded(component, 4), onset, p["phase"],
                                                p["polarity"] or "?",
                                                t.year, t.month, t.day, t.hour, t.minute, seconds,
                                                p["uncertainty"], -1.0, -1.0, -1.0))
            lines.append("\n")
        return _written("".join(lines), path)

    def to_obspy(self):
        """The events as an ObsPy Catalog, read from to_quakeml() (ObsPy must
        be installed)."""
        try:
            import obspy
        except ImportError:
            raise ImportError("to_obspy needs ObsPy (pip install obspy)") from None
        return obspy.read_events(io.BytesIO(self.to_quakeml().encode()), format="QUAKEML")

    def to_pandas(self):
        """The picks as a pandas DataFrame, with each event's earliest pick
        and station count (pandas must be installed)."""
        try:
            import pandas as pd
        except ImportError:
            raise ImportError("to_pandas needs pandas (Debian: python3-pandas)") from None
        frame = pd.DataFrame({name: self.picks[name] for name in self.picks.dtype.names})
        events = pd.DataFrame({"event": self.events["event"], "earliest": self.events["earliest"],
                               "stations": self.events["stations"]})
        columns = ["event", "earliest", "stations", "trace", "time", "phase", "strength",
                   "uncertainty", "polarity"]
        return frame.merge(events, on="event", how="left")[columns]

    def plot(self, traces, path=None, start=None, end=None, **options):
        """Draws the traces with the picks and events: see onset.plot.draw."""
        from .plot import draw
        return draw(self, traces, path=path, start=start, end=end, **options)


def _event_dtype():
    return np.dtype([("event", np.int32), ("earliest", "datetime64[us]"),
                     ("stations", np.int32), ("picks", np.int32)])


def _pick_array(rows):
    width = max([len(r[1]) for r in rows] + [1])
    dtype = np.dtype([("event", np.int32), ("trace", f"U{width}"), ("time", "datetime64[us]"),
                      ("phase", "U1"), ("strength", np.float64), ("uncertainty", np.float64),
                      ("polarity", "U1")])
    return np.array(rows, dtype=dtype) if rows else np.zeros(0, dtype=dtype)
