# The Python binding's tests, run with Debian's interpreter (it has numpy)
# against the library of this build. pytest's own cache stays out of the tree.
.PHONY: test-python bench-peers
test-python:
	ONSET_LIBRARY=$(abspath $(BUILD))/libonset.so $(PYTHON) -m pytest -q -p no:cacheprovider python/tests

# onset through the binding against pandas, bottleneck and pywt, one thread.
bench-peers:
	ONSET_LIBRARY=$(abspath $(BUILD))/libonset.so $(PYTHON) bench/peers.py

# The detector on real recordings with reference picks (skips without them).
.PHONY: bench-real
bench-real: build
	$(PYTHON) bench/real_data.py --program $(BUILD)/tools/onset-detect/onset-detect
