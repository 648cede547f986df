// SPDX-License-Identifier: Apache-2.0
// Reading a log directory's log.xml for the glps command, with the library's own storage code.
#ifndef GLPS_TOOLS_LOG_STATE_H_
#define GLPS_TOOLS_LOG_STATE_H_

#include <string>
#include <vector>

#include "filemanager/file_manager_data.h"
#include "glps/records.h"

namespace glps_tool {

// What a log's log.xml holds, read once. A plain value owned by the caller.
struct LogState {
  KECGlpsLogHeader header;
  KECGlpsLogMetaData metaData;
  KECGlpsLogCatalog catalog;
  std::vector<KECGlpsFileManagerData> records;
  // Hash text and size of the very bytes that were parsed.
  KECGlpsLogInfo logXmlInfo;
};

// The path of log.xml in `directory`.
std::string LogXmlPath(const std::string& directory);

// Reads log.xml of `directory` with KECGlpsLogSessionDataStorage::Load, which only reads. True when
// the whole file was read; otherwise `error` says why (the directory is missing or not a
// directory, log.xml is missing, not a regular file, unreadable or not a complete log archive) and
// `state` is left as it was.
bool ReadLogState(const std::string& directory, LogState* state, std::string* error);

// The name of a record's kind: "log", "metadata", "index-main", "index-menu", "link", "none", or
// "kind-N" for a value this library does not use.
std::string KindName(Glps::EFileType kind);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_LOG_STATE_H_
