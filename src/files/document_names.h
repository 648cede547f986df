// SPDX-License-Identifier: Apache-2.0
// How a log document and its metadata sidecar name each other.
#ifndef GLPS_FILES_DOCUMENT_NAMES_H_
#define GLPS_FILES_DOCUMENT_NAMES_H_

#include <string>

namespace glps {

// The name of a document's metadata sidecar: the document's name with the extension "xml".
std::string SidecarNameOf(const std::string& document);
// The name of the document whose sidecar `sidecar` would be: the name with the extension "html".
std::string DocumentNameOf(const std::string& sidecar);

}  // namespace glps

#endif  // GLPS_FILES_DOCUMENT_NAMES_H_
