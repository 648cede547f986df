// SPDX-License-Identifier: Apache-2.0
// Prints the version of the headers it was built with and the version libglps.so reports of
// itself, for check_version.cmake: "headers NUMBER TEXT" and "library NUMBER TEXT". Exits 1 when
// the library says it is not compatible with the headers.
#include <cstdio>

#include "glps/version.h"

int main() {
  std::printf("headers %d %s\nlibrary %d %s\n", GLPS_VERSION_NUMBER, GLPS_VERSION_STRING,
              Glps::LibraryVersionNumber(), Glps::LibraryVersion());
  return Glps::IsLibraryCompatible() ? 0 : 1;
}
