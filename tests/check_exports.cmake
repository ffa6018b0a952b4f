# Compares the dynamic symbols the library defines with the export map, and
# checks that the library never calls its own exported functions.
execute_process(COMMAND nm -D --defined-only ${LIBRARY}
                OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "nm failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "[TWVBDR] [A-Za-z_][A-Za-z0-9_]*" defined "${listing}")
set(actual "")
foreach(entry IN LISTS defined)
  string(REGEX REPLACE "^. " "" name "${entry}")
  if(NOT name MATCHES "^_(init|fini)$")
    list(APPEND actual ${name})
  endif()
endforeach()
file(STRINGS ${EXPECTED} lines REGEX "^    [A-Za-z_0-9]+;$")
set(expected "")
foreach(line IN LISTS lines)
  string(STRIP "${line}" line)
  string(REPLACE ";" "" line "${line}")
  list(APPEND expected ${line})
endforeach()
list(SORT actual)
list(SORT expected)
if(NOT actual STREQUAL expected)
  message(FATAL_ERROR "exports differ\n  expected: ${expected}\n  actual:   ${actual}")
endif()
message(STATUS "exports: ${actual}")

# The library's own code reaches its internals directly: a call through the
# PLT to one of its exported functions would be a call of the entry (and
# would let a host's interposed symbol take its place). Only the PLT targets
# come back from the listing: a sanitized library's is tens of megabytes,
# too much for CMake to search once per name.
execute_process(COMMAND objdump -d ${LIBRARY}
                COMMAND grep -o "<[A-Za-z_][A-Za-z0-9_]*@plt>"
                OUTPUT_VARIABLE called RESULTS_VARIABLE statuses)
list(GET statuses 0 status)
if(NOT status EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${LIBRARY}")
endif()
string(REGEX MATCHALL "<[A-Za-z0-9_]+@plt>" called "${called}")
list(REMOVE_DUPLICATES called)
foreach(name IN LISTS expected)
  list(FIND called "<${name}@plt>" at)
  if(NOT at EQUAL -1)
    message(FATAL_ERROR "the library calls its own exported ${name}")
  endif()
endforeach()
