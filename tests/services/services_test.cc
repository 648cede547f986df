// SPDX-License-Identifier: Apache-2.0
// The service driven end to end through its public interface, reading what it wrote to disk.
#include "glps/glps.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <map>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform_syscalls.h"
#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/temp_dir.h"

namespace {

using glps_test::Documents;
using glps_test::EndsWith;
using glps_test::Experiment;
using glps_test::InfoOf;
using glps_test::kErrorUnusable;
using glps_test::ListDirectory;
using glps_test::PlainLines;
using glps_test::PlainText;
using glps_test::ReadFileBytes;
using glps_test::WriteFileBytes;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

const unsigned kErrorRefused = 0xE02A2712u;

// The message number at the start of a prefix line, or -1.
int MessageNumber(const std::string& line) {
  static const std::regex prefix(
      R"(^(\d+)  \d{4}-\d\d-\d\d  \d\d:\d\d:\d\d [+-]\d\d:\d\d(:\d\d)?  tester  .*)");
  std::smatch match;
  return std::regex_match(line, match, prefix) ? std::stoi(match[1]) : -1;
}

// The text of a prefixed line after the prefix.
std::string MessageText(const std::string& line) {
  std::string::size_type at = line.find("  tester  ");
  return at == std::string::npos ? std::string() : line.substr(at + 10);
}

// The host fixture with an experiment-log directory "<tmp>/exp".
class ServicesTest : public glps_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    mkdir(ExpDir().c_str(), 0755);
  }

  std::string ExpDir() const { return tmp_ / "exp"; }

  bool OpenExp(const KECGlpsLogInfo& info = KECGlpsLogInfo(),
               const KECGlpsLogInfoCrash& crash = KECGlpsLogInfoCrash(),
               const KECGlpsLogInfoExperiment& experiment = Experiment("Exp1"),
               unsigned* error = nullptr, bool* opened = nullptr) {
    return service_->LogExpInit(ExpDir(), true, info, crash, experiment, error, opened);
  }

  // Opens the experiment log, logs the given messages and closes it; returns the info to keep.
  KECGlpsLogInfo WriteExpLog(const std::vector<std::string>& messages,
                             const KECGlpsLogInfo& info = KECGlpsLogInfo()) {
    EXPECT_TRUE(OpenExp(info));
    for (const std::string& m : messages) EXPECT_TRUE(service_->LogExpMsg(m));
    KECGlpsLogInfo out;
    EXPECT_TRUE(service_->LogExpExit(&out));
    return out;
  }

  // How many tamper titles the documents of a directory hold.
  static int CountTitles(const std::string& dir) {
    int count = 0;
    const std::string title = Txts::GetString(18631);
    for (const std::string& d : Documents(dir)) {
      const std::string text = PlainText(ReadFileBytes(dir + "/" + d));
      for (auto at = text.find(title); at != std::string::npos; at = text.find(title, at + 1))
        ++count;
    }
    return count;
  }

  std::vector<std::string> ExpLines() const {
    const std::vector<std::string> documents = Documents(ExpDir());
    EXPECT_FALSE(documents.empty());
    return documents.empty() ? std::vector<std::string>()
                             : PlainLines(ReadFileBytes(ExpDir() + "/" + documents.back()));
  }
};

// --- The application log --------------------------------------------------------------------

TEST_F(ServicesTest, ApplicationLogRunsAreNumberedAndVerifiedAcrossRestarts) {
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  EXPECT_FALSE(service_->IsLogAppTampered());
  const std::string document = service_->GetLogAppFileName();
  ASSERT_FALSE(document.empty());
  EXPECT_TRUE(EndsWith(document, ".html"));
  EXPECT_FALSE(KCGenFileUtils::FileExists(AppDir() + "/log.xml"));
  EXPECT_TRUE(service_->LogAppMsg("hello <world> & \"you\""));
  EXPECT_TRUE(service_->LogAppMsg(""));  // nothing to do
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogAppExit(&info));
  EXPECT_TRUE(info.IsValid());
  EXPECT_EQ(info, InfoOf(AppDir() + "/log.xml"));
  EXPECT_EQ(service_->GetLogAppFileName(), "");

  std::vector<std::string> lines = PlainLines(ReadFileBytes(document));
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[0], "(" + Documents(AppDir()).front() + ")") << "caption names the document";
  EXPECT_EQ(MessageNumber(lines[2]), 1);
  EXPECT_EQ(
      MessageText(lines[2]),
      Txts::GetString(18701, {Txts::GetString(10050), KCGenVersionInfo().GetProductVersionLong()}));
  EXPECT_EQ(MessageNumber(lines[3]), 2);
  EXPECT_EQ(MessageText(lines[3]), "hello <world> & \"you\"");
  EXPECT_EQ(MessageNumber(lines[4]), 3);
  EXPECT_THAT(ReadFileBytes(document), HasSubstr("<HR size=3>"));

  // The next run continues the same document and the numbering, untampered.
  ASSERT_TRUE(service_->LogAppInit(info));
  EXPECT_FALSE(service_->IsLogAppTampered());
  EXPECT_EQ(service_->GetLogAppFileName(), document);
  ASSERT_TRUE(service_->LogAppExit(&info));
  lines = PlainLines(ReadFileBytes(document));
  std::vector<int> numbers;
  for (const std::string& line : lines) {
    if (MessageNumber(line) > 0) numbers.push_back(MessageNumber(line));
  }
  EXPECT_THAT(numbers, ElementsAre(1, 2, 3, 4, 5));
}

TEST_F(ServicesTest, NumbersOfAnUnsavedSessionAreHandedOutAgain) {
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogAppExit(&info));  // numbers 1 (start) and 2 (exit) saved
  ASSERT_TRUE(service_->LogAppInit(info));   // 3
  EXPECT_TRUE(service_->LogAppMsg("lost"));  // 4, never saved
  KECGlpsServices::Destroy();
  service_ = KECGlpsServices::Instance();
  ASSERT_TRUE(service_->LogAppInit(info));  // 3 again
  // The unsaved tail of the document is cut back to what log.xml vouches for.
  EXPECT_TRUE(service_->IsLogAppTampered());
  ASSERT_TRUE(service_->LogAppExit(&info));
  const std::string text = PlainText(ReadFileBytes(AppDir() + "/" + Documents(AppDir()).front()));
  EXPECT_THAT(text, Not(HasSubstr("lost")));
  std::vector<int> numbers;
  for (const std::string& line :
       PlainLines(ReadFileBytes(AppDir() + "/" + Documents(AppDir()).front()))) {
    if (MessageNumber(line) > 0) numbers.push_back(MessageNumber(line));
  }
  EXPECT_THAT(numbers, ElementsAre(1, 2, 3, 4));
}

TEST_F(ServicesTest, ApplicationLogWithoutSessionOrRight) {
  KECGlpsLogInfo info;
  info.m_strLogHash = "untouched";
  EXPECT_FALSE(service_->LogAppExit(&info));
  EXPECT_EQ(info.m_strLogHash, "untouched");
  EXPECT_TRUE(service_->LogAppReportItem(KCRptRepItNormal("x", false, false, false)));
  EXPECT_FALSE(service_->ExportLogApp(tmp_ / "out"));
  EXPECT_FALSE(service_->IsLogAppTampered());
  EXPECT_EQ(service_->GetLogAppFileName(), "");

  KECQrmsServices::Instance()->SetAllowed(Qrms::RightAppGlpLog, false);
  EXPECT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  EXPECT_TRUE(service_->LogAppMsg("not kept"));
  EXPECT_EQ(service_->GetLogAppFileName(), "");
  EXPECT_TRUE(ListDirectory(AppDir()).empty());
}

TEST_F(ServicesTest, RightWithdrawnWhileOpenSilencesMessagesButNotItems) {
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  KECQrmsServices::Instance()->SetAllowed(Qrms::RightAppGlpLog, false);
  EXPECT_TRUE(service_->LogAppMsg("silenced"));
  EXPECT_TRUE(service_->LogAppReportItem(KCRptRepItNormal("item", false, false, false)));
  const std::string document = service_->GetLogAppFileName();
  ASSERT_TRUE(service_->LogAppExit(nullptr));  // a null info still closes
  const std::string html = ReadFileBytes(document);
  EXPECT_THAT(html, Not(HasSubstr("silenced")));
  EXPECT_THAT(html, HasSubstr("item"));
  EXPECT_THAT(html, HasSubstr("<HR size=3>"));
  EXPECT_TRUE(KCGenFileUtils::FileExists(AppDir() + "/log.xml"));
}

TEST_F(ServicesTest, SecondLogAppInitReplacesTheFirstWithoutSaving) {
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  EXPECT_FALSE(KCGenFileUtils::FileExists(AppDir() + "/log.xml"));
  const std::vector<std::string> lines = PlainLines(ReadFileBytes(service_->GetLogAppFileName()));
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(MessageNumber(lines[2]), 1);
}

TEST_F(ServicesTest, DestroyGivesAFreshInstance) {
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  ASSERT_TRUE(OpenExp());
  KECGlpsServices::Destroy();
  service_ = KECGlpsServices::Instance();
  EXPECT_EQ(service_->GetLogAppFileName(), "");
  EXPECT_EQ(service_->GetLogExpFileName(), "");
  EXPECT_EQ(service_->GetMerCodingSchemeInfo(), std::make_pair(true, -1));
  EXPECT_FALSE(KCGenFileUtils::FileExists(AppDir() + "/log.xml"));
  EXPECT_FALSE(KCGenFileUtils::FileExists(ExpDir() + "/log.xml"));
}

TEST_F(ServicesTest, ApplicationCrashAndTamperEntries) {
  KECGlpsLogInfoCrash crash;
  crash.m_bCrashed = true;
  crash.m_strText = "crashed";
  crash.m_vLines = {"first", "second"};
  EXPECT_TRUE(service_->LogAppCrash(crash));  // no session: nothing to write, still success

  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  const std::string document = service_->GetLogAppFileName();
  KECGlpsLogInfoCrash notCrashed = crash;
  notCrashed.m_bCrashed = false;
  EXPECT_FALSE(service_->LogAppCrash(notCrashed));
  EXPECT_FALSE(service_->LogAppTampered(true, true));
  EXPECT_FALSE(service_->LogAppTampered(false, false));
  EXPECT_FALSE(service_->LogAppTampered(false, true));
  EXPECT_THAT(ReadFileBytes(document), Not(HasSubstr("crashed")));

  const std::string before = ReadFileBytes(document);
  EXPECT_TRUE(service_->LogAppCrash(crash));
  EXPECT_TRUE(service_->LogAppTampered(true, false));
  const std::string added = ReadFileBytes(document).substr(before.size());
  EXPECT_EQ(PlainText(added), "crashed\n     first\n     second\n\n\n" + Txts::GetString(18631));
  EXPECT_THAT(added, HasSubstr("<H2>"));

  KECGlpsLogInfoCrash textOnly;
  textOnly.m_bCrashed = true;
  textOnly.m_strText = "text without lines";
  const std::string before2 = ReadFileBytes(document);
  EXPECT_TRUE(service_->LogAppCrash(textOnly));
  EXPECT_EQ(PlainText(ReadFileBytes(document).substr(before2.size())), "\n");
}

// --- The experiment log ---------------------------------------------------------------------

TEST_F(ServicesTest, ExperimentLogOpenedSavedAndReopenedUntampered) {
  unsigned error = 0;
  bool opened = false;
  ASSERT_TRUE(
      OpenExp(KECGlpsLogInfo(), KECGlpsLogInfoCrash(), Experiment("Exp1"), &error, &opened));
  EXPECT_TRUE(opened);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(service_->GetLogExpDirectory(), ExpDir());
  EXPECT_TRUE(service_->LogExpMsg("first"));
  KECGlpsLogInfo saved;
  EXPECT_TRUE(service_->LogExpSave("ignored", &saved));
  EXPECT_EQ(saved, InfoOf(ExpDir() + "/log.xml"));
  EXPECT_TRUE(service_->LogExpMsg("second"));
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));
  EXPECT_NE(info, saved);
  EXPECT_TRUE(service_->LogExpExit(&info));  // logging is off: nothing to do

  ASSERT_TRUE(OpenExp(info));
  EXPECT_TRUE(service_->LogExpMsg("third"));
  ASSERT_TRUE(service_->LogExpExit(&info));
  std::vector<int> numbers;
  std::vector<std::string> texts;
  for (const std::string& line : ExpLines()) {
    if (MessageNumber(line) > 0) {
      numbers.push_back(MessageNumber(line));
      texts.push_back(MessageText(line));
    }
  }
  EXPECT_THAT(numbers, ElementsAre(1, 2, 3));
  EXPECT_THAT(texts, ElementsAre("first", "second", "third"));
  EXPECT_THAT(PlainText(ReadFileBytes(ExpDir() + "/" + Documents(ExpDir()).front())),
              Not(HasSubstr(Txts::GetString(18631))));
  // The message text is bold, the prefix is not.
  EXPECT_THAT(ReadFileBytes(ExpDir() + "/" + Documents(ExpDir()).front()),
              HasSubstr("<B>first</B>"));
}

TEST_F(ServicesTest, ExperimentAcceptanceAndLoggingSwitch) {
  struct Case {
    const char* what;
    bool glp;
    bool extra;
    std::int32_t version;
    bool result;
    unsigned error;
    bool opened;
    bool note;
  };
  const Case cases[] = {
      {"logging off", false, false, 0, true, 0, false, false},
      {"old experiment refused", true, true, 399, false, kErrorRefused, false, false},
      {"extra at the lowest version", true, true, 400, true, 0, true, true},
      {"no extra: any version", true, false, 1, true, 0, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    glps_test::TempDir dir;
    unsigned error = 0;
    bool opened = false;
    EXPECT_EQ(service_->LogExpInit(dir.path(), c.glp, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                   Experiment("E", c.extra, c.version), &error, &opened),
              c.result);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(opened, c.opened);
    EXPECT_TRUE(service_->LogExpMsg("message"));
    const std::vector<std::string> documents = Documents(dir.path());
    if (!c.opened) {
      EXPECT_TRUE(documents.empty());
      EXPECT_EQ(service_->LogExpExit(nullptr), !c.glp);
      continue;
    }
    ASSERT_EQ(documents.size(), 1u);
    const std::string text = PlainText(ReadFileBytes(dir / documents[0]));
    EXPECT_EQ(text.find(Txts::GetString(18635)) != std::string::npos, c.note);
    EXPECT_TRUE(service_->LogExpExit(nullptr));
  }
}

TEST_F(ServicesTest, ContextMessages) {
  ASSERT_TRUE(OpenExp());
  EXPECT_TRUE(service_->LogExpMsgContext("plain", ""));
  EXPECT_TRUE(service_->LogExpMsgContext("with", "ctx"));
  EXPECT_TRUE(service_->LogExpMsgContext("", ""));  // an empty message is logged too
  const std::vector<std::string> lines = ExpLines();
  std::vector<std::string> texts;
  for (const std::string& line : lines) {
    if (MessageNumber(line) > 0) texts.push_back(MessageText(line));
  }
  EXPECT_THAT(texts, ElementsAre("plain", "with:  'ctx'", ""));
  EXPECT_THAT(ReadFileBytes(ExpDir() + "/" + Documents(ExpDir()).front()),
              HasSubstr("<B>&nbsp;&nbsp;'ctx'</B>"));
}

TEST_F(ServicesTest, CrashExtraAndTamperEntriesOfTheExperimentLog) {
  const KECGlpsLogInfo info = WriteExpLog({"before"});
  const std::string document = ExpDir() + "/" + Documents(ExpDir()).front();
  std::string bytes = ReadFileBytes(document);
  bytes[bytes.size() / 2] ^= 1;
  WriteFileBytes(document, bytes);

  KECGlpsLogInfoCrash crash;
  crash.m_bCrashed = true;
  crash.m_strText = "the host crashed";
  crash.m_vLines = {"at step 3"};
  ASSERT_TRUE(OpenExp(info, crash, Experiment("Exp1", true, 410)));
  KECGlpsLogInfo after;
  ASSERT_TRUE(service_->LogExpExit(&after));
  std::string text = PlainText(ReadFileBytes(document));
  const auto crashAt = text.find("the host crashed\n     at step 3\n\n");
  const auto noteAt = text.find(Txts::GetString(18635));
  ASSERT_NE(crashAt, std::string::npos);
  ASSERT_NE(noteAt, std::string::npos);
  EXPECT_LT(crashAt, noteAt);
  EXPECT_EQ(text.find(Txts::GetString(18631)), std::string::npos) << "a crash suppresses it";

  // Tampered again, no crash this time: the title follows the extra note.
  bytes = ReadFileBytes(document);
  bytes[10] ^= 1;
  WriteFileBytes(document, bytes);
  ASSERT_TRUE(OpenExp(after, KECGlpsLogInfoCrash(), Experiment("Exp1", true, 410)));
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  text = PlainText(ReadFileBytes(document));
  const auto note2 = text.rfind(Txts::GetString(18635));
  const auto title = text.find(Txts::GetString(18631));
  ASSERT_NE(title, std::string::npos);
  EXPECT_LT(note2, title);
}

TEST_F(ServicesTest, EveryOutsideChangeMakesTheNextOpeningTampered) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir, const std::string& document)> change;
    bool tampered;
  };
  const auto flipByte = [](const std::string& path, std::size_t at) {
    std::string bytes = ReadFileBytes(path);
    ASSERT_LT(at, bytes.size());
    bytes[at] ^= 0x20;
    WriteFileBytes(path, bytes);
  };
  const Case cases[] = {
      {"untouched", [](const std::string&, const std::string&) {}, false},
      {"document byte", [&](const std::string&, const std::string& d) { flipByte(d, 5); }, true},
      {"document grown",
       [](const std::string&, const std::string& d) { WriteFileBytes(d, ReadFileBytes(d) + "x"); },
       true},
      {"document missing", [](const std::string&, const std::string& d) { unlink(d.c_str()); },
       true},
      {"sidecar byte",
       [&](const std::string&, const std::string& d) {
         flipByte(KCGenFileUtils::MakeNameExtension(d, "xml"), 60);
       },
       true},
      {"linked file byte",
       [&](const std::string& dir, const std::string&) { flipByte(dir + "/data.csv", 1); }, true},
      {"log.xml changed",
       [](const std::string& dir, const std::string&) {
         const std::string path = dir + "/log.xml";
         WriteFileBytes(path, ReadFileBytes(path) + "\r\n");
       },
       true},
      {"log.xml missing",
       [](const std::string& dir, const std::string&) { unlink((dir + "/log.xml").c_str()); },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    glps_test::TempDir dir;
    WriteFileBytes(dir / "data.csv", "a,b\n1,2\n");
    KECGlpsLogInfo info;
    ASSERT_TRUE(service_->LogExpInit(dir.path(), true, info, KECGlpsLogInfoCrash(), Experiment("E"),
                                     nullptr, nullptr));
    ASSERT_TRUE(service_->LogExpLink("data.csv"));
    ASSERT_TRUE(service_->LogExpMsg("entry"));
    ASSERT_TRUE(service_->LogExpExit(&info));
    const std::vector<std::string> documents = Documents(dir.path());
    ASSERT_EQ(documents.size(), 1u);
    const std::string document = dir / documents[0];

    c.change(dir.path(), document);

    ASSERT_TRUE(service_->LogExpInit(dir.path(), true, info, KECGlpsLogInfoCrash(), Experiment("E"),
                                     nullptr, nullptr));
    KECGlpsLogInfo after;
    ASSERT_TRUE(service_->LogExpExit(&after));
    const int titles = CountTitles(dir.path());
    EXPECT_EQ(titles, c.tampered ? 1 : 0);

    // The change has been taken in: the opening after that is clean again (unless the document
    // lost bytes its record vouched for, which stays visible).
    if (std::string(c.what) != "document missing") {
      ASSERT_TRUE(service_->LogExpInit(dir.path(), true, after, KECGlpsLogInfoCrash(),
                                       Experiment("E"), nullptr, nullptr));
      ASSERT_TRUE(service_->LogExpExit(&after));
      EXPECT_EQ(CountTitles(dir.path()), titles) << "no new tamper entry";
    }
  }
}

TEST_F(ServicesTest, ADeletedEmptyFileIsNoticedToo) {
  WriteFileBytes(ExpDir() + "/empty.csv", "");
  ASSERT_TRUE(OpenExp());
  ASSERT_TRUE(service_->LogExpLink("empty.csv"));
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));
  ASSERT_EQ(unlink((ExpDir() + "/empty.csv").c_str()), 0);
  ASSERT_TRUE(OpenExp(info));
  ASSERT_TRUE(service_->LogExpExit(&info));
  EXPECT_EQ(CountTitles(ExpDir()), 1);
}

TEST_F(ServicesTest, ALogRollsOverAtOneMebibyteWithIndexPages) {
  ASSERT_TRUE(OpenExp());
  const std::string filler(200, 'x');
  KECGlpsLogInfo info;
  // Fill the first document past its limit; it keeps growing while the log stays open.
  for (int i = 0; i < 6000; ++i) ASSERT_TRUE(service_->LogExpMsg(filler));
  ASSERT_TRUE(service_->LogExpExit(&info));
  std::vector<std::string> documents = Documents(ExpDir());
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_GE(KCGenFileUtils::FileGetSize(ExpDir() + "/" + documents[0]), 1048576);
  EXPECT_FALSE(KCGenFileUtils::FileExists(ExpDir() + "/GLP-Main.html"));

  ASSERT_TRUE(OpenExp(info));
  EXPECT_TRUE(service_->LogExpMsg("in the second document"));
  EXPECT_EQ(service_->GetLogExpFileName(), ExpDir() + "/GLP-Main.html");
  ASSERT_TRUE(service_->LogExpExit(&info));
  documents = Documents(ExpDir());
  ASSERT_EQ(documents.size(), 2u);
  EXPECT_THAT(PlainText(ReadFileBytes(ExpDir() + "/" + documents[1])),
              HasSubstr("in the second document"));
  const std::string head = "<HTML>\r\n<HEAD>\r\n<TITLE>\r\n</TITLE>\r\n</HEAD>\r\n";
  EXPECT_EQ(ReadFileBytes(ExpDir() + "/GLP-Main.html"),
            head +
                "<FRAMESET rows = \"30%,70%\">\r\n<FRAME name=\"menu\" src=\"GLP-Menu.html\">"
                "<FRAME name=\"log\" src=\"" +
                documents[1] + "\"></FRAMESET>\r\n</HTML>\r\n");
  std::string menu = head + "<BODY>\r\n";
  for (const std::string& d : documents) {
    menu += ": <a class=\"menu\" href=\"" + d + "\" target=\"log\">" + d + "</a><BR>\r\n";
  }
  EXPECT_EQ(ReadFileBytes(ExpDir() + "/GLP-Menu.html"), menu + "</BODY>\r\n</HTML>\r\n");

  // Every later opening rewrites the pages, also when the last document is continued; and it is
  // not tampered by them.
  unlink((ExpDir() + "/GLP-Menu.html").c_str());
  ASSERT_TRUE(OpenExp(info));
  EXPECT_THAT(PlainText(ReadFileBytes(ExpDir() + "/" + documents[1])),
              Not(HasSubstr(Txts::GetString(18631))));
  ASSERT_TRUE(service_->LogExpExit(&info));
  EXPECT_EQ(ReadFileBytes(ExpDir() + "/GLP-Menu.html"), menu + "</BODY>\r\n</HTML>\r\n");
  EXPECT_EQ(Documents(ExpDir()).size(), 2u);
}

TEST_F(ServicesTest, ClearDeletesTheFilesAndRestartsTheLog) {
  WriteFileBytes(ExpDir() + "/data.csv", "payload");
  ASSERT_TRUE(OpenExp());
  const std::string firstDocument = Documents(ExpDir()).front();
  KECGlpsLogMetaData meta;
  meta.m_strExpName = "kept";
  ASSERT_TRUE(service_->LogExpMetaData(meta));
  service_->SetMerCodingSchemeInfo({false, 7});
  ASSERT_TRUE(service_->LogExpLink("data.csv"));
  ASSERT_TRUE(service_->LogExpMsg("one"));
  ASSERT_TRUE(service_->LogExpSave("", nullptr));

  ASSERT_TRUE(service_->ClearLogExp());
  // The log's lock file stays: it is no file of the log.
  EXPECT_EQ(ListDirectory(ExpDir()),
            (std::vector<std::string>{firstDocument, "log.lock", "log.xml"}));
  EXPECT_EQ(service_->GetMerCodingSchemeInfo(), std::make_pair(true, -1));
  EXPECT_EQ(service_->GetLogExpMetaData().m_strExpName, "kept");
  ASSERT_TRUE(service_->LogExpMsg("after clearing"));
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));
  std::vector<int> numbers;
  for (const std::string& line : ExpLines()) {
    if (MessageNumber(line) > 0) numbers.push_back(MessageNumber(line));
  }
  EXPECT_THAT(numbers, ElementsAre(1));
  // Cleared and saved by the library: not tampered.
  ASSERT_TRUE(OpenExp(info));
  EXPECT_THAT(PlainText(ReadFileBytes(ExpDir() + "/" + firstDocument)),
              Not(HasSubstr(Txts::GetString(18631))));
}

TEST_F(ServicesTest, ExportCopiesPagesDocumentsAndLinksOnly) {
  WriteFileBytes(ExpDir() + "/data.csv", "payload");
  ASSERT_TRUE(OpenExp());
  ASSERT_TRUE(service_->LogExpLink("data.csv"));
  ASSERT_TRUE(service_->LogExpSave("", nullptr));
  const std::string document = Documents(ExpDir()).front();

  const std::string out = tmp_ / "out";
  mkdir(out.c_str(), 0755);
  EXPECT_TRUE(service_->ExportLogExp(out));
  EXPECT_EQ(ListDirectory(out), (std::vector<std::string>{document, "data.csv"}));
  EXPECT_EQ(ReadFileBytes(out + "/data.csv"), "payload");

  std::string upper = ExpDir();
  for (char& ch : upper) ch = static_cast<char>(toupper(static_cast<unsigned char>(ch)));
  EXPECT_FALSE(service_->ExportLogExp(upper));
  EXPECT_FALSE(service_->ExportLogExp(ExpDir()));

  // A missing source fails the export; the other files are still copied.
  unlink((ExpDir() + "/data.csv").c_str());
  const std::string out2 = tmp_ / "out2";
  mkdir(out2.c_str(), 0755);
  EXPECT_FALSE(service_->ExportLogExp(out2));
  EXPECT_EQ(ListDirectory(out2), (std::vector<std::string>{document}));
}

TEST_F(ServicesTest, LinksMetadataAndEntities) {
  WriteFileBytes(ExpDir() + "/data.csv", "abc");
  EXPECT_FALSE(service_->LogExpLink("data.csv"));  // no session
  EXPECT_EQ(service_->GetLogExpMetaData().m_strExpName, "");
  ASSERT_TRUE(OpenExp());
  ASSERT_TRUE(service_->LogExpLink("data.csv"));
  EXPECT_EQ(service_->GetLogExpLinkHashInfo("data.csv"),
            std::make_pair(std::string("kAFQmDzST7DWlj99KOF/cg=="), std::int64_t{3}));
  EXPECT_EQ(service_->GetLogExpLinkHashInfo("DATA.csv"),
            std::make_pair(std::string(), std::int64_t{0}));
  for (const std::string bad : {"../data.csv", "/etc/passwd", "a/b", "", "..", "."}) {
    EXPECT_FALSE(service_->LogExpLink(bad)) << bad;
    EXPECT_EQ(service_->GetLogExpLinkHashInfo(bad).second, 0);
  }

  KECGlpsLogMetaData meta;
  meta.m_strVersionOriginal = "4.1";
  meta.m_guidOriginal = KCGenGUID(true);
  meta.m_strExpName = "name";
  ASSERT_TRUE(service_->LogExpMetaData(meta));
  ASSERT_TRUE(service_->LogExpMetaDataName("renamed"));
  EXPECT_EQ(service_->GetLogExpMetaData().m_strVersionOriginal, "4.1");
  EXPECT_EQ(service_->GetLogExpMetaData().m_guidOriginal, meta.m_guidOriginal);
  EXPECT_EQ(service_->GetLogExpMetaData().m_strExpName, "renamed");

  const KCGenGUID guid(true);
  const auto type = static_cast<Glps::ELogEntity>(3);
  ASSERT_TRUE(service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(type, 5, guid)));
  ASSERT_TRUE(service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(type, 5, guid)));
  ASSERT_TRUE(service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(type, 6, KCGenGUID(true))));
  const std::string document = Documents(ExpDir()).front();
  const std::vector<std::pair<std::string, KCGenGUID>> expected = {{document, guid},
                                                                   {document, guid}};
  EXPECT_EQ(service_->GetLogExpMetaDataEntity(type, 5), expected);
  EXPECT_TRUE(service_->GetLogExpMetaDataEntity(type, 7).empty());

  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));
  EXPECT_EQ(service_->GetLogExpMetaDataEntity(type, 5).size(), 0u);
  ASSERT_TRUE(OpenExp(info));
  EXPECT_EQ(service_->GetLogExpMetaDataEntity(type, 5), expected) << "kept in the sidecar";
  EXPECT_EQ(service_->GetLogExpMetaData().m_strExpName, "renamed") << "kept in log.xml";
  EXPECT_EQ(service_->GetLogExpLinkHashInfo("data.csv").second, 3);
}

TEST_F(ServicesTest, CodingSchemeInfo) {
  EXPECT_EQ(service_->GetMerCodingSchemeInfo(), std::make_pair(true, -1));
  service_->SetMerCodingSchemeInfo({false, 12});  // no session: no effect
  EXPECT_EQ(service_->GetMerCodingSchemeInfo(), std::make_pair(true, -1));
  ASSERT_TRUE(OpenExp());
  service_->SetMerCodingSchemeInfo({false, -12});
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));
  ASSERT_TRUE(OpenExp(info));
  EXPECT_EQ(service_->GetMerCodingSchemeInfo(), std::make_pair(false, -12));
}

TEST_F(ServicesTest, UnusableLogAndFailedSaves) {
  KECGlpsLogInfo info = WriteExpLog({"one"});
  const std::string logXml = ExpDir() + "/log.xml";
  chmod(logXml.c_str(), 0444);
  unsigned error = 0;
  bool opened = false;
  EXPECT_FALSE(OpenExp(info, KECGlpsLogInfoCrash(), Experiment("Exp1"), &error, &opened));
  EXPECT_EQ(error, kErrorUnusable);
  EXPECT_TRUE(opened);
  // The session stays; a save that cannot write log.xml fails and reports the file on disk.
  const std::string before = ReadFileBytes(logXml);
  KECGlpsLogInfo saved;
  EXPECT_FALSE(service_->LogExpSave("", &saved));
  EXPECT_EQ(saved, info);
  EXPECT_EQ(ReadFileBytes(logXml), before);
  EXPECT_FALSE(service_->LogExpExit(nullptr));
}

TEST_F(ServicesTest, HostileExperimentNamesStayInsideTheDirectory) {
  const std::string nested = ExpDir() + "/a";
  mkdir(nested.c_str(), 0755);
  const std::vector<std::string> names = {
      "../../etc/x", "exp.v2", "", "-rf", std::string(300, 'n'), std::string("a\0b", 3), "..", "/"};
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(service_->LogExpInit(nested, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                     Experiment(name), nullptr, nullptr));
    ASSERT_TRUE(service_->LogExpMsg("m"));
    ASSERT_TRUE(service_->ClearLogExp());
    ASSERT_TRUE(service_->LogExpExit(nullptr));
    EXPECT_EQ(ListDirectory(tmp_.path()), (std::vector<std::string>{"app", "exp"}));
    EXPECT_EQ(ListDirectory(ExpDir()), std::vector<std::string>{"a"});
    const std::vector<std::string> files = ListDirectory(nested);
    EXPECT_EQ(files.size(), 4u) << "log.xml, the document, its sidecar and the log's lock";
    for (const std::string& file : files) unlink((nested + "/" + file).c_str());
  }
}

// A refused experiment changes no log: the experiment log opened before stays open, logging on, and
// the next entries and exit are its own.
TEST_F(ServicesTest, ARefusedExperimentLeavesTheExperimentOpenedBeforeOpen) {
  ASSERT_TRUE(OpenExp());
  ASSERT_TRUE(service_->LogExpMsg("belongs to Exp1"));
  const std::string document = ExpDir() + "/" + Documents(ExpDir()).front();
  glps_test::TempDir other;
  unsigned error = 0;
  EXPECT_FALSE(service_->LogExpInit(other.path(), true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                    Experiment("Old", true, 300), &error, nullptr));
  EXPECT_EQ(error, kErrorRefused);
  EXPECT_TRUE(service_->LogExpMsg("written after the refusal"));
  EXPECT_THAT(ReadFileBytes(document), HasSubstr("written after the refusal"));
  EXPECT_EQ(service_->GetLogExpFileName(), document);
  EXPECT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_TRUE(ListDirectory(other.path()).empty());
}

TEST_F(ServicesTest, AnEmptyDirectoryIsNotUsableAndNothingLandsInTheWorkingDirectory) {
  glps_test::TempDir cwd;
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(cwd.path().c_str()), 0);
  unsigned error = 0;
  bool opened = false;
  EXPECT_FALSE(service_->LogExpInit("", true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                    Experiment("E"), &error, &opened));
  EXPECT_EQ(error, kErrorUnusable);
  EXPECT_TRUE(opened);
  EXPECT_FALSE(service_->LogExpMsg("nowhere"));
  EXPECT_FALSE(service_->LogExpSave("", nullptr));
  EXPECT_FALSE(service_->ExportLogExp(""));
  EXPECT_FALSE(service_->LogExpExit(nullptr));

  ASSERT_TRUE(OpenExp());
  EXPECT_FALSE(service_->ExportLogExp("")) << "an export into the working directory";
  EXPECT_TRUE(service_->LogExpExit(nullptr));
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_TRUE(ListDirectory(cwd.path()).empty());
}

// --- The running user -------------------------------------------------------------------------

TEST_F(ServicesTest, CurrentUserAndRights) {
  KECQrmsServices::Instance()->SetAllUsers(
      {KCRmsUserInfo("alice", true), KCRmsUserInfo("tester", false), KCRmsUserInfo("bob", true)});
  KECQrmsServices::Instance()->SetUserEnabledRoleRestr("tester", {"review", "sign"});
  std::vector<std::string> admins = {"stale"};
  EXPECT_TRUE(service_->IsCurrentUserOK(&admins));
  EXPECT_TRUE(admins.empty());
  EXPECT_THAT(service_->GetCurrentRights(), ElementsAre("review", "sign"));

  KCGenUserInfo::Instance()->SetCurrentUserName("Tester");  // letter case differs
  KCGenUserInfo::Instance()->SetFullUserName("alice", "Alice Smith");
  KCGenUserInfo::Instance()->SetFullUserName("bob", "");
  EXPECT_FALSE(service_->IsCurrentUserOK(&admins));
  EXPECT_THAT(admins, ElementsAre("Alice Smith (alice)", "bob"));
  EXPECT_FALSE(service_->IsCurrentUserOK(nullptr));
  EXPECT_TRUE(service_->GetCurrentRights().empty());

  KECQrmsServices::Instance()->SetAllUsers({});
  EXPECT_FALSE(service_->IsCurrentUserOK(&admins));
  EXPECT_TRUE(admins.empty());
}

// --- Logs that cannot be written, logging switched off, tamper reporting --------------------

TEST_F(ServicesTest, WritesIntoALogThatCannotBeOpenedFailButEmptyItemsSucceed) {
  // The application-log directory is created when asked for; one under a plain file cannot be.
  WriteFileBytes(tmp_ / "blocker", "");
  KECBaseFilesAndLocations::SetDirectoryAppLog(tmp_ / "blocker/applog");
  EXPECT_FALSE(service_->LogAppInit(KECGlpsLogInfo()));
  EXPECT_FALSE(service_->LogAppMsg("lost"));
  EXPECT_FALSE(service_->LogAppReportItem(KCRptRepItNormal("lost", false, false, false)));
  EXPECT_TRUE(service_->LogAppMsg(""));
  EXPECT_TRUE(service_->LogAppReportItem(KCRptRepItNormal("", true, false, false)));
  EXPECT_TRUE(service_->LogAppReportItem(KCRptRepItNewLine(0)));
  EXPECT_EQ(service_->GetLogAppFileName(), "");

  const std::string missing = tmp_ / "missing";
  unsigned error = 0;
  bool opened = false;
  EXPECT_FALSE(service_->LogExpInit(missing, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                    Experiment("E"), &error, &opened));
  EXPECT_EQ(error, kErrorUnusable);
  EXPECT_TRUE(opened);
  EXPECT_EQ(service_->GetLogExpDirectory(), missing) << "the unusable session stays";
  EXPECT_FALSE(service_->LogExpMsg("lost"));
  EXPECT_FALSE(service_->LogExpMsgContext("lost", "context"));
  EXPECT_FALSE(service_->LogExpReportItem(KCRptRepItNormal("lost", false, false, false)));
  EXPECT_TRUE(service_->LogExpMsg(""));
  EXPECT_TRUE(service_->LogExpReportItem(KCRptRepItNormal("", false, false, false)));

  KECGlpsServices::Destroy();
  service_ = KECGlpsServices::Instance();
  EXPECT_EQ(ListDirectory(tmp_.path()), (std::vector<std::string>{"app", "blocker", "exp"}));
  EXPECT_EQ(ReadFileBytes(tmp_ / "blocker"), "");
  EXPECT_TRUE(ListDirectory(AppDir()).empty());
  EXPECT_TRUE(ListDirectory(ExpDir()).empty());
}

TEST_F(ServicesTest, LoggingSwitchedOffSilencesEntriesButNotTheForwardingOperations) {
  WriteFileBytes(ExpDir() + "/data.csv", "abc");
  ASSERT_TRUE(OpenExp());
  ASSERT_TRUE(service_->LogExpMsg("kept"));
  unsigned error = 7;
  bool opened = false;
  const std::string other = tmp_ / "other";
  EXPECT_TRUE(service_->LogExpInit(other, false, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                   Experiment("E"), &error, &opened));
  EXPECT_EQ(error, 7u);
  EXPECT_FALSE(opened);

  const std::string document = ExpDir() + "/" + Documents(ExpDir()).front();
  const std::string before = ReadFileBytes(document);
  EXPECT_TRUE(service_->LogExpMsg("silenced"));
  EXPECT_TRUE(service_->LogExpMsgContext("silenced", "context"));
  EXPECT_TRUE(service_->LogExpReportItem(KCRptRepItNormal("silenced", false, false, false)));
  EXPECT_EQ(ReadFileBytes(document), before);

  // The earlier session stays open and the operations that only forward to it still act.
  EXPECT_EQ(service_->GetLogExpDirectory(), ExpDir());
  EXPECT_TRUE(service_->LogExpLink("data.csv"));
  EXPECT_EQ(service_->GetLogExpLinkHashInfo("data.csv").second, 3);
  EXPECT_TRUE(service_->LogExpMetaDataName("renamed"));
  EXPECT_EQ(service_->GetLogExpMetaData().m_strExpName, "renamed");

  // Save and exit have nothing to do while logging is off: no log.xml, no info, no closing.
  KECGlpsLogInfo info;
  info.m_strLogHash = "untouched";
  EXPECT_TRUE(service_->LogExpSave("", &info));
  EXPECT_TRUE(service_->LogExpExit(&info));
  EXPECT_EQ(info.m_strLogHash, "untouched");
  EXPECT_FALSE(KCGenFileUtils::FileExists(ExpDir() + "/log.xml"));
  EXPECT_EQ(service_->GetLogExpDirectory(), ExpDir());
  EXPECT_FALSE(KCGenFileUtils::FileExists(other));
}

TEST_F(ServicesTest, ApplicationLogTamperingIsReportedToTheHostNotWrittenByInit) {
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogAppExit(&info));
  const std::string logXml = AppDir() + "/log.xml";
  WriteFileBytes(logXml, ReadFileBytes(logXml) + "\r\n");

  ASSERT_TRUE(service_->LogAppInit(info));
  EXPECT_TRUE(service_->IsLogAppTampered());
  EXPECT_EQ(CountTitles(AppDir()), 0);
  EXPECT_TRUE(service_->LogAppTampered(service_->IsLogAppTampered(), false));
  EXPECT_EQ(CountTitles(AppDir()), 1);
}

// --- Threads --------------------------------------------------------------------------------

// --- What an entry writes --------------------------------------------------------------------

// Counts the write calls the library makes (through its platform unit) into the file with the
// inode g_countedInode while the counter is armed.
int g_writeCalls = 0;
ino_t g_countedInode = 0;
glps::platform::SysCalls g_realCalls;
ssize_t CountingWrite(int fd, const void* buffer, size_t count) {
  struct stat st;
  if (fstat(fd, &st) == 0 && st.st_ino == g_countedInode) ++g_writeCalls;
  return g_realCalls.write(fd, buffer, count);
}

// The HTML of a message prefix made at `time`, as the items' texts of an entry before they were
// written one by one: number, date, time and user, each followed by two blanks, as one plain item.
std::string PrefixHtml(long number, const KCGenTime& time, const std::string& user) {
  std::string date, timeOfDay;
  time.DateString(&date);
  time.TimeString(&timeOfDay, false);
  return KCRptRepItNormal(
             std::to_string(number) + "  " + date + "  " + timeOfDay + "  " + user + "  ", false,
             false, false)
      .GetHtml();
}

std::string Html(const KCRptReportItem& item) { return item.GetHtml(); }

KCGenTime Now() {
  KCGenTime time(false);
  KCTimeMasterClock::Instance()->GetTimeStamp(&time, false);
  return time;
}

// Every kind of entry, for login names that meet the rendering's edges: its bytes in the document
// are exactly the HTML of its report items one after the other (what the items gave when each was
// written by a write of its own), and it is written with one write call.
TEST_F(ServicesTest, EveryKindOfEntryIsItsItemsTextsInOneWrite) {
  g_realCalls = glps::platform::CurrentSysCalls();
  const std::string br = Html(KCRptRepItNewLine(1));
  const std::string products = Txts::GetString(10050);
  const std::vector<std::string> productStrings = {products,
                                                   KCGenVersionInfo().GetProductVersionLong()};
  const std::string message = " Weighed: <1.0 g> & \"ok\"  \xC2\xB5g  end ";
  for (const std::string& user : {std::string("tester"), std::string(" lead  and trail "),
                                  std::string("M\xC3\xBCller<&>"), std::string("\xFF\xFE")}) {
    SCOPED_TRACE(user);
    glps_test::TempDir root;
    KECBaseFilesAndLocations::SetDirectoryAppLog(root / "app");
    mkdir((root / "app").c_str(), 0755);
    mkdir((root / "exp").c_str(), 0755);
    KCGenUserInfo::Instance()->SetCurrentUserName(user);
    std::string document;
    // Runs `call`, which must add one entry to the document; `expected` gives its bytes for an
    // entry made at a moment (the clock is read before and after: either moment will do).
    const auto expectEntry = [&](const std::function<void()>& call,
                                 const std::function<std::string(const KCGenTime&)>& expected) {
      const std::string before = ReadFileBytes(document);
      const KCGenTime start = Now();
      struct stat st;
      ASSERT_EQ(stat(document.c_str(), &st), 0);
      g_countedInode = st.st_ino;
      g_writeCalls = 0;
      glps::platform::CurrentSysCalls().write = &CountingWrite;
      call();
      glps::platform::RestoreSysCalls();
      const KCGenTime end = Now();
      const std::string after = ReadFileBytes(document);
      ASSERT_EQ(after.compare(0, before.size(), before), 0);
      const std::string added = after.substr(before.size());
      EXPECT_TRUE(added == expected(start) || added == expected(end)) << added << "\nexpected\n"
                                                                      << expected(start);
      EXPECT_EQ(g_writeCalls, 1);
    };

    // The application log: start message, a message, a report item, crash entries with and
    // without lines, a tamper entry, the exit message with the closing lines.
    ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
    document = service_->GetLogAppFileName();
    const std::string caption = "<I>(" + Documents(root / "app").front() + ")<BR><BR></I>";
    EXPECT_EQ(
        ReadFileBytes(document),
        caption + PrefixHtml(1, Now(), user) +
            Html(KCRptRepItNormal(Txts::GetString(18701, productStrings), false, false, false)) +
            br);
    expectEntry([&] { EXPECT_TRUE(service_->LogAppMsg(message)); },
                [&](const KCGenTime& t) {
                  return PrefixHtml(2, t, user) +
                         Html(KCRptRepItNormal(message, false, false, false)) + br;
                });
    expectEntry([&] { EXPECT_TRUE(service_->LogAppReportItem(KCRptRepItTitle(message))); },
                [&](const KCGenTime&) { return Html(KCRptRepItTitle(message)); });
    KECGlpsLogInfoCrash crash;
    crash.m_bCrashed = true;
    crash.m_strText = message;
    crash.m_vLines = {"at step 3", " <b> "};
    expectEntry([&] { EXPECT_TRUE(service_->LogAppCrash(crash)); },
                [&](const KCGenTime&) {
                  return Html(KCRptRepItNormal(message, false, false, false)) + br +
                         Html(KCRptRepItNormal("     at step 3", false, false, false)) + br +
                         Html(KCRptRepItNormal("      <b> ", false, false, false)) + br + br;
                });
    crash.m_vLines.clear();
    expectEntry([&] { EXPECT_TRUE(service_->LogAppCrash(crash)); },
                [&](const KCGenTime&) { return br; });
    expectEntry(
        [&] { EXPECT_TRUE(service_->LogAppTampered(true, false)); },
        [&](const KCGenTime&) { return br + Html(KCRptRepItTitle(Txts::GetString(18631))); });
    const std::string closing = br + Html(KCRptRepItHorizontalLine(3, false)) + br;
    KECGlpsLogInfo appInfo;
    expectEntry([&] { EXPECT_TRUE(service_->LogAppExit(&appInfo)); },
                [&](const KCGenTime& t) {
                  return PrefixHtml(3, t, user) +
                         Html(KCRptRepItNormal(Txts::GetString(18702, productStrings), false, false,
                                               false)) +
                         br + closing;
                });
    // Without the right, the exit writes the closing lines alone.
    ASSERT_TRUE(service_->LogAppInit(appInfo));
    KECQrmsServices::Instance()->SetAllowed(Qrms::RightAppGlpLog, false);
    expectEntry([&] { EXPECT_TRUE(service_->LogAppExit(nullptr)); },
                [&](const KCGenTime&) { return closing; });
    KECQrmsServices::Instance()->ResetDefaults();

    // The experiment log: crash and extra entries at the opening of a new log, messages with and
    // without context, a report item; the tamper entry at an opening that finds the log changed.
    crash.m_vLines = {"line"};
    ASSERT_TRUE(service_->LogExpInit(root / "exp", true, KECGlpsLogInfo(), crash,
                                     Experiment("E", true, 410), nullptr, nullptr));
    document = root / ("exp/" + Documents(root / "exp").front());
    EXPECT_EQ(ReadFileBytes(document),
              "<I>(" + Documents(root / "exp").front() + ")<BR><BR></I>" +
                  Html(KCRptRepItNormal(message, false, false, false)) + br +
                  Html(KCRptRepItNormal("     line", false, false, false)) + br + br +
                  Html(KCRptRepItNormal(Txts::GetString(18635), false, false, false)) + br);
    expectEntry([&] { EXPECT_TRUE(service_->LogExpMsg(message)); },
                [&](const KCGenTime& t) {
                  return PrefixHtml(1, t, user) +
                         Html(KCRptRepItNormal(message, true, false, false)) + br;
                });
    expectEntry([&] { EXPECT_TRUE(service_->LogExpMsgContext(message, "")); },
                [&](const KCGenTime& t) {
                  return PrefixHtml(2, t, user) +
                         Html(KCRptRepItNormal(message, false, false, false)) + br;
                });
    expectEntry([&] { EXPECT_TRUE(service_->LogExpMsgContext("", message)); },
                [&](const KCGenTime& t) {
                  return PrefixHtml(3, t, user) + Html(KCRptRepItNormal(":", false, false, false)) +
                         Html(KCRptRepItNormal("  '" + message + "'", true, false, false)) + br;
                });
    expectEntry([&] { EXPECT_TRUE(service_->LogExpReportItem(KCRptRepItNewLine(2))); },
                [&](const KCGenTime&) { return Html(KCRptRepItNewLine(2)); });
    ASSERT_TRUE(service_->LogExpExit(nullptr));
    const std::string beforeTamper = ReadFileBytes(document);
    ASSERT_TRUE(service_->LogExpInit(root / "exp", true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                     Experiment("E"), nullptr, nullptr));
    EXPECT_EQ(ReadFileBytes(document),
              beforeTamper + br + Html(KCRptRepItTitle(Txts::GetString(18631))));
    ASSERT_TRUE(service_->LogExpExit(nullptr));
    KECGlpsServices::Destroy();
    service_ = KECGlpsServices::Instance();
  }
  KECBaseFilesAndLocations::SetDirectoryAppLog(AppDir());
  KCGenUserInfo::Instance()->SetCurrentUserName("tester");
}

// A host calls the service from several threads at once (an instrument thread, a user-interface
// thread). Every call is serialised: nothing crashes, every entry lands once, whole, and the log
// verifies afterwards. Creating and destroying the service from several threads at once leaves one
// service at a time.
TEST_F(ServicesTest, SeveralThreadsCallTheServiceAtOnce) {
  constexpr int kWriters = 3;
  constexpr int kRounds = 150;
  KECGlpsServices::Destroy();
  std::vector<KECGlpsServices*> instances(kWriters + 1, nullptr);
  std::atomic<int> ready(0);
  std::atomic<bool> go(false);
  std::vector<std::thread> threads;
  for (int t = 0; t <= kWriters; ++t) {
    threads.emplace_back([&, t] {
      instances[t] = KECGlpsServices::Instance();
      ++ready;
      while (!go) std::this_thread::yield();
      KECGlpsServices* service = instances[t];
      for (int r = 0; r < kRounds; ++r) {
        if (t < kWriters) {
          const std::string text = "thread " + std::to_string(t) + " round " + std::to_string(r);
          EXPECT_TRUE(service->LogExpMsg(text));
          EXPECT_TRUE(service->LogAppMsg(text));
          EXPECT_TRUE(service->LogExpMetaDataEntity(
              KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(3), t, KCGenGUID(true))));
        } else {
          // The user-interface thread: saves, asks, exports.
          KECGlpsLogInfo info;
          if (r % 10 == 0) {
            EXPECT_TRUE(service->LogExpSave("", &info));
          }
          EXPECT_FALSE(service->GetLogExpFileName().empty());
          service->GetLogExpMetaDataEntity(static_cast<Glps::ELogEntity>(3), r % kWriters);
          service->GetMerCodingSchemeInfo();
        }
      }
    });
  }
  while (ready < kWriters + 1) std::this_thread::yield();
  service_ = instances[0];
  for (KECGlpsServices* instance : instances) EXPECT_EQ(instance, service_);
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  ASSERT_TRUE(OpenExp());
  go = true;
  for (std::thread& thread : threads) thread.join();
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));
  ASSERT_TRUE(service_->LogAppExit(nullptr));

  std::map<std::string, int> seen;
  for (const std::string& line : ExpLines()) ++seen[MessageText(line)];
  for (int t = 0; t < kWriters; ++t) {
    for (int r = 0; r < kRounds; ++r) {
      EXPECT_EQ(seen["thread " + std::to_string(t) + " round " + std::to_string(r)], 1) << t << r;
    }
  }
  ASSERT_TRUE(OpenExp(info));
  EXPECT_EQ(service_->GetLogExpMetaDataEntity(static_cast<Glps::ELogEntity>(3), 0).size(),
            static_cast<std::size_t>(kRounds));
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(CountTitles(ExpDir()), 0);

  // Creation and destruction raced from several threads, the pointers never used meanwhile.
  threads.clear();
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([] {
      for (int r = 0; r < 200; ++r) {
        KECGlpsServices::Instance();
        KECGlpsServices::Destroy();
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  service_ = KECGlpsServices::Instance();
}

}  // namespace
