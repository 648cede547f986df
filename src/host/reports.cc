// SPDX-License-Identifier: Apache-2.0
// Report items and their HTML rendering.
#include "glps/host/reports.h"

#include <cstddef>
#include <cstring>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point that starts at text[*pos] and moves *pos past it, as browsers decode
// UTF-8: every maximal invalid subsequence becomes one U+FFFD, and overlong forms, surrogates and
// values above U+10FFFF are invalid. A byte that ends an invalid sequence without belonging to it
// is not consumed: it starts the next code point.
char32_t DecodeUtf8At(const std::string& text, std::size_t* pos) {
  const unsigned char lead = static_cast<unsigned char>(text[(*pos)++]);
  if (lead <= 0x7F) return lead;
  int needed;
  char32_t cp;
  unsigned char lower = 0x80;
  unsigned char upper = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    needed = 1;
    cp = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    if (lead == 0xE0) lower = 0xA0;
    if (lead == 0xED) upper = 0x9F;
    needed = 2;
    cp = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    if (lead == 0xF0) lower = 0x90;
    if (lead == 0xF4) upper = 0x8F;
    needed = 3;
    cp = lead & 0x07;
  } else {
    return kReplacement;
  }
  for (; needed > 0; --needed) {
    if (*pos == text.size()) return kReplacement;
    const unsigned char b = static_cast<unsigned char>(text[*pos]);
    if (b < lower || b > upper) return kReplacement;
    lower = 0x80;
    upper = 0xBF;
    cp = (cp << 6) | (b & 0x3F);
    ++*pos;
  }
  return cp;
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

// A byte that stands for itself in the HTML: printable ASCII other than the blank and markup.
bool IsPlain(char c) { return c > ' ' && c < 0x7F && c != '&' && c != '<' && c != '>' && c != '"'; }

// Appends the HTML of text[begin..] as HTML that shows it unchanged in any browser, whatever
// character set it assumes: runs of plain characters are copied whole, everything else is decoded
// one code point at a time. A code point's neighbours matter only for a blank, and a blank is
// always one byte of its own, so the byte before it tells whether a blank precedes it.
void AppendText(std::string* out, const std::string& text, std::size_t begin) {
  const std::size_t n = text.size();
  for (std::size_t i = begin; i < n;) {
    if (IsPlain(text[i])) {
      std::size_t end = i + 1;
      while (end < n && IsPlain(text[end])) ++end;
      out->append(text, i, end - i);
      i = end;
      continue;
    }
    const std::size_t start = i;
    const char32_t cp = DecodeUtf8At(text, &i);
    AppendCodePoint(out, cp, start == 0 || i == n || text[start - 1] == ' ');
  }
}

// The HTML of every ASCII character in its two contexts (a blank that a browser would collapse, or
// not), made once by AppendCodePoint itself: the fast path for ASCII follows the same rule, with
// one table lookup per byte.
class AsciiTable {
 public:
  // The longest HTML of one ASCII character ("&#65533;").
  static constexpr std::size_t kMaxLength = 8;

  struct Html {
    char text[kMaxLength];
    std::size_t length;
  };

  AsciiTable() {
    for (int collapsible = 0; collapsible < 2; ++collapsible) {
      for (char32_t c = 0; c < 0x80; ++c) {
        std::string html;
        AppendCodePoint(&html, c, collapsible != 0);
        Html& entry = m_html[collapsible][c];
        std::memset(entry.text, 0, sizeof entry.text);
        std::memcpy(entry.text, html.data(), html.size());
        entry.length = html.size();
      }
    }
    for (int c = 0; c < 0x100; ++c) m_bPlain[c] = IsPlain(static_cast<char>(c));
  }

  // IsPlain, by table.
  bool IsPlainByte(unsigned char c) const { return m_bPlain[c]; }

  // The HTML of the byte text[i] (ASCII) of a text of n bytes.
  const Html& At(const unsigned char* text, std::size_t i, std::size_t n) const {
    const unsigned char c = text[i];
    const bool collapsible = c == ' ' && (i == 0 || i + 1 == n || text[i - 1] == ' ');
    return m_html[collapsible][c];
  }

 private:
  Html m_html[2][0x80];
  bool m_bPlain[0x100];
};

// Made when the library is loaded; nothing renders text before that.
const AsciiTable g_ascii;

// Texts up to this length are rendered in one pass on the stack and then copied into the result,
// which so takes exactly the room it needs; longer ones are measured first.
constexpr std::size_t kShortText = 512;

#if defined(__SSE2__)
// The number of bytes, of the 16 from s[i] on, that stand for themselves in the HTML before the
// first that does not (16 when all do), all 16 copied to `out` in any case. They stand for
// themselves when they are plain (IsPlain) or a blank that follows no blank; requires 1 <= i and
// i + 16 < n, so that no byte of the block is the text's first or last, where a blank is always
// written as "&nbsp;".
int CopySelfStanding(const unsigned char* s, std::size_t i, char* out) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
  const __m128i previous = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i - 1));
  const __m128i blank = _mm_set1_epi8(' ');
  // Signed comparisons: the bytes outside ASCII count as negative and fail the first.
  const __m128i printable =
      _mm_and_si128(_mm_cmpgt_epi8(v, blank), _mm_cmplt_epi8(v, _mm_set1_epi8(0x7F)));
  const __m128i markup = _mm_or_si128(
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('&')), _mm_cmpeq_epi8(v, _mm_set1_epi8('<'))),
      _mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('>')), _mm_cmpeq_epi8(v, _mm_set1_epi8('"'))));
  const __m128i singleBlank =
      _mm_andnot_si128(_mm_cmpeq_epi8(previous, blank), _mm_cmpeq_epi8(v, blank));
  const __m128i self = _mm_or_si128(_mm_andnot_si128(markup, printable), singleBlank);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out), v);
  const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(self));
  return mask == 0xFFFFu ? 16 : __builtin_ctz(~mask);
}
#endif

// Writes the HTML of the text's bytes (as AppendText does) to `out`, which has room for kMaxLength
// bytes per byte of the text, up to the first byte outside ASCII, whose position goes to *stop (n
// when the text is all ASCII). Returns the end of what was written.
char* WriteAscii(char* out, const std::string& text, std::size_t* stop) {
  const AsciiTable& table = g_ascii;
  const unsigned char* const s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  char* p = out;
  std::size_t i = 0;
  while (i < n) {
#if defined(__SSE2__)
    // The room for byte i's HTML and the bytes after it holds the 16 bytes stored.
    if (i >= 1 && i + 16 < n) {
      const int standing = CopySelfStanding(s, i, p);
      p += standing;
      i += static_cast<std::size_t>(standing);
      if (standing == 16) continue;
    }
#endif
    const unsigned char c = s[i];
    if (table.IsPlainByte(c)) {
      *p++ = static_cast<char>(c);
      ++i;
      continue;
    }
    if (c >= 0x80) break;
    // A whole table entry is copied; the room takes the tail beyond its length.
    const AsciiTable::Html& html = table.At(s, i, n);
    std::memcpy(p, html.text, AsciiTable::kMaxLength);
    p += html.length;
    ++i;
  }
  *stop = i;
  return p;
}

// The exact length of the text's HTML when the text is all ASCII; false for any other text.
bool AsciiHtmlLength(const std::string& text, std::size_t* length) {
  const AsciiTable& table = g_ascii;
  const unsigned char* const s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t total = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (s[i] >= 0x80) return false;
    total += table.At(s, i, n).length;
  }
  *length = total;
  return true;
}

// Appends the text's HTML to `html`, reserving room for it and `extra` more bytes (the closing
// tags), so that rendering allocates once.
void AppendRendered(std::string* html, const std::string& text, std::size_t extra) {
  std::size_t stop = 0;
  if (text.size() <= kShortText) {
    char rendered[kShortText * AsciiTable::kMaxLength + AsciiTable::kMaxLength];
    const std::size_t length =
        static_cast<std::size_t>(WriteAscii(rendered, text, &stop) - rendered);
    html->reserve(html->size() + length + extra + (stop < text.size() ? 2 * text.size() : 0));
    html->append(rendered, length);
  } else {
    std::size_t length = 0;
    if (AsciiHtmlLength(text, &length)) {
      const std::size_t at = html->size();
      html->reserve(at + length + AsciiTable::kMaxLength + extra);
      html->resize(at + length + AsciiTable::kMaxLength);
      char* const begin = &(*html)[0];
      html->resize(static_cast<std::size_t>(WriteAscii(begin + at, text, &stop) - begin));
    } else {
      // Characters outside ASCII take more room as references than as UTF-8: an estimate.
      html->reserve(html->size() + 2 * text.size() + extra);
    }
  }
  if (stop < text.size()) AppendText(html, text, stop);
}

}  // namespace

KCRptReportItem::~KCRptReportItem() = default;

KCRptRepItNormal::KCRptRepItNormal(const std::string& text, bool bold, bool italic, bool underline)
    : m_strText(text), m_bBold(bold), m_bItalic(italic), m_bUnderline(underline) {}

std::string KCRptRepItNormal::GetHtml() const {
  if (m_strText.empty()) return std::string();
  std::string html;
  if (m_bBold) html += "<B>";
  if (m_bItalic) html += "<I>";
  if (m_bUnderline) html += "<U>";
  // The tags fit the string's own storage; the text and the closing tags take one allocation.
  AppendRendered(&html, m_strText, 12);
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
  std::string html = "<H2>";
  AppendRendered(&html, m_strText, 6);
  html += "</H2>\n";
  return html;
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
