# The Python binding's tests.
.PHONY: test-python
test-python:
