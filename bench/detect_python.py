#!/usr/bin/env python3
"""onset.detect_files against onset-detect on a synthetic day: 8 stations at
100 Hz as an SDS archive, runs alternating side by side in one process,
medians and their ratio; both must find the same events.

Each run is timed as a whole program (the interpreter's start and the
import of numpy and onset included for Python), and onset.detect_files also
inside the interpreter.

usage: bench/detect_python.py [--build BUILD] [--runs N] [--keep DIR]
"""

import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from synthetic_run import HERE, arguments, onset_detect, synthetic_archive

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
    args = arguments(__doc__, runs=5)
    build = Path(args.build).resolve()
    program = onset_detect(build)
    env = {**os.environ, "PYTHONPATH": str(HERE.parent / "python"),
           "ONSET_LIBRARY": str(build / "libonset.so")}
    with tempfile.TemporaryDirectory() as work:
        archive = synthetic_archive(program, args.keep or work, stations=8, days=1)
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
