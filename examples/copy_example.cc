// SPDX-License-Identifier: Apache-2.0
// A host that makes printable copies: writes the PDF copy of a log's trail with libglps-pdf.so
// (linked as glps::pdf, or with `pkg-config --cflags --libs glps-pdf`).
//
// Usage: copy_example DIRECTORY PDF. Exit status 0 when the copy was written, 1 when it could not
// be, 2 for a usage error.
#include <glps/audit_copy.h>

#include <iostream>

// Writes the printable copy of the log in argv[1] to the file argv[2].
int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: " << argv[0] << " <log directory> <pdf>\n";
    return 2;
  }
  // Without the info the host kept, the copy states that log.xml could not be authenticated.
  KECGlpsAuditCopyOptions options;
  const KECGlpsAuditCopyResult result = KECGlpsAuditCopy::WritePdf(argv[1], options, argv[2]);
  if (result.m_eStatus != Glps::eAuditCopyMade) {
    std::cerr << "no copy: " << result.m_strError << '\n';
    return 1;
  }
  std::cout << result.m_nPages << " pages; " << result.m_strVerdict << '\n';
  return 0;
}
