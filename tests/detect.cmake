# The multi-station detector's end-to-end tests: its stages on the built-in
# network, miniSEED round trips, and the program's command line.
if(ONSET_BUILD_TOOLS)
  onset_add_test(test_detect SOURCES
    detect/test_synthetic.cpp
    detect/test_miniseed.cpp
    detect/test_command_line.cpp
    detect/mseed_writer.cpp)
  target_link_libraries(test_detect PRIVATE onset_detect_core)
  target_compile_definitions(test_detect PRIVATE
    ONSET_DETECT_PROGRAM="$<TARGET_FILE:onset-detect>")
  add_dependencies(test_detect onset-detect)
endif()
