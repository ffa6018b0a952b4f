"""What the Python benchmarks share: their command line, the onset-detect
they time against, and the synthetic SDS archive they run on."""

import argparse
import subprocess
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent


def arguments(doc, runs):
    parser = argparse.ArgumentParser(description=doc.split("\n")[0])
    parser.add_argument("--build", default=str(HERE.parent / "build"))
    parser.add_argument("--runs", type=int, default=runs)
    parser.add_argument("--keep", help="keep the archive in this folder (written once, reused)")
    return parser.parse_args()


def onset_detect(build):
    """The build's onset-detect; exits when it has not been built."""
    program = build / "tools" / "onset-detect" / "onset-detect"
    if not program.exists():
        sys.exit(f"no {program}: build first (make build)")
    return program


def synthetic_archive(program, folder, stations, days):
    """The synthetic network of `stations` over `days`, written under
    `folder` unless it is there already."""
    archive = Path(folder) / f"sds-{stations}x{days}"
    if not archive.is_dir():
        subprocess.run([str(program), "--write-synthetic", str(archive), "--synthetic-stations",
                        str(stations), "--synthetic-duration", str(days * 86400)],
                       check=True, capture_output=True)
    return archive
