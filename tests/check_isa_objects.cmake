# The objects compiled for AVX2 or AVX-512 define their entry points and no
# code the rest of the library shares: a weak function (an inline or template
# copy) there would be compiled for that instruction set, and the linker may
# pick it for every caller, plain path included. Weak data (such as the
# reference to the exception personality that instrumented builds emit) is
# no code.
foreach(object IN LISTS OBJECTS)
  if(NOT object MATCHES "_avx(2|512)\\.cpp\\.o$")
    continue()
  endif()
  math(EXPR checked "${checked} + 1")
  execute_process(COMMAND nm -C --defined-only ${object}
                  OUTPUT_VARIABLE listing RESULT_VARIABLE status)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "nm failed on ${object}")
  endif()
  string(REGEX MATCHALL "\n[0-9a-f]+ W [^\n]*" shared "\n${listing}")
  if(shared)
    message(FATAL_ERROR "${object} defines shared symbols:${shared}")
  endif()
endforeach()
if(NOT checked)
  message(FATAL_ERROR "no AVX2 or AVX-512 objects among: ${OBJECTS}")
endif()
message(STATUS "${checked} instruction-set objects define their entry points only")
