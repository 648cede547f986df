// SPDX-License-Identifier: Apache-2.0
// `glps log`: a log's trail read back, entry by entry, as text, CSV or JSON Lines, from the very
// bytes that its verification read, each entry with the standing of those bytes.
#ifndef GLPS_TOOLS_LOG_H_
#define GLPS_TOOLS_LOG_H_

#include <ostream>
#include <string>

#include "glps/audit.h"

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
  std::string info;     // --info HASH:SIZE (empty: none)
  std::string sealKey;  // --seal-key KEY (empty: none)
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

// A CSV cell (RFC 4180) that a spreadsheet opens as text: control characters and bytes that are
// not UTF-8 escaped as the text output escapes them (a line feed kept where `lineFeeds`), a cell
// that would start a formula (= + - @, tab, carriage return) preceded by an apostrophe, and the
// cell quoted when it holds a comma, a quote or a line end.
std::string CsvCell(const std::string& text, bool lineFeeds = false);

// The subcommand, read-only. The entries are written as verification reads them, so that memory
// does not grow with the trail: text and CSV a line per entry (a detail line more for each of a
// crash entry's), JSON one object per line. The verdict follows the entries (and goes to standard
// error when it is not intact, with the count of entries shown whose bytes are not intact). Exit
// status: the verdict's (0, 1, 3, 4 or 5, as `glps verify`); 2 for a bad option.
int RunLog(const LogOptions& options, std::ostream& out, std::ostream& err);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_LOG_H_
