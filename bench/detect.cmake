# The detection engine on a very large network (a plain program: it reports
# memory, which Google Benchmark does not).
add_executable(detect_many_channels detect_many_channels.cpp)
target_link_libraries(detect_many_channels PRIVATE onset_detect OpenMP::OpenMP_CXX)
