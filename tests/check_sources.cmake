# SPDX-License-Identifier: Apache-2.0
# Checks every C++ source of the project: it carries the licence's SPDX line at its top, and it is
# exactly what clang-format makes of it with the project's .clang-format.
# Run as: cmake -DSOURCE_DIR=<top> -P check_sources.cmake
find_program(CLANG_FORMAT NAMES clang-format clang-format-14 REQUIRED)
set(sources)
foreach(dir src include tools tests bench fuzz examples)
  file(GLOB_RECURSE found "${SOURCE_DIR}/${dir}/*.cc" "${SOURCE_DIR}/${dir}/*.h")
  list(APPEND sources ${found})
endforeach()
list(SORT sources)

set(unlicensed)
foreach(source ${sources})
  file(STRINGS "${source}" head LIMIT_COUNT 2)
  if(NOT head MATCHES "SPDX-License-Identifier: Apache-2.0")
    list(APPEND unlicensed "${source}")
  endif()
endforeach()
if(unlicensed)
  list(JOIN unlicensed "\n" unlicensed)
  message(FATAL_ERROR "without the line '// SPDX-License-Identifier: Apache-2.0' at the top:\n"
                      "${unlicensed}")
endif()

execute_process(
  COMMAND ${CLANG_FORMAT} --style=file --dry-run --Werror ${sources}
  WORKING_DIRECTORY "${SOURCE_DIR}"
  RESULT_VARIABLE result
  ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "not formatted as .clang-format says (run clang-format -i on them):\n${errors}")
endif()
list(LENGTH sources count)
message(STATUS "${count} sources licensed and formatted as .clang-format says")
