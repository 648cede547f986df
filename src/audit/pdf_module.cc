// SPDX-License-Identifier: Apache-2.0
// Finding, loading and checking the PDF copy's module (audit/pdf_module.h). The module is looked
// for in one place only, relative to the directory the library itself was loaded from: never
// through the environment, the working directory or the loader's search path.
#include "audit/pdf_module.h"

#include <mutex>
#include <string>

#include "platform/platform.h"

namespace glps {
namespace audit {

namespace {

// The module's table once it is loaded and checked. A failure is not kept: the next copy tries
// again, so a module installed meanwhile is found.
class PdfModuleLoader {
 public:
  const PdfModuleTable* Get(std::string* error) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_table == nullptr) m_table = Load(error);
    return m_table;
  }

 private:
  static const PdfModuleTable* Load(std::string* error) {
    std::string reason;
    const std::string directory = platform::OwnDirectory(&reason);
    if (directory.empty()) {
      *error = "cannot find the PDF module: " + reason;
      return nullptr;
    }
    const std::string path = directory + "/" + PdfModuleRelativePath();
    void* module = platform::LoadModule(directory, PdfModuleRelativePath(), &reason);
    if (module == nullptr) {
      *error = "the PDF module is not available: " + reason;
      return nullptr;
    }
    void* entry = platform::ModuleSymbol(module, kPdfModuleEntry, &reason);
    if (entry == nullptr) {
      *error = "the PDF module " + path + " is not usable: " + reason;
      return nullptr;
    }
    const PdfModuleTable* table = reinterpret_cast<PdfModuleEntry>(entry)();
    const PdfModuleTable expected = ThisBuildsPdfModuleTable();
    if (table == nullptr || table->interface != expected.interface ||
        table->copySize != expected.copySize || table->entrySize != expected.entrySize ||
        table->recordSize != expected.recordSize || table->render == nullptr) {
      *error = "the PDF module " + path + " has interface " +
               (table == nullptr ? std::string("none") : std::to_string(table->interface)) +
               ", not the one of this library (" + std::to_string(expected.interface) +
               " with the same types)";
      return nullptr;
    }
    return table;
  }

  std::mutex m_mutex;
  const PdfModuleTable* m_table = nullptr;  // null until loaded and checked
};

}  // namespace

const char* PdfModuleRelativePath() { return GLPS_PDF_MODULE_RELATIVE_PATH; }

bool RenderPdfCopyWithModule(const PdfCopy& copy, std::string* pdf, std::string* error,
                             std::size_t* pages) {
  static PdfModuleLoader loader;
  const PdfModuleTable* table = loader.Get(error);
  return table != nullptr && table->render(copy, pdf, error, pages);
}

}  // namespace audit
}  // namespace glps
