# The committed fuzz corpora replayed through each fuzz target in this build,
# whatever the compiler (libFuzzer itself needs clang: see fuzz/CMakeLists.txt).
# The targets read their input through LLVM's FuzzedDataProvider, a header
# that comes with clang; without clang the corpora are not replayed here.
include(fuzz/targets.cmake)

find_program(ONSET_CLANG NAMES clang clang-14)
if(ONSET_CLANG)
  execute_process(COMMAND ${ONSET_CLANG} -print-resource-dir
                  OUTPUT_VARIABLE clang_resources OUTPUT_STRIP_TRAILING_WHITESPACE)
  set(provider ${clang_resources}/include/fuzzer/FuzzedDataProvider.h)
endif()
if(NOT ONSET_CLANG OR NOT EXISTS "${provider}")
  message(STATUS "No FuzzedDataProvider.h (clang): the fuzz corpora are not replayed")
  return()
endif()
# A copy in a folder of its own: clang's resource folder also holds its own
# stddef.h and friends, which another compiler must not see.
configure_file(${provider} ${CMAKE_CURRENT_BINARY_DIR}/fuzz-include/fuzzer/FuzzedDataProvider.h
               COPYONLY)

# The targets of the engine, its reader and the command line need the tools built.
set(detect_targets engine options reader)
foreach(target IN LISTS ONSET_FUZZ_TARGETS)
  if(target IN_LIST detect_targets AND NOT ONSET_BUILD_TOOLS)
    continue()
  endif()
  add_executable(replay_${target} fuzz/fuzz_${target}.cpp fuzz/regression_driver.cpp)
  target_link_libraries(replay_${target} PRIVATE onset_internal onset_test_support
                        OpenMP::OpenMP_CXX)
  if(target IN_LIST detect_targets)
    target_link_libraries(replay_${target} PRIVATE onset_detect_internal onset_detect_tool)
  endif()
  target_include_directories(replay_${target} SYSTEM PRIVATE
    ${CMAKE_CURRENT_BINARY_DIR}/fuzz-include)
  # Each input chooses its own thread counts.
  add_test(NAME fuzz_corpus.${target}
    COMMAND replay_${target} ${CMAKE_CURRENT_SOURCE_DIR}/fuzz/corpus/${target})
endforeach()
