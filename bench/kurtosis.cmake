# Benchmarks of the kurtosis area.
