# The shared library exports the public functions and nothing else.
add_test(NAME library.exports
  COMMAND ${CMAKE_COMMAND} -DLIBRARY=$<TARGET_FILE:onset>
          -DEXPECTED=${PROJECT_SOURCE_DIR}/cmake/onset.map
          -P ${CMAKE_CURRENT_SOURCE_DIR}/check_exports.cmake)

# The public header compiles as C and as C++.
add_executable(header_c header_c.c)
target_link_libraries(header_c PRIVATE onset)
target_compile_options(header_c PRIVATE -Werror)
add_test(NAME library.header_c COMMAND header_c)

# The objects compiled for wider instruction sets share no inline copies.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  add_test(NAME library.isa_objects
    COMMAND ${CMAKE_COMMAND} "-DOBJECTS=$<TARGET_OBJECTS:onset_objects>" -Dchecked=0
            -P ${CMAKE_CURRENT_SOURCE_DIR}/check_isa_objects.cmake)
endif()
