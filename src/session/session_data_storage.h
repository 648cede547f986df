// SPDX-License-Identifier: Apache-2.0
// The persisted state of one log session and the only reader and writer of its log.xml.
#ifndef GLPS_SESSION_SESSION_DATA_STORAGE_H_
#define GLPS_SESSION_SESSION_DATA_STORAGE_H_

#include <string>
#include <vector>

#include <boost/shared_ptr.hpp>

#include "filemanager/file_manager_data.h"
#include "glps/records.h"
#include "platform/platform.h"

// Header, metadata, catalog and file records of a log, as kept in the log's log.xml, and the
// fingerprint (hash text and size) of that file.
//
// Short-lived: the log session builds one on log.xml of its log directory for each opening (Load,
// then takes the four objects out) and for each save (puts its own objects in, then Save). The file
// is reached through its directory (a path names its parent directory, opened then). The objects
// are shared, never copied; the record vector is also shared with the file manager. One thread, and
// no second writer of the same log.xml.
class KECGlpsLogXmlWriter;

class KECGlpsLogSessionDataStorage {
 public:
  // Builds default objects: a default header, metadata and catalog (message number 0, coding-scheme
  // pair (true, -1)) and an empty record vector.
  explicit KECGlpsLogSessionDataStorage(const glps::platform::FileLocation& location);
  virtual ~KECGlpsLogSessionDataStorage();

  KECGlpsLogSessionDataStorage(const KECGlpsLogSessionDataStorage&) = delete;
  KECGlpsLogSessionDataStorage& operator=(const KECGlpsLogSessionDataStorage&) = delete;

  // 0: the file exists and is writable; 1: there is no file; 2: the file is read-only.
  int GetStatus() const;
  // Hash text and size of the file as it lies on disk; the no-log-info value when there is none or
  // it cannot be read whole (within the archive size limit). Never one without the other.
  KECGlpsLogInfo GetLogInfo() const;
  // GetLogInfo equals `info`.
  bool MatchesLogInfo(const KECGlpsLogInfo& info) const;

  // Empties the shared record vector, then reads log.xml once (at most the archive size limit) and
  // parses those very bytes. True when the whole file was read. On failure the objects read
  // completely before the error have replaced the defaults; the others are as before (the record
  // vector empty). The status and the info of the bytes read are kept (GetLoadedStatus,
  // LoadedInfoMatches), so that nothing put in the file's place between a look and the reading
  // can be taken for it.
  bool Load();
  // GetStatus of the file that the last Load read: 0 writable, 1 none (or not a regular file), 2
  // read-only. 1 before any Load.
  int GetLoadedStatus() const { return m_nLoadedStatus; }
  // The info of the bytes that the last Load read equals `info`. The no-log-info value stands for
  // no file (or not a regular file); a file that could not be read whole matches no info.
  bool LoadedInfoMatches(const KECGlpsLogInfo& info) const;
  // The info of the bytes that the last Load read: hash text and size, the no-log-info value when
  // there was no file. Meaningful only while LoadedInfoKnown.
  const KECGlpsLogInfo& GetLoadedLogInfo() const { return m_infoLoaded; }
  bool LoadedInfoKnown() const { return m_bLoadedInfoKnown; }
  // Writes the four objects to log.xml, replacing the old file atomically: the text of `writer`
  // (KECGlpsLogXmlWriter, kept by the caller from save to save; a fresh one when null), written
  // into a temporary file by PrepareSave and put in place, durably, by CommitSave. In between the
  // caller can make durable what log.xml names, while the disk already writes log.xml. False (the
  // old file left as it was, and no temporary file) when the file cannot be written, it is
  // read-only or has more than one name, a pointer is empty, or the text would be larger than any
  // load takes (archive_io::kMaxArchiveSize); a failure of CommitSave's last
  // step, the directory's sync, leaves the new file in place (WrittenInPlace).
  bool Save(KECGlpsLogXmlWriter* writer = nullptr);
  bool PrepareSave(KECGlpsLogXmlWriter* writer = nullptr);
  bool CommitSave();
  // CommitSave, with the data of the file `alongside` (the log's current document) made durable
  // before log.xml's, and before log.xml takes its name (platform::Replacement::
  // CommitAfterSyncingWith); *alongsideSynced receives the result of its sync, which is made also
  // when nothing is prepared.
  bool CommitSaveSyncing(glps::platform::FileHandle alongside, bool* alongsideSynced);
  // The bytes of the last Save took the file's name (also when Save then failed to make that
  // durable), and their info: what the host is handed, never the info of a file read back.
  bool WrittenInPlace() const { return m_bWritten; }
  const KECGlpsLogInfo& GetWrittenLogInfo() const { return m_infoWritten; }

  boost::shared_ptr<KECGlpsLogHeader> GetHeader() const { return m_ptrHeader; }
  boost::shared_ptr<KECGlpsLogMetaData> GetMetaData() const { return m_ptrMetaData; }
  boost::shared_ptr<KECGlpsLogCatalog> GetCatalog() const { return m_ptrCatalog; }
  boost::shared_ptr<std::vector<KECGlpsFileManagerData>> GetFileData() const {
    return m_ptrFileData;
  }

  void PutHeader(const boost::shared_ptr<KECGlpsLogHeader>& header) { m_ptrHeader = header; }
  void PutMetaData(const boost::shared_ptr<KECGlpsLogMetaData>& metaData) {
    m_ptrMetaData = metaData;
  }
  void PutCatalog(const boost::shared_ptr<KECGlpsLogCatalog>& catalog) { m_ptrCatalog = catalog; }
  void PutFileData(const boost::shared_ptr<std::vector<KECGlpsFileManagerData>>& fileData) {
    m_ptrFileData = fileData;
  }

 private:
  const glps::platform::FileLocation m_location;
  // Of the file the last Load read; see GetLoadedStatus and LoadedInfoMatches.
  int m_nLoadedStatus;
  KECGlpsLogInfo m_infoLoaded;
  bool m_bLoadedInfoKnown;
  // Of the last Save; see WrittenInPlace.
  bool m_bWritten;
  KECGlpsLogInfo m_infoWritten;
  // The prepared replacement of log.xml, and the info of its bytes.
  glps::platform::Replacement m_replacement;
  KECGlpsLogInfo m_infoPrepared;
  // The four pointers are never empty unless a caller puts an empty one in.
  boost::shared_ptr<KECGlpsLogHeader> m_ptrHeader;
  boost::shared_ptr<KECGlpsLogMetaData> m_ptrMetaData;
  boost::shared_ptr<KECGlpsLogCatalog> m_ptrCatalog;
  boost::shared_ptr<std::vector<KECGlpsFileManagerData>> m_ptrFileData;
};

#endif  // GLPS_SESSION_SESSION_DATA_STORAGE_H_
