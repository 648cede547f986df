// SPDX-License-Identifier: Apache-2.0
#include "verify.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>

#include "files/platform.h"
#include "glps/host/gen.h"
#include "log_state.h"
#include "options.h"
#include "text.h"

namespace glps_tool {
namespace {

std::string EntryType(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return "file";
  if (S_ISDIR(st.st_mode)) return "directory";
  if (S_ISLNK(st.st_mode)) return "symlink";
  return "other";
}

// The names in the directory, without "." and ".."; false when it cannot be listed.
bool ListNames(const std::string& directory, std::vector<std::string>* names, std::string* error) {
  DIR* dir = opendir(directory.c_str());
  if (dir == nullptr) {
    *error = directory + ": cannot list: " + std::strerror(errno);
    return false;
  }
  errno = 0;
  while (dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names->push_back(name);
    errno = 0;
  }
  const int readError = errno;
  closedir(dir);
  if (readError != 0) {
    *error = directory + ": cannot list: " + std::strerror(readError);
    return false;
  }
  return true;
}

std::string SizeText(std::int64_t size) { return size < 0 ? "-" : std::to_string(size); }

std::string InfoText(const KECGlpsLogInfo& info) {
  return Printable(info.m_strLogHash) + ":" + std::to_string(info.m_nLogSize);
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

  void Update(std::int64_t done, std::int64_t total) {
    // Small logs are done before a person could read anything.
    constexpr std::int64_t kWorthShowing = std::int64_t{4} << 20;
    if (total < kWorthShowing) return;
    const auto now = std::chrono::steady_clock::now();
    if (m_bShown && done < total && now - m_tmLast < std::chrono::milliseconds(100)) return;
    m_tmLast = now;
    char line[96];
    const int n =
        std::snprintf(line, sizeof(line), "glps verify: hashing %.1f of %.1f MiB (%d%%)",
                      static_cast<double>(done) / 1048576.0, static_cast<double>(total) / 1048576.0,
                      static_cast<int>(done * 100 / total));
    m_nWidth = n > 0 ? static_cast<std::size_t>(n) : 0;
    m_err << '\r' << line << std::flush;
    m_bShown = true;
  }

 private:
  std::ostream& m_err;
  bool m_bShown = false;
  std::size_t m_nWidth = 0;
  std::chrono::steady_clock::time_point m_tmLast;
};

const char kVerifyUsage[] = "usage: glps verify DIR [--info HASH:SIZE] [--json]\n";

}  // namespace

std::size_t VerifyReport::ProtectedCount() const {
  std::size_t count = 0;
  for (const RecordCheck& check : records) count += check.record.m_bHashed ? 1 : 0;
  return count;
}

std::size_t VerifyReport::ProtectedIntactCount() const {
  std::size_t count = 0;
  for (const RecordCheck& check : records) {
    count += check.record.m_bHashed && check.status == FileStatus::kIntact ? 1 : 0;
  }
  return count;
}

int VerifyReport::ExitStatus() const {
  if (!error.empty()) return 2;
  if (infoCheck == InfoCheck::kDiffers) return 1;
  return ProtectedIntactCount() == ProtectedCount() ? 0 : 1;
}

VerifyReport VerifyLogDirectory(const std::string& directory, const KECGlpsLogInfo* info,
                                const VerifyProgress& progress) {
  VerifyReport report;
  report.directory = directory;
  LogState state;
  if (!ReadLogState(directory, &state, &report.error)) return report;
  std::vector<std::string> names;
  if (!ListNames(directory, &names, &report.error)) return report;

  report.logXml = state.logXmlInfo;
  if (info != nullptr) {
    report.infoGiven = true;
    report.info = *info;
    report.infoCheck = report.logXml == *info ? InfoCheck::kMatches : InfoCheck::kDiffers;
  }

  // What is to be hashed, for the progress: the recorded part of every protected regular file.
  std::int64_t total = 0;
  for (const KECGlpsFileManagerData& record : state.records) {
    struct stat st;
    const std::string path = KCGenFileUtils::MakeNamePath(directory, record.m_strFileName);
    if (record.m_bHashed && glps::IsPlainFileName(record.m_strFileName) &&
        lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && record.m_nSize > 0) {
      total += std::min<std::int64_t>(record.m_nSize, st.st_size);
    }
  }

  // Every file is looked up in the directory opened once, as the library does.
  const glps::platform::DirectoryPtr opened = glps::platform::OpenDirectory(directory, true);
  std::int64_t hashedBefore = 0;
  for (std::size_t i = 0; i < state.records.size(); ++i) {
    RecordCheck check;
    check.number = i + 1;
    check.record = state.records[i];
    const KECGlpsFileManagerData& record = check.record;
    const glps::FileCheck found = glps::CheckRecordedFile(*opened, record, [&](std::int64_t done) {
      if (progress) progress(hashedBefore + done, total);
    });
    hashedBefore += found.found.hashed;
    check.status = found.status;
    check.foundSize = found.found.size;
    if (record.m_bHashed) check.foundHash = found.found.hash;
    report.records.push_back(check);
  }

  std::set<std::string> registered;
  for (const KECGlpsFileManagerData& record : state.records)
    registered.insert(record.m_strFileName);
  for (const std::string& name : names) {
    // The log's lock is no file of the log: it is named, never opened.
    if (name == "log.lock") {
      report.lockFile = true;
      continue;
    }
    if (name == "log.xml" || registered.count(name) != 0) continue;
    UnregisteredEntry entry;
    entry.name = name;
    struct stat st;
    if (lstat(KCGenFileUtils::MakeNamePath(directory, name).c_str(), &st) == 0) {
      entry.type = EntryType(st);
      if (S_ISREG(st.st_mode)) entry.size = st.st_size;
    } else {
      entry.type = "unknown";
    }
    report.unregistered.push_back(entry);
  }
  return report;
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

void PrintVerifyTable(const VerifyReport& report, std::ostream& out) {
  out << "log directory: " << Printable(report.directory) << '\n';
  if (!report.error.empty()) {
    out << "result: cannot verify: " << Printable(report.error) << '\n';
    return;
  }
  out << "log.xml:       " << report.logXml.m_nLogSize << " bytes, hash "
      << Printable(report.logXml.m_strLogHash) << '\n';
  switch (report.infoCheck) {
    case InfoCheck::kNotChecked: out << "info:          not checked (no --info given)\n"; break;
    case InfoCheck::kMatches: out << "info:          matches\n"; break;
    case InfoCheck::kDiffers:
      out << "info:          DIFFERS: log.xml is not the one of the info " << InfoText(report.info)
          << '\n';
      break;
  }
  if (report.lockFile) out << "log.lock:      the log's lock (not a file of the log)\n";
  out << '\n';

  std::vector<std::vector<std::string>> rows = {
      {"#", "kind", "name", "recorded", "found", "status"}};
  for (const RecordCheck& check : report.records) {
    rows.push_back({std::to_string(check.number), KindName(check.record.m_eType),
                    Printable(check.record.m_strFileName),
                    check.record.m_bHashed ? std::to_string(check.record.m_nSize) : "-",
                    SizeText(check.foundSize), StatusName(check.status)});
  }
  if (report.records.empty()) {
    out << "records: none\n";
  } else {
    PrintTable(out, rows, {true, false, false, true, true, false});
  }
  out << '\n';

  if (report.unregistered.empty()) {
    out << "unregistered: none\n";
  } else {
    out << "unregistered (in the directory, named by no record):\n";
    std::vector<std::vector<std::string>> stray;
    for (const UnregisteredEntry& entry : report.unregistered) {
      stray.push_back({Printable(entry.name), entry.type, SizeText(entry.size)});
    }
    PrintTable(out, stray, {false, false, true}, "  ");
  }

  const std::size_t protectedCount = report.ProtectedCount();
  const std::size_t intact = report.ProtectedIntactCount();
  out << "\nresult: " << (report.ExitStatus() == 0 ? "INTACT" : "NOT INTACT") << ": ";
  if (intact == protectedCount) {
    out << "all " << protectedCount << " protected files intact";
  } else {
    out << (protectedCount - intact) << " of " << protectedCount
        << " protected files differ from their records";
  }
  switch (report.infoCheck) {
    case InfoCheck::kNotChecked: out << "; log.xml not checked against an info\n"; break;
    case InfoCheck::kMatches: out << "; log.xml matches the info\n"; break;
    case InfoCheck::kDiffers: out << "; log.xml differs from the info\n"; break;
  }
}

void PrintVerifyJson(const VerifyReport& report, std::ostream& out) {
  out << "{\n  \"directory\": " << JsonString(report.directory) << ",\n";
  if (!report.error.empty()) {
    out << "  \"error\": " << JsonString(report.error) << ",\n  \"intact\": false,\n"
        << "  \"exit_status\": " << report.ExitStatus() << "\n}\n";
    return;
  }
  const char* infoStatus = report.infoCheck == InfoCheck::kMatches   ? "matches"
                           : report.infoCheck == InfoCheck::kDiffers ? "differs"
                                                                     : "not-checked";
  out << "  \"log_xml\": {\"size\": " << report.logXml.m_nLogSize
      << ", \"hash\": " << JsonString(report.logXml.m_strLogHash) << ", \"info\": ";
  if (report.infoGiven) {
    out << "{\"hash\": " << JsonString(report.info.m_strLogHash)
        << ", \"size\": " << report.info.m_nLogSize << "}";
  } else {
    out << "null";
  }
  out << ", \"status\": \"" << infoStatus
      << "\"},\n  \"lock\": " << (report.lockFile ? "\"log.lock\"" : "null")
      << ",\n  \"records\": [";
  for (std::size_t i = 0; i < report.records.size(); ++i) {
    const RecordCheck& check = report.records[i];
    const KECGlpsFileManagerData& record = check.record;
    out << (i == 0 ? "\n" : ",\n") << "    {\"number\": " << check.number
        << ", \"kind\": " << JsonString(KindName(record.m_eType))
        << ", \"kind_value\": " << static_cast<long long>(record.m_eType)
        << ", \"name\": " << JsonString(record.m_strFileName)
        << ", \"protected\": " << (record.m_bHashed ? "true" : "false")
        << ", \"recorded_size\": " << record.m_nSize
        << ", \"recorded_hash\": " << JsonString(record.m_strHash) << ", \"found_size\": "
        << (check.foundSize < 0 ? std::string("null") : std::to_string(check.foundSize))
        << ", \"found_hash\": "
        << (check.foundHash.empty() ? std::string("null") : JsonString(check.foundHash))
        << ", \"status\": \"" << StatusName(check.status) << "\"}";
  }
  out << (report.records.empty() ? "],\n" : "\n  ],\n") << "  \"unregistered\": [";
  for (std::size_t i = 0; i < report.unregistered.size(); ++i) {
    const UnregisteredEntry& entry = report.unregistered[i];
    out << (i == 0 ? "\n" : ",\n") << "    {\"name\": " << JsonString(entry.name)
        << ", \"type\": \"" << entry.type
        << "\", \"size\": " << (entry.size < 0 ? std::string("null") : std::to_string(entry.size))
        << "}";
  }
  out << (report.unregistered.empty() ? "],\n" : "\n  ],\n")
      << "  \"protected_files\": " << report.ProtectedCount()
      << ",\n  \"protected_intact\": " << report.ProtectedIntactCount()
      << ",\n  \"intact\": " << (report.ExitStatus() == 0 ? "true" : "false")
      << ",\n  \"exit_status\": " << report.ExitStatus() << "\n}\n";
}

void PrintVerifyHelp(std::ostream& out) {
  out << kVerifyUsage
      << "\n"
         "Checks the log in DIR without changing anything: reads log.xml with the library's own\n"
         "code and compares every file it records with its recorded size and fingerprint.\n"
         "Nothing is created, written, truncated, locked or deleted, and no modification time\n"
         "changes; a read-only copy of a log is checked the same way.\n"
         "\n"
         "  --info HASH:SIZE  also check log.xml against the info the host kept for this log\n"
         "                    (its hash text and size, as the library handed them out)\n"
         "  --json            write the report as JSON instead of a table\n"
         "  -h, --help        show this help\n"
         "\n"
         "Status of each record: intact, modified (same size, other fingerprint), grown-intact\n"
         "(longer, the recorded part intact: an unsaved tail), grown-modified, shrunk, missing,\n"
         "not-regular, unreadable, multiply-linked (the file has more than one name), bad-name\n"
         "(not a plain file name), unprotected (index pages, not checked). Files that no record\n"
         "names are listed as unregistered.\n"
         "\n"
         "Exit status: 0 every protected file intact and the info (if given) matches;\n"
         "1 anything else found; 2 usage error, or DIR or its log.xml cannot be read.\n";
}

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              bool progressOnTerminal) {
  ParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {{"--info", true}, {"--json", false}}, &parsed, &error)) {
    err << "glps verify: " << error << '\n' << kVerifyUsage;
    return 2;
  }
  if (parsed.help) {
    PrintVerifyHelp(out);
    return 0;
  }
  if (parsed.positional.size() != 1) {
    err << "glps verify: "
        << (parsed.positional.empty() ? "no log directory given"
                                      : "more than one log directory given")
        << '\n'
        << kVerifyUsage;
    return 2;
  }
  KECGlpsLogInfo info;
  const bool infoGiven = parsed.Has("--info");
  if (infoGiven && !ParseLogInfo(parsed.options["--info"], &info)) {
    err << "glps verify: --info wants HASH:SIZE, the hash text and the size in bytes of log.xml\n"
        << kVerifyUsage;
    return 2;
  }

  VerifyReport report;
  {
    TerminalProgress terminal(err);
    VerifyProgress progress;
    if (progressOnTerminal) {
      progress = [&terminal](std::int64_t done, std::int64_t total) {
        terminal.Update(done, total);
      };
    }
    report = VerifyLogDirectory(parsed.positional[0], infoGiven ? &info : nullptr, progress);
  }
  if (!report.error.empty()) err << "glps verify: " << Printable(report.error) << '\n';
  if (parsed.Has("--json")) {
    PrintVerifyJson(report, out);
  } else {
    PrintVerifyTable(report, out);
  }
  return report.ExitStatus();
}

}  // namespace glps_tool
