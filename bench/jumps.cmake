# Benchmarks of the jumps area.
onset_add_benchmark(bench_jumps SOURCES bench_jumps.cpp)
