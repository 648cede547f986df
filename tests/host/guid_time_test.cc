// SPDX-License-Identifier: Apache-2.0
// GUIDs, times, the standard file header, the version and the string helpers.
#include <time.h>

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "glps/host/gen.h"

namespace {

const char kGuidText[] = "{D15149F8-F127-4781-B1F6-3C762D712E15}";

// ---- KCGenGUID ----------------------------------------------------------------------------------

TEST(GenGuid, ParsesBracedTextInAnyCaseAndWritesUpperCase) {
  struct Case {
    std::string text;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {kGuidText, kGuidText},
      {"{d15149f8-f127-4781-b1f6-3c762d712e15}", kGuidText},
      {"{d15149F8-f127-4781-B1f6-3C762d712e15}", kGuidText},
      {"{00000000-0000-0000-0000-000000000001}", "{00000000-0000-0000-0000-000000000001}"},
      {"{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}", "{FFFFFFFF-FFFF-FFFF-FFFF-FFFFFFFFFFFF}"},
  };
  for (const Case& c : cases) {
    const KCGenGUID guid(c.text);
    EXPECT_FALSE(guid.IsNull()) << c.text;
    EXPECT_EQ(guid.ToString(), c.expected) << c.text;
    std::ostringstream out;
    out << guid;
    EXPECT_EQ(out.str(), c.expected);
  }
  // A string literal must take the text constructor, not the bool one.
  EXPECT_EQ(KCGenGUID(kGuidText), KCGenGUID(std::string(kGuidText)));
  EXPECT_FALSE(KCGenGUID(kGuidText).IsNull());
}

TEST(GenGuid, TextThatIsNotAGuidGivesTheNullGuid) {
  const std::vector<std::string> bad = {
      "",
      "D15149F8-F127-4781-B1F6-3C762D712E15",     // no braces
      "{D15149F8-F127-4781-B1F6-3C762D712E15",    // no closing brace
      "{D15149F8-F127-4781-B1F6-3C762D712E1}",    // one digit short
      "{D15149F8-F127-4781-B1F6-3C762D712E155}",  // one digit too many
      "{D15149F8F127-4781-B1F6-3C762D712E15-}",   // dash misplaced
      "{G15149F8-F127-4781-B1F6-3C762D712E15}",   // not hexadecimal
      " {D15149F8-F127-4781-B1F6-3C762D712E15}",  // leading blank
      "{D15149F8-F127-4781-B1F6-3C762D712E15} ",  // trailing blank
      "(D15149F8-F127-4781-B1F6-3C762D712E15)",
      std::string("{D15149F8-F127-4781-B1F6-3C762D712E1\0}", 38),
  };
  for (const std::string& text : bad) {
    EXPECT_TRUE(KCGenGUID(text).IsNull()) << text;
    KCGenGUID kept(kGuidText);
    EXPECT_FALSE(kept.FromString(text)) << text;
    EXPECT_EQ(kept, KCGenGUID(kGuidText)) << "value changed by " << text;
  }
  EXPECT_TRUE(KCGenGUID(static_cast<const char*>(nullptr)).IsNull());
  EXPECT_TRUE(KCGenGUID().IsNull());
  EXPECT_TRUE(KCGenGUID(false).IsNull());
  EXPECT_EQ(KCGenGUID().ToString(), "{00000000-0000-0000-0000-000000000000}");
}

TEST(GenGuid, GeneratedGuidsAreRandomVersion4) {
  const KCGenGUID a(true);
  const KCGenGUID b(true);
  EXPECT_FALSE(a.IsNull());
  EXPECT_NE(a, b);
  for (const KCGenGUID& g : {a, b}) {
    const std::string text = g.ToString();
    EXPECT_EQ(text[15], '4') << text;
    EXPECT_NE(std::string("89AB").find(text[20]), std::string::npos) << text;
    EXPECT_EQ(KCGenGUID(text), g);
  }
}

TEST(GenGuid, StreamInputReadsBackAndStopsAtTheClosingBrace) {
  const KCGenGUID original(true);
  std::stringstream stream;
  stream << "  " << original << "</m_guid>";
  KCGenGUID read;
  ASSERT_TRUE(stream >> read);
  EXPECT_EQ(read, original);
  EXPECT_EQ(stream.peek(), '<');

  // The null GUID round-trips too, and a GUID may end the stream.
  std::stringstream nullStream;
  nullStream << KCGenGUID();
  KCGenGUID fromNull(kGuidText);
  ASSERT_TRUE(nullStream >> fromNull);
  EXPECT_TRUE(fromNull.IsNull());
}

TEST(GenGuid, StreamInputFailsOnAnythingElseAndKeepsTheValue) {
  const std::vector<std::string> bad = {
      "",
      "   ",
      "null",
      "{D15149F8-F127-4781-B1F6-3C762D712E1}</m_guid>",
      "{D15149F8-F127-4781-B1F6-3C762D712E1",
      "{D15149F8_F127-4781-B1F6-3C762D712E15}",
      "D15149F8-F127-4781-B1F6-3C762D712E15",
  };
  for (const std::string& text : bad) {
    std::istringstream in(text);
    KCGenGUID guid(kGuidText);
    in >> guid;
    EXPECT_TRUE(in.fail()) << text;
    EXPECT_EQ(guid, KCGenGUID(kGuidText)) << text;
  }
  // The character that does not fit is left in the stream.
  std::istringstream in("{D15149F8-F127-4781-B1F6-3C762D712E1}");
  KCGenGUID guid;
  in >> guid;
  EXPECT_TRUE(in.fail());
  in.clear();
  EXPECT_EQ(in.get(), '}');
}

// ---- KCGenTime: stream form ---------------------------------------------------------------------

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

TEST(GenTime, TextFormOfKnownInstants) {
  struct Case {
    std::int64_t micros;
    std::string text;
  };
  const std::vector<Case> cases = {
      {0, "1970-01-01T00:00:00.000000Z"},
      {-1, "1969-12-31T23:59:59.999999Z"},
      {1700000000123456, "2023-11-14T22:13:20.123456Z"},
      {951782400000000, "2000-02-29T00:00:00.000000Z"},
      {-62135596800000000, "0001-01-01T00:00:00.000000Z"},
      {-62135596800000001, "0000-12-31T23:59:59.999999Z"},
      {253402300799999999, "9999-12-31T23:59:59.999999Z"},
      {253402300800000000, "10000-01-01T00:00:00.000000Z"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(KCGenTime::FromMicroseconds(c.micros).ToString(), c.text);
    KCGenTime parsed;
    ASSERT_TRUE(parsed.FromString(c.text)) << c.text;
    EXPECT_EQ(parsed.GetMicroseconds(), c.micros) << c.text;
  }
  EXPECT_EQ(KCGenTime().ToString(), "null");
}

TEST(GenTime, TextFormAgreesWithGmtime) {
  // Spread over the years gmtime handles, both sides of the epoch and of leap days.
  for (std::int64_t seconds = -62135596800; seconds < 253402300799; seconds += 987654321) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm utc;
    ASSERT_NE(gmtime_r(&t, &utc), nullptr);
    char expected[64];
    strftime(expected, sizeof expected, "%Y-%m-%dT%H:%M:%S.000042Z", &utc);
    if (utc.tm_year + 1900 < 1000) {
      // strftime does not pad years below 1000 to four digits.
      std::snprintf(expected, sizeof expected, "%04d-%02d-%02dT%02d:%02d:%02d.000042Z",
                    utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                    utc.tm_sec);
    }
    EXPECT_EQ(KCGenTime::FromMicroseconds(seconds * 1000000 + 42).ToString(), expected);
  }
}

TEST(GenTime, StreamRoundTripForEveryKindOfValue) {
  std::vector<KCGenTime> values = {KCGenTime(), KCGenTime(true)};
  for (std::int64_t micros : {std::int64_t{0}, std::int64_t{-1}, std::int64_t{1}, kMax, kMin,
                              kMax - 1, kMin + 1, std::int64_t{1000000000000000000}}) {
    values.push_back(KCGenTime::FromMicroseconds(micros));
  }
  for (const KCGenTime& value : values) {
    std::stringstream stream;
    stream << value;
    const std::string text = stream.str();
    EXPECT_EQ(text.find_first_of(" <\t\n"), std::string::npos) << text;
    stream << "</m_tmCreation>";
    KCGenTime read(true);
    if (value.IsNull()) read = KCGenTime::FromMicroseconds(5);
    ASSERT_TRUE(stream >> read) << text;
    EXPECT_EQ(read, value) << text;
    EXPECT_EQ(read.IsNull(), value.IsNull()) << text;
    EXPECT_EQ(stream.peek(), '<') << text;
  }
}

TEST(GenTime, NullTimeAndInstantZeroAreDifferent) {
  EXPECT_TRUE(KCGenTime().IsNull());
  EXPECT_TRUE(KCGenTime(false).IsNull());
  EXPECT_FALSE(KCGenTime(true).IsNull());
  EXPECT_NE(KCGenTime(), KCGenTime::FromMicroseconds(0));
  EXPECT_EQ(KCGenTime(), KCGenTime());
  KCGenTime t = KCGenTime::FromMicroseconds(7);
  t.SetNull();
  EXPECT_EQ(t, KCGenTime());
}

TEST(GenTime, MalformedOrOutOfRangeTextFails) {
  const std::vector<std::string> bad = {
      "",
      "nul",
      "NULL",
      "nullx",
      "2026-13-01T00:00:00.000000Z",
      "2026-00-01T00:00:00.000000Z",
      "2026-02-29T00:00:00.000000Z",  // not a leap year
      "1900-02-29T00:00:00.000000Z",  // not a leap year either
      "2026-04-31T00:00:00.000000Z",
      "2026-01-00T00:00:00.000000Z",
      "2026-01-01T24:00:00.000000Z",
      "2026-01-01T00:60:00.000000Z",
      "2026-01-01T00:00:60.000000Z",
      "2026-01-01T00:00:00.000000",
      "2026-01-01T00:00:00.00000Z",
      "2026-01-01T00:00:00.0000000Z",
      "2026-01-01T00:00:00Z",
      "2026-1-01T00:00:00.000000Z",
      "+2026-01-01T00:00:00.000000Z",
      "026-01-01T00:00:00.000000Z",
      "2026-01-01t00:00:00.000000Z",
      "2026-01-01T00:00:00.000000Zjunk",
      "12345678-01-01T00:00:00.000000Z",
      "294247-01-10T04:00:54.775808Z",   // one past the largest instant
      "-290308-12-21T19:59:05.224191Z",  // one before the smallest instant
      "9999999-12-31T23:59:59.999999Z",
      "-9999999-01-01T00:00:00.000000Z",
      std::string(1000, '9'),
  };
  for (const std::string& text : bad) {
    KCGenTime time = KCGenTime::FromMicroseconds(123);
    EXPECT_FALSE(time.FromString(text)) << text;
    EXPECT_EQ(time, KCGenTime::FromMicroseconds(123)) << text;

    std::istringstream in(text + "</x>");
    KCGenTime streamed = KCGenTime::FromMicroseconds(123);
    in >> streamed;
    EXPECT_TRUE(in.fail()) << text;
    EXPECT_EQ(streamed, KCGenTime::FromMicroseconds(123)) << text;
  }
  // The extreme instants themselves are accepted.
  KCGenTime t;
  EXPECT_TRUE(t.FromString("294247-01-10T04:00:54.775807Z"));
  EXPECT_EQ(t.GetMicroseconds(), kMax);
  EXPECT_TRUE(t.FromString("-290308-12-21T19:59:05.224192Z"));
  EXPECT_EQ(t.GetMicroseconds(), kMin);
}

TEST(GenTime, StreamInputStopsAtWhiteSpaceAndSkipsLeadingWhiteSpace) {
  std::istringstream in("  1970-01-01T00:00:00.000001Z null next");
  KCGenTime a, b;
  ASSERT_TRUE(in >> a >> b);
  EXPECT_EQ(a, KCGenTime::FromMicroseconds(1));
  EXPECT_TRUE(b.IsNull());
  std::string rest;
  in >> rest;
  EXPECT_EQ(rest, "next");
}

// ---- KCGenTime: display texts -------------------------------------------------------------------

// Sets TZ for one test and restores it afterwards.
class GenTimeLocal : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* tz = std::getenv("TZ");
    m_hadTz = tz != nullptr;
    if (m_hadTz) m_oldTz = tz;
  }
  void TearDown() override {
    if (m_hadTz) {
      setenv("TZ", m_oldTz.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  static void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
  }

 private:
  bool m_hadTz = false;
  std::string m_oldTz;
};

TEST_F(GenTimeLocal, DateAndTimeOfFixedInstantsInSeveralZones) {
  struct Case {
    const char* tz;
    std::int64_t micros;
    std::string date;
    std::string time;
    std::string timeMs;
  };
  // 2026-01-15T12:34:56.789123Z, 2026-07-01T22:30:00.000999Z, 1969-12-31T23:59:59.999999Z.
  const std::vector<Case> cases = {
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1768480496789123, "2026-01-15", "13:34:56 +01:00",
       "13:34:56.789 +01:00"},
      {"CET-1CEST,M3.5.0,M10.5.0/3", 1782945000000999, "2026-07-02", "00:30:00 +02:00",
       "00:30:00.000 +02:00"},
      {"EST5", 1768480496789123, "2026-01-15", "07:34:56 -05:00", "07:34:56.789 -05:00"},
      {"UTC0", -1, "1969-12-31", "23:59:59 +00:00", "23:59:59.999 +00:00"},
      {"IST-5:30", 1768480496789123, "2026-01-15", "18:04:56 +05:30", "18:04:56.789 +05:30"},
      {"<LMT>-0:53:28", 0, "1970-01-01", "00:53:28 +00:53:28", "00:53:28.000 +00:53:28"},
  };
  for (const Case& c : cases) {
    UseZone(c.tz);
    const KCGenTime time = KCGenTime::FromMicroseconds(c.micros);
    std::string date = "stale", timeText = "stale", timeMs = "stale";
    EXPECT_TRUE(time.DateString(&date));
    EXPECT_TRUE(time.TimeString(&timeText, false));
    EXPECT_TRUE(time.TimeString(&timeMs, true));
    EXPECT_EQ(date, c.date) << c.tz;
    EXPECT_EQ(timeText, c.time) << c.tz;
    EXPECT_EQ(timeMs, c.timeMs) << c.tz;
  }
}

// Nobody calls tzset here: a new TZ, and TZ removed and given again (the same value as before),
// count from the next text on.
TEST_F(GenTimeLocal, ChangeOfTzCountsAtOnce) {
  const KCGenTime time = KCGenTime::FromMicroseconds(1768480496789123);
  std::string text;
  for (const auto& zone :
       std::vector<std::pair<const char*, const char*>>{{"EST5", "07:34:56 -05:00"},
                                                        {"IST-5:30", "18:04:56 +05:30"},
                                                        {nullptr, nullptr},
                                                        {"IST-5:30", "18:04:56 +05:30"},
                                                        {"UTC0", "12:34:56 +00:00"},
                                                        {"EST5", "07:34:56 -05:00"}}) {
    if (zone.first == nullptr) {
      unsetenv("TZ");
      EXPECT_TRUE(time.TimeString(&text, false));
      continue;
    }
    setenv("TZ", zone.first, 1);
    EXPECT_TRUE(time.TimeString(&text, false));
    EXPECT_EQ(text, zone.second) << zone.first;
  }
}

TEST_F(GenTimeLocal, PresentTimeMatchesLocaltime) {
  UseZone("Europe/Berlin");
  const KCGenTime now(true);
  std::string date, timeText;
  ASSERT_TRUE(now.DateString(&date));
  ASSERT_TRUE(now.TimeString(&timeText, false));
  EXPECT_TRUE(std::regex_match(date, std::regex(R"(\d{4}-\d{2}-\d{2})"))) << date;
  EXPECT_TRUE(std::regex_match(timeText, std::regex(R"(\d{2}:\d{2}:\d{2} \+0[12]:00)")))
      << timeText;
  const time_t seconds = static_cast<time_t>(now.GetMicroseconds() / 1000000);
  struct tm local;
  ASSERT_NE(localtime_r(&seconds, &local), nullptr);
  char expectedDate[16], expectedTime[16];
  strftime(expectedDate, sizeof expectedDate, "%Y-%m-%d", &local);
  strftime(expectedTime, sizeof expectedTime, "%H:%M:%S", &local);
  EXPECT_EQ(date, expectedDate);
  EXPECT_EQ(timeText.substr(0, 8), expectedTime);
}

TEST_F(GenTimeLocal, NullTimeGivesEmptyTextsAndFalse) {
  std::string date = "stale", timeText = "stale";
  EXPECT_FALSE(KCGenTime().DateString(&date));
  EXPECT_FALSE(KCGenTime().TimeString(&timeText, true));
  EXPECT_EQ(date, "");
  EXPECT_EQ(timeText, "");
  EXPECT_FALSE(KCGenTime(true).DateString(nullptr));
}

TEST_F(GenTimeLocal, ExtremeInstantsDoNotBreakTheDisplayTexts) {
  UseZone("CET-1CEST,M3.5.0,M10.5.0/3");
  for (std::int64_t micros : {kMax, kMin}) {
    std::string date, timeText;
    const bool dateOk = KCGenTime::FromMicroseconds(micros).DateString(&date);
    const bool timeOk = KCGenTime::FromMicroseconds(micros).TimeString(&timeText, true);
    EXPECT_EQ(dateOk, !date.empty());
    EXPECT_EQ(timeOk, !timeText.empty());
  }
}

// ---- The file header, the version, the string helpers -------------------------------------------

TEST(GenStandardFileHeader, DefaultsAndCopy) {
  KCGenStandardFileHeader header;
  EXPECT_EQ(header.m_eContentType, 0);
  EXPECT_EQ(header.m_usContentVersion, 0);
  EXPECT_TRUE(header.m_tmCreation.IsNull());
  EXPECT_TRUE(header.m_tmModification.IsNull());
  EXPECT_TRUE(header.m_strUserCreation.empty());
  EXPECT_TRUE(header.m_strUserModification.empty());
  EXPECT_TRUE(header.m_strSource.empty());
  EXPECT_EQ(header.m_eDescription, 0);
  EXPECT_TRUE(header.m_strDescription.empty());
  EXPECT_TRUE(header.m_guid.IsNull());

  header.m_eContentType = static_cast<KCGenStandardFileHeader::EContentType>(533);
  header.m_usContentVersion = 410;
  header.m_tmCreation = KCGenTime::FromMicroseconds(99);
  header.m_strSource = "src";
  header.m_guid = KCGenGUID(kGuidText);
  const KCGenStandardFileHeader copy(header);
  KCGenStandardFileHeader assigned;
  assigned = header;
  for (const KCGenStandardFileHeader* h :
       {&copy, static_cast<const KCGenStandardFileHeader*>(&assigned)}) {
    EXPECT_EQ(h->m_eContentType, 533);
    EXPECT_EQ(h->m_usContentVersion, 410);
    EXPECT_EQ(h->m_tmCreation, KCGenTime::FromMicroseconds(99));
    EXPECT_EQ(h->m_strSource, "src");
    EXPECT_EQ(h->m_guid, KCGenGUID(kGuidText));
  }
}

TEST(GenVersionInfo, IsTheProjectVersion) {
  std::ifstream cmake(std::string(GLPS_SOURCE_DIR) + "/CMakeLists.txt");
  const std::string text((std::istreambuf_iterator<char>(cmake)), std::istreambuf_iterator<char>());
  std::smatch match;
  ASSERT_TRUE(std::regex_search(text, match, std::regex(R"(project\(glps VERSION ([0-9.]+))")));
  EXPECT_EQ(KCGenVersionInfo().GetProductVersionLong(), match[1].str());
}

TEST(GenStrings, EqualNoCase) {
  struct Case {
    std::string a, b;
    bool equal;
  };
  const std::vector<Case> cases = {
      {"log.xml", "LOG.XML", true},
      {"Log.Xml", "log.xml", true},
      {"", "", true},
      {"log.xml", "log.xm", false},
      {"a", "b", false},
      {"\xC4", "\xE4", false},
      {"[", "{", false},  // differ by 0x20 but are not letters
  };
  for (const Case& c : cases) {
    EXPECT_EQ(kstringutil::equal_no_case(c.a, c.b), c.equal) << c.a << " / " << c.b;
  }
}

TEST(GenStrings, ReplaceAll) {
  struct Case {
    std::string text, find, replacement, expected;
    std::size_t count;
  };
  const std::vector<Case> cases = {
      {"a-b-c", "-", "+", "a+b+c", 2},
      {"aaa", "a", "aa", "aaaaaa", 3},  // the replacement holds the pattern: must terminate
      {"aaaa", "aa", "a", "aa", 2},     // not rescanned after a replacement
      {"%TITLE% and %TITLE%", "%TITLE%", "", " and ", 2},
      {"abc", "x", "y", "abc", 0},
      {"abc", "", "y", "abc", 0},  // an empty pattern replaces nothing
      {"", "a", "b", "", 0},
      {"xyz", "xyz", "longer text", "longer text", 1},
  };
  for (const Case& c : cases) {
    std::string text = c.text;
    EXPECT_EQ(kstringutil::replace_all(&text, c.find, c.replacement), c.count) << c.text;
    EXPECT_EQ(text, c.expected) << c.text;
  }
  EXPECT_EQ(kstringutil::replace_all(nullptr, "a", "b"), 0u);
}

TEST(GenStrings, Convert2StrAndEmptyConstant) {
  EXPECT_EQ(Gen::convert2str(0), "0");
  EXPECT_EQ(Gen::convert2str(42), "42");
  EXPECT_EQ(Gen::convert2str(-7), "-7");
  EXPECT_EQ(Gen::convert2str(LONG_MIN), std::to_string(LONG_MIN));
  EXPECT_TRUE(KCGenStringDefinesTraits<char>::ms_strEmpty.empty());
}

}  // namespace
