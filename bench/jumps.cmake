# Benchmarks of the jumps area.
