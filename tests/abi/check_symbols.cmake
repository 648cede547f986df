# SPDX-License-Identifier: Apache-2.0
# The dynamic symbol table of a shared library against its committed list (tests/abi/*.symbols),
# so that a change of the libraries' binary interface is a deliberate act. Also fails when the
# library exports anything of std::, __gnu_cxx:: or boost:: (src/exports.map keeps those local).
# With -DUPDATE=ON it rewrites the list from the library instead (the target glps_update_symbols).
# cmake -DNM=... -DCXXFILT=... -DLIBRARY=... -DLIST=... [-DNAME=libglps.so] [-DUPDATE=ON]
#       -P check_symbols.cmake
if(NOT NAME)
  get_filename_component(NAME "${LIBRARY}" NAME)
endif()
set(library_name "${NAME}")
get_filename_component(list_name "${LIST}" NAME)

execute_process(COMMAND "${NM}" -D --defined-only --format=posix "${LIBRARY}"
  RESULT_VARIABLE result OUTPUT_VARIABLE table ERROR_VARIABLE errors)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "${NM} -D ${LIBRARY} failed (${result}): ${errors}")
endif()
string(REGEX REPLACE "\n$" "" table "${table}")
string(REPLACE "\n" ";" table "${table}")
set(exported)
foreach(line IN LISTS table)
  # "name type value size"; the versionless name is what a program binds to.
  string(REGEX REPLACE " .*" "" name "${line}")
  string(REGEX REPLACE "@.*" "" name "${name}")
  list(APPEND exported "${name}")
endforeach()
list(REMOVE_DUPLICATES exported)
list(SORT exported)
list(LENGTH exported exported_count)

# Demangled names, one per line, for the messages.
function(demangle out)
  set(text "")
  foreach(name IN LISTS ARGN)
    string(APPEND text "${name}\n")
  endforeach()
  set(input "${CMAKE_CURRENT_BINARY_DIR}/${library_name}.names")
  file(WRITE "${input}" "${text}")
  execute_process(COMMAND "${CXXFILT}" INPUT_FILE "${input}" OUTPUT_VARIABLE demangled
    RESULT_VARIABLE result)
  file(REMOVE "${input}")
  if(NOT result EQUAL 0)
    set(demangled "${text}")
  endif()
  string(REGEX REPLACE "\n$" "" demangled "${demangled}")
  string(REPLACE "\n" "\n    " demangled "    ${demangled}")
  set(${out} "${demangled}" PARENT_SCOPE)
endfunction()

# Entities of std::, __gnu_cxx:: and boost:: by their mangled names: members (_ZN with qualifiers),
# std's free functions (_ZSt), type information and virtual tables (_ZTI/_ZTS/_ZTV/_ZTT), thunks,
# guard variables (_ZGV) and function-local statics (_ZZ).
set(special "(N[rVKRO]*|T[ISVT]N?|T[hvc][^N]*N|GVZ?N?[rVKRO]*|ZN?[rVKRO]*)")
set(namespace "(St|S[abdios]|5boost|9__gnu_cxx)")
set(internal)
foreach(name IN LISTS exported)
  if(name MATCHES "^_Z${special}?${namespace}")
    list(APPEND internal "${name}")
  endif()
endforeach()
if(internal)
  list(LENGTH internal internal_count)
  demangle(text ${internal})
  message(FATAL_ERROR "${library_name} exports ${internal_count} symbols of std::, __gnu_cxx:: or "
    "boost::; src/exports.map should keep them local:\n${text}")
endif()

if(UPDATE)
  string(CONCAT text
    "# The dynamic symbols ${library_name} exports (mangled; c++filt shows them), compared by the\n"
    "# test abi.${library_name}. Rewritten by the target glps_update_symbols.\n")
  foreach(name IN LISTS exported)
    string(APPEND text "${name}\n")
  endforeach()
  file(WRITE "${LIST}" "${text}")
  message(STATUS "${list_name}: ${exported_count} symbols written")
  return()
endif()

if(NOT EXISTS "${LIST}")
  message(FATAL_ERROR "${LIST} is missing")
endif()
file(STRINGS "${LIST}" expected REGEX "^[^#]")
list(SORT expected)
set(added ${exported})
list(REMOVE_ITEM added ${expected})
set(removed ${expected})
list(REMOVE_ITEM removed ${exported})
if(added OR removed)
  set(report "")
  if(removed)
    list(LENGTH removed count)
    demangle(text ${removed})
    string(APPEND report "\n  ${count} listed but no longer exported:\n${text}")
  endif()
  if(added)
    list(LENGTH added count)
    demangle(text ${added})
    string(APPEND report "\n  ${count} exported but not listed:\n${text}")
  endif()
  message(FATAL_ERROR "The binary interface of ${library_name} differs from tests/abi/${list_name}:"
    "${report}\n"
    "If the change is intended (a function added to or removed from the public headers), rewrite "
    "the lists with `cmake --build build --target glps_update_symbols` and commit "
    "tests/abi/*.symbols with the change; removing or changing a symbol breaks the hosts built "
    "against the library, so the soname's version must change too (project() in CMakeLists.txt, "
    "CHANGELOG.md). If the symbol should not be exported, mark it hidden (no GLPS_API) or keep it "
    "local in src/exports.map.")
endif()
message(STATUS "${library_name}: ${exported_count} exported symbols, as ${list_name} lists")
