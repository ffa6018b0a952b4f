"""Shared fixtures: the package from this checkout, a seeded generator, the
command line of the same build and the synthetic network it writes."""

import os
import re
import subprocess
import sys
from pathlib import Path

import numpy as np
import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(PYTHON_DIR))


@pytest.fixture
def rng():
    return np.random.default_rng(20240607)


# The build the suite runs against (make test names it in ONSET_LIBRARY).
BUILD_DIR = Path(os.environ.get("ONSET_LIBRARY", PYTHON_DIR.parent / "build" / "libonset.so")).parent
PROGRAM = BUILD_DIR / "tools" / "onset-detect" / "onset-detect"


@pytest.fixture(scope="session")
def command_line():
    """Runs onset-detect with arguments; returns (stdout, stderr)."""
    if not PROGRAM.exists():
        pytest.skip(f"no {PROGRAM} (make build builds it)")

    def run(*arguments):
        done = subprocess.run([str(PROGRAM), *map(str, arguments)], capture_output=True,
                              text=True, timeout=300)
        assert done.returncode == 0, done.stderr
        return done.stdout, done.stderr
    return run


@pytest.fixture(scope="session")
def synthetic_archive(command_line, tmp_path_factory):
    """The built-in network (8 stations, 300 s) as an SDS archive."""
    root = tmp_path_factory.mktemp("synthetic") / "sds"
    command_line("--write-synthetic", root)
    return root


def without_run(text):
    """QuakeML or NonLinLoc text with what differs from run to run (the
    resource id prefix, the creation time) masked, to compare two runs."""
    text = re.sub(r"smi:local/onset/[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}",
                  "smi:local/onset/RUN", text)
    return re.sub(r"<creationTime>[0-9T:.-]{26}Z</creationTime>", "<creationTime>TIME</creationTime>", text)
