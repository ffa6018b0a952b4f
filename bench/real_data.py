#!/usr/bin/env python3
"""Scores onset-detect on real recordings with reference picks.

The folder holds the layout of shared/realdata: `picks/` (single-station
recordings, one file per channel, truth.csv with trace_id,station,phase,
time_utc) and `network/` (one file per station of a local network,
truth.csv with event_id,station,phase,time_utc). Each set is scored by the
rules of its README:

- single stations: each recording alone (its vertical channel, or all its
  channels as one station), one station making an event. The detection
  nearest the reference P within 2 s is the P pick (error = pick - reference);
  none is a miss; detections within 2 s of the reference S are S picks; every
  other detection is a false pick.
- network: all stations in one run. A detection (its earliest pick) within 2 s
  of an event's first_P_modelled is a hit, matched one to one; unmatched
  detections inside an event's wave train (earliest P_modelled to latest
  S_modelled + 2 s) are re-triggers, the rest extras. Per-station P accuracy
  compares the event's pick on a station with the reference P there.

usage: bench/real_data.py [--program PATH] [--folder DIR] [-- onset-detect flags]
Skips with a message where the folder is absent.
"""

import argparse
import csv
import datetime as dt
import os
import statistics
import subprocess
import sys
import time
from collections import defaultdict

HERE = os.path.dirname(os.path.abspath(__file__))
WINDOW = 2.0  # s, the README's matching window


def seconds(text):
    """UTC ISO 8601 text to seconds since 1970."""
    text = text.rstrip("Z")
    return dt.datetime.fromisoformat(text).replace(tzinfo=dt.timezone.utc).timestamp()


def detect(program, files, flags):
    """Runs onset-detect on the files; returns its events as lists of
    (trace id, pick seconds, phase) in the order of the CSV."""
    out = subprocess.run([program, "--quiet", "--csv", *flags, *files], capture_output=True, text=True)
    if out.returncode != 0:
        raise SystemExit(f"onset-detect failed ({out.returncode}): {out.stderr.strip()}")
    events = defaultdict(list)
    for row in csv.DictReader(out.stdout.splitlines()):
        events[int(row["event"])].append((row["trace"], seconds(row["pick"]), row.get("phase", "P")))
    return [events[k] for k in sorted(events)]


def earliest(event):
    """The event's earliest P pick (its earliest pick when none is labelled)."""
    p = [pick for _, pick, phase in event if phase == "P"]
    return min(p or [pick for _, pick, _ in event])


def score_picks(folder, program, flags, components):
    truth = defaultdict(dict)
    with open(os.path.join(folder, "truth.csv")) as f:
        for row in csv.DictReader(f):
            truth[row["trace_id"]][row["phase"]] = seconds(row["time_utc"])
    mseed = os.path.join(folder, "mseed")
    names = sorted(os.listdir(mseed))
    found, errors, s_picks, false_picks = 0, [], 0, 0
    for trace_id, phases in sorted(truth.items()):
        files = [os.path.join(mseed, n) for n in names if n.startswith(trace_id + ".")]
        if components == "Z":
            files = [f for f in files if f.endswith("Z.mseed")]
        detections = [earliest(e) for e in detect(program, files, ["--min-stations", "1", *flags])]
        p, s = phases["P"], phases.get("S")
        near_p = [d for d in detections if abs(d - p) <= WINDOW]
        best = min(near_p, key=lambda d: abs(d - p)) if near_p else None
        if best is not None:
            found += 1
            errors.append(best - p)
        for d in detections:
            if d is best:
                continue
            if s is not None and abs(d - s) <= WINDOW:
                s_picks += 1
            else:
                false_picks += 1
    n = len(truth)
    within = sum(abs(e) <= 0.1 for e in errors)
    median = statistics.median(errors) if errors else float("nan")
    print(f"picks/ ({'vertical' if components == 'Z' else 'all channels'}, {n} recordings): "
          f"P found {found}/{n}; median P error {median:+.3f} s; {within}/{n} within 0.1 s "
          f"({100.0 * within / max(found, 1):.0f}% of those found); "
          f"S picks {s_picks}; false picks {false_picks} ({false_picks / n:.2f} per recording)")


def score_network(folder, program, flags):
    events = defaultdict(lambda: {"P_modelled": {}, "S_modelled": {}, "P": {}, "S": {}})
    with open(os.path.join(folder, "truth.csv")) as f:
        for row in csv.DictReader(f):
            e, phase, t = events[row["event_id"]], row["phase"], seconds(row["time_utc"])
            if row["station"] == "*":
                e[phase] = t  # origin, first_P_modelled
            else:
                e[phase][row["station"]] = t
    mseed = os.path.join(folder, "mseed")
    files = [os.path.join(mseed, n) for n in sorted(os.listdir(mseed))]
    detections = detect(program, files, ["--channels", "*.*.*.??Z", *flags])
    # One-to-one matching, nearest pairs first.
    pairs = sorted((abs(earliest(d) - e["first_P_modelled"]), i, k)
                   for i, d in enumerate(detections) for k, e in events.items()
                   if abs(earliest(d) - e["first_P_modelled"]) <= WINDOW)
    matched, used = {}, set()
    for _, i, k in pairs:
        if i not in used and k not in matched:
            matched[k] = i
            used.add(i)
    retriggers = extras = 0
    for i, d in enumerate(detections):
        if i in used:
            continue
        t = earliest(d)
        inside = any(min(e["P_modelled"].values()) <= t <= max(e["S_modelled"].values()) + WINDOW
                     for e in events.values())
        retriggers += inside
        extras += not inside
    close = total = 0
    for k, i in matched.items():
        for trace, pick, phase in detections[i]:
            station = trace.split(".")[1]
            if phase != "P":
                continue
            if station in events[k]["P"]:
                total += 1
                close += abs(pick - events[k]["P"][station]) <= 0.1
    print(f"network/ ({len(files)} stations, {len(events)} events): found {len(matched)}/{len(events)}; "
          f"re-triggers {retriggers}; extras {extras}; "
          f"station P picks within 0.1 s: {close}/{total} ({100.0 * close / max(total, 1):.0f}%)")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=os.path.join(HERE, "..", "build", "tools", "onset-detect", "onset-detect"))
    parser.add_argument("--folder", default=os.path.join(HERE, "..", "..", "shared", "realdata"))
    parser.add_argument("flags", nargs="*", help="further onset-detect flags (after --)")
    args = parser.parse_args()
    if not os.path.isdir(args.folder):
        print(f"real data: {args.folder} is absent; skipped")
        return
    started = time.monotonic()
    picks = os.path.join(args.folder, "picks")
    if os.path.isfile(os.path.join(picks, "truth.csv")):
        score_picks(picks, args.program, args.flags, "Z")
        score_picks(picks, args.program, args.flags, "all")
    network = os.path.join(args.folder, "network")
    if os.path.isfile(os.path.join(network, "truth.csv")):
        score_network(network, args.program, args.flags)
    print(f"({time.monotonic() - started:.1f} s)")


if __name__ == "__main__":
    sys.exit(main())
