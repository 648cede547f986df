// SPDX-License-Identifier: Apache-2.0
#include "verify.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "events.h"
#include "glps/audit_walk.h"
#include "glps/seal.h"
#include "text.h"

namespace glps_tool {
namespace {

namespace fs = std::filesystem;

std::string SizeText(std::int64_t size) { return size < 0 ? "-" : std::to_string(size); }

// The absolute, normal form of a path, for matching logs with the lines of an info file.
std::string Normal(const std::string& path) {
  std::error_code ec;
  std::string normal = fs::absolute(path, ec).lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

// Shows "hashing x of y MiB" on a terminal, at most ten times a second, and clears it at the end.
class TerminalProgress {
 public:
  explicit TerminalProgress(std::ostream& err) : m_err(err) {}
  ~TerminalProgress() { Clear(); }
  TerminalProgress(const TerminalProgress&) = delete;
  TerminalProgress& operator=(const TerminalProgress&) = delete;

  // Shows `line` unless the last line is less than 100 ms old (`last`: shown in any case).
  void Show(const std::string& line, bool last) {
    const auto now = std::chrono::steady_clock::now();
    if (m_bShown && !last && now - m_tmLast < std::chrono::milliseconds(100)) return;
    m_tmLast = now;
    const std::size_t width = line.size();
    m_err << '\r' << line << std::string(m_nWidth > width ? m_nWidth - width : 0, ' ')
          << std::flush;
    m_nWidth = width;
    m_bShown = true;
  }

  // Takes the line shown off the terminal, so that what is written next starts on a clean line.
  void Clear() {
    if (!m_bShown) return;
    m_err << '\r' << std::string(m_nWidth, ' ') << '\r' << std::flush;
    m_bShown = false;
    m_nWidth = 0;
  }

 private:
  std::ostream& m_err;
  bool m_bShown = false;
  std::size_t m_nWidth = 0;
  std::chrono::steady_clock::time_point m_tmLast;
};

// "1 file" or "2 files".
std::string Files(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " file" : " files");
}

// How log.xml differs from the info: "its size differs from the info's (2700 bytes, the info says
// 2691)" or "same size as the info, another SHA-256 hash".
std::string InfoDifference(const KECGlpsAuditReport& report) {
  if (report.m_logXml.m_nLogSize != report.m_info.m_nLogSize) {
    return "its size differs from the info's (" + std::to_string(report.m_logXml.m_nLogSize) +
           " bytes, the info says " + std::to_string(report.m_info.m_nLogSize) + ")";
  }
  return "same size as the info, another SHA-256 hash";
}

// The summary of what differs, in words: log.xml against the info first (what the comparisons of
// the files rest on), then each status of the files with its count, the unreadable ones with
// reasons, and the findings.
std::vector<std::string> Differences(const KECGlpsAuditReport& report) {
  std::vector<std::string> parts;
  std::vector<std::string> files;
  for (const KECGlpsAuditDifference& difference : KECGlpsAudit::Differences()) {
    if (difference.m_eStatus == Glps::eAuditFileUnreadable) continue;  // named one by one below
    const std::size_t count = report.CountWithStatus(difference.m_eStatus);
    if (count != 0) files.push_back(Files(count) + " " + difference.m_pszWords);
  }
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    if (file.m_eStatus != Glps::eAuditFileUnreadable) continue;
    files.push_back("unreadable: " + Printable(file.m_record.m_strFileName) +
                    (file.m_strReason.empty() ? "" : " (" + Printable(file.m_strReason) + ")"));
  }
  if (report.m_eInfoCheck == Glps::eAuditInfoDiffers) {
    parts.push_back("log.xml was changed since the info was taken: " + InfoDifference(report));
    if (!files.empty()) files[0] = "against its changed records, " + files[0];
  }
  parts.insert(parts.end(), files.begin(), files.end());
  const std::size_t open = report.OpenFindingCount();
  if (open != 0) {
    parts.push_back(std::to_string(open) + (open == 1 ? " finding" : " findings") +
                    " of the trail's consistency");
  }
  const std::size_t seals = report.m_seal.FailingCount();
  if (seals != 0) {
    parts.push_back(std::to_string(seals) + (seals == 1 ? " finding" : " findings") +
                    " of the seals");
  }
  return parts;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

// "N tamper entries" of the trail's recorded parts.
std::string TamperCountText(const KECGlpsAuditReport& report) {
  const std::size_t count = report.RecordedTamperCount();
  return std::to_string(count) + (count == 1 ? " tamper entry" : " tamper entries");
}

// The result line of one log.
std::string ResultLine(const KECGlpsAuditReport& report, bool requireInfo) {
  const std::size_t protectedCount = report.ProtectedCount();
  switch (report.Verdict(requireInfo)) {
    case Glps::eAuditTamperRecorded:
      return "INTACT NOW, TAMPERING RECORDED EARLIER: the trail holds " + TamperCountText(report) +
             ": the library found the log changed outside the trail and took the "
             "change in; all " +
             std::to_string(protectedCount) + " protected files intact, " +
             (report.m_eInfoCheck == Glps::eAuditInfoMatches ? "log.xml matches the info"
              : report.IsAuthenticated()
                  ? "the last seal covers log.xml"
                  : std::string(report.m_seal.m_bSealFile
                                    ? "log.xml not authenticated (neither an info nor the "
                                      "verification key given)"
                                    : "log.xml not authenticated (no info given)")) +
             ", the trail is consistent";
    case Glps::eAuditUnreadable: return "CANNOT VERIFY: " + Printable(report.m_strError);
    case Glps::eAuditIntact:
      return "INTACT and authenticated: all " + std::to_string(protectedCount) +
             " protected files intact, " +
             (report.m_eInfoCheck == Glps::eAuditInfoMatches
                  ? std::string("log.xml matches the info")
                  : "sealed and intact through save " +
                        std::to_string(report.m_seal.m_nIntactThrough) + " at " +
                        report.m_seal.m_strIntactThroughTime + ", the last seal covers log.xml") +
             ", the trail is consistent";
    case Glps::eAuditNotAuthenticated:
      return std::string("CONSISTENT, NOT AUTHENTICATED: ") +
             (report.m_seal.m_bSealFile ? "neither an info nor the verification key given"
                                        : "no info given") +
             ", so log.xml could not be authenticated; all " + std::to_string(protectedCount) +
             " protected files match log.xml and the trail is consistent";
    case Glps::eAuditNotIntact: break;
  }
  std::vector<std::string> parts = Differences(report);
  if (parts.empty() && report.m_eInfoCheck == Glps::eAuditInfoNotGiven) {
    return "NOT AUTHENTICATED: no info given and --require-info";
  }
  return "NOT INTACT: " + Joined(parts, "; ");
}

// The short detail of one log in a list of many.
std::string ShortDetail(const KECGlpsAuditReport& report, bool requireInfo) {
  const Glps::EAuditVerdict verdict = report.Verdict(requireInfo);
  if (verdict == Glps::eAuditUnreadable) return Printable(report.m_strError);
  if (verdict == Glps::eAuditNotIntact) {
    std::vector<std::string> parts = Differences(report);
    if (parts.empty()) parts.push_back("no info given (--require-info)");
    return Joined(parts, "; ");
  }
  const std::string files = std::to_string(report.ProtectedCount()) + " protected files intact";
  if (verdict == Glps::eAuditTamperRecorded) {
    return TamperCountText(report) + " in the trail; " + files +
           (report.IsAuthenticated() ? "" : ", no info given");
  }
  return verdict == Glps::eAuditNotAuthenticated ? files + ", no info given" : files;
}

// How bad a verdict is, for the exit status of many logs: the worst counts.
int Severity(Glps::EAuditVerdict verdict) {
  switch (verdict) {
    case Glps::eAuditIntact: return 0;
    case Glps::eAuditNotAuthenticated: return 1;
    case Glps::eAuditTamperRecorded: return 2;
    case Glps::eAuditNotIntact: return 3;
    case Glps::eAuditUnreadable: return 4;
  }
  return 4;
}

// One item of a run over many logs, in the order of the report.
struct LogJob {
  enum class Kind {
    kLog,                  // a log given or found: verified
    kUnreadableDirectory,  // a directory below a root that cannot be read
    kMissing,              // a log the info file lists below a root, not found there
  };
  Kind kind = Kind::kLog;
  std::string path;
  // A log found by a walk, held open: verified through it. Not open for a log given by its path.
  KECGlpsAuditLogDirectory directory;
  const KECGlpsLogInfo* info = nullptr;
  // The verification's report; for what cannot be verified, made when it was found.
  KECGlpsAuditReport report;
  bool done = false;  // verified (guarded by the run's mutex)
};

const char* KindName(LogJob::Kind kind) {
  switch (kind) {
    case LogJob::Kind::kLog: return "log";
    case LogJob::Kind::kUnreadableDirectory: return "unreadable-directory";
    case LogJob::Kind::kMissing: return "missing-log";
  }
  return "log";
}

// The items of a run over many logs, one after the other: each DIR given; with --recursive, what
// the library's walk of each DIR finds (every log, every directory that cannot be read, and each
// log the info file lists at or below DIR that it did not find).
class LogSource {
 public:
  LogSource(const VerifyOptions& options, const std::map<std::string, KECGlpsLogInfo>& infos)
      : m_options(options), m_infos(infos) {}

  // Where to say that a root holds no log (clearing the progress line first).
  void SetNoteStream(std::ostream* err, TerminalProgress* terminal) {
    m_pErr = err;
    m_pTerminal = terminal;
  }

  // The next item; null after the last.
  std::unique_ptr<LogJob> Next() {
    for (;;) {
      if (m_pWalk) {
        KECGlpsAuditWalkItem item;
        if (m_pWalk->Next(&item)) {
          m_bRootGaveAny = true;
          return FromWalk(std::move(item));
        }
        m_pWalk.reset();
        if (!m_bRootGaveAny && m_pErr != nullptr && !m_options.quiet) {
          if (m_pTerminal != nullptr) m_pTerminal->Clear();
          *m_pErr << "glps verify: no log directory below " << Printable(m_strRoot) << '\n';
        }
      }
      if (m_nNext == m_options.directories.size()) return nullptr;
      const std::string& directory = m_options.directories[m_nNext++];
      if (!m_options.recursive) {
        auto job = std::make_unique<LogJob>();
        job->path = directory;
        return job;
      }
      m_strRoot = directory;
      m_bRootGaveAny = false;
      m_pWalk = std::make_unique<KECGlpsAuditWalk>(directory, ListedBelow(directory));
    }
  }

 private:
  // The logs the info file lists at or below `root`, relative to it.
  std::vector<std::string> ListedBelow(const std::string& root) const {
    const std::string normal = Normal(root);
    const std::string prefix = normal == "/" ? normal : normal + "/";
    std::vector<std::string> listed;
    for (const auto& entry : m_infos) {
      if (entry.first == normal) {
        listed.emplace_back();
      } else if (entry.first.compare(0, prefix.size(), prefix) == 0) {
        listed.push_back(entry.first.substr(prefix.size()));
      }
    }
    return listed;
  }

  std::unique_ptr<LogJob> FromWalk(KECGlpsAuditWalkItem item) const {
    auto job = std::make_unique<LogJob>();
    job->path = item.m_strPath;
    job->report.m_strDirectory = item.m_strPath;
    switch (item.m_eKind) {
      case Glps::eAuditWalkLog: job->directory = std::move(item.m_directory); break;
      case Glps::eAuditWalkUnreadable:
        job->kind = LogJob::Kind::kUnreadableDirectory;
        job->report.m_strError =
            "this directory cannot be read (" + item.m_strReason + "): no log in it is verified";
        break;
      case Glps::eAuditWalkMissing:
        job->kind = LogJob::Kind::kMissing;
        job->report.m_strError =
            "missing: listed in " + m_options.infoFile + ", " + item.m_strReason;
        break;
    }
    return job;
  }

  const VerifyOptions& m_options;
  const std::map<std::string, KECGlpsLogInfo>& m_infos;
  std::size_t m_nNext = 0;                    // the next DIR given
  std::unique_ptr<KECGlpsAuditWalk> m_pWalk;  // the walk of m_strRoot; null between roots
  std::string m_strRoot;
  bool m_bRootGaveAny = false;
  std::ostream* m_pErr = nullptr;
  TerminalProgress* m_pTerminal = nullptr;
};

const char* InfoStatusName(Glps::EAuditInfoCheck check) {
  switch (check) {
    case Glps::eAuditInfoNotGiven: return "not-given";
    case Glps::eAuditInfoMatches: return "matches";
    case Glps::eAuditInfoDiffers: return "differs";
  }
  return "not-given";
}

Json NullIfEmpty(const std::string& text) { return text.empty() ? Json(nullptr) : Json(text); }
Json NullIfNegative(std::int64_t n) { return n < 0 ? Json(nullptr) : Json(n); }

// The sealing of a log, or null for a log that holds nothing of it and was not checked.
Json SealJson(const KECGlpsAuditSeal& seal) {
  if (!seal.m_bChecked && !seal.m_bSealFile && !seal.m_bKeyFile) return Json(nullptr);
  Json json;
  json["checked"] = seal.m_bChecked;
  json["seal_file"] = seal.m_bSealFile;
  json["key_file"] = seal.m_bKeyFile;
  json["log_id"] = NullIfEmpty(seal.m_strLogId);
  json["seals"] = seal.m_nSeals;
  json["last_seal"] = NullIfNegative(seal.m_nLastSeal);
  json["last_time"] = NullIfEmpty(seal.m_strLastTime);
  json["intact_through"] = seal.m_bChecked ? NullIfNegative(seal.m_nIntactThrough) : Json(nullptr);
  json["intact_through_time"] =
      seal.m_bChecked ? NullIfEmpty(seal.m_strIntactThroughTime) : Json(nullptr);
  json["log_xml_covered"] = seal.m_bChecked ? Json(seal.m_bLogXmlCovered) : Json(nullptr);
  json["intact"] = seal.m_bChecked ? Json(seal.IsIntact() && seal.m_bLogXmlCovered) : Json(nullptr);
  json["summary"] = seal.Summary();
  Json findings = Json::array();
  for (const KECGlpsAuditSealFinding& finding : seal.m_vFindings) {
    Json item;
    item["kind"] = KECGlpsAudit::SealFindingKindName(finding.m_eKind);
    item["fails"] = finding.m_bFails;
    item["seal"] = NullIfNegative(finding.m_nSeal);
    item["line"] = NullIfNegative(finding.m_nLine);
    if (finding.m_strFile.empty()) {
      item["file"] = nullptr;
      item["file_hex"] = nullptr;
    } else {
      AddExactText(&item, "file", finding.m_strFile);
    }
    item["offset"] = NullIfNegative(finding.m_nOffset);
    item["text"] = ToUtf8Lossy(finding.m_strText);
    findings.push_back(item);
  }
  json["findings"] = findings;
  return json;
}

}  // namespace

const char* VerdictName(Glps::EAuditVerdict verdict) { return KECGlpsAudit::VerdictName(verdict); }

std::string VerdictLine(const KECGlpsAuditReport& report, bool requireInfo) {
  return ResultLine(report, requireInfo);
}

bool ParseLogInfo(const std::string& text, KECGlpsLogInfo* info) {
  const std::string::size_type colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::int64_t size = 0;
  if (!ParseInt64(text.substr(colon + 1), &size) || size < 0) return false;
  info->m_strLogHash = text.substr(0, colon);
  info->m_nLogSize = size;
  return true;
}

std::string InfoText(const KECGlpsLogInfo& info) {
  return Printable(info.m_strLogHash) + ":" + std::to_string(info.m_nLogSize);
}

std::string InfoLine(const KECGlpsLogInfo& info, const std::string& path) {
  std::string escaped;
  bool escapes = false;
  for (char c : path) {
    if (c == '\\' || c == '\n' || c == '\r') {
      escapes = true;
      escaped += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : "\\r";
    } else {
      escaped += c;
    }
  }
  return (escapes ? "\\" : "") + info.m_strLogHash + ":" + std::to_string(info.m_nLogSize) + "  " +
         escaped + "\n";
}

bool ParseInfoLine(const std::string& line, KECGlpsLogInfo* info, std::string* path) {
  // The demo's state file of earlier versions: "log PATH HASH SIZE", '-' for an empty hash.
  if (line.compare(0, 4, "log ") == 0) {
    std::istringstream words(line.substr(4));
    std::string directory, hash, size, extra;
    std::int64_t value = 0;
    if (!(words >> directory >> hash >> size) || (words >> extra) || !ParseInt64(size, &value) ||
        value < 0) {
      return false;
    }
    info->m_strLogHash = hash == "-" ? std::string() : hash;
    info->m_nLogSize = value;
    *path = directory;
    return true;
  }
  const bool escaped = !line.empty() && line[0] == '\\';
  const std::string text = escaped ? line.substr(1) : line;
  const std::string::size_type blank = text.find(' ');
  if (blank == std::string::npos || !ParseLogInfo(text.substr(0, blank), info)) return false;
  // Two blanks, as written; one, as earlier versions read it.
  const std::string::size_type start =
      blank + 1 < text.size() && text[blank + 1] == ' ' ? blank + 2 : blank + 1;
  std::string name;
  for (std::size_t i = start; i < text.size(); ++i) {
    if (!escaped || text[i] != '\\') {
      name += text[i];
    } else if (i + 1 < text.size() &&
               (text[i + 1] == '\\' || text[i + 1] == 'n' || text[i + 1] == 'r')) {
      ++i;
      name += text[i] == 'n' ? '\n' : text[i] == 'r' ? '\r' : '\\';
    } else {
      return false;
    }
  }
  if (name.empty()) return false;
  *path = name;
  return true;
}

bool ReadInfoFile(const std::string& path, std::map<std::string, KECGlpsLogInfo>* infos,
                  std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  const fs::path base = fs::path(Normal(path)).parent_path();
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // Comments, and the run count that the demo's state file of earlier versions held.
    if (line.empty() || line[0] == '#' || line.compare(0, 5, "runs ") == 0) continue;
    KECGlpsLogInfo info;
    std::string logPath;
    if (!ParseInfoLine(line, &info, &logPath)) {
      *error = path + ": line " + std::to_string(number) + " is not \"HASH:SIZE  PATH\"";
      return false;
    }
    (*infos)[Normal(fs::path(logPath).is_absolute() ? logPath : (base / logPath).string())] = info;
  }
  return true;
}

void PrintVerifyTable(const KECGlpsAuditReport& report, bool requireInfo, std::ostream& out) {
  out << "log directory: " << Printable(report.m_strDirectory) << '\n';
  if (!report.m_strError.empty()) {
    out << "result: " << ResultLine(report, requireInfo) << '\n';
    return;
  }
  out << "log.xml:       " << report.m_logXml.m_nLogSize << " bytes, SHA-256 "
      << Printable(report.m_logXml.m_strLogHash) << '\n';
  switch (report.m_eInfoCheck) {
    case Glps::eAuditInfoNotGiven:
      out << (report.IsAuthenticated()
                  ? "info:          none given: log.xml is authenticated by its seals\n"
                  : "info:          none given: log.xml cannot be authenticated\n");
      break;
    case Glps::eAuditInfoMatches: out << "info:          matches\n"; break;
    case Glps::eAuditInfoDiffers:
      out << "info:          DIFFERS: log.xml was changed since the info "
          << InfoText(report.m_info) << " was taken: " << InfoDifference(report) << '\n';
      break;
  }
  const std::string sealing = report.m_seal.Summary();
  if (!sealing.empty()) {
    out << "seals:         " << Printable(sealing) << '\n';
    for (const KECGlpsAuditSealFinding& finding : report.m_seal.m_vFindings) {
      std::string where;
      if (finding.m_nSeal >= 0) where += "save " + std::to_string(finding.m_nSeal) + ": ";
      if (finding.m_nLine >= 0) where += "line " + std::to_string(finding.m_nLine) + ": ";
      if (!finding.m_strFile.empty()) {
        where += Printable(finding.m_strFile);
        if (finding.m_nOffset >= 0) where += " at byte " + std::to_string(finding.m_nOffset);
        where += ": ";
      }
      out << "  " << KECGlpsAudit::SealFindingKindName(finding.m_eKind)
          << (finding.m_bFails ? "" : " (note)") << ": " << where << Printable(finding.m_strText)
          << '\n';
    }
  }
  out << '\n';

  if (report.m_eInfoCheck == Glps::eAuditInfoDiffers) {
    out << "The records below are those of the changed log.xml: each file is compared with what\n"
           "they say now, not with what the info vouched for.\n";
  }
  std::vector<std::vector<std::string>> rows = {
      {"#", "kind", "name", "recorded", "found", "status"}};
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    std::string status = KECGlpsAudit::StatusName(file.m_eStatus);
    if (!file.m_strReason.empty()) status += " (" + Printable(file.m_strReason) + ")";
    if (file.m_bBreaksRules) status += "; breaks the record-set rules";
    rows.push_back({std::to_string(file.m_nNumber),
                    KECGlpsAudit::FileKindName(file.m_record.m_eType),
                    Printable(file.m_record.m_strFileName),
                    file.m_record.m_bHashed ? std::to_string(file.m_record.m_nSize) : "-",
                    SizeText(file.m_nFoundSize), status});
  }
  if (report.m_vFiles.empty()) {
    out << "records: none\n";
  } else {
    PrintTable(out, rows, {true, false, false, true, true, false});
  }
  out << '\n';

  if (report.m_vUnregistered.empty()) {
    out << "unregistered: none\n";
  } else {
    out << "unregistered (in the directory, named by no record):\n";
    std::vector<std::vector<std::string>> stray;
    for (const KECGlpsAuditUnregistered& entry : report.m_vUnregistered) {
      stray.push_back({Printable(entry.m_strName), entry.m_strType, SizeText(entry.m_nSize)});
    }
    PrintTable(out, stray, {false, false, true}, "  ");
  }
  if (report.m_bLockFile) out << "lock file:     " << KECGlpsAudit::LockFileName() << '\n';

  if (report.m_vFindings.empty()) {
    out << "consistency:   no findings\n";
  } else {
    out << "consistency:\n";
    for (const KECGlpsAuditFinding& finding : report.m_vFindings) {
      std::string where = Printable(finding.m_strDocument);
      if (finding.m_nOffset >= 0) where += " at byte " + std::to_string(finding.m_nOffset);
      out << "  " << KECGlpsAudit::FindingKindName(finding.m_eKind) << ": " << where << ": "
          << Printable(finding.m_strText)
          << (finding.m_bRecorded ? " (a later tamper entry records the change)" : "") << '\n';
    }
  }
  PrintEvents(report, out);
  out << "\nresult: " << ResultLine(report, requireInfo) << '\n';
}

Json VerifyJson(const KECGlpsAuditReport& report, bool requireInfo, const std::string& checkedAt,
                const char* kind) {
  Json json = JsonDocument();
  json["checked_at"] = checkedAt;
  json["kind"] = kind;
  AddExactText(&json, "directory", report.m_strDirectory);
  const Glps::EAuditVerdict verdict = report.Verdict(requireInfo);
  json["verdict"] = VerdictName(verdict);
  json["exit_status"] = static_cast<int>(verdict);
  json["error"] = NullIfEmpty(report.m_strError);
  json["algorithms"] = {{"file_fingerprint", "MD5"}, {"log_xml_hash", "SHA-256"}};
  const bool read = report.m_strError.empty();
  json["log_xml"] = read ? Json{{"size", report.m_logXml.m_nLogSize},
                                {"hash", report.m_logXml.m_strLogHash},
                                {"info", InfoText(report.m_logXml)}}
                         : Json(nullptr);
  Json info = {{"status", InfoStatusName(report.m_eInfoCheck)},
               {"value", nullptr},
               {"hash", nullptr},
               {"size", nullptr},
               {"size_matches", nullptr},
               {"hash_matches", nullptr}};
  if (report.m_eInfoCheck != Glps::eAuditInfoNotGiven) {
    info["value"] = InfoText(report.m_info);
    info["hash"] = report.m_info.m_strLogHash;
    info["size"] = report.m_info.m_nLogSize;
    info["size_matches"] = report.m_info.m_nLogSize == report.m_logXml.m_nLogSize;
    info["hash_matches"] = report.m_info.m_strLogHash == report.m_logXml.m_strLogHash;
  }
  json["info"] = info;
  json["require_info"] = requireInfo;
  Json records = Json::array();
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    Json record;
    record["number"] = file.m_nNumber;
    record["kind"] = KECGlpsAudit::FileKindName(file.m_record.m_eType);
    record["kind_value"] = static_cast<long long>(file.m_record.m_eType);
    AddExactText(&record, "name", file.m_record.m_strFileName);
    record["protected"] = file.m_record.m_bHashed;
    record["breaks_rules"] = file.m_bBreaksRules;
    record["recorded_size"] = file.m_record.m_nSize;
    record["recorded_hash"] = NullIfEmpty(file.m_record.m_strHash);
    record["found_size"] = NullIfNegative(file.m_nFoundSize);
    record["found_hash"] = NullIfEmpty(file.m_strFoundHash);
    record["status"] = KECGlpsAudit::StatusName(file.m_eStatus);
    record["reason"] = NullIfEmpty(file.m_strReason);
    records.push_back(record);
  }
  json["records"] = records;
  Json unregistered = Json::array();
  for (const KECGlpsAuditUnregistered& entry : report.m_vUnregistered) {
    Json item;
    AddExactText(&item, "name", entry.m_strName);
    item["type"] = entry.m_strType;
    item["size"] = NullIfNegative(entry.m_nSize);
    unregistered.push_back(item);
  }
  json["unregistered"] = unregistered;
  json["lock_file"] = read ? Json(report.m_bLockFile) : Json(nullptr);
  Json findings = Json::array();
  for (const KECGlpsAuditFinding& finding : report.m_vFindings) {
    Json item;
    item["kind"] = KECGlpsAudit::FindingKindName(finding.m_eKind);
    AddExactText(&item, "document", finding.m_strDocument);
    item["offset"] = NullIfNegative(finding.m_nOffset);
    item["entry"] = finding.m_nEntry < 0 && finding.m_eKind != Glps::eAuditCatalogMismatch
                        ? Json(nullptr)
                        : Json(finding.m_nEntry);
    item["text"] = finding.m_strText;
    item["recorded_by_tamper_entry"] = finding.m_bRecorded;
    findings.push_back(item);
  }
  json["findings"] = findings;
  json["protected_files"] = report.ProtectedCount();
  json["protected_intact"] = report.ProtectedIntactCount();
  json["seal"] = SealJson(report.m_seal);
  json["tamper_entries"] = read ? Json(report.RecordedTamperCount()) : Json(nullptr);
  json["events"] = EventsJson(report);
  return json;
}

int RunVerify(const VerifyOptions& options, std::ostream& out, std::ostream& err,
              bool errIsTerminal) {
  KECGlpsLogInfo info;
  if (!options.info.empty() && !ParseLogInfo(options.info, &info)) {
    err << "glps verify: --info wants HASH:SIZE, the hash text and the size in bytes of log.xml\n";
    return 2;
  }
  if (!options.sealKey.empty() && !KECGlpsSeal::IsVerificationKey(options.sealKey)) {
    err << "glps verify: --seal-key wants the verification key that `glps seal init` printed: 64 "
           "hexadecimal digits (blanks and '-' between them are ignored)\n";
    return 2;
  }
  std::map<std::string, KECGlpsLogInfo> infos;
  std::string error;
  if (!options.infoFile.empty() && !ReadInfoFile(options.infoFile, &infos, &error)) {
    err << "glps verify: " << Printable(error) << '\n';
    return 2;
  }

  const bool many = options.recursive || options.directories.size() > 1;
  if (!options.info.empty() && many) {
    err << "glps verify: --info names one log's info; give several with --info-file\n";
    return 2;
  }
  if (!options.sealKey.empty() && many) {
    err << "glps verify: --seal-key is the key of one log; verify sealed logs one at a time\n";
    return 2;
  }

  const auto infoFor = [&](const std::string& log) -> const KECGlpsLogInfo* {
    if (!options.info.empty()) return &info;
    const auto it = infos.find(Normal(log));
    return it == infos.end() ? nullptr : &it->second;
  };
  const std::string checkedAt = TimeOfCheck();

  if (!many) {
    const std::string& log = options.directories.at(0);
    KECGlpsAuditReport report;
    {
      TerminalProgress terminal(err);
      KECGlpsAuditProgress progress;
      if (options.progress && errIsTerminal && !options.quiet) {
        progress = [&terminal](std::int64_t done, std::int64_t total) {
          // Small logs are done before a person could read anything.
          if (total < (std::int64_t{4} << 20)) return;
          char line[96];
          std::snprintf(line, sizeof(line), "glps verify: hashing %.1f of %.1f MiB (%d%%)",
                        static_cast<double>(done) / 1048576.0,
                        static_cast<double>(total) / 1048576.0,
                        static_cast<int>(done * 100 / total));
          terminal.Show(line, done == total);
        };
      }
      KECGlpsAuditRequest request;
      request.m_pInfo = infoFor(log);
      request.m_strSealKey = options.sealKey;
      request.m_progress = progress;
      report = KECGlpsAudit::Verify(log, request);
    }
    const int status = report.Verdict(options.requireInfo);
    if (options.quiet) return status;
    if (!report.m_strError.empty()) err << "glps verify: " << Printable(report.m_strError) << '\n';
    if (options.json) {
      WriteJson(VerifyJson(report, options.requireInfo, checkedAt), true, out);
    } else {
      PrintVerifyTable(report, options.requireInfo, out);
    }
    return status;
  }

  // Many logs: found one after the other (by the walk of each root with --recursive), verified in
  // parallel, reported in order as each in turn is done. At most a few logs per job are found ahead
  // of the report, so that neither memory nor open directories grow with the number of logs.
  LogSource source(options, infos);
  unsigned jobs = options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency();
  if (jobs == 0) jobs = 1;
  const std::size_t ahead = std::size_t{4} * jobs;
  std::deque<std::unique_ptr<LogJob>> window;  // in the order of the report
  std::deque<LogJob*> queue;                   // found, not yet taken by a worker
  std::mutex mutex;
  std::condition_variable found;
  std::condition_variable verified;
  bool stopping = false;
  const auto verify = [&](KECGlpsAuditVerifier& verifier, LogJob* job) {
    KECGlpsAuditRequest request;
    request.m_pInfo = job->info;
    return job->directory.IsOpen() ? verifier.Verify(job->directory, request)
                                   : verifier.Verify(job->path, request);
  };
  // One job verifies each log in turn on this thread, without a worker to wait for.
  std::unique_ptr<KECGlpsAuditVerifier> ownVerifier;
  if (jobs == 1) ownVerifier = std::make_unique<KECGlpsAuditVerifier>();
  std::vector<std::thread> workers;
  for (unsigned j = 0; j < jobs && !ownVerifier; ++j) {
    workers.emplace_back([&]() {
      KECGlpsAuditVerifier verifier;
      for (;;) {
        LogJob* job = nullptr;
        {
          std::unique_lock<std::mutex> lock(mutex);
          found.wait(lock, [&]() { return stopping || !queue.empty(); });
          if (queue.empty()) return;
          job = queue.front();
          queue.pop_front();
        }
        KECGlpsAuditReport report = verify(verifier, job);
        std::lock_guard<std::mutex> lock(mutex);
        job->report = std::move(report);
        job->done = true;
        verified.notify_all();
      }
    });
  }

  std::size_t tally[5] = {0, 0, 0, 0, 0};  // logs by severity
  std::size_t logs = 0;
  std::size_t missing = 0;
  std::size_t unreadableDirectories = 0;
  int worst = 0;
  Glps::EAuditVerdict worstVerdict = Glps::eAuditIntact;
  {
    TerminalProgress terminal(err);
    const bool showProgress = options.progress && errIsTerminal && !options.quiet;
    source.SetNoteStream(&err, &terminal);
    for (;;) {
      while (window.size() < ahead) {
        std::unique_ptr<LogJob> job = source.Next();
        if (!job) break;
        job->info = infoFor(job->path);
        if (job->kind == LogJob::Kind::kLog && !ownVerifier) {
          std::lock_guard<std::mutex> lock(mutex);
          queue.push_back(job.get());
          found.notify_one();
        }
        window.push_back(std::move(job));
      }
      if (window.empty()) break;
      LogJob& job = *window.front();
      if (job.kind == LogJob::Kind::kLog) {
        if (ownVerifier) {
          job.report = verify(*ownVerifier, &job);
        } else {
          std::unique_lock<std::mutex> lock(mutex);
          verified.wait(lock, [&]() { return job.done; });
        }
      }
      const KECGlpsAuditReport& report = job.report;
      const Glps::EAuditVerdict verdict = report.Verdict(options.requireInfo);
      if (job.kind == LogJob::Kind::kUnreadableDirectory) {
        ++unreadableDirectories;
      } else {
        ++logs;
        ++tally[Severity(verdict)];
        missing += job.kind == LogJob::Kind::kMissing ? 1 : 0;
      }
      if (Severity(verdict) > worst) {
        worst = Severity(verdict);
        worstVerdict = verdict;
      }
      if (!options.quiet) {
        // The progress line goes before anything else is written to the terminal.
        terminal.Clear();
        if (options.json) {
          WriteJson(VerifyJson(report, options.requireInfo, checkedAt, KindName(job.kind)), false,
                    out);
        } else {
          char verdictColumn[24];
          std::snprintf(verdictColumn, sizeof(verdictColumn), "%-18s",
                        job.kind == LogJob::Kind::kMissing ? "missing" : VerdictName(verdict));
          out << verdictColumn << Printable(report.m_strDirectory) << "  "
              << (job.kind == LogJob::Kind::kLog ? ShortDetail(report, options.requireInfo)
                                                 : Printable(report.m_strError))
              << '\n';
        }
        if (showProgress) {
          out.flush();
          terminal.Show("glps verify: " + std::to_string(logs) +
                            (logs == 1 ? " log checked" : " logs checked"),
                        false);
        }
      }
      window.pop_front();
    }
  }
  {
    std::lock_guard<std::mutex> lock(mutex);
    stopping = true;
    found.notify_all();
  }
  for (std::thread& worker : workers) worker.join();
  if (!options.quiet && !options.json) {
    out << "\n"
        << logs << (logs == 1 ? " log: " : " logs: ") << tally[0] << " intact, " << tally[1]
        << " not authenticated (no info), " << tally[2] << " with tampering recorded, " << tally[3]
        << " not intact, " << tally[4] << " cannot be read";
    if (missing != 0) out << " (" << missing << " of them missing)";
    if (unreadableDirectories != 0) {
      out << "; " << unreadableDirectories
          << (unreadableDirectories == 1 ? " directory cannot be read"
                                         : " directories cannot be read");
    }
    out << '\n';
  }
  if (logs + unreadableDirectories == 0) return 4;
  return static_cast<int>(worstVerdict);
}

}  // namespace glps_tool
