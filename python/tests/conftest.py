"""Shared fixtures: the package from this checkout, a seeded generator."""

import sys
from pathlib import Path

import numpy as np
import pytest

PYTHON_DIR = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(PYTHON_DIR))


@pytest.fixture
def rng():
    return np.random.default_rng(20240607)
