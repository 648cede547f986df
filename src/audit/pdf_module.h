// SPDX-License-Identifier: Apache-2.0
// The PDF copy's module. Laying out and writing the PDF (audit/pdf_copy.h) needs Pango and Cairo,
// and with them some thirty libraries that a host verifying or writing logs never uses. That code
// is built into a module of its own, installed beside libglps.so (PdfModuleRelativePath), which the
// library loads the first time a copy is laid out, and never unloads.
//
// The module and the library are built together from the same sources and exchange the copy's
// description as it is (C++ types of pdf_copy.h); the module's file name carries the library's
// version, so two installed versions never load each other's, and the entry point's table carries
// an interface number and the sizes of the exchanged types, checked before the first call.
#ifndef GLPS_AUDIT_PDF_MODULE_H_
#define GLPS_AUDIT_PDF_MODULE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "audit/pdf_copy.h"

namespace glps {
namespace audit {

// Raised whenever what the library and the module exchange changes in any way.
constexpr std::uint32_t kPdfModuleInterface = 1;

// What the module's entry point returns: valid for the life of the process.
struct PdfModuleTable {
  std::uint32_t interface = 0;  // kPdfModuleInterface of the module's build
  std::size_t copySize = 0;     // sizeof(PdfCopy), sizeof(PdfEntry), sizeof(PdfFileRecord)
  std::size_t entrySize = 0;
  std::size_t recordSize = 0;
  // RenderPdfCopy as the module has it.
  bool (*render)(const PdfCopy& copy, std::string* pdf, std::string* error,
                 std::size_t* pages) = nullptr;
};

// The module's one exported symbol: extern "C" const PdfModuleTable* glps_pdf_module(void).
constexpr const char kPdfModuleEntry[] = "glps_pdf_module";
using PdfModuleEntry = const PdfModuleTable* (*)();

// The table the module built from this source tree hands out.
inline PdfModuleTable ThisBuildsPdfModuleTable() {
  PdfModuleTable table;
  table.interface = kPdfModuleInterface;
  table.copySize = sizeof(PdfCopy);
  table.entrySize = sizeof(PdfEntry);
  table.recordSize = sizeof(PdfFileRecord);
  return table;
}

// The module's place relative to the directory of libglps.so, the same in the build tree and in
// the installed tree ("glps/glps-pdf-<version>.so").
const char* PdfModuleRelativePath();

// RenderPdfCopy (audit/pdf_copy.h) through the module, which is loaded on the first call. False,
// with a reason in `error`, when the module cannot be found or loaded (naming its path and the
// loader's reason), is not the one this library was built with, or fails to write the PDF. May be
// called from several threads at once.
bool RenderPdfCopyWithModule(const PdfCopy& copy, std::string* pdf, std::string* error,
                             std::size_t* pages);

}  // namespace audit
}  // namespace glps

#endif  // GLPS_AUDIT_PDF_MODULE_H_
