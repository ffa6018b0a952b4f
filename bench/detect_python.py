#!/usr/bin/env python3
"""onset.detect_files against onset-detect on a synthetic day: 8 stations at
100 Hz as an SDS archive, runs alternating side by side in one process,
medians and their ratio; both must find the same events.

Each run is timed as a whole program (the interpreter's start and the
import of numpy and onset included for Python), and onset.detect_files also
inside the interpreter.

usage: bench/detect_python.py [--build BUILD] [--runs N] [--keep DIR]
"""

import argparse
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
PYTHON = "/usr/bin/python3"  # Debian's, with numpy

TIMED = """
import sys, time
started = time.perf_counter()
import onset
imported = time.perf_counter()
csv = onset.detect_files(sys.argv[1]).to_csv()
done = time.perf_counter()
sys.stdout.write(csv)
sys.stderr.write(f"{imported - started} {done - imported}\\n")
"""


def wall(command, **extra):
    started = time.perf_counter()
    done = subprocess.run(command, capture_output=True, text=True, check=True, **extra)
    return time.perf_counter() - started, done


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", default=str(HERE.parent / "build"))
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--keep", help="keep the archive in this folder (written once, reused)")
    args = parser.parse_args()
    build = Path(args.build).resolve()
    program = build / "tools" / "onset-detect" / "onset-detect"
    if not program.exists():
        sys.exit(f"no {program}: build first (make build)")
    env = {**os.environ, "PYTHONPATH": str(HERE.parent / "python"),
           "ONSET_LIBRARY": str(build / "libonset.so")}
    with tempfile.TemporaryDirectory() as work:
        archive = Path(args.keep or work) / "sds-8x1"
        if not archive.is_dir():
            subprocess.run([str(program), "--write-synthetic", str(archive),
                            "--synthetic-duration", "86400"], check=True, capture_output=True)
        tool, python, inside, imports = [], [], [], []
        for _ in range(args.runs):
            seconds, done = wall([str(program), "--quiet", "--csv", "--sds", str(archive)])
            tool.append(seconds)
            expected = done.stdout
            seconds, done = wall([PYTHON, "-c", TIMED, str(archive)], env=env)
            python.append(seconds)
            imported, detecting = map(float, done.stderr.split())
            imports.append(imported)
            inside.append(detecting)
            if done.stdout != expected:
                sys.exit("onset.detect_files and onset-detect found different events")
    samples = 8 * 86400 * 100
    m_tool, m_python, m_inside = (statistics.median(v) for v in (tool, python, inside))
    print(f"8 stations x 1 day at 100 Hz ({samples / 1e6:.1f} M samples), {args.runs} runs each, "
          f"alternating; both find the same {expected.count(chr(10)) - 1} picks")
    print(f"onset-detect:                median {m_tool:.2f} s ({samples / m_tool / 1e6:.1f} M samples/s)")
    print(f"onset.detect_files, program: median {m_python:.2f} s "
          f"(of which importing onset {statistics.median(imports):.2f} s)")
    print(f"onset.detect_files, call:    median {m_inside:.2f} s")
    print(f"ratio Python / command line: {m_python / m_tool:.2f}x as programs, "
          f"{m_inside / m_tool:.2f}x for the call")
    print("runs (s): onset-detect " + " ".join(f"{t:.2f}" for t in tool) +
          "; python " + " ".join(f"{t:.2f}" for t in python))


if __name__ == "__main__":
    main()
