# The multi-station detector's end-to-end tests: its stages on the built-in
# network, miniSEED round trips, and the program's command line.
if(ONSET_BUILD_TOOLS)
  onset_add_test(test_detect SOURCES
    detect/test_synthetic.cpp
    detect/mseed_writer.cpp)
  target_link_libraries(test_detect PRIVATE onset_detect_core)
endif()
