// SPDX-License-Identifier: Apache-2.0
// The file manager of a log directory: the records of the log's files, their verification and
// re-basing, and the cache of open HTML log documents.
#ifndef GLPS_FILEMANAGER_FILE_MANAGER_H_
#define GLPS_FILEMANAGER_FILE_MANAGER_H_

#include <cstddef>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "filemanager/file_manager_data.h"
#include "files/md5_hash.h"

class KECGlpsFileHashed;
class KECGlpsFileHtml;

// Keeps one record per file of a log directory (documents, sidecars, index pages, linked files),
// verifies every protected file against its record when constructed, re-bases the records on the
// files as found (AcceptCurrentFiles), refreshes records while documents grow, and opens each
// document once, keeping it in a cache.
//
// Record names come from log.xml, which anyone can edit: a name that is not a plain file name
// (IsPlainFileName) is never joined with the directory, so nothing outside the directory is ever
// opened, created, cut or deleted through a record. A protected file that is a symbolic link,
// a directory or anything but a regular file never matches its record and is never followed.
//
// Owned by the log session, which deletes it through the interface's virtual destructor. The record
// vector is shared with the session storage that persists it; the documents are shared with the
// session's handle on its current document and point back to this manager, which must outlive them.
// Requires of its caller: one thread; no second writer on the directory's files; no object of the
// caller's own open on a protected file while VerifyFiles, RehashFiles or DeleteAllFiles runs.
class KECGlpsFileManager : public KECIGlpsFileManager {
 public:
  using FileVector = std::vector<KECGlpsFileManagerData>;
  using FileVectorPtr = boost::shared_ptr<FileVector>;
  using DocumentPtr = boost::shared_ptr<KECGlpsFileHtml>;
  using FileCallback = std::function<void(const std::string& fileName)>;

  // Shares `files` (a null pointer gets a new empty vector) and verifies every protected file.
  KECGlpsFileManager(const std::string& directory, const FileVectorPtr& files);
  // Drops the cache (documents whose last handle it held are closed) and the share of the records.
  ~KECGlpsFileManager() override;
  KECGlpsFileManager(const KECGlpsFileManager&) = delete;
  KECGlpsFileManager& operator=(const KECGlpsFileManager&) = delete;

  // Registers the name afresh (kind, flag, no fingerprint, size 0), keeping its position when it is
  // known. For a hashed file, opens it (created empty when missing) and records its fingerprint and
  // size. False, with no record made, for a name that is not a plain file name; false, with the
  // record kept unfingerprinted, when a hashed file cannot be opened (held by another writer, or
  // not a regular file).
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
  // True when every protected file matches its record by the rule of file_verdict.h; stops at the
  // first that does not. Every file is read read-only, whatever locks others hold, and nothing is
  // created: a missing file, one that cannot be read, one that is not a regular file, one with more
  // than one name, and a record whose name is not a plain file name do not match.
  bool VerifyFiles();
  // Re-bases the protected records on the files as found: a document is cut back (or extended) to
  // its recorded size and its record takes that content's fingerprint; a sidecar's or linked file's
  // record takes the fingerprint and size of the whole file (created empty when missing). Records
  // whose file cannot be opened, is not a regular file, or whose name is not a plain file name are
  // left unchanged. Always true.
  bool RehashFiles();
  // RehashFiles, then verifies again.
  void AcceptCurrentFiles();

  unsigned GetFileCount(Glps::EFileType kind) const;
  // A copy of the (index + 1)-th record of that kind; a fresh record when there are fewer.
  KECGlpsFileManagerData GetFile(Glps::EFileType kind, unsigned index) const;
  // Copies the last record of that kind into `record`; false, leaving it untouched, when none.
  bool GetLastFile(Glps::EFileType kind, KECGlpsFileManagerData& record) const;
  // Calls `callback` with the name of every record of that kind, in record order.
  void ForEachFile(Glps::EFileType kind, const FileCallback& callback) const;

  // The open document of that name, opened against its record and cached on first use. Empty
  // when no record has the name, or the name is not a plain file name. The last document that
  // VerifyFiles found matching (a log's current document) takes over, at its first opening, the
  // digest the verification made of it instead of being read again.
  DocumentPtr GetDocument(const std::string& fileName);
  // The cached document of that name; empty when it is not open.
  DocumentPtr FindOpenDocument(const std::string& fileName) const;
  // Empties the cache; returns the number of documents it held.
  std::size_t CloseAllDocuments();
  // Closes the cached documents, deletes every record's file and forgets all records. True only if
  // every file went; a record whose name is not a plain file name has nothing deleted and counts as
  // a failure.
  bool DeleteAllFiles();

  // The record vector, shared with the storage that persists it. Callers read it; records are
  // added, replaced and removed only through this manager, which indexes them.
  const FileVectorPtr& GetFileData() const { return m_ptrFiles; }

 private:
  // The first record with that name, or null. Found through m_mapPositions, without a scan.
  KECGlpsFileManagerData* FindRecord(const std::string& fileName);
  // Indexes the records as they stand: the position of the first record of every name.
  void IndexRecords();

  const std::string m_strDirectory;
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

  // The last document record that VerifyFiles found matching, and the digest of its content as
  // verification read it. GetDocument hands the digest to that document (once, and only while the
  // record still holds the name, fingerprint and size verified), so that opening a log reads its
  // current document once rather than twice.
  struct VerifiedDocument {
    bool valid = false;
    std::string name;
    std::string hash;
    std::int64_t size = 0;
    glps::crypto::Md5Hash digest;
  };
  VerifiedDocument m_verifiedDocument;
};

#endif  // GLPS_FILEMANAGER_FILE_MANAGER_H_
