// SPDX-License-Identifier: Apache-2.0
// The library's own version: the one of the headers it was built with.
#include "glps/version.h"

namespace Glps {

int LibraryVersionNumber() { return GLPS_VERSION_NUMBER; }

const char* LibraryVersion() { return GLPS_VERSION_STRING; }

}  // namespace Glps
