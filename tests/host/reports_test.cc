// SPDX-License-Identifier: Apache-2.0
// Report items: the HTML text each kind renders.
#include <climits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "glps/host/reports.h"

namespace {

std::string Normal(const std::string& text) {
  return KCRptRepItNormal(text, false, false, false).GetHtml();
}

TEST(ReportNormal, EscapesMarkupAndKeepsBlanksVisible) {
  struct Case {
    std::string text, html;
  };
  const std::vector<Case> cases = {
      {"plain text", "plain text"},
      {"<script>alert(\"x\")</script>", "&lt;script&gt;alert(&quot;x&quot;)&lt;/script&gt;"},
      {"a & b", "a &amp; b"},
      {"&amp;", "&amp;amp;"},
      {"'single'", "'single'"},
      // A message prefix: every field followed by two blanks.
      {"12  2026-12-10  07:45:28 +01:00  alice  ",
       "12 &nbsp;2026-12-10 &nbsp;07:45:28 +01:00 &nbsp;alice &nbsp;"},
      // A crash detail line begins with five blanks.
      {"     detail", "&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;detail"},
      {"  'context'", "&nbsp;&nbsp;'context'"},
      {" ", "&nbsp;"},
      {"end ", "end&nbsp;"},
      {"a   b", "a &nbsp;&nbsp;b"},
      {"tab\tand\nline", "tab\tand\nline"},
  };
  for (const Case& c : cases) EXPECT_EQ(Normal(c.text), c.html) << c.text;
}

TEST(ReportNormal, WritesNonAsciiAsCharacterReferences) {
  struct Case {
    std::string text, html;
  };
  const std::vector<Case> cases = {
      {"Gr\xC3\xB6\xC3\x9F"
       "e",
       "Gr&#246;&#223;e"},
      {"\xE2\x82\xAC"
       "5",
       "&#8364;5"},
      {"\xF0\x9F\x98\x80", "&#128512;"},
      {"\xC2\xA0", "&#160;"},
      {"\xF4\x8F\xBF\xBF", "&#1114111;"},  // the last code point
  };
  for (const Case& c : cases) EXPECT_EQ(Normal(c.text), c.html) << c.html;
}

TEST(ReportNormal, InvalidBytesAndControlsBecomeReplacementCharacters) {
  const std::string r = "&#65533;";
  struct Case {
    std::string text, html;
  };
  const std::vector<Case> cases = {
      {"\xFF", r},
      {"a\xC3", "a" + r},                       // truncated at the end
      {"\xE2\x82x", r + "x"},                   // truncated in the middle: one replacement
      {"\xC0\xAF", r + r},                      // overlong form
      {"\xED\xA0\x80", r + r + r},              // a surrogate
      {"\xF4\x90\x80\x80", r + r + r + r},      // above U+10FFFF
      {"\x80<", r + "&lt;"},                    // lone continuation byte; markup after it
      {std::string("a\0b", 3), "a" + r + "b"},  // NUL neither truncates nor passes through
      {"\x01\x1B[31m", r + r + "[31m"},
      {"\x7F", r},
      {"\xC2\x80\xC2\x9F", r + r},  // C1 controls: browsers would remap &#128;
  };
  for (const Case& c : cases) {
    const std::string html = Normal(c.text);
    EXPECT_EQ(html, c.html);
    for (char ch : html) {
      EXPECT_TRUE(ch == '\t' || ch == '\n' || (ch >= 0x20 && ch < 0x7F)) << "byte " << int(ch);
    }
  }
}

// The rules of KCRptRepItNormal written the plain way: decode the whole text, then render code
// point by code point. The item renders in faster ways (whole runs, 16 bytes at a time, a table per
// ASCII byte), which must give the same text for any input.
std::string ReferenceHtml(const std::string& text) {
  std::vector<char32_t> cps;
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    int needed = 0;
    char32_t cp = 0, lower = 0x80, upper = 0xBF;
    if (b < 0x80) {
      cps.push_back(b);
      ++i;
      continue;
    } else if (b >= 0xC2 && b <= 0xDF) {
      needed = 1, cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
      needed = 2, cp = b & 0x0F, lower = b == 0xE0 ? 0xA0 : 0x80, upper = b == 0xED ? 0x9F : 0xBF;
    } else if (b >= 0xF0 && b <= 0xF4) {
      needed = 3, cp = b & 0x07, lower = b == 0xF0 ? 0x90 : 0x80, upper = b == 0xF4 ? 0x8F : 0xBF;
    }
    ++i;
    bool valid = needed > 0;
    for (int k = 0; valid && k < needed; ++k) {
      const unsigned char c = i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
      if (i >= text.size() || c < (k == 0 ? lower : 0x80) || c > (k == 0 ? upper : 0xBF)) {
        valid = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
      ++i;
    }
    cps.push_back(valid ? cp : 0xFFFD);
  }
  std::string html;
  for (std::size_t i = 0; i < cps.size(); ++i) {
    const char32_t cp = cps[i];
    if (cp == ' ') {
      html += i == 0 || i + 1 == cps.size() || cps[i - 1] == ' ' ? "&nbsp;" : " ";
    } else if (cp == '&') {
      html += "&amp;";
    } else if (cp == '<') {
      html += "&lt;";
    } else if (cp == '>') {
      html += "&gt;";
    } else if (cp == '"') {
      html += "&quot;";
    } else if (cp == '\t' || cp == '\n' || cp == '\r') {
      html += static_cast<char>(cp);
    } else if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
      html += "&#65533;";
    } else if (cp < 0x7F) {
      html += static_cast<char>(cp);
    } else {
      html += "&#" + std::to_string(static_cast<unsigned long>(cp)) + ";";
    }
  }
  return html;
}

TEST(ReportNormal, AnyTextRendersAsThePlainReadingOfTheRules) {
  // Pieces that meet the rules' edges: blanks alone and in runs, markup, controls, the last ASCII
  // byte, and UTF-8 sequences whole, cut short, overlong or out of range.
  const std::vector<std::string> pieces = {"a",
                                           "Zq9",
                                           "-",
                                           " ",
                                           "  ",
                                           "&",
                                           "<",
                                           ">",
                                           "\"",
                                           "'",
                                           "\t",
                                           "\n",
                                           "\r",
                                           std::string(1, '\0'),
                                           "\x1B",
                                           "\x7F",
                                           "\xC3\xA4",
                                           "\xE2\x82\xAC",
                                           "\xF0\x9F\x98\x80",
                                           "\xC3",
                                           "\xE2\x82",
                                           "\xC0\xAF",
                                           "\xED\xA0\x80",
                                           "\xF4\x90\x80\x80",
                                           "\x80",
                                           "\xFF",
                                           "\xC2\x85",
                                           "Sample S-0042 weighed: 12.34567 g",
                                           "0123456789abcdef"};
  std::mt19937 rng(20261210);
  for (int round = 0; round < 3000; ++round) {
    // Mostly short texts; every twentieth one longer than the one-pass limit of 512 bytes.
    const std::size_t count = round % 20 == 0 ? 150 + rng() % 100 : rng() % 40;
    std::string text;
    // Some texts all ASCII, so that the fast paths run to the end.
    const std::size_t choices = round % 3 == 0 ? 16 : pieces.size();
    for (std::size_t k = 0; k < count; ++k) text += pieces[rng() % choices];
    if (text.empty()) continue;
    ASSERT_EQ(Normal(text), ReferenceHtml(text)) << ::testing::PrintToString(text);
    ASSERT_EQ(KCRptRepItTitle(text).GetHtml(), "<H2>" + ReferenceHtml(text) + "</H2>\n");
  }
}

TEST(ReportNormal, FlagsWrapTheTextAndEmptyTextRendersNothing) {
  EXPECT_EQ(KCRptRepItNormal("x", true, false, false).GetHtml(), "<B>x</B>");
  EXPECT_EQ(KCRptRepItNormal("x", false, true, false).GetHtml(), "<I>x</I>");
  EXPECT_EQ(KCRptRepItNormal("x", false, false, true).GetHtml(), "<U>x</U>");
  EXPECT_EQ(KCRptRepItNormal("a<b", true, true, true).GetHtml(), "<B><I><U>a&lt;b</U></I></B>");
  EXPECT_EQ(KCRptRepItNormal("", true, true, true).GetHtml(), "");
  EXPECT_EQ(KCRptRepItNormal("", false, false, false).GetHtml(), "");
}

TEST(ReportItems, NewLineTitleAndHorizontalLine) {
  struct Case {
    std::shared_ptr<KCRptReportItem> item;
    std::string html;
  };
  const std::vector<Case> cases = {
      {std::make_shared<KCRptRepItNewLine>(1), "<BR>\n"},
      {std::make_shared<KCRptRepItNewLine>(3), "<BR><BR><BR>\n"},
      {std::make_shared<KCRptRepItNewLine>(0), ""},
      {std::make_shared<KCRptRepItNewLine>(-5), ""},
      {std::make_shared<KCRptRepItTitle>("Changed <outside>"),
       "<H2>Changed &lt;outside&gt;</H2>\n"},
      {std::make_shared<KCRptRepItTitle>(" \xC3\xA4"), "<H2>&nbsp;&#228;</H2>\n"},
      {std::make_shared<KCRptRepItTitle>(""), ""},
      {std::make_shared<KCRptRepItHorizontalLine>(3, false), "<HR size=3>\n"},
      {std::make_shared<KCRptRepItHorizontalLine>(2, true), "<HR size=2 noshade>\n"},
      {std::make_shared<KCRptRepItHorizontalLine>(0, false), "<HR>\n"},
      {std::make_shared<KCRptRepItHorizontalLine>(-1, true), "<HR noshade>\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(c.item->GetHtml(), c.html);
}

TEST(ReportItems, HugeLineBreakCountIsBounded) {
  const std::string html = KCRptRepItNewLine(INT_MAX).GetHtml();
  EXPECT_EQ(html.size(), static_cast<std::size_t>(KCRptRepItNewLine::kMaxCount) * 4 + 1);
  EXPECT_EQ(html.substr(html.size() - 5), "<BR>\n");
}

}  // namespace
