// SPDX-License-Identifier: Apache-2.0
// `glps verify`: the auditor's read-only check of a log directory.
#ifndef GLPS_TOOLS_VERIFY_H_
#define GLPS_TOOLS_VERIFY_H_

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "filemanager/file_manager_data.h"
#include "filemanager/file_verdict.h"
#include "glps/records.h"

namespace glps_tool {

// What became of one file that a record of log.xml names: the library's own verdict.
using FileStatus = glps::FileStatus;
using glps::StatusName;

struct RecordCheck {
  std::size_t number = 0;  // position in record order, from 1
  KECGlpsFileManagerData record;
  FileStatus status = FileStatus::kMissing;
  // Size of the regular file found; -1 when none was found (or the record was not looked at).
  std::int64_t foundSize = -1;
  // Fingerprint of the first min(recorded, found) bytes; empty when nothing was hashed.
  std::string foundHash;
};

// A directory entry that no record names (log.xml aside).
struct UnregisteredEntry {
  std::string name;
  std::string type;        // "file", "directory", "symlink", "other" or "unknown"
  std::int64_t size = -1;  // for a file; -1 otherwise
};

enum class InfoCheck { kNotChecked, kMatches, kDiffers };

// The result of one verification. A plain value.
struct VerifyReport {
  std::string directory;
  // Not empty when the directory or its log.xml could not be read; nothing else is then filled.
  std::string error;
  // Hash text (the host's SHA-256 form) and size of log.xml as found.
  KECGlpsLogInfo logXml;
  bool infoGiven = false;
  KECGlpsLogInfo info;
  InfoCheck infoCheck = InfoCheck::kNotChecked;
  std::vector<RecordCheck> records;
  std::vector<UnregisteredEntry> unregistered;
  // The directory holds the log's lock file, "log.lock": named as such, never opened, never
  // counted as unregistered.
  bool lockFile = false;

  std::size_t ProtectedCount() const;
  std::size_t ProtectedIntactCount() const;
  // 0: every protected file intact and the info, when given, matches; 1: anything else found;
  // 2: the directory or log.xml could not be read.
  int ExitStatus() const;
};

// Called while files are hashed, with the bytes hashed so far and the bytes to hash in all.
using VerifyProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// Checks the log in `directory` against its records and, when `info` is not null, log.xml against
// that info. Strictly read-only (files/read_only_fingerprint.h): nothing in the directory is
// created, written, truncated, locked, renamed or deleted, and no modification time changes.
// Unprotected records are reported but never checked; only protected ones decide the result,
// as when the library opens the log.
VerifyReport VerifyLogDirectory(const std::string& directory, const KECGlpsLogInfo* info,
                                const VerifyProgress& progress = nullptr);

// Parses "HASH:SIZE" (split at the last ':'; SIZE a decimal count of bytes, 0 or more).
bool ParseLogInfo(const std::string& text, KECGlpsLogInfo* info);

void PrintVerifyTable(const VerifyReport& report, std::ostream& out);
void PrintVerifyJson(const VerifyReport& report, std::ostream& out);

// The subcommand: `glps verify DIR [--info HASH:SIZE] [--json]`. Returns the exit status. With
// `progressOnTerminal`, progress goes to `err` while a large log is hashed (the caller passes true
// only when standard error is a terminal).
int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              bool progressOnTerminal);
void PrintVerifyHelp(std::ostream& out);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_VERIFY_H_
