# The version as include/onset.h states it, in ONSET_VERSION (major.minor.patch):
# the header is the one place it is written.
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/../include/onset.h onset_version_lines
  REGEX "^#define ONSET_VERSION_(MAJOR|MINOR|PATCH) +[0-9]+$")
set(ONSET_VERSION "")
foreach(part MAJOR MINOR PATCH)
  set(number "")
  foreach(line IN LISTS onset_version_lines)
    if(line MATCHES "^#define ONSET_VERSION_${part} +([0-9]+)$")
      set(number ${CMAKE_MATCH_1})
    endif()
  endforeach()
  if(number STREQUAL "")
    message(FATAL_ERROR "include/onset.h defines no ONSET_VERSION_${part}")
  endif()
  list(APPEND ONSET_VERSION ${number})
endforeach()
list(JOIN ONSET_VERSION "." ONSET_VERSION)
unset(onset_version_lines)
