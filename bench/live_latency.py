#!/usr/bin/python3
"""Real-time detection: onset-detect --seedlink against the test SeedLink
server (tests/detect/seedlink_server.py) serving the built-in network.

load: STATIONS stations at 100 Hz served in real time for SECONDS. Measures
  the latency of each pick from the arrival of its own record to its line in
  --picks, and of each event from the arrival of its earliest pick to its
  rows on stdout (the grouping holds an event `wait` seconds after its
  earliest pick), and the share of one core onset-detect takes.
memory: the same sped up, over hours: onset-detect's resident memory as the
  run goes.

Records are 512 bytes, 56 float64 samples (0.56 s at 100 Hz): shorter than
the Steim-2 records of real stations (2 to 8 s), so more records per second
to handle, and their own span left out of the latencies.

    /usr/bin/python3 bench/live_latency.py                  # both: about 15 minutes
    /usr/bin/python3 bench/live_latency.py --only load --seconds 300
    /usr/bin/python3 bench/live_latency.py --only load --flags "--threshold 6"
"""

import argparse
import os
import select
import signal
import statistics
import struct
import subprocess
import sys
import tempfile
import time
from datetime import datetime, timezone
from pathlib import Path

HERE = Path(__file__).resolve().parent
SERVER = HERE.parent / "tests" / "detect" / "seedlink_server.py"
sys.path.insert(0, str(HERE.parent / "python"))

RATE = 100.0
PER_RECORD = 56  # float64 samples after a 64-byte header


def record(station, start_us, samples, sequence):
    """A 512-byte miniSEED 2 record of XX.STA..HHZ, big-endian float64."""
    seconds, micro = divmod(start_us, 1000000)
    t = datetime.fromtimestamp(seconds, timezone.utc)
    header = struct.pack(">6scc5s2s3s2sHHBBBBHHhhBBBBiHH", b"%06d" % (sequence % 1000000), b"D", b" ",
                         station.encode().ljust(5), b"  ", b"HHZ", b"XX", t.year, t.timetuple().tm_yday, t.hour,
                         t.minute, t.second, 0, micro // 100, len(samples), int(RATE), 1, 0, 0, 0, 1, 0, 64, 48)
    blockette = struct.pack(">HHBBBB", 1000, 0, 5, 1, 9, 0)
    data = struct.pack(">%dd" % len(samples), *samples)
    # The data begin at byte 64, as the header says.
    return ((header + blockette).ljust(64, b"\0") + data).ljust(512, b"\0")


def write_network(program, folder, stations, seconds):
    """The built-in network as 512-byte records, a file per station; returns
    the files and the earliest record end (where the server's clock starts)."""
    import onset

    archive = folder / "sds"
    subprocess.run([str(program), "--write-synthetic", str(archive), "--synthetic-stations", str(stations),
                    "--synthetic-duration", str(seconds)], check=True, capture_output=True)
    files, first_end = [], None
    for trace in onset.read(str(archive)):
        start = int(trace.stats.starttime.astype("datetime64[us]").astype("int64"))
        path = folder / (trace.id + ".mseed")
        with open(path, "wb") as out:
            for n, at in enumerate(range(0, len(trace.data), PER_RECORD)):
                piece = trace.data[at:at + PER_RECORD]
                out.write(record(trace.stats.station, start + round(at * 1e6 / RATE), piece.tolist(), n + 1))
        end = start + round(min(PER_RECORD, len(trace.data)) * 1e6 / RATE)
        first_end = end if first_end is None else min(first_end, end)
        files.append(str(path))
    return files, first_end, start


def microseconds(text):
    """2024-01-01T00:00:23.390Z as microseconds since 1970."""
    t = datetime.strptime(text, "%Y-%m-%dT%H:%M:%S.%fZ").replace(tzinfo=timezone.utc)
    return round(t.timestamp() * 1e6)


def process_load(pid):
    """CPU seconds used so far and resident memory in MiB."""
    with open(f"/proc/{pid}/stat") as f:
        fields = f.read().rsplit(")", 1)[1].split()
    cpu = (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    with open(f"/proc/{pid}/status") as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:")) / 1024
    return cpu, rss


def live_run(program, files, first_end, data_start, speed, seconds, folder, flags):
    """Serves the files at `speed`, runs onset-detect on them and stops it
    once everything was served; returns the pick and event rows with the
    monotonic time each was read, the server's start, and load samples
    (time, cpu seconds, MiB)."""
    server = subprocess.Popen(["/usr/bin/python3", str(SERVER), "--speed", str(speed), "--lifetime",
                               str(seconds / speed + 120)] + files, stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    port = server.stdout.readline().decode().strip()
    served_from = time.monotonic()  # the server's clock starts just before it says its port
    fifo = folder / "picks"
    if fifo.exists():
        fifo.unlink()
    os.mkfifo(fifo)
    picks_in = os.open(fifo, os.O_RDONLY | os.O_NONBLOCK)
    detector = subprocess.Popen([str(program), "--seedlink", "127.0.0.1:" + port, "--channels", "XX.*..HHZ",
                                 "--csv", "--picks", str(fifo), "--quiet"] + flags, stdout=subprocess.PIPE)
    streams = {detector.stdout.fileno(): [b"", []], picks_in: [b"", []]}
    samples, stop_at, stopped = [], served_from + seconds / speed + 5, None
    open_streams = set(streams)
    while open_streams:
        ready, _, _ = select.select(list(open_streams), [], [], 1.0)
        now = time.monotonic()
        for fd in ready:
            chunk = os.read(fd, 65536)
            if not chunk:
                open_streams.discard(fd)
                continue
            pending = streams[fd][0] + chunk
            *lines, streams[fd][0] = pending.split(b"\n")
            streams[fd][1].extend((now, line.decode()) for line in lines)
        if stopped is None:
            if not samples or now - samples[-1][0] >= 1.0:
                samples.append((now, *process_load(detector.pid)))
            if now >= stop_at:
                stopped = now
                detector.send_signal(signal.SIGTERM)
    detector.wait()
    os.close(picks_in)
    server.stdin.close()
    server.wait()
    # Rows read after the stop signal were flushed by it, not made final by data.
    picks = [(t, row) for t, row in streams[picks_in][1][1:] if t < stopped]
    events = [(t, row) for t, row in streams[detector.stdout.fileno()][1][1:] if t < stopped]
    return picks, events, served_from, samples


def arrival(data_time, data_start, first_end, served_from, speed):
    """When the server sent the record holding the sample at data_time."""
    step = PER_RECORD * 1e6 / RATE
    record_end = data_start + (int((data_time - data_start) // step) + 1) * step
    return served_from + (record_end - first_end) / 1e6 / speed


def load(args, program, folder):
    import onset._engine as engine

    files, first_end, data_start = write_network(program, folder, args.stations, args.seconds)
    picks, events, served_from, samples = live_run(program, files, first_end, data_start, 1.0, args.seconds, folder,
                                                   args.flags.split())
    delays = {"P": [], "S": []}
    for t, row in picks:
        fields = row.split(",")  # trace,pick,strength,phase,...
        time_text, phase = fields[1], fields[3]
        delays[phase].append(t - arrival(microseconds(time_text), data_start, first_end, served_from, 1.0))
    seen, event_delays = set(), []
    for t, row in events:
        number, earliest = row.split(",")[:2]
        if number not in seen:
            seen.add(number)
            event_delays.append(t - arrival(microseconds(earliest), data_start, first_end, served_from, 1.0))
    wait = engine.reach(detection_options(args.flags), 100.0).wait
    busy = [s for s in samples if s[0] >= served_from + 10]
    share = (busy[-1][1] - busy[0][1]) / (busy[-1][0] - busy[0][0])
    print(f"load: {args.stations} stations at 100 Hz in real time for {args.seconds} s")
    for phase, values in delays.items():
        if values:
            print(f"  {phase} picks: {len(values)}, latency from their record's arrival: median "
                  f"{statistics.median(values):.2f} s, 10% {quantile(values, 0.1):.2f} s, 90% {quantile(values, 0.9):.2f} s")
    print(f"  events: {len(event_delays)}, latency from their earliest pick's arrival: median "
          f"{statistics.median(event_delays):.2f} s (the grouping holds {wait:.1f} s), "
          f"90% {quantile(event_delays, 0.9):.2f} s")
    print(f"  onset-detect: {100 * share:.1f}% of one core, {busy[-1][2]:.0f} MiB resident at the end")


def memory(args, program, folder):
    seconds = args.hours * 3600
    files, first_end, data_start = write_network(program, folder, args.memory_stations, seconds)
    _, _, served_from, samples = live_run(program, files, first_end, data_start, args.speed, seconds, folder,
                                          args.flags.split())
    print(f"memory: {args.memory_stations} stations over {args.hours:g} h served {args.speed:g}x real time")
    marks = [samples[min(len(samples) - 1, round(f * (len(samples) - 1)))] for f in (0.1, 0.25, 0.5, 0.75, 1.0)]
    print("  resident MiB at 10/25/50/75/100% of the run: " + " ".join(f"{m[2]:.1f}" for m in marks))
    print(f"  onset-detect: {100 * (samples[-1][1] - samples[0][1]) / (samples[-1][0] - samples[0][0]):.1f}% of one "
          f"core at {args.speed:g}x")


def detection_options(flags):
    """The engine's options that --flags sets: --threshold 6 as threshold=6."""
    words = flags.split()
    return {name[2:].replace("-", "_"): int(value) if value.isdigit() else float(value)
            for name, value in zip(words[::2], words[1::2])}


def quantile(values, q):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(q * len(ordered)))]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=str(HERE.parent / "build"))
    parser.add_argument("--only", choices=("load", "memory"))
    parser.add_argument("--stations", type=int, default=100)
    parser.add_argument("--seconds", type=int, default=600, help="of the real-time run")
    parser.add_argument("--memory-stations", type=int, default=20)
    parser.add_argument("--hours", type=float, default=4.0, help="of data in the sped-up run")
    parser.add_argument("--speed", type=float, default=60.0, help="of the sped-up run")
    parser.add_argument("--flags", default="", help="detection flags for onset-detect, such as '--threshold 6'")
    args = parser.parse_args()
    program = Path(args.build) / "tools" / "onset-detect" / "onset-detect"
    if not program.exists():
        sys.exit(f"no {program}: build first (make build)")
    os.environ.setdefault("ONSET_LIBRARY", str(Path(args.build) / "libonset.so"))
    with tempfile.TemporaryDirectory() as folder:
        if args.only in (None, "load"):
            load(args, program, Path(folder))
        if args.only in (None, "memory"):
            memory(args, program, Path(folder))


if __name__ == "__main__":
    main()
