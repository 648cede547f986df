// SPDX-License-Identifier: Apache-2.0
// KECGlpsAuditCopy: a complete, printable copy of a log's trail in one PDF, made read-only beside
// the audit of glps/audit.h: a first page with the log, its counts and the verdict of the audit,
// every entry of every document in order, and the file records. In libglps.so's companion
// libglps-pdf.so (CMake target glps::pdf, pkg-config glps-pdf), which alone links Cairo and Pango.
#ifndef GLPS_AUDIT_COPY_H_
#define GLPS_AUDIT_COPY_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "glps/audit.h"
#include "glps/export.h"
#include "glps/records.h"

namespace Glps {

// What became of a request for a copy.
enum EAuditCopyStatus : std::int32_t {
  eAuditCopyMade = 0,           // the copy was made (whatever the verdict it states)
  eAuditCopyLogUnreadable = 1,  // the directory or its log.xml cannot be read: no copy
  eAuditCopyNotWritten = 2,     // the PDF could not be laid out or written
};

}  // namespace Glps

struct GLPS_PDF_API KECGlpsAuditCopyOptions {
  // The info the host kept for the log, checked against log.xml. Without it the copy states that
  // log.xml could not be authenticated.
  bool m_bInfo = false;
  KECGlpsLogInfo m_info;
  // The verification key of a sealed log (glps/seal.h): the copy states what the check of its
  // seals found. Empty: the seals are described, not checked.
  std::string m_strSealKey;
  // The time of the copy, in seconds since 1970 (UTC): shown on every page and recorded in the
  // PDF's metadata. The same log and the same time give the same bytes, so a copy can be made
  // again and compared. -1: the time of the call.
  std::int64_t m_nTime = -1;
};

struct GLPS_PDF_API KECGlpsAuditCopyResult {
  Glps::EAuditCopyStatus m_eStatus = Glps::eAuditCopyNotWritten;
  std::string m_strError;  // why no copy was made; empty when it was
  // The verdict of the audit that the copy states (as KECGlpsAudit::Verify would give it), and
  // its line in words.
  Glps::EAuditVerdict m_eVerdict = Glps::eAuditUnreadable;
  std::string m_strVerdict;
  std::size_t m_nPages = 0;
  std::size_t m_nDocuments = 0;
  std::size_t m_nEntries = 0;
};

// Makes copies. Read-only on the log directory in the same way as KECGlpsAudit (nothing there is
// created, changed or locked); needs no open log and no service, and may be called from several
// threads at once. Each copy verifies the log and reads its trail afresh: what it states is what
// the files said while it was made.
class GLPS_PDF_API KECGlpsAuditCopy {
 public:
  // The copy of the log in `directory` as PDF bytes in `pdf` (left unspecified unless the result
  // is eAuditCopyMade).
  static KECGlpsAuditCopyResult MakePdf(const std::string& directory,
                                        const KECGlpsAuditCopyOptions& options, std::string* pdf);

  // The same, written to the file `path`, which is replaced whole or not at all: a reader sees
  // the old file or the new one, never a part. A symbolic link at `path` is refused, not followed.
  static KECGlpsAuditCopyResult WritePdf(const std::string& directory,
                                         const KECGlpsAuditCopyOptions& options,
                                         const std::string& path);
};

#endif  // GLPS_AUDIT_COPY_H_
