# Suites of the picker area.
