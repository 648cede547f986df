// SPDX-License-Identifier: Apache-2.0
#include "filemanager/file_verdict.h"

#include <cstring>

namespace glps {

const char* StatusName(FileStatus status) {
  switch (status) {
    case FileStatus::kIntact: return "intact";
    case FileStatus::kModified: return "modified";
    case FileStatus::kGrownIntact: return "grown-intact";
    case FileStatus::kGrownModified: return "grown-modified";
    case FileStatus::kShrunk: return "shrunk";
    case FileStatus::kMissing: return "missing";
    case FileStatus::kNotRegular: return "not-regular";
    case FileStatus::kUnreadable: return "unreadable";
    case FileStatus::kBadName: return "bad-name";
    case FileStatus::kUnprotected: return "unprotected";
    case FileStatus::kMultiplyLinked: return "multiply-linked";
  }
  return "unknown";
}

FileStatus ClassifyFile(const KECGlpsFileManagerData& record, const FoundFile& found) {
  switch (found.state) {
    case FoundFile::State::kMissing: return FileStatus::kMissing;
    case FoundFile::State::kNotRegular: return FileStatus::kNotRegular;
    case FoundFile::State::kUnreadable: return FileStatus::kUnreadable;
    case FoundFile::State::kRegular: break;
  }
  if (found.links > 1) return FileStatus::kMultiplyLinked;
  if (record.m_nSize < 0) return FileStatus::kModified;
  if (found.size < record.m_nSize) return FileStatus::kShrunk;
  const bool sameContent = record.m_strHash.empty() || record.m_strHash == found.hash;
  if (found.size > record.m_nSize) {
    return sameContent ? FileStatus::kGrownIntact : FileStatus::kGrownModified;
  }
  return sameContent ? FileStatus::kIntact : FileStatus::kModified;
}

FileCheck CheckRecordedFile(const platform::Directory& directory,
                            const KECGlpsFileManagerData& record,
                            const std::function<void(std::int64_t)>& progress,
                            crypto::Md5Hash* digest, std::string* contents,
                            std::int64_t maxContents) {
  FileCheck check;
  if (!IsPlainFileName(record.m_strFileName)) {
    if (contents != nullptr) contents->clear();
    check.status = FileStatus::kBadName;
    return check;
  }
  check.found =
      FingerprintReadOnly(directory, record.m_strFileName, record.m_bHashed ? record.m_nSize : 0,
                          progress, digest, nullptr, contents, maxContents);
  check.status = record.m_bHashed ? ClassifyFile(record, check.found) : FileStatus::kUnprotected;
  return check;
}

Glps::EAuditFileStatus PublicStatus(FileStatus status) {
  switch (status) {
    case FileStatus::kIntact: return Glps::eAuditFileIntact;
    case FileStatus::kModified: return Glps::eAuditFileModified;
    case FileStatus::kGrownIntact: return Glps::eAuditFileGrownIntact;
    case FileStatus::kGrownModified: return Glps::eAuditFileGrownModified;
    case FileStatus::kShrunk: return Glps::eAuditFileShrunk;
    case FileStatus::kMissing: return Glps::eAuditFileMissing;
    case FileStatus::kNotRegular: return Glps::eAuditFileNotRegular;
    case FileStatus::kUnreadable: return Glps::eAuditFileUnreadable;
    case FileStatus::kBadName: return Glps::eAuditFileBadName;
    case FileStatus::kUnprotected: return Glps::eAuditFileUnprotected;
    case FileStatus::kMultiplyLinked: return Glps::eAuditFileMultiplyLinked;
  }
  return Glps::eAuditFileUnreadable;
}

void DescribeCheck(const KECGlpsFileManagerData& record, const FileCheck& check,
                   KECGlpsAuditFile* file) {
  file->m_eStatus = PublicStatus(check.status);
  file->m_nFoundSize = check.found.size;
  if (record.m_bHashed) file->m_strFoundHash = check.found.hash;
  if (check.status == FileStatus::kUnreadable) {
    file->m_strReason = check.found.error != 0 ? std::strerror(check.found.error) : "a read failed";
  }
}

}  // namespace glps
