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
  bool recursive = false;    // every log directory at or below each directory given
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
// The info as the command writes it everywhere: "HASH:SIZE".
std::string InfoText(const KECGlpsLogInfo& info);

// The line of an info file for one log, as sha256sum writes a checksum: the info, two blanks and
// the path, a line end. A path holding a backslash or a line end is written with them escaped
// ("\\", "\n", "\r") and the line begins with a backslash.
std::string InfoLine(const KECGlpsLogInfo& info, const std::string& path);
// Parses a line of an info file (without its line end): InfoLine's form, or the forms that earlier
// versions read, "HASH:SIZE PATH" (one blank) and the demo's "log PATH HASH SIZE". False for a
// line in none of them.
bool ParseInfoLine(const std::string& line, KECGlpsLogInfo* info, std::string* path);

// Reads a file of infos, a line per log (see ParseInfoLine); a relative PATH is taken from the
// file's directory. Empty lines and lines starting with '#' (or "runs ", as the demo's state file
// of earlier versions held) are skipped. The keys are the logs' paths made absolute and normal.
// False, with the reason, for a line in no such form.
bool ReadInfoFile(const std::string& path, std::map<std::string, KECGlpsLogInfo>* infos,
                  std::string* error);

// The verdict's word: "intact", "not-intact", "not-authenticated", "unreadable",
// "tamper-recorded".
const char* VerdictName(Glps::EAuditVerdict verdict);

// The verdict of one log in a line for a person ("INTACT and authenticated: ...", "NOT INTACT:
// ..."), as the result line of the table gives it.
std::string VerdictLine(const KECGlpsAuditReport& report, bool requireInfo);

void PrintVerifyTable(const KECGlpsAuditReport& report, bool requireInfo, std::ostream& out);
// The report as the JSON document of docs/json.md; `kind` says what it is of: "log",
// "unreadable-directory" (a directory that a walk could not read) or "missing-log" (listed in the
// info file, not found).
Json VerifyJson(const KECGlpsAuditReport& report, bool requireInfo, const std::string& checkedAt,
                const char* kind = "log");

// Runs the subcommand; returns the exit status. Progress goes to `err` when `errIsTerminal`.
int RunVerify(const VerifyOptions& options, std::ostream& out, std::ostream& err,
              bool errIsTerminal);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_VERIFY_H_
