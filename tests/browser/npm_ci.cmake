# SPDX-License-Identifier: Apache-2.0
# Installs the browser test's node packages from package-lock.json into DIR/node_modules, unless
# they are there already for this very lock file. Usage: cmake -DNPM=... -DDIR=... -P npm_ci.cmake
if(NOT NPM OR NOT EXISTS "${NPM}")
  message(FATAL_ERROR "npm not found (${NPM}): scripts/install-deps installs it")
endif()
set(lock "${DIR}/package-lock.json")
set(stamp "${DIR}/node_modules/.glps-installed-lock.json")
file(SHA256 "${lock}" wanted)
if(EXISTS "${stamp}")
  file(SHA256 "${stamp}" installed)
  if(installed STREQUAL wanted)
    message(STATUS "node packages up to date in ${DIR}/node_modules")
    return()
  endif()
endif()

# playwright-core drives the system's chromium and must never fetch a browser of its own.
set(ENV{PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD} 1)
execute_process(
  COMMAND "${NPM}" ci --no-audit --no-fund --loglevel=error
  WORKING_DIRECTORY "${DIR}"
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "npm ci failed in ${DIR} (${result}); it needs the npm registry once")
endif()
configure_file("${lock}" "${stamp}" COPYONLY)
message(STATUS "node packages installed in ${DIR}/node_modules")
