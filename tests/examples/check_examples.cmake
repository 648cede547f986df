# SPDX-License-Identifier: Apache-2.0
# Runs one of the examples of examples/ and checks that it does what the README says of it. Each
# run happens in a fresh WORK directory, removed again on success.
#   EXAMPLE=two_threads:  both threads' messages are all in the log, and the log verifies intact
#                         with the info the program printed (audit_log).
#   EXAMPLE=show_opening: the host shows a new log, an intact one, one with a changed document
#                         (which file, and how), and one it cannot use (why, with the error code).
#   EXAMPLE=audit_log:    the auditor's verdicts on a log the host example wrote: intact with the
#                         info, not authenticated without it, not intact once changed, intact
#                         with its tampering recorded once the host opened it again, unreadable.
# cmake -DEXAMPLE=... -DWORK=... -DHOST_EXAMPLE=... -DTWO_THREADS=... -DSHOW_OPENING=...
#       -DAUDIT_LOG=... -P check_examples.cmake
set(failures)
macro(fail text)
  list(APPEND failures "${text}")
endmacro()

# Runs a program; `status` and `output` receive its exit status and standard output.
function(run status output)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  list(JOIN ARGN " " command)
  message(STATUS "$ ${command}  (status ${result})\n${out}${err}")
  set(${status} "${result}" PARENT_SCOPE)
  set(${output} "${out}" PARENT_SCOPE)
endfunction()

# Expects `text` to hold every one of the lines given (each a regular expression of a whole line).
function(expect_lines what text)
  foreach(line IN LISTS ARGN)
    if(NOT "\n${text}" MATCHES "\n${line}\n")
      set(failures ${failures} "${what}: no line matching '${line}' in:\n${text}" PARENT_SCOPE)
    endif()
  endforeach()
endfunction()

# Expects the line of `text` that `line` matches (a regular expression with two groups, the sizes
# recorded and found) to name one size twice: the size was kept.
function(expect_size_kept what text line)
  if(NOT "\n${text}" MATCHES "\n${line}\n")
    set(failures ${failures} "${what}: no line matching '${line}' in:\n${text}" PARENT_SCOPE)
  elseif(NOT CMAKE_MATCH_1 STREQUAL CMAKE_MATCH_2)
    set(failures ${failures} "${what}: recorded ${CMAKE_MATCH_1} bytes, found ${CMAKE_MATCH_2}"
      PARENT_SCOPE)
  endif()
endfunction()

# The one log document of an experiment log directory.
function(document_of dir out)
  file(GLOB documents "${dir}/GLP-Log-*.html")
  list(LENGTH documents count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "expected one document in ${dir}, found [${documents}]")
  endif()
  set(${out} "${documents}" PARENT_SCOPE)
endfunction()

# Changes the first occurrence of `from` in `file` to `to` (of the same length): a byte changed,
# the size kept.
function(change_bytes file from to)
  file(READ "${file}" text)
  string(FIND "${text}" "${from}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "'${from}' is not in ${file}")
  endif()
  string(LENGTH "${from}" length)
  string(SUBSTRING "${text}" 0 ${at} head)
  math(EXPR rest "${at} + ${length}")
  string(SUBSTRING "${text}" ${rest} -1 tail)
  file(WRITE "${file}" "${head}${to}${tail}")
endfunction()

file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}")
set(hash "[A-Za-z0-9+/=]+")

if(EXAMPLE STREQUAL "two_threads")
  run(status out "${TWO_THREADS}" "${WORK}" 120)
  if(NOT status EQUAL 0)
    fail("two_threads ended with status ${status}")
  endif()
  expect_lines(two_threads "${out}" "messages: 240 from two threads, 0 failed" "info: ${hash}:[0-9]+")
  string(REGEX MATCH "info: (${hash}:[0-9]+)" found "${out}")
  set(info "${CMAKE_MATCH_1}")
  document_of("${WORK}/experiment" document)
  file(READ "${document}" text)
  foreach(kind "instrument: reading [0-9]+ of" "operator: action [0-9]+:")
    string(REGEX MATCHALL "${kind}" entries "${text}")
    list(LENGTH entries count)
    if(NOT count EQUAL 120)
      fail("${count} entries '${kind}' in ${document}, expected 120")
    endif()
  endforeach()
  # Numbered without gaps or repeats, every file as recorded, log.xml the one the info names.
  run(status out "${AUDIT_LOG}" "${WORK}/experiment" "${info}")
  if(NOT status EQUAL 0)
    fail("audit_log found the two threads' log not intact (status ${status})")
  endif()

elseif(EXAMPLE STREQUAL "show_opening")
  set(file_name "GLP-Log-Shown_0001[.]html")
  run(status out "${SHOW_OPENING}" "${WORK}")
  expect_lines("first run" "${out}" "opening: new log" "info kept: ${hash}:[0-9]+")
  run(status out "${SHOW_OPENING}" "${WORK}")
  expect_lines("second run" "${out}" "opening: intact: 2 protected files as recorded")
  document_of("${WORK}/experiment" document)
  change_bytes("${document}" "the operator has seen" "the operator HAS seen")
  run(status out "${SHOW_OPENING}" "${WORK}")
  expect_lines("a changed document" "${out}"
    "opening: TAMPERED: 1 file modified: ${file_name}"
    "  a tamper entry was written into the log")
  expect_size_kept("a changed document" "${out}"
    "  ${file_name}: modified, recorded ([0-9]+) bytes ${hash}, found ([0-9]+) bytes ${hash}")
  if(NOT status EQUAL 0)
    fail("show_opening failed on a log changed outside the trail (status ${status})")
  endif()
  run(status out "${SHOW_OPENING}" "${WORK}")
  expect_lines("after the tamper entry" "${out}" "opening: intact: 2 protected files as recorded")
  file(CHMOD "${WORK}/experiment/log.xml" PERMISSIONS OWNER_READ GROUP_READ WORLD_READ)
  run(status out "${SHOW_OPENING}" "${WORK}")
  expect_lines("a read-only log.xml" "${out}"
    "opening: NOT USABLE: log.xml is read-only"
    "error E02A2711: LogExpInit: the log cannot be used [(][^)]*[)]: log.xml is read-only")
  if(NOT status EQUAL 1)
    fail("show_opening ended with status ${status} on a log it cannot use, expected 1")
  endif()
  file(CHMOD "${WORK}/experiment/log.xml" PERMISSIONS OWNER_READ OWNER_WRITE)

elseif(EXAMPLE STREQUAL "audit_log")
  run(status out "${HOST_EXAMPLE}" "${WORK}")
  string(REGEX MATCH "experiment log: (${hash}) ([0-9]+)" found "${out}")
  set(info "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
  set(dir "${WORK}/experiment")
  run(status out "${AUDIT_LOG}" "${dir}" "${info}")
  expect_lines("with the info" "${out}" "verdict: intact and authenticated"
    "log.xml: [0-9]+ bytes, matches the info" "protected files: 2 of 2 intact" "findings: 0")
  if(NOT status EQUAL 0)
    fail("audit_log with the info ended with status ${status}, expected 0")
  endif()
  run(status out "${AUDIT_LOG}" "${dir}")
  expect_lines("without the info" "${out}"
    "verdict: consistent, not authenticated [(]no info given[)]" "log.xml: [0-9]+ bytes, no info given")
  if(NOT status EQUAL 3)
    fail("audit_log without the info ended with status ${status}, expected 3")
  endif()
  document_of("${dir}" document)
  change_bytes("${document}" "1.0032 g" "1.0033 g")
  get_filename_component(name "${document}" NAME)
  run(status out "${AUDIT_LOG}" "${dir}" "${info}")
  expect_lines("a changed document" "${out}" "verdict: NOT INTACT" "protected files: 1 of 2 intact")
  expect_size_kept("a changed document" "${out}"
    "  modified: ${name} [(]recorded ([0-9]+) bytes, found ([0-9]+)[)]")
  if(NOT status EQUAL 1)
    fail("audit_log on a changed log ended with status ${status}, expected 1")
  endif()
  # The host opens the changed log again: the library writes a tamper entry and takes the change
  # in; with the new info the log is intact, but its trail records the tampering.
  run(status out "${HOST_EXAMPLE}" "${WORK}")
  string(REGEX MATCH "experiment log: (${hash}) ([0-9]+)" found "${out}")
  set(info "${CMAKE_MATCH_1}:${CMAKE_MATCH_2}")
  run(status out "${AUDIT_LOG}" "${dir}" "${info}")
  expect_lines("after the tamper entry" "${out}"
    "verdict: intact now, but the trail records tampering" "protected files: 2 of 2 intact"
    "  [^\n]*[Tt]amper[^\n]*")
  if(NOT status EQUAL 5)
    fail("audit_log on a log with a tamper entry ended with status ${status}, expected 5")
  endif()
  run(status out "${AUDIT_LOG}" "${WORK}/missing")
  if(NOT status EQUAL 4 OR NOT out MATCHES "verdict: cannot be read: ")
    fail("audit_log on a missing directory ended with status ${status}, expected 4")
  endif()
  run(status out "${AUDIT_LOG}" "${dir}" "no-colon")
  if(NOT status EQUAL 2)
    fail("audit_log with a malformed info ended with status ${status}, expected 2")
  endif()

else()
  message(FATAL_ERROR "unknown EXAMPLE '${EXAMPLE}'")
endif()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "example ${EXAMPLE}:\n  ${text}")
endif()
file(REMOVE_RECURSE "${WORK}")
