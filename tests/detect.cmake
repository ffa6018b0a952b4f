# The detection engine: its stages against direct computations and its C
# interface on the synthetic network; the command line and its reading of
# files, folders and archives; and a host written in C.
if(ONSET_BUILD_TOOLS)
  onset_add_test(test_detect SOURCES
    detect/test_engine.cpp
    detect/test_first_motion.cpp
    detect/test_options.cpp
    detect/test_run.cpp
    detect/test_stages.cpp
    detect/test_agreement.cpp
    detect/test_intake.cpp
    detect/test_bandpass_blocks.cpp
    detect/test_reading.cpp
    detect/test_bad_input.cpp
    detect/test_command_line.cpp
    detect/test_outputs.cpp
    detect/test_station_options.cpp
    detect/test_located_events.cpp
    detect/test_station_picks.cpp
    detect/test_same_arrivals.cpp
    detect/test_confirmed_events.cpp
    detect/mseed_writer.cpp
    COST 60)
  target_link_libraries(test_detect PRIVATE onset_detect_internal onset_detect_tool)
  target_compile_definitions(test_detect PRIVATE
    ONSET_DETECT_PROGRAM="$<TARGET_FILE:onset-detect>")
  add_dependencies(test_detect onset-detect)
endif()

add_executable(detect_host_c detect/host.c)
target_link_libraries(detect_host_c PRIVATE onset_detect m)
target_compile_options(detect_host_c PRIVATE -Werror)
add_test(NAME detect.host_c COMMAND detect_host_c)

add_test(NAME detect.exports
  COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:onset_detect>
          -DEXPECTED=${CMAKE_CURRENT_SOURCE_DIR}/detect/exports.txt
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.cmake)

# The SeedLink client against a test server in Python on the loopback. It
# runs no OpenMP, so once.
add_executable(test_seedlink detect/test_seedlink.cpp detect/mseed_writer.cpp)
target_link_libraries(test_seedlink PRIVATE onset_detect_internal GTest::gtest_main)
onset_reuse_gtest_header(test_seedlink)
target_compile_definitions(test_seedlink PRIVATE
  ONSET_SEEDLINK_SERVER="${CMAKE_CURRENT_SOURCE_DIR}/detect/seedlink_server.py")
add_test(NAME detect.seedlink COMMAND test_seedlink)

# Live runs of onset-detect against the same server, and records fed whole.
if(ONSET_BUILD_TOOLS)
  add_executable(test_live detect/test_live.cpp detect/mseed_writer.cpp)
  target_link_libraries(test_live PRIVATE onset_detect_internal onset_detect_tool GTest::gtest_main)
  onset_reuse_gtest_header(test_live)
  target_compile_definitions(test_live PRIVATE
    ONSET_SEEDLINK_SERVER="${CMAKE_CURRENT_SOURCE_DIR}/detect/seedlink_server.py"
    ONSET_DETECT_PROGRAM="$<TARGET_FILE:onset-detect>")
  add_dependencies(test_live onset-detect)
  add_test(NAME detect.live COMMAND test_live)
  set_tests_properties(detect.live PROPERTIES COST 30)
endif()

# Station metadata, velocity models, travel times and location, against
# closed forms and synthetic networks with exact arrivals.
onset_add_test(test_location SOURCES
  detect/test_location_tables.cpp
  detect/test_location_locator.cpp
  detect/test_location_metadata.cpp)
target_link_libraries(test_location PRIVATE onset_detect_internal)
