# SPDX-License-Identifier: Apache-2.0
# Configures the project parent/, which builds glps as part of itself (MODE add_subdirectory or
# fetchcontent), and checks what glps added to it: only the libraries (libglps.so, libglps-pdf.so,
# libglpshost.so, with their objects and the static library of the platform and crypto units), no
# tests in the parent's CTest, no install rules, and the parent's
# build type left alone. With EXTRA set (e.g. -DGLPS_BUILD_TESTS=ON) the parent turns glps's tests
# on, and they must then be there.
# cmake -DMODE=... -DSOURCE_DIR=... -DWORK=... -DGENERATOR=... -DCXX=... [-DEXTRA=...]
#       -P check_subproject.cmake
cmake_minimum_required(VERSION 3.16)
file(REMOVE_RECURSE "${WORK}")
set(failures)
macro(fail text)
  list(APPEND failures "${text}")
endmacro()

execute_process(
  COMMAND "${CMAKE_COMMAND}" -S "${SOURCE_DIR}/tests/subproject/parent" -B "${WORK}"
    -G "${GENERATOR}" "-DCMAKE_CXX_COMPILER=${CXX}" "-DGLPS_MODE=${MODE}"
    "-DGLPS_SOURCE=${SOURCE_DIR}" -DFETCHCONTENT_FULLY_DISCONNECTED=ON ${EXTRA}
  RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "configuring the parent project failed (${result}):\n${out}\n${err}")
endif()

file(READ "${WORK}/targets.txt" targets)
execute_process(COMMAND "${CMAKE_CTEST_COMMAND}" -N WORKING_DIRECTORY "${WORK}"
  OUTPUT_VARIABLE tests RESULT_VARIABLE result)
string(REGEX MATCHALL "Test +#[0-9]+: [^\n]+" tests "${tests}")
list(TRANSFORM tests REPLACE "Test +#[0-9]+: " "")
file(GLOB_RECURSE install_scripts "${WORK}/*/cmake_install.cmake")
set(install_rules)
foreach(script IN LISTS install_scripts)
  file(STRINGS "${script}" rules REGEX "file\\(INSTALL")
  if(rules)
    list(APPEND install_rules "${script}")
  endif()
endforeach()
file(STRINGS "${WORK}/CMakeCache.txt" build_type REGEX "^CMAKE_BUILD_TYPE:")

if(NOT EXTRA)
  set(expected "glps;glps_base;glps_objects;glps_pdf;glps_pdf_objects;glpshost")
  if(NOT targets STREQUAL expected)
    fail("glps defined the targets [${targets}], expected only [${expected}]")
  endif()
  if(NOT tests STREQUAL "parent.own")
    fail("the parent's CTest has the tests [${tests}], expected only its own [parent.own]")
  endif()
  if(install_rules)
    fail("install rules in [${install_rules}]")
  endif()
  if(NOT build_type MATCHES "^CMAKE_BUILD_TYPE:[A-Z]*=$")
    fail("the parent's build type was set: ${build_type}")
  endif()
else()
  # Turned on by the parent, glps's tests are there (the check above can fail).
  foreach(target test_services glps_fuzz_replay_log_xml)
    if(NOT target IN_LIST targets)
      fail("with ${EXTRA}, the target ${target} is missing from [${targets}]")
    endif()
  endforeach()
  if(NOT "sources.check" IN_LIST tests)
    fail("with ${EXTRA}, the test sources.check is missing from [${tests}]")
  endif()
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "glps as a subproject (${MODE}):\n  ${text}")
endif()
file(REMOVE_RECURSE "${WORK}")
message(STATUS "glps as a subproject (${MODE} ${EXTRA}): targets [${targets}], tests [${tests}]")
