// SPDX-License-Identifier: Apache-2.0
#include "filemanager/file_manager.h"

#include <boost/make_shared.hpp>

#include <algorithm>
#include <vector>

#include "crypto/seal_crypto.h"
#include "files/glps_file_hashed.h"
#include "files/glps_file_html.h"
#include "glps/host/gen.h"
#include "serialization/archive_io.h"

namespace platform = glps::platform;

KECGlpsFileManager::KECGlpsFileManager(const platform::DirectoryPtr& directory,
                                       const FileVectorPtr& files)
    : m_ptrDirectory(directory ? directory : platform::OpenDirectory(std::string())),
      m_bIntact(true),
      m_ptrFiles(files ? files : boost::make_shared<FileVector>()),
      m_nIndexedRecords(0) {
  IndexRecords();
  m_bIntact = VerifyFiles();
}

KECGlpsFileManager::KECGlpsFileManager(const std::string& directory, const FileVectorPtr& files)
    : KECGlpsFileManager(platform::OpenDirectory(directory), files) {}

KECGlpsFileManager::~KECGlpsFileManager() = default;

void KECGlpsFileManager::IndexRecords() const {
  m_mapPositions.clear();
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    // emplace keeps the first position of a name that occurs again.
    m_mapPositions.emplace((*m_ptrFiles)[i].m_strFileName, i);
  }
  m_vFaults = glps::CheckRecordSet(*m_ptrFiles);
  m_nIndexedRecords = m_ptrFiles->size();
}

void KECGlpsFileManager::EnsureIndexed() const {
  if (m_ptrFiles->size() != m_nIndexedRecords) IndexRecords();
}

bool KECGlpsFileManager::IsSound(std::size_t position) const {
  EnsureIndexed();
  return position < m_vFaults.size() && m_vFaults[position] == glps::RecordFault::kNone;
}

const KECGlpsFileManagerData* KECGlpsFileManager::FindAnyRecord(const std::string& fileName,
                                                                bool* sound) const {
  *sound = false;
  const FileVector& files = *m_ptrFiles;
  EnsureIndexed();
  auto it = m_mapPositions.find(fileName);
  // A record that is not where the index says means that the vector was changed behind the
  // manager's back.
  if (it != m_mapPositions.end() &&
      (it->second >= files.size() || files[it->second].m_strFileName != fileName)) {
    IndexRecords();
    it = m_mapPositions.find(fileName);
  }
  if (it == m_mapPositions.end()) return nullptr;
  *sound = m_vFaults[it->second] == glps::RecordFault::kNone;
  return &files[it->second];
}

const KECGlpsFileManagerData* KECGlpsFileManager::FindRecord(const std::string& fileName) const {
  bool sound = false;
  const KECGlpsFileManagerData* record = FindAnyRecord(fileName, &sound);
  return sound ? record : nullptr;
}

KECGlpsFileManagerData* KECGlpsFileManager::FindRecord(const std::string& fileName) {
  return const_cast<KECGlpsFileManagerData*>(
      static_cast<const KECGlpsFileManager*>(this)->FindRecord(fileName));
}

bool KECGlpsFileManager::Admits(const std::string& fileName, Glps::EFileType kind,
                                bool hashed) const {
  KECGlpsFileManagerData record;
  record.m_strFileName = fileName;
  record.m_eType = kind;
  record.m_bHashed = hashed;
  return glps::CheckChange(record, [this](const std::string& name, bool* sound) {
           return FindAnyRecord(name, sound);
         }) == glps::RecordFault::kNone;
}

bool KECGlpsFileManager::IsRecordSetSound() const {
  EnsureIndexed();
  return glps::IsSoundSet(m_vFaults);
}

std::vector<glps::RecordFault> KECGlpsFileManager::GetRecordFaults() const {
  EnsureIndexed();
  return m_vFaults;
}

bool KECGlpsFileManager::SetFileData(const KECGlpsFileManagerData& record) {
  if (!Admits(record.m_strFileName, record.m_eType, record.m_bHashed)) return false;
  KECGlpsFileManagerData* existing = FindRecord(record.m_strFileName);
  if (existing != nullptr) {
    *existing = record;
  } else {
    m_ptrFiles->push_back(record);
    m_mapPositions.emplace(record.m_strFileName, m_ptrFiles->size() - 1);
    m_vFaults.push_back(glps::RecordFault::kNone);
    m_nIndexedRecords = m_ptrFiles->size();
  }
  return true;
}

bool KECGlpsFileManager::AddFile(const std::string& fileName, Glps::EFileType kind, bool hashed) {
  return AddFile(fileName, kind, hashed, nullptr);
}

bool KECGlpsFileManager::AddFile(const std::string& fileName, Glps::EFileType kind, bool hashed,
                                 std::string* sha256) {
  if (sha256 != nullptr) sha256->clear();
  // Judged before any file is looked at or created.
  if (!Admits(fileName, kind, hashed)) return false;
  KECGlpsFileManagerData record;
  record.m_strFileName = fileName;
  record.m_eType = kind;
  record.m_bHashed = hashed;
  if (hashed) {
    // Read-only: a file the host can read is fingerprinted whatever its permissions or owner, and
    // nothing is opened for writing.
    std::unique_ptr<glps::crypto::Sha256Hash> digest;
    const auto look = [&]() {
      if (sha256 != nullptr) digest.reset(new glps::crypto::Sha256Hash());
      return glps::FingerprintReadOnly(*m_ptrDirectory, fileName, INT64_MAX, nullptr, nullptr,
                                       nullptr, nullptr, INT64_MAX, digest.get());
    };
    glps::FoundFile found = look();
    if (found.state == glps::FoundFile::State::kMissing) {
      const platform::FileHandle created =
          platform::OpenForWriting(*m_ptrDirectory, fileName, platform::OpenMode::kNew);
      platform::Close(created);
      if (created == platform::kInvalidHandle) return false;
      found = look();
    }
    if (found.state != glps::FoundFile::State::kRegular || found.links > 1 ||
        found.hashed != found.size || found.hash.empty()) {
      return false;
    }
    record.m_strHash = found.hash;
    record.m_nSize = found.size;
    if (digest) *sha256 = digest->FinishText();
  }
  return SetFileData(record);
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
  return m_ptrDirectory->PathOf(fileName);
}

platform::FileLocation KECGlpsFileManager::Location(const std::string& fileName) const {
  return platform::FileLocation(m_ptrDirectory, fileName);
}

KECGlpsFileManager::Finding KECGlpsFileManager::Look(const KECGlpsFileManagerData& record) const {
  Finding finding;
  finding.record = record;
  if (!glps::IsPlainFileName(record.m_strFileName)) {
    finding.status = glps::FileStatus::kBadName;
    return finding;
  }
  // A document is read to its recorded size (what lies beyond is cut when it is continued), and
  // its digest kept; a sidecar or linked file is read whole, for re-basing, in the same pass. A
  // negative recorded size matches nothing; such a document is read whole too.
  const bool document = record.m_eType == Glps::FileLog;
  const std::int64_t prefix = record.m_nSize < 0 ? INT64_MAX : record.m_nSize;
  if (document) finding.digest.reset(new glps::crypto::Md5Hash());
  finding.found =
      glps::FingerprintReadOnly(*m_ptrDirectory, record.m_strFileName, prefix, nullptr,
                                finding.digest.get(), document ? nullptr : &finding.wholeHash);
  finding.status = glps::ClassifyFile(record, finding.found);
  return finding;
}

KECGlpsFileManager::FindingMap::iterator KECGlpsFileManager::StoreFinding(const std::string& name,
                                                                          Finding&& finding) {
  // By find and emplace: a Finding has no default state worth constructing first.
  const FindingMap::iterator it = m_mapFindings.find(name);
  if (it != m_mapFindings.end()) {
    it->second = std::move(finding);
    return it;
  }
  return m_mapFindings.emplace(name, std::move(finding)).first;
}

std::vector<KECGlpsFileManager::Verified> KECGlpsFileManager::GetVerification() const {
  std::vector<Verified> verified;
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    const KECGlpsFileManagerData& record = (*m_ptrFiles)[i];
    if (!record.m_bHashed || !IsSound(i)) continue;
    const auto it = m_mapFindings.find(record.m_strFileName);
    if (it == m_mapFindings.end()) continue;
    Verified item;
    item.position = i;
    item.record = it->second.record;
    item.check.status = it->second.status;
    item.check.found = it->second.found;
    verified.push_back(std::move(item));
  }
  return verified;
}

bool KECGlpsFileManager::VerifyFiles() {
  m_mapFindings.clear();
  bool intact = true;
  // Every sound protected file is looked at, also after one that does not match: re-basing works
  // from these findings.
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    const KECGlpsFileManagerData& record = (*m_ptrFiles)[i];
    if (!record.m_bHashed || !IsSound(i)) continue;
    Finding finding = Look(record);
    if (!glps::MatchesRecord(finding.status)) intact = false;
    StoreFinding(record.m_strFileName, std::move(finding));
  }
  return intact;
}

bool KECGlpsFileManager::Rebase(KECGlpsFileManagerData& record, Finding& finding) {
  using State = glps::FoundFile::State;
  const glps::FoundFile& found = finding.found;
  const bool missing = found.state == State::kMissing;
  if (!missing && (found.state != State::kRegular || found.links > 1)) return false;
  if (record.m_eType == Glps::FileLog) {
    // The document keeps the bytes that were read (a tail beyond the record is cut, through the
    // very file that was read), and its record vouches for them: a shrunk or missing document is
    // taken as it is found, the same whatever its recorded size, and nothing stands in for what
    // is gone.
    if (!missing && found.readOnly) return false;
    const std::int64_t size = missing ? 0 : found.hashed;
    KECGlpsFile file(Location(record.m_strFileName),
                     missing ? platform::OpenMode::kNew : platform::OpenMode::kExisting);
    platform::FileFacts opened;
    if (!file.GetIdentity(&opened)) return false;
    if (!missing && (opened.device != found.device || opened.inode != found.inode)) return false;
    if (!file.Truncate(size)) return false;
    if (missing || !finding.digest) finding.digest.reset(new glps::crypto::Md5Hash());
    record.m_strHash = finding.digest->FingerprintText();
    record.m_nSize = size;
    finding.found.state = State::kRegular;
    finding.found.size = size;
    finding.found.hashed = size;
    finding.found.hash = record.m_strHash;
    finding.found.links = opened.links;
    finding.found.device = opened.device;
    finding.found.inode = opened.inode;
  } else if (record.m_eType == Glps::FileMetaData || record.m_eType == Glps::FileLink) {
    if (missing) {
      const platform::FileHandle created =
          platform::OpenForWriting(*m_ptrDirectory, record.m_strFileName, platform::OpenMode::kNew);
      platform::Close(created);
      if (created == platform::kInvalidHandle) return false;
      finding = Look(record);
      if (finding.found.state != State::kRegular) return false;
    }
    if (finding.wholeHash.empty()) return false;
    record.m_strHash = finding.wholeHash;
    record.m_nSize = finding.found.size;
    finding.found.hash = finding.wholeHash;
    finding.found.hashed = finding.found.size;
  } else {
    return false;
  }
  if (record.m_strHash.empty()) return false;
  finding.record = record;
  finding.status = glps::ClassifyFile(record, finding.found);
  return glps::MatchesRecord(finding.status);
}

bool KECGlpsFileManager::RehashFiles() {
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    KECGlpsFileManagerData& record = (*m_ptrFiles)[i];
    if (!record.m_bHashed || !IsSound(i)) continue;
    auto it = m_mapFindings.find(record.m_strFileName);
    const bool current = it != m_mapFindings.end() && it->second.record.m_eType == record.m_eType &&
                         it->second.record.m_strHash == record.m_strHash &&
                         it->second.record.m_nSize == record.m_nSize;
    // A record changed since the verification is looked at again.
    if (!current) it = StoreFinding(record.m_strFileName, Look(record));
    if (glps::MatchesRecord(it->second.status)) continue;
    Rebase(record, it->second);
  }
  return true;
}

void KECGlpsFileManager::AcceptCurrentFiles() {
  RehashFiles();
  bool intact = true;
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    const KECGlpsFileManagerData& record = (*m_ptrFiles)[i];
    if (!record.m_bHashed || !IsSound(i)) continue;
    const auto it = m_mapFindings.find(record.m_strFileName);
    if (it == m_mapFindings.end() || !glps::MatchesRecord(it->second.status)) intact = false;
  }
  m_bIntact = intact;
}

unsigned KECGlpsFileManager::GetFileCount(Glps::EFileType kind) const {
  unsigned count = 0;
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    if ((*m_ptrFiles)[i].m_eType == kind && IsSound(i)) ++count;
  }
  return count;
}

KECGlpsFileManagerData KECGlpsFileManager::GetFile(Glps::EFileType kind, unsigned index) const {
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    if ((*m_ptrFiles)[i].m_eType != kind || !IsSound(i)) continue;
    if (index == 0) return (*m_ptrFiles)[i];
    --index;
  }
  return KECGlpsFileManagerData();
}

bool KECGlpsFileManager::GetLastFile(Glps::EFileType kind, KECGlpsFileManagerData& record) const {
  for (std::size_t i = m_ptrFiles->size(); i-- > 0;) {
    if ((*m_ptrFiles)[i].m_eType == kind && IsSound(i)) {
      record = (*m_ptrFiles)[i];
      return true;
    }
  }
  return false;
}

void KECGlpsFileManager::ForEachFile(Glps::EFileType kind, const FileCallback& callback) const {
  // By index and with a copy of the name: the callback may register files meanwhile.
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    if ((*m_ptrFiles)[i].m_eType != kind || !IsSound(i)) continue;
    const std::string name = (*m_ptrFiles)[i].m_strFileName;
    callback(name);
  }
}

KECGlpsFileManager::DocumentPtr KECGlpsFileManager::GetDocument(const std::string& fileName) {
  DocumentPtr document = FindOpenDocument(fileName);
  if (document) return document;
  const KECGlpsFileManagerData* record = FindRecord(fileName);
  if (record == nullptr || record->m_eType != Glps::FileLog) return DocumentPtr();
  auto it = m_mapFindings.find(fileName);
  const bool current = it != m_mapFindings.end() && it->second.digest &&
                       it->second.record.m_eType == record->m_eType &&
                       it->second.record.m_strHash == record->m_strHash &&
                       it->second.record.m_nSize == record->m_nSize;
  // A document is written into only when its recorded content is intact (what lies beyond the
  // record is cut), judged by a read-only look: the verification's when the record is the one
  // verified, a new one otherwise.
  if (!current) {
    KECGlpsFileManagerData asDocument = *record;
    asDocument.m_eType = Glps::FileLog;
    it = StoreFinding(fileName, Look(asDocument));
  }
  Finding& finding = it->second;
  const bool intact = finding.status == glps::FileStatus::kIntact ||
                      finding.status == glps::FileStatus::kGrownIntact;
  if (intact && finding.digest && !record->m_strHash.empty()) {
    // The digest of the bytes looked at goes on in the document, and only in the very file that
    // was looked at; it is handed over once.
    platform::FileFacts looked;
    looked.kind = platform::FileFacts::Kind::kRegular;
    looked.device = finding.found.device;
    looked.inode = finding.found.inode;
    document.reset(new KECGlpsFileHtml(Location(fileName), record->m_strHash, record->m_nSize, this,
                                       *finding.digest, looked));
    finding.digest.reset();
    if (!document->IsOpen()) document->LoadMetaData();
  } else if (intact) {
    // A record without a fingerprint vouches for the size only.
    document.reset(
        new KECGlpsFileHtml(Location(fileName), record->m_strHash, record->m_nSize, this));
  } else {
    document.reset(new KECGlpsFileHtml(Location(fileName), this));
  }
  // The oldest documents that only the cache holds are closed first, to leave room for this one;
  // those that others hold stay open for them anyway.
  std::size_t onlyCached = 0;
  for (const DocumentPtr& cached : m_vDocuments) {
    if (cached.use_count() == 1) ++onlyCached;
  }
  for (auto it = m_vDocuments.begin();
       onlyCached >= kMaxOpenDocuments && it != m_vDocuments.end();) {
    if (it->use_count() == 1) {
      it = m_vDocuments.erase(it);
      --onlyCached;
    } else {
      ++it;
    }
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

bool KECGlpsFileManager::ReadEntities(const std::string& document,
                                      KECGlpsFileHtmlMetaData* meta) const {
  meta->m_vEntity.clear();
  const KECGlpsFileManagerData* record = FindRecord(document);
  if (record == nullptr || record->m_eType != Glps::FileLog) return false;
  if (const DocumentPtr open = FindOpenDocument(document)) {
    *meta = open->GetMetaData();
    return true;
  }
  const std::string sidecarName = glps::SidecarNameOf(document);
  const KECGlpsFileManagerData* sidecar = FindRecord(sidecarName);
  // A document that was never saved has no sidecar record, and no entities.
  if (sidecar == nullptr) return true;
  std::string text;
  platform::FileFacts facts;
  if (!platform::ReadWholeFile(*m_ptrDirectory, sidecarName, &text,
                               glps::archive_io::kMaxArchiveSize, &facts)) {
    return false;
  }
  glps::FoundFile found;
  found.state = glps::FoundFile::State::kRegular;
  found.size = static_cast<std::int64_t>(text.size());
  found.hashed = std::min<std::int64_t>(found.size, std::max<std::int64_t>(sidecar->m_nSize, 0));
  glps::crypto::Md5Hash digest;
  digest.Update(text.data(), static_cast<std::size_t>(found.hashed));
  found.hash = digest.FingerprintText();
  found.links = facts.links;
  if (!glps::MatchesRecord(glps::ClassifyFile(*sidecar, found))) return false;
  KECGlpsFileHtml::ParseMetaData(text, meta);
  return true;
}

bool KECGlpsFileManager::DeleteAllFiles() {
  CloseAllDocuments();
  m_mapFindings.clear();
  bool result = true;
  for (std::size_t i = 0; i < m_ptrFiles->size(); ++i) {
    if (IsSound(i) && !platform::DeleteFile(*m_ptrDirectory, (*m_ptrFiles)[i].m_strFileName)) {
      result = false;
    }
  }
  m_ptrFiles->clear();
  m_mapPositions.clear();
  m_vFaults.clear();
  m_nIndexedRecords = 0;
  return result;
}
