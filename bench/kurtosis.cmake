# Benchmarks of the kurtosis area.
onset_add_benchmark(bench_kurtosis SOURCES bench_kurtosis.cpp)
onset_add_benchmark(bench_kurtosis_lanes SOURCES bench_kurtosis_lanes.cpp INTERNAL)
