# The Python binding's tests, run with Debian's interpreter (it has numpy)
# against the library of this build. pytest's own cache stays out of the tree.
.PHONY: test-python
test-python:
	ONSET_LIBRARY=$(abspath $(BUILD))/libonset.so $(PYTHON) -m pytest -q -p no:cacheprovider python/tests
