# SPDX-License-Identifier: Apache-2.0
# Builds the host example and the copy example (examples/host_example.cc, copy_example.cc) against
# the installed PREFIX and runs them.
#   MODE=find_package: examples/ as a CMake project that finds the package and links glps::glps
#                      and glps::pdf (every example is built; these two are run).
#   MODE=pkg_config:   with the compiler and the flags of `pkg-config --cflags --libs glps`
#                      (glps-pdf for the copy example).
#   MODE=built:        both built with the library (PROGRAM, COPY_PROGRAM), run only.
# With SYSTEM=ON the package is installed in the system's own places (PREFIX is /usr, from Debian
# packages): found without CMAKE_PREFIX_PATH or PKG_CONFIG_PATH, and run without a run path.
# The example runs three times in one directory; each run must succeed, print the infos of the
# log.xml files it left, and, since it hands the kept infos back, add no tamper entry to either
# log; the copy example then writes the experiment log's PDF copy. A fourth run without the kept
# infos must find both logs tampered. Everything happens in a fresh WORK directory, removed again
# on success.
# cmake -DMODE=... -DEXAMPLES_DIR=... -DPREFIX=... -DCMAKEDIR=... -DPKGCONFIGDIR=... -DWORK=...
#       -DGENERATOR=... -DCXX=... [-DCONFIG=...] [-DPKG_CONFIG=...] [-DSYSTEM=ON] [-DPROGRAM=...]
#       [-DCOPY_PROGRAM=...]
#       -P run_example.cmake
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
set(source "${EXAMPLES_DIR}/host_example.cc")
set(copy_source "${EXAMPLES_DIR}/copy_example.cc")

if(MODE STREQUAL "find_package")
  set(config_args)
  if(CONFIG)
    set(config_args -DCMAKE_BUILD_TYPE=${CONFIG})
  endif()
  set(prefix_args "-DCMAKE_PREFIX_PATH=${PREFIX}")
  if(SYSTEM)
    set(prefix_args)
  endif()
  run("${CMAKE_COMMAND}" -S "${EXAMPLES_DIR}" -B "${WORK}/build" -G "${GENERATOR}"
    "-DCMAKE_CXX_COMPILER=${CXX}" ${prefix_args}
    -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF -DCMAKE_FIND_USE_SYSTEM_PACKAGE_REGISTRY=OFF
    ${config_args})
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
  set(copy_program "${WORK}/build/copy_example")
elseif(MODE STREQUAL "pkg_config")
  if(NOT PKG_CONFIG)
    message(FATAL_ERROR "pkg-config is not installed (scripts/install-deps installs it)")
  endif()
  unset(ENV{PKG_CONFIG_PATH})
  if(NOT SYSTEM)
    # Only the prefix's glps.pc, none of the machine's.
    set(ENV{PKG_CONFIG_LIBDIR} "${PREFIX}/${PKGCONFIGDIR}")
  endif()
  run("${PKG_CONFIG}" --variable=pcfiledir glps)
  string(STRIP "${run_output}" pcfiledir)
  file(REAL_PATH "${pcfiledir}" pcfiledir)
  file(REAL_PATH "${PREFIX}/${PKGCONFIGDIR}" expected_dir)
  if(NOT pcfiledir STREQUAL expected_dir)
    message(FATAL_ERROR "pkg-config found glps.pc in ${pcfiledir}, not in ${expected_dir}")
  endif()
  run("${PKG_CONFIG}" --cflags --libs glps)
  string(STRIP "${run_output}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  run("${PKG_CONFIG}" --cflags --libs glps-pdf)
  string(STRIP "${run_output}" copy_flags)
  separate_arguments(copy_flags UNIX_COMMAND "${copy_flags}")
  run("${PKG_CONFIG}" --variable=libdir glps)
  string(STRIP "${run_output}" libdir)
  set(rpath "-Wl,-rpath,${libdir}")
  if(SYSTEM)
    set(rpath)
  endif()
  set(program "${WORK}/host_example")
  run("${CXX}" -std=c++17 -Wall -Wextra -Werror "${source}" -o "${program}" ${flags} ${rpath})
  set(copy_program "${WORK}/copy_example")
  run("${CXX}" -std=c++17 -Wall -Wextra -Werror "${copy_source}" -o "${copy_program}" ${copy_flags}
    ${rpath})
elseif(MODE STREQUAL "built")
  set(program "${PROGRAM}")
  set(copy_program "${COPY_PROGRAM}")
else()
  message(FATAL_ERROR "unknown MODE '${MODE}'")
endif()

# The documents of a log (not its index pages) that hold a tamper entry.
set(tamper_text "The log was changed outside the audit trail")
function(tampered_documents dir out)
  file(GLOB documents "${dir}/*.html")
  set(found)
  foreach(document IN LISTS documents)
    get_filename_component(name "${document}" NAME)
    if(name MATCHES "^GLP-(Main|Menu)")
      continue()
    endif()
    file(STRINGS "${document}" lines REGEX "${tamper_text}")
    if(lines)
      list(APPEND found "${name}")
    endif()
  endforeach()
  set(${out} "${found}" PARENT_SCOPE)
endfunction()

set(root "${WORK}/run")
file(MAKE_DIRECTORY "${root}")
foreach(round 1 2 3)
  run("${program}" "${root}")
  message(STATUS "host example, run ${round}, printed:\n${run_output}")
  # Each info must be the hash text and size of the log.xml the example left.
  foreach(log IN ITEMS "application log:applog" "experiment log:experiment")
    string(REPLACE ":" ";" log "${log}")
    list(GET log 0 label)
    list(GET log 1 dir)
    if(NOT run_output MATCHES "${label}: ([^ \n]+) ([0-9]+)\n")
      message(FATAL_ERROR "run ${round}: no '${label}: <hash> <size>' line in the output")
    endif()
    set(size "${CMAKE_MATCH_2}")
    if(NOT EXISTS "${root}/${dir}/log.xml")
      message(FATAL_ERROR "run ${round}: ${root}/${dir}/log.xml was not written")
    endif()
    file(SIZE "${root}/${dir}/log.xml" actual_size)
    if(NOT size EQUAL actual_size)
      message(FATAL_ERROR
        "run ${round}, ${label}: size ${size} printed, log.xml has ${actual_size} bytes")
    endif()
    tampered_documents("${root}/${dir}" tampered)
    if(tampered)
      message(FATAL_ERROR "run ${round}: the ${label} has a tamper entry in ${tampered}, although "
        "the example handed back the infos it kept")
    endif()
  endforeach()
endforeach()

# The copy of the experiment log the example kept.
run("${copy_program}" "${root}/experiment" "${WORK}/copy.pdf")
message(STATUS "copy example printed:\n${run_output}")
file(READ "${WORK}/copy.pdf" pdf_head LIMIT 5 HEX)
if(NOT pdf_head STREQUAL "255044462d")  # "%PDF-"
  message(FATAL_ERROR "the copy example wrote no PDF to ${WORK}/copy.pdf")
endif()

# Without the kept infos, the same logs are not what the host last saw: both get a tamper entry.
file(REMOVE "${root}/infos.txt")
run("${program}" "${root}")
foreach(dir IN ITEMS applog experiment)
  tampered_documents("${root}/${dir}" tampered)
  if(NOT tampered)
    message(FATAL_ERROR "a run without the kept infos left no tamper entry in ${root}/${dir}")
  endif()
endforeach()

file(REMOVE_RECURSE "${WORK}")
