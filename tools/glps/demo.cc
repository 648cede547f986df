// SPDX-License-Identifier: Apache-2.0
#include "demo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <sstream>

#include "files.h"
#include "glps/audit.h"
#include "glps/glps.h"
#include "text.h"
#include "verify.h"

namespace glps_tool {
namespace {

const char kStateHeader[] =
    "# glps demo: the info of each log, kept between runs as a host keeps it, a line each as\n"
    "# glps verify --info-file reads them. Do not edit.\n";
// The comment that holds the number of runs so far.
const char kRunsComment[] = "# runs: ";
const char kAppLogDirectory[] = "applog";

// What one run found and wrote.
struct RunResult {
  bool ok = true;
  bool appTampered = false;
  bool expTampered = false;
  std::string appFile;
  std::string expFile;
};

// A directory name for the experiment: its name with every byte outside [A-Za-z0-9_.-] replaced
// by '_', and no leading '.'.
std::string ExperimentDirectoryName(const std::string& experiment) {
  std::string name;
  for (char c : experiment) {
    const bool keep =
        std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    name += keep && static_cast<unsigned char>(c) < 0x80 ? c : '_';
  }
  if (!name.empty() && name[0] == '.') name[0] = '_';
  return name;
}

bool MakeDirectories(const std::string& path, std::ostream& err) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  if (ec || !std::filesystem::is_directory(path, ec)) {
    err << "glps demo: cannot create the directory " << Printable(path) << ": "
        << (ec ? ec.message() : "not a directory") << '\n';
    return false;
  }
  return true;
}

// What the library will decide when it opens the log with `info`, found beforehand by the
// read-only check: a log that does not exist yet and has no info is new, not tampered.
bool CheckBeforeOpening(const std::string& directory, const KECGlpsLogInfo& info) {
  if (!info.IsValid() && !PathExists(KCGenFileUtils::MakeNamePath(directory, "log.xml"))) {
    return false;
  }
  const KECGlpsAuditReport report = KECGlpsAudit::Verify(directory, &info);
  return !report.m_strError.empty() || report.m_eInfoCheck != Glps::eAuditInfoMatches ||
         report.ProtectedIntactCount() != report.ProtectedCount();
}

bool WriteDataFile(const std::string& path, int run) {
  std::ostringstream data;
  data << "sample,mass_g,operator\n";
  for (int i = 1; i <= 5; ++i) {
    char line[64];
    std::snprintf(line, sizeof(line), "S%d-%d,%.4f,Müller\n", run, i,
                  0.98 + 0.0071 * i + run * 0.0003);
    data << line;
  }
  return ReplaceFile(path, data.str());
}

// One start of the host: opens both logs, writes into them, saves and closes them.
RunResult OneRun(const DemoOptions& options, const std::string& appDir, const std::string& expDir,
                 const std::string& expKey, int run, bool crashed, DemoState* state,
                 std::ostream& err) {
  RunResult result;
  KECGlpsLogInfo appInfo = state->infos[kAppLogDirectory];
  KECGlpsLogInfo expInfo = state->infos[expKey];
  const auto fail = [&result, &err](const std::string& what) {
    err << "glps demo: " << what << " failed\n";
    result.ok = false;
  };

  KECBaseFilesAndLocations::SetDirectoryAppLog(appDir);
  KECGlpsServices* glps = KECGlpsServices::Instance();

  const bool appExpected = CheckBeforeOpening(appDir, appInfo);
  if (!glps->LogAppInit(appInfo)) fail("LogAppInit");
  result.appTampered = glps->IsLogAppTampered();
  if (result.appTampered != appExpected) {
    err << "glps demo: note: the check before opening found the application log "
        << (appExpected ? "tampered" : "intact") << ", the library "
        << (result.appTampered ? "tampered" : "intact") << '\n';
  }
  // The application log's tamper entry is written on the host's request.
  glps->LogAppTampered(result.appTampered, false);
  if (!glps->LogAppMsg("Demo run " + std::to_string(run) + " started")) fail("LogAppMsg");
  if (!glps->LogAppMsg("Opening experiment \"" + options.experiment + "\" in " + expDir)) {
    fail("LogAppMsg");
  }

  KECGlpsLogInfoCrash crash;
  if (crashed) {
    crash.m_bCrashed = true;
    crash.m_strText = "The previous run of the demo host ended abnormally.";
    crash.m_vLines = {"while weighing sample 12", "unsaved entries of that run are lost"};
  }
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = options.experiment;
  experiment.m_nVersion = 410;
  result.expTampered = CheckBeforeOpening(expDir, expInfo);
  unsigned int error = 0;
  bool opened = false;
  if (!glps->LogExpInit(expDir, true, expInfo, crash, experiment, &error, &opened)) {
    char code[16];
    std::snprintf(code, sizeof(code), "0x%08X", error);
    fail(std::string("LogExpInit (error ") + code + ")");
  }
  if (opened) {
    const auto message = [&](const std::string& text) {
      if (!glps->LogExpMsg(text)) fail("LogExpMsg");
    };
    message("Run " + std::to_string(run) + ": weighing started");
    for (int i = 1; i <= options.messages; ++i) {
      char text[96];
      std::snprintf(text, sizeof(text), "Sample %d weighed: %.4f g", i,
                    0.95 + (i * 37 % 101) / 1000.0);
      message(text);
      if (i % 10 == 0 && !glps->LogExpMsgContext("Balance reading stable", "Balance B-3")) {
        fail("LogExpMsgContext");
      }
    }
    message("Label as typed: <b>&\" is not markup");
    message("Operator Müller added 5 µg of standard");
    if (!glps->LogExpMsgContext("Method changed", "Titration, 2nd endpoint")) {
      fail("LogExpMsgContext");
    }

    KECGlpsLogMetaData meta;
    meta.m_strVersionOriginal = KCGenVersionInfo().GetProductVersionLong();
    meta.m_guidOriginal = KCGenGUID("{6B0E2F52-3C1D-4B8A-9E61-0D5A7C3F2B19}");
    meta.m_strExpName = options.experiment;
    if (!glps->LogExpMetaData(meta)) fail("LogExpMetaData");
    if (!glps->LogExpMetaDataName(options.experiment)) fail("LogExpMetaDataName");
    if (!glps->LogExpMetaDataEntity(
            KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(1), run, KCGenGUID(true)))) {
      fail("LogExpMetaDataEntity");
    }

    char dataName[40];
    std::snprintf(dataName, sizeof(dataName), "measurements-%04d.csv", run);
    if (!WriteDataFile(KCGenFileUtils::MakeNamePath(expDir, dataName), run)) {
      err << "glps demo: cannot write " << Printable(expDir) << "/" << dataName << '\n';
      result.ok = false;
    } else if (!glps->LogExpLink(dataName)) {
      fail("LogExpLink");
    } else {
      message(std::string("Measurements linked: ") + dataName);
    }
    message("Run " + std::to_string(run) + ": experiment saved");
    result.expFile = glps->GetLogExpFileName();
    if (!glps->LogExpSave("", &expInfo)) fail("LogExpSave");
    if (!glps->LogExpExit(&expInfo)) fail("LogExpExit");
  }

  if (!glps->LogAppMsg("Demo run " + std::to_string(run) + " finished")) fail("LogAppMsg");
  result.appFile = glps->GetLogAppFileName();
  if (!glps->LogAppExit(&appInfo)) fail("LogAppExit");
  KECGlpsServices::Destroy();

  state->runs = run;
  state->infos[kAppLogDirectory] = appInfo;
  if (opened) state->infos[expKey] = expInfo;
  return result;
}

// Changes one letter (its case) in the middle of the recorded part of the experiment log's last
// document, keeping the size, as someone editing the file by hand would.
bool TamperWithDocument(const std::string& expDir, std::ostream& out, std::ostream& err) {
  KECGlpsAuditLogState state;
  std::string error;
  if (!KECGlpsAudit::ReadLogState(expDir, &state, &error)) {
    err << "glps demo: --tamper: " << Printable(error) << '\n';
    return false;
  }
  const KECGlpsFileManagerData* document = nullptr;
  for (const KECGlpsFileManagerData& record : state.m_vRecords) {
    if (record.m_eType == Glps::FileLog) document = &record;
  }
  std::string bytes;
  const std::string path =
      document ? KCGenFileUtils::MakeNamePath(expDir, document->m_strFileName) : std::string();
  if (document == nullptr || !ReadWholeFile(path, &bytes)) {
    err << "glps demo: --tamper: no log document to change\n";
    return false;
  }
  const std::size_t end = std::min<std::size_t>(bytes.size(), document->m_nSize);
  std::size_t at = end / 2;
  while (at < end && !std::isalpha(static_cast<unsigned char>(bytes[at]))) ++at;
  if (at >= end) {
    err << "glps demo: --tamper: no letter to change in " << Printable(path) << '\n';
    return false;
  }
  const char changed = static_cast<char>(bytes[at] ^ 0x20);
  const int fd = open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  const bool written = fd >= 0 && pwrite(fd, &changed, 1, static_cast<off_t>(at)) == 1;
  if (fd >= 0) close(fd);
  if (!written) {
    err << "glps demo: --tamper: cannot write " << Printable(path) << ": " << std::strerror(errno)
        << '\n';
    return false;
  }
  out << "tampered:          changed byte " << at << " of " << Printable(path) << " ('" << bytes[at]
      << "' to '" << changed << "'); the next run finds the experiment log tampered\n";
  return true;
}

std::string ExperimentVerdict(const RunResult& result, bool crashed) {
  if (!result.expTampered) return "intact";
  return crashed ? "found tampered (the crash entry stands in for the tamper entry)"
                 : "found tampered, tamper entry written";
}

}  // namespace

bool IsUsableExperimentName(const std::string& experiment) {
  const std::string name = ExperimentDirectoryName(experiment);
  return !name.empty() && name.find_first_not_of("._") != std::string::npos;
}

std::string DemoStatePath(const std::string& directory) {
  return KCGenFileUtils::MakeNamePath(directory, "demo-state.txt");
}

bool DemoState::Load(const std::string& path, std::string* error) {
  if (!PathExists(path)) return true;
  std::string text;
  if (!ReadWholeFile(path, &text, 1 << 20)) {
    *error = path + ": cannot be read";
    return false;
  }
  DemoState loaded;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    bool ok = true;
    std::int64_t value = 0;
    // The number of runs, in a comment (and, from earlier versions, on a line "runs N").
    const std::size_t runs = line.compare(0, std::strlen(kRunsComment), kRunsComment) == 0
                                 ? std::strlen(kRunsComment)
                             : line.compare(0, 5, "runs ") == 0 ? 5
                                                                : 0;
    if (runs != 0) {
      ok = ParseInt64(line.substr(runs), &value) && value >= 0 && value < (1 << 30);
      loaded.runs = static_cast<int>(value);
    } else if (!line.empty() && line[0] != '#') {
      KECGlpsLogInfo info;
      std::string directory;
      ok = ParseInfoLine(line, &info, &directory);
      loaded.infos[directory] = info;
    }
    if (!ok) {
      *error = path + ": line " + std::to_string(number) + " is not in the demo's format";
      return false;
    }
  }
  *this = loaded;
  return true;
}

bool DemoState::Save(const std::string& path) const {
  std::string text = kStateHeader;
  text += kRunsComment + std::to_string(runs) + "\n";
  for (const auto& entry : infos) text += InfoLine(entry.second, entry.first);
  return ReplaceFile(path, text);
}

int RunDemo(const DemoOptions& given, std::ostream& out, std::ostream& err) {
  DemoOptions options = given;
  if (!IsUsableExperimentName(options.experiment)) {
    err << "glps demo: --experiment wants a name with at least one letter or digit\n";
    return 2;
  }
  const std::string experimentDirectory = ExperimentDirectoryName(options.experiment);
  std::string error;
  options.directory = std::filesystem::absolute(options.directory).lexically_normal().string();
  if (options.directory.size() > 1 && options.directory.back() == '/') options.directory.pop_back();

  const std::string appDir = KCGenFileUtils::MakeNamePath(options.directory, kAppLogDirectory);
  const std::string expKey = "experiments/" + experimentDirectory;
  const std::string expDir = KCGenFileUtils::MakeNamePath(options.directory, expKey);
  if (!MakeDirectories(appDir, err) || !MakeDirectories(expDir, err)) return 2;
  const std::string statePath = DemoStatePath(options.directory);
  DemoState state;
  if (!state.Load(statePath, &error)) {
    err << "glps demo: " << Printable(error)
        << "\n(remove it to start afresh; the existing logs will then be found tampered)\n";
    return 2;
  }

  bool ok = true;
  RunResult last;
  const int first = state.runs + 1;
  for (int i = 0; i < options.runs; ++i) {
    const bool crashed = options.crash && i == 0;
    last = OneRun(options, appDir, expDir, expKey, first + i, crashed, &state, err);
    ok = last.ok && ok;
    if (!state.Save(statePath)) {
      err << "glps demo: cannot write " << Printable(statePath) << '\n';
      return 2;
    }
    out << "run " << (first + i) << ":  application log "
        << (last.appTampered ? "found tampered, tamper entry written" : "intact")
        << "; experiment log " << ExperimentVerdict(last, crashed)
        << (crashed ? "; crash reported" : "") << '\n';
  }

  out << "application log:   " << Printable(appDir) << "  info "
      << InfoText(state.infos[kAppLogDirectory]) << '\n'
      << "experiment log:    " << Printable(expDir) << "  info " << InfoText(state.infos[expKey])
      << '\n'
      << "infos kept in:     " << Printable(statePath) << '\n';
  if (!last.expFile.empty()) out << "open in a browser: " << Printable(last.expFile) << '\n';
  if (!last.appFile.empty()) out << "                   " << Printable(last.appFile) << '\n';
  out << "verify with:       glps verify " << Printable(expDir) << " --info "
      << InfoText(state.infos[expKey]) << '\n';

  if (options.tamper && !TamperWithDocument(expDir, out, err)) ok = false;
  return ok ? 0 : 1;
}

}  // namespace glps_tool
