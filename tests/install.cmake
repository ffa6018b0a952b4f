# Installation into a temporary prefix, used by C hosts through CMake and
# pkg-config; the Python package installed as the README says; and onset
# built inside a host's project. A sanitized library
# cannot serve an uninstrumented host, so the checks run on plain builds only.
if(NOT ONSET_SANITIZERS)
  add_test(NAME install.c_hosts
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install/run.sh ${PROJECT_BINARY_DIR}
            ${CMAKE_CURRENT_BINARY_DIR}/install-test ${CMAKE_C_COMPILER})
  add_test(NAME install.subdirectory_host
    COMMAND ${CMAKE_CTEST_COMMAND}
      --build-and-test ${CMAKE_CURRENT_SOURCE_DIR}/install/subdirectory
                       ${CMAKE_CURRENT_BINARY_DIR}/subdirectory-host
      --build-generator ${CMAKE_GENERATOR}
      --build-options -DONSET_SOURCE_DIR=${PROJECT_SOURCE_DIR}
                      -DCMAKE_C_COMPILER=${CMAKE_C_COMPILER}
                      -DCMAKE_CXX_COMPILER=${CMAKE_CXX_COMPILER}
                      -DCMAKE_DISABLE_FIND_PACKAGE_GTest=ON
                      -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
                      -DCMAKE_DISABLE_FIND_PACKAGE_PkgConfig=ON
      --test-command host)
  set_tests_properties(install.subdirectory_host PROPERTIES PASS_REGULAR_EXPRESSION "host ok" COST 30)
  # The README's install commands, the Python package from this build.
  add_test(NAME install.python_package
    COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/install/python.sh ${PROJECT_BINARY_DIR}
            ${CMAKE_CURRENT_BINARY_DIR}/python-install-test)
endif()
