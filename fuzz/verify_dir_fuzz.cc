// SPDX-License-Identifier: Apache-2.0
// Fuzz target: `glps verify`'s reading of a log directory (KECGlpsAudit::Verify, with the trail's
// consistency checks, and KECGlpsAudit::ReadTrail), and both of the command's reports. The input is
// a whole directory, packed as log_dir_input.h describes.
//
// Properties checked beyond "no crash, no sanitizer report, no hang":
// - the directory is exactly as it was (types, permissions, sizes, times, bytes): verify is
//   read-only;
// - a document read for the checks alone gives the entries' marks that reading it whole gives;
// - the JSON report is valid JSON in valid UTF-8, and the table report is valid UTF-8 without
//   control characters other than line feeds, whatever names and texts the directory holds.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "audit/trail_reader.h"
#include "fuzz_support.h"
#include "glps/audit.h"
#include "log.h"
#include "log_dir_input.h"
#include "output_checks.h"
#include "support/tree_snapshot.h"
#include "verify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static glps_fuzz::ScratchDir scratch;
  static unsigned long run = 0;
  const std::string directory = scratch / ("log-" + std::to_string(run++));
  GLPS_FUZZ_CHECK(mkdir(directory.c_str(), 0755) == 0);

  const glps_fuzz::PackedDirectory packed =
      glps_fuzz::Unpack(std::string(reinterpret_cast<const char*>(data), size));
  std::string infoText;
  bool infoGiven = false;
  glps_fuzz::Materialize(packed, directory, &infoText, &infoGiven);
  KECGlpsLogInfo info;
  const bool infoParsed = infoGiven && glps_tool::ParseLogInfo(infoText, &info);

  // What a read-only reader must leave as it found: every entry's type, permissions, size,
  // modification and status-change times, and the bytes of regular files and link targets.
  glps_test::SnapshotOptions everything;
  everything.directoryTimes = true;
  everything.statusChangeTimes = true;
  const glps_test::TreeSnapshot before(directory, everything);
  const KECGlpsAuditReport report = KECGlpsAudit::Verify(directory, infoParsed ? &info : nullptr);
  const KECGlpsAuditTrail trail = KECGlpsAudit::ReadTrail(directory);
  GLPS_FUZZ_CHECK(glps_test::TreeSnapshot(directory, everything) == before);

  const int status = report.Verdict();
  GLPS_FUZZ_CHECK(status == 0 || status == 1 || status == 3 || status == 4 || status == 5);
  GLPS_FUZZ_CHECK(report.m_strError.empty() == trail.m_strError.empty());
  std::ostringstream json;
  glps_tool::WriteJson(glps_tool::VerifyJson(report, false, "2026-01-01T00:00:00Z"), true, json);
  GLPS_FUZZ_CHECK(glps_fuzz::IsValidJson(json.str()));
  std::ostringstream table;
  glps_tool::PrintVerifyTable(report, false, table);
  GLPS_FUZZ_CHECK(glps_fuzz::IsSafeTerminalText(table.str()));
  for (const KECGlpsAuditEntry& entry : trail.m_vEntries) {
    GLPS_FUZZ_CHECK(entry.m_nOffset >= 0 && entry.m_nLength >= 0);
  }
  // `glps log` as text (safe for a terminal) and as JSON Lines (each line valid JSON).
  glps_tool::LogOptions logOptions;
  logOptions.directory = directory;
  std::ostringstream log;
  std::ostringstream logErrors;
  glps_tool::RunLog(logOptions, log, logErrors);
  GLPS_FUZZ_CHECK(glps_fuzz::IsSafeTerminalText(log.str()));
  GLPS_FUZZ_CHECK(glps_fuzz::IsSafeTerminalText(logErrors.str()));
  logOptions.format = glps_tool::LogOptions::Format::kJson;
  std::ostringstream logJson;
  glps_tool::RunLog(logOptions, logJson, logErrors);
  std::istringstream lines(logJson.str());
  for (std::string line; std::getline(lines, line);) {
    GLPS_FUZZ_CHECK(glps_fuzz::IsValidJson(line));
  }

  // The documents read for the checks (marks only) and read back whole give the same marks.
  const glps::audit::EntryTexts texts = glps::audit::EntryTexts::FromTextService();
  for (const glps_fuzz::PackedEntry& entry : packed.entries) {
    if (entry.kind != 'f') continue;
    const glps::audit::DocumentEntries whole =
        glps::audit::ReadDocumentEntries(entry.content, entry.name, 100, true, texts, true);
    const glps::audit::DocumentEntries marks =
        glps::audit::ReadDocumentEntries(entry.content, entry.name, 100, true, texts, false);
    GLPS_FUZZ_CHECK(whole.boundaries == marks.boundaries);
    GLPS_FUZZ_CHECK(whole.marks.size() == marks.marks.size());
    for (std::size_t i = 0; i < whole.marks.size() && i < marks.marks.size(); ++i) {
      GLPS_FUZZ_CHECK(whole.marks[i].number == marks.marks[i].number);
      GLPS_FUZZ_CHECK(whole.marks[i].offset == marks.marks[i].offset);
      GLPS_FUZZ_CHECK(whole.marks[i].length == marks.marks[i].length);
    }
  }

  glps_test::RemoveTree(directory);
  return 0;
}
