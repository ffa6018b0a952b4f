"""The picture of a detection: traces, picks, events and the onset strength.

matplotlib (Debian: python3-matplotlib) is imported only here, when a
picture is asked for.
"""

import numpy as np

from . import traces as _traces
from ._engine import CODA, DEAD_TIME, LOW_SNR, WARM_UP, options_record, stages_and_candidates

# Per pixel column of a long trace, its lowest and highest sample: the
# envelope looks as the whole trace would, at a fraction of the points.
_COLUMNS = 2000
_PHASE_COLOURS = {"P": "tab:blue", "S": "tab:red"}
# Why an excursion above the threshold made no pick: the label, marker and
# colour of its mark on the strength panel. An onset of a station that no
# event took (a glitch, or too few stations) is "no event".
_DROPPED = {LOW_SNR: ("low SNR", "x", "0.3"), DEAD_TIME: ("dead time", "s", "tab:purple"),
            CODA: ("coda", "v", "tab:brown"), WARM_UP: ("warm-up", "<", "tab:gray"), 0: ("no event", "o", "tab:olive")}
# Beyond this many marks in the window, their words would hide the strength.
_WORDED_MARKS = 40


def _envelope(times, values):
    if values.size <= 2 * _COLUMNS:
        return times, values
    edges = np.linspace(0, values.size, _COLUMNS + 1).astype(np.int64)
    # fmin and fmax pass NaN over: a column is NaN only where all of it is.
    low = np.fmin.reduceat(values, edges[:-1])
    high = np.fmax.reduceat(values, edges[:-1])
    middle = times[(edges[:-1] + edges[1:]) // 2]
    return np.repeat(middle, 2), np.column_stack([low, high]).ravel()


def _station(trace_id):
    return ".".join(trace_id.split(".")[:2])


def _rows(pieces, detection, lo, hi):
    """Trace ids from top to bottom: stations in the order of their first
    pick in the window, then the stations without one; channels by id."""
    first = {}
    for pick in detection.picks:
        t = int(pick["time"].astype(np.int64))
        if lo <= t < hi:
            station = _station(str(pick["trace"]))
            first[station] = min(first.get(station, t), t)
    ids = sorted({p.id for p in pieces})
    return sorted(ids, key=lambda i: (_station(i) not in first, first.get(_station(i), 0),
                                      _station(i), i))


def _dropped(candidates, trace_id, picked):
    """The candidates of a trace that made no pick of the detection, each as
    (peak, strength, reason, snr): reason a key of _DROPPED."""
    marks = []
    for c in candidates:
        verdict = int(c["verdict"])
        if verdict in (ord("P"), ord("S")):
            if (trace_id, int(c["time"])) in picked:
                continue
            verdict = 0
        marks.append((int(c["peak"]), float(c["strength"]), verdict, float(c["snr"])))
    return marks


def draw(detection, traces, path=None, start=None, end=None, **options):
    """Draws `traces` (anything onset.detect takes) with the detection.

    Above, each trace band-passed as the detector band-passes it and scaled
    to its largest value in the window, stacked by station in the order of
    their first picks; picks marked by phase (P blue, S red) and events
    shaded from their earliest to their latest pick. Below, every trace's
    onset strength with the threshold, and a mark at the peak of each
    excursion above it that made no pick, saying why: low SNR (with the
    SNR), dead time, coda, warm-up, or no event (an onset no event took). The
    detector's options come from the detection (onset.detect's keywords),
    overridden by `options`; `start` and `end` limit the window (default:
    the traces' span). Returns the
    matplotlib Figure, after writing it as a PNG to `path` when given.
    """
    import matplotlib.dates as mdates
    from matplotlib.figure import Figure

    settings = {**detection.options, **options}
    threshold = options_record(settings).threshold
    pieces = _traces.segments(traces)
    if not pieces:
        raise ValueError("traces: nothing to draw")
    ends = [p.start + int(round(p.samples.size * 1e6 / p.rate)) for p in pieces]
    lo = min(p.start for p in pieces) if start is None else _traces.microseconds(start, "start")
    hi = max(ends) if end is None else _traces.microseconds(end, "end")
    if lo >= hi:
        raise ValueError("start must be before end")
    rows = _rows(pieces, detection, lo, hi)
    row_of = {trace_id: k for k, trace_id in enumerate(rows)}

    if path is None:
        import matplotlib.pyplot as plt
        figure = plt.figure(figsize=(12, 2.6 + 0.42 * len(rows)))
    else:
        figure = Figure(figsize=(12, 2.6 + 0.42 * len(rows)))
    grid = figure.add_gridspec(2, 1, height_ratios=[max(2.0, 0.42 * len(rows)), 1.6], hspace=0.06)
    above = figure.add_subplot(grid[0])
    below = figure.add_subplot(grid[1], sharex=above)
    colours = [f"C{k % 10}" for k in range(len(rows))]

    picked = {(str(p["trace"]), int(p["time"].astype(np.int64))) for p in detection.picks}
    drawn, dropped = {}, []
    for piece in pieces:
        filtered, strength, candidates = stages_and_candidates(piece, settings)
        times = _traces.time_grid(piece.start, piece.rate, piece.samples.size)
        inside = (times >= np.datetime64(lo, "us")) & (times < np.datetime64(hi, "us"))
        if inside.any():
            drawn.setdefault(piece.id, []).append((times[inside], filtered[inside], strength[inside]))
        dropped += [mark for mark in _dropped(candidates, piece.id, picked) if lo <= mark[0] < hi]
    for trace_id, parts in drawn.items():
        k = row_of[trace_id]
        peak = max((np.nanmax(np.abs(f)) if np.isfinite(f).any() else 0.0) for _, f, _ in parts)
        scale = 0.45 / peak if peak > 0 else 0.0
        for times, filtered, strength in parts:
            above.plot(*_envelope(times, -k + scale * filtered), color="0.25", linewidth=0.5,
                       zorder=3)
            # Only rises make onsets: the drops of the max-jump are left out.
            below.plot(*_envelope(times, np.maximum(strength, 0.0)), color=colours[k],
                       linewidth=0.7)
    for reason, (label, marker, colour) in _DROPPED.items():
        these = [m for m in dropped if m[2] == reason]
        if these:
            # Hollow, so that the strength stays visible through the mark.
            paint = ({"color": colour} if marker == "x"
                     else {"facecolors": "none", "edgecolors": colour})
            below.scatter(np.array([m[0] for m in these], dtype="datetime64[us]"),
                          [m[1] for m in these], marker=marker, s=22, zorder=4, linewidths=1.0,
                          label=f"no pick: {label}", **paint)
    if len(dropped) <= _WORDED_MARKS:
        for time, strength, reason, snr in dropped:
            word = f"SNR {snr:.1f}" if reason == LOW_SNR else _DROPPED[reason][0]
            below.annotate(word, (np.datetime64(time, "us"), strength), xytext=(3, 3),
                           textcoords="offset points", fontsize=7, color=_DROPPED[reason][2])
    if dropped:
        below.legend(loc="upper right", fontsize=7, frameon=False, ncol=len(_DROPPED))

    window = (np.datetime64(lo, "us"), np.datetime64(hi, "us"))
    # From the earliest pick to the latest, and on a little after it, so
    # that an event whose picks lie close together stays visible in a long
    # window.
    tail = np.timedelta64(max(300_000, (hi - lo) // 500), "us")
    for event, picks in detection._grouped():
        times = picks["time"]
        if times.size == 0 or times.max() < window[0] or times.min() >= window[1]:
            continue
        for ax in (above, below):
            ax.axvspan(times.min(), times.max() + tail, color="tab:orange", alpha=0.2,
                       linewidth=0, zorder=1)
        above.annotate(str(event["event"]), (times.min(), 1.0), xycoords=("data", "axes fraction"),
                       xytext=(2, -2), textcoords="offset points", va="top", fontsize=8,
                       color="tab:orange")
        for pick in picks:
            k = row_of.get(str(pick["trace"]))
            if k is not None and window[0] <= pick["time"] < window[1]:
                above.plot([pick["time"]] * 2, [-k - 0.42, -k + 0.42],
                           color=_PHASE_COLOURS.get(str(pick["phase"]), "tab:green"),
                           linewidth=1.3, alpha=0.85, zorder=2)

    above.set_yticks([-k for k in range(len(rows))], rows, fontsize=8)
    # Each label in its trace's colour below, to tell the strengths apart.
    for label, colour in zip(above.get_yticklabels(), colours):
        label.set_color(colour)
    above.set_ylim(-len(rows) + 0.4, 0.9)
    above.tick_params(labelbottom=False)
    handles = [above.plot([], [], color=c, linewidth=1.6, label=f"{phase} pick")[0]
               for phase, c in _PHASE_COLOURS.items() if (detection.picks["phase"] == phase).any()]
    if handles:
        # Above the axes, beside the title, where it hides no event number.
        above.legend(handles=handles, loc="lower right", bbox_to_anchor=(1.0, 1.0), ncol=2,
                     fontsize=8, frameon=False, borderaxespad=0.2)
    shown = int(sum(1 for e, p in detection._grouped()
                    if p.size and p["time"].min() < window[1] and p["time"].max() >= window[0]))
    above.set_title(f"{shown} event{'' if shown == 1 else 's'} on {len(rows)} traces "
                    f"({settings.get('fmin', 2):g}-{settings.get('fmax', 20):g} Hz, band-passed "
                    f"and scaled per trace)", fontsize=10)
    below.axhline(threshold, color="tab:red", linestyle="--", linewidth=1)
    below.annotate(f"threshold {threshold:g}", (0.0, threshold), xycoords=("axes fraction", "data"),
                   xytext=(3, 2), textcoords="offset points", fontsize=8, color="tab:red")
    below.set_ylabel("onset strength\n(rise of the kurtosis)", fontsize=9)
    below.set_ylim(bottom=0)
    if dropped:
        # Room above the highest peak for the legend of the marks.
        below.set_ylim(top=below.get_ylim()[1] * 1.3)
    below.set_xlim(*window)
    locator = mdates.AutoDateLocator()
    below.xaxis.set_major_locator(locator)
    below.xaxis.set_major_formatter(mdates.ConciseDateFormatter(locator))
    below.set_xlabel("UTC", fontsize=9)
    figure.subplots_adjust(left=0.11, right=0.98, top=0.95, bottom=0.08)
    if path is not None:
        figure.savefig(path, dpi=110)
    return figure
