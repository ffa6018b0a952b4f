# Benchmarks of the picker area.
onset_add_benchmark(bench_captures SOURCES bench_captures.cpp)
