// SPDX-License-Identifier: Apache-2.0
// The audit's reads of a log directory, all relative to the directory opened once, as the
// library's own opening makes them: log.xml, read once and hashed and parsed from the same bytes;
// one recorded file, judged by the library's one rule; a file read whole.
#ifndef GLPS_AUDIT_FILE_CHECK_H_
#define GLPS_AUDIT_FILE_CHECK_H_

#include <cstdint>
#include <functional>
#include <string>

#include "glps/audit.h"
#include "platform/platform.h"

namespace glps {
namespace audit {

// Opens the log directory at `path` (a symbolic link as its last component followed, as a path
// given on a command line is). Null, with the reason in `error`, when it is missing, not a
// directory or cannot be opened.
platform::DirectoryPtr OpenLogDirectory(const std::string& path, std::string* error);

// Reads log.xml of `directory`: `state` receives what it holds and `info` the hash text and size
// of the bytes read. False, with the reason in `error`, when log.xml is missing, not a regular
// file, unreadable or not a complete log archive; `state` and `info` are then left as they were.
bool ReadLogXml(const platform::DirectoryPtr& directory, KECGlpsAuditLogState* state,
                KECGlpsLogInfo* info, std::string* error);

// Checks the file that `record` names in `directory`, read-only, and fills the status, the size
// and fingerprint found and, for an unreadable file, the reason. `progress` is called with the
// bytes hashed so far. With `contents`, the file is read whole in the same pass (CheckRecordedFile)
// unless it is larger than `maxContents`: true when `contents` then holds the bytes that were
// checked (false, `contents` empty, when the file was not read or was too large).
bool CheckFile(const platform::Directory& directory, const KECGlpsFileManagerData& record,
               const std::function<void(std::int64_t)>& progress, KECGlpsAuditFile* file,
               std::string* contents = nullptr, std::int64_t maxContents = INT64_MAX);

// Reads the whole regular file `name` of `directory`, read-only, into `contents` (whose storage is
// reused; on failure it may hold anything). False, with the reason in `error`, when it is
// missing, not a regular file, larger than `maxSize` or cannot be read.
bool ReadWhole(const platform::Directory& directory, const std::string& name, std::string* contents,
               std::int64_t maxSize, std::string* error);

// What is under `name` in `directory`: "file", "directory", "symlink", "other" or "unknown", and
// a file's size (-1 otherwise); "" when nothing is there.
std::string TypeOf(const platform::Directory& directory, const std::string& name,
                   std::int64_t* size);

}  // namespace audit
}  // namespace glps

#endif  // GLPS_AUDIT_FILE_CHECK_H_
