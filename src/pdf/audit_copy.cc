// SPDX-License-Identifier: Apache-2.0
// KECGlpsAuditCopy: the audit's verdict and the trail read back, put into the description of a
// printable copy and laid out as PDF (audit/pdf_copy.h).
#include "glps/audit_copy.h"

#include <pango/pangocairo.h>

#include <chrono>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "audit/pdf_copy.h"
#include "crypto/md5_hash.h"
#include "glps/host/gen.h"
#include "platform/platform.h"

namespace {

using glps::audit::PdfCopy;
using glps::audit::PdfDocument;
using glps::audit::PdfEntry;
using glps::audit::PdfEntryKind;
using glps::audit::PdfFileRecord;
using glps::audit::PdfTone;

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// What differs, in words: each status its own, the info, and the findings of the trail's checks.
std::vector<std::string> Differences(const KECGlpsAuditReport& report) {
  std::vector<std::string> parts;
  for (const KECGlpsAuditDifference& difference : KECGlpsAudit::Differences()) {
    const std::size_t count = report.CountWithStatus(difference.m_eStatus);
    if (count != 0) parts.push_back(Plural(count, "file", "files") + " " + difference.m_pszWords);
  }
  if (report.m_eInfoCheck == Glps::eAuditInfoDiffers) {
    parts.push_back("log.xml differs from the info");
  }
  const std::size_t open = report.OpenFindingCount();
  if (open != 0) {
    parts.push_back(Plural(open, "finding", "findings") + " of the trail's consistency");
  }
  const std::size_t seals = report.m_seal.FailingCount();
  if (seals != 0) parts.push_back(Plural(seals, "finding", "findings") + " of the seals");
  return parts;
}

std::string VerdictLine(const KECGlpsAuditReport& report) {
  const std::string files = Plural(report.ProtectedCount(), "protected file", "protected files");
  switch (report.Verdict()) {
    case Glps::eAuditUnreadable: return "CANNOT VERIFY: " + report.m_strError;
    case Glps::eAuditIntact:
      return "INTACT and authenticated: all " + files + " intact, " +
             (report.m_eInfoCheck == Glps::eAuditInfoMatches ? "log.xml matches the info"
                                                             : "log.xml is covered by its seals") +
             ", the trail is consistent";
    case Glps::eAuditNotAuthenticated:
      return std::string("CONSISTENT, NOT AUTHENTICATED: ") +
             (report.m_seal.m_bSealFile ? "neither an info nor the verification key given"
                                        : "no info given") +
             ", so log.xml could not be authenticated; all " + files +
             " match log.xml and the trail is consistent";
    case Glps::eAuditTamperRecorded:
      return "INTACT NOW, TAMPERING RECORDED EARLIER: the trail holds " +
             Plural(report.RecordedTamperCount(), "tamper entry", "tamper entries") +
             ": the library found the log changed outside the trail and took the change in; all " +
             files + " intact, " +
             (report.m_eInfoCheck == Glps::eAuditInfoMatches ? "log.xml matches the info"
              : report.IsAuthenticated()                     ? "log.xml is covered by its seals"
                                                             : "log.xml not authenticated") +
             ", the trail is consistent";
    case Glps::eAuditNotIntact: break;
  }
  return "NOT INTACT: " + Joined(Differences(report), "; ");
}

// The lines under the verdict: log.xml and the info, every file that is not as recorded, every
// finding of the trail's checks, and what could not be read for the copy.
std::vector<std::string> VerdictDetails(const KECGlpsAuditReport& report,
                                        const KECGlpsAuditTrail& trail) {
  std::vector<std::string> lines;
  const std::string logXml = "log.xml: " + std::to_string(report.m_logXml.m_nLogSize) +
                             " bytes, SHA-256 " + report.m_logXml.m_strLogHash + " (Base64): ";
  switch (report.m_eInfoCheck) {
    case Glps::eAuditInfoNotGiven:
      lines.push_back(logXml + (report.IsAuthenticated()
                                    ? std::string("covered by the last seal, no info was given")
                                    : std::string("not authenticated, no info was given for "
                                                  "this copy")));
      break;
    case Glps::eAuditInfoMatches: lines.push_back(logXml + "matches the info given"); break;
    case Glps::eAuditInfoDiffers:
      lines.push_back(logXml + "DIFFERS from the info given, " + report.m_info.m_strLogHash + ":" +
                      std::to_string(report.m_info.m_nLogSize));
      break;
  }
  const std::string sealing = report.m_seal.Summary();
  if (!sealing.empty()) lines.push_back("seals: " + sealing);
  for (const KECGlpsAuditSealFinding& finding : report.m_seal.m_vFindings) {
    if (!finding.m_bFails) continue;
    std::string line = std::string(KECGlpsAudit::SealFindingKindName(finding.m_eKind)) + ": ";
    if (finding.m_nSeal >= 0) line += "save " + std::to_string(finding.m_nSeal) + ": ";
    if (!finding.m_strFile.empty()) line += finding.m_strFile + ": ";
    lines.push_back(line + finding.m_strText);
  }
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    if (file.m_eStatus == Glps::eAuditFileIntact || file.m_eStatus == Glps::eAuditFileUnprotected) {
      continue;
    }
    std::string line =
        file.m_record.m_strFileName + ": " + KECGlpsAudit::StatusName(file.m_eStatus);
    if (!file.m_strReason.empty()) line += " (" + file.m_strReason + ")";
    lines.push_back(line);
  }
  for (const KECGlpsAuditFinding& finding : report.m_vFindings) {
    std::string line =
        std::string(KECGlpsAudit::FindingKindName(finding.m_eKind)) + ": " + finding.m_strDocument;
    if (finding.m_nOffset >= 0) line += " at byte " + std::to_string(finding.m_nOffset);
    line += ": " + finding.m_strText;
    if (finding.m_bRecorded) line += " (a later tamper entry records the change)";
    lines.push_back(line);
  }
  for (const KECGlpsAuditEvent& event : report.m_vEvents) {
    lines.push_back(std::string(event.m_eKind == Glps::eAuditEntryTamper
                                    ? "TAMPER: "
                                    : "crash (information): ") +
                    KECGlpsAudit::EventSummary(event));
  }
  if (!report.m_vUnregistered.empty()) {
    lines.push_back(Plural(report.m_vUnregistered.size(), "name", "names") +
                    " in the directory that no record holds (listed after the file records)");
  }
  for (const std::string& problem : trail.m_vProblems) {
    lines.push_back("not read for this copy: " + problem);
  }
  return lines;
}

PdfTone ToneOf(Glps::EAuditVerdict verdict) {
  switch (verdict) {
    case Glps::eAuditIntact: return PdfTone::kGood;
    case Glps::eAuditNotAuthenticated:
    case Glps::eAuditTamperRecorded: return PdfTone::kWarning;
    default: return PdfTone::kBad;
  }
}

PdfEntryKind KindOf(Glps::EAuditEntryKind kind) {
  switch (kind) {
    case Glps::eAuditEntryMessage: return PdfEntryKind::kMessage;
    case Glps::eAuditEntryStart: return PdfEntryKind::kStart;
    case Glps::eAuditEntryExit: return PdfEntryKind::kExit;
    case Glps::eAuditEntryCrash: return PdfEntryKind::kCrash;
    case Glps::eAuditEntryExtraNote: return PdfEntryKind::kExtraNote;
    case Glps::eAuditEntryTamper: return PdfEntryKind::kTamper;
    case Glps::eAuditEntryRule: return PdfEntryKind::kRule;
    default: return PdfEntryKind::kText;
  }
}

PdfEntry EntryOf(const KECGlpsAuditEntry& entry) {
  PdfEntry out;
  out.kind = KindOf(entry.m_eKind);
  if (entry.m_nNumber >= 0) out.number = std::to_string(entry.m_nNumber);
  out.date = entry.m_strDate;
  out.time = entry.m_strTime;
  out.user = entry.m_strUser;
  out.message = entry.m_strMessage;
  // Headings are set in bold in the documents.
  out.bold = entry.m_bBold || entry.m_eKind == Glps::eAuditEntryTitle;
  out.hasContext = entry.m_bHasContext;
  out.context = entry.m_strContext;
  out.details = entry.m_vDetails;
  out.saved = entry.m_bSaved;
  return out;
}

// The last component of a directory's path.
std::string BaseName(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  const std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0xF];
  }
  return text;
}

PdfCopy Describe(const KECGlpsAuditReport& report, const KECGlpsAuditTrail& trail,
                 std::int64_t time) {
  PdfCopy copy;
  copy.logDirectory = report.m_strDirectory;
  copy.experiment = report.m_state.m_metaData.m_strExpName;
  copy.logTitle = BaseName(report.m_strDirectory);
  if (trail.m_bApplicationLog) copy.logTitle += " (application log)";
  copy.verdict = VerdictLine(report);
  copy.verdictDetails = VerdictDetails(report, trail);
  copy.verdictTone = ToneOf(report.Verdict());
  std::string digest;
  if (glps::crypto::Base64Decode(report.m_logXml.m_strLogHash, &digest)) {
    copy.logXmlSha256 = Hex(digest);
  }
  copy.toolVersion = "glps " + KCGenVersionInfo().GetProductVersionLong();
  copy.copyTime = time;

  // The documents in record order, each with its entries; a document that the trail names but no
  // record holds (none should) follows them.
  std::map<std::string, std::size_t> documents;
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    if (file.m_record.m_eType != Glps::FileLog) continue;
    if (documents.emplace(file.m_record.m_strFileName, copy.documents.size()).second) {
      copy.documents.push_back(PdfDocument{file.m_record.m_strFileName, {}});
    }
  }
  for (const KECGlpsAuditEntry& entry : trail.m_vEntries) {
    const auto found = documents.emplace(entry.m_strDocument, copy.documents.size());
    if (found.second) copy.documents.push_back(PdfDocument{entry.m_strDocument, {}});
    copy.documents[found.first->second].entries.push_back(EntryOf(entry));
    if (!entry.m_strDate.empty()) {
      const std::string when = entry.m_strDate + " " + entry.m_strTime;
      if (copy.firstTime.empty()) copy.firstTime = when;
      copy.lastTime = when;
    }
  }

  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    PdfFileRecord record;
    record.kind = KECGlpsAudit::FileKindName(file.m_record.m_eType);
    record.name = file.m_record.m_strFileName;
    record.size = file.m_record.m_nSize;
    if (file.m_record.m_bHashed) record.fingerprint = file.m_record.m_strHash;
    record.status = KECGlpsAudit::StatusName(file.m_eStatus);
    if (!file.m_strReason.empty()) record.status += " (" + file.m_strReason + ")";
    // The library protects nothing on such a record's account, however its file was found.
    if (file.m_bBreaksRules) record.status += "; breaks the record-set rules";
    record.problem = file.m_bBreaksRules || (file.m_eStatus != Glps::eAuditFileIntact &&
                                             file.m_eStatus != Glps::eAuditFileUnprotected);
    copy.records.push_back(record);
    if (file.m_record.m_eType == Glps::FileLink) copy.linkedFiles.push_back(record.name);
  }
  for (const KECGlpsAuditUnregistered& name : report.m_vUnregistered) {
    copy.unregistered.push_back(
        name.m_strType == "file" ? name.m_strName : name.m_strName + " (" + name.m_strType + ")");
  }
  return copy;
}

// Pango registers its types with GObject, which is never unloaded, and cannot register them again
// after being unloaded and loaded anew (a host that unloads this library and loads it again). From
// the first copy on, Pango's libraries stay loaded until the process ends.
bool KeepLayoutLibrariesLoaded(std::string* error) {
  static const std::string failure = [] {
    std::string reason;
    glps::platform::KeepLoaded(reinterpret_cast<const void*>(&pango_cairo_create_layout), &reason);
    return reason;
  }();
  *error = failure;
  return failure.empty();
}

}  // namespace

KECGlpsAuditCopyResult KECGlpsAuditCopy::MakePdf(const std::string& directory,
                                                 const KECGlpsAuditCopyOptions& options,
                                                 std::string* pdf) {
  KECGlpsAuditCopyResult result;
  KECGlpsAuditRequest request;
  request.m_pInfo = options.m_bInfo ? &options.m_info : nullptr;
  request.m_strSealKey = options.m_strSealKey;
  // The verdict and the entries from one reading: what the copy shows is what was verified.
  KECGlpsAuditTrail trail;
  const KECGlpsAuditReport report = KECGlpsAudit::ReadVerifiedTrail(directory, request, &trail);
  result.m_eVerdict = report.Verdict();
  result.m_strVerdict = VerdictLine(report);
  if (!report.m_strError.empty()) {
    result.m_eStatus = Glps::eAuditCopyLogUnreadable;
    result.m_strError = report.m_strError;
    return result;
  }
  const std::int64_t time = options.m_nTime >= 0
                                ? options.m_nTime
                                : std::chrono::duration_cast<std::chrono::seconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
  const PdfCopy copy = Describe(report, trail, time);
  result.m_nDocuments = copy.documents.size();
  for (const PdfDocument& document : copy.documents) result.m_nEntries += document.entries.size();
  std::string error;
  if (!KeepLayoutLibrariesLoaded(&error) ||
      !glps::audit::RenderPdfCopy(copy, pdf, &error, &result.m_nPages)) {
    result.m_eStatus = Glps::eAuditCopyNotWritten;
    result.m_strError = error;
    return result;
  }
  result.m_eStatus = Glps::eAuditCopyMade;
  return result;
}

KECGlpsAuditCopyResult KECGlpsAuditCopy::WritePdf(const std::string& directory,
                                                  const KECGlpsAuditCopyOptions& options,
                                                  const std::string& path) {
  std::string pdf;
  KECGlpsAuditCopyResult result = MakePdf(directory, options, &pdf);
  if (result.m_eStatus != Glps::eAuditCopyMade) return result;
  if (!glps::platform::ReplaceFile(path, pdf)) {
    result.m_eStatus = Glps::eAuditCopyNotWritten;
    result.m_strError = "cannot write " + path;
  }
  return result;
}
