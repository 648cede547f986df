// SPDX-License-Identifier: Apache-2.0
// A host that tells its user what the opening of the experiment log found: a new log, an intact
// one, one changed outside the trail (log.xml against the info kept, and every file that is not as
// recorded, and how), or one that cannot be used (and why); and, when a call fails, why.
//
// Usage: show_opening DIRECTORY. The experiment log is DIRECTORY/experiment; its info is kept in
// DIRECTORY/info.txt ("HASH:SIZE  experiment") from one run to the next. Exit status 0 when the
// log was opened and saved, 1 otherwise.
#include <glps/glps.h>

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>

namespace {

std::string InfoText(const KECGlpsLogInfo& info) {
  if (!info.IsValid()) return "none";
  return info.m_strLogHash + ":" + std::to_string(info.m_nLogSize);
}

// The info kept in `path`, or none.
KECGlpsLogInfo ReadInfo(const std::string& path) {
  KECGlpsLogInfo info;
  std::ifstream in(path);
  std::string field;
  if (in >> field) {
    const std::string::size_type colon = field.rfind(':');
    if (colon != std::string::npos) {
      info.m_strLogHash = field.substr(0, colon);
      info.m_nLogSize = std::stoll(field.substr(colon + 1));
    }
  }
  return info;
}

bool WriteInfo(const std::string& path, const KECGlpsLogInfo& info) {
  const std::string temporary = path + ".new";
  std::ofstream out(temporary, std::ios::trunc);
  out << InfoText(info) << "  experiment\n";
  out.close();
  std::error_code error;
  if (out.fail()) return false;
  std::filesystem::rename(temporary, path, error);
  return !error;
}

// What the user is shown: in a real host, a dialog before the experiment goes on.
void ShowOpening(const KECGlpsLogOpening& opening) {
  std::cout << "opening: " << opening.Summary() << '\n';
  if (opening.State() == Glps::eLogOpeningUnusable) {
    std::cout << "  the experiment's entries are not recorded until this is put right\n";
    return;
  }
  if (opening.State() != Glps::eLogOpeningTampered) return;
  if (!opening.LogXmlMatches()) {
    std::cout << "  log.xml: expected " << InfoText(opening.ExpectedInfo()) << ", found "
              << InfoText(opening.FoundInfo()) << '\n';
  }
  for (const KECGlpsAuditFile& file : opening.Files()) {
    std::cout << "  " << file.m_record.m_strFileName << ": "
              << KECGlpsAudit::StatusName(file.m_eStatus) << ", recorded " << file.m_record.m_nSize
              << " bytes " << file.m_record.m_strHash << ", found " << file.m_nFoundSize
              << " bytes " << file.m_strFoundHash << '\n';
  }
  for (const KECGlpsAuditFinding& finding : opening.RecordFindings()) {
    std::cout << "  " << finding.m_strText << '\n';
  }
  if (opening.HadUnsavedTail()) {
    std::cout << "  the last run ended without saving its last entries; they were cut off\n";
  }
  if (opening.TamperEntryWritten()) std::cout << "  a tamper entry was written into the log\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: " << argv[0] << " <directory>\n";
    return 2;
  }
  const std::string root = argv[1];
  const std::string experimentDir = root + "/experiment";
  const std::string infoFile = root + "/info.txt";
  std::filesystem::create_directories(experimentDir);

  KECGlpsServices* glps = KECGlpsServices::Instance();
  KECGlpsLogInfoExperiment experiment;
  experiment.m_strExperiment = "Shown";
  unsigned int error = 0;
  bool opened = false;
  const bool usable = glps->LogExpInit(experimentDir, true, ReadInfo(infoFile),
                                       KECGlpsLogInfoCrash(), experiment, &error, &opened);
  ShowOpening(glps->GetLogExpOpening());
  if (!usable) {
    std::cout << "error " << std::hex << std::uppercase << error << std::dec << ": "
              << glps->GetLogExpLastError().Text() << '\n';
  }

  bool ok = usable && glps->LogExpMsg("the operator has seen the opening");
  KECGlpsLogInfo info;
  ok = glps->LogExpExit(&info) && ok;
  if (!ok && glps->GetLogExpLastError().IsFailure()) {
    std::cout << "failed: " << glps->GetLogExpLastError().Text() << '\n';
  }
  KECGlpsServices::Destroy();
  // Whatever the result: the info is that of the log.xml on disk.
  ok = WriteInfo(infoFile, info) && ok;
  std::cout << "info kept: " << InfoText(info) << '\n';
  return ok ? 0 : 1;
}
