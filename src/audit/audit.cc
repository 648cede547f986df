// SPDX-License-Identifier: Apache-2.0
// The audit API: verification and the trail read back, strictly read-only.
#include "glps/audit.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>
#include <memory>
#include <set>

#include "audit/file_check.h"
#include "audit/log_directory_access.h"
#include "audit/seal_check.h"
#include "audit/trail_checks.h"
#include "audit/trail_reader.h"
#include "filemanager/file_manager_data.h"
#include "filemanager/record_set.h"
#include "glps/host/gen.h"
#include "platform/platform.h"
#include "seal/seal_format.h"
#include "session/session_data_storage.h"

namespace {

const char kLogXml[] = "log.xml";
const char kLockFile[] = "log.lock";
const char kIndexMain[] = "GLP-Main.html";
const char kIndexMenu[] = "GLP-Menu.html";
// The content type of an application log's header.
const std::int32_t kApplicationLogType = 533;
// Documents larger than this are not read for the checks of their entries (a document starts
// anew at 1 MiB; only a session writing for very long makes one much longer).
const std::int64_t kMaxDocumentRead = std::int64_t{256} << 20;
// Index pages are a few lines per document.
const std::int64_t kMaxIndexRead = std::int64_t{4} << 20;

// The stem of a document's name: "GLP-Log-E_0001.html" gives "GLP-Log-E_"; empty when the name is
// not numbered so.
std::string DocumentStem(const std::string& name) {
  std::string base = name;
  for (const char* extension : {".html", ".xml"}) {
    const std::string ext = extension;
    if (base.size() > ext.size() && base.compare(base.size() - ext.size(), ext.size(), ext) == 0) {
      base.resize(base.size() - ext.size());
      std::size_t digits = 0;
      while (digits < base.size() && base[base.size() - 1 - digits] >= '0' &&
             base[base.size() - 1 - digits] <= '9') {
        ++digits;
      }
      if (digits == 0 || digits == base.size()) return std::string();
      return base.substr(0, base.size() - digits);
    }
  }
  return std::string();
}

// The values of the src="..." and href="..." attributes of an index page.
std::vector<std::string> NamesInIndexPage(const std::string& page) {
  std::vector<std::string> names;
  for (const char* attribute : {"src=\"", "href=\""}) {
    const std::string key = attribute;
    for (std::size_t at = page.find(key); at != std::string::npos; at = page.find(key, at + 1)) {
      const std::size_t start = at + key.size();
      const std::size_t end = page.find('"', start);
      if (end == std::string::npos) break;
      names.push_back(page.substr(start, end - start));
    }
  }
  return names;
}

KECGlpsAuditFinding FileFinding(Glps::EAuditFindingKind kind, const std::string& name,
                                const std::string& text) {
  KECGlpsAuditFinding finding;
  finding.m_eKind = kind;
  finding.m_strDocument = name;
  finding.m_strText = text;
  return finding;
}

// The findings about the directory's names: files named like this log's documents or sidecars,
// or like its index pages, that no record holds; index pages naming files no record holds.
void CheckNames(const glps::platform::Directory& directory, const KECGlpsAuditReport& report,
                std::vector<KECGlpsAuditFinding>* findings) {
  std::set<std::string> stems;
  std::set<std::string> recorded;
  for (const KECGlpsFileManagerData& record : report.m_state.m_vRecords) {
    recorded.insert(record.m_strFileName);
    if (record.m_eType == Glps::FileLog) {
      const std::string stem = DocumentStem(record.m_strFileName);
      if (!stem.empty()) stems.insert(stem);
    }
  }
  for (const KECGlpsAuditUnregistered& entry : report.m_vUnregistered) {
    const std::string& name = entry.m_strName;
    const bool index = name == kIndexMain || name == kIndexMenu;
    if (index || stems.count(DocumentStem(name)) != 0) {
      findings->push_back(FileFinding(Glps::eAuditUnrecordedDocument, name,
                                      std::string(index ? "an index page"
                                                        : "named like a document"
                                                          " or sidecar of this log") +
                                          " that no record holds"));
    }
  }
  for (const KECGlpsFileManagerData& record : report.m_state.m_vRecords) {
    if ((record.m_eType != Glps::FileIndexMain && record.m_eType != Glps::FileIndexMenu) ||
        !glps::IsPlainFileName(record.m_strFileName)) {
      continue;
    }
    std::string page;
    std::string error;
    if (!glps::audit::ReadWhole(directory, record.m_strFileName, &page, kMaxIndexRead, &error)) {
      continue;
    }
    std::set<std::string> reported;
    for (const std::string& named : NamesInIndexPage(page)) {
      if (recorded.count(named) != 0 || !reported.insert(named).second) continue;
      findings->push_back(FileFinding(Glps::eAuditIndexNamesUnrecorded, record.m_strFileName,
                                      "names " + named + ", which no record holds"));
    }
  }
}

// The findings about records that break the rules the library keeps its record sets by. The library
// reports such a set with a tamper entry when it next opens the log, and keeps the records as
// evidence: a tamper entry anywhere in the saved trail accounts for them.
void CheckRecordSet(bool tamperEntry, const std::vector<KECGlpsFileManagerData>& records,
                    const std::vector<glps::RecordFault>& faults,
                    std::vector<KECGlpsAuditFinding>* findings) {
  for (std::size_t i = 0; i < faults.size(); ++i) {
    if (faults[i] == glps::RecordFault::kNone) continue;
    KECGlpsAuditFinding finding = FileFinding(
        Glps::eAuditRecordBreaksRules, records[i].m_strFileName,
        "record " + std::to_string(i + 1) + " (" + KECGlpsAudit::FileKindName(records[i].m_eType) +
            ") breaks the rules of a record set: " + glps::RecordFaultName(faults[i]));
    finding.m_bRecorded = tamperEntry;
    findings->push_back(std::move(finding));
  }
}

}  // namespace

// --- The report ---------------------------------------------------------------------------------

std::size_t KECGlpsAuditReport::ProtectedCount() const {
  std::size_t count = 0;
  for (const KECGlpsAuditFile& file : m_vFiles) {
    count += file.m_record.m_bHashed && !file.m_bBreaksRules ? 1 : 0;
  }
  return count;
}

std::size_t KECGlpsAuditReport::ProtectedIntactCount() const {
  std::size_t count = 0;
  for (const KECGlpsAuditFile& file : m_vFiles) {
    count +=
        file.m_record.m_bHashed && !file.m_bBreaksRules && file.m_eStatus == Glps::eAuditFileIntact
            ? 1
            : 0;
  }
  return count;
}

std::size_t KECGlpsAuditReport::CountWithStatus(Glps::EAuditFileStatus status) const {
  std::size_t count = 0;
  for (const KECGlpsAuditFile& file : m_vFiles) count += file.m_eStatus == status ? 1 : 0;
  return count;
}

std::size_t KECGlpsAuditReport::OpenFindingCount() const {
  std::size_t count = 0;
  for (const KECGlpsAuditFinding& finding : m_vFindings) count += finding.m_bRecorded ? 0 : 1;
  return count;
}

std::size_t KECGlpsAuditSeal::FailingCount() const {
  std::size_t count = 0;
  for (const KECGlpsAuditSealFinding& finding : m_vFindings) count += finding.m_bFails ? 1 : 0;
  return count;
}

std::string KECGlpsAuditSeal::Summary() const {
  if (!m_bChecked && !m_bSealFile && !m_bKeyFile) return std::string();
  std::string count;
  if (!m_bSealFile) {
    count = "no seal file";
  } else if (m_nSeals == 0 || m_nLastSeal < 0) {
    count = "no seal in the seal file";
  } else {
    count = std::to_string(m_nSeals) + (m_nSeals == 1 ? " seal" : " seals") +
            ", the last of save " + std::to_string(m_nLastSeal) + " at " + m_strLastTime;
  }
  if (!m_bChecked) {
    return (m_bSealFile ? "sealed: " : "a sealing key without a seal file: ") + count +
           "; not checked without the log's verification key";
  }
  // A seal file cut after a seal reads as one that ends there: only the count and the time of the
  // last seal, compared with what else is known of the log, can tell.
  const std::string cut =
      " (a seal file cut at its end reads the same: compare the count and the time of the last "
      "seal with what else is known of the log)";
  if (FailingCount() == 0 && m_bLogXmlCovered) {
    return "sealed and intact through save " + std::to_string(m_nIntactThrough) + " at " +
           m_strIntactThroughTime + ", " + std::to_string(m_nSeals) +
           (m_nSeals == 1 ? " seal" : " seals") + cut;
  }
  std::string kinds;
  std::size_t failing = 0;
  for (const KECGlpsAuditSealFinding& finding : m_vFindings) {
    if (!finding.m_bFails) continue;
    ++failing;
    const std::string kind = KECGlpsAudit::SealFindingKindName(finding.m_eKind);
    if (kinds.find(kind) == std::string::npos) kinds += (kinds.empty() ? "" : ", ") + kind;
  }
  std::string text = "SEALS DO NOT VERIFY: " + std::to_string(failing) +
                     (failing == 1 ? " finding" : " findings") +
                     (kinds.empty() ? std::string() : " (" + kinds + ")");
  text += m_nIntactThrough < 0 ? "; no seal is intact"
                               : "; intact through save " + std::to_string(m_nIntactThrough) +
                                     " at " + m_strIntactThroughTime;
  return text + "; " + count + cut;
}

bool KECGlpsAuditReport::IsAuthenticated() const {
  return m_eInfoCheck == Glps::eAuditInfoMatches || (m_seal.IsIntact() && m_seal.m_bLogXmlCovered);
}

std::size_t KECGlpsAuditReport::RecordedTamperCount() const {
  std::size_t count = 0;
  for (const KECGlpsAuditEvent& event : m_vEvents) {
    count += event.m_eKind == Glps::eAuditEntryTamper && event.m_bSaved ? 1 : 0;
  }
  return count;
}

Glps::EAuditVerdict KECGlpsAuditReport::Verdict(bool requireInfo) const {
  if (!m_strError.empty()) return Glps::eAuditUnreadable;
  if (m_eInfoCheck == Glps::eAuditInfoDiffers || ProtectedIntactCount() != ProtectedCount() ||
      OpenFindingCount() != 0 || m_seal.FailingCount() != 0) {
    return Glps::eAuditNotIntact;
  }
  const bool authenticated = IsAuthenticated();
  if (!authenticated && requireInfo) return Glps::eAuditNotIntact;
  // Tampering the trail records is never hidden behind a lack of authentication.
  if (RecordedTamperCount() != 0) return Glps::eAuditTamperRecorded;
  return authenticated ? Glps::eAuditIntact : Glps::eAuditNotAuthenticated;
}

// --- Names --------------------------------------------------------------------------------------

const char* KECGlpsAudit::LockFileName() { return kLockFile; }

const char* KECGlpsAudit::StatusName(Glps::EAuditFileStatus status) {
  switch (status) {
    case Glps::eAuditFileIntact: return "intact";
    case Glps::eAuditFileModified: return "modified";
    case Glps::eAuditFileGrownIntact: return "grown-intact";
    case Glps::eAuditFileGrownModified: return "grown-modified";
    case Glps::eAuditFileShrunk: return "shrunk";
    case Glps::eAuditFileMissing: return "missing";
    case Glps::eAuditFileNotRegular: return "not-regular";
    case Glps::eAuditFileUnreadable: return "unreadable";
    case Glps::eAuditFileBadName: return "bad-name";
    case Glps::eAuditFileUnprotected: return "unprotected";
    case Glps::eAuditFileMultiplyLinked: return "multiply-linked";
  }
  return "unknown";
}

std::vector<KECGlpsAuditDifference> KECGlpsAudit::Differences() {
  return {
      {Glps::eAuditFileModified, "modified"},
      {Glps::eAuditFileGrownIntact, "grown with the recorded part intact (an unsaved tail)"},
      {Glps::eAuditFileGrownModified, "grown and changed"},
      {Glps::eAuditFileShrunk, "shorter than recorded"},
      {Glps::eAuditFileMissing, "missing"},
      {Glps::eAuditFileNotRegular, "not regular (a directory, a symbolic link, a FIFO, ...)"},
      {Glps::eAuditFileMultiplyLinked, "with more than one name (hard link)"},
      {Glps::eAuditFileBadName, "named by a record with a bad name"},
      {Glps::eAuditFileUnreadable, "unreadable"},
  };
}

const char* KECGlpsAudit::EntryKindName(Glps::EAuditEntryKind kind) {
  switch (kind) {
    case Glps::eAuditEntryCaption: return "caption";
    case Glps::eAuditEntryMessage: return "message";
    case Glps::eAuditEntryStart: return "start";
    case Glps::eAuditEntryExit: return "exit";
    case Glps::eAuditEntryCrash: return "crash";
    case Glps::eAuditEntryExtraNote: return "extra-note";
    case Glps::eAuditEntryTamper: return "tamper";
    case Glps::eAuditEntryTitle: return "title";
    case Glps::eAuditEntryRule: return "rule";
    case Glps::eAuditEntryText: return "text";
  }
  return "unknown";
}

const char* KECGlpsAudit::StandingName(Glps::EAuditEntryStanding standing) {
  switch (standing) {
    case Glps::eAuditStandingIntact: return "intact";
    case Glps::eAuditStandingModified: return "modified";
    case Glps::eAuditStandingUnsavedTail: return "unsaved-tail";
    case Glps::eAuditStandingUnrecorded: return "unrecorded-document";
  }
  return "unknown";
}

std::string KECGlpsAudit::EventSummary(const KECGlpsAuditEvent& event) {
  const bool tamper = event.m_eKind == Glps::eAuditEntryTamper;
  std::string text = std::string(tamper ? "tamper entry" : "crash entry") + " (entry " +
                     std::to_string(event.m_nEntry) + " of " + event.m_strDocument + ", at byte " +
                     std::to_string(event.m_nOffset) +
                     (event.m_bSaved ? "" : ", in the unsaved tail") + ")";
  const auto message = [](std::int64_t number, const std::string& time) {
    return "message " + std::to_string(number) + (time.empty() ? "" : " (" + time + ")");
  };
  if (event.m_nMessageBefore >= 0 && event.m_nMessageAfter >= 0) {
    text += ", written between " + message(event.m_nMessageBefore, event.m_strTimeBefore) +
            " and " + message(event.m_nMessageAfter, event.m_strTimeAfter);
  } else if (event.m_nMessageBefore >= 0) {
    text += ", written after " + message(event.m_nMessageBefore, event.m_strTimeBefore);
  } else if (event.m_nMessageAfter >= 0) {
    text += ", written before " + message(event.m_nMessageAfter, event.m_strTimeAfter);
  }
  if (tamper) {
    return text +
           ": the library found the log changed outside the trail when it opened it, and took "
           "the change in; the trail does not say which files it found changed";
  }
  return text + ": the host's previous run ended abnormally" +
         (event.m_strText.empty() ? std::string() : " (\"" + event.m_strText + "\")") +
         "; a crash entry stands in for a tamper entry, so a change that the same opening found "
         "is not recorded";
}

const char* KECGlpsAudit::VerdictName(Glps::EAuditVerdict verdict) {
  switch (verdict) {
    case Glps::eAuditIntact: return "intact";
    case Glps::eAuditNotIntact: return "not-intact";
    case Glps::eAuditNotAuthenticated: return "not-authenticated";
    case Glps::eAuditUnreadable: return "unreadable";
    case Glps::eAuditTamperRecorded: return "tamper-recorded";
  }
  return "unreadable";
}

const char* KECGlpsAudit::FindingKindName(Glps::EAuditFindingKind kind) {
  switch (kind) {
    case Glps::eAuditNumberGap: return "number-gap";
    case Glps::eAuditNumberRepeat: return "number-repeat";
    case Glps::eAuditCatalogMismatch: return "catalog-mismatch";
    case Glps::eAuditCutInsideEntry: return "cut-inside-entry";
    case Glps::eAuditTailNumbering: return "tail-numbering";
    case Glps::eAuditUnrecordedDocument: return "unrecorded-document";
    case Glps::eAuditIndexNamesUnrecorded: return "index-names-unrecorded";
    case Glps::eAuditDocumentNotChecked: return "document-not-checked";
    case Glps::eAuditRecordBreaksRules: return "record-breaks-rules";
  }
  return "unknown";
}

const char* KECGlpsAudit::SealFindingKindName(Glps::EAuditSealFindingKind kind) {
  switch (kind) {
    case Glps::eAuditSealNoSealFile: return "no-seal-file";
    case Glps::eAuditSealUnreadable: return "seal-file-unreadable";
    case Glps::eAuditSealWrongKey: return "wrong-key";
    case Glps::eAuditSealMalformed: return "malformed-seal";
    case Glps::eAuditSealBadMac: return "bad-mac";
    case Glps::eAuditSealMissing: return "seals-missing";
    case Glps::eAuditSealOutOfOrder: return "seal-out-of-order";
    case Glps::eAuditSealPrefixChanged: return "sealed-bytes-changed";
    case Glps::eAuditSealFileShort: return "sealed-file-short";
    case Glps::eAuditSealFileChanged: return "sealed-file-changed";
    case Glps::eAuditSealLogXmlNotCovered: return "log-xml-not-sealed";
    case Glps::eAuditSealRecordsDiffer: return "records-differ-from-seal";
    case Glps::eAuditSealIncompleteLine: return "incomplete-seal-line";
    case Glps::eAuditSealClockBack: return "clock-back";
    case Glps::eAuditSealRelinked: return "relinked";
    case Glps::eAuditSealKeyPresent: return "sealing-key-present";
    case Glps::eAuditSealRecordChanged: return "sealed-record-changed";
    case Glps::eAuditSealDocumentsChanged: return "sealed-documents-changed";
    case Glps::eAuditSealHeaderChanged: return "sealed-header-changed";
    case Glps::eAuditSealNumberTooHigh: return "seal-number-too-high";
    case Glps::eAuditSealDocumentResized: return "sealed-document-resized";
    case Glps::eAuditSealTooLarge: return "seal-too-large";
  }
  return "unknown";
}

std::string KECGlpsAudit::FileKindName(Glps::EFileType kind) {
  return glps::FileKindName(kind, "kind-");
}

// --- Reading ------------------------------------------------------------------------------------

bool KECGlpsAudit::ReadLogState(const std::string& directory, KECGlpsAuditLogState* state,
                                std::string* error) {
  const glps::platform::DirectoryPtr opened = glps::audit::OpenLogDirectory(directory, error);
  KECGlpsLogInfo ignored;
  return opened && glps::audit::ReadLogXml(opened, state, &ignored, error);
}

KECGlpsAuditTrail KECGlpsAudit::ReadTrail(const std::string& directory) {
  KECGlpsAuditTrail trail;
  ReadVerifiedTrail(directory, KECGlpsAuditRequest(), &trail);
  return trail;
}

KECGlpsAuditReport KECGlpsAudit::ReadVerifiedTrail(const std::string& directory,
                                                   const KECGlpsAuditRequest& request,
                                                   KECGlpsAuditTrail* trail) {
  *trail = KECGlpsAuditTrail();
  trail->m_strDirectory = directory;
  KECGlpsAuditRequest withEntries = request;
  withEntries.m_entries = [trail](KECGlpsAuditEntry& entry) {
    trail->m_vEntries.push_back(std::move(entry));
  };
  KECGlpsAuditReport report = Verify(directory, withEntries);
  trail->m_strError = report.m_strError;
  if (!report.m_strError.empty()) return report;
  trail->m_bApplicationLog = report.m_state.m_header.m_eContentType == kApplicationLogType;
  trail->m_vProblems = UnreadDocuments(report);
  return report;
}

std::vector<std::string> KECGlpsAudit::UnreadDocuments(const KECGlpsAuditReport& report) {
  std::vector<std::string> problems;
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    if (file.m_record.m_eType != Glps::FileLog) continue;
    std::string why;
    switch (file.m_eStatus) {
      case Glps::eAuditFileMissing: why = "missing"; break;
      case Glps::eAuditFileNotRegular: why = "not a regular file"; break;
      case Glps::eAuditFileBadName: why = "not a plain file name"; break;
      case Glps::eAuditFileUnreadable:
        why = file.m_strReason.empty() ? std::string("cannot be read") : file.m_strReason;
        break;
      default: break;
    }
    for (const KECGlpsAuditFinding& finding : report.m_vFindings) {
      if (finding.m_eKind == Glps::eAuditDocumentNotChecked &&
          finding.m_strDocument == file.m_record.m_strFileName) {
        why = finding.m_strText;
      }
    }
    if (!why.empty()) problems.push_back(file.m_record.m_strFileName + ": " + why);
  }
  return problems;
}

// --- Verifying ----------------------------------------------------------------------------------

KECGlpsAuditReport KECGlpsAudit::Verify(const std::string& directory, const KECGlpsLogInfo* info,
                                        const KECGlpsAuditProgress& progress) {
  return KECGlpsAuditVerifier().Verify(directory, info, progress);
}

KECGlpsAuditReport KECGlpsAudit::Verify(const std::string& directory,
                                        const KECGlpsAuditRequest& request) {
  return KECGlpsAuditVerifier().Verify(directory, request);
}

struct KECGlpsAuditVerifier::Buffers {
  glps::audit::DocumentReader reader{glps::audit::EntryTexts::FromTextService()};
  // The bytes of the document being read.
  std::string bytes;
  // What the reader keeps of the document being read; its storage is kept for the next.
  glps::audit::DocumentEntries entries;
};

KECGlpsAuditVerifier::KECGlpsAuditVerifier() : m_pBuffers(new Buffers()) {}

KECGlpsAuditVerifier::~KECGlpsAuditVerifier() = default;

KECGlpsAuditReport KECGlpsAuditVerifier::Verify(const std::string& directory,
                                                const KECGlpsLogInfo* info,
                                                const KECGlpsAuditProgress& progress) {
  KECGlpsAuditRequest request;
  request.m_pInfo = info;
  request.m_progress = progress;
  return Verify(directory, request);
}

namespace {

// Whether the unregistered name is one of the log's documents that no record holds: a regular file
// named like the recorded documents (a sidecar's name aside).
bool IsUnrecordedDocument(const KECGlpsAuditUnregistered& name,
                          const std::vector<KECGlpsAuditFinding>& findings) {
  const std::string& text = name.m_strName;
  const std::string html = ".html";
  if (name.m_strType != "file" || text.size() <= html.size() ||
      text.compare(text.size() - html.size(), html.size(), html) != 0 || text == kIndexMain ||
      text == kIndexMenu) {
    return false;
  }
  return std::any_of(findings.begin(), findings.end(), [&text](const KECGlpsAuditFinding& f) {
    return f.m_eKind == Glps::eAuditUnrecordedDocument && f.m_strDocument == text;
  });
}

}  // namespace

KECGlpsAuditReport KECGlpsAuditVerifier::Verify(const std::string& directory,
                                                const KECGlpsAuditRequest& request) {
  std::string error;
  const glps::platform::DirectoryPtr opened = glps::audit::OpenLogDirectory(directory, &error);
  if (!opened) {
    KECGlpsAuditReport report;
    report.m_strDirectory = directory;
    report.m_strError = error;
    return report;
  }
  return Verify(KECGlpsAuditLogDirectoryAccess::Make(opened), request);
}

KECGlpsAuditReport KECGlpsAudit::Verify(const KECGlpsAuditLogDirectory& directory,
                                        const KECGlpsAuditRequest& request) {
  return KECGlpsAuditVerifier().Verify(directory, request);
}

KECGlpsAuditReport KECGlpsAuditVerifier::Verify(const KECGlpsAuditLogDirectory& logDirectory,
                                                const KECGlpsAuditRequest& request) {
  const KECGlpsLogInfo* const info = request.m_pInfo;
  const KECGlpsAuditProgress& progress = request.m_progress;
  const KECGlpsAuditEntrySink& entries = request.m_entries;
  KECGlpsAuditReport report;
  const std::string& directory = logDirectory.Path();
  report.m_strDirectory = directory;
  // Every file is reached through the directory opened once, as the library does.
  const glps::platform::DirectoryPtr opened =
      KECGlpsAuditLogDirectoryAccess::Directory(logDirectory);
  if (!opened) {
    report.m_strError = "no log directory open";
    return report;
  }
  if (!glps::audit::ReadLogXml(opened, &report.m_state, &report.m_logXml, &report.m_strError)) {
    return report;
  }
  std::vector<std::string> names;
  int listError = 0;
  if (!glps::platform::ListNames(*opened, &names, &listError)) {
    report.m_strError = directory + ": cannot list: " + std::strerror(listError);
    report.m_state = KECGlpsAuditLogState();
    return report;
  }
  report.m_nBytesHashed = report.m_logXml.m_nLogSize;
  if (info != nullptr) {
    report.m_info = *info;
    report.m_eInfoCheck =
        report.m_logXml == *info ? Glps::eAuditInfoMatches : Glps::eAuditInfoDiffers;
  }
  const std::vector<KECGlpsFileManagerData>& records = report.m_state.m_vRecords;
  const std::vector<glps::RecordFault> faults = glps::CheckRecordSet(records);
  const bool applicationLog = report.m_state.m_header.m_eContentType == kApplicationLogType;

  // What is to be hashed, for the progress: the recorded part of every protected regular file.
  std::int64_t total = 0;
  if (progress) {
    for (const KECGlpsFileManagerData& record : records) {
      if (!record.m_bHashed || record.m_nSize <= 0 ||
          !glps::IsPlainFileName(record.m_strFileName)) {
        continue;
      }
      std::int64_t size = -1;
      if (glps::audit::TypeOf(*opened, record.m_strFileName, &size) == "file") {
        total += std::min(record.m_nSize, size);
      }
    }
  }

  // With a verification key, the seals are checked alongside: each document's sealed prefixes from
  // the one read of it below.
  std::unique_ptr<glps::audit::SealCheck> sealCheck;
  if (!request.m_strSealKey.empty()) {
    sealCheck = std::make_unique<glps::audit::SealCheck>(
        *opened, request.m_strSealKey, report.m_logXml, report.m_state, &report.m_seal);
  }

  glps::audit::DocumentReader& reader = m_pBuffers->reader;
  std::string& bytes = m_pBuffers->bytes;
  glps::audit::DocumentEntries& read = m_pBuffers->entries;
  // The entries handed on carry the standing of the bytes they come from.
  Glps::EAuditEntryStanding recordedStanding = Glps::eAuditStandingIntact;
  const glps::audit::EntrySink sink = [&](KECGlpsAuditEntry& entry) {
    entry.m_eStanding = entry.m_bSaved || recordedStanding == Glps::eAuditStandingUnrecorded
                            ? recordedStanding
                            : Glps::eAuditStandingUnsavedTail;
    entries(entry);
  };
  // The checks take the marks as the reader makes them, a batch at a time.
  glps::audit::TrailCheck trailCheck;
  glps::audit::TrailEvents events(applicationLog);
  const glps::audit::MarkSink marks = [&](const glps::audit::DocumentEntries& batch) {
    trailCheck.Marks(batch);
    events.Marks(batch);
  };
  std::vector<KECGlpsAuditFinding> findings;
  std::int64_t hashedBefore = 0;
  for (std::size_t i = 0; i < records.size(); ++i) {
    KECGlpsAuditFile file;
    file.m_nNumber = i + 1;
    file.m_record = records[i];
    file.m_bBreaksRules = faults[i] != glps::RecordFault::kNone;
    // A document is read once: its fingerprint and its entries come from the same bytes.
    const bool document = records[i].m_eType == Glps::FileLog;
    std::function<void(std::int64_t)> fileProgress;
    if (progress) {
      fileProgress = [&](std::int64_t done) { progress(hashedBefore + done, total); };
    }
    const bool whole = glps::audit::CheckFile(*opened, records[i], fileProgress, &file,
                                              document ? &bytes : nullptr, kMaxDocumentRead);
    hashedBefore += file.m_record.m_bHashed && file.m_nFoundSize >= 0
                        ? std::min(file.m_nFoundSize, std::max<std::int64_t>(records[i].m_nSize, 0))
                        : 0;
    report.m_nBytesHashed += file.m_record.m_bHashed && file.m_nFoundSize >= 0
                                 ? std::min(file.m_nFoundSize, records[i].m_nSize)
                                 : 0;

    const std::string& name = records[i].m_strFileName;
    if (document && file.m_nFoundSize >= 0 && whole) {
      // The document's entries, read from the whole file as it lay when it was fingerprinted.
      const std::int64_t recordedSize = records[i].m_nSize;
      recordedStanding =
          file.m_eStatus == Glps::eAuditFileIntact || file.m_eStatus == Glps::eAuditFileGrownIntact
              ? Glps::eAuditStandingIntact
              : Glps::eAuditStandingModified;
      trailCheck.Begin(name, recordedSize, static_cast<std::int64_t>(bytes.size()));
      events.Begin(name, bytes);
      reader.Read(bytes, name, recordedSize, applicationLog, bool(entries), &read,
                  entries ? &sink : nullptr, sealCheck ? sealCheck->SealedSizes(name) : nullptr,
                  &marks);
      trailCheck.End();
      events.End();
      if (sealCheck) sealCheck->DocumentRead(name, bytes);
    } else if (document && file.m_nFoundSize >= 0) {
      findings.push_back(FileFinding(Glps::eAuditDocumentNotChecked, name,
                                     "its entries could not be checked: larger than " +
                                         std::to_string(kMaxDocumentRead) + " bytes"));
    }
    report.m_vFiles.push_back(std::move(file));
  }

  std::set<std::string> registered;
  for (const KECGlpsFileManagerData& record : records) registered.insert(record.m_strFileName);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (name == kLockFile) {
      // The log's own lock: looked at never, opened never.
      report.m_bLockFile = true;
      continue;
    }
    // log.xml, and a sealed log's seal file and sealing key (see m_seal).
    if (name == kLogXml || name == glps::seal::kSealFileName || name == glps::seal::kKeyFileName ||
        registered.count(name) != 0) {
      continue;
    }
    KECGlpsAuditUnregistered entry;
    entry.m_strName = name;
    entry.m_strType = glps::audit::TypeOf(*opened, name, &entry.m_nSize);
    if (entry.m_strType.empty()) entry.m_strType = "unknown";  // gone since the listing
    report.m_vUnregistered.push_back(entry);
  }

  std::vector<KECGlpsAuditFinding> trailFindings =
      trailCheck.Finish(report.m_state.m_catalog.m_lNextIndex);
  findings.insert(findings.end(), trailFindings.begin(), trailFindings.end());
  CheckNames(*opened, report, &findings);
  CheckRecordSet(trailCheck.TamperEntrySaved(), records, faults, &findings);
  report.m_vFindings = std::move(findings);
  report.m_vEvents = events.Finish();
  if (entries) {
    // The documents that no record holds, after the trail's own: shown, never vouched for.
    recordedStanding = Glps::eAuditStandingUnrecorded;
    for (const KECGlpsAuditUnregistered& name : report.m_vUnregistered) {
      std::string error;
      if (!IsUnrecordedDocument(name, report.m_vFindings) ||
          !glps::audit::ReadWhole(*opened, name.m_strName, &bytes, kMaxDocumentRead, &error)) {
        continue;
      }
      // Nothing of it is recorded: no entry is saved, and no check needs its marks.
      reader.Read(bytes, name.m_strName, 0, applicationLog, true, &read, &sink, nullptr,
                  &glps::audit::kNoMarks);
    }
  }
  if (sealCheck) {
    sealCheck->Finish();
  } else {
    glps::audit::DescribeSeals(*opened, &report.m_seal);
  }
  return report;
}
