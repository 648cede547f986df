// SPDX-License-Identifier: Apache-2.0
#include "log.h"

#include <regex.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "events.h"
#include "glps/seal.h"
#include "json_out.h"
#include "text.h"
#include "verify.h"

namespace glps_tool {
namespace {

bool Digits(const std::string& s, std::size_t at, std::size_t count) {
  if (at + count > s.size()) return false;
  for (std::size_t i = at; i < at + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

int Number(const std::string& s, std::size_t at, std::size_t count) {
  return std::atoi(s.substr(at, count).c_str());
}

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
long long DaysFromCivil(long long y, unsigned m, unsigned d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<long long>(doe) - 719468;
}

// The seconds of an offset "+HH:MM" (or "-HH:MM", optionally ":SS") at `at`; false when there is
// none.
bool ParseOffset(const std::string& s, std::size_t at, long long* seconds, std::size_t* length) {
  if (at >= s.size() || (s[at] != '+' && s[at] != '-') || !Digits(s, at + 1, 2) ||
      s.compare(at + 3, 1, ":") != 0 || !Digits(s, at + 4, 2)) {
    return false;
  }
  long long value = Number(s, at + 1, 2) * 3600LL + Number(s, at + 4, 2) * 60LL;
  *length = 6;
  if (s.compare(at + 6, 1, ":") == 0 && Digits(s, at + 7, 2)) {
    value += Number(s, at + 7, 2);
    *length = 9;
  }
  *seconds = s[at] == '-' ? -value : value;
  return true;
}

// The local text and the instant of an entry's date and time; false when it has none.
bool EntryTime(const KECGlpsAuditEntry& entry, TimeBound* time) {
  const std::string& d = entry.m_strDate;
  const std::string& t = entry.m_strTime;
  if (d.size() != 10 || !Digits(d, 0, 4) || !Digits(d, 5, 2) || !Digits(d, 8, 2) ||
      !Digits(t, 0, 2) || !Digits(t, 3, 2) || !Digits(t, 6, 2)) {
    return false;
  }
  time->local = d + " " + t.substr(0, 8);
  std::size_t at = 8;
  if (t.compare(at, 1, ".") == 0) at += 4;
  long long offset = 0;
  std::size_t length = 0;
  time->zoned = t.compare(at, 1, " ") == 0 && ParseOffset(t, at + 1, &offset, &length);
  time->utc = DaysFromCivil(Number(d, 0, 4), Number(d, 5, 2), Number(d, 8, 2)) * 86400 +
              Number(t, 0, 2) * 3600LL + Number(t, 3, 2) * 60LL + Number(t, 6, 2) - offset;
  return true;
}

bool Before(const TimeBound& a, const TimeBound& b) {
  return a.zoned && b.zoned ? a.utc < b.utc : a.local < b.local;
}

bool IsTimed(const KECGlpsAuditEntry& entry) { return !entry.m_strDate.empty(); }

struct RegexFree {
  void operator()(regex_t* regex) const {
    regfree(regex);
    delete regex;
  }
};

std::string Details(const KECGlpsAuditEntry& entry, const char* separator) {
  std::string text;
  for (const std::string& line : entry.m_vDetails) text += (text.empty() ? "" : separator) + line;
  return text;
}

// The entries that --from, --to and --grep select, handed on in order as they come. An entry
// without a time of its own (a crash, tamper or other entry) takes that of the message before it,
// or, before the first message, of the first message after it: such entries wait for it (at most
// kMostWaiting of them; any beyond, and those still waiting at the end, have no time).
class Selection {
 public:
  using Emit = std::function<void(const KECGlpsAuditEntry&)>;

  explicit Selection(Emit emit) : m_emit(std::move(emit)) {}

  // False, with the reason, for a bad option.
  bool Init(const LogOptions& options, std::string* error) {
    m_bFrom = !options.from.empty();
    m_bTo = !options.to.empty();
    if (m_bFrom && !ParseTimeBound(options.from, false, &m_from)) {
      *error = "--from wants YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM], not '" + options.from + "'";
      return false;
    }
    if (m_bTo && !ParseTimeBound(options.to, true, &m_to)) {
      *error = "--to wants YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM], not '" + options.to + "'";
      return false;
    }
    if (!options.grep.empty()) {
      m_regex.reset(new regex_t);
      const int flags = REG_EXTENDED | REG_NOSUB | (options.ignoreCase ? REG_ICASE : 0);
      const int failed = regcomp(m_regex.get(), options.grep.c_str(), flags);
      if (failed != 0) {
        char message[256];
        regerror(failed, m_regex.get(), message, sizeof(message));
        delete m_regex.release();
        *error = "--grep: " + std::string(message);
        return false;
      }
    }
    return true;
  }

  void Offer(KECGlpsAuditEntry& entry) {
    TimeBound own;
    if (IsTimed(entry) && EntryTime(entry, &own)) {
      m_last = own;
      m_bLast = true;
      for (const KECGlpsAuditEntry& waiting : m_vWaiting) Judge(waiting, &m_last);
      m_vWaiting.clear();
      Judge(entry, &m_last);
    } else if (m_bLast) {
      Judge(entry, &m_last);
    } else if ((m_bFrom || m_bTo) && m_vWaiting.size() < kMostWaiting) {
      m_vWaiting.push_back(std::move(entry));
    } else {
      Judge(entry, nullptr);
    }
  }

  void Finish() {
    for (const KECGlpsAuditEntry& waiting : m_vWaiting) Judge(waiting, nullptr);
    m_vWaiting.clear();
  }

 private:
  static constexpr std::size_t kMostWaiting = 4096;

  // Hands the entry on when it is selected; `time` is the time it is judged by (null: none known).
  void Judge(const KECGlpsAuditEntry& entry, const TimeBound* time) {
    if (m_bFrom && (time == nullptr || Before(*time, m_from))) return;
    if (m_bTo && (time == nullptr || Before(m_to, *time))) return;
    if (m_regex) {
      const std::string text = entry.m_strMessage + "\n" + entry.m_strContext + "\n" +
                               entry.m_strUser + "\n" + Details(entry, "\n");
      if (regexec(m_regex.get(), text.c_str(), 0, nullptr, 0) != 0) return;
    }
    m_emit(entry);
  }

  Emit m_emit;
  bool m_bFrom = false;
  bool m_bTo = false;
  TimeBound m_from;
  TimeBound m_to;
  std::unique_ptr<regex_t, RegexFree> m_regex;
  // The time of the last timed entry so far.
  TimeBound m_last;
  bool m_bLast = false;
  // Entries before the first timed one, waiting for its time.
  std::vector<KECGlpsAuditEntry> m_vWaiting;
};

// What the selected entries come to, for the summary after them.
struct Tally {
  std::size_t entries = 0;
  std::size_t kinds[10] = {};
  std::size_t standings[4] = {};
  std::string first;  // date and time of the first and the last dated entry; empty: none
  std::string last;

  void Add(const KECGlpsAuditEntry& entry) {
    ++entries;
    ++kinds[static_cast<std::size_t>(entry.m_eKind) % 10];
    ++standings[static_cast<std::size_t>(entry.m_eStanding) % 4];
    if (IsTimed(entry)) {
      last = entry.m_strDate + " " + entry.m_strTime;
      if (first.empty()) first = last;
    }
  }
  std::size_t NotIntact() const { return entries - standings[Glps::eAuditStandingIntact]; }
};

std::string Plural(std::size_t count, const char* one, const char* many) {
  return std::to_string(count) + " " + (count == 1 ? one : many);
}

// "2 entries (1 modified, 1 unsaved tail)": the entries shown whose bytes are not intact.
std::string NotIntactText(const Tally& tally) {
  std::string parts;
  const std::pair<Glps::EAuditEntryStanding, const char*> words[] = {
      {Glps::eAuditStandingModified, "in a modified recorded part"},
      {Glps::eAuditStandingUnsavedTail, "in an unsaved tail"},
      {Glps::eAuditStandingUnrecorded, "in an unrecorded document"}};
  for (const auto& word : words) {
    const std::size_t count = tally.standings[word.first];
    if (count != 0)
      parts += (parts.empty() ? "" : ", ") + std::to_string(count) + " " + word.second;
  }
  return Plural(tally.NotIntact(), "entry", "entries") + " (" + parts + ")";
}

// Writes the selected entries as they come, then what follows them. Owned by RunLog.
class EntryWriter {
 public:
  virtual ~EntryWriter() = default;
  virtual void Entry(const KECGlpsAuditEntry& entry) = 0;
  // After the last entry, when the log could be read.
  virtual void End(const KECGlpsAuditReport& report, const Tally& tally) = 0;
};

// The text for a terminal: per document a heading and a table, its columns as wide as the first
// rows need (a later, wider cell widens its column from there on), then the summary and the
// verdict. Every entry whose bytes are not intact says so in its kind column.
class TextWriter : public EntryWriter {
 public:
  TextWriter(const LogOptions& options, std::ostream& out) : m_options(options), m_out(out) {}

  void Entry(const KECGlpsAuditEntry& e) override {
    Start();
    if (!m_bInDocument || e.m_strDocument != m_strDocument) {
      Flush();
      m_bInDocument = true;
      m_strDocument = e.m_strDocument;
      m_eStanding = Glps::eAuditStandingIntact;
      m_out << '\n' << Printable(m_strDocument) << '\n';
      if (e.m_eStanding == Glps::eAuditStandingModified) {
        m_out << "  its recorded part is MODIFIED: the entries below are not as log.xml records "
                 "them\n";
      } else if (e.m_eStanding == Glps::eAuditStandingUnrecorded) {
        m_out << "  UNRECORDED: no record of log.xml holds this document; nothing vouches for its "
                 "entries\n";
      }
      m_vWidths.clear();
      m_bFixed = false;
      Row({"offset", "no.", "date", "time", "user", "kind", "entry"});
    }
    if (e.m_eStanding == Glps::eAuditStandingUnsavedTail &&
        m_eStanding != Glps::eAuditStandingUnsavedTail) {
      Flush();
      m_out << "  UNSAVED TAIL from here: the entries below lie after the part of this document "
               "that log.xml records; nothing vouches for them\n";
    }
    m_eStanding = e.m_eStanding;
    std::string kind = KECGlpsAudit::EntryKindName(e.m_eKind);
    switch (e.m_eStanding) {
      case Glps::eAuditStandingIntact: break;
      case Glps::eAuditStandingModified: kind += " (MODIFIED)"; break;
      case Glps::eAuditStandingUnsavedTail: kind += " (UNSAVED)"; break;
      case Glps::eAuditStandingUnrecorded: kind += " (UNRECORDED)"; break;
    }
    std::string text = Printable(e.m_strMessage);
    if (e.m_bHasContext) text += ":  '" + Printable(e.m_strContext) + "'";
    Row({std::to_string(e.m_nOffset), IsTimed(e) ? std::to_string(e.m_nNumber) : "",
         Printable(e.m_strDate), Printable(e.m_strTime), Printable(e.m_strUser), kind, text});
    for (const std::string& line : e.m_vDetails) {
      Row({"", "", "", "", "", "", "     " + Printable(line)});
    }
  }

  void End(const KECGlpsAuditReport& report, const Tally& tally) override {
    Start();
    Flush();
    const bool applicationLog = report.m_state.m_header.m_eContentType == 533;
    m_out << "\nlog:           " << (applicationLog ? "application log" : "experiment log") << '\n';
    const std::size_t* k = tally.kinds;
    m_out << "entries:       " << tally.entries << " (" << k[Glps::eAuditEntryMessage]
          << " messages, " << k[Glps::eAuditEntryStart] << " starts, " << k[Glps::eAuditEntryExit]
          << " exits, " << k[Glps::eAuditEntryCrash] << " crash, " << k[Glps::eAuditEntryTamper]
          << " tamper, " << k[Glps::eAuditEntryExtraNote] << " extra notes)\n";
    if (tally.NotIntact() != 0) m_out << "NOT INTACT:    " << NotIntactText(tally) << '\n';
    m_out << "time range:    "
          << (tally.first.empty() ? std::string("none")
                                  : Printable(tally.first) + " to " + Printable(tally.last))
          << '\n';
    PrintEvents(report, m_out);
    m_out << "result:        " << VerdictLine(report, false) << '\n';
  }

 private:
  void Start() {
    if (m_bStarted) return;
    m_bStarted = true;
    m_out << "log directory: " << Printable(m_options.directory) << '\n';
  }

  // The first rows of a document are held until they fix the columns' widths.
  void Row(std::vector<std::string> row) {
    if (!m_bFixed) {
      m_vHeld.push_back(std::move(row));
      if (m_vHeld.size() == kHeldRows) Flush();
      return;
    }
    Print(row);
  }

  void Flush() {
    for (const auto& row : m_vHeld) {
      if (m_vWidths.size() < row.size()) m_vWidths.resize(row.size(), 0);
      for (std::size_t c = 0; c < row.size(); ++c) {
        m_vWidths[c] = std::max(m_vWidths[c], DisplayWidth(row[c]));
      }
    }
    m_bFixed = true;
    for (const auto& row : m_vHeld) Print(row);
    m_vHeld.clear();
  }

  void Print(const std::vector<std::string>& row) {
    // The offset and the number are aligned to the right.
    std::string line = "  ";
    for (std::size_t c = 0; c < row.size(); ++c) {
      if (m_vWidths.size() <= c) m_vWidths.resize(c + 1, 0);
      const std::size_t width = DisplayWidth(row[c]);
      m_vWidths[c] = std::max(m_vWidths[c], width);
      const std::string pad(m_vWidths[c] - width, ' ');
      if (c > 0) line += "  ";
      if (c < 2) {
        line += pad + row[c];
      } else {
        line += row[c];
        if (c + 1 < row.size()) line += pad;
      }
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line += '\n';
    m_out.write(line.data(), static_cast<std::streamsize>(line.size()));
  }

  static constexpr std::size_t kHeldRows = 256;
  const LogOptions& m_options;
  std::ostream& m_out;
  bool m_bStarted = false;
  bool m_bInDocument = false;
  std::string m_strDocument;
  Glps::EAuditEntryStanding m_eStanding = Glps::eAuditStandingIntact;
  std::vector<std::size_t> m_vWidths;
  bool m_bFixed = false;
  std::vector<std::vector<std::string>> m_vHeld;
};

// RFC 4180, a header row then a row per entry; the verdict goes to standard error only.
class CsvWriter : public EntryWriter {
 public:
  explicit CsvWriter(std::ostream& out) : m_out(out) {}

  void Entry(const KECGlpsAuditEntry& e) override {
    Start();
    std::string row =
        CsvCell(e.m_strDocument) + ',' + std::to_string(e.m_nOffset) + ',' +
        std::to_string(e.m_nLength) + ',' + (e.m_bSaved ? "yes" : "no") + ',' +
        KECGlpsAudit::StandingName(e.m_eStanding) + ',' + KECGlpsAudit::EntryKindName(e.m_eKind) +
        ',' + (IsTimed(e) ? std::to_string(e.m_nNumber) : std::string()) + ',' +
        CsvCell(e.m_strDate) + ',' + CsvCell(e.m_strTime) + ',' + CsvCell(e.m_strUser) + ',' +
        (e.m_bBold ? "yes" : "no") + ',' + CsvCell(e.m_strMessage) + ',' + CsvCell(e.m_strContext) +
        ',' + CsvCell(EscapedDetails(e), true) + "\r\n";
    m_out.write(row.data(), static_cast<std::streamsize>(row.size()));
  }

  void End(const KECGlpsAuditReport&, const Tally&) override { Start(); }

 private:
  // The detail lines, each escaped, one a line.
  static std::string EscapedDetails(const KECGlpsAuditEntry& e) {
    std::string text;
    for (const std::string& line : e.m_vDetails)
      text += (text.empty() ? "" : "\n") + Printable(line);
    return text;
  }

  void Start() {
    if (m_bStarted) return;
    m_bStarted = true;
    m_out << "document,offset,length,saved,standing,kind,number,date,time,user,bold,message,"
             "context,details\r\n";
  }

  std::ostream& m_out;
  bool m_bStarted = false;
};

// JSON Lines (docs/json.md): a first object naming the log, one object per entry, a last object
// with the summary and the verdict.
class JsonWriter : public EntryWriter {
 public:
  JsonWriter(const LogOptions& options, std::ostream& out) : m_options(options), m_out(out) {}

  void Entry(const KECGlpsAuditEntry& e) override {
    Start();
    const auto nullIfEmpty = [](const std::string& s) {
      return s.empty() ? Json(nullptr) : Json(s);
    };
    Json item;
    item["type"] = "entry";
    AddExactText(&item, "document", e.m_strDocument);
    item["offset"] = e.m_nOffset;
    item["length"] = e.m_nLength;
    item["saved"] = e.m_bSaved;
    item["standing"] = KECGlpsAudit::StandingName(e.m_eStanding);
    item["kind"] = KECGlpsAudit::EntryKindName(e.m_eKind);
    item["number"] = IsTimed(e) ? Json(e.m_nNumber) : Json(nullptr);
    item["date"] = nullIfEmpty(e.m_strDate);
    item["time"] = nullIfEmpty(e.m_strTime);
    item["user"] = IsTimed(e) ? Json(e.m_strUser) : Json(nullptr);
    item["message"] = e.m_strMessage;
    item["bold"] = e.m_bBold;
    item["context"] = e.m_bHasContext ? Json(e.m_strContext) : Json(nullptr);
    item["details"] = e.m_vDetails;
    WriteJson(item, false, m_out);
  }

  void End(const KECGlpsAuditReport& report, const Tally& tally) override {
    Start();
    Json summary;
    summary["type"] = "summary";
    summary["application_log"] = report.m_state.m_header.m_eContentType == 533;
    summary["entries"] = tally.entries;
    summary["time_range"] =
        tally.first.empty() ? Json(nullptr) : Json{{"first", tally.first}, {"last", tally.last}};
    summary["not_intact"] = {
        {"entries", tally.NotIntact()},
        {"modified", tally.standings[Glps::eAuditStandingModified]},
        {"unsaved_tail", tally.standings[Glps::eAuditStandingUnsavedTail]},
        {"unrecorded_document", tally.standings[Glps::eAuditStandingUnrecorded]}};
    const Glps::EAuditVerdict verdict = report.Verdict();
    summary["verdict"] = VerdictName(verdict);
    summary["exit_status"] = static_cast<int>(verdict);
    summary["result"] = ToUtf8Lossy(VerdictLine(report, false));
    summary["tamper_entries"] = report.RecordedTamperCount();
    summary["events"] = EventsJson(report);
    summary["problems"] = Json::array();
    for (const std::string& problem : KECGlpsAudit::UnreadDocuments(report)) {
      summary["problems"].push_back(ToUtf8Lossy(problem));
    }
    WriteJson(summary, false, m_out);
  }

 private:
  void Start() {
    if (m_bStarted) return;
    m_bStarted = true;
    Json header = JsonDocument();
    header["type"] = "log";
    header["read_at"] = TimeOfCheck();
    AddExactText(&header, "directory", m_options.directory);
    WriteJson(header, false, m_out);
  }

  const LogOptions& m_options;
  std::ostream& m_out;
  bool m_bStarted = false;
};

}  // namespace

bool ParseTimeBound(const std::string& text, bool end, TimeBound* bound) {
  if (text.size() < 10 || !Digits(text, 0, 4) || text[4] != '-' || !Digits(text, 5, 2) ||
      text[7] != '-' || !Digits(text, 8, 2)) {
    return false;
  }
  const int month = Number(text, 5, 2);
  const int day = Number(text, 8, 2);
  if (month < 1 || month > 12 || day < 1 || day > 31) return false;
  std::string clock = end ? "23:59:59" : "00:00:00";
  std::size_t at = 10;
  if (at < text.size() && (text[at] == 'T' || text[at] == ' ')) {
    if (!Digits(text, at + 1, 2) || text.compare(at + 3, 1, ":") != 0 || !Digits(text, at + 4, 2)) {
      return false;
    }
    clock = text.substr(at + 1, 5) + (end ? ":59" : ":00");
    at += 6;
    if (text.compare(at, 1, ":") == 0 && Digits(text, at + 1, 2)) {
      clock = text.substr(at - 5, 8);
      at += 3;
    }
    if (Number(clock, 0, 2) > 23 || Number(clock, 3, 2) > 59 || Number(clock, 6, 2) > 60) {
      return false;
    }
  }
  long long offset = 0;
  std::size_t length = 0;
  if (at < text.size() && text[at] == 'Z') {
    bound->zoned = true;
    ++at;
  } else if (ParseOffset(text, at, &offset, &length)) {
    bound->zoned = true;
    at += length;
  } else {
    bound->zoned = false;
  }
  if (at != text.size()) return false;
  bound->local = text.substr(0, 10) + " " + clock;
  bound->utc =
      DaysFromCivil(Number(text, 0, 4), static_cast<unsigned>(month), static_cast<unsigned>(day)) *
          86400 +
      Number(clock, 0, 2) * 3600LL + Number(clock, 3, 2) * 60LL + Number(clock, 6, 2) - offset;
  return true;
}

std::string CsvCell(const std::string& text, bool lineFeeds) {
  std::string cell;
  if (lineFeeds) {
    // Each line escaped on its own, the line feeds between them kept.
    std::size_t from = 0;
    for (;;) {
      const std::size_t end = text.find('\n', from);
      cell += Printable(text.substr(from, end == std::string::npos ? end : end - from));
      if (end == std::string::npos) break;
      cell += '\n';
      from = end + 1;
    }
  } else {
    cell = Printable(text);
  }
  // A cell a spreadsheet would take for a formula is made text.
  if (!cell.empty() && std::string("=+-@\t\r").find(cell[0]) != std::string::npos) {
    cell.insert(0, 1, '\'');
  }
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

int RunLog(const LogOptions& options, std::ostream& out, std::ostream& err) {
  KECGlpsAuditRequest request;
  KECGlpsLogInfo info;
  if (!options.info.empty()) {
    if (!ParseLogInfo(options.info, &info)) {
      err << "glps log: --info wants HASH:SIZE, not '" << Printable(options.info) << "'\n";
      return 2;
    }
    request.m_pInfo = &info;
  }
  if (!options.sealKey.empty()) {
    if (!KECGlpsSeal::IsVerificationKey(options.sealKey)) {
      err << "glps log: --seal-key wants the verification key that `glps seal init` printed: 64 "
             "hexadecimal digits (blanks and '-' between them are ignored)\n";
      return 2;
    }
    request.m_strSealKey = options.sealKey;
  }
  std::unique_ptr<EntryWriter> writer;
  switch (options.format) {
    case LogOptions::Format::kText: writer = std::make_unique<TextWriter>(options, out); break;
    case LogOptions::Format::kCsv: writer = std::make_unique<CsvWriter>(out); break;
    case LogOptions::Format::kJson: writer = std::make_unique<JsonWriter>(options, out); break;
  }
  Tally tally;
  Selection selection([&](const KECGlpsAuditEntry& entry) {
    tally.Add(entry);
    if (!options.quiet) writer->Entry(entry);
  });
  std::string error;
  if (!selection.Init(options, &error)) {
    err << "glps log: " << Printable(error) << '\n';
    return 2;
  }
  // The entries are written as verification reads them, from the bytes it fingerprints.
  request.m_entries = [&selection](KECGlpsAuditEntry& entry) { selection.Offer(entry); };
  const KECGlpsAuditReport report = KECGlpsAudit::Verify(options.directory, request);
  selection.Finish();
  const Glps::EAuditVerdict verdict = report.Verdict();
  if (options.quiet) return verdict;
  if (!report.m_strError.empty()) {
    err << "glps log: " << Printable(report.m_strError) << '\n';
    return verdict;
  }
  writer->End(report, tally);
  out.flush();
  for (const std::string& problem : KECGlpsAudit::UnreadDocuments(report)) {
    err << "glps log: not read: " << Printable(problem) << '\n';
  }
  if (verdict != Glps::eAuditIntact) {
    err << "glps log: " << VerdictLine(report, false) << '\n';
    // CSV has no place for them.
    if (options.format == LogOptions::Format::kCsv) PrintEvents(report, err);
  }
  if (tally.NotIntact() != 0) {
    err << "glps log: WARNING: " << NotIntactText(tally)
        << " of those shown come from bytes that are not as log.xml records them\n";
  }
  return verdict;
}

}  // namespace glps_tool
