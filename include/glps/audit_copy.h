// SPDX-License-Identifier: Apache-2.0
// KECGlpsAuditCopy: a complete, printable copy of a log's trail in one PDF, made read-only beside
// the audit of glps/audit.h: a first page with the log, its counts and the verdict of the audit,
// every entry of every document in order, and the file records. In libglps.so's companion
// libglps-pdf.so (CMake target glps::pdf, pkg-config glps-pdf), which alone links Cairo and Pango.
#ifndef GLPS_AUDIT_COPY_H_
#define GLPS_AUDIT_COPY_H_

#include <cstddef>
#include <cstdint>
#include <functional>
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
  // Called while the copy is laid out, with the entries laid out so far and in all (each entry is
  // laid out twice: once to find the pages, once to draw it); may be empty.
  std::function<void(std::int64_t done, std::int64_t total)> m_progress;
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
// threads at once. Each copy verifies the log, reading each document once: the verdict it states
// and every entry it shows come from the bytes that were verified. The entries are kept for the
// copy in a private file without a name in the system's temporary directory ($TMPDIR, else /tmp)
// while it is laid out, so that memory does not grow with the log (but that directory needs room
// for about as much as the log's documents). Each entry carries the standing of its bytes.
class GLPS_PDF_API KECGlpsAuditCopy {
 public:
  // The copy of the log in `directory` as PDF bytes in `pdf` (left unspecified unless the result
  // is eAuditCopyMade).
  static KECGlpsAuditCopyResult MakePdf(const std::string& directory,
                                        const KECGlpsAuditCopyOptions& options, std::string* pdf);

  // The copy handed to `write` as it is made, piece by piece (a false return stops it: the result
  // is then eAuditCopyNotWritten). What was written before a failure is not a whole copy.
  static KECGlpsAuditCopyResult StreamPdf(
      const std::string& directory, const KECGlpsAuditCopyOptions& options,
      const std::function<bool(const char* data, std::size_t size)>& write);

  // The same, written to the file `path`, which is replaced whole or not at all: a reader sees
  // the old file or the new one, never a part. A symbolic link at `path` is refused, not followed.
  static KECGlpsAuditCopyResult WritePdf(const std::string& directory,
                                         const KECGlpsAuditCopyOptions& options,
                                         const std::string& path);
};

#endif  // GLPS_AUDIT_COPY_H_
