"""The examples in the docstrings run, and help(onset) shows the whole interface."""

import doctest
import pydoc

import pytest

import onset
from onset import characteristic, detection, filterbank, grouping


@pytest.mark.parametrize("module", [onset, characteristic, detection, filterbank, grouping])
def test_docstring_examples(module):
    result = doctest.testmod(module, optionflags=doctest.ELLIPSIS)
    assert result.attempted > 0 and result.failed == 0


def test_help_lists_the_interface():
    text = pydoc.render_doc(onset, renderer=pydoc.plaintext)
    for name in onset.__all__:
        assert name in text
    for function in (onset.kurtosis, onset.kurtosis_batch, onset.max_jump, onset.max_jump_batch,
                     onset.cdotx, onset.captures, onset.FilterBank, onset.FilterBank.decompose,
                     onset.detect):
        assert ">>>" in function.__doc__
