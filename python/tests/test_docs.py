"""The examples in the docstrings and the README run, and help(onset) shows the whole interface."""

import doctest
import os
import pydoc
import subprocess
import sys

import pytest

import onset
from conftest import PYTHON_DIR
from onset import characteristic, detection, detector, filterbank, grouping


@pytest.mark.parametrize("module", [onset, characteristic, detection, detector, filterbank, grouping])
def test_docstring_examples(module):
    result = doctest.testmod(module, optionflags=doctest.ELLIPSIS)
    assert result.attempted > 0 and result.failed == 0


def test_help_lists_the_interface():
    text = pydoc.render_doc(onset, renderer=pydoc.plaintext)
    for name in onset.__all__:
        assert name in text
    for function in (onset.kurtosis, onset.kurtosis_batch, onset.max_jump, onset.max_jump_batch,
                     onset.cdotx, onset.captures, onset.FilterBank, onset.FilterBank.decompose,
                     onset.detect, onset.Detector):
        assert ">>>" in function.__doc__


def test_readme_detector_example_runs(synthetic_archive, tmp_path):
    readme = (PYTHON_DIR.parent / "README.md").read_text()
    section = readme[readme.index("## Python\n"):]
    example = section[section.index("```python\n") + 10:section.index("```\n", section.index("```python\n"))]
    assert "onset.detect(traces)" in example and "result.plot(" in example
    code = example.replace("/tmp/onset-synthetic", str(synthetic_archive))
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                            cwd=tmp_path, env={**os.environ, "PYTHONPATH": str(PYTHON_DIR)},
                            timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.startswith("Detection(5 events, ")
    for written in ("events.csv", "events.xml", "events.obs", "events.png"):
        assert (tmp_path / written).stat().st_size > 1000
