// SPDX-License-Identifier: Apache-2.0
#include "filemanager/file_manager.h"

#include <boost/make_shared.hpp>

#include "filemanager/file_verdict.h"
#include "files/glps_file_hashed.h"
#include "files/glps_file_html.h"
#include "files/platform.h"
#include "glps/host/gen.h"

namespace {

enum class PathState { kMissing, kRegularFile, kOther };

// What is at the path, without following a symbolic link. "Other" covers links, directories, FIFOs
// and devices, and paths the system cannot tell about.
PathState StateOf(const std::string& path) {
  if (KCGenFileUtils::FileExists(path)) return PathState::kRegularFile;
  return glps::platform::PathExists(path) ? PathState::kOther : PathState::kMissing;
}

}  // namespace

KECGlpsFileManager::KECGlpsFileManager(const std::string& directory, const FileVectorPtr& files)
    : m_strDirectory(directory),
      m_bIntact(true),
      m_ptrFiles(files ? files : boost::make_shared<FileVector>()),
      m_nIndexedRecords(0) {
  IndexRecords();
  m_bIntact = VerifyFiles();
}

KECGlpsFileManager::~KECGlpsFileManager() = default;

void KECGlpsFileManager::IndexRecords() {
  m_mapPositions.clear();
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    // emplace keeps the first position of a name that occurs again.
    m_mapPositions.emplace((*m_ptrFiles)[i].m_strFileName, i);
  }
  m_nIndexedRecords = m_ptrFiles->size();
}

KECGlpsFileManagerData* KECGlpsFileManager::FindRecord(const std::string& fileName) {
  FileVector& files = *m_ptrFiles;
  // Another length, or a record that is not where the index says, means that the vector was
  // changed behind the manager's back.
  if (files.size() != m_nIndexedRecords) IndexRecords();
  auto it = m_mapPositions.find(fileName);
  if (it != m_mapPositions.end() &&
      (it->second >= files.size() || files[it->second].m_strFileName != fileName)) {
    IndexRecords();
    it = m_mapPositions.find(fileName);
  }
  return it == m_mapPositions.end() ? nullptr : &files[it->second];
}

bool KECGlpsFileManager::SetFileData(const KECGlpsFileManagerData& record) {
  KECGlpsFileManagerData* existing = FindRecord(record.m_strFileName);
  if (existing != nullptr) {
    *existing = record;
  } else {
    m_ptrFiles->push_back(record);
    m_mapPositions.emplace(record.m_strFileName, m_ptrFiles->size() - 1);
    m_nIndexedRecords = m_ptrFiles->size();
  }
  return true;
}

bool KECGlpsFileManager::AddFile(const std::string& fileName, Glps::EFileType kind, bool hashed) {
  if (!glps::IsPlainFileName(fileName)) return false;
  KECGlpsFileManagerData record;
  record.m_strFileName = fileName;
  record.m_eType = kind;
  record.m_bHashed = hashed;
  bool result = SetFileData(record);
  if (hashed) {
    KECGlpsFileHashed file(GetFilePath(fileName));
    result = UpdateFileInfo(file) && result;
  }
  return result;
}

bool KECGlpsFileManager::UpdateFileInfo(KECGlpsFileHashed& file) {
  KECGlpsFileManagerData* record = FindRecord(file.GetFileName());
  if (record == nullptr || !file.IsOpen()) return false;
  // The size the fingerprint covers is the file's size, the file being written through this object
  // alone; taking it from there saves asking the system after every write, and keeps the record's
  // size and fingerprint about the same bytes.
  record->m_nSize = file.GetHashedSize();
  file.GetHash(&record->m_strHash);
  return true;
}

bool KECGlpsFileManager::IsTampered() const { return !m_bIntact; }

std::string KECGlpsFileManager::GetFilePath(const std::string& fileName) const {
  if (!glps::IsPlainFileName(fileName)) return std::string();
  return KCGenFileUtils::MakeNamePath(m_strDirectory, fileName);
}

bool KECGlpsFileManager::VerifyFiles() {
  m_verifiedDocument.valid = false;
  for (const KECGlpsFileManagerData& record : *m_ptrFiles) {
    if (!record.m_bHashed) continue;
    // Read-only, whatever locks others hold: a file that cannot be read does not match.
    const bool document = record.m_eType == Glps::FileLog && !record.m_strHash.empty();
    glps::crypto::Md5Hash digest;
    const glps::FileCheck check =
        glps::CheckRecordedFile(m_strDirectory, record, nullptr, document ? &digest : nullptr);
    if (!glps::MatchesRecord(check.status)) return false;
    if (document) {
      m_verifiedDocument.name = record.m_strFileName;
      m_verifiedDocument.hash = record.m_strHash;
      m_verifiedDocument.size = record.m_nSize;
      m_verifiedDocument.valid = m_verifiedDocument.digest.CopyFrom(digest);
    }
  }
  return true;
}

bool KECGlpsFileManager::RehashFiles() {
  m_verifiedDocument.valid = false;
  for (KECGlpsFileManagerData& record : *m_ptrFiles) {
    if (!record.m_bHashed) continue;
    const std::string path = GetFilePath(record.m_strFileName);
    if (path.empty() || StateOf(path) == PathState::kOther) continue;
    switch (record.m_eType) {
      case Glps::FileLog: {
        KECGlpsFileHashed file(path, record.m_strHash, record.m_nSize, true);
        if (!file.IsOpen()) break;
        record.m_strHash = file.GetHash();
        // A negative recorded size cannot be restored; the file was left whole and hashed whole.
        if (record.m_nSize < 0) record.m_nSize = file.GetSize();
        break;
      }
      case Glps::FileMetaData:
      case Glps::FileLink: {
        KECGlpsFileHashed file(path);
        const std::int64_t size = file.GetSize();
        if (!file.IsOpen() || size < 0) break;
        record.m_strHash = file.GetHash();
        record.m_nSize = size;
        break;
      }
      default: break;
    }
  }
  return true;
}

void KECGlpsFileManager::AcceptCurrentFiles() {
  RehashFiles();
  m_bIntact = VerifyFiles();
}

unsigned KECGlpsFileManager::GetFileCount(Glps::EFileType kind) const {
  unsigned count = 0;
  for (const KECGlpsFileManagerData& record : *m_ptrFiles) {
    if (record.m_eType == kind) ++count;
  }
  return count;
}

KECGlpsFileManagerData KECGlpsFileManager::GetFile(Glps::EFileType kind, unsigned index) const {
  for (const KECGlpsFileManagerData& record : *m_ptrFiles) {
    if (record.m_eType != kind) continue;
    if (index == 0) return record;
    --index;
  }
  return KECGlpsFileManagerData();
}

bool KECGlpsFileManager::GetLastFile(Glps::EFileType kind, KECGlpsFileManagerData& record) const {
  for (auto it = m_ptrFiles->rbegin(); it != m_ptrFiles->rend(); ++it) {
    if (it->m_eType == kind) {
      record = *it;
      return true;
    }
  }
  return false;
}

void KECGlpsFileManager::ForEachFile(Glps::EFileType kind, const FileCallback& callback) const {
  // By index and with a copy of the name: the callback may register files meanwhile.
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    if ((*m_ptrFiles)[i].m_eType != kind) continue;
    const std::string name = (*m_ptrFiles)[i].m_strFileName;
    callback(name);
  }
}

KECGlpsFileManager::DocumentPtr KECGlpsFileManager::GetDocument(const std::string& fileName) {
  DocumentPtr document = FindOpenDocument(fileName);
  if (document) return document;
  const KECGlpsFileManagerData* record = FindRecord(fileName);
  const std::string path = GetFilePath(fileName);
  if (record == nullptr || path.empty()) return DocumentPtr();
  if (m_verifiedDocument.valid && m_verifiedDocument.name == fileName &&
      m_verifiedDocument.hash == record->m_strHash && m_verifiedDocument.size == record->m_nSize) {
    m_verifiedDocument.valid = false;
    document.reset(new KECGlpsFileHtml(path, record->m_strHash, record->m_nSize, this,
                                       m_verifiedDocument.digest));
    if (!document->IsOpen()) document.reset();
  }
  if (!document) {
    document.reset(new KECGlpsFileHtml(path, record->m_strHash, record->m_nSize, this));
  }
  m_vDocuments.push_back(document);
  return document;
}

KECGlpsFileManager::DocumentPtr KECGlpsFileManager::FindOpenDocument(
    const std::string& fileName) const {
  for (const DocumentPtr& document : m_vDocuments) {
    if (document->GetFileName() == fileName) return document;
  }
  return DocumentPtr();
}

std::size_t KECGlpsFileManager::CloseAllDocuments() {
  const std::size_t count = m_vDocuments.size();
  m_vDocuments.clear();
  return count;
}

bool KECGlpsFileManager::DeleteAllFiles() {
  CloseAllDocuments();
  m_verifiedDocument.valid = false;
  bool result = true;
  for (const KECGlpsFileManagerData& record : *m_ptrFiles) {
    const std::string path = GetFilePath(record.m_strFileName);
    if (path.empty() || !KCGenFileUtils::Delete_File(path)) result = false;
  }
  m_ptrFiles->clear();
  m_mapPositions.clear();
  m_nIndexedRecords = 0;
  return result;
}
