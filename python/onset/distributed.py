"""Detection over an SDS archive in time blocks, each a Dask task that reads
its own days from the archive, merged into the events of one run over the
whole span.

    detect_archive(root, start=, end=, channels=, client=, block="1D", ...)

A block reads a few minutes beyond its edges (see overlap()) and keeps the
events whose earliest pick lies within it; the engine's results depend only
on the samples near them (its states end where a channel's onsets pause),
so each event comes out once and as one process finds it. Without a client the blocks run one after another in this
process; with a distributed.Client they run on its cluster's workers, which
need the package and the archive at the same path.
"""

import ctypes
import datetime as _dt
import fnmatch
import os
import re
import time
from pathlib import Path

import numpy as np

from . import _checks, traces as _traces
from ._engine import INT64_MAX, INT64_MIN, Reader, options_record, reach
from .location import location_inputs
from .config import settings
from .detection import CHUNK, run_reader
from .detector import conclude, say
from .result import Detection

_DAY = 86_400_000_000
_SECONDS = {"W": 604800, "D": 86400, "H": 3600, "h": 3600, "min": 60, "T": 60, "S": 1, "s": 1}


def overlap(**options):
    """Seconds a block reads before and after its edges, for these detector
    options (see onset.OPTIONS): 5.5 minutes with the defaults."""
    # The engine's reach for any rate: a result depends on no sample more
    # than its look-back before it, and an event waits its wait for later
    # samples. Twice their sum, so that a look-back the engine may take in a
    # way the count misses still ends well inside the overlap.
    extent = reach(options)
    return 2.0 * (extent.look_back + extent.wait)


def block_length(block):
    """Microseconds of a block: "1D", "6H", "30min", "90s", "2W", a
    datetime.timedelta, a numpy.timedelta64 or seconds."""
    if isinstance(block, str):
        match = re.fullmatch(r"\s*(\d+(?:\.\d*)?)?\s*(W|D|H|h|min|T|S|s)\s*", block)
        if not match:
            raise ValueError(f"block: {block!r} is not a length such as '1D', '6H', '30min' or "
                             f"'90s'")
        length = round(float(match.group(1) or 1) * _SECONDS[match.group(2)] * 1e6)
    elif isinstance(block, _dt.timedelta):
        length = block // _dt.timedelta(microseconds=1)
    elif isinstance(block, np.timedelta64):
        length = int(block.astype("timedelta64[us]").astype(np.int64))
    else:
        length = round(_checks.real(block, "block", positive=True) * 1e6)
    if length <= 0:
        raise ValueError(f"block: {block!r} is not a positive length")
    return length


def archive_span(root, channels=None, start=None, end=None):
    """From the first day's midnight to the midnight after the last day that
    holds a day file of the selected channels, within [start, end) where
    they are given, in microseconds. ValueError or OSError, in onset-detect's
    words, for a root that is no folder or no day file in the span."""
    reader = Reader(root, start, end, channels, True)
    try:
        return reader.span()
    finally:
        reader.close()


def _patterns(channels):
    if channels is None:
        return []
    return [p for p in (channels.split(",") if isinstance(channels, str) else channels) if p]


def day_files(root, channels, begin, end):
    """The day files of the selected channels whose days meet [begin, end),
    as the engine's reader finds them."""
    patterns = _patterns(channels)
    found = []
    for day in range(begin // _DAY, -(-end // _DAY)):
        date = _dt.date(1970, 1, 1) + _dt.timedelta(days=day)
        year, number = f"{date.year:04d}", f"{date.timetuple().tm_yday:03d}"
        for path in Path(root, year).glob(f"*/*/*/*.{year}.{number}"):
            parts = path.name.split(".")
            trace_id = ".".join(parts[:4])
            if len(parts) == 7 and (not patterns or
                                    any(fnmatch.fnmatchcase(trace_id, p) for p in patterns)):
                found.append(path)
    return sorted(found)


_M_MMAP_THRESHOLD = -3
_heap_set = False


def _large_buffers_on_the_heap():
    """Dask's nanny starts workers with MALLOC_TRIM_THRESHOLD_ set, which
    stops glibc from raising its mmap threshold as it sees large buffers
    come and go: every buffer of a slice is then mapped afresh and its pages
    faulted in again, which doubles a block's time. The threshold glibc
    would have reached on its own (32 MiB) is set instead, once."""
    global _heap_set
    if _heap_set or "MALLOC_TRIM_THRESHOLD_" not in os.environ or \
            "MALLOC_MMAP_THRESHOLD_" in os.environ:
        return
    _heap_set = True
    mallopt = getattr(ctypes.CDLL(None), "mallopt", None)
    if mallopt is not None:
        mallopt(_M_MMAP_THRESHOLD, 32 << 20)


def detect_block(root, channels, keep, read, days, options, chunk, stations=(), location=None):
    """One block, as a task runs it: the events whose earliest pick lies in
    [keep[0], keep[1]) among those found in the samples of [read[0],
    read[1]) (microseconds; INT64_MIN and INT64_MAX for no bound), which lie
    in the day files of the days that meet [days[0], days[1]). Returns
    (events as (earliest, stations, [(trace, phase, time, strength,
    uncertainty, polarity), ...], origin), the stations with a usable
    channel, the warning lines). `stations`: per-station options,
    `location`: what to locate with, as for onset._engine.Run. A
    day file that cannot be read fails the block with OSError, so that a
    block never stands for data it did not see."""
    files = day_files(root, channels, *days)
    if not files:
        return [], set(), []
    for path in files:
        try:
            with open(path, "rb") as day:
                day.read(1)
        except OSError as error:
            raise OSError(f"cannot read '{path}': {error.strerror}") from None
    _large_buffers_on_the_heap()
    said = []
    bound = [None if t in (INT64_MIN, INT64_MAX) else np.datetime64(t, "us") for t in read]
    found, ids, usable = run_reader(Reader(root, *bound, channels, True), options, chunk,
                                    said.extend, stations, location)
    events = [(earliest, count, [(ids[c], *rest) for c, *rest in picks], origin)
              for earliest, count, picks, origin in found if keep[0] <= earliest < keep[1]]
    return events, usable, said


def blocks(begin, end, length, margin, open_start=False, open_end=False):
    """The blocks of [begin, end): (edges, keep, read, days) each, in
    microseconds. The edges lie `length` apart from `begin`; each block reads
    `margin` beyond them, within the span, from the day files of the days
    that meet [days[0], days[1]). An open start or end (no bound given: the
    span is the archive's days) lets the first or last block keep and read
    what those day files hold beyond it."""
    found = []
    for edge in range(begin, end, length):
        edges = (edge, min(end, edge + length))
        first, last = edges[0] == begin, edges[1] == end
        keep = (INT64_MIN if first and open_start else edges[0],
                INT64_MAX if last and open_end else edges[1])
        read = (INT64_MIN if first and open_start else max(begin, edges[0] - margin),
                INT64_MAX if last and open_end else min(end, edges[1] + margin))
        found.append((edges, keep, read, (max(begin, read[0]), min(end, read[1]))))
    return found


def _when(microseconds):
    t = _dt.datetime(1970, 1, 1) + _dt.timedelta(microseconds=int(microseconds))
    return t.isoformat(timespec="microseconds" if t.microsecond else "seconds") + "Z"


def _outcomes(client, function, calls, done=None, alone=60.0):
    """function(*call) for every call, on the client's cluster or here; each
    outcome is the result or the exception it raised. done(outcome), if
    given, hears of each as it comes. Calls still waiting when the cluster
    has had no worker for `alone` seconds fail with RuntimeError: a
    scheduler without workers waits for them forever."""
    if client is None:
        outcomes = []
        for call in calls:
            try:
                outcomes.append(function(*call))
            except Exception as error:  # a block's failure is reported, not raised
                outcomes.append(error)
            if done:
                done(outcomes[-1])
        return outcomes
    futures = client.map(function, *zip(*calls), pure=False)
    lost = RuntimeError(f"no worker was left to run it for {alone:g} s")
    outcomes, pending, without_workers = {}, list(futures), None
    while pending:
        for future in [f for f in pending if f.done()]:
            outcomes[future.key] = future.exception() if future.status == "error" else future.result()
            if done:
                done(outcomes[future.key])
        pending = [f for f in pending if f.key not in outcomes]
        if not pending:
            break
        if client.scheduler_info().get("workers"):
            without_workers = None
        elif without_workers is None:
            without_workers = time.monotonic()
        elif time.monotonic() - without_workers >= alone:
            client.cancel(pending)
            for future in pending:
                outcomes[future.key] = lost
                if done:
                    done(lost)
            break
        time.sleep(0.1)
    return [outcomes[future.key] for future in futures]


def detect_archive(root, start=None, end=None, channels=None, client=None, block="1D",
                   progress=None, lost_after=60.0, config=None, stations=None, velocity_model=None,
                   graded_model=False, **options):
    """onset.detect_files over an SDS archive, cut into blocks of `block`
    (from `start`, or from the archive's first day) that run as tasks on a
    Dask cluster: the same events, bit for bit, as one process finds.

    `root`: the archive's root, at the same path on every worker. `start`,
    `end`, `channels`: as for onset.read. `client`: a distributed.Client
    (None: the blocks run in this process). `block`: "1D", "6H", "30min",
    a timedelta or seconds. `progress`: None, or called as progress(done,
    blocks, events) as each block ends, with the events kept so far.
    `config`, `options`: the settings file and the detector's options
    (onset.OPTIONS), `chunk`, and `stations`, `velocity_model` and
    `graded_model` (at the same paths on every worker, or an
    Inventory-shaped object), as for onset.detect_files. A root that is
    no folder, or without day files of the channels in the span, is a
    ValueError before any block runs, in onset-detect's words. Each block's
    warnings come prefixed with its span, as DetectionWarning. A block
    that fails (a day file that cannot be read, a worker lost) is left out with a warning naming its
    span and reason and is listed in the result's .failures as (start, end,
    reason); the other blocks' events come back, also when the cluster has
    had no worker left for `lost_after` seconds. RuntimeError when every
    block fails.
    """
    chunk = options.pop("chunk", None)
    location = location_inputs(stations, velocity_model, graded_model)
    options, station_options, file_channels, file_chunk = settings(config, options)
    channels = file_channels if channels is None else channels
    chunk = _checks.real(next(c for c in (chunk, file_chunk, CHUNK) if c is not None), "chunk",
                         positive=True)
    record = options_record(options)
    length = block_length(block)
    root = os.path.abspath(os.fspath(root))
    first = None if start is None else _traces.microseconds(start, "start")
    last = None if end is None else _traces.microseconds(end, "end")
    if first is not None and last is not None and first >= last:
        raise ValueError("start must be before end")
    # Where the workers see the archive: the client may not.
    (span,) = _outcomes(client, archive_span, [(root, channels, start, end)], alone=lost_after)
    if isinstance(span, BaseException):
        raise span
    first = span[0] if first is None else first
    last = span[1] if last is None else last
    # Stations with options of their own may look further back.
    margin = round(max(overlap(**o) for o in [options] + [s for _, s in station_options]) * 1e6)
    cut = blocks(first, last, length, margin, start is None, end is None)
    tally = [0, 0]  # blocks done, events kept
    if progress:
        progress(0, len(cut), 0)

    def done(outcome):
        tally[0] += 1
        tally[1] += 0 if isinstance(outcome, BaseException) else len(outcome[0])
        progress(tally[0], len(cut), tally[1])
    outcomes = _outcomes(client, detect_block,
                         [(root, channels, *block, options, chunk, station_options, location)
                          for _, *block in cut],
                         done if progress else None, lost_after)
    found, usable, said, failures = [], set(), [], []
    for (edges, *_), outcome in zip(cut, outcomes):
        name = f"block {_when(edges[0])} to {_when(edges[1])}"
        if isinstance(outcome, BaseException):
            failures.append((np.datetime64(edges[0], "us"), np.datetime64(edges[1], "us"),
                             str(outcome) or type(outcome).__name__))
            say([f"{name} failed: {failures[-1][2]}"], said)
            continue
        events, stations, lines = outcome
        found += events
        usable |= stations
        say([f"{name}: {line}" for line in lines], said)
    if len(failures) == len(cut):
        raise RuntimeError("every block failed:" + "".join(f"\n  {line}" for line in said))
    conclude(len(usable), record.min_stations, said)
    ids = sorted({pick[0] for _, _, picks, _ in found for pick in picks})
    number = {trace_id: n for n, trace_id in enumerate(ids)}
    detection = Detection.from_engine(
        [(earliest, count, [(number[p[0]], *p[1:]) for p in picks], origin)
         for earliest, count, picks, origin in found], ids, options, said)
    detection.failures = failures
    return detection
