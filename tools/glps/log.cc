// SPDX-License-Identifier: Apache-2.0
#include "log.h"

#include <regex.h>

#include <cstdlib>
#include <memory>

#include "text.h"

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

std::string Csv(const std::string& field) {
  if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
  std::string quoted = "\"";
  for (char c : field) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

std::string Details(const KECGlpsAuditEntry& entry) {
  std::string text;
  for (const std::string& line : entry.m_vDetails) text += (text.empty() ? "" : "\n") + line;
  return text;
}

// The first and the last timed entry of a selection ("" when there is none).
std::pair<std::string, std::string> TimeRange(
    const std::vector<const KECGlpsAuditEntry*>& entries) {
  std::pair<std::string, std::string> range;
  for (const KECGlpsAuditEntry* entry : entries) {
    if (!IsTimed(*entry)) continue;
    const std::string when = entry->m_strDate + " " + entry->m_strTime;
    if (range.first.empty()) range.first = when;
    range.second = when;
  }
  return range;
}

struct RegexFree {
  void operator()(regex_t* regex) const {
    regfree(regex);
    delete regex;
  }
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

bool SelectEntries(const KECGlpsAuditTrail& trail, const LogOptions& options,
                   std::vector<const KECGlpsAuditEntry*>* selected, std::string* error) {
  TimeBound from;
  TimeBound to;
  if (!options.from.empty() && !ParseTimeBound(options.from, false, &from)) {
    *error = "--from wants YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM], not '" + options.from + "'";
    return false;
  }
  if (!options.to.empty() && !ParseTimeBound(options.to, true, &to)) {
    *error = "--to wants YYYY-MM-DD[THH:MM[:SS]][Z|+HH:MM], not '" + options.to + "'";
    return false;
  }
  std::unique_ptr<regex_t, RegexFree> regex;
  if (!options.grep.empty()) {
    regex.reset(new regex_t);
    const int flags = REG_EXTENDED | REG_NOSUB | (options.ignoreCase ? REG_ICASE : 0);
    const int failed = regcomp(regex.get(), options.grep.c_str(), flags);
    if (failed != 0) {
      char message[256];
      regerror(failed, regex.get(), message, sizeof(message));
      delete regex.release();
      *error = "--grep: " + std::string(message);
      return false;
    }
  }

  const std::vector<KECGlpsAuditEntry>& entries = trail.m_vEntries;
  // The time each entry is judged by: its own, else that of the message before it, else that of
  // the first timed entry.
  std::vector<TimeBound> times(entries.size());
  std::vector<bool> known(entries.size(), false);
  TimeBound last;
  bool haveLast = false;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    TimeBound own;
    if (IsTimed(entries[i]) && EntryTime(entries[i], &own)) {
      last = own;
      haveLast = true;
    }
    if (haveLast) {
      times[i] = last;
      known[i] = true;
    }
  }
  for (std::size_t i = entries.size(); i-- > 0;) {
    if (known[i]) {
      last = times[i];
      haveLast = true;
    } else if (haveLast && i + 1 < entries.size() && known[i + 1]) {
      times[i] = times[i + 1];
      known[i] = true;
    }
  }

  for (std::size_t i = 0; i < entries.size(); ++i) {
    const KECGlpsAuditEntry& entry = entries[i];
    if (!options.from.empty() && (!known[i] || Before(times[i], from))) continue;
    if (!options.to.empty() && (!known[i] || Before(to, times[i]))) continue;
    if (regex) {
      const std::string text = entry.m_strMessage + "\n" + entry.m_strContext + "\n" +
                               entry.m_strUser + "\n" + Details(entry);
      if (regexec(regex.get(), text.c_str(), 0, nullptr, 0) != 0) continue;
    }
    selected->push_back(&entry);
  }
  return true;
}

Json LogJson(const KECGlpsAuditTrail& trail, const std::vector<const KECGlpsAuditEntry*>& entries) {
  Json json = JsonDocument();
  json["read_at"] = TimeOfCheck();
  AddExactText(&json, "directory", trail.m_strDirectory);
  json["application_log"] = trail.m_bApplicationLog;
  const auto range = TimeRange(entries);
  json["time_range"] =
      range.first.empty() ? Json(nullptr) : Json{{"first", range.first}, {"last", range.second}};
  const auto nullIfEmpty = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
  Json items = Json::array();
  for (const KECGlpsAuditEntry* entry : entries) {
    Json item;
    AddExactText(&item, "document", entry->m_strDocument);
    item["offset"] = entry->m_nOffset;
    item["length"] = entry->m_nLength;
    item["saved"] = entry->m_bSaved;
    item["kind"] = KECGlpsAudit::EntryKindName(entry->m_eKind);
    item["number"] = IsTimed(*entry) ? Json(entry->m_nNumber) : Json(nullptr);
    item["date"] = nullIfEmpty(entry->m_strDate);
    item["time"] = nullIfEmpty(entry->m_strTime);
    item["user"] = IsTimed(*entry) ? Json(entry->m_strUser) : Json(nullptr);
    item["message"] = entry->m_strMessage;
    item["bold"] = entry->m_bBold;
    item["context"] = entry->m_bHasContext ? Json(entry->m_strContext) : Json(nullptr);
    item["details"] = entry->m_vDetails;
    items.push_back(item);
  }
  json["entries"] = items;
  json["problems"] = trail.m_vProblems;
  return json;
}

void PrintLogCsv(const std::vector<const KECGlpsAuditEntry*>& entries, std::ostream& out) {
  out << "document,offset,length,saved,kind,number,date,time,user,bold,message,context,details\r\n";
  for (const KECGlpsAuditEntry* e : entries) {
    out << Csv(e->m_strDocument) << ',' << e->m_nOffset << ',' << e->m_nLength << ','
        << (e->m_bSaved ? "yes" : "no") << ',' << KECGlpsAudit::EntryKindName(e->m_eKind) << ','
        << (IsTimed(*e) ? std::to_string(e->m_nNumber) : std::string()) << ',' << Csv(e->m_strDate)
        << ',' << Csv(e->m_strTime) << ',' << Csv(e->m_strUser) << ','
        << (e->m_bBold ? "yes" : "no") << ',' << Csv(e->m_strMessage) << ',' << Csv(e->m_strContext)
        << ',' << Csv(Details(*e)) << "\r\n";
  }
}

void PrintLogText(const KECGlpsAuditTrail& trail,
                  const std::vector<const KECGlpsAuditEntry*>& entries, std::ostream& out) {
  out << "log directory: " << Printable(trail.m_strDirectory)
      << (trail.m_bApplicationLog ? " (application log)" : " (experiment log)") << '\n';
  std::size_t counts[10] = {};
  for (const KECGlpsAuditEntry* entry : entries) ++counts[entry->m_eKind % 10];
  const auto range = TimeRange(entries);
  out << "entries:       " << entries.size() << " (" << counts[Glps::eAuditEntryMessage]
      << " messages, " << counts[Glps::eAuditEntryStart] << " starts, "
      << counts[Glps::eAuditEntryExit] << " exits, " << counts[Glps::eAuditEntryCrash] << " crash, "
      << counts[Glps::eAuditEntryTamper] << " tamper, " << counts[Glps::eAuditEntryExtraNote]
      << " extra notes)\n";
  out << "time range:    "
      << (range.first.empty() ? std::string("none") : range.first + " to " + range.second) << '\n';

  std::string document;
  std::vector<std::vector<std::string>> rows;
  const auto flush = [&]() {
    if (!rows.empty()) PrintTable(out, rows, {true, true, false, false, false, false, false}, "  ");
    rows.clear();
  };
  for (const KECGlpsAuditEntry* e : entries) {
    if (e->m_strDocument != document) {
      flush();
      document = e->m_strDocument;
      out << '\n' << Printable(document) << '\n';
      rows.push_back({"offset", "no.", "date", "time", "user", "kind", "entry"});
    }
    std::string kind = KECGlpsAudit::EntryKindName(e->m_eKind);
    if (!e->m_bSaved) kind += " (unsaved)";
    std::string text = Printable(e->m_strMessage);
    if (e->m_bHasContext) text += ":  '" + Printable(e->m_strContext) + "'";
    rows.push_back({std::to_string(e->m_nOffset), IsTimed(*e) ? std::to_string(e->m_nNumber) : "",
                    Printable(e->m_strDate), Printable(e->m_strTime), Printable(e->m_strUser), kind,
                    text});
    for (const std::string& line : e->m_vDetails) {
      rows.push_back({"", "", "", "", "", "", "     " + Printable(line)});
    }
  }
  flush();
}

int RunLog(const LogOptions& options, std::ostream& out, std::ostream& err) {
  const KECGlpsAuditTrail trail = KECGlpsAudit::ReadTrail(options.directory);
  if (!trail.m_strError.empty()) {
    if (!options.quiet) err << "glps log: " << Printable(trail.m_strError) << '\n';
    return 4;
  }
  std::vector<const KECGlpsAuditEntry*> selected;
  std::string error;
  if (!SelectEntries(trail, options, &selected, &error)) {
    err << "glps log: " << Printable(error) << '\n';
    return 2;
  }
  for (const std::string& problem : trail.m_vProblems) {
    if (!options.quiet) err << "glps log: " << Printable(problem) << '\n';
  }
  const int status = trail.m_vProblems.empty() ? 0 : 4;
  if (options.quiet) return status;
  switch (options.format) {
    case LogOptions::Format::kJson: WriteJson(LogJson(trail, selected), true, out); break;
    case LogOptions::Format::kCsv: PrintLogCsv(selected, out); break;
    case LogOptions::Format::kText: PrintLogText(trail, selected, out); break;
  }
  return status;
}

}  // namespace glps_tool
