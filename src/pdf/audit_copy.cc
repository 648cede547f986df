// SPDX-License-Identifier: Apache-2.0
// KECGlpsAuditCopy: the audit's verdict and the trail read back, put into the description of a
// printable copy and laid out as PDF (audit/pdf_copy.h).
#include "glps/audit_copy.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
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
using glps::audit::PdfStanding;
using glps::audit::PdfTone;
using glps::audit::PdfWriter;

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
                                        const std::vector<std::string>& problems) {
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
  for (const std::string& problem : problems) {
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

PdfStanding StandingOf(Glps::EAuditEntryStanding standing) {
  switch (standing) {
    case Glps::eAuditStandingIntact: return PdfStanding::kIntact;
    case Glps::eAuditStandingModified: return PdfStanding::kModified;
    case Glps::eAuditStandingUnsavedTail: return PdfStanding::kUnsavedTail;
    case Glps::eAuditStandingUnrecorded: return PdfStanding::kUnrecorded;
  }
  return PdfStanding::kModified;
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
  out.standing = StandingOf(entry.m_eStanding);
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

// The entries of the trail as verification handed them on, from the very bytes it fingerprinted,
// kept in a private file without a name, so that the copy lays out exactly what was verified, as
// often as it needs, without holding the entries in memory. Owned by one copy.
class KeptEntries {
 public:
  KeptEntries() = default;
  ~KeptEntries() {
    if (m_file != glps::platform::kInvalidHandle) glps::platform::Close(m_file);
  }
  KeptEntries(const KeptEntries&) = delete;
  KeptEntries& operator=(const KeptEntries&) = delete;

  // False, with the reason, when no private file can be made.
  bool Open(std::string* error) {
    int errorNumber = 0;
    m_file = glps::platform::OpenPrivateTempFile(&errorNumber);
    if (m_file != glps::platform::kInvalidHandle) return true;
    *error = std::string("cannot make a private file for the copy in the temporary directory: ") +
             std::strerror(errorNumber);
    return false;
  }

  // Keeps the next entry of the trail.
  void Add(const KECGlpsAuditEntry& entry) {
    ++m_nEntries;
    std::vector<Span>& spans = m_spans[entry.m_strDocument];
    if (spans.empty()) m_vOrder.push_back(entry.m_strDocument);
    const std::size_t start = m_buffer.size();
    m_buffer.append(4, '\0');  // the entry's length, set below
    Encode(EntryOf(entry), &m_buffer);
    const std::size_t length = m_buffer.size() - start;
    for (int i = 0; i < 4; ++i) m_buffer[start + i] = static_cast<char>((length - 4) >> (8 * i));
    // The entries of a document come together; a span is begun only where another document's were.
    if (spans.empty() || spans.back().first + spans.back().second != m_nEnd) {
      spans.push_back({m_nEnd, 0});
    }
    spans.back().second += static_cast<std::int64_t>(length);
    m_nEnd += static_cast<std::int64_t>(length);
    if (m_buffer.size() >= kPiece) WriteOut();
  }

  // Writes out what is still buffered; false when not everything kept could be written (the
  // temporary directory is full).
  bool Finish() {
    WriteOut();
    m_buffer.shrink_to_fit();
    return !m_bFailed;
  }

  std::int64_t Entries() const { return m_nEntries; }
  // The documents whose entries were kept, in the order they came.
  const std::vector<std::string>& Documents() const { return m_vOrder; }

  // Hands the entries kept of `document` to `visit`, in order; false when they cannot be read back.
  bool Read(const std::string& document, const std::function<void(const PdfEntry&)>& visit) {
    const auto found = m_spans.find(document);
    if (found == m_spans.end()) return true;
    std::string bytes;
    PdfEntry entry;
    for (const Span& span : found->second) {
      if (!glps::platform::Seek(m_file, span.first)) return false;
      std::int64_t left = span.second;
      std::size_t used = 0;  // of `bytes`, the entries already handed on
      bytes.clear();
      while (left > 0 || used < bytes.size()) {
        // Whole entries first, then more bytes.
        if (bytes.size() - used >= 4) {
          std::size_t length = 0;
          for (int i = 0; i < 4; ++i) {
            length |= static_cast<std::size_t>(static_cast<unsigned char>(bytes[used + i]))
                      << (8 * i);
          }
          if (bytes.size() - used - 4 >= length) {
            if (!Decode(bytes.data() + used + 4, length, &entry)) return false;
            visit(entry);
            used += 4 + length;
            continue;
          }
        }
        if (left == 0) return false;  // an entry cut short
        bytes.erase(0, used);
        used = 0;
        const std::size_t at = bytes.size();
        const std::uint32_t piece =
            static_cast<std::uint32_t>(std::min<std::int64_t>(left, kPiece));
        bytes.resize(at + piece);
        const glps::platform::IoResult read = glps::platform::Read(m_file, &bytes[at], piece);
        if (!read.first || read.second == 0) return false;
        bytes.resize(at + read.second);
        left -= read.second;
      }
    }
    return true;
  }

 private:
  // Written out, and read back, this many bytes at a time.
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  // Where a run of a document's entries lies in the file, and its length.
  using Span = std::pair<std::int64_t, std::int64_t>;

  static void Put(const std::string& text, std::string* out) {
    const std::uint32_t size = static_cast<std::uint32_t>(text.size());
    for (int i = 0; i < 4; ++i) out->push_back(static_cast<char>(size >> (8 * i)));
    out->append(text);
  }

  static void Encode(const PdfEntry& entry, std::string* out) {
    out->push_back(static_cast<char>(entry.kind));
    out->push_back(static_cast<char>(entry.standing));
    out->push_back(static_cast<char>((entry.bold ? 1 : 0) | (entry.hasContext ? 2 : 0) |
                                     (entry.saved ? 4 : 0)));
    for (const std::string* text :
         {&entry.number, &entry.date, &entry.time, &entry.user, &entry.message, &entry.context}) {
      Put(*text, out);
    }
    for (const std::string& detail : entry.details) Put(detail, out);
  }

  // The entry encoded in `size` bytes at `data`; false when they do not hold one.
  static bool Decode(const char* data, std::size_t size, PdfEntry* entry) {
    if (size < 3) return false;
    entry->kind = static_cast<PdfEntryKind>(static_cast<unsigned char>(data[0]));
    entry->standing = static_cast<PdfStanding>(static_cast<unsigned char>(data[1]));
    const unsigned flags = static_cast<unsigned char>(data[2]);
    entry->bold = (flags & 1) != 0;
    entry->hasContext = (flags & 2) != 0;
    entry->saved = (flags & 4) != 0;
    std::size_t at = 3;
    const auto take = [&](std::string* text) {
      if (size - at < 4) return false;
      std::size_t length = 0;
      for (int i = 0; i < 4; ++i) {
        length |= static_cast<std::size_t>(static_cast<unsigned char>(data[at + i])) << (8 * i);
      }
      at += 4;
      if (size - at < length) return false;
      text->assign(data + at, length);
      at += length;
      return true;
    };
    for (std::string* text : {&entry->number, &entry->date, &entry->time, &entry->user,
                              &entry->message, &entry->context}) {
      if (!take(text)) return false;
    }
    entry->details.clear();
    while (at < size) {
      entry->details.emplace_back();
      if (!take(&entry->details.back())) return false;
    }
    return true;
  }

  void WriteOut() {
    for (std::size_t done = 0; done < m_buffer.size() && !m_bFailed;) {
      const std::uint32_t piece =
          static_cast<std::uint32_t>(std::min<std::size_t>(m_buffer.size() - done, 1u << 30));
      const glps::platform::IoResult wrote =
          glps::platform::Write(m_file, m_buffer.data() + done, piece);
      m_bFailed = !wrote.first || wrote.second == 0;
      done += wrote.second;
    }
    m_buffer.clear();
  }

  glps::platform::FileHandle m_file = glps::platform::kInvalidHandle;
  std::string m_buffer;     // entries not yet written out
  std::int64_t m_nEnd = 0;  // the file's length once the buffer is written out
  bool m_bFailed = false;
  std::int64_t m_nEntries = 0;
  std::map<std::string, std::vector<Span>> m_spans;  // each document's runs of entries
  std::vector<std::string> m_vOrder;
};

// Where the recorded part of the document `file` stands.
PdfStanding RecordedStanding(const KECGlpsAuditFile& file) {
  return file.m_eStatus == Glps::eAuditFileIntact || file.m_eStatus == Glps::eAuditFileGrownIntact
             ? PdfStanding::kIntact
             : PdfStanding::kModified;
}

PdfCopy Describe(const KECGlpsAuditReport& report, const std::vector<std::string>& problems,
                 KeptEntries* entries, std::int64_t time) {
  PdfCopy copy;
  copy.logDirectory = report.m_strDirectory;
  copy.experiment = report.m_state.m_metaData.m_strExpName;
  copy.logTitle = BaseName(report.m_strDirectory);
  const bool applicationLog = report.m_state.m_header.m_eContentType == 533;
  if (applicationLog) copy.logTitle += " (application log)";
  copy.verdict = VerdictLine(report);
  copy.verdictDetails = VerdictDetails(report, problems);
  copy.verdictTone = ToneOf(report.Verdict());
  std::string digest;
  if (glps::crypto::Base64Decode(report.m_logXml.m_strLogHash, &digest)) {
    copy.logXmlSha256 = Hex(digest);
  }
  copy.toolVersion = "glps " + KCGenVersionInfo().GetProductVersionLong();
  copy.copyTime = time;

  // The documents whose entries verification read, in record order (with those that have none),
  // then those that no record holds.
  std::map<std::string, const KECGlpsAuditFile*> files;
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    if (file.m_record.m_eType == Glps::FileLog) files.emplace(file.m_record.m_strFileName, &file);
  }
  std::map<std::string, bool> listed;
  for (const KECGlpsAuditFinding& finding : report.m_vFindings) {
    if (finding.m_eKind == Glps::eAuditDocumentNotChecked) listed[finding.m_strDocument] = true;
  }
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    if (file.m_record.m_eType != Glps::FileLog || file.m_nFoundSize < 0) continue;
    if (!listed.emplace(file.m_record.m_strFileName, true).second) continue;
    copy.documents.push_back(PdfDocument{file.m_record.m_strFileName, {}, RecordedStanding(file)});
  }
  for (const std::string& name : entries->Documents()) {
    if (!listed.emplace(name, true).second) continue;
    const auto file = files.find(name);
    copy.documents.push_back(PdfDocument{
        name,
        {},
        file == files.end() ? PdfStanding::kUnrecorded : RecordedStanding(*file->second)});
  }
  std::vector<std::string> names;
  for (const PdfDocument& document : copy.documents) names.push_back(document.name);
  copy.readEntries = [names, entries](std::size_t index,
                                      const std::function<void(const PdfEntry&)>& visit) {
    return entries->Read(names[index], visit);
  };

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

// Lays out the copy through the writer it is given; true when it was made.
using Render = std::function<bool(const PdfWriter& write)>;

// Verifies the log, keeping its entries as verification read them, and lays out the copy of
// exactly those through `write`, or, when `begin` is set, through whatever writer `begin` hands
// the render function it is given once the log was read (false: not written).
KECGlpsAuditCopyResult MakeCopy(const std::string& directory,
                                const KECGlpsAuditCopyOptions& options,
                                const std::function<bool(const Render& render)>& begin,
                                const PdfWriter& write) {
  KECGlpsAuditCopyResult result;
  KeptEntries kept;
  if (!kept.Open(&result.m_strError)) {
    result.m_eStatus = Glps::eAuditCopyNotWritten;
    return result;
  }
  KECGlpsAuditRequest request;
  request.m_pInfo = options.m_bInfo ? &options.m_info : nullptr;
  request.m_strSealKey = options.m_strSealKey;
  // The time range, from the entries as verification reads them.
  std::string firstTime;
  std::string lastTime;
  request.m_entries = [&](KECGlpsAuditEntry& entry) {
    kept.Add(entry);
    if (entry.m_strDate.empty()) return;
    lastTime = entry.m_strDate + " " + entry.m_strTime;
    if (firstTime.empty()) firstTime = lastTime;
  };
  const KECGlpsAuditReport report = KECGlpsAudit::Verify(directory, request);
  result.m_eVerdict = report.Verdict();
  result.m_strVerdict = VerdictLine(report);
  if (!report.m_strError.empty()) {
    result.m_eStatus = Glps::eAuditCopyLogUnreadable;
    result.m_strError = report.m_strError;
    return result;
  }
  if (!kept.Finish()) {
    result.m_eStatus = Glps::eAuditCopyNotWritten;
    result.m_strError = "cannot keep the log's entries for the copy in the temporary directory";
    return result;
  }
  const std::int64_t time = options.m_nTime >= 0
                                ? options.m_nTime
                                : std::chrono::duration_cast<std::chrono::seconds>(
                                      std::chrono::system_clock::now().time_since_epoch())
                                      .count();
  PdfCopy copy = Describe(report, KECGlpsAudit::UnreadDocuments(report), &kept, time);
  copy.firstTime = firstTime;
  copy.lastTime = lastTime;
  copy.progress = [&](std::size_t done, std::size_t total) {
    if (options.m_progress) {
      options.m_progress(static_cast<std::int64_t>(done), static_cast<std::int64_t>(total));
    }
  };
  result.m_nDocuments = copy.documents.size();
  std::string error;
  const Render render = [&](const PdfWriter& to) {
    return KeepLayoutLibrariesLoaded(&error) &&
           glps::audit::RenderPdfCopy(copy, to, &error, &result.m_nPages);
  };
  const bool written = begin ? begin(render) : render(write);
  result.m_nEntries = static_cast<std::size_t>(kept.Entries());
  if (!written) {
    result.m_eStatus = Glps::eAuditCopyNotWritten;
    result.m_strError = error.empty() ? std::string("the copy could not be written") : error;
    return result;
  }
  result.m_eStatus = Glps::eAuditCopyMade;
  return result;
}

}  // namespace

KECGlpsAuditCopyResult KECGlpsAuditCopy::MakePdf(const std::string& directory,
                                                 const KECGlpsAuditCopyOptions& options,
                                                 std::string* pdf) {
  pdf->clear();
  return MakeCopy(directory, options, nullptr, [pdf](const char* data, std::size_t size) {
    pdf->append(data, size);
    return true;
  });
}

KECGlpsAuditCopyResult KECGlpsAuditCopy::StreamPdf(
    const std::string& directory, const KECGlpsAuditCopyOptions& options,
    const std::function<bool(const char* data, std::size_t size)>& write) {
  return MakeCopy(directory, options, nullptr, write);
}

KECGlpsAuditCopyResult KECGlpsAuditCopy::WritePdf(const std::string& directory,
                                                  const KECGlpsAuditCopyOptions& options,
                                                  const std::string& path) {
  // Written as it is made into a temporary file beside `path`, which replaces it at the end.
  bool replaced = false;
  bool called = false;
  bool rendered = false;
  KECGlpsAuditCopyResult result = MakeCopy(
      directory, options,
      [&](const Render& render) {
        replaced = glps::platform::ReplaceFileWith(path, [&](glps::platform::FileHandle file) {
          called = true;
          rendered = render([file](const char* data, std::size_t size) {
            for (std::size_t done = 0; done < size;) {
              const std::uint32_t piece =
                  static_cast<std::uint32_t>(std::min<std::size_t>(size - done, 1u << 30));
              const glps::platform::IoResult wrote =
                  glps::platform::Write(file, data + done, piece);
              if (!wrote.first || wrote.second != piece) return false;
              done += piece;
            }
            return true;
          });
          return rendered;
        });
        return replaced;
      },
      nullptr);
  if (result.m_eStatus == Glps::eAuditCopyNotWritten && !replaced && (!called || rendered)) {
    result.m_strError = "cannot write " + path;
  }
  return result;
}
