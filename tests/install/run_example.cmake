# SPDX-License-Identifier: Apache-2.0
# Builds the host example of README.md against the installed PREFIX and runs it.
#   MODE=find_package: as a CMake project (consumer/) that finds the package and links glps::glps.
#   MODE=pkg_config:   with the compiler and the flags of `pkg-config --cflags --libs glps`.
# Then checks that the example succeeded and that the infos it printed are those of the log.xml
# files it left. Everything happens in a fresh WORK directory, removed again on success.
# cmake -DMODE=... -DREADME=... -DCONSUMER_DIR=... -DPREFIX=... -DCMAKEDIR=... -DPKGCONFIGDIR=...
#       -DWORK=... -DGENERATOR=... -DCXX=... [-DCONFIG=...] [-DPKG_CONFIG=...] -P run_example.cmake
function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "failed (${result}): ${command}\n${out}\n${err}")
  endif()
  set(run_output "${out}" PARENT_SCOPE)
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")

# The example is the block between the markers of README.md, so the README shows compiled code.
file(READ "${README}" readme)
set(begin_marker "<!-- host example: begin -->\n```cpp\n")
set(end_marker "```\n<!-- host example: end -->")
string(FIND "${readme}" "${begin_marker}" begin)
string(FIND "${readme}" "${end_marker}" end)
if(begin EQUAL -1 OR end EQUAL -1)
  message(FATAL_ERROR "README.md has no block between '${begin_marker}' and '${end_marker}'")
endif()
string(LENGTH "${begin_marker}" marker_length)
math(EXPR begin "${begin} + ${marker_length}")
math(EXPR length "${end} - ${begin}")
if(length LESS_EQUAL 0)
  message(FATAL_ERROR "the host example in README.md is empty")
endif()
string(SUBSTRING "${readme}" ${begin} ${length} example)
set(source "${WORK}/host_example.cc")
file(WRITE "${source}" "${example}")

if(MODE STREQUAL "find_package")
  set(config_args)
  if(CONFIG)
    set(config_args -DCMAKE_BUILD_TYPE=${CONFIG})
  endif()
  run("${CMAKE_COMMAND}" -S "${CONSUMER_DIR}" -B "${WORK}/build" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" "-DCMAKE_PREFIX_PATH=${PREFIX}"
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
    "-DGLPS_EXAMPLE_SOURCE=${source}" ${config_args})
  # The package found must be the one just installed, not another copy on this machine.
  file(STRINGS "${WORK}/build/CMakeCache.txt" found_dir REGEX "^glps_DIR:")
  string(REGEX REPLACE "^glps_DIR:[A-Z]+=" "" found_dir "${found_dir}")
  file(REAL_PATH "${found_dir}" found_dir)
  file(REAL_PATH "${PREFIX}/${CMAKEDIR}" expected_dir)
  if(NOT found_dir STREQUAL expected_dir)
    message(FATAL_ERROR "find_package(glps) found ${found_dir}, not ${expected_dir}")
  endif()
  run("${CMAKE_COMMAND}" --build "${WORK}/build")
  set(program "${WORK}/build/host_example")
elseif(MODE STREQUAL "pkg_config")
  if(NOT PKG_CONFIG)
    message(FATAL_ERROR "pkg-config is not installed (scripts/install-deps installs it)")
  endif()
  # Only the prefix's glps.pc, none of the machine's.
  set(ENV{PKG_CONFIG_LIBDIR} "${PREFIX}/${PKGCONFIGDIR}")
  unset(ENV{PKG_CONFIG_PATH})
  run("${PKG_CONFIG}" --cflags --libs glps)
  string(STRIP "${run_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run("${PKG_CONFIG}" --variable=libdir glps)
  string(STRIP "${run_output}" libdir)
  set(program "${WORK}/host_example")
  run("${CXX}" -std=c++17 -Wall -Wextra -Werror "${source}" -o "${program}" ${flags}
    "-Wl,-rpath,${libdir}")
else()
  message(FATAL_ERROR "unknown MODE '${MODE}'")
endif()

set(root "${WORK}/run")
file(MAKE_DIRECTORY "${root}")
run("${program}" "${root}")
message(STATUS "host example printed:\n${run_output}")

# Each info must be the hash text and size of the log.xml the example left.
foreach(log IN ITEMS "application log:applog" "experiment log:experiment")
  string(REPLACE ":" ";" log "${log}")
  list(GET log 0 label)
  list(GET log 1 dir)
  if(NOT run_output MATCHES "${label}: ([^ \n]+) ([0-9]+)\n")
    message(FATAL_ERROR "no '${label}: <hash> <size>' line in the output")
  endif()
  set(size "${CMAKE_MATCH_2}")
  if(NOT EXISTS "${root}/${dir}/log.xml")
    message(FATAL_ERROR "${root}/${dir}/log.xml was not written")
  endif()
  file(SIZE "${root}/${dir}/log.xml" actual_size)
  if(NOT size EQUAL actual_size)
    message(FATAL_ERROR "${label}: size ${size} printed, log.xml has ${actual_size} bytes")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
