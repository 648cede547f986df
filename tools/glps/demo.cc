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

#include "files/platform.h"
#include "glps/glps.h"
#include "log_state.h"
#include "options.h"
#include "text.h"
#include "verify.h"

namespace glps_tool {
namespace {

const char kDemoUsage[] =
    "usage: glps demo DIR [--messages N] [--runs N] [--crash] [--tamper] [--experiment NAME]\n";
const char kStateHeader[] =
    "# glps demo: the info of each log, kept between runs as a host keeps it. Do not edit.\n";
const char kAppLogDirectory[] = "applog";
const int kDefaultMessages = 20;
// Roughly what it takes to fill a document past 1 MiB in one run.
const int kRolloverMessages = 10000;

struct DemoOptions {
  std::string directory;  // absolute
  int messages = kDefaultMessages;
  int runs = 1;
  bool crash = false;
  bool tamper = false;
  std::string experiment = "Titration 7";
};

// What one run found and wrote.
struct RunResult {
  bool ok = true;
  bool appTampered = false;
  bool expTampered = false;
  std::string appFile;
  std::string expFile;
};

std::string InfoText(const KECGlpsLogInfo& info) {
  return info.m_strLogHash + ":" + std::to_string(info.m_nLogSize);
}

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

bool ParseCount(const std::string& text, int lowest, int highest, int* value) {
  std::int64_t parsed = 0;
  if (!ParseInt64(text, &parsed) || parsed < lowest || parsed > highest) return false;
  *value = static_cast<int>(parsed);
  return true;
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
  if (!info.IsValid() && !glps::platform::PathExists(LogXmlPath(directory))) return false;
  return VerifyLogDirectory(directory, &info).ExitStatus() != 0;
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
  return glps::platform::ReplaceFile(path, data.str());
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
  LogState state;
  std::string error;
  if (!ReadLogState(expDir, &state, &error)) {
    err << "glps demo: --tamper: " << Printable(error) << '\n';
    return false;
  }
  const KECGlpsFileManagerData* document = nullptr;
  for (const KECGlpsFileManagerData& record : state.records) {
    if (record.m_eType == Glps::FileLog) document = &record;
  }
  std::string bytes;
  const std::string path =
      document ? KCGenFileUtils::MakeNamePath(expDir, document->m_strFileName) : std::string();
  if (document == nullptr || !glps::platform::ReadWholeFile(path, &bytes)) {
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

std::string DemoStatePath(const std::string& directory) {
  return KCGenFileUtils::MakeNamePath(directory, "demo-state.txt");
}

bool DemoState::Load(const std::string& path, std::string* error) {
  if (!glps::platform::PathExists(path)) return true;
  std::string text;
  if (!glps::platform::ReadWholeFile(path, &text, 1 << 20)) {
    *error = path + ": cannot be read";
    return false;
  }
  DemoState loaded;
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (line.empty() || line[0] == '#') continue;
    std::istringstream words(line);
    std::string key, directory, hash, size, extra;
    words >> key;
    std::int64_t value = 0;
    bool ok = false;
    if (key == "runs") {
      words >> size;
      ok = ParseInt64(size, &value) && value >= 0 && value < (1 << 30);
      loaded.runs = static_cast<int>(value);
    } else if (key == "log") {
      words >> directory >> hash >> size;
      ok = !directory.empty() && !hash.empty() && ParseInt64(size, &value) && value >= 0;
      KECGlpsLogInfo info;
      info.m_strLogHash = hash == "-" ? std::string() : hash;
      info.m_nLogSize = value;
      loaded.infos[directory] = info;
    }
    if (!ok || (words >> extra)) {
      *error = path + ": line " + std::to_string(number) + " is not in the demo's format";
      return false;
    }
  }
  *this = loaded;
  return true;
}

bool DemoState::Save(const std::string& path) const {
  std::string text = kStateHeader;
  text += "runs " + std::to_string(runs) + "\n";
  for (const auto& entry : infos) {
    const KECGlpsLogInfo& info = entry.second;
    text += "log " + entry.first + " " + (info.m_strLogHash.empty() ? "-" : info.m_strLogHash) +
            " " + std::to_string(info.m_nLogSize) + "\n";
  }
  return glps::platform::ReplaceFile(path, text);
}

void PrintDemoHelp(std::ostream& out) {
  out << kDemoUsage
      << "\n"
         "A host program in miniature. Each run starts the host: opens the application log in\n"
         "DIR/applog with the info kept from the last run, writes a few messages, opens the\n"
         "experiment log in DIR/experiments/NAME, writes messages, context messages, metadata,\n"
         "an entity and a linked data file, saves and closes both logs, and keeps their new\n"
         "infos in DIR/demo-state.txt for the next run. A second run continues the same logs.\n"
         "\n"
         "  --messages N       sample messages per run in the experiment log (default "
      << kDefaultMessages
      << ";\n"
         "                     about "
      << kRolloverMessages
      << " fill a document past 1 MiB, so that the next run\n"
         "                     starts a second document and the index pages)\n"
         "  --runs N           runs of the host (default 1)\n"
         "  --crash            the first run reports a crash of the previous one\n"
         "  --tamper           after the last run, change one byte of the experiment log's\n"
         "                     document, so that the next run finds the log tampered\n"
         "  --experiment NAME  the experiment (default \"Titration 7\")\n"
         "  -h, --help         show this help\n"
         "\n"
         "Exit status: 0 done; 1 a call into the library failed; 2 usage error, or DIR or its\n"
         "state file cannot be used.\n";
}

int RunDemo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  ParsedArgs parsed;
  std::string error;
  const std::vector<OptionDef> known = {{"--messages", true},
                                        {"--runs", true},
                                        {"--crash", false},
                                        {"--tamper", false},
                                        {"--experiment", true}};
  if (!ParseArgs(args, known, &parsed, &error)) {
    err << "glps demo: " << error << '\n' << kDemoUsage;
    return 2;
  }
  if (parsed.help) {
    PrintDemoHelp(out);
    return 0;
  }
  DemoOptions options;
  if (parsed.positional.size() != 1 || parsed.positional[0].empty()) {
    err << "glps demo: "
        << (parsed.positional.size() > 1 ? "more than one directory given" : "no directory given")
        << '\n'
        << kDemoUsage;
    return 2;
  }
  if (parsed.Has("--messages") &&
      !ParseCount(parsed.options["--messages"], 0, 10000000, &options.messages)) {
    err << "glps demo: --messages wants a number from 0 to 10000000\n" << kDemoUsage;
    return 2;
  }
  if (parsed.Has("--runs") && !ParseCount(parsed.options["--runs"], 1, 1000, &options.runs)) {
    err << "glps demo: --runs wants a number from 1 to 1000\n" << kDemoUsage;
    return 2;
  }
  if (parsed.Has("--experiment")) options.experiment = parsed.options["--experiment"];
  const std::string experimentDirectory = ExperimentDirectoryName(options.experiment);
  if (experimentDirectory.empty() ||
      experimentDirectory.find_first_not_of("._") == std::string::npos) {
    err << "glps demo: --experiment wants a name with at least one letter or digit\n" << kDemoUsage;
    return 2;
  }
  options.crash = parsed.Has("--crash");
  options.tamper = parsed.Has("--tamper");
  options.directory = std::filesystem::absolute(parsed.positional[0]).lexically_normal().string();
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
