// SPDX-License-Identifier: Apache-2.0
// Report items: the HTML text each kind renders.
#include <climits>
#include <memory>
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
