// SPDX-License-Identifier: Apache-2.0
#include "files/document_names.h"

#include "glps/host/gen.h"

namespace glps {

std::string SidecarNameOf(const std::string& document) {
  return KCGenFileUtils::MakeNameExtension(document, "xml");
}

std::string DocumentNameOf(const std::string& sidecar) {
  return KCGenFileUtils::MakeNameExtension(sidecar, "html");
}

}  // namespace glps
