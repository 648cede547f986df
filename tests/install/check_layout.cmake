# SPDX-License-Identifier: Apache-2.0
# Checks what `cmake --install` put into PREFIX: every public header, those the build makes included
# (and nothing that includes a Boost or OpenSSL header), the shared libraries with their soname and
# linker-name links, the CMake package, glps.pc and glps-pdf.pc, none of which may point back into
# the source or build tree; and no library but libglps-pdf.so needing the libraries of the PDF copy
# (Cairo, Pango, GLib).
# cmake -DSOURCE_DIR=... -DBUILD_DIR=... -DPREFIX=... -DINCLUDEDIR=... -DLIBDIR=... -DCMAKEDIR=... -DPKGCONFIGDIR=...
#       -DREADELF=... -DVERSION=... -DLIBRARIES=... -DSONAMES=... -DLINKNAMES=... -P check_layout.cmake
set(failures)
macro(fail text)
  list(APPEND failures "${text}")
endmacro()

# --- Headers ----------------------------------------------------------------------------------
file(GLOB_RECURSE source_headers RELATIVE "${SOURCE_DIR}/include" "${SOURCE_DIR}/include/glps/*")
# And the headers the build makes (the version header).
file(GLOB_RECURSE generated_headers RELATIVE "${BUILD_DIR}/include" "${BUILD_DIR}/include/glps/*")
list(APPEND source_headers ${generated_headers})
file(GLOB_RECURSE installed_headers RELATIVE "${PREFIX}/${INCLUDEDIR}"
  "${PREFIX}/${INCLUDEDIR}/glps/*")
list(SORT source_headers)
list(SORT installed_headers)
if(NOT source_headers)
  fail("no public headers found under ${SOURCE_DIR}/include/glps")
endif()
if(NOT source_headers STREQUAL installed_headers)
  fail("installed headers [${installed_headers}] differ from include/ [${source_headers}]")
endif()
foreach(header IN LISTS installed_headers)
  file(SHA256 "${PREFIX}/${INCLUDEDIR}/${header}" installed_hash)
  foreach(origin "${SOURCE_DIR}/include" "${BUILD_DIR}/include")
    if(EXISTS "${origin}/${header}")
      file(SHA256 "${origin}/${header}" source_hash)
      if(NOT installed_hash STREQUAL source_hash)
        fail("${header}: installed copy differs from ${origin}/${header}")
      endif()
    endif()
  endforeach()
  file(STRINGS "${PREFIX}/${INCLUDEDIR}/${header}" private_includes
    REGEX "^[ \t]*#[ \t]*include[ \t]*[<\"](boost|openssl)/")
  if(private_includes)
    fail("${header} includes a private dependency: ${private_includes}")
  endif()
endforeach()
if(NOT EXISTS "${PREFIX}/${INCLUDEDIR}/glps/glps.h")
  fail("the umbrella header glps/glps.h is not installed")
endif()

# --- Libraries: the real file, the soname link and the linker-name link ------------------------
foreach(file soname linkname IN ZIP_LISTS LIBRARIES SONAMES LINKNAMES)
  set(dir "${PREFIX}/${LIBDIR}")
  if(NOT EXISTS "${dir}/${file}" OR IS_SYMLINK "${dir}/${file}")
    fail("${dir}/${file} is missing or not a regular file")
    continue()
  endif()
  if(NOT file MATCHES "\\.so\\.${VERSION}$")
    fail("${file} does not carry the version ${VERSION}")
  endif()
  execute_process(COMMAND "${READELF}" -d "${dir}/${file}" OUTPUT_VARIABLE dynamic
    RESULT_VARIABLE result)
  string(REGEX MATCHALL "\\(NEEDED\\)[^[]*\\[(libcairo|libpango|libglib|libgobject)[^]]*\\]"
    rendering "${dynamic}")
  if(rendering AND NOT file MATCHES "^libglps-pdf\\.")
    fail("${file} needs what only libglps-pdf.so may: ${rendering}")
  endif()
  if(NOT result EQUAL 0 OR NOT dynamic MATCHES "\\(SONAME\\)[^[]*\\[([^]]*)\\]")
    fail("${file}: no soname found by ${READELF} -d")
  elseif(NOT CMAKE_MATCH_1 STREQUAL soname)
    fail("${file} has the soname '${CMAKE_MATCH_1}', expected '${soname}'")
  endif()
  foreach(link IN ITEMS ${soname} ${linkname})
    if(NOT IS_SYMLINK "${dir}/${link}")
      fail("${dir}/${link} is not a symbolic link")
    else()
      file(REAL_PATH "${dir}/${link}" target)
      file(REAL_PATH "${dir}/${file}" expected)
      if(NOT target STREQUAL expected)
        fail("${link} points to ${target}, not to ${file}")
      endif()
    endif()
  endforeach()
endforeach()

# --- CMake package and pkg-config file ---------------------------------------------------------
set(package_files
  "${CMAKEDIR}/glpsConfig.cmake"
  "${CMAKEDIR}/glpsConfigVersion.cmake"
  "${CMAKEDIR}/glpsTargets.cmake"
  "${PKGCONFIGDIR}/glps.pc"
  "${PKGCONFIGDIR}/glps-pdf.pc")
file(GLOB target_config_files "${PREFIX}/${CMAKEDIR}/glpsTargets-*.cmake")
foreach(file IN LISTS package_files target_config_files)
  if(NOT IS_ABSOLUTE "${file}")
    set(file "${PREFIX}/${file}")
  endif()
  if(NOT EXISTS "${file}")
    fail("${file} is missing")
    continue()
  endif()
  file(READ "${file}" text)
  foreach(tree IN ITEMS "${SOURCE_DIR}" "${BUILD_DIR}")
    string(FIND "${text}" "${tree}" in_tree)
    if(NOT in_tree EQUAL -1)
      fail("${file} names ${tree}")
    endif()
  endforeach()
  string(FIND "${text}" "${PREFIX}" in_prefix)
  if(NOT in_prefix EQUAL -1)
    fail("${file} names the prefix it was installed to, so it cannot be moved")
  endif()
endforeach()
if(NOT target_config_files)
  fail("no glpsTargets-<config>.cmake installed")
endif()
foreach(pc glps.pc glps-pdf.pc)
  if(EXISTS "${PREFIX}/${PKGCONFIGDIR}/${pc}")
    file(STRINGS "${PREFIX}/${PKGCONFIGDIR}/${pc}" pc_version REGEX "^Version: ")
    if(NOT pc_version STREQUAL "Version: ${VERSION}")
      fail("${pc} says '${pc_version}', expected 'Version: ${VERSION}'")
    endif()
  endif()
endforeach()

if(failures)
  list(JOIN failures "\n  " text)
  message(FATAL_ERROR "install layout:\n  ${text}")
endif()
list(LENGTH installed_headers header_count)
message(STATUS "install layout: ${header_count} headers, libraries and package files as expected")
