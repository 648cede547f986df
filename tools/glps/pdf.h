// SPDX-License-Identifier: Apache-2.0
// `glps pdf`: a complete, printable copy of a log's trail in one PDF, through the library's
// KECGlpsAuditCopy.
#ifndef GLPS_TOOLS_PDF_H_
#define GLPS_TOOLS_PDF_H_

#include <cstdint>
#include <ostream>
#include <string>

namespace glps_tool {

struct PdfOptions {
  std::string directory;
  std::string output;   // the PDF file; "-" for standard output
  std::string info;     // --info HASH:SIZE (empty: none)
  std::string sealKey;  // --seal-key KEY: the verification key of a sealed log (empty: none)
  std::string time;     // --time (empty: $SOURCE_DATE_EPOCH, else now)
  bool quiet = false;
  bool progress = true;  // on a terminal, for a long copy
};

// The time of the copy from --time: seconds since 1970, or YYYY-MM-DD[THH:MM[:SS]] with Z or an
// offset +HH:MM (a time without a zone is refused: the copy would differ from zone to zone). False
// for anything else.
bool ParseCopyTime(const std::string& text, std::int64_t* seconds);

// Runs the subcommand, read-only on the log. `sourceDateEpoch` is $SOURCE_DATE_EPOCH (null when
// unset), used when --time is not given. Exit status 0 when the copy was written, whatever the
// verdict it states; 1 when it could not be written; 2 for a usage error; 4 when the log cannot
// be read. The PDF written to standard output streams out as it is made. Progress goes to `err`
// when `errIsTerminal` and the copy is long.
int RunPdf(const PdfOptions& options, const char* sourceDateEpoch, std::ostream& out,
           std::ostream& err, bool errIsTerminal = false);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_PDF_H_
