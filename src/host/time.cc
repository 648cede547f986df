// SPDX-License-Identifier: Apache-2.0
// KCGenTime: instants, local display texts and the stream text form.
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <limits>
#include <ostream>

#include "glps/host/gen.h"

namespace {

constexpr std::int64_t kMicrosPerSecond = 1000000;
constexpr std::int64_t kSecondsPerDay = 86400;
const char kNullText[] = "null";
// Longer than any valid text form ("-292277-01-09T04:00:54.775808Z" has 30 characters).
constexpr std::size_t kMaxTextLength = 40;

// Division rounding towards minus infinity, with the matching non-negative remainder.
void FloorDivide(std::int64_t value, std::int64_t divisor, std::int64_t* quotient,
                 std::int64_t* remainder) {
  std::int64_t q = value / divisor;
  std::int64_t r = value % divisor;
  if (r < 0) {
    --q;
    r += divisor;
  }
  *quotient = q;
  *remainder = r;
}

// Proleptic Gregorian calendar, days counted from 1970-01-01. Valid for every day count that a
// 64-bit microsecond count can reach (and far beyond).
std::int64_t DaysFromCivil(std::int64_t y, std::int64_t m, std::int64_t d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t* year, unsigned* month, unsigned* day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<unsigned>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<unsigned>(mp < 10 ? mp + 3 : mp - 9);
  *year = yoe + era * 400 + (*month <= 2);
}

bool IsLeapYear(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

unsigned DaysInMonth(std::int64_t y, unsigned m) {
  static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : kDays[m - 1];
}

// Reads exactly count decimal digits at text[*pos]; false when they are not all digits.
bool ReadDigits(const std::string& text, std::size_t* pos, std::size_t count, std::int64_t* value) {
  if (text.size() < *pos + count) return false;
  std::int64_t v = 0;
  for (std::size_t i = 0; i < count; ++i) {
    const char c = text[*pos + i];
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *pos += count;
  *value = v;
  return true;
}

bool Expect(const std::string& text, std::size_t* pos, char c) {
  if (*pos >= text.size() || text[*pos] != c) return false;
  ++*pos;
  return true;
}

// Parses the text form of an instant; false for anything else or an instant outside the range.
bool ParseInstant(const std::string& text, std::int64_t* microseconds) {
  std::size_t pos = 0;
  const bool negativeYear = !text.empty() && text[0] == '-';
  if (negativeYear) ++pos;
  std::size_t yearDigits = 0;
  while (pos + yearDigits < text.size() && text[pos + yearDigits] >= '0' &&
         text[pos + yearDigits] <= '9') {
    ++yearDigits;
  }
  // Seven digits cover every representable year with room to spare; the range check is below.
  if (yearDigits < 4 || yearDigits > 7) return false;
  std::int64_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, fraction = 0;
  if (!ReadDigits(text, &pos, yearDigits, &year)) return false;
  if (negativeYear) year = -year;
  if (!Expect(text, &pos, '-') || !ReadDigits(text, &pos, 2, &month) || !Expect(text, &pos, '-') ||
      !ReadDigits(text, &pos, 2, &day) || !Expect(text, &pos, 'T') ||
      !ReadDigits(text, &pos, 2, &hour) || !Expect(text, &pos, ':') ||
      !ReadDigits(text, &pos, 2, &minute) || !Expect(text, &pos, ':') ||
      !ReadDigits(text, &pos, 2, &second) || !Expect(text, &pos, '.') ||
      !ReadDigits(text, &pos, 6, &fraction) || !Expect(text, &pos, 'Z') || pos != text.size()) {
    return false;
  }
  if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, static_cast<unsigned>(month)) ||
      hour > 23 || minute > 59 || second > 59) {
    return false;
  }
  const std::int64_t days = DaysFromCivil(year, month, day);
  const std::int64_t seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  // Wide arithmetic: the smallest instant is only reached after adding the fraction.
  const __int128 result = static_cast<__int128>(seconds) * kMicrosPerSecond + fraction;
  if (result < std::numeric_limits<std::int64_t>::min() ||
      result > std::numeric_limits<std::int64_t>::max()) {
    return false;
  }
  *microseconds = static_cast<std::int64_t>(result);
  return true;
}

// What this thread last knew of local time: the zone rules it last brought up to date and the last
// second it converted. Trivially destructible, so that the thread-local state does not keep the
// library loaded.
struct LocalTimeState {
  // TZ was set at the last refresh, with the value in `tz` (when it fitted: a longer value is never
  // taken for the same).
  bool tzSet = false;
  bool tzKept = false;
  char tz[256] = {};
  // Without TZ: the second (of the monotonic clock) in which the system's zone file was last
  // looked at.
  bool systemZoneChecked = false;
  time_t checkedInSecond = 0;
  // The last second converted, kept while the zone rules stay the same: the date and time texts of
  // every entry made within one second come from one conversion.
  bool lastValid = false;
  time_t lastSecond = 0;
  struct tm lastLocal = {};
};
thread_local LocalTimeState t_localTime;

// Brings the zone rules up to date before a conversion, which localtime_r alone need not do. With
// TZ set, tzset runs every time: it costs no system call while TZ keeps its value, and a new value
// (or rules someone else loaded meanwhile) counts at once. Without TZ, tzset looks at the system's
// zone file (a stat) on every call; that look is made at most once a second per thread, so a change
// of the system's zone counts within a second. Returns false when the rules are those of the last
// call on this thread: the same TZ value, or no TZ and no new look at the system's zone.
bool RefreshTimeZone(LocalTimeState& state) {
  const char* tz = std::getenv("TZ");
  if (tz != nullptr) {
    tzset();
    state.systemZoneChecked = false;
    if (state.tzSet && state.tzKept && std::strcmp(state.tz, tz) == 0) return false;
    state.tzSet = true;
    const std::size_t length = std::strlen(tz);
    state.tzKept = length < sizeof state.tz;
    if (state.tzKept) std::memcpy(state.tz, tz, length + 1);
    return true;
  }
  const bool tzWasSet = state.tzSet;
  state.tzSet = false;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  if (!tzWasSet && state.systemZoneChecked && now.tv_sec == state.checkedInSecond) return false;
  tzset();
  state.systemZoneChecked = true;
  state.checkedInSecond = now.tv_sec;
  return true;
}

// Writes `value` (0 or more, fewer than `width` digits wide) as `width` decimal digits, with
// leading zeros.
void PutDigits(char* at, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    at[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
}

// The instant's local broken-down time and its sub-second microseconds; false when the system
// cannot convert it.
bool ToLocal(std::int64_t microseconds, struct tm* local, std::int64_t* fraction) {
  std::int64_t seconds = 0;
  FloorDivide(microseconds, kMicrosPerSecond, &seconds, fraction);
  if (seconds < std::numeric_limits<time_t>::min() ||
      seconds > std::numeric_limits<time_t>::max()) {
    return false;
  }
  const time_t t = static_cast<time_t>(seconds);
  LocalTimeState& state = t_localTime;
  const bool rulesChanged = RefreshTimeZone(state);
  if (!rulesChanged && state.lastValid && state.lastSecond == t) {
    *local = state.lastLocal;
    return true;
  }
  state.lastValid = false;
  if (localtime_r(&t, local) == nullptr) return false;
  state.lastValid = true;
  state.lastSecond = t;
  state.lastLocal = *local;
  return true;
}

}  // namespace

KCGenTime::KCGenTime(bool now) : m_bNull(true), m_lMicroseconds(0) {
  if (now) SetNow();
}

void KCGenTime::SetNull() {
  m_bNull = true;
  m_lMicroseconds = 0;
}

void KCGenTime::SetMicroseconds(std::int64_t microseconds) {
  m_bNull = false;
  m_lMicroseconds = microseconds;
}

void KCGenTime::SetNow() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  SetMicroseconds(static_cast<std::int64_t>(ts.tv_sec) * kMicrosPerSecond + ts.tv_nsec / 1000);
}

KCGenTime KCGenTime::FromMicroseconds(std::int64_t microseconds) {
  KCGenTime time;
  time.SetMicroseconds(microseconds);
  return time;
}

bool KCGenTime::DateString(std::string* out) const {
  if (out == nullptr) return false;
  out->clear();
  struct tm local;
  std::int64_t fraction = 0;
  if (m_bNull || !ToLocal(m_lMicroseconds, &local, &fraction)) return false;
  const long long year = static_cast<long long>(local.tm_year) + 1900;
  if (year < 0 || year > 9999) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02d-%02d", year, local.tm_mon + 1, local.tm_mday);
    *out = buffer;
    return true;
  }
  char buffer[10];
  PutDigits(buffer, static_cast<int>(year), 4);
  buffer[4] = '-';
  PutDigits(buffer + 5, local.tm_mon + 1, 2);
  buffer[7] = '-';
  PutDigits(buffer + 8, local.tm_mday, 2);
  out->assign(buffer, sizeof buffer);
  return true;
}

bool KCGenTime::TimeString(std::string* out, bool withMilliseconds) const {
  if (out == nullptr) return false;
  out->clear();
  struct tm local;
  std::int64_t fraction = 0;
  if (m_bNull || !ToLocal(m_lMicroseconds, &local, &fraction)) return false;
  // "HH:MM:SS", ".mmm", " +HH:MM", ":SS"; an offset of 100 hours and more cannot occur.
  char buffer[32];
  char* p = buffer;
  PutDigits(p, local.tm_hour, 2);
  p[2] = ':';
  PutDigits(p + 3, local.tm_min, 2);
  p[5] = ':';
  PutDigits(p + 6, local.tm_sec, 2);
  p += 8;
  if (withMilliseconds) {
    *p++ = '.';
    PutDigits(p, static_cast<int>(fraction / 1000), 3);
    p += 3;
  }
  const long offset = local.tm_gmtoff;
  const long magnitude = offset < 0 ? -offset : offset;
  *p++ = ' ';
  *p++ = offset < 0 ? '-' : '+';
  PutDigits(p, static_cast<int>(magnitude / 3600 % 100), 2);
  p[2] = ':';
  PutDigits(p + 3, static_cast<int>(magnitude / 60 % 60), 2);
  p += 5;
  if (magnitude % 60 != 0) {
    *p++ = ':';
    PutDigits(p, static_cast<int>(magnitude % 60), 2);
    p += 2;
  }
  out->assign(buffer, static_cast<std::size_t>(p - buffer));
  return true;
}

std::string KCGenTime::ToString() const {
  if (m_bNull) return kNullText;
  std::int64_t seconds = 0, fraction = 0, days = 0, secondOfDay = 0;
  FloorDivide(m_lMicroseconds, kMicrosPerSecond, &seconds, &fraction);
  FloorDivide(seconds, kSecondsPerDay, &days, &secondOfDay);
  std::int64_t year = 0;
  unsigned month = 0, day = 0;
  CivilFromDays(days, &year, &month, &day);
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s%04lld-%02u-%02uT%02lld:%02lld:%02lld.%06lldZ",
                year < 0 ? "-" : "", static_cast<long long>(year < 0 ? -year : year), month, day,
                static_cast<long long>(secondOfDay / 3600),
                static_cast<long long>(secondOfDay / 60 % 60),
                static_cast<long long>(secondOfDay % 60), static_cast<long long>(fraction));
  return buffer;
}

bool KCGenTime::FromString(const std::string& text) {
  if (text == kNullText) {
    SetNull();
    return true;
  }
  std::int64_t microseconds = 0;
  if (!ParseInstant(text, &microseconds)) return false;
  SetMicroseconds(microseconds);
  return true;
}

std::ostream& operator<<(std::ostream& os, const KCGenTime& time) { return os << time.ToString(); }

std::istream& operator>>(std::istream& is, KCGenTime& time) {
  std::istream::sentry sentry(is);
  if (!sentry) return is;
  std::streambuf* buf = is.rdbuf();
  std::string text;
  std::ios::iostate state = std::ios::goodbit;
  for (;;) {
    const auto c = buf->sgetc();
    if (std::char_traits<char>::eq_int_type(c, std::char_traits<char>::eof())) {
      state |= std::ios::eofbit;
      break;
    }
    const char ch = std::char_traits<char>::to_char_type(c);
    if (ch == '<' || ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\v' ||
        ch == '\f') {
      break;
    }
    if (text.size() == kMaxTextLength) {
      // Too long for any valid form; stop reading rather than swallow unbounded input.
      state |= std::ios::failbit;
      break;
    }
    text += ch;
    buf->sbumpc();
  }
  if (!(state & std::ios::failbit) && !time.FromString(text)) state |= std::ios::failbit;
  is.setstate(state);
  return is;
}
