# SPDX-License-Identifier: Apache-2.0
# The version is set once, in project() of CMakeLists.txt (VERSION). Checks that the newest release
# of CHANGELOG.md, the newest entry of debian/changelog, the names of the Debian library packages
# and what was derived from it in the build (the CMake package's version file, `glps --version`)
# all agree, and so do the version header made from it and the version the library reports of itself.
# cmake -DSOURCE_DIR=... -DVERSION=... [-DCONFIG_VERSION_FILE=...] [-DTOOL=...]
#       [-DVERSION_HEADER=...] [-DVERSION_PROGRAM=...]
#       -P check_version.cmake
set(failures)
macro(fail text)
  list(APPEND failures "${text}")
endmacro()

# The first heading "## [X.Y.Z] - YYYY-MM-DD" ("## [Unreleased]" may come before it).
file(STRINGS "${SOURCE_DIR}/CHANGELOG.md" releases REGEX "^## \\[[0-9]")
list(GET releases 0 newest)
set(date "[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]")
if(NOT newest MATCHES "^## \\[([0-9]+\\.[0-9]+\\.[0-9]+)\\] - ${date}$")
  fail("CHANGELOG.md: the newest release heading '${newest}' is not '## [X.Y.Z] - YYYY-MM-DD'")
elseif(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  fail("CHANGELOG.md's newest release is ${CMAKE_MATCH_1}, CMakeLists.txt says ${VERSION}")
endif()

# A native package: its version is the project's, without a Debian revision.
file(STRINGS "${SOURCE_DIR}/debian/changelog" first LIMIT_COUNT 1)
if(NOT first MATCHES "^glps \\(([^)]+)\\) ")
  fail("debian/changelog: the first line '${first}' is not 'glps (VERSION) ...'")
elseif(NOT CMAKE_MATCH_1 STREQUAL VERSION)
  fail("debian/changelog's newest entry is ${CMAKE_MATCH_1}, CMakeLists.txt says ${VERSION}")
endif()

# The library packages are named after the sonames, which carry the major and minor version.
string(REGEX MATCH "^[0-9]+\\.[0-9]+" soversion "${VERSION}")
file(STRINGS "${SOURCE_DIR}/debian/control" library_packages REGEX "^Package: lib.*[0-9]$")
set(expected_packages
  "Package: libglps${soversion};Package: libglps-pdf${soversion};Package: libglpshost${soversion}")
if(NOT library_packages STREQUAL expected_packages)
  fail("debian/control names the library packages [${library_packages}], expected "
       "libglps${soversion}, libglps-pdf${soversion} and libglpshost${soversion} (and "
       "debian/*.install named after them)")
endif()
foreach(package libglps${soversion} libglps-pdf${soversion} libglpshost${soversion})
  if(NOT EXISTS "${SOURCE_DIR}/debian/${package}.install")
    fail("debian/${package}.install is missing")
  endif()
endforeach()

# The version header the build made: its macros are the version's parts, its text and its number.
if(VERSION_HEADER)
  string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" parts "${VERSION}")
  set(major ${CMAKE_MATCH_1})
  set(minor ${CMAKE_MATCH_2})
  set(patch ${CMAKE_MATCH_3})
  file(READ "${VERSION_HEADER}" header)
  foreach(macro_value "MAJOR;${major}" "MINOR;${minor}" "PATCH;${patch}" "STRING;\"${VERSION}\"")
    list(GET macro_value 0 macro)
    list(GET macro_value 1 value)
    if(NOT header MATCHES "\n#define GLPS_VERSION_${macro} ([^\n]*)\n")
      fail("${VERSION_HEADER} defines no GLPS_VERSION_${macro}")
    elseif(NOT CMAKE_MATCH_1 STREQUAL value)
      fail("${VERSION_HEADER}: GLPS_VERSION_${macro} is ${CMAKE_MATCH_1}, expected ${value}")
    endif()
  endforeach()
endif()

# The version the built library reports of itself, as a program linked to it prints it
# ("version NUMBER TEXT").
if(VERSION_PROGRAM)
  string(REGEX MATCH "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$" parts "${VERSION}")
  math(EXPR number "${CMAKE_MATCH_1} * 1000000 + ${CMAKE_MATCH_2} * 1000 + ${CMAKE_MATCH_3}")
  execute_process(COMMAND "${VERSION_PROGRAM}" OUTPUT_VARIABLE printed RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT printed STREQUAL "headers ${number} ${VERSION}\nlibrary ${number} ${VERSION}\n")
    fail("${VERSION_PROGRAM} printed '${printed}' (status ${result}), expected the headers' and "
         "the library's version ${number} ${VERSION}")
  endif()
endif()

if(CONFIG_VERSION_FILE)
  file(STRINGS "${CONFIG_VERSION_FILE}" package_version REGEX "set\\(PACKAGE_VERSION ")
  if(NOT package_version MATCHES "\"${VERSION}\"")
    fail("${CONFIG_VERSION_FILE}: '${package_version}', expected ${VERSION}")
  endif()
endif()

if(TOOL)
  execute_process(COMMAND "${TOOL}" --version OUTPUT_VARIABLE tool_version RESULT_VARIABLE result)
  if(NOT result EQUAL 0 OR NOT tool_version STREQUAL "glps ${VERSION}\n")
    fail("`glps --version` printed '${tool_version}' (status ${result}), "
         "expected 'glps ${VERSION}'")
  endif()
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "version:\n  ${text}")
endif()
message(STATUS "version ${VERSION} in CMakeLists.txt, CHANGELOG.md, debian/changelog and the build")
