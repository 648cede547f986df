// SPDX-License-Identifier: Apache-2.0
#include "audit/trail_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "glps/host/services.h"

namespace glps {
namespace audit {
namespace {

const unsigned kTextProductTitle = 10050;
const unsigned kTextTamperTitle = 18631;
const unsigned kTextExtraNote = 18635;
const unsigned kTextStart = 18701;
const unsigned kTextExit = 18702;

// A crash entry's detail lines begin with these blanks.
constexpr std::string_view kDetailIndent = "     ";

// The longest date of a message's prefix: the host's formats of a date are far shorter, and the
// bound keeps every prefix within the text kept of a line without the texts.
constexpr std::size_t kLongestDate = 32;

// Without the entries' texts, this much of the text of each line's first span is kept: enough for a
// message's prefix (number, date, time) and a detail line's indentation.
constexpr std::size_t kKeptWithoutTexts = 96;
static_assert(1 + 18 + 2 + kLongestDate + 2 + 22 + 2 <= kKeptWithoutTexts,
              "the longest message prefix is kept");

// With a sink for the marks, this many are handed over at a time.
constexpr std::size_t kMarkBatch = 4096;

// The longest markup the report items write ("<HR size=1000 noshade>" and the like).
constexpr std::size_t kLongestTag = 64;

// A run of text in one style: a range of the document's decoded text.
struct Span {
  std::size_t from = 0;
  std::size_t to = 0;
  bool bold = false;
};

// One line of a document: what lies between two line breaks, or a heading, or a rule. Its spans
// are a range of the document's spans.
struct Line {
  enum class Kind : std::uint8_t { kText, kTitle, kRule };
  Kind kind = Kind::kText;
  bool hasText = false;  // holds text, also where it was not kept
  bool broken = false;   // ends with a line break (false: the document ends in it)
  // A message line read by the quick way (RawPrefix): `number` is its prefix's number, and no
  // spans were made of it (spanCount is 0 although it holds text).
  bool numbered = false;
  std::size_t spanCount = 0;
  std::size_t firstSpan = 0;
  std::int64_t start = 0;
  std::int64_t end = 0;  // after its line break and the line end that follows it
  std::int64_t number = 0;
};

// A document split into lines, with the text of all its lines decoded into one buffer, so that
// reading a document allocates per document rather than per line.
struct Lines {
  std::string decoded;
  std::vector<Span> spans;
  std::vector<Line> lines;

  std::string_view SpanText(std::size_t span) const {
    return std::string_view(decoded).substr(spans[span].from, spans[span].to - spans[span].from);
  }
  const Span& SpanOf(const Line& line, std::size_t index) const {
    return spans[line.firstSpan + index];
  }
  std::string_view SpanText(const Line& line, std::size_t index) const {
    return SpanText(line.firstSpan + index);
  }
  // The spans of a line follow each other in the buffer: the whole text (as far as it was kept) is
  // one range.
  std::string_view Text(const Line& line) const {
    if (line.spanCount == 0) return std::string_view();
    const std::size_t from = spans[line.firstSpan].from;
    const std::size_t to = spans[line.firstSpan + line.spanCount - 1].to;
    return std::string_view(decoded).substr(from, to - from);
  }
  bool Empty(const Line& line) const { return !line.hasText; }

  // Forgets the first `count` lines (fewer than all) with their spans and text; the lines left
  // keep theirs.
  void DropFront(std::size_t count) {
    if (count == 0) return;
    const std::size_t firstSpan = lines[count].firstSpan;
    const std::size_t firstByte = firstSpan < spans.size() ? spans[firstSpan].from : decoded.size();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(count));
    spans.erase(spans.begin(), spans.begin() + static_cast<std::ptrdiff_t>(firstSpan));
    decoded.erase(0, firstByte);
    for (Line& line : lines) line.firstSpan -= firstSpan;
    for (Span& span : spans) {
      span.from -= firstByte;
      span.to -= firstByte;
    }
  }
};

void AppendUtf8(std::string* out, unsigned long cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
  if (cp < 0x80) {
    *out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out += static_cast<char>(0xC0 | (cp >> 6));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out += static_cast<char>(0xE0 | (cp >> 12));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out += static_cast<char>(0xF0 | (cp >> 18));
    *out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Decodes the entity at `at` (which holds '&') into `out`; returns the bytes it took, or 0 when
// there is no entity there (the '&' then stands for itself).
std::size_t DecodeEntity(const std::string& bytes, std::size_t at, std::string* out) {
  // The blank that separates a message's prefix fields, four times a line.
  if (bytes.size() - at >= 6 && std::memcmp(bytes.data() + at + 1, "nbsp;", 5) == 0) {
    *out += ' ';
    return 6;
  }
  // The longest entity the report items write is "&#1114111;".
  const std::size_t horizon = std::min<std::size_t>(bytes.size() - at, 12);
  const void* found = std::memchr(bytes.data() + at, ';', horizon);
  if (found == nullptr) return 0;
  const std::size_t semicolon =
      static_cast<std::size_t>(static_cast<const char*>(found) - bytes.data());
  const std::string_view name(bytes.data() + at + 1, semicolon - at - 1);
  const std::size_t length = semicolon - at + 1;
  if (name == "nbsp") {
    *out += ' ';
  } else if (name == "amp") {
    *out += '&';
  } else if (name == "lt") {
    *out += '<';
  } else if (name == "gt") {
    *out += '>';
  } else if (name == "quot") {
    *out += '"';
  } else if (name.size() >= 2 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty() || digits.size() > 8) return 0;
    unsigned long cp = 0;
    for (char c : digits) {
      int value;
      if (c >= '0' && c <= '9') {
        value = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        value = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        value = c - 'A' + 10;
      } else {
        return 0;
      }
      cp = cp * (hex ? 16 : 10) + static_cast<unsigned long>(value);
    }
    AppendUtf8(out, cp);
  } else {
    return 0;
  }
  return length;
}

// The tags the report items write; kText: a '<' that is no tag, standing for itself.
enum class Tag { kBold, kEndBold, kStyle, kBreak, kTitle, kRule, kOther, kText };

char Upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// The tag of the text between '<' and '>'; a rule may carry attributes ("HR size=3").
Tag TagOf(std::string_view inside) {
  const std::size_t n = inside.size();
  const char a = n > 0 ? Upper(inside[0]) : '\0';
  const char b = n > 1 ? Upper(inside[1]) : '\0';
  if (n == 1 && a == 'B') return Tag::kBold;
  if (n == 1 && (a == 'I' || a == 'U')) return Tag::kStyle;
  if (n == 2 && a == '/' && b == 'B') return Tag::kEndBold;
  if (n == 2 && a == '/' && (b == 'I' || b == 'U')) return Tag::kStyle;
  if (n == 2 && a == 'B' && b == 'R') return Tag::kBreak;
  if (n == 2 && a == 'H' && b == '2') return Tag::kTitle;
  if (n >= 2 && a == 'H' && b == 'R' && (n == 2 || inside[2] == ' ')) return Tag::kRule;
  return Tag::kOther;
}

// The first '<' or '&' in [p, end), or `end`. Bytes up to `readable` may be looked at, so that
// the search goes sixteen bytes at a time also near the end of a short run.
const char* FindMarkup(const char* p, const char* end, const char* readable) {
#if defined(__SSE2__)
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i amp = _mm_set1_epi8('&');
  for (; p < end && readable - p >= 16; p += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const int found =
        _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(chunk, lt), _mm_cmpeq_epi8(chunk, amp)));
    if (found != 0) {
      const char* const at = p + __builtin_ctz(static_cast<unsigned>(found));
      return at < end ? at : end;
    }
  }
#endif
  for (; p < end; ++p) {
    if (*p == '<' || *p == '&') return p;
  }
  return end;
}

// The '<' of a document in order, from any position on: each block of 64 bytes is looked at once
// as a mask of its '<', whatever the number of tags in it. Refers to the document's bytes, which
// must outlive it.
class TagStarts {
 public:
  TagStarts(const char* data, std::size_t size) : m_pData(data), m_nSize(size) {}

  // The first '<' at or after `from`, or the document's size.
  std::size_t From(std::size_t from) {
    if (from >= m_nSize) return m_nSize;
    if (from < m_nBase || from - m_nBase >= 64) {
      m_nBase = from;
      m_nMask = Load(from);
    } else {
      m_nMask &= ~std::uint64_t{0} << (from - m_nBase);
    }
    return Found();
  }

  // The '<' after the one last returned, which must not be the document's size.
  std::size_t Next() {
    m_nMask &= m_nMask - 1;
    return Found();
  }

 private:
  std::size_t Found() {
    while (m_nMask == 0) {
      m_nBase += 64;
      if (m_nBase >= m_nSize) return m_nSize;
      m_nMask = Load(m_nBase);
    }
    return m_nBase + static_cast<std::size_t>(__builtin_ctzll(m_nMask));
  }

  // The mask of the '<' in the 64 bytes from `at` (fewer at the end).
  std::uint64_t Load(std::size_t at) const {
    const char* const p = m_pData + at;
    std::uint64_t mask = 0;
#if defined(__SSE2__)
    if (m_nSize - at >= 64) {
      const __m128i lt = _mm_set1_epi8('<');
      for (int k = 0; k < 4; ++k) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
        const unsigned bits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk, lt)));
        mask |= static_cast<std::uint64_t>(bits) << (16 * k);
      }
      return mask;
    }
#endif
    const std::size_t n = std::min<std::size_t>(m_nSize - at, 64);
    for (std::size_t k = 0; k < n; ++k) {
      if (p[k] == '<') mask |= std::uint64_t{1} << k;
    }
    return mask;
  }

  const char* const m_pData;
  const std::size_t m_nSize;
  // The '<' at or after the last position asked for, in the block from m_nBase.
  std::size_t m_nBase = SIZE_MAX;
  std::uint64_t m_nMask = 0;
};

// What the markup at a '<' is. The tags the report items write are short: a '<' without a '>'
// within kLongestTag bytes is text (kText).
struct QuickTag {
  std::size_t after = 0;  // where the tag ends (after the '<', for text)
  Tag tag = Tag::kOther;
  bool alone = true;  // no other '<' lies before `after`
};

// The markup at `at`, which holds '<', told by the '>' that closes it.
QuickTag ClosedTagAt(const char* data, std::size_t size, std::size_t at) {
  const std::size_t horizon = std::min<std::size_t>(size - at, kLongestTag);
  std::size_t close = at + 1;
  while (close < at + horizon && data[close] != '>') ++close;
  if (close == at + horizon) return QuickTag{at + 1, Tag::kText, true};
  return QuickTag{close + 1, TagOf(std::string_view(data + at + 1, close - at - 1)), false};
}

// The markup at `at`, which holds '<'. The tags of a message line as the library writes them are
// told at once, the others by the '>' that closes them.
inline QuickTag TagAt(const char* data, std::size_t size, std::size_t at) {
  if (size - at >= 4) {
    std::uint32_t word, breakTag, endBold;
    std::memcpy(&word, data + at, 4);
    std::memcpy(&breakTag, "<BR>", 4);
    std::memcpy(&endBold, "</B>", 4);
    if (word == breakTag) return QuickTag{at + 4, Tag::kBreak, true};
    if (word == endBold) return QuickTag{at + 4, Tag::kEndBold, true};
  }
  if (size - at >= 3 && std::memcmp(data + at, "<B>", 3) == 0) {
    return QuickTag{at + 3, Tag::kBold, true};
  }
  return ClosedTagAt(data, size, at);
}

// The number of bytes from `p` that are digits (or digits and '-', with `dash`), counted as far
// as `limit` and the rest of the block of sixteen bytes that holds it: a result above `limit`
// means "longer than `limit`". Reads up to 16 bytes past `limit`.
std::size_t RunLength(const char* p, bool dash, std::size_t limit) {
#if defined(__SSE2__)
  const __m128i belowZero = _mm_set1_epi8('0' - 1);
  const __m128i aboveNine = _mm_set1_epi8('9' + 1);
  const __m128i minus = _mm_set1_epi8(dash ? '-' : '0');
  for (std::size_t n = 0;; n += 16) {
    const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + n));
    // Bytes from 0x80 compare as negative: never a digit.
    const __m128i digit =
        _mm_and_si128(_mm_cmpgt_epi8(chunk, belowZero), _mm_cmplt_epi8(chunk, aboveNine));
    const __m128i inClass = _mm_or_si128(digit, _mm_cmpeq_epi8(chunk, minus));
    const unsigned outside = ~static_cast<unsigned>(_mm_movemask_epi8(inClass)) & 0xFFFFu;
    if (outside != 0) return n + static_cast<std::size_t>(__builtin_ctz(outside));
    if (n + 16 > limit) return n + 16;
  }
#else
  std::size_t n = 0;
  while (n <= limit && ((p[n] >= '0' && p[n] <= '9') || (dash && p[n] == '-'))) ++n;
  return n;
#endif
}

// Eight bytes as one word, the first in the lowest byte whatever the machine's byte order.
std::uint64_t EightBytes(const char* p) {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  word = __builtin_bswap64(word);
#endif
  return word;
}

// A form of up to eight bytes, as masks over EightBytes: '0' stands for a digit, '?' for any byte,
// anything else for itself; the bytes past the form's end are any.
struct ByteForm {
  std::uint64_t digits = 0;  // 0xFF in each byte that must be a digit
  std::uint64_t fixed = 0;   // 0xFF in each byte that must be `value`'s
  std::uint64_t value = 0;
};

constexpr ByteForm FormOf(std::string_view form) {
  ByteForm result;
  for (std::size_t k = 0; k < form.size() && k < 8; ++k) {
    const std::uint64_t lane = std::uint64_t{0xFF} << (8 * k);
    if (form[k] == '0') {
      result.digits |= lane;
    } else if (form[k] != '?') {
      result.fixed |= lane;
      result.value |= static_cast<std::uint64_t>(static_cast<unsigned char>(form[k])) << (8 * k);
    }
  }
  return result;
}

// Whether the eight bytes at `p` are of `form`: all eight are compared at once.
bool OfForm(const char* p, const ByteForm& form) {
  const std::uint64_t word = EightBytes(p);
  if ((word & form.fixed) != form.value) return false;
  constexpr std::uint64_t kZeros = 0x3030303030303030u;
  constexpr std::uint64_t kHigh = 0xF0F0F0F0F0F0F0F0u;
  // The digits' bytes as they are, every other byte a '0'; a byte is a digit when its high half
  // is 3 and stays 3 with 6 added (a byte that carries into the next has a high half of F).
  const std::uint64_t digits = (word & form.digits) | (kZeros & ~form.digits);
  return ((digits & kHigh) | (((digits + 0x0606060606060606u) & kHigh) >> 4)) ==
         0x3333333333333333u;
}

// The separator that the library writes after each field of a message's prefix: a blank and a
// non-breaking blank, which read as the two blanks that end the field.
constexpr char kRawSeparator[] = " &nbsp;";
constexpr std::ptrdiff_t kRawSeparatorBytes = sizeof kRawSeparator - 1;
// The bytes RawPrefix may look at: a sign, the runs of the number's digits and of the date (each
// read in blocks of sixteen bytes, up to 32 and 48 of them), the time with milliseconds and the
// seconds of its offset, three separators.
constexpr std::ptrdiff_t kLongestRawPrefix = 1 + 32 + static_cast<std::ptrdiff_t>(kLongestDate) +
                                             16 + 8 + 4 + 7 + 3 + 3 * kRawSeparatorBytes;

// The message prefix at `p` in the very form the library writes it, "N &nbsp;DATE &nbsp;TIME
// &nbsp;", taken exactly as ParsePrefix takes the text it reads as (which lies within what is
// kept of a line). Returns the bytes it takes, with the number in `number`, or 0 for anything
// else, and where fewer than kLongestRawPrefix bytes are left: the line is then read the general
// way, which decides. Verification reads nearly every line this way, without decoding its text.
std::size_t RawPrefix(const char* p, const char* end, std::int64_t* number) {
  if (end - p < kLongestRawPrefix) return 0;
  const char* q = p;
  const auto separator = [&q]() {
    // Seven bytes, compared as two overlapping words.
    std::uint32_t head, tail, wantHead, wantTail;
    std::memcpy(&head, q, 4);
    std::memcpy(&tail, q + 3, 4);
    std::memcpy(&wantHead, kRawSeparator, 4);
    std::memcpy(&wantTail, kRawSeparator + 3, 4);
    if (head != wantHead || tail != wantTail) return false;
    q += kRawSeparatorBytes;
    return true;
  };
  const bool negative = *q == '-';
  if (negative) ++q;
  const std::size_t digits = RunLength(q, false, 18);
  if (digits == 0 || digits > 18) return 0;
  std::int64_t value = 0;
  for (std::size_t k = 0; k < digits; ++k) value = value * 10 + (q[k] - '0');
  q += digits;
  if (!separator()) return 0;
  const std::size_t date = RunLength(q, true, kLongestDate);
  if (date < 8 || date > kLongestDate) return 0;
  q += date;
  if (!separator()) return 0;
  // HH:MM:SS, optional .mmm, a blank and the offset +HH:MM, optional :SS.
  static constexpr ByteForm kTime = FormOf("00:00:00");
  static constexpr ByteForm kMilliseconds = FormOf(".000");
  static constexpr ByteForm kOffset = FormOf(" ?00:00");
  static constexpr ByteForm kOffsetSeconds = FormOf(":00");
  if (!OfForm(q, kTime)) return 0;
  q += 8;
  if (OfForm(q, kMilliseconds)) q += 4;
  if (!OfForm(q, kOffset) || (q[1] != '+' && q[1] != '-')) return 0;
  q += 7;
  if (OfForm(q, kOffsetSeconds)) q += 3;
  if (!separator()) return 0;
  *number = negative ? -value : value;
  return static_cast<std::size_t>(q - p);
}

// Splits the document (from `from`) into lines, reusing the storage of `result`. Of each line at
// most `keep` bytes of text are kept; with `firstSpanOnly`, only text of the line's first span
// (the spans are made all the same), and each line read the quick way (a message in the library's
// own form and ending in a line break) is handed at once to `quickLine` (with its start, end and
// number) with the lines before it: `quickLine` may append it to the lines, and what it leaves in
// them is kept; it must leave none but lines read the quick way, whose spans are not needed.
// `lineDone` is called with the lines after every line the general way ends (the line just ended
// is the last of them): it may take lines from their front (Lines::DropFront), never the last.
// `reserve` bytes of decoded text are made room for at once.
template <typename QuickLine, typename LineDone>
void SplitLines(const std::string& bytes, std::size_t from, std::size_t keep, bool firstSpanOnly,
                std::size_t reserve, Lines* lines, QuickLine&& quickLine, LineDone&& lineDone) {
  Lines& result = *lines;
  result.decoded.clear();
  result.spans.clear();
  result.lines.clear();
  result.decoded.reserve(reserve);
  std::string& decoded = result.decoded;
  const char* const data = bytes.data();
  const std::size_t size = bytes.size();
  Line line;
  line.start = static_cast<std::int64_t>(from);
  line.firstSpan = 0;
  std::size_t lineText = 0;  // where the line's text starts in `decoded`
  bool bold = false;
  // Opens a span in the present style unless the line's last span has it.
  const auto styled = [&]() {
    line.hasText = true;
    if (line.spanCount == 0 || result.spans.back().bold != bold) {
      result.spans.push_back(Span{decoded.size(), decoded.size(), bold});
      ++line.spanCount;
    }
  };
  const auto grown = [&]() { result.spans.back().to = decoded.size(); };
  const auto room = [&]() -> std::size_t {
    // Text that would go into a span after the first.
    if (firstSpanOnly && line.spanCount != 0 &&
        (line.spanCount > 1 || result.spans.back().bold != bold)) {
      return 0;
    }
    const std::size_t used = decoded.size() - lineText;
    return used < keep ? keep - used : 0;
  };
  // Ends the line at `at`, taking one line end that follows when `takeLineEnd`.
  const auto finish = [&](std::size_t at, bool broken, bool takeLineEnd = true) {
    if (takeLineEnd && at < size && data[at] == '\n') ++at;
    line.end = static_cast<std::int64_t>(at);
    line.broken = broken;
    result.lines.push_back(line);
    lineDone(lines);
    line = Line();
    line.start = static_cast<std::int64_t>(at);
    line.firstSpan = result.spans.size();
    lineText = decoded.size();
    return at;
  };

  TagStarts tagStarts(data, size);
  std::size_t i = from;
  while (i < size) {
    if (firstSpanOnly && line.spanCount == 0 && !bold && line.kind == Line::Kind::kText) {
      // Where the text of a line begins in plain style: a message in the library's own form is
      // read without decoding its text. Only its end matters, found as below: at a line break,
      // a heading or a rule, passing over other markup and following the bold tags.
      std::int64_t number = 0;
      const std::size_t taken = RawPrefix(data + i, data + size, &number);
      if (taken != 0) {
        // The tags are looked for from the line's start (the prefix holds none), so that finding
        // the line's end does not wait for the prefix to be read.
        std::size_t at = tagStarts.From(i);
        QuickTag tag;
        while (at != size) {
          tag = TagAt(data, size, at);
          if (tag.tag == Tag::kBreak || tag.tag == Tag::kTitle || tag.tag == Tag::kRule) break;
          if (tag.tag == Tag::kBold) bold = true;
          if (tag.tag == Tag::kEndBold) bold = false;
          at = tag.alone ? tagStarts.Next() : tagStarts.From(tag.after);
        }
        if (at == size) {
          line.hasText = true;
          line.numbered = true;
          line.number = number;
          i = size;
        } else if (tag.tag == Tag::kBreak) {
          std::size_t after = tag.after;
          if (after < size && data[after] == '\n') ++after;
          quickLine(lines, line.start, static_cast<std::int64_t>(after), number);
          line.start = static_cast<std::int64_t>(after);
          i = after;
          // The lines left need no spans: the text read so far is forgotten.
          result.spans.clear();
          result.decoded.clear();
          line.firstSpan = 0;
          lineText = 0;
        } else {
          // A heading or a rule: read the general way, on a line of its own.
          line.hasText = true;
          line.numbered = true;
          line.number = number;
          finish(at, false, false);
          i = at;
        }
        continue;
      }
    }
    const char c = data[i];
    if (c != '<' && room() == 0) {
      // Text past what is kept: only where the next tag is matters.
      const void* next = std::memchr(data + i, '<', size - i);
      styled();
      i = next == nullptr ? size : static_cast<std::size_t>(static_cast<const char*>(next) - data);
      continue;
    }
    if (c == '&') {
      styled();
      const std::size_t taken = DecodeEntity(bytes, i, &decoded);
      if (taken == 0) {
        decoded += '&';
        ++i;
      } else {
        i += taken;
      }
      grown();
      continue;
    }
    if (c != '<') {
      // A run of plain bytes at once, as far as it is kept: up to the next markup, or to the end
      // of what is kept (from there on only the next tag matters, found above).
      const std::size_t kept = std::min(room(), size - i);
      const char* const end = FindMarkup(data + i + 1, data + i + kept, data + size);
      styled();
      decoded.append(data + i, static_cast<std::size_t>(end - (data + i)));
      grown();
      i = static_cast<std::size_t>(end - data);
      continue;
    }
    const QuickTag found = TagAt(data, size, i);
    const Tag tag = found.tag;
    const std::size_t after = found.after;
    if (tag == Tag::kText) {
      styled();
      decoded += c;
      grown();
      ++i;
      continue;
    }
    if (tag == Tag::kBold || tag == Tag::kEndBold || tag == Tag::kStyle) {
      if (tag == Tag::kBold) bold = true;
      if (tag == Tag::kEndBold) bold = false;
      i = after;
    } else if (tag == Tag::kBreak) {
      // The line end that follows belongs to it ("<BR><BR>\n": to the last break of the run).
      i = finish(after, true);
    } else if (tag == Tag::kTitle || tag == Tag::kRule) {
      // A heading or a rule is a line of its own.
      if (line.hasText) finish(i, false, false);
      line.start = static_cast<std::int64_t>(i);
      if (tag == Tag::kRule) {
        line.kind = Line::Kind::kRule;
        i = finish(after, true);
        continue;
      }
      line.kind = Line::Kind::kTitle;
      std::size_t end = bytes.find("</H2>", after);
      if (end == std::string::npos) end = size;
      styled();
      // A heading is kept whole: its text says whether it is a tamper entry.
      for (std::size_t j = after; j < end;) {
        const std::size_t taken = data[j] == '&' ? DecodeEntity(bytes, j, &decoded) : 0;
        if (taken == 0) decoded += data[j++];
        j += taken;
      }
      grown();
      i = finish(end == size ? end : end + 5, end != size);
    } else {
      // Not markup the report items write: kept as it stands.
      styled();
      decoded.append(data + i, std::min(after - i, room()));
      grown();
      i = after;
    }
  }
  if (line.hasText) {
    line.end = static_cast<std::int64_t>(size);
    result.lines.push_back(line);
  }
}

bool IsDigits(std::string_view s, std::size_t from, std::size_t count) {
  if (from + count > s.size()) return false;
  for (std::size_t i = from; i < from + count; ++i) {
    if (s[i] < '0' || s[i] > '9') return false;
  }
  return true;
}

bool At(std::string_view s, std::size_t at, std::string_view what) {
  if (at > s.size() || s.size() - at < what.size()) return false;
  for (std::size_t k = 0; k < what.size(); ++k) {
    if (s[at + k] != what[k]) return false;
  }
  return true;
}

// The length of the time of day at `at` ("HH:MM:SS", optional ".mmm", a blank and the offset
// "+HH:MM", optional ":SS"), or 0.
std::size_t TimeLength(std::string_view s, std::size_t at) {
  if (!IsDigits(s, at, 2) || !At(s, at + 2, ":") || !IsDigits(s, at + 3, 2) ||
      !At(s, at + 5, ":") || !IsDigits(s, at + 6, 2)) {
    return 0;
  }
  std::size_t i = at + 8;
  if (At(s, i, ".") && IsDigits(s, i + 1, 3)) i += 4;
  if (i + 7 > s.size() || s[i] != ' ' || (s[i + 1] != '+' && s[i + 1] != '-') ||
      !IsDigits(s, i + 2, 2) || s[i + 4] != ':' || !IsDigits(s, i + 5, 2)) {
    return 0;
  }
  i += 7;
  if (At(s, i, ":") && IsDigits(s, i + 1, 2)) i += 3;
  return i - at;
}

// The message prefix at the start of `text`: number, date and time, each followed by two blanks.
// Returns where the user name starts, or 0 when the text does not start with a prefix. The date
// and time are kept only `withTexts`.
std::size_t ParsePrefix(std::string_view text, bool withTexts, KECGlpsAuditEntry* entry) {
  std::size_t i = 0;
  const bool negative = At(text, 0, "-");
  if (negative) ++i;
  std::size_t digits = 0;
  std::int64_t number = 0;
  while (i + digits < text.size() && text[i + digits] >= '0' && text[i + digits] <= '9') {
    if (digits == 18) return 0;
    number = number * 10 + (text[i + digits] - '0');
    ++digits;
  }
  if (digits == 0 || digits > 18 || !At(text, i + digits, "  ")) return 0;
  i += digits + 2;
  const std::size_t dateStart = i;
  while (i < text.size() && ((text[i] >= '0' && text[i] <= '9') || text[i] == '-')) ++i;
  if (i - dateStart < 8 || i - dateStart > kLongestDate || !At(text, i, "  ")) return 0;
  const std::size_t dateEnd = i;
  i += 2;
  const std::size_t timeLength = TimeLength(text, i);
  if (timeLength == 0 || !At(text, i + timeLength, "  ")) return 0;
  entry->m_nNumber = negative ? -number : number;
  if (withTexts) {
    entry->m_strDate = std::string(text.substr(dateStart, dateEnd - dateStart));
    entry->m_strTime = std::string(text.substr(i, timeLength));
  }
  return i + timeLength + 2;
}

// Whether `text` is `pattern` with every "%1".."%9" standing for a non-empty text ("%1" for
// `first` exactly). Literal parts are matched in a loop; only a placeholder tries its ends.
bool MatchesPattern(std::string_view pattern, std::string_view text, std::string_view first) {
  std::size_t p = 0;
  std::size_t t = 0;
  while (p < pattern.size()) {
    const bool placeholder = pattern[p] == '%' && p + 1 < pattern.size() && pattern[p + 1] >= '1' &&
                             pattern[p + 1] <= '9';
    if (placeholder && pattern[p + 1] == '1') {
      if (!At(text, t, first)) return false;
      t += first.size();
      p += 2;
    } else if (placeholder) {
      for (std::size_t end = t + 1; end <= text.size(); ++end) {
        if (MatchesPattern(pattern.substr(p + 2), text.substr(end), first)) return true;
      }
      return false;
    } else {
      if (t >= text.size() || pattern[p] != text[t]) return false;
      ++p;
      ++t;
    }
  }
  return t == text.size();
}

// Fills the user, message, context and bold flag of a message line whose prefix ends at `user`.
void ParseMessage(const Lines& lines, const Line& line, std::size_t user,
                  KECGlpsAuditEntry* entry) {
  const std::string_view tail = lines.SpanText(line, 0).substr(user);
  const bool oneBoldAfter = line.spanCount == 2 && lines.SpanOf(line, 1).bold;
  std::string_view rest;
  if (line.spanCount > 1) {
    const std::string_view whole = lines.Text(line);
    rest = whole.substr(lines.SpanText(line, 0).size());
  }
  if (oneBoldAfter && tail.size() >= 2 && tail.substr(tail.size() - 2) == "  ") {
    // An experiment log's message: the prefix in plain text, the message in bold.
    entry->m_strUser = std::string(tail.substr(0, tail.size() - 2));
    entry->m_strMessage = std::string(rest);
    entry->m_bBold = true;
    return;
  }
  // The user name ends at the first two blanks.
  const std::size_t separator = tail.find("  ");
  entry->m_strUser = std::string(tail.substr(0, separator));
  std::string_view message =
      separator == std::string_view::npos ? std::string_view() : tail.substr(separator + 2);
  if (oneBoldAfter && !message.empty() && message.back() == ':' && rest.size() >= 4 &&
      rest.substr(0, 3) == "  '" && rest.back() == '\'') {
    // A context message: the message, ":", then two blanks and the context in quotes, in bold.
    entry->m_strMessage = std::string(message.substr(0, message.size() - 1));
    entry->m_strContext = std::string(rest.substr(3, rest.size() - 4));
    entry->m_bHasContext = true;
    return;
  }
  entry->m_strMessage = std::string(message) + std::string(rest);
  entry->m_bBold = !rest.empty();
}

bool IsDetailLine(const Lines& lines, const Line& line) {
  return line.kind == Line::Kind::kText && line.spanCount == 1 && !lines.SpanOf(line, 0).bold &&
         lines.SpanText(line, 0).substr(0, kDetailIndent.size()) == kDetailIndent;
}

bool IsEmptyText(const Lines& lines, const Line& line) {
  return line.kind == Line::Kind::kText && lines.Empty(line);
}

// Whether an entry may take in the line after line `k` with it: there is one, and no save ended
// the document between them (`saveEnds`, ascending, may be null).
bool JoinsNext(const std::vector<Line>& lines, std::size_t k,
               const std::vector<std::int64_t>* saveEnds) {
  return k + 1 < lines.size() &&
         (saveEnds == nullptr ||
          !std::binary_search(saveEnds->begin(), saveEnds->end(), lines[k].end));
}

// The closing lines that follow an application log's exit message (a line break, a rule, a line
// break) belong to it: when they follow the message line `*i`, `*i` moves to the last of them and
// `*end` to its end. They are told by their form, so that the entries' bounds do not depend on
// whether the texts are read.
void TakeClosingLines(const Lines& split, const std::vector<std::int64_t>* saveEnds, std::size_t* i,
                      std::int64_t* end) {
  const std::vector<Line>& lines = split.lines;
  std::size_t j = *i + 1;
  if (JoinsNext(lines, j - 1, saveEnds) && IsEmptyText(split, lines[j])) ++j;
  if (JoinsNext(lines, j - 1, saveEnds) && lines[j].kind == Line::Kind::kRule) {
    ++j;
    if (JoinsNext(lines, j - 1, saveEnds) && IsEmptyText(split, lines[j])) ++j;
    *end = lines[j - 1].end;
    *i = j - 1;
  }
}

}  // namespace

EntryTexts EntryTexts::FromTextService() {
  EntryTexts texts;
  texts.tamperTitle = Txts::GetString(kTextTamperTitle);
  texts.extraNote = Txts::GetString(kTextExtraNote);
  texts.startPattern = Txts::GetString(kTextStart);
  texts.exitPattern = Txts::GetString(kTextExit);
  texts.productTitle = Txts::GetString(kTextProductTitle);
  return texts;
}

struct DocumentReader::Workspace {
  Lines lines;
};

DocumentReader::DocumentReader(const EntryTexts& texts)
    : m_texts(texts), m_pWorkspace(new Workspace()) {}

DocumentReader::~DocumentReader() = default;

DocumentEntries ReadDocumentEntries(const std::string& bytes, const std::string& name,
                                    std::int64_t recordedSize, bool applicationLog,
                                    const EntryTexts& texts, bool withTexts) {
  DocumentEntries result;
  DocumentReader(texts).Read(bytes, name, recordedSize, applicationLog, withTexts, &result);
  return result;
}

void DocumentReader::Read(const std::string& bytes, const std::string& name,
                          std::int64_t recordedSize, bool applicationLog, bool withTexts,
                          DocumentEntries* entries, const EntrySink* sink,
                          const std::vector<std::int64_t>* saveEnds, const MarkSink* markSink) {
  const EntryTexts& texts = m_texts;
  DocumentEntries& result = *entries;
  if (!withTexts) sink = nullptr;
  result.entries.clear();
  result.marks.clear();
  result.boundaries.clear();
  result.boundaries.push_back(0);
  // With a sink for the marks, they go to it a batch at a time.
  const auto handOver = [&]() {
    (*markSink)(result);
    result.marks.clear();
    result.boundaries.clear();
  };
  const auto batchFull = [&]() { return markSink != nullptr && result.marks.size() >= kMarkBatch; };
  const auto add = [&](KECGlpsAuditEntry& entry, std::int64_t start, std::int64_t end) {
    EntryMark mark;
    mark.kind = entry.m_eKind;
    mark.number = entry.m_nNumber;
    mark.offset = start;
    mark.length = end - start;
    mark.saved = end <= recordedSize;
    result.marks.push_back(mark);
    if (batchFull()) handOver();
    if (!withTexts) return;
    entry.m_strDocument = name;
    entry.m_nOffset = start;
    entry.m_nLength = end - start;
    entry.m_bSaved = mark.saved;
    if (sink != nullptr) {
      (*sink)(entry);
    } else {
      result.entries.push_back(std::move(entry));
    }
  };

  // The caption that opens a new document: "<I>(name)<BR><BR></I>", on the document's first line.
  std::size_t from = 0;
  if (bytes.compare(0, 4, "<I>(") == 0) {
    const std::string captionEnd = ")<BR><BR></I>";
    const std::size_t lineEnd = bytes.find('\n');
    const std::size_t close = bytes.substr(0, lineEnd).find(captionEnd);
    if (close != std::string::npos) {
      KECGlpsAuditEntry caption;
      caption.m_eKind = Glps::eAuditEntryCaption;
      if (withTexts) caption.m_strMessage = bytes.substr(4, close - 4);
      from = close + captionEnd.size();
      add(caption, 0, static_cast<std::int64_t>(from));
      result.boundaries.push_back(static_cast<std::int64_t>(from));
    }
  }

  Lines& split = m_pWorkspace->lines;
  const std::vector<Line>& lines = split.lines;
  const auto text = [&](const Line& line) { return std::string(split.Text(line)); };
  // The entries of the lines from `next` to `to`, which may look at the lines after them as far as
  // there are any, or up to a line read the quick way: no entry goes on over such a line (it is
  // neither a heading, a rule, an empty line nor a crash entry's detail line).
  std::size_t next = 0;
  const auto quickMark = [&](std::int64_t start, std::int64_t end, std::int64_t number,
                             bool broken) {
    // Made in place: a mark copied from fields written just before would wait for those writes.
    EntryMark& mark = result.marks.emplace_back();
    mark.kind = Glps::eAuditEntryMessage;
    mark.saved = end <= recordedSize;
    mark.number = number;
    mark.offset = start;
    mark.length = end - start;
    if (broken) result.boundaries.push_back(end);
    if (batchFull()) handOver();
  };
  const auto interpret = [&](std::size_t to) {
    std::size_t i;
    for (i = next; i < to; ++i) {
      const Line& line = lines[i];
      const std::int64_t start = line.start;
      std::int64_t end = line.end;
      if (line.numbered) {
        // A message read the quick way, which only reading without the texts does.
        if (applicationLog) TakeClosingLines(split, saveEnds, &i, &end);
        quickMark(start, end, line.number, lines[i].broken);
        continue;
      }
      KECGlpsAuditEntry entry;
      bool crash = false;
      if (line.kind == Line::Kind::kTitle) {
        const bool tamper = split.Text(line) == texts.tamperTitle;
        entry.m_eKind = tamper ? Glps::eAuditEntryTamper : Glps::eAuditEntryTitle;
        if (withTexts) entry.m_strMessage = text(line);
      } else if (line.kind == Line::Kind::kRule) {
        entry.m_eKind = Glps::eAuditEntryRule;
      } else if (split.Empty(line)) {
        const bool tamperFollows = JoinsNext(lines, i, saveEnds) &&
                                   lines[i + 1].kind == Line::Kind::kTitle &&
                                   split.Text(lines[i + 1]) == texts.tamperTitle;
        if (tamperFollows) {
          // A tamper entry: a line break, then the title.
          entry.m_eKind = Glps::eAuditEntryTamper;
          if (withTexts) entry.m_strMessage = texts.tamperTitle;
          end = lines[++i].end;
        } else if (JoinsNext(lines, i, saveEnds) && IsDetailLine(split, lines[i + 1])) {
          // The empty first line of a crash entry whose text was empty.
          crash = true;
        } else {
          // A line break of its own: no entry, but an entry may end after it.
          if (line.broken) result.boundaries.push_back(end);
          continue;
        }
      } else {
        const std::size_t user = !split.SpanOf(line, 0).bold
                                     ? ParsePrefix(split.SpanText(line, 0), withTexts, &entry)
                                     : 0;
        if (user != 0) {
          entry.m_eKind = Glps::eAuditEntryMessage;
          if (withTexts) ParseMessage(split, line, user, &entry);
          const bool plainMessage = withTexts && !entry.m_bBold && !entry.m_bHasContext;
          if (applicationLog && plainMessage &&
              MatchesPattern(texts.startPattern, entry.m_strMessage, texts.productTitle)) {
            entry.m_eKind = Glps::eAuditEntryStart;
          } else if (applicationLog && plainMessage &&
                     MatchesPattern(texts.exitPattern, entry.m_strMessage, texts.productTitle)) {
            entry.m_eKind = Glps::eAuditEntryExit;
          }
          if (applicationLog) TakeClosingLines(split, saveEnds, &i, &end);
        } else if (JoinsNext(lines, i, saveEnds) && IsDetailLine(split, lines[i + 1]) &&
                   !IsDetailLine(split, line)) {
          crash = true;
          if (withTexts) entry.m_strMessage = text(line);
        } else if (withTexts && split.Text(line) == texts.extraNote) {
          entry.m_eKind = Glps::eAuditEntryExtraNote;
          entry.m_strMessage = text(line);
        } else {
          entry.m_eKind = Glps::eAuditEntryText;
          if (withTexts) entry.m_strMessage = text(line);
          entry.m_bBold = line.spanCount == 1 && split.SpanOf(line, 0).bold;
        }
      }
      if (crash) {
        entry.m_eKind = Glps::eAuditEntryCrash;
        // The detail lines, then the line break that ends the entry.
        while (JoinsNext(lines, i, saveEnds) && IsDetailLine(split, lines[i + 1])) {
          ++i;
          if (withTexts) entry.m_vDetails.push_back(text(lines[i]).substr(kDetailIndent.size()));
        }
        if (JoinsNext(lines, i, saveEnds) && IsEmptyText(split, lines[i + 1])) ++i;
        end = lines[i].end;
      }
      add(entry, start, end);
      if (lines[i].broken) result.boundaries.push_back(end);
    }
    next = i;
  };

  // Without the texts, only a line's first span is read (its prefix, or a detail line's
  // indentation), and headings; each line read the quick way ends the entries before it, which
  // are then made at once, so that only the lines of the entry being read are held.
  const auto quickLine = [&](Lines* read, std::int64_t start, std::int64_t end,
                             std::int64_t number) {
    std::vector<Line>& held = read->lines;
    if (held.empty() && !applicationLog) {
      // Nothing before it waits, nor does it wait for anything: marked at once, never held.
      quickMark(start, end, number, true);
      return;
    }
    Line& line = held.emplace_back();
    line.hasText = true;
    line.broken = true;
    line.numbered = true;
    line.start = start;
    line.end = end;
    line.number = number;
    const std::size_t last = held.size() - 1;
    if (next < last) interpret(last);
    // An application log's message may take the closing lines that follow it: it waits for them.
    if (!applicationLog) {
      quickMark(start, end, number, true);
      next = held.size();
    }
    held.erase(held.begin(), held.begin() + static_cast<std::ptrdiff_t>(next));
    next = 0;
  };
  // Entries handed to a sink one by one are not kept, nor are their lines: the lines read so far
  // are made into entries whenever a line ends that no entry before it can take in (a line of
  // text that is no crash entry's detail line), and then forgotten, so that only the lines of the
  // entry being read are held.
  const auto lineDone = [&](Lines* read) {
    if (sink == nullptr) return;
    const Line& last = read->lines.back();
    if (last.kind != Line::Kind::kText || read->Empty(last) || IsDetailLine(*read, last)) return;
    interpret(read->lines.size() - 1);
    read->DropFront(next);
    next = 0;
  };
  const std::size_t reserve =
      !withTexts ? bytes.size() / 8 : (sink != nullptr ? std::size_t{4096} : bytes.size());
  SplitLines(bytes, from, withTexts ? bytes.size() : kKeptWithoutTexts, !withTexts, reserve, &split,
             quickLine, lineDone);
  if (withTexts && sink == nullptr) {
    result.entries.reserve(lines.size() + 1);
    if (markSink == nullptr) {
      result.marks.reserve(lines.size() + 1);
      result.boundaries.reserve(lines.size() + 2);
    }
  }
  interpret(lines.size());
  if (markSink != nullptr) handOver();
}

}  // namespace audit
}  // namespace glps
