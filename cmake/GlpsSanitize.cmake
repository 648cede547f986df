# SPDX-License-Identifier: Apache-2.0
# Sanitized builds and fuzz targets.
#
# GLPS_SANITIZE: everything (library, host library, tests, tools) is compiled and linked with
# AddressSanitizer and UndefinedBehaviorSanitizer. Every UBSan finding aborts (no recovery), so a
# report fails the test that caused it. `make test` runs the whole suite a second time in such a
# build (build-asan); tests that cannot run under the sanitizers carry the CTest label
# "no-sanitize" and the reason next to it.
#
# The vptr check stays off: it reads an object's dynamic type through a probe of memory that needs a
# free file descriptor (a pipe), so in the tests that leave a process none it reports valid objects
# (a shared_ptr's own control block made by make_shared) as having an invalid vptr.
#
# GLPS_BUILD_FUZZ: the libFuzzer programs of fuzz/ (clang only). The library is then compiled with
# the fuzzer's coverage instrumentation as well. Without it, fuzz/ still builds a replay program per
# target with the normal compiler, which `make test` runs over the seed corpus and every regression
# input.
option(GLPS_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(GLPS_BUILD_FUZZ "Build the libFuzzer targets of fuzz/ (needs clang)" OFF)

if(GLPS_BUILD_FUZZ AND NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  message(FATAL_ERROR "GLPS_BUILD_FUZZ needs clang (configure with -DCMAKE_CXX_COMPILER=clang++)")
endif()

if(GLPS_SANITIZE)
  add_compile_options(-fsanitize=address,undefined,float-divide-by-zero -fno-sanitize=vptr
                      -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined,float-divide-by-zero)
endif()

if(GLPS_BUILD_FUZZ)
  # Coverage for the fuzzer in every object; only the fuzz programs link libFuzzer's main.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
