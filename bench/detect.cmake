# The detection engine on a very large network (a plain program: it reports
# memory, which Google Benchmark does not).
add_executable(detect_many_channels detect_many_channels.cpp)
target_link_libraries(detect_many_channels PRIVATE onset_detect OpenMP::OpenMP_CXX)

# The locator on a synthetic day of picks (a plain program, like the one
# above).
add_executable(locate_events locate_events.cpp)
target_link_libraries(locate_events PRIVATE onset_detect_internal OpenMP::OpenMP_CXX)

# The engine's band-pass, direct against FFT blocks.
onset_add_benchmark(bench_bandpass SOURCES bench_bandpass.cpp)
target_link_libraries(bench_bandpass PRIVATE onset_detect_internal)

# A station of three components against a vertical alone.
onset_add_benchmark(bench_station_day SOURCES bench_station_day.cpp)
target_link_libraries(bench_station_day PRIVATE onset_detect OpenMP::OpenMP_CXX)
