# Suites of the jumps area.
