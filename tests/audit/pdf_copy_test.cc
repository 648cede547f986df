// SPDX-License-Identifier: Apache-2.0
// The PDF copy's layout, read back with poppler's pdftotext and pdfinfo as an inspector would.
#include "audit/pdf_copy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "support/pdf_reading.h"
#include "support/temp_dir.h"

namespace glps_test {
namespace {

using glps::audit::PdfCopy;
using glps::audit::PdfDisplayText;
using glps::audit::PdfDocument;
using glps::audit::PdfEntry;
using glps::audit::PdfEntryKind;
using glps::audit::PdfTone;
using glps::audit::RenderPdfCopy;

PdfEntry Message(int number, const std::string& message, bool bold = true,
                 const std::string& context = "") {
  PdfEntry entry;
  entry.kind = PdfEntryKind::kMessage;
  entry.number = std::to_string(number);
  entry.date = "2026-03-0" + std::to_string(1 + number % 9);
  entry.time = "10:" + std::to_string(10 + number % 50) + ":00 +01:00";
  entry.user = number % 5 == 0 ? "m.mueller" : "lab1";
  entry.message = message;
  entry.bold = bold;
  entry.hasContext = !context.empty();
  entry.context = context;
  return entry;
}

PdfEntry Event(PdfEntryKind kind, const std::string& message,
               const std::vector<std::string>& details = {}) {
  PdfEntry entry;
  entry.kind = kind;
  entry.message = message;
  entry.details = details;
  return entry;
}

// Two documents with every kind of entry, texts in several scripts, markup characters, a message
// long enough to wrap and one with a word too long for a line; enough entries for several pages.
PdfCopy SampleCopy() {
  PdfCopy copy;
  copy.logDirectory = "/data/lab/experiments/Titration_7";
  copy.logTitle = "Titration_7";
  copy.experiment = "Titration 7";
  copy.firstTime = "2026-03-01 10:10:00 +01:00";
  copy.lastTime = "2026-03-09 10:59:00 +01:00";
  copy.verdict = "NOT INTACT: 1 of 3 protected files differ from their records";
  copy.verdictDetails = {"GLP-Log-Titration_7_0001.html: modified"};
  copy.verdictTone = PdfTone::kBad;
  // The widest hexadecimal digits: the hash must still not be broken over two lines.
  copy.logXmlSha256 = std::string(64, '0');
  copy.toolVersion = "glps 0.1.0";
  copy.copyTime = 1767225600;  // 2026-01-01 00:00:00 UTC

  PdfDocument first;
  first.name = "GLP-Log-Titration_7_0001.html";
  first.entries.push_back(Event(PdfEntryKind::kCrash, "The previous run ended abnormally.",
                                {"while weighing sample 12", "unsaved entries are lost"}));
  first.entries.push_back(Event(PdfEntryKind::kExtraNote, "Made with an older version."));
  PdfEntry start = Message(1, "Kelvara 4.2 started", false);
  start.kind = PdfEntryKind::kStart;
  first.entries.push_back(start);
  for (int n = 2; n <= 140; ++n) {
    std::string text = "Sample " + std::to_string(n) + " weighed";
    if (n % 20 == 3) text = "Operator Müller added 5 µg; 试剂批号 日本語 한국어 Ελληνικά";
    if (n % 20 == 7) text = "Label as typed: <b>&amp;\" is not markup";
    if (n % 20 == 11) {
      text =
          "A long remark that runs on and on over the width of the message column of the page "
          "so that it has to wrap onto a second and a third line before it ends here";
    }
    if (n % 20 == 13) text = "Code " + std::string(180, 'Q') + " end";
    first.entries.push_back(n % 20 == 5 ? Message(n, "Method changed", false, "2nd endpoint")
                                        : Message(n, text));
  }
  PdfEntry exit = Message(141, "Kelvara 4.2 ended", false);
  exit.kind = PdfEntryKind::kExit;
  first.entries.push_back(exit);
  copy.documents.push_back(first);

  PdfDocument second;
  second.name = "GLP-Log-Titration_7_0002.html";
  second.entries.push_back(Event(PdfEntryKind::kTamper, "The log was changed from outside!"));
  for (int n = 142; n <= 150; ++n) {
    second.entries.push_back(Message(n, "Reading " + std::to_string(n)));
    second.entries.back().saved = n < 148;  // the last three are an unsaved tail
  }
  second.entries.push_back(Event(PdfEntryKind::kRule, ""));
  second.entries.back().saved = false;
  copy.documents.push_back(second);

  copy.records = {
      {"log", "GLP-Log-Titration_7_0001.html", 20480, "qLrcr+EW7kNwWN2rvgDLhA==", "modified", true},
      {"link", "measurements-0001.csv", 123, "+57SuU56fr9MjEZmu0nfTg==", "intact", false},
      {"log", "GLP-Log-Titration_7_0002.html", 900, "1B2M2Y8AsgTpgAmY7PhCfg==", "intact", false},
      {"index", "GLP-Main.html", 0, "", "unprotected", false},
  };
  copy.unregistered = {"notes.txt"};
  copy.linkedFiles = {"measurements-0001.csv"};
  return copy;
}

std::string Render(const PdfCopy& copy) {
  std::string pdf;
  std::string error;
  EXPECT_TRUE(RenderPdfCopy(copy, &pdf, &error)) << error;
  return pdf;
}

// The text of each page without its header (first line) and footer (last line).
std::vector<std::string> Bodies(const std::vector<std::string>& pages) {
  std::vector<std::string> bodies;
  for (const std::string& page : pages) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < page.size()) {
      std::size_t end = page.find('\n', start);
      if (end == std::string::npos) end = page.size();
      if (page.find_first_not_of(' ', start) < end)
        lines.push_back(page.substr(start, end - start));
      start = end + 1;
    }
    std::string body;
    for (std::size_t i = 1; i + 1 < lines.size(); ++i) body += lines[i] + "\n";
    bodies.push_back(body);
  }
  return bodies;
}

// What the copy shows of an entry, in reading order.
std::string ShownText(const PdfEntry& entry) {
  std::string text;
  switch (entry.kind) {
    case PdfEntryKind::kCrash: text = "CRASH: the previous run ended abnormally"; break;
    case PdfEntryKind::kTamper:
      text = "TAMPER: the log was found changed outside the library";
      break;
    case PdfEntryKind::kExtraNote: text = "EXTRA NOTE"; break;
    case PdfEntryKind::kRule: return "";
    default: text = entry.number + entry.date + entry.time + entry.user; break;
  }
  text += entry.message;
  if (!entry.context.empty()) text += ":'" + entry.context + "'";
  for (const std::string& line : entry.details) text += line;
  return WithoutBlanks(text);
}

class PdfCopyTest : public ::testing::Test {
 protected:
  TempDir dir_;
};

TEST_F(PdfCopyTest, ShowsEveryEntryInOrderUnderHeadersAndNumberedFooters) {
  const PdfCopy copy = SampleCopy();
  const std::string path = dir_ / "copy.pdf";
  WriteFileBytes(path, Render(copy));
  const std::vector<std::string> pages = PdfPages(path);
  ASSERT_GE(pages.size(), 5u);
  EXPECT_EQ(PdfInfo(path)["Pages"], std::to_string(pages.size()));

  // Every page: the log and its part of the copy in the header, "N of M" in the footer. The parts
  // follow one another: first page, the documents in order, the file records.
  const std::vector<std::string> sections = {
      "First page", "Document 1: GLP-Log-Titration_7_0001.html",
      "Document 2: GLP-Log-Titration_7_0002.html", "File records"};
  std::size_t section = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::string header = pages[i].substr(0, pages[i].find('\n'));
    SCOPED_TRACE("page " + std::to_string(i + 1) + ": " + header);
    EXPECT_NE(header.find("Log: Titration_7"), std::string::npos);
    while (section < sections.size() && header.find(sections[section]) == std::string::npos) {
      ++section;
    }
    EXPECT_LT(section, sections.size()) << "header names no part of the copy, or out of order";
    const std::string footer = std::to_string(i + 1) + " of " + std::to_string(pages.size());
    const std::string tail = pages[i].substr(pages[i].find_last_not_of(" \n") - 40);
    EXPECT_NE(tail.find(footer), std::string::npos) << tail;
  }
  EXPECT_EQ(section, sections.size() - 1);

  // Every entry, in order, across the page breaks; the unsaved tail marked where it begins.
  std::string body;
  for (const std::string& page : Bodies(pages)) body += WithoutBlanks(page);
  std::size_t at = 0;
  for (const PdfDocument& document : copy.documents) {
    bool saved = true;
    for (const PdfEntry& entry : document.entries) {
      if (saved && !entry.saved) {
        const std::size_t mark = body.find("UNSAVEDTAIL:", at);
        ASSERT_NE(mark, std::string::npos) << "no mark before the unsaved tail";
        EXPECT_EQ(body.find("UNSAVEDTAIL:", mark + 1), std::string::npos);
        at = mark;
      }
      saved = entry.saved;
      const std::string shown = ShownText(entry);
      const std::size_t found = body.find(shown, at);
      ASSERT_NE(found, std::string::npos) << "missing or out of order: " << shown;
      at = found + shown.size();
    }
  }
  for (const auto& record : copy.records) {
    EXPECT_NE(body.find(record.name, at), std::string::npos) << record.name;
  }
  EXPECT_NE(body.find("notes.txt", at), std::string::npos);

  // The first page: the log, the counts, the verdict, the fingerprint of log.xml, the copy's time.
  const std::string first = Words(pages[0]);
  for (const std::string& expected :
       {std::string("Log directory /data/lab/experiments/Titration_7"),
        std::string("Experiment Titration 7"),
        std::string("Time range 2026-03-01 10:10:00 +01:00 to 2026-03-09 10:59:00 +01:00"),
        std::string("Documents 2"), std::string("Entries 154"), std::string("Crash entries 1"),
        std::string("Tamper entries 1"), std::string("File records 4"), copy.verdict,
        std::string("SHA-256 of log.xml ") + copy.logXmlSha256,
        std::string("Copy made 2026-01-01 00:00:00 UTC by glps 0.1.0")}) {
    EXPECT_NE(first.find(expected), std::string::npos) << expected << "\nin: " << first;
  }
}

TEST_F(PdfCopyTest, SameInputGivesSameBytesAndTheTimeIsTheCopys) {
  PdfCopy copy = SampleCopy();
  const std::string once = Render(copy);
  EXPECT_EQ(Render(copy), once);
  copy.copyTime += 3600;
  const std::string later = Render(copy);
  EXPECT_NE(later, once);

  const std::string path = dir_ / "copy.pdf";
  WriteFileBytes(path, later);
  std::map<std::string, std::string> info = PdfInfo(path);
  EXPECT_EQ(info["Title"], "Audit trail of Titration_7");
  EXPECT_EQ(info["Creator"], "glps 0.1.0");
  EXPECT_EQ(info["CreationDate"].substr(0, 19), "2026-01-01T01:00:00");
}

// Copies made at once on several threads (as hosts may make them) are the same as one made alone.
TEST_F(PdfCopyTest, CopiesMadeOnSeveralThreadsAtOnceAreTheSame) {
  const PdfCopy copy = SampleCopy();
  const std::string alone = Render(copy);
  std::vector<std::string> made(4);
  std::vector<std::thread> threads;
  for (std::string& pdf : made) {
    threads.emplace_back([&copy, &pdf] {
      std::string error;
      if (!RenderPdfCopy(copy, &pdf, &error)) pdf = error;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (const std::string& pdf : made) EXPECT_TRUE(pdf == alone) << pdf.substr(0, 200);
}

TEST_F(PdfCopyTest, AnEntryTallerThanAPageGoesOnOverTheNextPages) {
  PdfCopy copy;
  copy.logTitle = "Big";
  copy.verdict = "consistent, not authenticated";
  PdfDocument document;
  document.name = "GLP-Log-Big_0001.html";
  std::string words;
  for (int i = 0; i < 6000; ++i) words += "w" + std::to_string(i) + " ";
  document.entries.push_back(Message(1, words));
  document.entries.push_back(Message(2, "after the long one"));
  copy.documents.push_back(document);

  const std::string path = dir_ / "big.pdf";
  WriteFileBytes(path, Render(copy));
  const std::vector<std::string> pages = PdfPages(path);
  ASSERT_GE(pages.size(), 5u);  // the first page, at least three of the long entry, the records
  std::string body;
  for (const std::string& page : Bodies(pages)) body += Words(page) + " ";
  std::size_t at = 0;
  for (int i = 0; i < 6000; ++i) {
    const std::string word = " w" + std::to_string(i) + " ";
    const std::size_t found = body.find(word, at);
    ASSERT_NE(found, std::string::npos) << word;
    at = found + word.size() - 1;
  }
  EXPECT_NE(body.find("after the long one", at), std::string::npos);
}

TEST_F(PdfCopyTest, AnEmptyLogStillHasItsFirstPageAndRecords) {
  PdfCopy copy;
  copy.logTitle = "Empty";
  copy.verdict = "log.xml holds no records";
  copy.documents.push_back(PdfDocument{"GLP-Log-Empty_0001.html", {}});
  const std::string path = dir_ / "empty.pdf";
  WriteFileBytes(path, Render(copy));
  const std::vector<std::string> pages = PdfPages(path);
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_NE(Words(pages[0]).find("Entries 0"), std::string::npos);
  EXPECT_NE(Words(pages[0]).find("Time range no dated entries"), std::string::npos);
  EXPECT_NE(Words(pages[1]).find("This document holds no entries."), std::string::npos);
  EXPECT_NE(Words(pages[2]).find("log.xml holds no file records."), std::string::npos);
  EXPECT_NE(Words(pages[2]).find("3 of 3"), std::string::npos);
}

// The words beside the first word `text` (on its page, their boxes beside its box), left to
// right.
std::vector<PdfWord> LineWith(const std::vector<PdfWord>& words, const std::string& text) {
  std::vector<PdfWord> line;
  for (const PdfWord& word : words) {
    if (word.text != text) continue;
    for (const PdfWord& other : words) {
      if (other.page == word.page && other.yMax > word.yMin && other.yMin < word.yMax) {
        line.push_back(other);
      }
    }
    break;
  }
  std::sort(line.begin(), line.end(),
            [](const PdfWord& a, const PdfWord& b) { return a.xMin < b.xMin; });
  return line;
}

// Most rows are set without a layout of their own (Latin and Greek letters, one line); the others
// are laid out by Pango. Both stand alike: every column begins where the other's does, and rows
// are as far apart.
TEST_F(PdfCopyTest, RowsSetWithoutALayoutStandWhereALayoutPutsThem) {
  PdfCopy copy = SampleCopy();
  PdfDocument document;
  document.name = "GLP-Log-Rows_0001.html";
  // Set by the rows' own way: ASCII, Latin-1, Greek; by Pango: Chinese (another font), a
  // combining mark, a message that wraps.
  const std::vector<std::string> messages = {"plain1 weighed",
                                             "Mueller2 µg ü",
                                             "Greek3 Ελληνικά",
                                             "Chinese4 试剂",
                                             "Combining5 e\xcc\x81",
                                             "Plain6 weighed",
                                             std::string("Long7 ") + std::string(300, 'w')};
  for (std::size_t i = 0; i < messages.size(); ++i) {
    PdfEntry entry = Message(static_cast<int>(i) + 1, messages[i], i % 2 == 0);
    entry.date = "2026-03-01";
    entry.time = "10:00:00 +01:00";
    entry.user = "lab" + std::to_string(i + 1);
    document.entries.push_back(entry);
  }
  copy.documents = {document};
  const std::string path = dir_ / "rows.pdf";
  WriteFileBytes(path, Render(copy));
  const std::vector<PdfWord> words = PdfWords(path);
  std::vector<std::vector<PdfWord>> rows;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    rows.push_back(LineWith(words, "lab" + std::to_string(i + 1)));
    ASSERT_GE(rows.back().size(), 5u) << messages[i];
  }
  for (std::size_t i = 1; i < rows.size(); ++i) {
    SCOPED_TRACE(messages[i]);
    // Number (ending at its column's right edge), date, time, offset, user, the message's start.
    EXPECT_NEAR(rows[i][0].xMax, rows[0][0].xMax, 0.01);
    for (std::size_t w = 1; w < 5; ++w) EXPECT_NEAR(rows[i][w].xMin, rows[0][w].xMin, 0.01) << w;
    EXPECT_NEAR(rows[i][5].xMin, rows[0][5].xMin, 0.01);
    if (i != 3 && i != 4) {  // a line of another font's letters is as high as they need
      EXPECT_NEAR(rows[i][0].yMin - rows[i - 1][0].yMin, rows[1][0].yMin - rows[0][0].yMin, 0.01)
          << "rows as far apart";
    }
  }
  // The wrapped message goes on under its own column (within the fraction of a point by which
  // Pango sets a line's start apart from a tab's).
  bool wrapped = false;
  for (const PdfWord& word : words) {
    wrapped = wrapped || (word.yMin > rows.back()[0].yMin + 1 && word.text.find("www") == 0 &&
                          std::abs(word.xMin - rows[0][5].xMin) < 0.5);
  }
  EXPECT_TRUE(wrapped);
}

// An entry whose bytes are not intact carries its standing in the margin, and every page that
// shows one says so at its top; pages of intact entries say nothing.
TEST_F(PdfCopyTest, EveryEntryAndPageNotIntactIsMarked) {
  using glps::audit::PdfStanding;
  PdfCopy copy = SampleCopy();
  copy.documents[1].recorded = PdfStanding::kModified;
  for (PdfEntry& entry : copy.documents[1].entries) {
    entry.standing = entry.saved ? PdfStanding::kModified : PdfStanding::kUnsavedTail;
  }
  PdfDocument unrecorded;
  unrecorded.name = "GLP-Log-Titration_7_0009.html";
  unrecorded.recorded = PdfStanding::kUnrecorded;
  unrecorded.entries.push_back(Message(999, "Forged 9"));
  unrecorded.entries.back().saved = false;
  unrecorded.entries.back().standing = PdfStanding::kUnrecorded;
  copy.documents.push_back(unrecorded);
  const std::string path = dir_ / "marked.pdf";
  WriteFileBytes(path, Render(copy));
  const std::vector<std::string> pages = PdfPages(path);
  const std::string note = "NOT INTACT: the entries marked on this page";
  std::size_t marked = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::string words = Words(pages[i]);
    const bool notIntact = words.find("Reading 14") != std::string::npos ||
                           words.find("Forged 9") != std::string::npos;
    EXPECT_EQ(words.find(note) != std::string::npos, notIntact) << "page " << i + 1;
    marked += notIntact ? 1 : 0;
  }
  EXPECT_EQ(marked, 2u) << "the second document's page and the unrecorded one's";
  const std::vector<PdfWord> words = PdfWords(path);
  const struct {
    const char* entry;
    const char* marker;
  } rows[] = {{"142", "MODIFIED"},   {"147", "MODIFIED"}, {"148", "UNSAVED"}, {"150", "UNSAVED"},
              {"999", "UNRECORDED"}, {"141", ""},         {"2", ""}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.entry);
    const std::vector<PdfWord> line = LineWith(words, row.entry);
    ASSERT_FALSE(line.empty());
    // The marker stands in the left margin, before the entry's number.
    const bool inMargin = line.front().xMax < 48;
    EXPECT_EQ(inMargin ? line.front().text : std::string(), row.marker);
  }
  std::string all;
  for (const std::string& page : pages) all += Words(page) + " ";
  EXPECT_NE(all.find("RECORDED PART MODIFIED"), std::string::npos);
  EXPECT_NE(all.find("UNRECORDED DOCUMENT"), std::string::npos);
  EXPECT_EQ(all.find("UNSAVED TAIL", all.find("UNRECORDED DOCUMENT")), std::string::npos)
      << "a document no record holds has no unsaved tail";
}

// Entries read through the copy's reader are read again for each pass and must be the same each
// time; the progress counts each entry laid out.
TEST_F(PdfCopyTest, EntriesReadForEachPassMustAgree) {
  PdfCopy held = SampleCopy();
  std::vector<std::vector<PdfEntry>> entries;
  for (PdfDocument& document : held.documents) entries.push_back(std::move(document.entries));
  const auto copyWith = [&](std::map<std::size_t, int>* calls, int shortOnCall) {
    PdfCopy copy = held;
    copy.readEntries = [&entries, calls, shortOnCall](
                           std::size_t index, const std::function<void(const PdfEntry&)>& visit) {
      const int call = ++(*calls)[index];
      std::size_t count = entries[index].size();
      if (call == shortOnCall) --count;
      for (std::size_t i = 0; i < count; ++i) visit(entries[index][i]);
      return true;
    };
    return copy;
  };

  std::map<std::size_t, int> calls;
  PdfCopy copy = copyWith(&calls, 0);
  std::vector<std::size_t> progress;
  copy.progress = [&progress](std::size_t done, std::size_t total) {
    if (progress.empty() || done == total) progress.push_back(done * 1000 + total);
  };
  std::string pdf;
  std::string error;
  ASSERT_TRUE(RenderPdfCopy(copy, &pdf, &error)) << error;
  EXPECT_EQ(calls, (std::map<std::size_t, int>{{0, 3}, {1, 3}}));
  EXPECT_EQ(progress, (std::vector<std::size_t>{1 * 1000 + 2 * 154, 2 * 154 * 1000 + 2 * 154}));
  // The same as the copy that holds its entries.
  PdfCopy holding = held;
  for (std::size_t d = 0; d < entries.size(); ++d) holding.documents[d].entries = entries[d];
  EXPECT_TRUE(Render(holding) == pdf);

  for (int shortOn : {2, 3}) {
    SCOPED_TRACE(shortOn);
    calls.clear();
    EXPECT_FALSE(RenderPdfCopy(copyWith(&calls, shortOn), &pdf, &error));
    EXPECT_NE(error.find("GLP-Log-Titration_7_0001.html"), std::string::npos) << error;
  }
  copy.readEntries = [](std::size_t, const std::function<void(const PdfEntry&)>&) { return false; };
  EXPECT_FALSE(RenderPdfCopy(copy, &pdf, &error));
  EXPECT_NE(error.find("cannot read the entries"), std::string::npos) << error;
}

TEST(PdfDisplayTextTest, PassesUtf8AndEscapesWhatCouldHideOrBreakText) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"Müller µg 试剂 😀", "Müller µg 试剂 😀"},
      {"a\tb\nc\rd", "a b c d"},            // white space shows as a blank, as in a browser
      {std::string("a\0b", 3), "a\\x00b"},  // control characters are shown, not dropped
      {"\x1b[31m", "\\x1B[31m"},
      {"\x7f", "\\x7F"},
      {"\xc2\x85", "\\xC2\\x85"},                    // a C1 control character
      {"\xff\xfe", "\\xFF\\xFE"},                    // bytes that are never UTF-8
      {"\xc3", "\\xC3"},                             // a sequence cut short at the end
      {"\xc3(", "\\xC3("},                           // ... and in the middle
      {"\xc0\xaf", "\\xC0\\xAF"},                    // an overlong form
      {"\xed\xa0\x80", "\\xED\\xA0\\x80"},           // a surrogate
      {"\xf4\x90\x80\x80", "\\xF4\\x90\\x80\\x80"},  // above U+10FFFF
  };
  for (const auto& c : cases) EXPECT_EQ(PdfDisplayText(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace glps_test
