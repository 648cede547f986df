// SPDX-License-Identifier: Apache-2.0
// Layout of the printable copy with Pango, written as PDF by Cairo.
//
// The copy is a sequence of blocks (a title, a field of the first page, an entry, a record), each
// one Pango layout. It is laid out twice over the same sequence: the first pass measures every
// block and decides where it goes (page and position, split at line boundaries when a block is
// taller than what is left of a page), so that the number of pages is known; the second pass draws
// every page with its header and its footer "N of M". Layouts are made afresh in each pass, so the
// memory needed does not grow with the number of entries beyond one placement per block.
//
// This unit is built into libglps-pdf.so, not into libglps.so.
#include "audit/pdf_copy.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>
#include <utility>

namespace glps {
namespace audit {

namespace {

// --- Page geometry, in points ------------------------------------------------------------------
constexpr double kPageWidth = 595.276;  // A4
constexpr double kPageHeight = 841.89;
constexpr double kLeft = 48;
constexpr double kRight = kPageWidth - 48;
constexpr double kBodyWidth = kRight - kLeft;
constexpr double kBodyTop = 66;
constexpr double kBodyBottom = kPageHeight - 56;
constexpr double kHeaderBaseline = 36;
constexpr double kHeaderRule = 44;
constexpr double kFooterRule = kPageHeight - 44;
constexpr double kFooterBaseline = kPageHeight - 30;
// Inside a box: padding around the text and the width of the bar at its left edge.
constexpr double kBoxPad = 5;
constexpr double kBoxBar = 3.5;
// Room kept below a heading, so that it never ends a page on its own.
constexpr double kKeepWithNext = 40;

constexpr char kFontFamily[] = "DejaVu Sans";
constexpr double kBodySize = 8.5;

struct Rgb {
  double r, g, b;
};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kGrey{0.38, 0.38, 0.38};
constexpr Rgb kRuleGrey{0.7, 0.7, 0.7};
constexpr Rgb kRed{0.72, 0.05, 0.05};

enum class Box { kNone, kCrash, kTamper, kExtraNote, kGood, kWarning, kBad };

struct BoxColours {
  Rgb fill;
  Rgb bar;
};

BoxColours ColoursOf(Box box) {
  switch (box) {
    case Box::kCrash: return {{1.0, 0.91, 0.86}, {0.85, 0.33, 0.0}};
    case Box::kTamper: return {{1.0, 0.86, 0.86}, {0.75, 0.0, 0.0}};
    case Box::kExtraNote: return {{1.0, 0.97, 0.82}, {0.85, 0.65, 0.0}};
    case Box::kGood: return {{0.88, 0.96, 0.88}, {0.1, 0.55, 0.1}};
    case Box::kWarning: return {{1.0, 0.96, 0.84}, {0.85, 0.6, 0.0}};
    case Box::kBad: return {{1.0, 0.88, 0.88}, {0.75, 0.0, 0.0}};
    case Box::kNone: break;
  }
  return {{1, 1, 1}, {1, 1, 1}};
}

// A stretch of a block's text with its own look (byte offsets into the text).
struct Span {
  std::size_t start;
  std::size_t end;
  bool bold;
  bool red;
  double size;  // in points; 0 for the block's
};

struct Tab {
  double position;  // from the block's left edge
  bool right;       // the text ends at the position (numbers); else starts there
};

// One block: what it says and how it looks. The section of a block that starts a new page names
// that page and the following ones in their headers.
struct Block {
  std::string text;
  std::vector<Span> spans;
  double size = kBodySize;
  bool bold = false;
  Rgb colour = kBlack;
  double hangingIndent = 0;  // every line but the first starts here (from the block's left edge)
  std::vector<Tab> tabs;
  Box box = Box::kNone;
  bool ruleAbove = false;
  bool ruleThrough = false;  // a rule across the middle of the block (a block without text)
  double spaceBefore = 0;
  double spaceAfter = 1.5;
  bool keepWithNext = false;
  bool newPage = false;
  std::string section;          // with newPage: the header's name for the pages from here
  std::string outline;          // with newPage: the bookmark for this page; empty for none
  bool signatureLines = false;  // the reviewer's sign-off row: a line to sign on above each label
  // An entry whose bytes are not intact: its standing, shown in red in the margin beside it.
  std::string marker;
  // Set by FastText for a row that it sets itself, on one line: the pieces of the text with where
  // each starts (the text and spans above are then not laid out).
  struct Piece {
    std::string text;
    bool bold = false;
    double x = 0;  // from the block's left edge
  };
  std::vector<Piece> pieces;
  bool fast = false;
  void Add(const std::string& piece, bool boldPiece = false, bool redPiece = false,
           double pieceSize = 0) {
    if (boldPiece || redPiece || pieceSize > 0) {
      spans.push_back({text.size(), text.size() + piece.size(), boldPiece, redPiece, pieceSize});
    }
    text += piece;
  }
};

// The width left for a block's text inside its box.
double TextWidth(const Block& block) {
  double width = kBodyWidth;
  if (block.box != Box::kNone) width -= 2 * kBoxPad + kBoxBar;
  return width;
}

// --- Text ----------------------------------------------------------------------------------------

void AppendEscaped(std::string* out, unsigned char byte) {
  static const char kHex[] = "0123456789ABCDEF";
  *out += "\\x";
  *out += kHex[byte >> 4];
  *out += kHex[byte & 0xF];
}

std::string FormatUtc(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return std::to_string(seconds);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &tm);
  return text;
}

std::string FormatIso(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm tm{};
  if (gmtime_r(&t, &tm) == nullptr) return std::string();
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

// The code point of the UTF-8 sequence at `at` and its length; 0 when the bytes there are not a
// well-formed one (GLib's reading: no overlong forms, surrogates, code points above U+10FFFF, or
// NUL). The copy's one UTF-8 decoder.
std::size_t Utf8At(std::string_view s, std::size_t at, std::uint32_t* cp) {
  const gunichar c = g_utf8_get_char_validated(s.data() + at, static_cast<gssize>(s.size() - at));
  if (c == static_cast<gunichar>(-1) || c == static_cast<gunichar>(-2)) return 0;
  *cp = c;
  return static_cast<std::size_t>(g_utf8_skip[static_cast<unsigned char>(s[at])]);
}

std::size_t CodePoints(const std::string& text) {
  std::size_t n = 0;
  for (char c : text) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// --- Cairo and Pango objects ---------------------------------------------------------------------

struct GObjectFree {
  void operator()(gpointer object) const { g_object_unref(object); }
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectFree>;
using ContextPtr = std::unique_ptr<PangoContext, GObjectFree>;
using FontMapPtr = std::unique_ptr<PangoFontMap, GObjectFree>;
struct SurfaceFree {
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct CairoFree {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
};
struct FontDescriptionFree {
  void operator()(PangoFontDescription* d) const { pango_font_description_free(d); }
};

// Makes the Pango layouts of blocks, all from one context whose metrics are those of the PDF
// surface (72 points to the inch, no hinting), so that measuring and drawing agree. Owned by the
// renderer; the cairo context must outlive it.
class LayoutMaker {
 public:
  explicit LayoutMaker(cairo_t* cr) : m_fontMap(pango_cairo_font_map_new()) {
    m_context.reset(pango_font_map_create_context(m_fontMap.get()));
    pango_cairo_update_context(cr, m_context.get());
    pango_cairo_context_set_resolution(m_context.get(), 72.0);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(m_context.get(), options);
    cairo_font_options_destroy(options);
  }

  LayoutPtr Make(const Block& block) const {
    LayoutPtr layout(pango_layout_new(m_context.get()));
    std::unique_ptr<PangoFontDescription, FontDescriptionFree> font(pango_font_description_new());
    pango_font_description_set_family(font.get(), kFontFamily);
    pango_font_description_set_size(font.get(), static_cast<int>(block.size * PANGO_SCALE));
    if (block.bold) pango_font_description_set_weight(font.get(), PANGO_WEIGHT_BOLD);
    pango_layout_set_font_description(layout.get(), font.get());
    pango_layout_set_width(layout.get(), static_cast<int>(TextWidth(block) * PANGO_SCALE));
    pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
    if (block.hangingIndent > 0) {
      pango_layout_set_indent(layout.get(), -static_cast<int>(block.hangingIndent * PANGO_SCALE));
    }
    if (!block.tabs.empty()) {
      PangoTabArray* tabs = pango_tab_array_new(static_cast<gint>(block.tabs.size()), TRUE);
      for (std::size_t i = 0; i < block.tabs.size(); ++i) {
        pango_tab_array_set_tab(tabs, static_cast<gint>(i),
                                block.tabs[i].right ? PANGO_TAB_RIGHT : PANGO_TAB_LEFT,
                                static_cast<gint>(block.tabs[i].position));
      }
      pango_layout_set_tabs(layout.get(), tabs);
      pango_tab_array_free(tabs);
    }
    PangoAttrList* attributes = pango_attr_list_new();
    // A line broken inside a word must not gain a hyphen that the entry does not hold.
    pango_attr_list_insert(attributes, pango_attr_insert_hyphens_new(FALSE));
    for (const Span& span : block.spans) {
      if (span.bold) {
        PangoAttribute* bold = pango_attr_weight_new(PANGO_WEIGHT_BOLD);
        bold->start_index = static_cast<guint>(span.start);
        bold->end_index = static_cast<guint>(span.end);
        pango_attr_list_insert(attributes, bold);
      }
      if (span.size > 0) {
        PangoAttribute* size = pango_attr_size_new(static_cast<int>(span.size * PANGO_SCALE));
        size->start_index = static_cast<guint>(span.start);
        size->end_index = static_cast<guint>(span.end);
        pango_attr_list_insert(attributes, size);
      }
      if (span.red) {
        PangoAttribute* red = pango_attr_foreground_new(static_cast<guint16>(kRed.r * 65535),
                                                        static_cast<guint16>(kRed.g * 65535),
                                                        static_cast<guint16>(kRed.b * 65535));
        red->start_index = static_cast<guint>(span.start);
        red->end_index = static_cast<guint>(span.end);
        pango_attr_list_insert(attributes, red);
      }
    }
    pango_layout_set_attributes(layout.get(), attributes);
    pango_attr_list_unref(attributes);
    pango_layout_set_text(layout.get(), block.text.data(), static_cast<int>(block.text.size()));
    return layout;
  }

  // The width of `text` in the body font.
  double Width(const std::string& text, bool bold = false) const {
    Block block;
    block.text = text;
    block.bold = bold;
    LayoutPtr layout = Make(block);
    pango_layout_set_width(layout.get(), -1);
    int width = 0;
    pango_layout_get_size(layout.get(), &width, nullptr);
    return static_cast<double>(width) / PANGO_SCALE;
  }

 private:
  FontMapPtr m_fontMap;
  ContextPtr m_context;
};

// A line of a layout, in points: its extent and its baseline from the layout's top, and where it
// starts from the layout's left edge (after a hanging indent).
struct Line {
  double top;
  double bottom;
  double baseline;
  double x;
};

std::vector<Line> LinesOf(PangoLayout* layout) {
  std::vector<Line> lines;
  PangoLayoutIter* it = pango_layout_get_iter(layout);
  do {
    int y0 = 0;
    int y1 = 0;
    pango_layout_iter_get_line_yrange(it, &y0, &y1);
    PangoRectangle logical;
    pango_layout_iter_get_line_extents(it, nullptr, &logical);
    lines.push_back({static_cast<double>(y0) / PANGO_SCALE, static_cast<double>(y1) / PANGO_SCALE,
                     static_cast<double>(pango_layout_iter_get_baseline(it)) / PANGO_SCALE,
                     static_cast<double>(logical.x) / PANGO_SCALE});
  } while (pango_layout_iter_next_line(it));
  pango_layout_iter_free(it);
  return lines;
}

// --- Rows set without Pango ----------------------------------------------------------------------

// The text of most entries (number, date, time, user and a short message, in Latin letters) is set
// on one line with the glyphs Pango itself picks for each character, and the advances it gives
// them: measuring and drawing such a row takes no layout. A row is set so only when every
// character is one that needs no shaping and that the body font has, every field fits its column
// and the message its width; any other row is laid out by Pango. Owned by the renderer, for one
// copy; the cairo context and the layout maker must outlive it.
class FastText {
 public:
  explicit FastText(const LayoutMaker& maker) : m_maker(maker) {
    // The line of a row in either face, as Pango lays it out.
    for (const bool bold : {false, true}) {
      Block sample;
      sample.tabs = {{10, true}, {20, false}};
      sample.Add("\t1\t", false);
      sample.Add("m", bold);
      LayoutPtr layout = m_maker.Make(sample);
      const std::vector<Line> lines = LinesOf(layout.get());
      m_line[bold ? 1 : 0] = lines.front();
      m_bLineKnown[bold ? 1 : 0] = lines.size() == 1;
      // The body font itself: the one Pango sets a plain letter in.
      Block letter;
      letter.Add("a", bold);
      LayoutPtr a = m_maker.Make(letter);
      const PangoLayoutLine* line = pango_layout_get_line_readonly(a.get(), 0);
      if (line != nullptr && line->runs != nullptr) {
        m_primary[bold ? 1 : 0] =
            static_cast<const PangoGlyphItem*>(line->runs->data)->item->analysis.font;
      }
    }
  }

  // The width of `text` in the body size, false when the text is not for this way.
  bool Width(std::string_view text, bool bold, double* width) {
    double total = 0;
    for (std::size_t i = 0; i < text.size();) {
      const Glyph* glyph = GlyphAt(text, &i, bold);
      if (glyph == nullptr) return false;
      total += glyph->advance;
    }
    *width = total;
    return true;
  }

  // Sets `block`, the row of `entry` under `columns`, for this way when it can be: fills its
  // pieces and sets `fast`.
  void Prepare(const PdfEntry& entry, const std::vector<Tab>& tabs, Block* block) {
    if (!m_bLineKnown[0] || !m_bLineKnown[1] || tabs.size() != 5 || !entry.details.empty() ||
        block->box != Box::kNone) {
      return;
    }
    const std::string fields[4] = {PdfDisplayText(entry.number), PdfDisplayText(entry.date),
                                   PdfDisplayText(entry.time), PdfDisplayText(entry.user)};
    std::vector<Block::Piece> pieces;
    for (int f = 0; f < 4; ++f) {
      double width = 0;
      if (!Width(fields[f], false, &width)) return;
      // Right-aligned (the number) it ends at its tab; left-aligned it starts there and must end
      // before the next, as Pango would place it.
      const double x = tabs[f].right ? tabs[f].position - width : tabs[f].position;
      const double limit = tabs[f + 1].position - (tabs[f + 1].right ? 0 : 0.5);
      if (x < 0 || x + width >= limit) return;
      if (!fields[f].empty()) pieces.push_back({fields[f], false, x});
    }
    double x = tabs[4].position;
    const auto add = [&](const std::string& text, bool bold) {
      double width = 0;
      if (!Width(text, bold, &width)) return false;
      if (!text.empty()) pieces.push_back({text, bold, x});
      x += width;
      return true;
    };
    if (!add(PdfDisplayText(entry.message), entry.bold)) return;
    if (entry.hasContext &&
        (!add(":", false) || !add("  '" + PdfDisplayText(entry.context) + "'", true))) {
      return;
    }
    // On one line, with room to spare for what Pango's kerning could take back.
    if (x > TextWidth(*block) - 1) return;
    block->pieces = std::move(pieces);
    block->fast = true;
  }

  // The one line of a row set this way.
  Line LineOf(const Block& block) const {
    bool bold = false;
    for (const Block::Piece& piece : block.pieces) bold = bold || piece.bold;
    return m_line[bold ? 1 : 0];
  }

  // Draws the row's pieces with their left edge at `x` and the line's baseline at `baseline`: the
  // pieces of each face in one operation (each operation costs the PDF surface more than its
  // glyphs do).
  void Draw(cairo_t* cr, const Block& block, double x, double baseline) {
    for (const bool bold : {false, true}) {
      m_glyphs.clear();
      m_clusters.clear();
      m_text.clear();
      cairo_scaled_font_t* font = nullptr;
      for (const Block::Piece& piece : block.pieces) {
        if (piece.bold != bold) continue;
        double at = x + piece.x;
        for (std::size_t i = 0; i < piece.text.size();) {
          const std::size_t from = i;
          const Glyph* glyph = GlyphAt(piece.text, &i, piece.bold);
          if (glyph == nullptr) return;  // cannot be: Prepare measured it
          font = glyph->font;
          m_glyphs.push_back({glyph->index, at, baseline});
          m_clusters.push_back({static_cast<int>(i - from), 1});
          at += glyph->advance;
        }
        m_text += piece.text;
      }
      if (font == nullptr) continue;
      cairo_set_scaled_font(cr, font);
      cairo_show_text_glyphs(cr, m_text.data(), static_cast<int>(m_text.size()), m_glyphs.data(),
                             static_cast<int>(m_glyphs.size()), m_clusters.data(),
                             static_cast<int>(m_clusters.size()),
                             static_cast<cairo_text_cluster_flags_t>(0));
    }
  }

 private:
  struct Glyph {
    unsigned long index = 0;
    double advance = 0;
    cairo_scaled_font_t* font = nullptr;  // held by Pango's font, which the font map keeps
  };

  // The glyph of the character at `*at` (moved past it), or null when it is not for this way.
  const Glyph* GlyphAt(std::string_view text, std::size_t* at, bool bold) {
    std::uint32_t cp = 0;
    const std::size_t length = Utf8At(text, *at, &cp);
    if (length == 0) return nullptr;
    *at += length;
    std::unordered_map<std::uint32_t, Glyph>& known = m_known[bold ? 1 : 0];
    const auto found = known.find(cp);
    if (found != known.end()) return found->second.font != nullptr ? &found->second : nullptr;
    Glyph& glyph = known[cp];
    Learn(text.substr(*at - length, length), cp, bold, &glyph);
    return glyph.font != nullptr ? &glyph : nullptr;
  }

  // Asks Pango for the glyph of one character alone: usable when it is a letter, digit, mark or
  // blank of the scripts that need no shaping, set as one glyph of the body font itself.
  void Learn(std::string_view character, std::uint32_t cp, bool bold, Glyph* glyph) {
    const bool simple =
        (cp >= 0x20 && cp < 0x7F) || (cp >= 0xA0 && cp < 0x300) || (cp >= 0x370 && cp < 0x590);
    if (!simple) return;
    Block block;
    block.Add(std::string(character), bold);
    LayoutPtr layout = m_maker.Make(block);
    if (pango_layout_get_line_count(layout.get()) != 1 ||
        pango_layout_get_unknown_glyphs_count(layout.get()) != 0) {
      return;
    }
    PangoLayoutLine* line = pango_layout_get_line_readonly(layout.get(), 0);
    if (line->runs == nullptr || line->runs->next != nullptr) return;
    const PangoGlyphItem* run = static_cast<const PangoGlyphItem*>(line->runs->data);
    if (run->glyphs->num_glyphs != 1) return;
    PangoFont* font = run->item->analysis.font;
    // Only the body font's own glyphs, never a fallback's (whose line would be another height).
    if (font == nullptr || font != m_primary[bold ? 1 : 0]) return;
    const PangoGlyphInfo& info = run->glyphs->glyphs[0];
    if ((info.glyph & PANGO_GLYPH_UNKNOWN_FLAG) != 0 || info.glyph == PANGO_GLYPH_EMPTY) return;
    glyph->index = info.glyph;
    glyph->advance = static_cast<double>(info.geometry.width) / PANGO_SCALE;
    glyph->font = pango_cairo_font_get_scaled_font(PANGO_CAIRO_FONT(font));
  }

  const LayoutMaker& m_maker;
  Line m_line[2] = {};
  bool m_bLineKnown[2] = {false, false};
  // The body font in each face (held by the font map, which the layout maker keeps).
  PangoFont* m_primary[2] = {nullptr, nullptr};
  // Per face (regular, bold): every character asked for so far; a null font marks one not for
  // this way.
  std::unordered_map<std::uint32_t, Glyph> m_known[2];
  // The glyphs, clusters and text of the operation being made.
  std::vector<cairo_glyph_t> m_glyphs;
  std::vector<cairo_text_cluster_t> m_clusters;
  std::string m_text;
};

// --- The blocks of a copy ------------------------------------------------------------------------

// A column of a table laid out with tab stops: its width (measured from its widest value, capped)
// and whether its values end at its right edge (numbers) or start at its left.
struct Column {
  double width;
  bool right;
};

// Columns side by side, `kColumnGap` apart. Every row's text starts with a tab and has one before
// each value. Returns the tab stops; `end` receives where the last column ends (the hanging indent
// of a last column that wraps).
constexpr double kColumnGap = 8;

std::vector<Tab> ColumnTabs(const std::vector<Column>& columns, double* end) {
  std::vector<Tab> tabs;
  double x = 0;
  for (const Column& column : columns) {
    tabs.push_back({column.right ? x + column.width : x, column.right});
    x += column.width + kColumnGap;
  }
  *end = x;
  return tabs;
}

// The widest of `values` in the body font, at most `cap`.
double Widest(const LayoutMaker& maker, const std::vector<std::string>& values, double cap,
              bool bold = false) {
  double widest = 0;
  for (const std::string& value : values) widest = std::max(widest, maker.Width(value, bold));
  return std::min(widest, cap);
}

// Where the columns of a document's entries stand: number, date, time and user, then the message,
// which wraps under its own column. A column is as wide as its longest value needs (measured from
// the value with the most characters; the digits of the body font are all as wide), capped so that
// the message keeps most of the width.
struct EntryColumns {
  std::vector<Tab> tabs;
  double message = 0;
};

// What a first reading of a document's entries gathers: its counts, and the values its columns
// are measured from.
struct DocumentFacts {
  std::size_t entries = 0;
  std::size_t crashes = 0;
  std::size_t tampers = 0;
  std::string number = "0";  // as many digits as the longest number
  std::string date;          // the date and time with the most characters
  std::string time;
  // The user names shown, the longest ones only (the widest of a few thousand names is among
  // the longest few in characters).
  std::set<std::pair<std::size_t, std::string>> users;
  EntryColumns columns;

  void Add(const PdfEntry& entry) {
    ++entries;
    crashes += entry.kind == PdfEntryKind::kCrash;
    tampers += entry.kind == PdfEntryKind::kTamper;
    if (entry.number.size() > number.size()) number = std::string(entry.number.size(), '0');
    if (CodePoints(entry.date) > CodePoints(date)) date = entry.date;
    if (CodePoints(entry.time) > CodePoints(time)) time = entry.time;
    const std::string user = PdfDisplayText(entry.user);
    users.insert({CodePoints(user), user});
    if (users.size() > kUsersMeasured) users.erase(users.begin());
  }

  void Measure(const LayoutMaker& maker) {
    std::vector<std::string> userNames;
    for (const auto& user : users) userNames.push_back(user.second);
    double end = 0;
    columns.tabs = ColumnTabs({{Widest(maker, {number}, 60), true},
                               {Widest(maker, {PdfDisplayText(date)}, 90), false},
                               {Widest(maker, {PdfDisplayText(time)}, 110), false},
                               {Widest(maker, userNames, 110), false},
                               {0, false}},
                              &end);
    columns.message = columns.tabs.back().position;
  }

  static constexpr std::size_t kUsersMeasured = 64;
};

const char* LabelOf(PdfEntryKind kind) {
  switch (kind) {
    case PdfEntryKind::kCrash: return "CRASH: the previous run ended abnormally";
    case PdfEntryKind::kTamper: return "TAMPER: the log was found changed outside the library";
    case PdfEntryKind::kExtraNote: return "EXTRA NOTE";
    default: return "";
  }
}

Box BoxOf(PdfEntryKind kind) {
  switch (kind) {
    case PdfEntryKind::kCrash: return Box::kCrash;
    case PdfEntryKind::kTamper: return Box::kTamper;
    case PdfEntryKind::kExtraNote: return Box::kExtraNote;
    default: return Box::kNone;
  }
}

// The word in the margin beside an entry whose bytes are not intact.
const char* MarkerOf(PdfStanding standing) {
  switch (standing) {
    case PdfStanding::kIntact: return "";
    case PdfStanding::kModified: return "MODIFIED";
    case PdfStanding::kUnsavedTail: return "UNSAVED";
    case PdfStanding::kUnrecorded: return "UNRECORDED";
  }
  return "";
}

Block EntryBlock(const PdfEntry& entry, const EntryColumns& columns) {
  Block block;
  block.marker = MarkerOf(entry.standing);
  const Box box = BoxOf(entry.kind);
  if (box != Box::kNone) {
    block.box = box;
    block.spaceBefore = 3;
    block.spaceAfter = 4;
    block.Add(LabelOf(entry.kind), true);
    if (!entry.message.empty()) block.Add("\n" + PdfDisplayText(entry.message), entry.bold);
    for (const std::string& line : entry.details) block.Add("\n     " + PdfDisplayText(line));
    return block;
  }
  if (entry.kind == PdfEntryKind::kRule) {
    block.ruleThrough = true;
    block.size = 3;
    return block;
  }
  if (entry.kind == PdfEntryKind::kText) {
    block.Add(PdfDisplayText(entry.message), entry.bold);
    for (const std::string& line : entry.details) block.Add("\n" + PdfDisplayText(line));
    return block;
  }
  block.tabs = columns.tabs;
  block.hangingIndent = columns.message;
  block.Add("\t" + PdfDisplayText(entry.number) + "\t" + PdfDisplayText(entry.date) + "\t" +
            PdfDisplayText(entry.time) + "\t" + PdfDisplayText(entry.user) + "\t");
  block.Add(PdfDisplayText(entry.message), entry.bold);
  if (entry.hasContext) {
    block.Add(":");
    block.Add("  '" + PdfDisplayText(entry.context) + "'", true);
  }
  for (const std::string& line : entry.details) block.Add("\n" + PdfDisplayText(line));
  if (entry.kind == PdfEntryKind::kStart) {
    block.ruleAbove = true;
    block.spaceBefore = 5;
  }
  if (entry.kind == PdfEntryKind::kExit) block.spaceAfter = 5;
  return block;
}

Block Heading(const std::string& text, double size) {
  Block block;
  block.Add(text);
  block.size = size;
  block.bold = true;
  block.spaceBefore = 8;
  block.spaceAfter = 5;
  block.keepWithNext = true;
  return block;
}

// A box that sets apart what follows it (an unsaved tail, a document not as recorded).
Block Notice(Box box, const std::string& title, const std::string& text) {
  Block notice;
  notice.box = box;
  notice.Add(title, true);
  notice.Add(text);
  notice.spaceBefore = 3;
  notice.spaceAfter = 4;
  return notice;
}

constexpr double kFieldLabel = 120;

// A row of the first page: its label, and its value beside it (in a smaller size when `valueSize`
// is given, for a value that must not be broken over two lines).
Block Field(const std::string& label, const std::string& value, bool boldValue = false,
            double valueSize = 0) {
  Block block;
  block.tabs = {{kFieldLabel, false}};
  block.hangingIndent = kFieldLabel;
  block.Add(label, true);
  block.Add("\t");
  block.Add(value, boldValue, false, valueSize);
  block.spaceAfter = 3;
  block.size = 9.5;
  return block;
}

std::string Count(std::size_t n) { return std::to_string(n); }

// The entries of a document, held by the copy or read through it.
bool ReadEntries(const PdfCopy& copy, std::size_t index,
                 const std::function<void(const PdfEntry&)>& visit) {
  if (copy.readEntries) return copy.readEntries(index, visit);
  for (const PdfEntry& entry : copy.documents[index].entries) visit(entry);
  return true;
}

// The blocks of the copy, in order: the first page, the documents, the records. Each pass of the
// layout walks them once through Walk; the documents' entries are read anew each time. Owned by
// the renderer for one copy.
class Blocks {
 public:
  Blocks(const PdfCopy& copy, const LayoutMaker& maker, FastText* fast)
      : m_copy(copy), m_maker(maker), m_pFast(fast) {}

  // Reads every document's entries once for their counts and columns. False, with the reason in
  // `error`, when they cannot be read.
  bool Gather(std::string* error) {
    m_vFacts.assign(m_copy.documents.size(), DocumentFacts());
    for (std::size_t d = 0; d < m_copy.documents.size(); ++d) {
      DocumentFacts& facts = m_vFacts[d];
      if (!ReadEntries(m_copy, d, [&facts](const PdfEntry& entry) { facts.Add(entry); })) {
        *error = "cannot read the entries of " + PdfDisplayText(m_copy.documents[d].name);
        return false;
      }
      facts.Measure(m_maker);
      m_nEntries += facts.entries;
    }
    return true;
  }

  std::size_t Entries() const { return m_nEntries; }

  // Calls `visit` with every block, in order; `entryDone` after each entry's. False, with the
  // reason, when a document's entries cannot be read.
  bool Walk(const std::function<void(const Block&)>& visit, const std::function<void()>& entryDone,
            std::string* error) const {
    FirstPage(visit);
    for (std::size_t d = 0; d < m_copy.documents.size(); ++d) {
      if (!Document(d, visit, entryDone)) {
        *error = "the entries of " + PdfDisplayText(m_copy.documents[d].name) +
                 " could not be read again";
        return false;
      }
    }
    Records(visit);
    return true;
  }

 private:
  void FirstPage(const std::function<void(const Block&)>& visit) const {
    std::size_t crashes = 0;
    std::size_t tampers = 0;
    for (const DocumentFacts& facts : m_vFacts) {
      crashes += facts.crashes;
      tampers += facts.tampers;
    }
    const PdfCopy& copy = m_copy;
    Block title;
    title.newPage = true;
    title.section = "First page";
    title.outline = "First page: verdict and counts";
    title.Add("Copy of an audit trail for inspection");
    title.size = 17;
    title.bold = true;
    title.spaceAfter = 4;
    visit(title);
    Block subtitle;
    subtitle.Add(PdfDisplayText(copy.logDirectory));
    subtitle.size = 10;
    subtitle.colour = kGrey;
    subtitle.spaceAfter = 12;
    visit(subtitle);

    visit(Field("Log directory", PdfDisplayText(copy.logDirectory)));
    if (!copy.experiment.empty()) visit(Field("Experiment", PdfDisplayText(copy.experiment)));
    visit(Field("Time range", copy.firstTime.empty() ? std::string("no dated entries")
                                                     : PdfDisplayText(copy.firstTime) + "  to  " +
                                                           PdfDisplayText(copy.lastTime)));
    visit(Field("Documents", Count(copy.documents.size())));
    visit(Field("Entries", Count(m_nEntries)));
    visit(Field("Crash entries", Count(crashes), crashes != 0));
    visit(Field("Tamper entries", Count(tampers), tampers != 0));
    visit(Field("File records", Count(copy.records.size())));
    visit(Field("Linked files", Count(copy.linkedFiles.size())));
    // 64 hexadecimal digits fit the value's column in the body size.
    visit(Field("SHA-256 of log.xml",
                copy.logXmlSha256.empty() ? std::string("not available") : copy.logXmlSha256, false,
                kBodySize));
    visit(Field("Copy made", FormatUtc(copy.copyTime) + " by " + PdfDisplayText(copy.toolVersion)));

    visit(Heading("Verdict", 12));
    Block verdict;
    verdict.box = copy.verdictTone == PdfTone::kGood      ? Box::kGood
                  : copy.verdictTone == PdfTone::kWarning ? Box::kWarning
                                                          : Box::kBad;
    verdict.Add(PdfDisplayText(copy.verdict), true);
    for (const std::string& line : copy.verdictDetails) verdict.Add("\n" + PdfDisplayText(line));
    verdict.size = 9.5;
    verdict.spaceAfter = 16;
    visit(verdict);

    visit(Heading("Review", 12));
    Block review;
    review.Add(
        "I have reviewed this copy of the audit trail, its verdict and the entries that follow.");
    review.size = 9.5;
    visit(review);
    Block sign;
    sign.spaceBefore = 36;
    sign.tabs = {{0, false}, {kBodyWidth / 3, false}, {2 * kBodyWidth / 3, false}};
    sign.Add("Reviewed by\tDate\tSignature");
    sign.size = 9.5;
    sign.signatureLines = true;
    visit(sign);
  }

  bool Document(std::size_t d, const std::function<void(const Block&)>& visit,
                const std::function<void()>& entryDone) const {
    const PdfDocument& document = m_copy.documents[d];
    const DocumentFacts& facts = m_vFacts[d];
    const std::string name = PdfDisplayText(document.name);
    Block heading = Heading(
        "Document " + Count(d + 1) + " of " + Count(m_copy.documents.size()) + ": " + name, 12);
    heading.newPage = true;
    heading.section = "Document " + Count(d + 1) + ": " + name;
    heading.outline = heading.section;
    heading.spaceBefore = 0;
    heading.spaceAfter = 2;
    visit(heading);
    Block count;
    count.Add(facts.entries == 0
                  ? std::string("This document holds no entries.")
                  : Count(facts.entries) + (facts.entries == 1 ? " entry" : " entries"));
    count.colour = kGrey;
    count.spaceAfter = 8;
    visit(count);
    if (document.recorded == PdfStanding::kModified) {
      visit(Notice(Box::kBad, "RECORDED PART MODIFIED",
                   ": this document is not as log.xml records it (changed, cut short, or shared "
                   "through a second name). Every entry below is marked: it is not what was "
                   "recorded."));
    } else if (document.recorded == PdfStanding::kUnrecorded) {
      visit(Notice(Box::kBad, "UNRECORDED DOCUMENT",
                   ": no record of log.xml holds this file, named like one of the log's "
                   "documents. Nothing vouches for its entries."));
    }
    bool saved = true;
    std::size_t seen = 0;
    const bool read = ReadEntries(m_copy, d, [&](const PdfEntry& entry) {
      ++seen;
      if (saved && !entry.saved && document.recorded != PdfStanding::kUnrecorded) {
        visit(Notice(Box::kWarning, "UNSAVED TAIL",
                     ": the entries below lie beyond the part of this document that log.xml "
                     "records. They were written after the last save, or appended by someone "
                     "else; nothing vouches for them."));
        saved = false;
      }
      Block block = EntryBlock(entry, facts.columns);
      if (m_pFast != nullptr && !block.tabs.empty()) m_pFast->Prepare(entry, block.tabs, &block);
      visit(block);
      entryDone();
    });
    // The entries must be those counted: the first page says how many.
    return read && seen == facts.entries;
  }

  void Records(const std::function<void(const Block&)>& visit) const {
    const PdfCopy& copy = m_copy;
    Block records = Heading("File records", 12);
    records.newPage = true;
    records.section = "File records";
    records.outline = "File records";
    records.spaceBefore = 0;
    visit(records);
    std::vector<std::string> numbers = {"#"};
    std::vector<std::string> kinds = {"kind"};
    std::vector<std::string> sizes = {"size"};
    std::vector<std::string> fingerprints = {"MD5 fingerprint"};
    std::vector<std::string> statuses = {"status"};
    for (std::size_t i = 0; i < copy.records.size(); ++i) {
      const PdfFileRecord& record = copy.records[i];
      numbers.push_back(Count(i + 1));
      kinds.push_back(PdfDisplayText(record.kind));
      sizes.push_back(std::to_string(record.size));
      fingerprints.push_back(record.fingerprint.empty() ? std::string("-")
                                                        : PdfDisplayText(record.fingerprint));
      statuses.push_back(PdfDisplayText(record.status));
    }
    double nameColumn = 0;
    const std::vector<Tab> tabs = ColumnTabs({{Widest(m_maker, numbers, 40, true), true},
                                              {Widest(m_maker, kinds, 60, true), false},
                                              {Widest(m_maker, sizes, 70, true), true},
                                              {Widest(m_maker, fingerprints, 140, true), false},
                                              {Widest(m_maker, statuses, 90, true), false},
                                              {0, false}},
                                             &nameColumn);
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      Block row;
      row.tabs = tabs;
      row.hangingIndent = tabs.back().position;
      const bool top = i == 0;
      const bool problem = !top && copy.records[i - 1].problem;
      row.Add("\t" + numbers[i] + "\t" + kinds[i] + "\t" + sizes[i] + "\t" + fingerprints[i] + "\t",
              top);
      row.Add(statuses[i], top || problem, problem);
      row.Add("\t" + (top ? std::string("name") : PdfDisplayText(copy.records[i - 1].name)), top);
      row.spaceAfter = top ? 3 : 1.5;
      visit(row);
    }
    if (copy.records.empty()) {
      Block none;
      none.Add("log.xml holds no file records.");
      visit(none);
    }

    visit(Heading("Files in the directory that no record names", 10.5));
    Block unregistered;
    if (copy.unregistered.empty()) unregistered.Add("none");
    for (std::size_t i = 0; i < copy.unregistered.size(); ++i) {
      unregistered.Add((i == 0 ? "" : "\n") + PdfDisplayText(copy.unregistered[i]), false, true);
    }
    visit(unregistered);

    visit(Heading("Linked files", 10.5));
    Block linked;
    if (copy.linkedFiles.empty()) linked.Add("none");
    for (std::size_t i = 0; i < copy.linkedFiles.size(); ++i) {
      linked.Add((i == 0 ? "" : "\n") + PdfDisplayText(copy.linkedFiles[i]));
    }
    visit(linked);
  }

  const PdfCopy& m_copy;
  const LayoutMaker& m_maker;
  FastText* const m_pFast;  // may be null
  std::vector<DocumentFacts> m_vFacts;
  std::size_t m_nEntries = 0;
};

// --- Placement -----------------------------------------------------------------------------------

// A piece of a block on one page: lines [firstLine, endLine) with the piece's top at `y`.
struct Fragment {
  int page;
  double y;
  int firstLine;
  int endLine;
};

struct Page {
  std::string section;
  std::string outline;     // a bookmark to make for this page; empty for none
  bool notIntact = false;  // it shows an entry whose bytes are not intact
};

double Padding(const Block& block) { return block.box == Box::kNone ? 0 : kBoxPad; }

// Decides where every block goes, in order: one fragment per block unless a block is split. The
// first pass places every block to learn the pages; the second places them again the same way
// while drawing, so no placement is kept.
class Paginator {
 public:
  // The fragments of `block`, whose lines are `lines`.
  const std::vector<Fragment>& Place(const Block& block, const std::vector<Line>& lines) {
    m_fragments.clear();
    if (m_pages.empty() || (block.newPage && m_y > kBodyTop)) NewPage();
    if (block.newPage) {
      m_pages.back().section = block.section;
      m_pages.back().outline = block.outline;
    }
    const double pad = Padding(block);
    const double height = lines.back().bottom - lines.front().top + 2 * pad;
    if (m_y > kBodyTop) m_y += block.spaceBefore;
    const double needed = height + (block.keepWithNext ? kKeepWithNext : 0);
    if (m_y + needed > kBodyBottom && m_y > kBodyTop) NewPage();
    int first = 0;
    const int count = static_cast<int>(lines.size());
    while (first < count) {
      // As many lines as fit from here.
      int end = first;
      while (end < count && m_y + 2 * pad + (lines[end].bottom - lines[first].top) <= kBodyBottom) {
        ++end;
      }
      if (end == first) {
        if (m_y > kBodyTop) {
          NewPage();
          continue;
        }
        end = first + 1;  // a line taller than a page: placed all the same, so that pages advance
      }
      m_fragments.push_back({static_cast<int>(m_pages.size()) - 1, m_y, first, end});
      if (!block.marker.empty()) m_pages.back().notIntact = true;
      m_y += 2 * pad + lines[end - 1].bottom - lines[first].top;
      first = end;
      if (first < count) NewPage();
    }
    m_y += block.spaceAfter;
    return m_fragments;
  }

  const std::vector<Page>& Pages() const { return m_pages; }

 private:
  void NewPage() {
    Page page;
    if (!m_pages.empty()) page.section = m_pages.back().section;
    m_pages.push_back(page);
    m_y = kBodyTop;
  }

  std::vector<Page> m_pages;
  // Top of the free space on the current page.
  double m_y = kBodyTop;
  std::vector<Fragment> m_fragments;  // of the last block placed
};

// --- Drawing -------------------------------------------------------------------------------------

void SetColour(cairo_t* cr, Rgb colour) { cairo_set_source_rgb(cr, colour.r, colour.g, colour.b); }

void HorizontalRule(cairo_t* cr, double y, double width, Rgb colour) {
  SetColour(cr, colour);
  cairo_set_line_width(cr, width);
  cairo_move_to(cr, kLeft, y);
  cairo_line_to(cr, kRight, y);
  cairo_stroke(cr);
}

// Draws every block as the second pass places it, and each page's header and footer with what the
// first pass learnt of the pages. Pages are ended in order; the surface writes each as it is
// finished.
class Painter {
 public:
  Painter(cairo_t* cr, cairo_surface_t* surface, const LayoutMaker& maker, FastText* fast,
          const PdfCopy& copy, const std::vector<Page>& pages)
      : m_cr(cr), m_surface(surface), m_maker(maker), m_pFast(fast), m_copy(copy), m_pages(pages) {}

  void Draw(const Block& block, const std::vector<Line>& lines, PangoLayout* layout,
            const std::vector<Fragment>& fragments) {
    for (const Fragment& fragment : fragments) {
      while (m_page < fragment.page) NextPage();
      DrawFragment(block, layout, lines, fragment);
    }
  }

  void Finish() {
    while (m_page + 1 < static_cast<int>(m_pages.size())) NextPage();
    if (m_page >= 0) EndPage();
  }

 private:
  void NextPage() {
    if (m_page >= 0) EndPage();
    ++m_page;
    const Page& page = m_pages[static_cast<std::size_t>(m_page)];
    if (!page.outline.empty()) {
      const std::string link = "page=" + std::to_string(m_page + 1);
      cairo_pdf_surface_add_outline(m_surface, CAIRO_PDF_OUTLINE_ROOT, page.outline.c_str(),
                                    link.c_str(), static_cast<cairo_pdf_outline_flags_t>(0));
    }
    DrawHeader(page);
  }

  void EndPage() {
    DrawFooter();
    cairo_show_page(m_cr);
  }

  // One line of small text in the margin at `baseline`, starting at `left` or ending at the right
  // margin. A text wider than `maxWidth` loses its middle to an ellipsis. Returns the width drawn.
  double MarginText(const std::string& text, double baseline, bool rightAligned, double maxWidth,
                    Rgb colour = kGrey, bool bold = false, double size = 7.5, double left = kLeft) {
    Block block;
    block.Add(text);
    block.size = size;
    block.bold = bold;
    LayoutPtr layout = m_maker.Make(block);
    pango_layout_set_width(layout.get(), -1);
    int natural = 0;
    pango_layout_get_size(layout.get(), &natural, nullptr);
    double width = static_cast<double>(natural) / PANGO_SCALE;
    if (width > maxWidth) {
      pango_layout_set_width(layout.get(), static_cast<int>(maxWidth * PANGO_SCALE));
      pango_layout_set_ellipsize(layout.get(), PANGO_ELLIPSIZE_MIDDLE);
      width = maxWidth;
    }
    SetColour(m_cr, colour);
    cairo_move_to(m_cr, rightAligned ? kRight - width : left, baseline);
    pango_cairo_show_layout_line(m_cr, pango_layout_get_line_readonly(layout.get(), 0));
    return width;
  }

  void DrawHeader(const Page& page) {
    const double right = MarginText(page.section, kHeaderBaseline, true, kBodyWidth * 0.45);
    MarginText("Log: " + PdfDisplayText(m_copy.logTitle), kHeaderBaseline, false,
               kBodyWidth - right - 12);
    HorizontalRule(m_cr, kHeaderRule, 0.5, kRuleGrey);
    if (page.notIntact) {
      MarginText(
          "NOT INTACT: the entries marked on this page come from bytes that are not as "
          "log.xml records them",
          kHeaderRule + 9, false, kBodyWidth, kRed, true);
    }
  }

  void DrawFooter() {
    HorizontalRule(m_cr, kFooterRule, 0.5, kRuleGrey);
    MarginText("Copy of " + FormatUtc(m_copy.copyTime) + ", " + PdfDisplayText(m_copy.toolVersion),
               kFooterBaseline, false, kBodyWidth * 0.7);
    MarginText(std::to_string(m_page + 1) + " of " + std::to_string(m_pages.size()),
               kFooterBaseline, true, kBodyWidth * 0.25);
  }

  void DrawFragment(const Block& block, PangoLayout* layout, const std::vector<Line>& lines,
                    const Fragment& fragment) {
    const double pad = Padding(block);
    const double top = lines[static_cast<std::size_t>(fragment.firstLine)].top;
    const double height =
        lines[static_cast<std::size_t>(fragment.endLine - 1)].bottom - top + 2 * pad;
    double x = kLeft;
    if (!block.marker.empty()) {
      // The entry's standing in the margin, with a bar beside every piece of it.
      SetColour(m_cr, kRed);
      cairo_rectangle(m_cr, kLeft - 4, fragment.y, 1.5, height);
      cairo_fill(m_cr);
      if (fragment.firstLine == 0) {
        MarginText(block.marker, fragment.y + pad + lines.front().baseline - top, false, kLeft - 7,
                   kRed, true, 5, 2);
      }
    }
    if (block.box != Box::kNone) {
      const BoxColours colours = ColoursOf(block.box);
      SetColour(m_cr, colours.fill);
      cairo_rectangle(m_cr, x, fragment.y, kBodyWidth, height);
      cairo_fill(m_cr);
      SetColour(m_cr, colours.bar);
      cairo_rectangle(m_cr, x, fragment.y, kBoxBar, height);
      cairo_fill(m_cr);
      x += kBoxBar + pad;
    }
    if (block.ruleAbove && fragment.firstLine == 0) {
      HorizontalRule(m_cr, fragment.y - block.spaceBefore / 2, 0.4, kRuleGrey);
    }
    if (block.ruleThrough) HorizontalRule(m_cr, fragment.y + height / 2, 0.8, kGrey);
    SetColour(m_cr, block.colour);
    if (block.fast) {
      m_pFast->Draw(m_cr, block, x, fragment.y + pad + lines.front().baseline - top);
    } else {
      for (int i = fragment.firstLine; i < fragment.endLine; ++i) {
        const Line& line = lines[static_cast<std::size_t>(i)];
        cairo_move_to(m_cr, x + line.x, fragment.y + pad + line.baseline - top);
        pango_cairo_show_layout_line(m_cr, pango_layout_get_line_readonly(layout, i));
      }
    }
    if (block.signatureLines) {
      // A line to sign on above each label.
      SetColour(m_cr, kBlack);
      cairo_set_line_width(m_cr, 0.6);
      const double y = fragment.y - 3;
      for (std::size_t t = 0; t < block.tabs.size(); ++t) {
        const double from = x + block.tabs[t].position;
        const double to = t + 1 < block.tabs.size() ? x + block.tabs[t + 1].position - 18 : kRight;
        cairo_move_to(m_cr, from, y);
        cairo_line_to(m_cr, to, y);
      }
      cairo_stroke(m_cr);
    }
  }

  cairo_t* m_cr;
  cairo_surface_t* m_surface;
  const LayoutMaker& m_maker;
  FastText* const m_pFast;
  const PdfCopy& m_copy;
  const std::vector<Page>& m_pages;
  // The page being drawn (-1 before the first).
  int m_page = -1;
};

// Hands the PDF's bytes to the caller's writer, remembering a failure (Cairo then stops writing).
struct WriteClosure {
  const PdfWriter* write;
  bool failed = false;
};

cairo_status_t WriteToCaller(void* closure, const unsigned char* data, unsigned int length) {
  WriteClosure& to = *static_cast<WriteClosure*>(closure);
  if (!to.failed && !(*to.write)(reinterpret_cast<const char*>(data), length)) to.failed = true;
  return to.failed ? CAIRO_STATUS_WRITE_ERROR : CAIRO_STATUS_SUCCESS;
}

}  // namespace

std::string PdfDisplayText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned char b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) {
      if (b == '\t' || b == '\n' || b == '\r') {
        out += ' ';
      } else if (b < 0x20 || b == 0x7F) {
        AppendEscaped(&out, b);
      } else {
        out += static_cast<char>(b);
      }
      ++i;
      continue;
    }
    std::uint32_t cp = 0;
    const std::size_t length = Utf8At(text, i, &cp);
    // C1 control characters (U+0080..U+009F) are escaped like the C0 ones, byte by byte.
    if (length == 0 || cp < 0xA0) {
      AppendEscaped(&out, b);
      ++i;
      continue;
    }
    out.append(text, i, length);
    i += length;
  }
  return out;
}

bool RenderPdfCopy(const PdfCopy& copy, const PdfWriter& write, std::string* error,
                   std::size_t* pages) {
  WriteClosure closure{&write};
  std::unique_ptr<cairo_surface_t, SurfaceFree> surface(
      cairo_pdf_surface_create_for_stream(WriteToCaller, &closure, kPageWidth, kPageHeight));
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    *error = std::string("cannot make a PDF surface: ") +
             cairo_status_to_string(cairo_surface_status(surface.get()));
    return false;
  }
  const std::string title = "Audit trail of " + PdfDisplayText(copy.logTitle);
  const std::string date = FormatIso(copy.copyTime);
  const std::string creator = PdfDisplayText(copy.toolVersion);
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_TITLE, title.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATOR, creator.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_CREATE_DATE, date.c_str());
  cairo_pdf_surface_set_metadata(surface.get(), CAIRO_PDF_METADATA_MOD_DATE, date.c_str());

  std::unique_ptr<cairo_t, CairoFree> cr(cairo_create(surface.get()));
  bool laidOut = false;
  {
    const LayoutMaker maker(cr.get());
    FastText fast(maker);
    Blocks blocks(copy, maker, &fast);
    if (blocks.Gather(error)) {
      // Each entry is laid out twice: once to learn where the pages break, so that every footer
      // can say "N of M", and once to be drawn.
      const std::size_t total = 2 * blocks.Entries();
      std::size_t done = 0;
      const auto entryDone = [&]() {
        ++done;
        if (copy.progress) copy.progress(done, total);
      };
      // A block's lines: those of its one line when it is set without Pango, else its layout's.
      LayoutPtr layout;
      std::vector<Line> lines;
      const auto layOut = [&](const Block& block) {
        if (block.fast) {
          layout.reset();
          lines.assign(1, fast.LineOf(block));
        } else {
          layout = maker.Make(block);
          lines = LinesOf(layout.get());
        }
      };
      Paginator first;
      laidOut = blocks.Walk(
          [&](const Block& block) {
            layOut(block);
            first.Place(block, lines);
          },
          entryDone, error);
      if (laidOut) {
        Paginator second;
        Painter painter(cr.get(), surface.get(), maker, &fast, copy, first.Pages());
        laidOut = blocks.Walk(
            [&](const Block& block) {
              layOut(block);
              painter.Draw(block, lines, layout.get(), second.Place(block, lines));
            },
            entryDone, error);
        if (laidOut) painter.Finish();
        laidOut = laidOut && second.Pages().size() == first.Pages().size();
        if (pages != nullptr) *pages = first.Pages().size();
      }
    }
  }
  cr.reset();
  cairo_surface_finish(surface.get());
  if (!laidOut) {
    if (error->empty()) *error = "the copy's pages could not be laid out twice alike";
    return false;
  }
  const cairo_status_t status = cairo_surface_status(surface.get());
  if (closure.failed || status != CAIRO_STATUS_SUCCESS) {
    *error = closure.failed
                 ? std::string("cannot write the PDF")
                 : std::string("cannot write the PDF: ") + cairo_status_to_string(status);
    return false;
  }
  return true;
}

bool RenderPdfCopy(const PdfCopy& copy, std::string* pdf, std::string* error, std::size_t* pages) {
  pdf->clear();
  return RenderPdfCopy(
      copy,
      [pdf](const char* data, std::size_t size) {
        pdf->append(data, size);
        return true;
      },
      error, pages);
}

}  // namespace audit
}  // namespace glps
