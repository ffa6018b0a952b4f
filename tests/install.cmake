# Installation into a temporary prefix, used by C hosts through CMake and pkg-config.
# A sanitized library cannot serve an uninstrumented host, so the check runs
# on plain builds only.
if(NOT ONSET_SANITIZERS)
  add_test(NAME install.c_hosts
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install/run.sh ${PROJECT_BINARY_DIR}
            ${CMAKE_CURRENT_BINARY_DIR}/install-test ${CMAKE_C_COMPILER})
endif()
