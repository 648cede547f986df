// SPDX-License-Identifier: Apache-2.0
// A PDF copy module as a build with another interface would make it: the library must refuse it
// before calling anything in it.
#include "audit/pdf_module.h"

namespace {

bool RenderNothing(const glps::audit::PdfCopy&, std::string* pdf, std::string*, std::size_t*) {
  *pdf = "%PDF- not from the module the library was built with";
  return true;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) const glps::audit::PdfModuleTable*
glps_pdf_module() {
  static const glps::audit::PdfModuleTable table = [] {
    glps::audit::PdfModuleTable other = glps::audit::ThisBuildsPdfModuleTable();
    other.interface = glps::audit::kPdfModuleInterface + 1;
    other.render = &RenderNothing;
    return other;
  }();
  return &table;
}
