# Benchmarks of the filter area.
onset_add_benchmark(bench_filter SOURCES bench_filter.cpp INTERNAL)
