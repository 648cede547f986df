// SPDX-License-Identifier: Apache-2.0
// Report items and their HTML rendering.
#include "glps/host/reports.h"

#include <algorithm>
#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes UTF-8 as browsers do: every maximal invalid subsequence becomes one U+FFFD, and overlong
// forms, surrogates and values above U+10FFFF are invalid.
std::vector<char32_t> DecodeUtf8(const std::string& text) {
  std::vector<char32_t> out;
  out.reserve(text.size());
  char32_t cp = 0;
  int needed = 0;
  int seen = 0;
  unsigned char lower = 0x80;
  unsigned char upper = 0xBF;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (needed == 0) {
      if (b <= 0x7F) {
        out.push_back(b);
      } else if (b >= 0xC2 && b <= 0xDF) {
        needed = 1;
        cp = b & 0x1F;
      } else if (b >= 0xE0 && b <= 0xEF) {
        if (b == 0xE0) lower = 0xA0;
        if (b == 0xED) upper = 0x9F;
        needed = 2;
        cp = b & 0x0F;
      } else if (b >= 0xF0 && b <= 0xF4) {
        if (b == 0xF0) lower = 0x90;
        if (b == 0xF4) upper = 0x8F;
        needed = 3;
        cp = b & 0x07;
      } else {
        out.push_back(kReplacement);
      }
      continue;
    }
    if (b < lower || b > upper) {
      // The sequence so far is invalid; this byte starts afresh.
      out.push_back(kReplacement);
      cp = 0;
      needed = seen = 0;
      lower = 0x80;
      upper = 0xBF;
      --i;
      continue;
    }
    lower = 0x80;
    upper = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    if (++seen == needed) {
      out.push_back(cp);
      cp = 0;
      needed = seen = 0;
    }
  }
  if (needed != 0) out.push_back(kReplacement);
  return out;
}

void AppendReference(std::string* out, char32_t cp) {
  *out += "&#";
  *out += std::to_string(static_cast<unsigned long>(cp));
  *out += ';';
}

// Appends one code point as HTML that any browser shows unchanged. `collapsible`: a blank here
// would be collapsed or dropped by a browser (first or last of the text, or after another blank).
void AppendCodePoint(std::string* out, char32_t cp, bool collapsible) {
  switch (cp) {
    case ' ':
      // A single blank between words stays a blank (so lines can still wrap).
      *out += collapsible ? "&nbsp;" : " ";
      break;
    case '&': *out += "&amp;"; break;
    case '<': *out += "&lt;"; break;
    case '>': *out += "&gt;"; break;
    case '"': *out += "&quot;"; break;
    case '\t':
    case '\n':
    case '\r': *out += static_cast<char>(cp); break;
    default:
      if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
        // Control characters have no safe reference; a browser would remap &#128;..&#159;.
        AppendReference(out, kReplacement);
      } else if (cp < 0x7F) {
        *out += static_cast<char>(cp);
      } else {
        AppendReference(out, cp);
      }
      break;
  }
}

// RenderText of a text that is all ASCII, where every byte is one code point: without decoding
// into a buffer first, and with the runs of plain characters copied whole.
std::string RenderAscii(const std::string& text) {
  const auto plain = [](char c) {
    return c > ' ' && c != '&' && c != '<' && c != '>' && c != '"' && c != 0x7F;
  };
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    if (plain(text[i])) {
      std::size_t end = i + 1;
      while (end < n && plain(text[end])) ++end;
      out.append(text, i, end - i);
      i = end;
      continue;
    }
    AppendCodePoint(&out, static_cast<unsigned char>(text[i]),
                    i == 0 || i + 1 == n || text[i - 1] == ' ');
    ++i;
  }
  return out;
}

// The text as HTML that shows it unchanged in any browser, whatever character set it assumes.
std::string RenderText(const std::string& text) {
  if (std::all_of(text.begin(), text.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
    return RenderAscii(text);
  }
  const std::vector<char32_t> cps = DecodeUtf8(text);
  std::string out;
  out.reserve(text.size() + text.size() / 4);
  for (std::size_t i = 0; i < cps.size(); ++i) {
    AppendCodePoint(&out, cps[i], i == 0 || i + 1 == cps.size() || cps[i - 1] == ' ');
  }
  return out;
}

}  // namespace

KCRptReportItem::~KCRptReportItem() = default;

KCRptRepItNormal::KCRptRepItNormal(const std::string& text, bool bold, bool italic, bool underline)
    : m_strText(text), m_bBold(bold), m_bItalic(italic), m_bUnderline(underline) {}

std::string KCRptRepItNormal::GetHtml() const {
  if (m_strText.empty()) return std::string();
  if (!m_bBold && !m_bItalic && !m_bUnderline) return RenderText(m_strText);
  std::string html;
  if (m_bBold) html += "<B>";
  if (m_bItalic) html += "<I>";
  if (m_bUnderline) html += "<U>";
  html += RenderText(m_strText);
  if (m_bUnderline) html += "</U>";
  if (m_bItalic) html += "</I>";
  if (m_bBold) html += "</B>";
  return html;
}

KCRptRepItNewLine::KCRptRepItNewLine(int count) : m_nCount(count) {}

std::string KCRptRepItNewLine::GetHtml() const {
  if (m_nCount <= 0) return std::string();
  const int count = m_nCount > kMaxCount ? kMaxCount : m_nCount;
  std::string html;
  html.reserve(static_cast<std::size_t>(count) * 4 + 1);
  for (int i = 0; i < count; ++i) html += "<BR>";
  html += '\n';
  return html;
}

KCRptRepItTitle::KCRptRepItTitle(const std::string& text) : m_strText(text) {}

std::string KCRptRepItTitle::GetHtml() const {
  if (m_strText.empty()) return std::string();
  return "<H2>" + RenderText(m_strText) + "</H2>\n";
}

KCRptRepItHorizontalLine::KCRptRepItHorizontalLine(int size, bool noShade)
    : m_nSize(size), m_bNoShade(noShade) {}

std::string KCRptRepItHorizontalLine::GetHtml() const {
  std::string html = "<HR";
  if (m_nSize >= 1) html += " size=" + std::to_string(m_nSize);
  if (m_bNoShade) html += " noshade";
  html += ">\n";
  return html;
}
