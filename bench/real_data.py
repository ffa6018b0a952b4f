#!/usr/bin/env python3
"""Scores onset-detect on real recordings with reference picks, phase by phase.

The folder holds the layout of shared/realdata: `picks/` (single-station
recordings, one file per channel; truth.csv with trace_id,station,phase,
time_utc) and `network/` (one file per station of a local network; truth.csv
with event_id,station,phase,time_utc). The tool runs as users run it: its
defaults and every channel (flags after -- are passed on).

Picks are judged by their phase label. A station gives one P and one S per
event: of its picks of a phase in one detected event (one per channel, say)
the nearest to the reference counts and the others are duplicates. A counted
pick within 0.5 s of the reference finds it (residual = pick - reference),
the nearest when several events have one; every other pick of that phase,
duplicates included, is a false positive.

- picks/: each recording alone, one station making an event, with all its
  channels and with the vertical alone. False picks are picks of either label
  within 0.5 s of neither reference; those in events with no pick near a
  reference are counted apart too, and the scores given again without those
  events: the reference labels one earthquake per recording, and others in
  it are often real.
- network/: all stations in one run. A detection (its earliest P pick) within
  2 s of an event's first_P_modelled is a hit, matched one to one, nearest
  first; unmatched detections inside an event's wave train (earliest
  P_modelled to latest S_modelled + 2 s) are re-triggers, the rest extras.
  The picks of a hit are judged against the P and S picks of its stations;
  picks on stations with no reference pick of their phase are not judged.
  Missed events' reference picks count as missed.
- Location, with `-- --stations FILE [--velocity-model FILE ...]` (network/
  alone, whose stations those are): an origin within 1.5 s of a reference
  origin in network/origins.csv is matched one to one, nearest first; the
  figures are the events located and the median epicentre distance (km),
  depth difference (km) and origin-time difference (s) over them.

usage: bench/real_data.py [--program PATH] [--folder DIR] [--json] [-- onset-detect flags]
Skips with a message where the folder is absent.
"""

import argparse
import csv
import datetime as dt
import json
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time
from collections import defaultdict

HERE = os.path.dirname(os.path.abspath(__file__))
PICK_WINDOW = 0.5  # s, a pick finds a reference this close
EVENT_WINDOW = 2.0  # s, a detection hits an event this close
ORIGIN_WINDOW = 1.5  # s, an origin matches a reference origin this close
CLOSE = 0.1  # s, the share of residuals within this is reported
PHASES = ("P", "S")


def seconds(text):
    """UTC ISO 8601 text to seconds since 1970."""
    return dt.datetime.fromisoformat(text.rstrip("Z")).replace(tzinfo=dt.timezone.utc).timestamp()


def detect(program, files, flags, origins=None):
    """Runs onset-detect on the files; returns its events, each a list of
    (station NET.STA, pick seconds, phase) in the order of the CSV. With
    `origins`, a path, the origins are written there too."""
    extra = ["--origins", origins] if origins else []
    out = subprocess.run([program, "--quiet", "--csv", *extra, *flags, *files], capture_output=True, text=True)
    if out.returncode != 0:
        raise SystemExit(f"onset-detect failed ({out.returncode}): {out.stderr.strip()}")
    events = defaultdict(list)
    for row in csv.DictReader(out.stdout.splitlines()):
        station = ".".join(row["trace"].split(".")[:2])
        events[int(row["event"])].append((station, seconds(row["pick"]), row["phase"]))
    return [events[k] for k in sorted(events)]


def median(values):
    values = sorted(values)
    n = len(values)
    return math.nan if n == 0 else 0.5 * (values[(n - 1) // 2] + values[n // 2])


def epicentre_km(lat1, lon1, lat2, lon2):
    """Great-circle distance on a sphere of 6371 km."""
    p1, p2 = math.radians(lat1), math.radians(lat2)
    a = math.sin((p2 - p1) / 2) ** 2 + math.cos(p1) * math.cos(p2) * math.sin(math.radians(lon2 - lon1) / 2) ** 2
    return 2 * 6371.0 * math.asin(math.sqrt(a))


def score_origins(path, references_path):
    """The origins written to `path` against the reference origins."""
    with open(references_path, newline="") as f:
        references = [r for r in csv.DictReader(f)]
    with open(path, newline="") as f:
        origins = [r for r in csv.DictReader(f) if r["status"] != "too few phases"]
    pairs = sorted((abs(seconds(o["time"]) - seconds(r["time_utc"])), i, k)
                   for i, o in enumerate(origins) for k, r in enumerate(references)
                   if abs(seconds(o["time"]) - seconds(r["time_utc"])) <= ORIGIN_WINDOW)
    matched, used = {}, set()
    for _, i, k in pairs:
        if i not in used and k not in matched:
            matched[k] = i
            used.add(i)
    epicentres, depths, times = [], [], []
    for k, i in matched.items():
        o, r = origins[i], references[k]
        epicentres.append(epicentre_km(float(o["latitude"]), float(o["longitude"]), float(r["latitude"]),
                                       float(r["longitude"])))
        depths.append(abs(float(o["depth_km"]) - float(r["depth_km"])))
        times.append(abs(seconds(o["time"]) - seconds(r["time_utc"])))
    return {"references": len(references), "origins": len(origins), "located": len(matched),
            "epicentre_km": median(epicentres), "depth_km": median(depths), "time_s": median(times),
            "large_gap": sum(o["status"] == "large gap" for o in origins)}


class Tally:
    """One phase's counts over a set: references, picks judged, residuals of
    the references found, duplicates and other false positives."""

    def __init__(self):
        self.references = self.picks = self.duplicates = self.false = 0
        self.residuals = []

    def judge(self, groups, reference):
        """One station's picks of the phase, one list per detected event,
        against its reference time."""
        self.references += 1
        kept = []
        for times in groups:
            if times:
                kept.append(min(times, key=lambda t: abs(t - reference)))
                self.picks += len(times)
                self.duplicates += len(times) - 1
        near = [t for t in kept if abs(t - reference) <= PICK_WINDOW]
        if near:
            self.residuals.append(min(near, key=lambda t: abs(t - reference)) - reference)
        self.false += len(kept) - bool(near)

    def figures(self):
        n = len(self.residuals)
        precision = n / self.picks if self.picks else math.nan
        recall = n / self.references if self.references else math.nan
        f1 = 2 * precision * recall / (precision + recall) if precision + recall > 0 else math.nan
        mean = sum(self.residuals) / n if n else math.nan
        std = math.sqrt(sum((r - mean) ** 2 for r in self.residuals) / (n - 1)) if n > 1 else math.nan
        close = sum(abs(r) <= CLOSE for r in self.residuals) / n if n else math.nan
        return {"references": self.references, "picks": self.picks, "found": n,
                "duplicates": self.duplicates, "false_positives": self.false + self.duplicates,
                "precision": precision, "recall": recall, "f1": f1,
                "mean": mean, "std": std, "within_0.1s": close}


def read_truth(path, key):
    """truth.csv as {key column: {station: {phase: seconds}}}."""
    truth = defaultdict(lambda: defaultdict(dict))
    with open(path) as f:
        for row in csv.DictReader(f):
            truth[row[key]][row["station"]][row["phase"]] = seconds(row["time_utc"])
    return truth


def score_picks(folder, program, flags, vertical_only):
    truth = read_truth(os.path.join(folder, "truth.csv"), "trace_id")
    mseed = os.path.join(folder, "mseed")
    names = sorted(os.listdir(mseed))
    tallies = {phase: Tally() for phase in PHASES}
    # The same, leaving out the events with no pick near a reference.
    labelled = {phase: Tally() for phase in PHASES}
    false_picks = apart = 0
    for trace_id, stations in sorted(truth.items()):
        (station, references), = stations.items()
        files = [os.path.join(mseed, n) for n in names if n.startswith(trace_id + ".")]
        if vertical_only:
            files = [f for f in files if f.endswith("Z.mseed")]
        events = detect(program, files, ["--min-stations", "1", *flags])
        near_events = []
        for event in events:
            false = sum(all(abs(t - r) > PICK_WINDOW for r in references.values()) for _, t, _ in event)
            false_picks += false
            apart += false if false == len(event) else 0
            if false < len(event):
                near_events.append(event)
        for phase in PHASES:
            for tally, judged in ((tallies, events), (labelled, near_events)):
                groups = [[t for s, t, p in event if p == phase] for event in judged]
                tally[phase].judge(groups, references[phase])
    result = {phase: tallies[phase].figures() for phase in PHASES}
    result.update(recordings=len(truth), false_picks=false_picks, false_picks_apart=apart,
                  labelled={phase: labelled[phase].figures() for phase in PHASES})
    return result


def score_network(folder, program, flags):
    truth = read_truth(os.path.join(folder, "truth.csv"), "event_id")
    mseed = os.path.join(folder, "mseed")
    locating = "--stations" in flags
    origins = os.path.join(tempfile.mkdtemp(prefix="onset-origins-"), "origins.csv") if locating else None
    detections = detect(program, [os.path.join(mseed, n) for n in sorted(os.listdir(mseed))], flags, origins)
    starts = [min([t for _, t, p in d if p == "P"] or [t for _, t, _ in d]) for d in detections]
    first_p = {k: e["*"]["first_P_modelled"] for k, e in truth.items()}
    pairs = sorted((abs(start - first_p[k]), i, k) for i, start in enumerate(starts)
                   for k in truth if abs(start - first_p[k]) <= EVENT_WINDOW)
    matched, used = {}, set()
    for _, i, k in pairs:
        if i not in used and k not in matched:
            matched[k] = i
            used.add(i)
    trains = [(min(s["P_modelled"] for s in e.values() if "P_modelled" in s),
               max(s["S_modelled"] for s in e.values() if "S_modelled" in s) + EVENT_WINDOW)
              for e in truth.values()]
    retriggers = sum(any(a <= starts[i] <= b for a, b in trains) for i in range(len(detections)) if i not in used)
    tallies = {phase: Tally() for phase in PHASES}
    unjudged = 0
    for k, event in truth.items():
        picks = detections[matched[k]] if k in matched else []
        for phase in PHASES:
            for station, references in event.items():
                if phase in references:
                    tallies[phase].judge([[t for s, t, p in picks if s.endswith("." + station) and p == phase]],
                                         references[phase])
            unjudged += sum(p == phase and phase not in event.get(s.split(".")[1], {}) for s, _, p in picks)
    result = {phase: tallies[phase].figures() for phase in PHASES}
    result.update(events=len(truth), found=len(matched), retriggers=retriggers,
                  extras=len(detections) - len(used) - retriggers, unjudged=unjudged)
    if locating:
        result["location"] = score_origins(origins, os.path.join(folder, "origins.csv"))
        shutil.rmtree(os.path.dirname(origins))
    return result


def table(results):
    lines = [f"{'set':<18}{'phase':<6}{'refs':>5}{'picks':>6}{'found':>6}{'dup':>5}{'FP':>5}"
             f"{'prec':>6}{'recall':>7}{'F1':>6}{'mean s':>8}{'std s':>7}{'<=0.1s':>7}"]
    for name, result in results.items():
        for phase in PHASES:
            f = result[phase]
            lines.append(f"{name:<18}{phase:<6}{f['references']:>5}{f['picks']:>6}{f['found']:>6}"
                         f"{f['duplicates']:>5}{f['false_positives']:>5}{f['precision']:>6.2f}{f['recall']:>7.2f}"
                         f"{f['f1']:>6.2f}{f['mean']:>+8.3f}{f['std']:>7.3f}{100 * f['within_0.1s']:>6.0f}%")
    for name, result in results.items():
        if "false_picks" in result:
            n = result["recordings"]
            lines.append(f"{name}: {n} recordings, false picks (near neither reference) "
                         f"{result['false_picks']} ({result['false_picks'] / n:.2f} per recording), "
                         f"{result['false_picks_apart']} of them in events with no pick near a reference "
                         f"(other earthquakes in the recording, or noise)")
            f = result["labelled"]
            lines.append(f"{name}: without those events, " + ", ".join(
                f"{phase} {f[phase]['found']} found, {f[phase]['false_positives']} FP, F1 {f[phase]['f1']:.2f}"
                for phase in PHASES))
        else:
            lines.append(f"{name}: events found {result['found']}/{result['events']}, re-triggers "
                         f"{result['retriggers']}, extras {result['extras']}; picks on stations without "
                         f"a reference of their phase (not judged) {result['unjudged']}")
        if "location" in result:
            f = result["location"]
            lines.append(f"{name}: located {f['located']}/{f['references']} (of {f['origins']} origins, "
                         f"{f['large_gap']} with a large gap); median epicentre {f['epicentre_km']:.2f} km, "
                         f"depth {f['depth_km']:.2f} km, origin time {f['time_s']:.3f} s")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=os.path.join(HERE, "..", "build", "tools", "onset-detect", "onset-detect"))
    parser.add_argument("--folder", default=os.path.join(HERE, "..", "..", "shared", "realdata"))
    parser.add_argument("--json", action="store_true", help="print the figures as JSON")
    parser.add_argument("flags", nargs="*", help="further onset-detect flags (after --)")
    args = parser.parse_args()
    if not os.path.isdir(args.folder):
        print(f"real data: {args.folder} is absent; skipped")
        return
    started = time.monotonic()
    results = {}
    picks = os.path.join(args.folder, "picks")
    # Station metadata are the network's: the single stations are not located.
    if os.path.isfile(os.path.join(picks, "truth.csv")) and "--stations" not in args.flags:
        results["picks/ all"] = score_picks(picks, args.program, args.flags, vertical_only=False)
        results["picks/ vertical"] = score_picks(picks, args.program, args.flags, vertical_only=True)
    network = os.path.join(args.folder, "network")
    if os.path.isfile(os.path.join(network, "truth.csv")):
        results["network/"] = score_network(network, args.program, args.flags)
    if args.json:
        # JSON has no NaN: a figure without data is null.
        print(json.dumps(results, indent=1).replace("NaN", "null"))
    else:
        print(table(results))
        print(f"({time.monotonic() - started:.1f} s)")


if __name__ == "__main__":
    sys.exit(main())
