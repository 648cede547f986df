// SPDX-License-Identifier: Apache-2.0
#include "session/log_session.h"

#include <boost/make_shared.hpp>

#include <sstream>

#include "filemanager/file_manager.h"
#include "filemanager/file_manager_data.h"
#include "filemanager/file_verdict.h"
#include "filemanager/record_set.h"
#include "files/glps_file_html.h"
#include "glps/host/gen.h"
#include "glps/host/services.h"
#include "html/html_generator.h"
#include "platform/platform.h"
#include "seal/log_sealer.h"
#include "seal/seal_format.h"
#include "serialization/log_xml_writer.h"
#include "serialization/text_mode.h"
#include "session/log_directory.h"
#include "session/session_data_storage.h"

namespace {

const char* const kLogFileName = glps::kLogXmlName;
const char kDocumentExtension[] = "html";
const char* const kMainPage = glps::kMainPageName;
const char* const kMenuPage = glps::kMenuPageName;
const char kMenuTarget[] = "menu";
const char kLogTarget[] = "log";
const std::int32_t kContentTypeAppLog = 533;
const std::int32_t kContentTypeExpLog = 534;
const std::uint16_t kContentVersion = 410;
// From this recorded size on, the last document is not continued when the log is opened.
const std::int64_t kDocumentSizeLimit = 0x100000;
// A new document never takes the name of a file that is already in the directory; after this many
// names in use the log gives up on a new document.
const unsigned kMaxDocumentNameTries = 1000;

// Parsed once, when the library is loaded.
const KCGenGUID g_guidNewHeader("{D15149F8-F127-4781-B1F6-3C762D712E15}");

}  // namespace

KECGlpsLogSession::KECGlpsLogSession(const std::string& directory, const std::string& baseName,
                                     const KECGlpsLogInfo& info)
    : KECGlpsLogSession(true, directory, baseName, info) {}

KECGlpsLogSession::KECGlpsLogSession(const std::string& directory, const std::string& baseName,
                                     const std::string& /*experiment*/, const KECGlpsLogInfo& info)
    : KECGlpsLogSession(false, directory, baseName, info) {}

KECGlpsLogSession::KECGlpsLogSession(bool appLog, const std::string& directory,
                                     const std::string& baseName, const KECGlpsLogInfo& info)
    : m_bAppLog(appLog),
      m_strDirectory(directory),
      m_strBaseName(baseName),
      m_infoLog(info),
      m_bValid(false),
      m_bTampered(false),
      m_pLogXmlWriter(new KECGlpsLogXmlWriter()) {
  Open();
}

KECGlpsLogSession::~KECGlpsLogSession() = default;

std::string KECGlpsLogSession::MakePath(const std::string& fileName) const {
  if (m_pDirectory) return m_pDirectory->MakePath(fileName);
  return KCGenFileUtils::MakeNamePath(m_strDirectory, fileName);
}

glps::platform::FileLocation KECGlpsLogSession::Location(const std::string& fileName) const {
  return glps::platform::FileLocation(
      m_pDirectory ? m_pDirectory->GetDirectory() : glps::platform::DirectoryPtr(), fileName);
}

void KECGlpsLogSession::TakeWrittenInfo(const KECGlpsLogSessionDataStorage& storage) {
  // The info vouches for the bytes written, never for a file read back (which anyone may have put
  // in place meanwhile); when nothing was written, the log.xml the host knows is still the one.
  if (storage.WrittenInPlace()) m_infoLog = storage.GetWrittenLogInfo();
}

void KECGlpsLogSession::TakeInfoOnDisk() {
  if (!m_pDirectory) {
    m_infoLog = KECGlpsLogInfo();
    return;
  }
  const KECGlpsLogSessionDataStorage storage(Location(kLogFileName));
  m_infoLog = storage.GetLogInfo();
}

std::string KECGlpsLogSession::MakeDocumentName(unsigned number) const {
  return KCGenFileUtils::MakeNameExtension(
      KECBaseNameUtils::MakeDefaultName(m_strBaseName, number + 1), kDocumentExtension);
}

KECGlpsLogSession::Failure KECGlpsLogSession::TakeFailure() {
  Failure failure = std::move(m_failure);
  m_failure = Failure();
  return failure;
}

void KECGlpsLogSession::NoteFailure(const std::string& what, const std::string& file) const {
  m_failure.what = what;
  m_failure.file = file;
  m_failure.system = glps::platform::LastFailure();
}

void KECGlpsLogSession::NoteUnusable() {
  m_failure = Failure();
  m_failure.what = "the log cannot be used";
  m_failure.file = m_strDirectory;
  m_failure.system.call = "open";
  m_failure.system.error = m_opening.systemError;
  m_failure.system.reason = m_opening.reason;
}

void KECGlpsLogSession::DescribeUnusable(Glps::ELogUnusable why, const std::string& reason,
                                         const glps::platform::Failure& system) {
  m_opening.unusable = why;
  m_opening.systemError = system.IsSet() ? system.error : 0;
  m_opening.reason = reason;
  if (system.IsSet()) {
    const std::string& file = system.name.empty() ? std::string(kLogFileName) : system.name;
    m_opening.reason += (reason.empty() ? "" : ": ") + file + ": " + system.reason;
  }
}

bool KECGlpsLogSession::Open() {
  ++m_nOpenings;
  m_opening = KECGlpsLogOpening::Data();
  m_opening.directory = m_strDirectory;
  m_opening.expectedInfo = m_infoLog;
  glps::platform::ClearFailure();
  if (m_strDirectory.empty()) {
    // Every name would resolve in the process's working directory: the log is not usable, and
    // nothing is read, created or written there.
    KECGlpsLogSessionDataStorage fresh{Location(std::string())};
    TakeHeader(fresh, false);
    TakeMetaData(fresh);
    TakeCatalog(fresh);
    TakeFileData(fresh, false);
    m_bTampered = false;
    m_bValid = false;
    m_opening.state = Glps::eLogOpeningUnusable;
    DescribeUnusable(Glps::eLogUnusableNoDirectory, "no log directory was given",
                     glps::platform::Failure());
    return false;
  }
  // The directory is opened once: renaming it away or putting a link in its place later sends no
  // operation of this session elsewhere.
  if (!m_pDirectory) m_pDirectory.reset(new KECGlpsLogDirectory(m_strDirectory));
  const bool directoryOpen = m_pDirectory->GetDirectory()->IsOpen();
  const glps::platform::Failure directoryFailure = glps::platform::LastFailure();
  glps::platform::ClearFailure();
  const bool held = m_pDirectory->TakeLock();
  const glps::platform::Failure lockFailure = glps::platform::LastFailure();
  glps::platform::ClearFailure();
  KECGlpsLogSessionDataStorage storage(Location(kLogFileName));
  // One reading of log.xml gives its status, its info and its content.
  const bool loaded = storage.Load();
  const glps::platform::Failure loadFailure = glps::platform::LastFailure();
  const int status = storage.GetLoadedStatus();
  const bool matches = storage.LoadedInfoMatches(m_infoLog);
  // A log.xml that is there but does not load, while it is the very file the host vouches for or
  // could not be read at all, is not a log to start afresh: the session is not valid and changes
  // nothing, so that no new log.xml ever replaces it and no document is started beside the log's.
  const bool unloadable = !loaded && status != 1 && (matches || !storage.LoadedInfoKnown());

  // A record set that breaks the rules of record_set.h is reported through this flag too: a
  // log.xml that holds one was not written by the library, so it does not match the host's info.
  // The offending records stay in log.xml as evidence when the library next saves it, and that
  // log.xml matches the info the host is handed: the next opening does not report them again.
  m_bTampered = !matches;
  m_bValid = status != 2 && !unloadable;
  const bool isNew = !loaded && !unloadable && m_infoLog == KECGlpsLogInfo();

  TakeHeader(storage, isNew);
  TakeMetaData(storage);
  TakeCatalog(storage);
  // Only the lock's holder changes files, and only in a log whose log.xml it has loaded (or that is
  // new).
  const bool changesFiles = held && !unloadable;
  TakeFileData(storage, changesFiles);
  if (changesFiles) RemoveLeftovers();
  // A sealed log's sealing, read by the one who changes its files.
  m_pSealer.reset();
  if (changesFiles) m_pSealer = KECGlpsLogSealer::Open(m_pDirectory->GetDirectory());
  // Otherwise no document is started or opened: the log is another's, or cannot be read.
  glps::platform::ClearFailure();
  const bool documentOpen = changesFiles && OpenDocument();
  const glps::platform::Failure documentFailure = glps::platform::LastFailure();
  m_bValid = m_bValid && documentOpen;

  // The opening as the host is told of it.
  m_opening.tampered = m_bTampered;
  m_opening.logXmlMatches = matches;
  if (storage.LoadedInfoKnown()) m_opening.foundInfo = storage.GetLoadedLogInfo();
  if (!directoryOpen) {
    DescribeUnusable(Glps::eLogUnusableDirectory, std::string(), directoryFailure);
  } else if (!held) {
    DescribeUnusable(Glps::eLogUnusableLocked, "the log's lock cannot be had", lockFailure);
  } else if (status == 2) {
    DescribeUnusable(Glps::eLogUnusableReadOnly, "log.xml is read-only", glps::platform::Failure());
  } else if (unloadable) {
    DescribeUnusable(Glps::eLogUnusableLogXml,
                     storage.LoadedInfoKnown() ? "log.xml is not a complete log archive"
                                               : "log.xml cannot be read",
                     storage.LoadedInfoKnown() ? glps::platform::Failure() : loadFailure);
  } else if (!documentOpen) {
    DescribeUnusable(Glps::eLogUnusableDocument, "no document can be written", documentFailure);
  }
  if (!m_bValid) {
    m_opening.state = Glps::eLogOpeningUnusable;
  } else if (m_bTampered) {
    m_opening.state = Glps::eLogOpeningTampered;
  } else {
    m_opening.state = isNew ? Glps::eLogOpeningNew : Glps::eLogOpeningIntact;
  }
  return m_bValid;
}

void KECGlpsLogSession::TakeHeader(const KECGlpsLogSessionDataStorage& storage, bool isNew) {
  m_ptrHeader = storage.GetHeader();
  if (!isNew) return;
  m_ptrHeader->m_eContentType = static_cast<KCGenStandardFileHeader::EContentType>(
      m_bAppLog ? kContentTypeAppLog : kContentTypeExpLog);
  m_ptrHeader->m_usContentVersion = kContentVersion;
  m_ptrHeader->m_tmCreation = KCGenTime(true);
  m_ptrHeader->m_guid = g_guidNewHeader;
}

void KECGlpsLogSession::TakeMetaData(const KECGlpsLogSessionDataStorage& storage) {
  m_ptrMetaData = storage.GetMetaData();
}

void KECGlpsLogSession::TakeCatalog(const KECGlpsLogSessionDataStorage& storage) {
  m_ptrCatalog = storage.GetCatalog();
}

void KECGlpsLogSession::TakeFileData(const KECGlpsLogSessionDataStorage& storage, bool rebase) {
  std::unique_ptr<KECGlpsFileManager> manager(new KECGlpsFileManager(
      m_pDirectory ? m_pDirectory->GetDirectory() : glps::platform::DirectoryPtr(),
      storage.GetFileData()));
  m_ptrDocument.reset();
  m_bDocumentRecordBehind = false;
  m_pFileManager = std::move(manager);
  // What the verification found, for the host, before re-basing changes the records.
  for (const KECGlpsFileManager::Verified& verified : m_pFileManager->GetVerification()) {
    ++m_opening.protectedCount;
    if (glps::MatchesRecord(verified.check.status)) continue;
    KECGlpsAuditFile file;
    file.m_nNumber = verified.position + 1;
    file.m_record = verified.record;
    glps::DescribeCheck(verified.record, verified.check, &file);
    if (verified.check.status == glps::FileStatus::kGrownIntact) m_opening.unsavedTail = true;
    m_opening.files.push_back(std::move(file));
  }
  const std::vector<glps::RecordFault> faults = m_pFileManager->GetRecordFaults();
  const std::vector<KECGlpsFileManagerData>& records = *m_pFileManager->GetFileData();
  for (std::size_t i = 0; i < faults.size() && i < records.size(); ++i) {
    if (faults[i] == glps::RecordFault::kNone) continue;
    KECGlpsAuditFinding finding;
    finding.m_eKind = Glps::eAuditRecordBreaksRules;
    finding.m_strDocument = records[i].m_strFileName;
    finding.m_strText = "record " + std::to_string(i + 1) + " (" +
                        glps::FileKindName(records[i].m_eType, "kind-") +
                        ") breaks the rules of a record set: " + glps::RecordFaultName(faults[i]);
    m_opening.recordFindings.push_back(std::move(finding));
  }
  if (m_pFileManager->IsTampered()) {
    m_bTampered = true;
    // Re-basing cuts documents back to their records.
    if (rebase) m_pFileManager->AcceptCurrentFiles();
  }
}

void KECGlpsLogSession::RemoveLeftovers() {
  // The temporary files of saves that a crash interrupted: they never held a part of the log, and
  // no save of this directory can be under way while its holder opens it.
  std::vector<std::string> names = {kLogFileName, kMainPage, kMenuPage, glps::seal::kSealFileName,
                                    glps::seal::kKeyFileName};
  const auto addSidecar = [&names](const std::string& name) {
    names.push_back(glps::SidecarNameOf(name));
  };
  m_pFileManager->ForEachFile(Glps::FileLog, addSidecar);
  m_pFileManager->ForEachFile(Glps::FileMetaData, addSidecar);
  m_pDirectory->RemoveLeftovers(names);
}

bool KECGlpsLogSession::OpenDocument() {
  std::string name;
  bool isNew = false;
  unsigned number = 0;
  KECGlpsFileManagerData last;
  // The last sound document record, if any (a record that breaks the rules of the set is never
  // the current document: writing then goes on in a new document).
  if (m_pFileManager->GetLastFile(Glps::FileLog, last)) {
    // A document or sidecar with a second name elsewhere is never written (the other name could be
    // anybody's file): writing goes on in a new document.
    const bool shared = m_pDirectory->IsShared(last.m_strFileName) ||
                        m_pDirectory->IsShared(glps::SidecarNameOf(last.m_strFileName));
    if (last.m_nSize >= kDocumentSizeLimit || shared) {
      isNew = true;
      number = m_pFileManager->GetFileCount(Glps::FileLog);
    } else {
      name = last.m_strFileName;
    }
  } else {
    isNew = true;
  }

  if (isNew) {
    // A file left in the directory under the new document's name or its sidecar's (for instance
    // the files of a log whose log.xml was lost, or a host's file) is evidence: it is never emptied
    // or replaced; nor is a name that a record holds (one that breaks the rules included) taken.
    // The next number whose two names are free is taken, and the document is created exclusively,
    // so a file put there meanwhile is not taken for it either.
    for (unsigned tries = 0;; ++tries, ++number) {
      if (tries == kMaxDocumentNameTries) return false;
      name = MakeDocumentName(number);
      if (m_pFileManager->Admits(name, Glps::FileLog, true) && m_pDirectory->IsFree(name) &&
          m_pDirectory->IsFree(glps::SidecarNameOf(name)) && m_pDirectory->CreateNewFile(name)) {
        break;
      }
    }
    if (!m_pFileManager->AddFile(name, Glps::FileLog, true)) return false;
  }

  m_ptrDocument = m_pFileManager->GetDocument(name);
  if (isNew && m_ptrDocument && m_ptrDocument->IsOpen()) WriteCaption(name);
  if (m_pFileManager->GetFileCount(Glps::FileLog) > 1) GenerateIndexPages(name);
  return m_ptrDocument && m_ptrDocument->IsOpen();
}

bool KECGlpsLogSession::WriteCaption(const std::string& name) {
  const std::string caption = "<I>(" + name + ")<BR><BR></I>";
  if (!m_ptrDocument->Write(caption).first) return false;
  return m_pFileManager->UpdateFileInfo(*m_ptrDocument);
}

bool KECGlpsLogSession::GenerateIndexPages(const std::string& currentDocument) {
  std::ostringstream main;
  KECGlpsHtmlMainGenerator mainGenerator(main, std::string());
  mainGenerator.SetMenuFrame(kMenuPage, kMenuTarget);
  mainGenerator.SetContentFrame(currentDocument, kLogTarget);
  mainGenerator.Generate();
  if (!m_pDirectory->WriteFile(kMainPage, glps::ToTextFile(main.str()))) {
    return false;
  }
  m_pFileManager->AddFile(kMainPage, Glps::FileIndexMain, false);

  std::ostringstream menu;
  KECGlpsHtmlMenuGenerator menuGenerator(menu, std::string());
  m_pFileManager->ForEachFile(Glps::FileLog, [&menuGenerator](const std::string& document) {
    menuGenerator.AddLink(std::string(), document, kLogTarget);
  });
  menuGenerator.Generate();
  if (!m_pDirectory->WriteFile(kMenuPage, glps::ToTextFile(menu.str()))) {
    return false;
  }
  m_pFileManager->AddFile(kMenuPage, Glps::FileIndexMenu, false);
  return true;
}

std::string KECGlpsLogSession::GetLogFileName() const {
  if (!m_pFileManager) return std::string();
  const unsigned count = m_pFileManager->GetFileCount(Glps::FileLog);
  std::string path;
  if (count == 1) {
    path = MakePath(m_pFileManager->GetFile(Glps::FileLog, 0).m_strFileName);
  } else if (count > 1) {
    path = MakePath(kMainPage);
  }
  const std::string name =
      count == 1 ? m_pFileManager->GetFile(Glps::FileLog, 0).m_strFileName : std::string(kMainPage);
  if (!path.empty() && !(glps::IsPlainFileName(name) && m_pDirectory->HasRegularFile(name))) {
    path.clear();
  }
  return path;
}

std::pair<std::string, std::int64_t> KECGlpsLogSession::GetLinkHashInfo(
    const std::string& fileName) const {
  if (m_pFileManager) {
    const unsigned count = m_pFileManager->GetFileCount(Glps::FileLink);
    for (unsigned i = 0; i < count; ++i) {
      const KECGlpsFileManagerData record = m_pFileManager->GetFile(Glps::FileLink, i);
      if (record.m_strFileName == fileName) return {record.m_strHash, record.m_nSize};
    }
  }
  return {std::string(), 0};
}

std::pair<bool, std::int32_t> KECGlpsLogSession::GetMerCodingSchemeInfo() const {
  if (!m_ptrCatalog) return KECGlpsLogCatalog().m_merCodingSchemeInfo;
  return m_ptrCatalog->m_merCodingSchemeInfo;
}

bool KECGlpsLogSession::GetMetaDataEntities(
    Glps::ELogEntity type, std::int32_t handle,
    std::vector<std::pair<std::string, KCGenGUID>>* entities) const {
  entities->clear();
  if (!m_pFileManager) {
    NoteFailure("the log is closed", std::string());
    return false;
  }
  glps::platform::ClearFailure();
  // No document is opened for this: the current one answers from memory, the others from their
  // sidecars, one at a time.
  bool complete = true;
  std::string unread;
  KECGlpsFileHtmlMetaData meta;
  m_pFileManager->ForEachFile(Glps::FileLog, [&](const std::string& name) {
    if (!complete) return;
    if (!m_pFileManager->ReadEntities(name, &meta)) {
      complete = false;
      unread = name;
      return;
    }
    for (const KECGlpsFileHtmlMetaDataEntity& entity : meta.m_vEntity) {
      if (entity.m_eType == type && entity.m_nHandle == handle) {
        entities->emplace_back(name, entity.m_guid);
      }
    }
  });
  if (!complete) {
    entities->clear();
    NoteFailure(
        "the entities of a document could not be read (its sidecar is unreadable or no "
        "longer matches its record)",
        glps::SidecarNameOf(unread));
  }
  return complete;
}

KECGlpsLogMetaData KECGlpsLogSession::GetMetaData() const {
  return m_ptrMetaData ? *m_ptrMetaData : KECGlpsLogMetaData();
}

bool KECGlpsLogSession::WriteText(const std::string& html) {
  if (!m_ptrDocument) {
    if (!m_bValid) {
      NoteUnusable();
    } else {
      NoteFailure("no document is open to write into", std::string());
    }
    return false;
  }
  glps::platform::ClearFailure();
  // The write adds the bytes to the document's running fingerprint; the record takes the new size
  // and fingerprint when it is next needed (RefreshDocumentRecord), not after every write. A write
  // that fails part-way leaves the bytes it wrote in the document and in its fingerprint, and the
  // record follows both, or the next opening would take the document for changed.
  const bool written = m_ptrDocument->Write(html).first;
  m_bDocumentRecordBehind = true;
  if (!written) NoteFailure("an entry could not be written", m_ptrDocument->GetFileName());
  return written;
}

bool KECGlpsLogSession::RefreshDocumentRecord() {
  if (!m_bDocumentRecordBehind) return true;
  if (!m_ptrDocument || !m_pFileManager) return false;
  m_bDocumentRecordBehind = false;
  return m_pFileManager->UpdateFileInfo(*m_ptrDocument);
}

bool KECGlpsLogSession::AddLink(const std::string& fileName) {
  if (!m_pFileManager) {
    NoteFailure("the log is closed", std::string());
    return false;
  }
  glps::platform::ClearFailure();
  // Why a link is refused: the name, or the file.
  const auto refused = [this, &fileName]() {
    if (!m_pFileManager->Admits(fileName, Glps::FileLink, true)) {
      glps::platform::ClearFailure();
      NoteFailure(
          "the name is not one a linked file may have (a name of the log's own files, or "
          "not a plain file name)",
          fileName);
    } else {
      NoteFailure("the file could not be linked", fileName);
    }
    return false;
  };
  // AddFile refuses a name that the rules of the record set keep from a linked file (log.xml, the
  // index pages, the log's lock, a sealed log's seal file and key, a document, a document's
  // sidecar, any record of another kind) and anything but a regular file with one name, and then
  // keeps no record: a link refused afterwards would keep a record that never verifies, and every
  // later opening would report the log tampered.
  if (!m_pSealer) return m_pFileManager->AddFile(fileName, Glps::FileLink, true) || refused();
  // A sealed log seals a linked file with a SHA-256 of the very bytes fingerprinted now: two files
  // prepared to share one MD5 cannot take each other's place.
  std::string sha256;
  if (!m_pFileManager->AddFile(fileName, Glps::FileLink, true, &sha256)) return refused();
  const std::pair<std::string, std::int64_t> recorded = GetLinkHashInfo(fileName);
  m_pSealer->NoteLinked(fileName, recorded.second, recorded.first, sha256);
  return true;
}

bool KECGlpsLogSession::SetMetaData(const KECGlpsLogMetaData& meta) {
  if (!m_ptrMetaData) return false;
  m_ptrMetaData->m_strVersionOriginal = meta.m_strVersionOriginal;
  m_ptrMetaData->m_guidOriginal = meta.m_guidOriginal;
  m_ptrMetaData->m_strExpName = meta.m_strExpName;
  return true;
}

bool KECGlpsLogSession::SetMetaDataName(const std::string& name) {
  if (!m_ptrMetaData) return false;
  m_ptrMetaData->m_strExpName = name;
  return true;
}

bool KECGlpsLogSession::AddMetaDataEntity(const KECGlpsLogMetaDataEntity& entity) {
  if (!m_ptrDocument) return false;
  return m_ptrDocument->AddEntity(entity);
}

std::int32_t KECGlpsLogSession::GetNextIndex() {
  if (!m_ptrCatalog) return -1;
  // A counter at its maximum (only a changed log.xml can hold one) wraps instead of overflowing.
  m_ptrCatalog->m_lNextIndex =
      static_cast<std::int32_t>(static_cast<std::uint32_t>(m_ptrCatalog->m_lNextIndex) + 1u);
  return m_ptrCatalog->m_lNextIndex;
}

void KECGlpsLogSession::SetMerCodingSchemeInfo(const std::pair<bool, std::int32_t>& info) {
  if (m_ptrCatalog) m_ptrCatalog->m_merCodingSchemeInfo = info;
}

bool KECGlpsLogSession::Save() {
  // Without its file manager (after Close) the session no longer knows its files: writing log.xml
  // now would drop every record.
  if (!m_pFileManager) {
    NoteFailure("the log is closed", std::string());
    return false;
  }
  // A session that is not valid does not hold the log (another writer may, or log.xml is
  // read-only): its log.xml and sidecars would replace the holder's. The host is still handed the
  // info of the log.xml on disk, as it is now, and not the one it came with.
  if (!m_bValid) {
    TakeInfoOnDisk();
    NoteUnusable();
    return false;
  }
  // The host is told of the first step that fails, with what the platform unit noted during it.
  const std::string document = m_ptrDocument ? m_ptrDocument->GetFileName() : std::string();
  Failure first;
  const auto check = [&first](bool ok, const char* what, const std::string& file) {
    if (!ok && !first.IsSet()) {
      first.what = what;
      first.file = file;
      first.system = glps::platform::LastFailure();
    }
    glps::platform::ClearFailure();
    return ok;
  };
  glps::platform::ClearFailure();
  const bool recorded =
      check(RefreshDocumentRecord(), "the document's record could not be updated", document);
  // log.xml names the document's size and fingerprint and its sidecar's: both are durable under
  // their names before log.xml is. The sidecar is saved whole first (and only when the document's
  // entities changed since it last saved it), so that log.xml is written with its record. Then
  // log.xml is written into its temporary file, the document's entries and then that file are made
  // durable, and log.xml takes its name.
  // A document that cannot be made durable, or whose sidecar cannot be written, fails the save;
  // log.xml is still written, so that it describes the files as they are.
  const bool sidecarSaved =
      check(!m_ptrDocument || m_ptrDocument->SaveMetaDataIfChanged(),
            "the document's sidecar could not be saved", glps::SidecarNameOf(document));
  KECGlpsLogSessionDataStorage storage(Location(kLogFileName));
  storage.PutFileData(m_pFileManager->GetFileData());
  storage.PutCatalog(m_ptrCatalog);
  storage.PutMetaData(m_ptrMetaData);
  storage.PutHeader(m_ptrHeader);
  check(storage.PrepareSave(m_pLogXmlWriter.get()), "log.xml could not be written", kLogFileName);
  bool synced = true;
  const bool saved = m_ptrDocument ? storage.CommitSaveSyncing(m_ptrDocument->GetHandle(), &synced)
                                   : storage.CommitSave();
  // One note for both: the document's sync and log.xml's go together.
  const glps::platform::Failure committing = glps::platform::LastFailure();
  check(synced, "the document could not be made durable", document);
  if (!first.IsSet() && !saved) {
    first.what = "log.xml could not be written";
    first.file = kLogFileName;
    first.system = committing;
  }
  // Entries written into a document that someone removed or replaced under its name are not in the
  // log: the save says so.
  const bool inPlace = check(!m_ptrDocument || m_ptrDocument->IsStillInPlace(),
                             "the document is no longer the file under its name (removed or "
                             "replaced): its entries are not in the log",
                             document);
  TakeWrittenInfo(storage);
  // A sealed log's save is whole once the log.xml written is sealed and the key moved on.
  const bool sealed = check(
      !m_pSealer || (storage.WrittenInPlace() &&
                     m_pSealer->Seal(*m_ptrHeader, *m_pFileManager->GetFileData(), m_infoLog)),
      "the log could not be sealed", glps::seal::kSealFileName);
  const bool whole = saved && recorded && sidecarSaved && synced && inPlace && sealed;
  if (!whole) m_failure = first;
  return whole;
}

bool KECGlpsLogSession::Close() {
  const bool saved = Save();
  m_pSealer.reset();
  m_bTampered = false;
  m_bValid = false;
  m_ptrDocument.reset();
  m_bDocumentRecordBehind = false;
  m_pFileManager.reset();
  return saved;
}

bool KECGlpsLogSession::Clear() {
  // Clearing deletes every file of the log: never by a session that does not hold it, and never
  // the sealed trail of a sealed log.
  if (!m_bValid) {
    NoteUnusable();
    return false;
  }
  if (m_pSealer) {
    NoteFailure("a sealed log is never cleared", std::string());
    return false;
  }
  if (m_ptrDocument) m_ptrDocument->Flush();
  glps::platform::ClearFailure();
  // The cleared state reaches log.xml before any file goes: when it cannot be written, nothing is
  // deleted and the log goes on as it was, instead of a log.xml that names deleted files.
  KECGlpsLogSessionDataStorage cleared(Location(kLogFileName));
  cleared.PutFileData(boost::make_shared<std::vector<KECGlpsFileManagerData>>());
  cleared.PutCatalog(boost::make_shared<KECGlpsLogCatalog>());
  cleared.PutMetaData(m_ptrMetaData);
  cleared.PutHeader(m_ptrHeader);
  const bool written = cleared.Save();
  TakeWrittenInfo(cleared);
  if (!written) {
    NoteFailure("log.xml could not be written", kLogFileName);
    return false;
  }

  m_ptrDocument.reset();
  m_bDocumentRecordBehind = false;
  m_ptrCatalog = boost::make_shared<KECGlpsLogCatalog>();
  glps::platform::ClearFailure();
  const bool deleted = m_pFileManager && m_pFileManager->DeleteAllFiles();
  if (!deleted) NoteFailure("a file of the log could not be deleted", std::string());
  const Failure deleting = m_failure;
  const bool closed = Close();
  const bool opened = Open();
  // The failure the host is told of: the first.
  if (!deleted) {
    m_failure = deleting;
  } else if (closed && !opened) {
    NoteUnusable();
  }
  return opened && deleted && closed;
}

bool KECGlpsLogSession::Export(const std::string& directory) const {
  if (directory.empty() || kstringutil::equal_no_case(directory, m_strDirectory)) {
    NoteFailure("no directory, or the log's own, was given to export to", directory);
    return false;
  }
  if (!m_pFileManager || !m_pDirectory) {
    NoteFailure("the log is closed", std::string());
    return false;
  }
  glps::platform::ClearFailure();
  std::vector<std::string> names;
  const auto collect = [&names](const std::string& name) { names.push_back(name); };
  for (Glps::EFileType kind :
       {Glps::FileIndexMain, Glps::FileIndexMenu, Glps::FileLog, Glps::FileLink}) {
    m_pFileManager->ForEachFile(kind, collect);
  }
  if (m_pDirectory->ExportTo(directory, names)) return true;
  NoteFailure("the log could not be exported to " + directory, std::string());
  return false;
}
