// SPDX-License-Identifier: Apache-2.0
// The entry point of the PDF copy's module (audit/pdf_module.h): its only exported symbol.
#include "audit/pdf_copy.h"
#include "audit/pdf_module.h"

extern "C" __attribute__((visibility("default"))) const glps::audit::PdfModuleTable*
glps_pdf_module() {
  static const glps::audit::PdfModuleTable table = [] {
    glps::audit::PdfModuleTable built = glps::audit::ThisBuildsPdfModuleTable();
    built.render = &glps::audit::RenderPdfCopy;
    return built;
  }();
  return &table;
}
