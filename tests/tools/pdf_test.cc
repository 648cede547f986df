// SPDX-License-Identifier: Apache-2.0
// `glps pdf` run as a child process on the demo's logs, crashed, tampered and continued after the
// tamper, and the copies read back with poppler's pdftotext and pdfinfo: every entry of the trail
// (as KECGlpsAudit::ReadTrail gives it) in order, the first page with the verdict and the counts,
// every page with its header and "N of M" footer, the same bytes for the same time.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "demo.h"
#include "glps/audit.h"
#include "support/file_racer.h"
#include "support/pdf_reading.h"
#include "support/temp_dir.h"
#include "tool_runner.h"

namespace {

using glps_test::PdfInfo;
using glps_test::PdfPages;
using glps_test::ReadFileBytes;
using glps_test::RunProgram;
using glps_test::RunTool;
using glps_test::TempDir;
using glps_test::ToolResult;
using glps_test::WithoutBlanks;
using glps_test::Words;
using ::testing::HasSubstr;

constexpr char kTime[] = "2026-01-02T03:04:05Z";
constexpr char kTimeSeconds[] = "1767323045";

// What the copy shows of an entry, without blanks (lines wrap where the page says).
std::string ShownText(const KECGlpsAuditEntry& entry) {
  std::string text;
  switch (entry.m_eKind) {
    case Glps::eAuditEntryRule: return "";
    case Glps::eAuditEntryCrash: text = "CRASH: the previous run ended abnormally"; break;
    case Glps::eAuditEntryTamper:
      text = "TAMPER: the log was found changed outside the library";
      break;
    case Glps::eAuditEntryExtraNote: text = "EXTRA NOTE"; break;
    default:
      if (entry.m_nNumber >= 0) text = std::to_string(entry.m_nNumber);
      text += entry.m_strDate + entry.m_strTime + entry.m_strUser;
      break;
  }
  text += entry.m_strMessage;
  if (entry.m_bHasContext) text += ":'" + entry.m_strContext + "'";
  for (const std::string& line : entry.m_vDetails) text += line;
  return WithoutBlanks(text);
}

std::string Sha256Hex(const std::string& path) {
  int status = -1;
  const std::string out = RunProgram({"sha256sum", path}, &status);
  return status == 0 ? out.substr(0, 64) : "";
}

// Checks the copy at `pdf` of the log in `dir` against the log itself: the first page (the counts
// of its trail, `verdict`, the SHA-256 of its log.xml), the header and footer of every page, and
// every entry in order. Returns the first page's words.
std::string CheckCopy(const std::string& pdf, const std::string& dir, const std::string& verdict) {
  const std::vector<std::string> pages = PdfPages(pdf);
  EXPECT_GE(pages.size(), 3u);
  if (pages.empty()) return "";
  EXPECT_EQ(PdfInfo(pdf)["Pages"], std::to_string(pages.size()));

  const KECGlpsAuditTrail trail = KECGlpsAudit::ReadTrail(dir);
  EXPECT_EQ(trail.m_strError, "");
  std::size_t crashes = 0;
  std::size_t tampers = 0;
  std::vector<std::string> documents;
  for (const KECGlpsAuditEntry& entry : trail.m_vEntries) {
    crashes += entry.m_eKind == Glps::eAuditEntryCrash;
    tampers += entry.m_eKind == Glps::eAuditEntryTamper;
    if (documents.empty() || documents.back() != entry.m_strDocument) {
      documents.push_back(entry.m_strDocument);
    }
  }
  const std::string first = Words(pages[0]);
  for (const std::string& expected :
       {"Documents " + std::to_string(documents.size()),
        "Entries " + std::to_string(trail.m_vEntries.size()),
        "Crash entries " + std::to_string(crashes), "Tamper entries " + std::to_string(tampers),
        "SHA-256 of log.xml " + Sha256Hex(dir + "/log.xml"), verdict,
        std::string("Copy made 2026-01-02 03:04:05 UTC")}) {
    EXPECT_THAT(first, HasSubstr(expected));
  }

  // Headers and footers; the body of each page without them.
  const std::string logName = dir.substr(dir.rfind('/') + 1);
  std::string body;
  std::size_t document = 0;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const std::string& page = pages[i];
    const std::string header = page.substr(0, page.find('\n'));
    EXPECT_THAT(header, HasSubstr("Log: " + logName));
    if (i > 0 && document < documents.size()) {
      if (header.find(documents[document]) == std::string::npos) ++document;
      if (document < documents.size()) {
        EXPECT_THAT(header, HasSubstr("Document " + std::to_string(document + 1) + ": " +
                                      documents[document]));
      } else {
        EXPECT_THAT(header, HasSubstr("File records"));
      }
    }
    const std::size_t end = page.find_last_not_of(" \n");
    const std::size_t footerStart = page.rfind('\n', end) + 1;
    EXPECT_THAT(page.substr(footerStart),
                HasSubstr(std::to_string(i + 1) + " of " + std::to_string(pages.size())));
    body += WithoutBlanks(page.substr(header.size(), footerStart - header.size()));
  }
  std::size_t at = 0;
  for (const KECGlpsAuditEntry& entry : trail.m_vEntries) {
    const std::string shown = ShownText(entry);
    const std::size_t found = body.find(shown, at);
    EXPECT_NE(found, std::string::npos) << "missing or out of order: " << shown;
    if (found == std::string::npos) break;
    at = found + shown.size();
  }
  // The file records and the linked files after the entries.
  KECGlpsAuditLogState state;
  std::string error;
  EXPECT_TRUE(KECGlpsAudit::ReadLogState(dir, &state, &error)) << error;
  for (const KECGlpsFileManagerData& record : state.m_vRecords) {
    EXPECT_NE(body.find(record.m_strFileName, at), std::string::npos) << record.m_strFileName;
  }
  return first;
}

std::map<std::string, std::string> DemoInfos(const std::string& demo) {
  glps_tool::DemoState state;
  std::string error;
  EXPECT_TRUE(state.Load(glps_tool::DemoStatePath(demo), &error)) << error;
  std::map<std::string, std::string> infos;
  for (const auto& log : state.infos) {
    infos[log.first] = log.second.m_strLogHash + ":" + std::to_string(log.second.m_nLogSize);
  }
  return infos;
}

class PdfCommandTest : public ::testing::Test {
 protected:
  // Runs `glps pdf` on `log` (relative to the demo directory) into `name`, at kTime unless `extra`
  // gives a time; returns its path.
  std::string Copy(const std::string& log, const std::string& name,
                   std::vector<std::string> extra = {}) {
    const std::string out = tmp_ / name;
    std::vector<std::string> args = {"pdf", demo_ + "/" + log, "-o", out};
    if (std::find(extra.begin(), extra.end(), "--time") == extra.end()) {
      extra.insert(extra.end(), {"--time", kTime});
    }
    args.insert(args.end(), extra.begin(), extra.end());
    const ToolResult result = RunTool(args);
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_THAT(result.out, HasSubstr("wrote " + out + ": "));
    return out;
  }

  TempDir tmp_;
  const std::string demo_ = tmp_ / "demo";
  const std::string experiment_ = "experiments/Titration_7";
};

// The demo's two logs after a crash, then the experiment log tampered with, then continued with
// the tamper entry that its next opening writes.
TEST_F(PdfCommandTest, CopiesOfTheDemosLogsCrashedTamperedAndContinued) {
  ASSERT_EQ(RunTool({"demo", demo_, "--crash", "--runs", "2", "--messages", "30"}).status, 0);
  std::map<std::string, std::string> infos = DemoInfos(demo_);
  for (const auto& log : infos) {
    SCOPED_TRACE(log.first);
    const std::string pdf = Copy(log.first, "intact.pdf", {"--info", log.second});
    CheckCopy(pdf, demo_ + "/" + log.first, "INTACT and authenticated: all");
  }
  const std::string crashed = CheckCopy(Copy(experiment_, "crashed.pdf"), demo_ + "/" + experiment_,
                                        "CONSISTENT, NOT AUTHENTICATED: no info given");
  EXPECT_THAT(crashed, HasSubstr("Crash entries 1"));

  const auto allWords = [](const std::string& pdf) {
    std::string text;
    for (const std::string& page : PdfPages(pdf)) text += Words(page) + " ";
    return text;
  };
  const std::string kPageMark = "NOT INTACT: the entries marked on this page";
  EXPECT_THAT(allWords(tmp_ / "crashed.pdf"), ::testing::Not(HasSubstr(kPageMark)));

  ASSERT_EQ(RunTool({"demo", demo_, "--tamper"}).status, 0);
  infos = DemoInfos(demo_);
  CheckCopy(Copy(experiment_, "tampered.pdf", {"--info", infos.at(experiment_)}),
            demo_ + "/" + experiment_, "NOT INTACT: 1 file modified");
  // The entries of the modified document, and its pages, say so.
  const std::string tampered = allWords(tmp_ / "tampered.pdf");
  EXPECT_THAT(tampered, HasSubstr(kPageMark));
  EXPECT_THAT(tampered, HasSubstr("RECORDED PART MODIFIED"));
  EXPECT_THAT(tampered, HasSubstr("MODIFIED 1 "));

  ASSERT_EQ(RunTool({"demo", demo_}).status, 0);
  infos = DemoInfos(demo_);
  const std::string continued =
      CheckCopy(Copy(experiment_, "continued.pdf", {"--info", infos.at(experiment_)}),
                demo_ + "/" + experiment_,
                "INTACT NOW, TAMPERING RECORDED EARLIER: the trail holds 1 tamper entry");
  EXPECT_THAT(continued, HasSubstr("Tamper entries 1"));
  EXPECT_THAT(continued, HasSubstr("log.xml matches the info"));
  EXPECT_THAT(continued, HasSubstr("TAMPER: tamper entry (entry "));
}

TEST_F(PdfCommandTest, SameLogAndTimeGiveTheSameBytes) {
  ASSERT_EQ(RunTool({"demo", demo_}).status, 0);
  // (Compared with EXPECT_TRUE: a failure need not print two PDFs.)
  const std::string once = ReadFileBytes(Copy(experiment_, "once.pdf"));
  ASSERT_GT(once.size(), 1000u);
  EXPECT_TRUE(ReadFileBytes(Copy(experiment_, "again.pdf")) == once);
  EXPECT_TRUE(ReadFileBytes(Copy(experiment_, "seconds.pdf", {"--time", kTimeSeconds})) == once);

  // SOURCE_DATE_EPOCH stands for --time; --time wins over it.
  ASSERT_EQ(setenv("SOURCE_DATE_EPOCH", kTimeSeconds, 1), 0);
  const ToolResult fromEnvironment = RunTool({"pdf", demo_ + "/" + experiment_, "-o", "-"});
  const ToolResult overridden =
      RunTool({"pdf", demo_ + "/" + experiment_, "-o", "-", "--time", "1767323046"});
  unsetenv("SOURCE_DATE_EPOCH");
  EXPECT_EQ(fromEnvironment.status, 0);
  EXPECT_TRUE(fromEnvironment.out == once);
  EXPECT_EQ(overridden.status, 0);
  EXPECT_TRUE(overridden.out != once && overridden.out.size() > 1000);
  EXPECT_EQ(PdfInfo(tmp_ / "once.pdf")["CreationDate"].substr(0, 19), "2026-01-02T03:04:05");
}

// The copy's verdict and its entries come from one reading: a racer renaming a forged document
// over the real one as soon as the command has read it finds the copy made from the bytes that
// were verified.
TEST_F(PdfCommandTest, ADocumentSwappedWhileTheCopyIsMadeCannotPutForgedEntriesInIt) {
  ASSERT_EQ(RunTool({"demo", demo_}).status, 0);
  const std::string log = demo_ + "/" + experiment_;
  const std::string name = "GLP-Log-Titration_7_0001.html";
  const std::string genuine = ReadFileBytes(log + "/" + name);
  std::string forged = genuine;
  forged.replace(forged.find("Sample 2 weighed: 1.0240"), 24, "Sample 2 weighed: 1.0290");
  const std::string info = DemoInfos(demo_).at(experiment_);
  const int kTries = 10;
  int swapped = 0;
  for (int i = 0; i < kTries; ++i) {
    SCOPED_TRACE(i);
    glps_test::WriteFileBytes(tmp_ / "forged", forged);
    {
      glps_test::SwapAfterRead racer(log, name, tmp_ / "forged");
      Copy(experiment_, "raced.pdf", {"--info", info});
      swapped += racer.Swapped() ? 1 : 0;
    }
    std::string text;
    for (const std::string& page : PdfPages(tmp_ / "raced.pdf")) text += Words(page) + " ";
    EXPECT_THAT(text, HasSubstr("INTACT and authenticated"));
    EXPECT_THAT(text, HasSubstr("Sample 2 weighed: 1.0240"));
    EXPECT_THAT(text, ::testing::Not(HasSubstr("1.0290")));
    glps_test::WriteFileBytes(log + "/" + name, genuine);
    if (HasFailure()) break;
  }
  EXPECT_EQ(swapped, kTries);
}

TEST_F(PdfCommandTest, UsageErrorsAndLogsThatCannotBeRead) {
  ASSERT_EQ(RunTool({"demo", demo_}).status, 0);
  const std::string log = demo_ + "/" + experiment_;
  const struct {
    std::vector<std::string> args;
    int status;
    const char* message;
  } cases[] = {
      {{"pdf", log}, 2, "--output"},
      {{"pdf", log, "-o", tmp_ / "x.pdf", "--info", "nohash"}, 2, "--info wants HASH:SIZE"},
      {{"pdf", log, "-o", tmp_ / "x.pdf", "--time", "2026-01-02T03:04"}, 2, "--time wants"},
      {{"pdf", log, "-o", log + "/copy.pdf"}, 2, "into the log directory itself"},
      {{"pdf", tmp_ / "absent", "-o", tmp_ / "x.pdf"}, 4, "cannot read the log"},
      {{"pdf", log, "-o", tmp_ / "no/such/dir.pdf"}, 1, "cannot write"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args.back());
    const ToolResult result = RunTool(c.args);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_THAT(result.err, HasSubstr(c.message));
  }
  EXPECT_FALSE(std::ifstream(log + "/copy.pdf").good());
}

}  // namespace
