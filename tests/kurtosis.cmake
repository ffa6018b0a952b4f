# Suites of the kurtosis area.
