#!/usr/bin/env python3
"""What locating costs: onset-detect over its synthetic network written as
an SDS archive (100 stations by default, a day: about 1,700 events), read
as recordings are, with and without --stations and --velocity-model, runs
alternating, and the medians of their processor time (user + system) side
by side. (--demo would count the making of the samples too, which costs
more than their detection.)

usage: bench/located_day.py [--program PATH] [--stations N] [--duration S] [--repeats N]
"""

import argparse
import os
import resource
import statistics
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))


def processor_seconds(command):
    """The processor time of one run of `command` and its wall time."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    started = time.monotonic()
    done = subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    wall = time.monotonic() - started
    if done.returncode != 0:
        raise SystemExit(f"{' '.join(command)} failed: {done.stderr.strip()}")
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime, wall, done.stderr


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--program", default=os.path.join(HERE, "..", "build", "tools", "onset-detect", "onset-detect"))
    parser.add_argument("--stations", type=int, default=100)
    parser.add_argument("--duration", type=float, default=86400.0)
    parser.add_argument("--repeats", type=int, default=3)
    args = parser.parse_args()
    network = ["--synthetic-stations", str(args.stations)]
    with tempfile.TemporaryDirectory(prefix="onset-located-") as folder:
        stations, model = os.path.join(folder, "stations.csv"), os.path.join(folder, "model.csv")
        archive = os.path.join(folder, "sds")
        subprocess.run([args.program, "--write-synthetic", archive, *network, "--synthetic-duration",
                        str(args.duration), "--stations", stations, "--velocity-model", model],
                       check=True, stdout=subprocess.DEVNULL)
        read = [args.program, "--sds", archive, "--csv"]
        runs = {"grouped": read, "located": read + ["--stations", stations, "--velocity-model", model]}
        times = {name: [] for name in runs}
        for _ in range(args.repeats):
            for name, command in runs.items():
                seconds, wall, said = processor_seconds(command)
                times[name].append(seconds)
                written = next((line for line in said.splitlines() if "events written" in line), "")
                print(f"{name:8} {seconds:7.2f} core-s  {wall:6.1f} s  {written}", flush=True)
    grouped, located = (statistics.median(times[name]) for name in runs)
    print(f"{args.stations} stations, {args.duration:g} s: median {grouped:.2f} core-s grouped, {located:.2f} "
          f"located: +{100 * (located / grouped - 1):.1f}%")


if __name__ == "__main__":
    main()
