# SPDX-License-Identifier: Apache-2.0
# Installs the build BUILD_DIR into a fresh PREFIX, as `cmake --install` does for a packager.
# cmake -DBUILD_DIR=... -DPREFIX=... [-DCONFIG=...] -P install_prefix.cmake
file(REMOVE_RECURSE "${PREFIX}")
set(config_args)
if(CONFIG)
  set(config_args --config "${CONFIG}")
endif()
execute_process(
  COMMAND "${CMAKE_COMMAND}" --install "${BUILD_DIR}" --prefix "${PREFIX}" ${config_args}
  RESULT_VARIABLE result)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
