// SPDX-License-Identifier: Apache-2.0
#include "verify.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <thread>

#include "events.h"
#include "glps/seal.h"
#include "text.h"

namespace glps_tool {
namespace {

namespace fs = std::filesystem;

std::string SizeText(std::int64_t size) { return size < 0 ? "-" : std::to_string(size); }

std::string InfoText(const KECGlpsLogInfo& info) {
  return Printable(info.m_strLogHash) + ":" + std::to_string(info.m_nLogSize);
}

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
  ~TerminalProgress() {
    if (m_bShown) m_err << '\r' << std::string(m_nWidth, ' ') << '\r' << std::flush;
  }
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

 private:
  std::ostream& m_err;
  bool m_bShown = false;
  std::size_t m_nWidth = 0;
  std::chrono::steady_clock::time_point m_tmLast;
};

// The summary of what differs, in words: each status its own, the unreadable ones with reasons.
std::vector<std::string> Differences(const KECGlpsAuditReport& report) {
  std::vector<std::string> parts;
  for (const KECGlpsAuditDifference& difference : KECGlpsAudit::Differences()) {
    if (difference.m_eStatus == Glps::eAuditFileUnreadable) continue;  // named one by one below
    const std::size_t count = report.CountWithStatus(difference.m_eStatus);
    if (count != 0) parts.push_back(std::to_string(count) + " " + difference.m_pszWords);
  }
  for (const KECGlpsAuditFile& file : report.m_vFiles) {
    if (file.m_eStatus != Glps::eAuditFileUnreadable) continue;
    parts.push_back("unreadable: " + Printable(file.m_record.m_strFileName) +
                    (file.m_strReason.empty() ? "" : " (" + Printable(file.m_strReason) + ")"));
  }
  if (report.m_eInfoCheck == Glps::eAuditInfoDiffers) {
    parts.push_back("log.xml differs from the info");
  }
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

bool ReadInfoFile(const std::string& path, std::map<std::string, KECGlpsLogInfo>* infos,
                  std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = path + ": cannot be read";
    return false;
  }
  const fs::path base = fs::path(Normal(path)).parent_path();
  const auto key = [&base](const std::string& logPath) {
    return Normal(fs::path(logPath).is_absolute() ? logPath : (base / logPath).string());
  };
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || line.compare(0, 5, "runs ") == 0) continue;
    KECGlpsLogInfo info;
    std::istringstream words(line);
    std::string first, directory, hash, size, extra;
    words >> first;
    std::int64_t value = 0;
    if (first == "log" && (words >> directory >> hash >> size) && !(words >> extra) &&
        ParseInt64(size, &value) && value >= 0) {
      info.m_strLogHash = hash == "-" ? std::string() : hash;
      info.m_nLogSize = value;
      (*infos)[key(directory)] = info;
      continue;
    }
    const std::string::size_type blank = line.find(' ');
    if (blank != std::string::npos && blank + 1 < line.size() &&
        ParseLogInfo(line.substr(0, blank), &info)) {
      (*infos)[key(line.substr(blank + 1))] = info;
      continue;
    }
    *error = path + ": line " + std::to_string(number) +
             " is neither \"HASH:SIZE PATH\" nor \"log PATH HASH SIZE\"";
    return false;
  }
  return true;
}

std::vector<std::string> FindLogDirectories(const std::string& root) {
  std::vector<std::string> found;
  std::error_code ec;
  const auto isLog = [](const fs::path& dir) {
    std::error_code e;
    return fs::is_regular_file(fs::symlink_status(dir / "log.xml", e));
  };
  if (fs::is_directory(root, ec) && isLog(root)) found.push_back(root);
  for (auto it = fs::recursive_directory_iterator(
           root, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    std::error_code e;
    if (it->is_directory(e) && !it->is_symlink(e) && isLog(it->path())) {
      found.push_back(it->path().string());
    }
  }
  std::sort(found.begin(), found.end());
  return found;
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
      out << "info:          DIFFERS: log.xml is not the one of the info "
          << InfoText(report.m_info) << '\n';
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

Json VerifyJson(const KECGlpsAuditReport& report, bool requireInfo, const std::string& checkedAt) {
  Json json = JsonDocument();
  json["checked_at"] = checkedAt;
  AddExactText(&json, "directory", report.m_strDirectory);
  const Glps::EAuditVerdict verdict = report.Verdict(requireInfo);
  json["verdict"] = VerdictName(verdict);
  json["exit_status"] = static_cast<int>(verdict);
  json["error"] = NullIfEmpty(report.m_strError);
  json["algorithms"] = {{"file_fingerprint", "MD5"}, {"log_xml_hash", "SHA-256"}};
  const bool read = report.m_strError.empty();
  json["log_xml"] =
      read ? Json{{"size", report.m_logXml.m_nLogSize}, {"hash", report.m_logXml.m_strLogHash}}
           : Json(nullptr);
  Json info = {
      {"status", InfoStatusName(report.m_eInfoCheck)}, {"hash", nullptr}, {"size", nullptr}};
  if (report.m_eInfoCheck != Glps::eAuditInfoNotGiven) {
    info["hash"] = report.m_info.m_strLogHash;
    info["size"] = report.m_info.m_nLogSize;
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

  std::vector<std::string> logs;
  for (const std::string& directory : options.directories) {
    if (!options.recursive) {
      logs.push_back(directory);
      continue;
    }
    const std::vector<std::string> found = FindLogDirectories(directory);
    if (found.empty()) {
      err << "glps verify: no log directory below " << Printable(directory) << '\n';
    }
    logs.insert(logs.end(), found.begin(), found.end());
  }
  const bool many = options.recursive || logs.size() > 1;
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
    if (logs.empty()) return 4;
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
      request.m_pInfo = infoFor(logs[0]);
      request.m_strSealKey = options.sealKey;
      request.m_progress = progress;
      report = KECGlpsAudit::Verify(logs[0], request);
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

  // Many logs: verified in parallel, reported in order as each in turn is done.
  const std::size_t count = logs.size();
  unsigned jobs = options.jobs != 0 ? options.jobs : std::thread::hardware_concurrency();
  if (jobs == 0) jobs = 1;
  jobs = static_cast<unsigned>(std::min<std::size_t>(jobs, std::max<std::size_t>(count, 1)));
  std::vector<KECGlpsAuditReport> reports(count);
  std::vector<bool> done(count, false);
  std::mutex mutex;
  std::condition_variable ready;
  std::atomic<std::size_t> next{0};
  // One job verifies each log in turn on this thread, without a worker to wait for.
  std::unique_ptr<KECGlpsAuditVerifier> ownVerifier;
  if (jobs == 1) ownVerifier = std::make_unique<KECGlpsAuditVerifier>();
  std::vector<std::thread> workers;
  for (unsigned j = 0; j < jobs && !ownVerifier; ++j) {
    workers.emplace_back([&]() {
      KECGlpsAuditVerifier verifier;
      for (std::size_t i = next++; i < count; i = next++) {
        KECGlpsAuditReport report = verifier.Verify(logs[i], infoFor(logs[i]));
        std::lock_guard<std::mutex> lock(mutex);
        reports[i] = std::move(report);
        done[i] = true;
        ready.notify_all();
      }
    });
  }

  std::size_t tally[5] = {0, 0, 0, 0, 0};  // by severity
  int worst = 0;
  Glps::EAuditVerdict worstVerdict = Glps::eAuditIntact;
  {
    TerminalProgress terminal(err);
    const bool showProgress = options.progress && errIsTerminal && !options.quiet;
    for (std::size_t i = 0; i < count; ++i) {
      KECGlpsAuditReport report;
      if (ownVerifier) {
        report = ownVerifier->Verify(logs[i], infoFor(logs[i]));
      } else {
        std::unique_lock<std::mutex> lock(mutex);
        ready.wait(lock, [&]() { return static_cast<bool>(done[i]); });
        report = std::move(reports[i]);
      }
      const Glps::EAuditVerdict verdict = report.Verdict(options.requireInfo);
      ++tally[Severity(verdict)];
      if (Severity(verdict) > worst) {
        worst = Severity(verdict);
        worstVerdict = verdict;
      }
      if (showProgress) {
        terminal.Show("glps verify: " + std::to_string(i + 1) + " of " + std::to_string(count) +
                          " logs checked",
                      i + 1 == count);
      }
      if (options.quiet) continue;
      if (options.json) {
        WriteJson(VerifyJson(report, options.requireInfo, checkedAt), false, out);
      } else {
        char verdictColumn[24];
        std::snprintf(verdictColumn, sizeof(verdictColumn), "%-18s", VerdictName(verdict));
        out << verdictColumn << Printable(report.m_strDirectory) << "  "
            << ShortDetail(report, options.requireInfo) << '\n';
      }
    }
  }
  for (std::thread& worker : workers) worker.join();
  if (!options.quiet && !options.json) {
    out << "\n"
        << count << (count == 1 ? " log: " : " logs: ") << tally[0] << " intact, " << tally[1]
        << " not authenticated (no info), " << tally[2] << " with tampering recorded, " << tally[3]
        << " not intact, " << tally[4] << " cannot be read\n";
  }
  if (count == 0) return 4;
  return static_cast<int>(worstVerdict);
}

}  // namespace glps_tool
