# Benchmarks of the filter area.
