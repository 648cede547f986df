// SPDX-License-Identifier: Apache-2.0
#include "pdf.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "glps/audit_copy.h"
#include "glps/seal.h"
#include "log.h"
#include "text.h"
#include "verify.h"

namespace glps_tool {

bool ParseCopyTime(const std::string& text, std::int64_t* seconds) {
  if (!text.empty() && text.size() <= 12 &&
      text.find_first_not_of("0123456789") == std::string::npos) {
    *seconds = std::stoll(text);
    return true;
  }
  TimeBound bound;
  if (!ParseTimeBound(text, false, &bound) || !bound.zoned || bound.utc < 0) return false;
  *seconds = bound.utc;
  return true;
}

namespace {

// Copies of fewer entries are done before a person could read anything.
constexpr std::int64_t kProgressFrom = 2 * 20000;

// Whether `output` would land in the log directory itself, where it would be a file that no record
// holds.
bool IsInside(const std::string& output, const std::string& directory) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::path parent = fs::absolute(output, ec).parent_path();
  if (ec) return false;
  const bool same = fs::equivalent(parent, directory, ec);
  return !ec && same;
}

}  // namespace

int RunPdf(const PdfOptions& options, const char* sourceDateEpoch, std::ostream& out,
           std::ostream& err, bool errIsTerminal) {
  KECGlpsAuditCopyOptions copyOptions;
  if (!options.info.empty()) {
    if (!ParseLogInfo(options.info, &copyOptions.m_info)) {
      err << "glps pdf: --info wants HASH:SIZE, not '" << Printable(options.info) << "'\n";
      return 2;
    }
    copyOptions.m_bInfo = true;
  }
  if (!options.sealKey.empty()) {
    if (!KECGlpsSeal::IsVerificationKey(options.sealKey)) {
      err << "glps pdf: --seal-key wants the verification key that `glps seal init` printed: 64 "
             "hexadecimal digits (blanks and '-' between them are ignored)\n";
      return 2;
    }
    copyOptions.m_strSealKey = options.sealKey;
  }
  if (!options.time.empty()) {
    if (!ParseCopyTime(options.time, &copyOptions.m_nTime)) {
      err << "glps pdf: --time wants seconds since 1970 or YYYY-MM-DDTHH:MM[:SS] with Z or "
             "+HH:MM, not '"
          << Printable(options.time) << "'\n";
      return 2;
    }
  } else if (sourceDateEpoch != nullptr && *sourceDateEpoch != '\0') {
    if (!ParseCopyTime(sourceDateEpoch, &copyOptions.m_nTime)) {
      err << "glps pdf: SOURCE_DATE_EPOCH is not a number of seconds: '"
          << Printable(sourceDateEpoch) << "'\n";
      return 2;
    }
  }
  const bool toStandardOutput = options.output == "-";
  if (!toStandardOutput && IsInside(options.output, options.directory)) {
    err << "glps pdf: the copy would be written into the log directory itself, where no record "
           "holds it; choose another place\n";
    return 2;
  }

  // The copy names the log by its absolute path: where it was found, not where the command ran.
  std::string directory = options.directory;
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(directory, ec);
  if (!ec) {
    directory = absolute.lexically_normal().string();
    if (directory.size() > 1 && directory.back() == '/') directory.pop_back();
  }
  // On a terminal, a long copy says how far it is, at most ten times a second, on a line that is
  // cleared before anything else is written.
  std::size_t shown = 0;
  auto last = std::chrono::steady_clock::now();
  if (options.progress && errIsTerminal && !options.quiet) {
    copyOptions.m_progress = [&](std::int64_t done, std::int64_t total) {
      if (total < kProgressFrom) return;
      const auto now = std::chrono::steady_clock::now();
      if (done != total && now - last < std::chrono::milliseconds(100)) return;
      last = now;
      char line[96];
      std::snprintf(line, sizeof(line), "glps pdf: laying out %lld of %lld entries (%d%%)",
                    static_cast<long long>(done), static_cast<long long>(total),
                    static_cast<int>(done * 100 / total));
      const std::size_t width = std::strlen(line);
      err << '\r' << line << std::string(shown > width ? shown - width : 0, ' ') << std::flush;
      shown = width;
    };
  }
  const auto clearProgress = [&]() {
    if (shown != 0) err << '\r' << std::string(shown, ' ') << '\r' << std::flush;
    shown = 0;
  };
  const KECGlpsAuditCopyResult result =
      toStandardOutput
          ? KECGlpsAuditCopy::StreamPdf(directory, copyOptions,
                                        [&out](const char* data, std::size_t size) {
                                          out.write(data, static_cast<std::streamsize>(size));
                                          return static_cast<bool>(out);
                                        })
          : KECGlpsAuditCopy::WritePdf(directory, copyOptions, options.output);
  clearProgress();
  switch (result.m_eStatus) {
    case Glps::eAuditCopyLogUnreadable:
      err << "glps pdf: cannot read the log: " << Printable(result.m_strError) << '\n';
      return 4;
    case Glps::eAuditCopyNotWritten:
      err << "glps pdf: " << Printable(result.m_strError) << '\n';
      return 1;
    case Glps::eAuditCopyMade: break;
  }
  if (toStandardOutput) return 0;
  if (!options.quiet) {
    out << "wrote " << Printable(options.output) << ": " << result.m_nPages
        << (result.m_nPages == 1 ? " page, " : " pages, ") << result.m_nDocuments
        << (result.m_nDocuments == 1 ? " document, " : " documents, ") << result.m_nEntries
        << (result.m_nEntries == 1 ? " entry" : " entries") << '\n'
        << "verdict: " << Printable(result.m_strVerdict) << '\n';
  }
  return 0;
}

}  // namespace glps_tool
