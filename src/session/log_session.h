// SPDX-License-Identifier: Apache-2.0
// KECGlpsLogSession: one open log (the application log or an experiment log) in its directory.
#ifndef GLPS_SESSION_LOG_SESSION_H_
#define GLPS_SESSION_LOG_SESSION_H_

#include <boost/shared_ptr.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "glps/records.h"
#include "platform/platform.h"
#include "records/log_status_data.h"

class KECGlpsFileHtml;
class KECGlpsFileManager;
class KECGlpsLogDirectory;
class KECGlpsLogSealer;
class KECGlpsLogSessionDataStorage;
class KECGlpsLogXmlWriter;

// One open log. Opening is verification: the constructor loads log.xml, compares it with the info
// the host kept from the last save, verifies every protected file of the directory, re-bases the
// records after a mismatch and opens the current HTML document, into which every entry is appended.
// Nothing reaches log.xml until Save (or Close or Clear).
//
// The log directory is opened once, at the first opening (KECGlpsLogDirectory), and every file of
// the log is reached through it. One session at a time holds a log, in this process or another,
// through the log's lock file "log.lock" in the directory: a second session on the same log is not
// valid, and it creates, cuts, writes and deletes nothing there.
//
// A sealed log (glps/seal.h) is sealed by every save that writes log.xml: the save appends a seal
// and moves the sealing key on (KECGlpsLogSealer) before it returns, and fails when it cannot. A
// log that is not sealed is saved as it always was.
//
// Every opening is described for the host (GetOpening), and every operation that fails notes why
// (TakeFailure): what failed, the file, and what the platform unit noted of the system's reason.
//
// Owned by the service facade. Owns its log directory, its file manager and its sealer; shares its
// header, metadata and catalog with the storage objects that load and save log.xml, and its current
// document with the file manager's cache. One thread.
class KECGlpsLogSession {
 public:
  // The application log.
  KECGlpsLogSession(const std::string& directory, const std::string& baseName,
                    const KECGlpsLogInfo& info);
  // An experiment log. The experiment's name is accepted and not used.
  KECGlpsLogSession(const std::string& directory, const std::string& baseName,
                    const std::string& experiment, const KECGlpsLogInfo& info);
  // Releases everything without saving.
  virtual ~KECGlpsLogSession();

  KECGlpsLogSession(const KECGlpsLogSession&) = delete;
  KECGlpsLogSession& operator=(const KECGlpsLogSession&) = delete;

  bool IsValid() const { return m_bValid; }
  bool IsTampered() const { return m_bTampered; }
  // What the last opening found: new, intact, tampered with (log.xml against the info, the files
  // that did not match their records before re-basing, the records that break the rules) or not
  // usable, and why.
  const KECGlpsLogOpening::Data& GetOpening() const { return m_opening; }
  // How many times the session has opened its log (Clear opens it again).
  unsigned GetOpenings() const { return m_nOpenings; }

  // Why an operation failed: what, the file concerned (a name in the directory; empty when none),
  // and the system's reason as the platform unit noted it (unset when the session refused on its
  // own, or nothing was noted).
  struct Failure {
    std::string what;
    std::string file;
    glps::platform::Failure system;

    bool IsSet() const { return !what.empty(); }
  };
  // The failure of the operation that last returned false, handed over once: it is cleared here.
  Failure TakeFailure();
  std::string GetDirectory() const { return m_strDirectory; }
  // The path through which the log is shown: its only document, or the main index page once there
  // are several; empty when that file does not exist.
  std::string GetLogFileName() const;
  KECGlpsLogInfo GetLogInfo() const { return m_infoLog; }
  std::pair<std::string, std::int64_t> GetLinkHashInfo(const std::string& fileName) const;
  std::pair<bool, std::int32_t> GetMerCodingSchemeInfo() const;
  // (document file name, GUID) of every entity of that type and handle, document by document in
  // record order. False, with `entities` empty, when the entities of a document could not be read
  // (KECGlpsFileManager::ReadEntities): never a part of the answer.
  bool GetMetaDataEntities(Glps::ELogEntity type, std::int32_t handle,
                           std::vector<std::pair<std::string, KCGenGUID>>* entities) const;
  // A copy of the metadata held; a default record when none is held.
  KECGlpsLogMetaData GetMetaData() const;

  bool WriteText(const std::string& html);
  bool AddLink(const std::string& fileName);
  bool SetMetaData(const KECGlpsLogMetaData& meta);
  bool SetMetaDataName(const std::string& name);
  bool AddMetaDataEntity(const KECGlpsLogMetaDataEntity& entity);
  // Advances the message counter and returns the new number; -1 when no catalog is held.
  std::int32_t GetNextIndex();
  void SetMerCodingSchemeInfo(const std::pair<bool, std::int32_t>& info);
  // Flushes the current document and writes log.xml, and seals a sealed log; the info then
  // describes the log.xml written (unchanged when none was). False when log.xml could not be
  // written, the document not flushed, the document is no longer the file under its name in the
  // directory (removed or replaced), or a sealed log could not be sealed.
  // A session that is not valid writes nothing and returns false; its info is then that of the
  // log.xml on disk, read now (another writer's, or the read-only one).
  bool Save();
  // Saves, then ends the session; the result is the save's.
  bool Close();
  // Deletes every file of the log, saves and opens it again. False, deleting nothing, when the
  // session is not valid or the log is sealed (its sealed trail is never deleted).
  bool Clear();
  // Copies the index pages, documents and linked files into `directory` (see
  // KECGlpsLogDirectory::ExportTo).
  bool Export(const std::string& directory) const;

 private:
  KECGlpsLogSession(bool appLog, const std::string& directory, const std::string& baseName,
                    const KECGlpsLogInfo& info);
  bool Open();
  // Notes why an operation failed, with what the platform unit noted since it was last cleared.
  void NoteFailure(const std::string& what, const std::string& file) const;
  // Notes that the operation cannot be made because the log cannot be used (the opening's reason).
  void NoteUnusable();
  // Describes in m_opening why the log cannot be used, with what the platform unit noted.
  void DescribeUnusable(Glps::ELogUnusable why, const std::string& reason,
                        const glps::platform::Failure& system);
  // The path of a file of the log, for showing.
  std::string MakePath(const std::string& fileName) const;
  glps::platform::FileLocation Location(const std::string& fileName) const;
  // Takes the info of the log.xml that `storage` has just written, if it wrote one.
  void TakeWrittenInfo(const KECGlpsLogSessionDataStorage& storage);
  // Takes the info of the log.xml in the directory as it is now (the no-log-info value when there
  // is none, or it cannot be read whole).
  void TakeInfoOnDisk();
  std::string MakeDocumentName(unsigned number) const;
  void TakeHeader(const KECGlpsLogSessionDataStorage& storage, bool isNew);
  void TakeMetaData(const KECGlpsLogSessionDataStorage& storage);
  void TakeCatalog(const KECGlpsLogSessionDataStorage& storage);
  // Builds the file manager on the records loaded (which verifies them); with `rebase`, re-bases
  // them when a file does not match.
  void TakeFileData(const KECGlpsLogSessionDataStorage& storage, bool rebase);
  void RemoveLeftovers();
  bool OpenDocument();
  bool WriteCaption(const std::string& name);
  bool GenerateIndexPages(const std::string& currentDocument);
  // Brings the current document's record up to the document's size and fingerprint after writes
  // (see m_bDocumentRecordBehind). False when the record could not be refreshed.
  bool RefreshDocumentRecord();

  bool m_bAppLog;
  std::string m_strDirectory;
  std::string m_strBaseName;
  boost::shared_ptr<KECGlpsLogHeader> m_ptrHeader;
  boost::shared_ptr<KECGlpsLogMetaData> m_ptrMetaData;
  boost::shared_ptr<KECGlpsLogCatalog> m_ptrCatalog;
  // The log directory, opened at the first opening and kept until destruction, with the lock that
  // makes this session its only writer (taken at the first opening that can have it). Null while
  // the directory is empty text. Declared before the file manager and the document, so that the
  // lock is let go only after both have gone.
  std::unique_ptr<KECGlpsLogDirectory> m_pDirectory;
  // Null before the first opening and after Close.
  std::unique_ptr<KECGlpsFileManager> m_pFileManager;
  // The document every entry is appended to; empty when none could be had. Declared after the file
  // manager, which it points back to, so that it goes first.
  boost::shared_ptr<KECGlpsFileHtml> m_ptrDocument;
  // At construction the info the host expects; after every save the hash and size of the log.xml
  // on disk.
  KECGlpsLogInfo m_infoLog;
  // The log is writable and its current document is open.
  bool m_bValid;
  // The last opening found log.xml or a protected file changed.
  bool m_bTampered;
  // Entries were written into the current document since its record was last refreshed: the
  // record's size and fingerprint are behind the document's until RefreshDocumentRecord, which
  // every reader of the records (the save) runs first.
  bool m_bDocumentRecordBehind = false;
  // What the last opening found, and how many there were.
  KECGlpsLogOpening::Data m_opening;
  unsigned m_nOpenings = 0;
  // Why the last operation that failed did; cleared by TakeFailure. Noted by const operations too.
  mutable Failure m_failure;
  // Makes the text of log.xml at every save, keeping what stays the same from one save to the next.
  // Never null.
  std::unique_ptr<KECGlpsLogXmlWriter> m_pLogXmlWriter;
  // The sealing of a sealed log, made when the lock's holder opens it; null for a log that is not
  // sealed, and while the session does not hold the log. Declared last, so that it goes first.
  std::unique_ptr<KECGlpsLogSealer> m_pSealer;
};

#endif  // GLPS_SESSION_LOG_SESSION_H_
