// SPDX-License-Identifier: Apache-2.0
// The one rule that decides whether a file of a log directory still is what its record says, and
// the read-only look that the rule is applied to. Opening a log and the auditor's `glps verify`
// both decide through it.
#ifndef GLPS_FILEMANAGER_FILE_VERDICT_H_
#define GLPS_FILEMANAGER_FILE_VERDICT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "filemanager/file_manager_data.h"
#include "files/read_only_fingerprint.h"
#include "glps/audit.h"

namespace glps {

// What became of the file that one record names.
enum class FileStatus {
  kIntact,          // size and fingerprint as recorded
  kModified,        // same size, other fingerprint (or a record whose size no file can have)
  kGrownIntact,     // longer than recorded, the recorded part intact (an unsaved tail)
  kGrownModified,   // longer than recorded, the recorded part changed
  kShrunk,          // shorter than recorded
  kMissing,         // nothing under that name
  kNotRegular,      // a directory, a symbolic link, a FIFO, ...
  kUnreadable,      // present but could not be read
  kBadName,         // the record's name is not a plain file name; nothing was looked at
  kUnprotected,     // the record is not protected (the index pages): not checked
  kMultiplyLinked,  // a regular file with more than one name: shared with another place
};

// "intact", "modified", "grown-intact", "grown-modified", "shrunk", "missing", "not-regular",
// "unreadable", "bad-name", "unprotected", "multiply-linked".
const char* StatusName(FileStatus status);

// The rule, for a protected record and what a read-only look at its file found (`found.hash`
// covering the first min(recorded, found) bytes). An empty recorded fingerprint compares the size
// only. A file with more than one name never matches: it is shared with a place outside the log's
// control. Whatever locks other processes hold play no part.
FileStatus ClassifyFile(const KECGlpsFileManagerData& record, const FoundFile& found);

// Only an intact protected file matches its record.
inline bool MatchesRecord(FileStatus status) { return status == FileStatus::kIntact; }

// The result of checking one record.
struct FileCheck {
  FileStatus status = FileStatus::kMissing;
  // What the look found; the default (kMissing, size -1) when nothing was looked at.
  FoundFile found;
};

// Checks the file that `record` names in the directory, strictly read-only
// (FingerprintReadOnly): a name that is not a plain file name is kBadName and nothing is looked
// at; an unprotected record is looked at (its size) but not fingerprinted, kUnprotected; a
// protected one is fingerprinted over its recorded size and classified by ClassifyFile.
// `progress`, `digest`, `contents` and `maxContents` are passed on to FingerprintReadOnly: a
// caller that reads the file's bytes as well has them from the same pass.
FileCheck CheckRecordedFile(const platform::Directory& directory,
                            const KECGlpsFileManagerData& record,
                            const std::function<void(std::int64_t)>& progress = nullptr,
                            crypto::Md5Hash* digest = nullptr, std::string* contents = nullptr,
                            std::int64_t maxContents = INT64_MAX);

// The status as the public interface names it (glps/audit.h).
Glps::EAuditFileStatus PublicStatus(FileStatus status);

// Describes what `check` found of the file that `record` names, in the public form: `file` takes
// the status, the size found and, for a protected record, the fingerprint found, and for an
// unreadable file the system's reason. Its number, record and rule flag are the caller's to set.
void DescribeCheck(const KECGlpsFileManagerData& record, const FileCheck& check,
                   KECGlpsAuditFile* file);

}  // namespace glps

#endif  // GLPS_FILEMANAGER_FILE_VERDICT_H_
