// SPDX-License-Identifier: Apache-2.0
#include "audit/file_check.h"

#include <cstring>

#include "filemanager/file_manager_data.h"
#include "filemanager/file_verdict.h"
#include "session/session_data_storage.h"

namespace glps {
namespace audit {
namespace {

const char kLogXml[] = "log.xml";

std::string Reason(int error, const char* otherwise) {
  return error != 0 ? std::strerror(error) : otherwise;
}

}  // namespace

platform::DirectoryPtr OpenLogDirectory(const std::string& path, std::string* error) {
  platform::DirectoryPtr directory = platform::OpenDirectory(path, true);
  if (directory->IsOpen()) return directory;
  *error = path + (platform::PathExists(path) ? ": not a directory, or it cannot be opened"
                                              : ": No such file or directory");
  return nullptr;
}

bool ReadLogXml(const platform::DirectoryPtr& directory, KECGlpsAuditLogState* state,
                KECGlpsLogInfo* info, std::string* error) {
  platform::FileFacts facts;
  platform::Stat(*directory, kLogXml, &facts);
  const std::string path = directory->PathOf(kLogXml);
  switch (facts.kind) {
    case platform::FileFacts::Kind::kMissing:
      *error = directory->Path() + ": no log.xml here (not a log directory?)";
      return false;
    case platform::FileFacts::Kind::kUnknown:
      *error = path + ": " + Reason(facts.error, "cannot be examined");
      return false;
    case platform::FileFacts::Kind::kRegular: break;
    default: *error = path + ": not a regular file"; return false;
  }
  KECGlpsLogSessionDataStorage storage(platform::FileLocation(directory, kLogXml));
  if (!storage.Load()) {
    *error = path + ": cannot be read as a complete log archive";
    return false;
  }
  state->m_header = *storage.GetHeader();
  state->m_metaData = *storage.GetMetaData();
  state->m_catalog = *storage.GetCatalog();
  state->m_vRecords = *storage.GetFileData();
  // The hash of the very bytes that were parsed.
  *info = storage.GetLoadedLogInfo();
  return true;
}

bool CheckFile(const platform::Directory& directory, const KECGlpsFileManagerData& record,
               const std::function<void(std::int64_t)>& progress, KECGlpsAuditFile* file,
               std::string* contents, std::int64_t maxContents) {
  // The library's one rule, as when it opens the log.
  const FileCheck check =
      CheckRecordedFile(directory, record, progress, nullptr, contents, maxContents);
  DescribeCheck(record, check, file);
  return check.found.contentsKept;
}

bool ReadWhole(const platform::Directory& directory, const std::string& name, std::string* contents,
               std::int64_t maxSize, std::string* error) {
  platform::FileFacts facts;
  const platform::FileHandle file = platform::OpenReadOnly(directory, name, &facts);
  if (file == platform::kInvalidHandle) {
    switch (facts.kind) {
      case platform::FileFacts::Kind::kMissing: *error = "missing"; break;
      case platform::FileFacts::Kind::kRegular:
      case platform::FileFacts::Kind::kUnknown:
        *error = Reason(facts.error, "cannot be opened");
        break;
      default: *error = "not a regular file"; break;
    }
    return false;
  }
  if (facts.size > maxSize) {
    platform::Close(file);
    *error = "larger than " + std::to_string(maxSize) + " bytes";
    return false;
  }
  std::string& data = *contents;
  data.resize(static_cast<std::size_t>(facts.size));
  std::size_t done = 0;
  bool ok = true;
  for (;;) {
    if (done == data.size()) {
      // The size is a hint only: the file may have grown since it was opened.
      if (static_cast<std::int64_t>(data.size()) >= maxSize) break;
      data.resize(std::min<std::size_t>(data.size() + 65536, static_cast<std::size_t>(maxSize)));
    }
    const std::size_t ask = std::min<std::size_t>(data.size() - done, std::size_t{1} << 30);
    const platform::IoResult got =
        platform::Read(file, &data[done], static_cast<std::uint32_t>(ask));
    if (!got.first) {
      *error = "a read failed";
      ok = false;
      break;
    }
    if (got.second == 0) break;
    done += got.second;
  }
  platform::Close(file);
  if (ok) data.resize(done);
  return ok;
}

std::string TypeOf(const platform::Directory& directory, const std::string& name,
                   std::int64_t* size) {
  platform::FileFacts facts;
  platform::Stat(directory, name, &facts);
  *size = facts.IsRegular() ? facts.size : -1;
  switch (facts.kind) {
    case platform::FileFacts::Kind::kMissing: return std::string();
    case platform::FileFacts::Kind::kRegular: return "file";
    case platform::FileFacts::Kind::kDirectory: return "directory";
    case platform::FileFacts::Kind::kSymbolicLink: return "symlink";
    case platform::FileFacts::Kind::kOther: return "other";
    case platform::FileFacts::Kind::kUnknown: break;
  }
  return "unknown";
}

}  // namespace audit
}  // namespace glps
