// SPDX-License-Identifier: Apache-2.0
// A host module that makes copies: a shared object that links libglps-pdf.so (and through it
// libglps.so) and offers a plain C entry point. Loading this module loads both libraries; unloading
// it is their only reference, so it unloads them too.
#include <glps/audit_copy.h>
#include <glps/glps.h>

#include "module_log.h"

extern "C" {

// Writes an experiment log in `directory` (which must exist), saves and closes it, and makes its
// PDF copy at `pdf`; true when all succeeded.
bool glps_module_make_copy(const char* directory, const char* pdf) {
  const bool ok = WriteModuleLog(directory);
  KECGlpsAuditCopyOptions options;
  options.m_nTime = 0;
  return KECGlpsAuditCopy::WritePdf(directory, options, pdf).m_eStatus == Glps::eAuditCopyMade &&
         ok;
}

}  // extern "C"
