// SPDX-License-Identifier: Apache-2.0
// The file manager of a log directory: the records of the log's files, their verification and
// re-basing, and the cache of open HTML log documents.
#ifndef GLPS_FILEMANAGER_FILE_MANAGER_H_
#define GLPS_FILEMANAGER_FILE_MANAGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "crypto/md5_hash.h"
#include "filemanager/file_manager_data.h"
#include "filemanager/file_verdict.h"
#include "filemanager/record_set.h"
#include "platform/platform.h"

class KECGlpsFileHashed;
class KECGlpsFileHtml;
struct KECGlpsFileHtmlMetaData;

// Keeps one record per file of a log directory (documents, sidecars, index pages, linked files),
// verifies every protected file against its record when constructed, re-bases the records on the
// files as found (AcceptCurrentFiles), refreshes records while documents grow, and opens each
// document once, keeping it in a cache.
//
// Every file is reached through the log's directory, opened once (platform::Directory), by its
// plain name. The records come from log.xml, which anyone can edit: the manager checks them as a
// set by the rules of record_set.h when it is constructed, and only sound records count for
// anything. A record that breaks the rules stays in the vector (it is evidence, saved with the
// log), but no query returns it and no file is ever opened, created, cut, written, copied or
// deleted on its account. The manager's own changes keep the set sound: SetFileData and AddFile
// refuse any other. Verification reads every protected file once, read-only, and decides by the
// rule of file_verdict.h; re-basing works from what it found instead of reading again. No file
// with more than one name, and no read-only file, is ever written, cut, extended or deleted. At
// most kMaxOpenDocuments documents are kept open that nobody else holds.
//
// Owned by the log session (std::unique_ptr). The record vector is shared with the session storage
// that persists it; the documents are shared with the session's handle on its current document and
// point back to this manager, which must outlive them. Requires of its caller: one thread; the
// log's lock held while anything is written (see KECGlpsLogDirectory).
class KECGlpsFileManager : public KECIGlpsFileManager {
 public:
  using FileVector = std::vector<KECGlpsFileManagerData>;
  using FileVectorPtr = boost::shared_ptr<FileVector>;
  using DocumentPtr = boost::shared_ptr<KECGlpsFileHtml>;
  using FileCallback = std::function<void(const std::string& fileName)>;

  // Shares `files` (a null pointer gets a new empty vector) and verifies every protected file of
  // the directory.
  KECGlpsFileManager(const glps::platform::DirectoryPtr& directory, const FileVectorPtr& files);
  // The same in the directory at `directory`, opened here (a symbolic link as its last component
  // refused).
  KECGlpsFileManager(const std::string& directory, const FileVectorPtr& files);
  // Drops the cache (documents whose last handle it held are closed) and the share of the records.
  ~KECGlpsFileManager() override;
  KECGlpsFileManager(const KECGlpsFileManager&) = delete;
  KECGlpsFileManager& operator=(const KECGlpsFileManager&) = delete;

  // Registers the name afresh (kind, flag, no fingerprint, size 0), keeping its position when it is
  // known. A hashed file is fingerprinted whole, read-only (one that is missing is created empty,
  // exclusively), and its record takes that fingerprint and size. False, with the records and the
  // files left as they were, when the record would break the rules of the set (Admits), and for a
  // hashed file that cannot be read whole, is not a regular file or has more than one name: no
  // record ever holds the fingerprint of nothing.
  bool AddFile(const std::string& fileName, Glps::EFileType kind, bool hashed) override;
  // The same; for a hashed file `sha256` (may be null) receives the SHA-256 (Base64) of the very
  // bytes fingerprinted, read in the same pass.
  bool AddFile(const std::string& fileName, Glps::EFileType kind, bool hashed, std::string* sha256);
  // The sound record of the file's name takes its present size and fingerprint. False, changing
  // nothing, when no sound record has that name or the file is not open.
  bool UpdateFileInfo(KECGlpsFileHashed& file) override;
  // Replaces the sound record of the same name and kind in place, or appends the record. False,
  // changing nothing, when that would break the rules of the set (Admits).
  bool SetFileData(const KECGlpsFileManagerData& record) override;
  // Whether a record of that name, kind and protection may be registered: it keeps the rules of
  // record_set.h, and so does the set with it (glps::CheckChange).
  bool Admits(const std::string& fileName, Glps::EFileType kind, bool hashed) const;

  // The last verification found a protected file that does not match its record.
  bool IsTampered() const;
  // No record of the set breaks the rules of record_set.h.
  bool IsRecordSetSound() const;
  // The fault of every record, in record order (kNone for a sound one).
  std::vector<glps::RecordFault> GetRecordFaults() const;
  // The name joined with the log directory; empty for a name that is not a plain file name.
  std::string GetFilePath(const std::string& fileName) const;
  // True when every sound protected record's file matches it by the rule of file_verdict.h. Every
  // such file is read once, read-only, whatever locks others hold, and nothing is created: a
  // missing file, one that cannot be read, one that is not a regular file and one with more than
  // one name do not match. What was found is kept for RehashFiles and GetDocument.
  bool VerifyFiles();
  // What the last verification found of one sound protected record's file.
  struct Verified {
    std::size_t position = 0;  // of the record, from 0
    KECGlpsFileManagerData record;
    glps::FileCheck check;
  };
  // What the last verification found of every sound protected record's file, in record order, as
  // long as re-basing or a later look has not replaced it (the opening asks before it re-bases).
  std::vector<Verified> GetVerification() const;
  // Re-bases the sound protected records on the files as the last verification found them (a
  // record changed since is looked at again): a document is cut back to its recorded size when it
  // grew, and its record takes the fingerprint and size of the bytes it keeps (a shrunk document
  // keeps what is there; nothing is added to it); a sidecar's or linked file's record takes the
  // fingerprint and size of the whole file. A missing file is created empty, exclusively. Records
  // whose file cannot be read, is not a regular file, has more than one name, or is read-only (a
  // document) are left unchanged. Always true.
  bool RehashFiles();
  // RehashFiles, then decides again from what re-basing left, without reading the files again.
  void AcceptCurrentFiles();

  // The queries see the sound records only, in record order.
  unsigned GetFileCount(Glps::EFileType kind) const;
  // A copy of the (index + 1)-th record of that kind; a fresh record when there are fewer.
  KECGlpsFileManagerData GetFile(Glps::EFileType kind, unsigned index) const;
  // Copies the last record of that kind into `record`; false, leaving it untouched, when none.
  bool GetLastFile(Glps::EFileType kind, KECGlpsFileManagerData& record) const;
  // Calls `callback` with the name of every record of that kind, in record order.
  void ForEachFile(Glps::EFileType kind, const FileCallback& callback) const;

  // The open document of that name, opened against its record and cached on first use. Empty
  // when no sound document record has the name. A document is opened for writing only when a
  // read-only look found its recorded content intact (a tail beyond the record is cut), and only
  // when it is the very file looked at; it then takes over the digest that look made, so it is not
  // read again. The look is the verification's while the record is the one verified (once), a new
  // one otherwise. A document that is not opened is still handed out, not open: its entities are
  // read from its sidecar, and nothing is written. The cache keeps at most kMaxOpenDocuments that
  // only it holds; the oldest of them are closed first.
  DocumentPtr GetDocument(const std::string& fileName);
  // The cached document of that name; empty when it is not open.
  DocumentPtr FindOpenDocument(const std::string& fileName) const;
  // Empties the cache; returns the number of documents it held.
  std::size_t CloseAllDocuments();
  // The entities of the document of that name, without opening it: an open one's as it holds them
  // (unsaved ones included); otherwise its sidecar's, read once and taken only when the bytes match
  // the sidecar's record (none when there is no sidecar record: nothing was saved). False, with
  // `meta` emptied, when no sound document record has the name, or the sidecar cannot be read or
  // does not match its record. Entities read before a format error count, as when a document loads
  // its sidecar.
  bool ReadEntities(const std::string& document, KECGlpsFileHtmlMetaData* meta) const;
  // Closes the cached documents, deletes the file of every sound record and forgets all records,
  // those that break the rules included (their files are left alone). True only if every sound
  // record's file went; a file with more than one name and a read-only file are not deleted and
  // count as failures.
  bool DeleteAllFiles();

  // The most documents the cache keeps open that nobody else holds.
  static constexpr std::size_t kMaxOpenDocuments = 4;

  // The record vector, shared with the storage that persists it. Callers read it; records are
  // added, replaced and removed only through this manager, which indexes them.
  const FileVectorPtr& GetFileData() const { return m_ptrFiles; }

 private:
  // What the last verification found of one protected record's file, while the record still holds
  // the values it was verified against.
  struct Finding {
    KECGlpsFileManagerData record;
    glps::FileStatus status = glps::FileStatus::kMissing;
    glps::FoundFile found;
    // A document's: the digest of the bytes `found.hash` covers. Null for other kinds.
    std::unique_ptr<glps::crypto::Md5Hash> digest;
    // A sidecar's or linked file's: the fingerprint of the whole file.
    std::string wholeHash;
  };

  // The sound record with that name, or null. Found through m_mapPositions, without a scan.
  KECGlpsFileManagerData* FindRecord(const std::string& fileName);
  const KECGlpsFileManagerData* FindRecord(const std::string& fileName) const;
  // The first record with that name, sound or not, or null; `sound` receives whether it is.
  const KECGlpsFileManagerData* FindAnyRecord(const std::string& fileName, bool* sound) const;
  bool IsSound(std::size_t position) const;
  // Indexes the records as they stand, and checks them as a set, when they are not what the index
  // describes: changed behind the manager's back (another length, or a record moved), or new.
  void EnsureIndexed() const;
  void IndexRecords() const;
  glps::platform::FileLocation Location(const std::string& fileName) const;
  using FindingMap = std::unordered_map<std::string, Finding>;
  // Keeps the finding under the name, replacing any earlier one.
  FindingMap::iterator StoreFinding(const std::string& name, Finding&& finding);
  // Reads the file of a protected record read-only and classifies it.
  Finding Look(const KECGlpsFileManagerData& record) const;
  // Re-bases one record on its finding; true when the record now matches its file.
  bool Rebase(KECGlpsFileManagerData& record, Finding& finding);

  // Never null.
  const glps::platform::DirectoryPtr m_ptrDirectory;
  // Result of the last verification.
  bool m_bIntact;
  // Never null. Record order is registration order; the names of sound records are unique.
  FileVectorPtr m_ptrFiles;
  // For every name in *m_ptrFiles, the position of its first record (log.xml may hold a name
  // twice), and the fault of every record by the rules of record_set.h. Built by the constructor,
  // kept by SetFileData and DeleteAllFiles, the only changes of the vector's length, names or kinds
  // once the manager exists; EnsureIndexed builds them again when the vector was changed behind the
  // manager's back all the same (another length, or a record moved), checking the set afresh.
  mutable std::unordered_map<std::string, std::size_t> m_mapPositions;
  mutable std::vector<glps::RecordFault> m_vFaults;
  // The length of *m_ptrFiles that m_mapPositions and m_vFaults describe.
  mutable std::size_t m_nIndexedRecords;
  // In opening order; at most one entry per document name.
  std::vector<DocumentPtr> m_vDocuments;
  // By name: what the last verification, re-basing or GetDocument found of each protected record's
  // file.
  FindingMap m_mapFindings;
};

#endif  // GLPS_FILEMANAGER_FILE_MANAGER_H_
