// SPDX-License-Identifier: Apache-2.0
#include "filemanager/file_verdict.h"

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

}  // namespace glps
