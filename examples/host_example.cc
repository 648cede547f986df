// SPDX-License-Identifier: Apache-2.0
// A host's minimal use of glps: open the application log, open an experiment, log a message, save,
// close both logs and keep the infos for the next start, here in a file beside the logs.
//
// Usage: host_example DIRECTORY. Run it again on the same directory: the logs go on, and since the
// infos kept are handed back, neither is found tampered with.
#include <glps/glps.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

// The host keeps the infos in a file of its own, one line per log: the size and the hash text.
KECGlpsLogInfo ReadInfo(std::istream& in) {
  KECGlpsLogInfo info;
  std::string line;
  if (std::getline(in, line)) {
    std::istringstream fields(line);
    fields >> info.m_nLogSize >> info.m_strLogHash;
  }
  return info;
}

// Replaces the file in one step, so that an interrupted run leaves the old infos or the new ones.
bool WriteInfos(const std::string& path, const KECGlpsLogInfo& app, const KECGlpsLogInfo& exp) {
  const std::string temporary = path + ".new";
  std::ofstream out(temporary, std::ios::trunc);
  out << app.m_nLogSize << ' ' << app.m_strLogHash << '\n'
      << exp.m_nLogSize << ' ' << exp.m_strLogHash << '\n';
  out.close();
  std::error_code error;
  if (out.fail()) return false;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <directory>\n";
    return 2;
  }
  // The library this process runs with must keep the interface of the headers it was built with.
  if (!Glps::IsLibraryCompatible()) {
    std::cerr << "built for glps " << GLPS_VERSION_STRING << ", runs with "
              << Glps::LibraryVersion() << "\n";
    return 1;
  }
  const std::string root = argv[1];
  const std::string experimentDir = root + "/experiment";
  const std::string infosFile = root + "/infos.txt";
  std::filesystem::create_directories(experimentDir);

  // Where the application log is kept; by default a directory under the user's home.
  KECBaseFilesAndLocations::SetDirectoryAppLog(root + "/applog");
  KECGlpsServices* glps = KECGlpsServices::Instance();

  // The infos kept from the last run; the first time there are none (default records).
  std::ifstream kept(infosFile);
  KECGlpsLogInfo appInfo = ReadInfo(kept);
  KECGlpsLogInfo expInfo = ReadInfo(kept);
  kept.close();

  bool ok = glps->LogAppInit(appInfo);
  // The application log's tamper entry is written when the host asks for it.
  glps->LogAppTampered(glps->IsLogAppTampered(), false);

  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = "Titration 7";
  unsigned int error = 0;
  bool opened = false;
  ok = glps->LogExpInit(experimentDir, true, expInfo, KECGlpsLogInfoCrash(), experiment, &error,
                        &opened) &&
       ok;
  ok = glps->LogExpMsg("Sample 12 weighed: 1.0032 g") && ok;
  // After every save and exit, keep the info handed over, WHATEVER THE RESULT: it is always that of
  // the log.xml on disk, also when the call returns false. An old info kept after a false result
  // makes the next opening report the log tampered.
  ok = glps->LogExpSave("", &expInfo) && ok;
  ok = glps->LogExpExit(&expInfo) && ok;
  ok = glps->LogAppExit(&appInfo) && ok;
  KECGlpsServices::Destroy();

  // The next run hands these to LogAppInit and LogExpInit of the same logs.
  ok = WriteInfos(infosFile, appInfo, expInfo) && ok;
  std::cout << "application log: " << appInfo.m_strLogHash << ' ' << appInfo.m_nLogSize << '\n'
            << "experiment log: " << expInfo.m_strLogHash << ' ' << expInfo.m_nLogSize << '\n';
  return ok ? 0 : 1;
}
