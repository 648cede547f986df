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

#include "filemanager/file_manager_data.h"
#include "filemanager/file_verdict.h"
#include "files/md5_hash.h"
#include "files/platform.h"

class KECGlpsFileHashed;
class KECGlpsFileHtml;

// Keeps one record per file of a log directory (documents, sidecars, index pages, linked files),
// verifies every protected file against its record when constructed, re-bases the records on the
// files as found (AcceptCurrentFiles), refreshes records while documents grow, and opens each
// document once, keeping it in a cache.
//
// Every file is reached through the log's directory, opened once (platform::Directory), by its
// plain name. Record names come from log.xml, which anyone can edit: a name that is not a plain
// file name (IsPlainFileName) is never looked up, so nothing outside the directory is ever opened,
// created, cut or deleted through a record. Verification reads every protected file once,
// read-only, and decides by the rule of file_verdict.h; re-basing works from what it found instead
// of reading again. No file with more than one name, and no read-only file, is ever written, cut,
// extended or deleted.
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
  // exclusively), and its record takes that fingerprint and size. False, with the records left as
  // they were, for a name that is not a plain file name and for a hashed file that cannot be read
  // whole, is not a regular file or has more than one name: no record ever holds the fingerprint of
  // nothing.
  bool AddFile(const std::string& fileName, Glps::EFileType kind, bool hashed) override;
  // The record of the file's name takes its present size and fingerprint. False, changing nothing,
  // when no record has that name or the file is not open.
  bool UpdateFileInfo(KECGlpsFileHashed& file) override;
  // Replaces the record of the same name in place, or appends it. Always true.
  bool SetFileData(const KECGlpsFileManagerData& record) override;

  // The last verification found a protected file that does not match its record.
  bool IsTampered() const;
  // The name joined with the log directory; empty for a name that is not a plain file name.
  std::string GetFilePath(const std::string& fileName) const;
  // True when every protected file matches its record by the rule of file_verdict.h. Every
  // protected file is read once, read-only, whatever locks others hold, and nothing is created: a
  // missing file, one that cannot be read, one that is not a regular file, one with more than one
  // name, and a record whose name is not a plain file name do not match. What was found is kept
  // for RehashFiles and GetDocument.
  bool VerifyFiles();
  // Re-bases the protected records on the files as the last verification found them (a record
  // changed since is looked at again): a document is cut back (or extended with zeros, at most
  // kMaxExtension bytes) to its recorded size and its record takes that content's fingerprint; a
  // sidecar's or linked file's record takes the fingerprint and size of the whole file. A missing
  // file is created, exclusively. Records whose file cannot be read, is not a regular file, has
  // more than one name, is read-only (a document), or whose name is not a plain file name are left
  // unchanged. Always true.
  bool RehashFiles();
  // RehashFiles, then decides again from what re-basing left, without reading the files again.
  void AcceptCurrentFiles();

  unsigned GetFileCount(Glps::EFileType kind) const;
  // A copy of the (index + 1)-th record of that kind; a fresh record when there are fewer.
  KECGlpsFileManagerData GetFile(Glps::EFileType kind, unsigned index) const;
  // Copies the last record of that kind into `record`; false, leaving it untouched, when none.
  bool GetLastFile(Glps::EFileType kind, KECGlpsFileManagerData& record) const;
  // Calls `callback` with the name of every record of that kind, in record order.
  void ForEachFile(Glps::EFileType kind, const FileCallback& callback) const;

  // The open document of that name, opened against its record and cached on first use. Empty
  // when no record has the name, or the name is not a plain file name. A document is opened for
  // writing only when a read-only look found its recorded content intact (a tail beyond the record
  // is cut), and only when it is the very file looked at; it then takes over the digest that look
  // made, so it is not read again. The look is the verification's while the record is the one
  // verified (once), a new one otherwise. A document that is not opened is still handed out, not
  // open: its entities are read from its sidecar, and nothing is written.
  DocumentPtr GetDocument(const std::string& fileName);
  // The cached document of that name; empty when it is not open.
  DocumentPtr FindOpenDocument(const std::string& fileName) const;
  // Empties the cache; returns the number of documents it held.
  std::size_t CloseAllDocuments();
  // Closes the cached documents, deletes every record's file and forgets all records. True only if
  // every file went; a record whose name is not a plain file name, a file with more than one name
  // and a read-only file are not deleted and count as failures.
  bool DeleteAllFiles();

  // The most zeros that re-basing adds to a document shorter than its record (see
  // KECGlpsFileHashed::kMaxExtension).
  static constexpr std::int64_t kMaxExtension = std::int64_t{64} << 20;

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

  // The first record with that name, or null. Found through m_mapPositions, without a scan.
  KECGlpsFileManagerData* FindRecord(const std::string& fileName);
  // Indexes the records as they stand: the position of the first record of every name.
  void IndexRecords();
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
  // Never null. Record order is registration order; names are unique while records are added
  // only through SetFileData.
  FileVectorPtr m_ptrFiles;
  // For every name in *m_ptrFiles, the position of its first record (log.xml may hold a name
  // twice). Built by the constructor, kept by SetFileData and DeleteAllFiles, the only changes of
  // the vector's length or names once the manager exists; FindRecord re-indexes when the vector
  // was changed behind the manager's back all the same (another length, or a record moved).
  std::unordered_map<std::string, std::size_t> m_mapPositions;
  // The length of *m_ptrFiles that m_mapPositions describes.
  std::size_t m_nIndexedRecords;
  // In opening order; at most one entry per document name.
  std::vector<DocumentPtr> m_vDocuments;
  // By name: what the last verification, re-basing or GetDocument found of each protected record's
  // file.
  FindingMap m_mapFindings;
};

#endif  // GLPS_FILEMANAGER_FILE_MANAGER_H_
