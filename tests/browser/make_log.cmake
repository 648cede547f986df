# SPDX-License-Identifier: Apache-2.0
# Writes the browser test's log afresh: removes DIR, then runs glps_browser_fixture on it.
# Usage: cmake -DPROGRAM=... -DDIR=... -P make_log.cmake
file(REMOVE_RECURSE "${DIR}")
execute_process(COMMAND "${PROGRAM}" "${DIR}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${PROGRAM} ${DIR} failed (${result})")
endif()
