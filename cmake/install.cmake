# Installation rules: header, library, CMake package and pkg-config files.
#
# Everything installed is relocatable: `cmake --install build --prefix P`
# puts a working tree under any P, whatever the prefix at configure time.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(ONSET_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/onset)

# The versioned library with its SONAME link and the development link.
install(TARGETS onset EXPORT onsetTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/onset.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

# find_package(onset) gives the imported target onset::onset. OpenMP is a
# private dependency of the shared library, so hosts need nothing else.
install(EXPORT onsetTargets NAMESPACE onset:: DESTINATION ${ONSET_CMAKE_DIR})
configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/onsetConfig.cmake.in
  ${PROJECT_BINARY_DIR}/onsetConfig.cmake
  INSTALL_DESTINATION ${ONSET_CMAKE_DIR})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/onsetConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/onsetConfig.cmake
  ${PROJECT_BINARY_DIR}/onsetConfigVersion.cmake
  DESTINATION ${ONSET_CMAKE_DIR})

# pkg-config: the prefix is found from the .pc file's own place, so the
# file stays right when the tree is installed under another prefix.
file(RELATIVE_PATH ONSET_PC_TO_PREFIX
  /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" ONSET_PC_TO_PREFIX "${ONSET_PC_TO_PREFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/onset.pc.in
  ${PROJECT_BINARY_DIR}/onset.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/onset.pc
  DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
# The engine's, where it is built (it needs libmseed and FFTW).
if(TARGET onset_detect)
  configure_file(${PROJECT_SOURCE_DIR}/cmake/onset-detect.pc.in
    ${PROJECT_BINARY_DIR}/onset-detect.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/onset-detect.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endif()
