# Suites of the filter area.
