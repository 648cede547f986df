# SPDX-License-Identifier: Apache-2.0
# Checks that every source of src/ includes only its own folder and the folders below it, in the
# order of the layer table of docs/design.md: its rows from the top down, each row's layer being the
# first folder its Directory column names (`src/<folder>/` or `tools/<folder>/`). The one include
# of a layer above that design.md documents, the file manager's interface for documents
# (filemanager/file_manager_data.h from src/files/), is allowed; the public headers (glps/...) may
# be included anywhere. A folder of src/ that the table does not name fails too.
# Run as: cmake -DSOURCE_DIR=<top> -P check_layers.cmake
cmake_minimum_required(VERSION 3.16)
set(allowed_upward "files -> filemanager/file_manager_data.h")

# The layers from the top down.
file(STRINGS "${SOURCE_DIR}/docs/design.md" lines ENCODING UTF-8)
set(layers)
set(in_section OFF)
foreach(line IN LISTS lines)
  if(line MATCHES "^## ")
    if(line STREQUAL "## Layers")
      set(in_section ON)
    else()
      set(in_section OFF)
    endif()
  elseif(in_section AND line MATCHES "^\\|[^|]*\\|([^|]*)\\|")
    string(REGEX MATCH "`(src|tools)/[A-Za-z0-9_]+/" directory "${CMAKE_MATCH_1}")
    string(REGEX REPLACE "^`|/$" "" layer "${directory}")
    if(layer AND NOT layer IN_LIST layers)
      list(APPEND layers "${layer}")
    endif()
  endif()
endforeach()
list(LENGTH layers layer_count)
if(layer_count LESS 2)
  message(FATAL_ERROR "docs/design.md: no layer table found under '## Layers' (read: [${layers}])")
endif()

set(failures)
file(GLOB folders LIST_DIRECTORIES true RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/*")
foreach(folder IN LISTS folders)
  if(IS_DIRECTORY "${SOURCE_DIR}/src/${folder}" AND NOT "src/${folder}" IN_LIST layers)
    list(APPEND failures "src/${folder}/ is not a layer of docs/design.md's table")
  endif()
endforeach()

file(GLOB_RECURSE sources RELATIVE "${SOURCE_DIR}/src" "${SOURCE_DIR}/src/*.cc"
  "${SOURCE_DIR}/src/*.h")
list(SORT sources)
foreach(source IN LISTS sources)
  string(REGEX REPLACE "/.*" "" folder "${source}")
  list(FIND layers "src/${folder}" rank)
  if(rank EQUAL -1)
    continue()  # reported above
  endif()
  file(STRINGS "${SOURCE_DIR}/src/${source}" includes
    REGEX "^[ \t]*#[ \t]*include[ \t]*\"[A-Za-z0-9_]+/")
  foreach(include IN LISTS includes)
    string(REGEX REPLACE "^[^\"]*\"([^\"]*)\".*" "\\1" included "${include}")
    string(REGEX REPLACE "/.*" "" target "${included}")
    list(FIND layers "src/${target}" target_rank)
    if(target STREQUAL "glps" OR target STREQUAL folder OR target_rank GREATER rank)
      continue()
    endif()
    if("${folder} -> ${included}" IN_LIST allowed_upward)
      continue()
    endif()
    if(target_rank EQUAL -1)
      list(APPEND failures "src/${source} includes ${included}, of no layer")
    else()
      list(APPEND failures "src/${source} includes ${included}, of a layer above its own")
    endif()
  endforeach()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  list(JOIN layers " > " order)
  message(FATAL_ERROR "layers (${order}):\n  ${text}")
endif()
list(LENGTH sources count)
message(STATUS "${count} sources of src/ include only the layers below their own")
