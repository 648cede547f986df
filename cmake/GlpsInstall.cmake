# SPDX-License-Identifier: Apache-2.0
# Installation of the library for hosts: the public headers, libglps.so, libglps-pdf.so and
# libglpshost.so with their versioned sonames, a CMake package (find_package(glps CONFIG) with the
# targets glps::glps, glps::pdf and glps::host) and the pkg-config files glps.pc and glps-pdf.pc.
# Included from the top-level CMakeLists.txt after the targets are defined.
include(CMakePackageConfigHelpers)

set(GLPS_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/glps
  CACHE STRING "Where the CMake package files of glps are installed, relative to the prefix")
set(GLPS_INSTALL_PKGCONFIGDIR ${CMAKE_INSTALL_LIBDIR}/pkgconfig
  CACHE STRING "Where glps.pc is installed, relative to the prefix")
mark_as_advanced(GLPS_INSTALL_CMAKEDIR GLPS_INSTALL_PKGCONFIGDIR)

# libglps.so needs libglpshost.so, and libglps-pdf.so both, installed beside them.
set_target_properties(glps glps_pdf PROPERTIES INSTALL_RPATH "$ORIGIN")

install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/glps
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
# The version header made by the build (src/CMakeLists.txt).
install(FILES ${PROJECT_BINARY_DIR}/include/glps/version.h
  DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/glps)

set(GLPS_INSTALL_TARGETS glps glps_pdf glpshost)

install(TARGETS ${GLPS_INSTALL_TARGETS}
  EXPORT glpsTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

install(EXPORT glpsTargets
  NAMESPACE glps::
  FILE glpsTargets.cmake
  DESTINATION ${GLPS_INSTALL_CMAKEDIR})

configure_package_config_file(
  ${CMAKE_CURRENT_LIST_DIR}/glpsConfig.cmake.in
  ${PROJECT_BINARY_DIR}/glpsConfig.cmake
  INSTALL_DESTINATION ${GLPS_INSTALL_CMAKEDIR})
# Before 1.0 a minor release may change the interface (the soname carries major.minor).
write_basic_package_version_file(
  ${PROJECT_BINARY_DIR}/glpsConfigVersion.cmake
  VERSION ${PROJECT_VERSION}
  COMPATIBILITY SameMinorVersion)
install(FILES
  ${PROJECT_BINARY_DIR}/glpsConfig.cmake
  ${PROJECT_BINARY_DIR}/glpsConfigVersion.cmake
  DESTINATION ${GLPS_INSTALL_CMAKEDIR})

# glps.pc finds the prefix from its own location, so the installed tree can be moved and
# `cmake --install --prefix` gives a correct file.
if(IS_ABSOLUTE "${GLPS_INSTALL_PKGCONFIGDIR}")
  set(GLPS_PC_PREFIX "${CMAKE_INSTALL_PREFIX}")
  message(WARNING "GLPS_INSTALL_PKGCONFIGDIR is absolute; glps.pc names ${CMAKE_INSTALL_PREFIX}")
else()
  file(RELATIVE_PATH _glps_pc_up /p/${GLPS_INSTALL_PKGCONFIGDIR} /p)
  string(REGEX REPLACE "/$" "" _glps_pc_up "${_glps_pc_up}")
  set(GLPS_PC_PREFIX "\${pcfiledir}/${_glps_pc_up}")
endif()
foreach(_glps_dir INCLUDEDIR LIBDIR)
  if(IS_ABSOLUTE "${CMAKE_INSTALL_${_glps_dir}}")
    set(GLPS_PC_${_glps_dir} "${CMAKE_INSTALL_${_glps_dir}}")
  else()
    set(GLPS_PC_${_glps_dir} "\${prefix}/${CMAKE_INSTALL_${_glps_dir}}")
  endif()
endforeach()
foreach(_glps_pc glps glps-pdf)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${_glps_pc}.pc.in ${PROJECT_BINARY_DIR}/${_glps_pc}.pc @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/${_glps_pc}.pc DESTINATION ${GLPS_INSTALL_PKGCONFIGDIR})
endforeach()
