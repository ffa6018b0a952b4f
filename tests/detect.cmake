# The multi-station detector's end-to-end tests.
