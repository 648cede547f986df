// SPDX-License-Identifier: Apache-2.0
// Fuzz target: `glps verify`'s reading of a log directory (VerifyLogDirectory), and both of its
// reports. The input is a whole directory, packed as log_dir_input.h describes.
//
// Properties checked beyond "no crash, no sanitizer report, no hang":
// - the directory is exactly as it was (types, permissions, sizes, times, bytes): verify is
//   read-only;
// - the JSON report is valid JSON in valid UTF-8, and the table report is valid UTF-8 without
//   control characters other than line feeds, whatever names and texts the directory holds.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "fuzz_support.h"
#include "log_dir_input.h"
#include "output_checks.h"
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

  const auto before = glps_fuzz::Snapshot(directory);
  const glps_tool::VerifyReport report =
      glps_tool::VerifyLogDirectory(directory, infoParsed ? &info : nullptr);
  GLPS_FUZZ_CHECK(glps_fuzz::Snapshot(directory) == before);

  const int status = report.ExitStatus();
  GLPS_FUZZ_CHECK(status >= 0 && status <= 2);
  std::ostringstream json;
  glps_tool::PrintVerifyJson(report, json);
  GLPS_FUZZ_CHECK(glps_fuzz::IsValidJson(json.str()));
  std::ostringstream table;
  glps_tool::PrintVerifyTable(report, table);
  GLPS_FUZZ_CHECK(glps_fuzz::IsSafeTerminalText(table.str()));

  glps_fuzz::RemoveTree(directory);
  return 0;
}
