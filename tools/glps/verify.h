// SPDX-License-Identifier: Apache-2.0
// `glps verify`: the auditor's read-only check of one log directory or of many, through the
// library's audit API.
#ifndef GLPS_TOOLS_VERIFY_H_
#define GLPS_TOOLS_VERIFY_H_

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "glps/audit.h"
#include "json_out.h"

namespace glps_tool {

struct VerifyOptions {
  std::vector<std::string> directories;
  bool recursive = false;    // find every log directory below each directory given
  std::string info;          // --info HASH:SIZE (one directory only)
  std::string infoFile;      // --info-file FILE
  std::string sealKey;       // --seal-key KEY: the verification key of a sealed log (one only)
  bool requireInfo = false;  // a log without an info fails
  bool json = false;
  bool quiet = false;    // exit status only
  bool progress = true;  // on a terminal
  unsigned jobs = 0;     // logs verified at once; 0: one per core
};

// Parses "HASH:SIZE" (split at the last ':'; SIZE a decimal count of bytes, 0 or more).
bool ParseLogInfo(const std::string& text, KECGlpsLogInfo* info);

// Reads a file of infos, one log per line: "HASH:SIZE PATH", or "log PATH HASH SIZE" as the demo
// keeps them ('-' for an empty hash); a relative PATH is taken from the file's directory. Empty
// lines and lines starting with '#' or "runs " are skipped. The keys are the logs' paths made
// absolute and normal. False, with the reason, for a line in neither form.
bool ReadInfoFile(const std::string& path, std::map<std::string, KECGlpsLogInfo>* infos,
                  std::string* error);

// The log directories at or below `root` (directories holding a log.xml), sorted; symbolic links
// are not followed.
std::vector<std::string> FindLogDirectories(const std::string& root);

// The verdict's word: "intact", "not-intact", "not-authenticated", "unreadable",
// "tamper-recorded".
const char* VerdictName(Glps::EAuditVerdict verdict);

// The verdict of one log in a line for a person ("INTACT and authenticated: ...", "NOT INTACT:
// ..."), as the result line of the table gives it.
std::string VerdictLine(const KECGlpsAuditReport& report, bool requireInfo);

void PrintVerifyTable(const KECGlpsAuditReport& report, bool requireInfo, std::ostream& out);
// The report as the JSON document of docs/json.md.
Json VerifyJson(const KECGlpsAuditReport& report, bool requireInfo, const std::string& checkedAt);

// Runs the subcommand; returns the exit status. Progress goes to `err` when `errIsTerminal`.
int RunVerify(const VerifyOptions& options, std::ostream& out, std::ostream& err,
              bool errIsTerminal);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_VERIFY_H_
