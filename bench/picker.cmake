# Benchmarks of the picker area.
