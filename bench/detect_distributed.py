#!/usr/bin/env python3
"""onset.distributed.detect_archive on a local Dask cluster of 2 worker
processes against one of 1, on a synthetic SDS archive of 8 stations over 4
days in blocks of a day: runs alternating side by side, medians and their
ratio, each worker's peak memory, and the projection to 100 stations over a
year from the measured cost of a station-day. Both clusters must find the
events of onset-detect.

Each worker has one thread (Dask's nanny sets OMP_NUM_THREADS=1); the
clusters start before the timing and the time of a run is that of the
detect_archive call.

usage: bench/detect_distributed.py [--build BUILD] [--runs N] [--keep DIR]
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from synthetic_run import HERE, arguments, onset_detect, synthetic_archive

STATIONS, DAYS = 8, 4


def peak_mib():
    import resource
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024


def main():
    args = arguments(__doc__, runs=3)
    build = Path(args.build).resolve()
    program = onset_detect(build)
    # The workers are spawned: they find the package and the library as this
    # process does.
    os.environ["ONSET_LIBRARY"] = str(build / "libonset.so")
    os.environ["PYTHONPATH"] = str(HERE.parent / "python")
    sys.path.insert(0, str(HERE.parent / "python"))
    from distributed import Client, LocalCluster
    from onset.distributed import detect_archive

    with tempfile.TemporaryDirectory() as work:
        archive = synthetic_archive(program, args.keep or work, STATIONS, DAYS)
        expected = subprocess.run([str(program), "--quiet", "--csv", "--sds", str(archive)],
                                  check=True, capture_output=True, text=True).stdout
        clusters = {n: LocalCluster(n_workers=n, threads_per_worker=1, processes=True,
                                    dashboard_address=":0") for n in (1, 2)}
        clients = {n: Client(cluster) for n, cluster in clusters.items()}
        idle = {n: max(c.run(peak_mib).values()) for n, c in clients.items()}
        times = {1: [], 2: []}
        for _ in range(args.runs):
            for n, client in clients.items():
                started = time.perf_counter()
                found = detect_archive(archive, client=client)
                times[n].append(time.perf_counter() - started)
                if found.to_csv() != expected:
                    sys.exit(f"{n} worker(s) and onset-detect found different events")
        peaks = {n: max(c.run(peak_mib).values()) for n, c in clients.items()}
        for n in clients:
            clients[n].close()
            clusters[n].close()

    one, two = (statistics.median(times[n]) for n in (1, 2))
    station_day = one / (STATIONS * DAYS)
    year = 100 * 365 * station_day / 3600
    print(f"{STATIONS} stations x {DAYS} days at 100 Hz in blocks of a day, {args.runs} run(s) "
          f"each, alternating; both find onset-detect's {expected.count(chr(10)) - 1} picks")
    print(f"1 worker:  median {one:.2f} s   runs {' '.join(f'{t:.2f}' for t in times[1])}")
    print(f"2 workers: median {two:.2f} s   runs {' '.join(f'{t:.2f}' for t in times[2])}")
    print(f"ratio 1 / 2 workers: {one / two:.2f}x")
    print(f"peak memory of a worker: {peaks[1]:.0f} MiB after the runs, {idle[1]:.0f} MiB idle "
          f"(1 worker); {peaks[2]:.0f} and {idle[2]:.0f} MiB (2 workers)")
    print(f"a station-day costs {station_day:.3f} worker-seconds: 100 stations x 1 year "
          f"(36,500 station-days) = {year:.1f} worker-hours; {year * two / one:.1f} h on 2 "
          f"workers at the measured ratio, at best {year / 32:.2f} h on 32")

if __name__ == "__main__":
    main()
