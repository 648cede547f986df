// SPDX-License-Identifier: Apache-2.0
// `glps log`: a log's trail read back, entry by entry, as text, CSV or JSON.
#ifndef GLPS_TOOLS_LOG_H_
#define GLPS_TOOLS_LOG_H_

#include <ostream>
#include <string>
#include <vector>

#include "glps/audit.h"
#include "json_out.h"

namespace glps_tool {

struct LogOptions {
  std::string directory;
  enum class Format { kText, kCsv, kJson };
  Format format = Format::kText;
  std::string from;  // --from TIME (empty: from the start)
  std::string to;    // --to TIME (empty: to the end)
  std::string grep;  // --grep REGEX (POSIX extended; empty: every entry)
  bool ignoreCase = false;
  bool quiet = false;
};

// A point in time given on the command line: "YYYY-MM-DD", optionally followed by 'T' or a blank
// and "HH:MM" or "HH:MM:SS", optionally followed by "Z" or an offset "+HH:MM" / "-HH:MM".
struct TimeBound {
  std::string local;  // "YYYY-MM-DD HH:MM:SS"
  bool zoned = false;
  long long utc = 0;  // seconds since 1970 in UTC, when zoned
};
// `end`: a bound without seconds or without a time stands for the end of that minute or day.
bool ParseTimeBound(const std::string& text, bool end, TimeBound* bound);

// The entries that --from, --to and --grep select, in order. An entry without a time of its own
// (a crash, tamper or other entry) takes that of the message before it, or, before the first
// message, of the first message after it. False, with the reason, for a bad option.
bool SelectEntries(const KECGlpsAuditTrail& trail, const LogOptions& options,
                   std::vector<const KECGlpsAuditEntry*>* selected, std::string* error);

Json LogJson(const KECGlpsAuditTrail& trail, const std::vector<const KECGlpsAuditEntry*>& entries);
void PrintLogCsv(const std::vector<const KECGlpsAuditEntry*>& entries, std::ostream& out);
void PrintLogText(const KECGlpsAuditTrail& trail,
                  const std::vector<const KECGlpsAuditEntry*>& entries, std::ostream& out);

// The subcommand, read-only. Exit status 0; 2 for a bad option; 4 when the log or one of its
// documents cannot be read.
int RunLog(const LogOptions& options, std::ostream& out, std::ostream& err);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_LOG_H_
