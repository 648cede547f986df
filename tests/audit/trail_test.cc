// SPDX-License-Identifier: Apache-2.0
// The trail read back (KECGlpsAudit::ReadTrail) and the checks that need no info: every kind of
// entry the library writes comes back as written, and the changes an info-less auditor must catch
// are found with where they are.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "audit/trail_checks.h"
#include "audit/trail_reader.h"
#include "crypto/md5_hash.h"
#include "glps/audit.h"
#include "glps/glps.h"
#include "support/file_racer.h"
#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/stored_records.h"
#include "support/temp_dir.h"

namespace {

using glps_test::EditRecords;
using glps_test::Fingerprint;
using glps_test::ReadFileBytes;
using glps_test::TempDir;
using glps_test::WriteFileBytes;
using ::testing::HasSubstr;

class TrailTest : public glps_test::HostTest {
 protected:
  std::string User() const override { return "lab user"; }

  // Opens the experiment log in `dir` with `info`, runs `write`, saves and closes it; returns the
  // new info.
  template <class Write>
  KECGlpsLogInfo ExperimentRun(const std::string& dir, const KECGlpsLogInfo& info,
                               const KECGlpsLogInfoCrash& crash, bool extra, Write write) {
    KECGlpsServices* service = KECGlpsServices::Instance();
    EXPECT_TRUE(service->LogExpInit(dir, true, info, crash,
                                    glps_test::Experiment("Assay", extra, 410), nullptr, nullptr));
    write(service);
    KECGlpsLogInfo out;
    EXPECT_TRUE(service->LogExpExit(&out));
    KECGlpsServices::Destroy();
    return out;
  }

  // A log of two runs in `dir`: the second finds the first's log.xml changed, so it carries a
  // crash entry (with detail lines), the extra note and, in a third run, a tamper entry.
  KECGlpsLogInfo MakeExperimentLog(const std::string& dir) {
    mkdir(dir.c_str(), 0755);
    KECGlpsLogInfoCrash none;
    KECGlpsLogInfo info = ExperimentRun(dir, KECGlpsLogInfo(), none, false, [](KECGlpsServices* s) {
      EXPECT_TRUE(s->LogExpMsg("Label <b>&\"x\"</b> & 'q'"));
      EXPECT_TRUE(s->LogExpMsg("  three   blanks  and Müller µg 温度 "));
      EXPECT_TRUE(s->LogExpMsgContext("Method changed", "Titration,  2nd 'endpoint'"));
      EXPECT_TRUE(s->LogExpMsgContext("no context", ""));
      EXPECT_TRUE(s->LogExpReportItem(KCRptRepItTitle("Section <2>")));
      EXPECT_TRUE(s->LogExpReportItem(KCRptRepItNormal("a host's own line", false, false, false)));
      EXPECT_TRUE(s->LogExpReportItem(KCRptRepItNewLine(1)));
    });
    KECGlpsLogInfoCrash crash;
    crash.m_bCrashed = true;
    crash.m_strText = "Ended abnormally: <signal 11>";
    crash.m_vLines = {"while weighing", "  indented µ"};
    info = ExperimentRun(dir, info, crash, true,
                         [](KECGlpsServices* s) { EXPECT_TRUE(s->LogExpMsg("after the crash")); });
    KECGlpsLogInfo wrong = info;
    wrong.m_nLogSize += 1;
    return ExperimentRun(dir, wrong, KECGlpsLogInfoCrash(), false, [](KECGlpsServices* s) {
      EXPECT_TRUE(s->LogExpMsg("after the tamper entry"));
    });
  }
};

struct Expected {
  Glps::EAuditEntryKind kind;
  std::int64_t number;
  std::string message;
  std::string context;  // "-" for none
  bool bold;
  std::vector<std::string> details;
};

void ExpectEntries(const KECGlpsAuditTrail& trail, const std::vector<Expected>& expected) {
  ASSERT_EQ(trail.m_strError, "");
  ASSERT_EQ(trail.m_vEntries.size(), expected.size());
  std::int64_t offset = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    SCOPED_TRACE(i);
    const KECGlpsAuditEntry& e = trail.m_vEntries[i];
    EXPECT_STREQ(KECGlpsAudit::EntryKindName(e.m_eKind),
                 KECGlpsAudit::EntryKindName(expected[i].kind));
    EXPECT_EQ(e.m_nNumber, expected[i].number);
    EXPECT_EQ(e.m_strMessage, expected[i].message);
    EXPECT_EQ(e.m_bHasContext, expected[i].context != "-");
    if (expected[i].context != "-") {
      EXPECT_EQ(e.m_strContext, expected[i].context);
    }
    EXPECT_EQ(e.m_bBold, expected[i].bold);
    EXPECT_EQ(e.m_vDetails, expected[i].details);
    EXPECT_TRUE(e.m_bSaved);
    const bool numbered = expected[i].number >= 0;
    EXPECT_EQ(e.m_strUser, numbered ? "lab user" : "");
    EXPECT_EQ(e.m_strDate.size(), numbered ? 10u : 0u);
    // Entries follow each other without a gap: every byte belongs to one.
    EXPECT_EQ(e.m_nOffset, offset);
    offset = e.m_nOffset + e.m_nLength;
  }
}

TEST_F(TrailTest, EveryKindOfExperimentEntryReadsBackAsWritten) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  MakeExperimentLog(dir);
  const KECGlpsAuditTrail trail = KECGlpsAudit::ReadTrail(dir);
  EXPECT_FALSE(trail.m_bApplicationLog);
  const std::string document = "GLP-Log-Assay_0001.html";
  ExpectEntries(
      trail,
      {{Glps::eAuditEntryCaption, -1, document, "-", false, {}},
       {Glps::eAuditEntryMessage, 1, "Label <b>&\"x\"</b> & 'q'", "-", true, {}},
       {Glps::eAuditEntryMessage, 2, "  three   blanks  and Müller µg 温度 ", "-", true, {}},
       {Glps::eAuditEntryMessage, 3, "Method changed", "Titration,  2nd 'endpoint'", false, {}},
       {Glps::eAuditEntryMessage, 4, "no context", "-", false, {}},
       {Glps::eAuditEntryTitle, -1, "Section <2>", "-", false, {}},
       {Glps::eAuditEntryText, -1, "a host's own line", "-", false, {}},
       {Glps::eAuditEntryCrash,
        -1,
        "Ended abnormally: <signal 11>",
        "-",
        false,
        {"while weighing", "  indented µ"}},
       {Glps::eAuditEntryExtraNote, -1, Txts::GetString(18635), "-", false, {}},
       {Glps::eAuditEntryMessage, 5, "after the crash", "-", true, {}},
       {Glps::eAuditEntryTamper, -1, Txts::GetString(18631), "-", false, {}},
       {Glps::eAuditEntryMessage, 6, "after the tamper entry", "-", true, {}}});
  for (const KECGlpsAuditEntry& entry : trail.m_vEntries) EXPECT_EQ(entry.m_strDocument, document);
  const std::string bytes = ReadFileBytes(dir + "/" + document);
  const KECGlpsAuditEntry& last = trail.m_vEntries.back();
  EXPECT_EQ(static_cast<std::size_t>(last.m_nOffset + last.m_nLength), bytes.size());
  EXPECT_EQ(bytes.compare(static_cast<std::size_t>(trail.m_vEntries[1].m_nOffset), 2, "1 "), 0)
      << "offsets point at the entries' bytes";
}

TEST_F(TrailTest, ApplicationLogStartsExitsAndCrashWithoutText) {
  KECGlpsLogInfo info;
  for (int run = 0; run < 2; ++run) {
    KECGlpsServices* service = KECGlpsServices::Instance();
    EXPECT_TRUE(service->LogAppInit(info));
    if (run == 1) {
      KECGlpsLogInfoCrash crash;
      crash.m_bCrashed = true;
      crash.m_vLines = {"only a detail"};
      service->LogAppCrash(crash);
    }
    EXPECT_TRUE(service->LogAppMsg("run  " + std::to_string(run) + " <ok>"));
    EXPECT_TRUE(service->LogAppExit(&info));
    KECGlpsServices::Destroy();
  }
  const KECGlpsAuditTrail trail = KECGlpsAudit::ReadTrail(AppDir());
  EXPECT_TRUE(trail.m_bApplicationLog);
  const std::string started =
      Txts::GetString(18701, {Txts::GetString(10050), KCGenVersionInfo().GetProductVersionLong()});
  const std::string ended =
      Txts::GetString(18702, {Txts::GetString(10050), KCGenVersionInfo().GetProductVersionLong()});
  ExpectEntries(trail, {{Glps::eAuditEntryCaption, -1, "GLP-Log-Kelvara_0001.html", "-", false, {}},
                        {Glps::eAuditEntryStart, 1, started, "-", false, {}},
                        {Glps::eAuditEntryMessage, 2, "run  0 <ok>", "-", false, {}},
                        {Glps::eAuditEntryExit, 3, ended, "-", false, {}},
                        {Glps::eAuditEntryStart, 4, started, "-", false, {}},
                        {Glps::eAuditEntryCrash, -1, "", "-", false, {"only a detail"}},
                        {Glps::eAuditEntryMessage, 5, "run  1 <ok>", "-", false, {}},
                        {Glps::eAuditEntryExit, 6, ended, "-", false, {}}});
}

// Rewrites log.xml so that the record of `name` describes the file as it now is (to hide a change).
void RecomputeRecord(const std::string& dir, const std::string& name) {
  const std::string bytes = ReadFileBytes(dir + "/" + name);
  ASSERT_TRUE(EditRecords(dir, [&](std::vector<KECGlpsFileManagerData>* records) {
    for (KECGlpsFileManagerData& record : *records) {
      if (record.m_strFileName != name) continue;
      record.m_strHash = Fingerprint(bytes);
      record.m_nSize = static_cast<std::int64_t>(bytes.size());
    }
  }));
}

// Adds to log.xml a record that the library would never write: a kind it does not know.
void AddForeignRecord(const std::string& dir) {
  ASSERT_TRUE(EditRecords(dir, [](std::vector<KECGlpsFileManagerData>* records) {
    KECGlpsFileManagerData record;
    record.m_strFileName = "notes.bin";
    record.m_eType = static_cast<Glps::EFileType>(99);
    records->push_back(record);
  }));
}

TEST_F(TrailTest, ChangesRecomputedIntoLogXmlAreNotAuthenticatedOrFound) {
  struct Case {
    const char* what;
    // Changes the log in `dir` whose document is `document`.
    void (*change)(const std::string& dir, const std::string& document);
    Glps::EAuditVerdict withoutInfo;
    Glps::EAuditFindingKind finding;  // expected when withoutInfo is not intact
    std::int64_t entry;
  };
  const Case cases[] = {
      {"untouched", [](const std::string&, const std::string&) {}, Glps::eAuditNotAuthenticated,
       Glps::eAuditNumberGap, -1},
      {"linked file changed, record recomputed",
       [](const std::string& dir, const std::string&) {
         WriteFileBytes(dir + "/data.csv", "a,b\n9,9\n");
         RecomputeRecord(dir, "data.csv");
       },
       Glps::eAuditNotAuthenticated, Glps::eAuditNumberGap, -1},
      {"entry 5 cut out, record recomputed",
       [](const std::string& dir, const std::string& document) {
         std::string bytes = ReadFileBytes(dir + "/" + document);
         const std::size_t start = bytes.find("\n5 ") + 1;
         const std::size_t end = bytes.find("\n6 ") + 1;
         bytes.erase(start, end - start);
         WriteFileBytes(dir + "/" + document, bytes);
         RecomputeRecord(dir, document);
       },
       Glps::eAuditNotIntact, Glps::eAuditNumberGap, 6},
      {"last entry cut off, record recomputed",
       [](const std::string& dir, const std::string& document) {
         std::string bytes = ReadFileBytes(dir + "/" + document);
         bytes.erase(bytes.find("\n8 ") + 1);
         WriteFileBytes(dir + "/" + document, bytes);
         RecomputeRecord(dir, document);
       },
       Glps::eAuditNotIntact, Glps::eAuditCatalogMismatch, 8},
      {"recorded size moved into an entry",
       [](const std::string& dir, const std::string& document) {
         std::string bytes = ReadFileBytes(dir + "/" + document);
         WriteFileBytes(dir + "/" + document, bytes.substr(0, bytes.size() - 7));
         RecomputeRecord(dir, document);
       },
       Glps::eAuditNotIntact, Glps::eAuditCutInsideEntry, -1},
      {"a second document nobody recorded",
       [](const std::string& dir, const std::string& document) {
         WriteFileBytes(dir + "/GLP-Log-Assay_0002.html", ReadFileBytes(dir + "/" + document));
       },
       Glps::eAuditNotIntact, Glps::eAuditUnrecordedDocument, -1},
      {"a record of a kind the library never writes",
       [](const std::string& dir, const std::string&) { AddForeignRecord(dir); },
       Glps::eAuditNotIntact, Glps::eAuditRecordBreaksRules, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const std::string dir = tmp / "log";
    mkdir(dir.c_str(), 0755);
    WriteFileBytes(dir + "/data.csv", "a,b\n1,2\n");
    const KECGlpsLogInfo info =
        ExperimentRun(dir, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), false, [](KECGlpsServices* s) {
          EXPECT_TRUE(s->LogExpLink("data.csv"));
          for (int i = 1; i <= 8; ++i) EXPECT_TRUE(s->LogExpMsg("Sample " + std::to_string(i)));
        });
    const std::string document = "GLP-Log-Assay_0001.html";
    c.change(dir, document);

    const KECGlpsAuditReport without = KECGlpsAudit::Verify(dir, nullptr);
    EXPECT_EQ(without.Verdict(), c.withoutInfo);
    EXPECT_EQ(without.Verdict(true), Glps::eAuditNotIntact) << "--require-info";
    if (c.withoutInfo == Glps::eAuditNotIntact) {
      ASSERT_EQ(without.m_vFindings.size(), 1u);
      const KECGlpsAuditFinding& finding = without.m_vFindings[0];
      EXPECT_STREQ(KECGlpsAudit::FindingKindName(finding.m_eKind),
                   KECGlpsAudit::FindingKindName(c.finding));
      EXPECT_EQ(finding.m_nEntry, c.entry);
      EXPECT_FALSE(finding.m_bRecorded);
      if (c.finding == Glps::eAuditRecordBreaksRules) {
        EXPECT_EQ(finding.m_strDocument, "notes.bin");
      } else if (c.finding != Glps::eAuditUnrecordedDocument) {
        EXPECT_EQ(finding.m_strDocument, document);
        EXPECT_GT(finding.m_nOffset, 0);
      }
    } else {
      EXPECT_EQ(without.m_vFindings.size(), 0u) << without.m_vFindings[0].m_strText;
    }
    const KECGlpsAuditReport with = KECGlpsAudit::Verify(dir, &info);
    EXPECT_EQ(with.Verdict(),
              std::string(c.what) == "untouched" ? Glps::eAuditIntact : Glps::eAuditNotIntact);
  }
}

TEST_F(TrailTest, ARecordSetTheLibraryReportedIsAccountedForByItsTamperEntry) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  mkdir(dir.c_str(), 0755);
  KECGlpsLogInfo info = ExperimentRun(dir, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), false,
                                      [](KECGlpsServices* s) { EXPECT_TRUE(s->LogExpMsg("one")); });
  AddForeignRecord(dir);
  const KECGlpsAuditReport before = KECGlpsAudit::Verify(dir, nullptr);
  ASSERT_EQ(before.m_vFindings.size(), 1u);
  EXPECT_FALSE(before.m_vFindings[0].m_bRecorded);
  EXPECT_EQ(before.Verdict(), Glps::eAuditNotIntact);

  // The library finds log.xml changed, writes its tamper entry and keeps the record as evidence.
  info = ExperimentRun(dir, info, KECGlpsLogInfoCrash(), false,
                       [](KECGlpsServices* s) { EXPECT_TRUE(s->LogExpMsg("two")); });
  const KECGlpsAuditReport after = KECGlpsAudit::Verify(dir, &info);
  ASSERT_EQ(after.m_vFindings.size(), 1u);
  EXPECT_EQ(after.m_vFindings[0].m_eKind, Glps::eAuditRecordBreaksRules);
  EXPECT_TRUE(after.m_vFindings[0].m_bRecorded);
  // Intact now, but the trail records the tampering: a verdict of its own, never intact.
  EXPECT_EQ(after.Verdict(), Glps::eAuditTamperRecorded);
  EXPECT_EQ(KECGlpsAudit::Verify(dir, nullptr).Verdict(), Glps::eAuditTamperRecorded)
      << "not hidden behind the missing info";
  EXPECT_EQ(KECGlpsAudit::Verify(dir, nullptr).Verdict(true), Glps::eAuditNotIntact);
}

// Every tamper and crash entry is listed with where it is and between which messages it was
// written; tamper entries decide the verdict, crash entries are information.
TEST_F(TrailTest, TamperAndCrashEntriesAreListedWithTheMessagesAroundThem) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  const KECGlpsLogInfo info = MakeExperimentLog(dir);
  const std::string document = "GLP-Log-Assay_0001.html";
  const KECGlpsAuditTrail trail = KECGlpsAudit::ReadTrail(dir);
  const KECGlpsAuditReport report = KECGlpsAudit::Verify(dir, &info);
  ASSERT_EQ(report.m_vEvents.size(), 2u);
  struct Expected {
    Glps::EAuditEntryKind kind;
    std::size_t entry;  // its index in the trail
    std::int64_t before;
    std::int64_t after;
    std::string text;
  };
  const Expected expected[] = {
      {Glps::eAuditEntryCrash, 7, 4, 5, "Ended abnormally: <signal 11>"},
      {Glps::eAuditEntryTamper, 10, 5, 6, Txts::GetString(18631)},
  };
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const KECGlpsAuditEvent& event = report.m_vEvents[i];
    const KECGlpsAuditEntry& entry = trail.m_vEntries.at(expected[i].entry);
    EXPECT_EQ(event.m_eKind, expected[i].kind);
    EXPECT_EQ(event.m_strDocument, document);
    EXPECT_EQ(event.m_nOffset, entry.m_nOffset);
    EXPECT_EQ(event.m_nEntry, static_cast<std::int64_t>(expected[i].entry) + 1);
    EXPECT_TRUE(event.m_bSaved);
    EXPECT_EQ(event.m_nMessageBefore, expected[i].before);
    EXPECT_EQ(event.m_nMessageAfter, expected[i].after);
    const auto timeOf = [&](std::int64_t number) {
      for (const KECGlpsAuditEntry& e : trail.m_vEntries) {
        if (e.m_nNumber == number) return e.m_strDate + " " + e.m_strTime;
      }
      return std::string("none");
    };
    EXPECT_EQ(event.m_strTimeBefore, timeOf(expected[i].before));
    EXPECT_EQ(event.m_strTimeAfter, timeOf(expected[i].after));
    EXPECT_EQ(event.m_strText, expected[i].text);
    EXPECT_THAT(KECGlpsAudit::EventSummary(event),
                HasSubstr("between message " + std::to_string(expected[i].before)));
  }
  EXPECT_EQ(report.RecordedTamperCount(), 1u);
  EXPECT_EQ(report.Verdict(), Glps::eAuditTamperRecorded);

  // A crash entry alone does not change the verdict.
  TempDir other;
  const std::string crashed = other / "log";
  mkdir(crashed.c_str(), 0755);
  KECGlpsLogInfo next = ExperimentRun(crashed, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), false,
                                      [](KECGlpsServices* s) { EXPECT_TRUE(s->LogExpMsg("one")); });
  KECGlpsLogInfoCrash crash;
  crash.m_bCrashed = true;
  crash.m_strText = "it crashed";
  crash.m_vLines = {"detail"};
  next = ExperimentRun(crashed, next, crash, false, [](KECGlpsServices*) {});
  const KECGlpsAuditReport onlyCrash = KECGlpsAudit::Verify(crashed, &next);
  ASSERT_EQ(onlyCrash.m_vEvents.size(), 1u);
  EXPECT_EQ(onlyCrash.m_vEvents[0].m_eKind, Glps::eAuditEntryCrash);
  EXPECT_EQ(onlyCrash.m_vEvents[0].m_nMessageBefore, 1);
  EXPECT_EQ(onlyCrash.m_vEvents[0].m_nMessageAfter, -1) << "no message after it";
  EXPECT_EQ(onlyCrash.Verdict(), Glps::eAuditIntact);
}

// Each entry handed out carries the standing of the bytes it was read from: the recorded part of
// its document intact or not, an unsaved tail, a document no record holds.
TEST_F(TrailTest, EveryEntryCarriesTheStandingOfItsBytes) {
  struct Case {
    const char* what;
    void (*change)(const std::string& dir, const std::string& document);
    // The standing of each entry of the recorded document, then of any other.
    std::vector<Glps::EAuditEntryStanding> standings;
    Glps::EAuditVerdict verdict;
  };
  using S = Glps::EAuditEntryStanding;
  const S intact = Glps::eAuditStandingIntact;
  const S modified = Glps::eAuditStandingModified;
  const S tail = Glps::eAuditStandingUnsavedTail;
  const S unrecorded = Glps::eAuditStandingUnrecorded;
  const Case cases[] = {
      {"untouched",
       [](const std::string&, const std::string&) {},
       {intact, intact, intact},
       Glps::eAuditIntact},
      {"a byte of the recorded part changed",
       [](const std::string& dir, const std::string& document) {
         std::string bytes = ReadFileBytes(dir + "/" + document);
         bytes[bytes.rfind("two")] = 'T';
         WriteFileBytes(dir + "/" + document, bytes);
       },
       {modified, modified, modified},
       Glps::eAuditNotIntact},
      {"an entry appended",
       [](const std::string& dir, const std::string& document) {
         const std::string bytes = ReadFileBytes(dir + "/" + document);
         const std::size_t last = bytes.rfind("2 &nbsp;");
         std::string appended = bytes.substr(last);
         appended[0] = '3';
         WriteFileBytes(dir + "/" + document, bytes + appended);
       },
       {intact, intact, intact, tail},
       Glps::eAuditNotIntact},
      {"a document no record holds",
       [](const std::string& dir, const std::string& document) {
         WriteFileBytes(dir + "/GLP-Log-Assay_0002.html", ReadFileBytes(dir + "/" + document));
       },
       {intact, intact, intact, unrecorded, unrecorded, unrecorded},
       Glps::eAuditNotIntact},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const std::string dir = tmp / "log";
    mkdir(dir.c_str(), 0755);
    const KECGlpsLogInfo info =
        ExperimentRun(dir, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), false, [](KECGlpsServices* s) {
          EXPECT_TRUE(s->LogExpMsg("one"));
          EXPECT_TRUE(s->LogExpMsg("two"));
        });
    c.change(dir, "GLP-Log-Assay_0001.html");
    KECGlpsAuditRequest request;
    request.m_pInfo = &info;
    KECGlpsAuditTrail trail;
    const KECGlpsAuditReport report = KECGlpsAudit::ReadVerifiedTrail(dir, request, &trail);
    EXPECT_EQ(report.Verdict(), c.verdict);
    std::vector<S> standings;
    for (const KECGlpsAuditEntry& entry : trail.m_vEntries) {
      standings.push_back(entry.m_eStanding);
      EXPECT_EQ(entry.m_bSaved, entry.m_eStanding == intact || entry.m_eStanding == modified);
    }
    EXPECT_EQ(standings, c.standings);
  }
}

// What is shown beside the verdict is what was verified: a racer that renames a forged document
// over the real one as soon as the reading has closed it finds the entries already read from the
// bytes that were fingerprinted.
TEST_F(TrailTest, ADocumentSwappedAfterItWasReadPutsNoEntryBesideTheVerdict) {
  TempDir tmp;
  const std::string dir = tmp / "log";
  mkdir(dir.c_str(), 0755);
  const KECGlpsLogInfo info =
      ExperimentRun(dir, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), false, [](KECGlpsServices* s) {
        for (int i = 0; i < 20; ++i) EXPECT_TRUE(s->LogExpMsg("weighed 1.0 g"));
      });
  const std::string document = "GLP-Log-Assay_0001.html";
  const std::string genuine = ReadFileBytes(dir + "/" + document);
  std::string forged = genuine;
  for (std::size_t at = forged.find("1.0 g"); at != std::string::npos;
       at = forged.find("1.0 g", at)) {
    forged[at] = '9';
  }
  KECGlpsAuditRequest request;
  request.m_pInfo = &info;
  const int kTries = 50;
  int swapped = 0;
  int intact = 0;
  for (int i = 0; i < kTries; ++i) {
    WriteFileBytes(tmp / "forged", forged);
    KECGlpsAuditTrail trail;
    KECGlpsAuditReport report;
    {
      glps_test::SwapAfterRead racer(dir, document, tmp / "forged");
      report = KECGlpsAudit::ReadVerifiedTrail(dir, request, &trail);
      swapped += racer.Swapped() ? 1 : 0;
    }
    intact += report.Verdict() == Glps::eAuditIntact ? 1 : 0;
    std::size_t forgedShown = 0;
    for (const KECGlpsAuditEntry& entry : trail.m_vEntries) {
      if (entry.m_strMessage.find("9.0 g") == std::string::npos) continue;
      ++forgedShown;
      EXPECT_EQ(entry.m_eStanding, Glps::eAuditStandingModified);
    }
    EXPECT_TRUE(forgedShown == 0 || report.Verdict() == Glps::eAuditNotIntact) << i;
    ASSERT_FALSE(HasFailure());
    WriteFileBytes(dir + "/" + document, genuine);
  }
  EXPECT_EQ(swapped, kTries) << "the racer swapped the document every time it had been read";
  EXPECT_EQ(intact, kTries) << "and the entries read before came from the verified bytes";
}

// A document in the checks' terms: the numbers of its saved messages and of its unsaved tail.
glps::audit::CheckedDocument Document(const std::string& name, std::vector<std::int64_t> saved,
                                      std::vector<std::int64_t> tail = {},
                                      bool tamperAtEnd = false) {
  glps::audit::CheckedDocument document;
  document.name = name;
  std::int64_t offset = 0;
  const auto add = [&](Glps::EAuditEntryKind kind, std::int64_t number, bool isSaved) {
    glps::audit::EntryMark entry;
    entry.kind = kind;
    entry.number = number;
    entry.offset = offset;
    entry.length = 10;
    entry.saved = isSaved;
    offset += 10;
    document.entries.marks.push_back(entry);
    document.entries.boundaries.push_back(offset);
  };
  document.entries.boundaries.push_back(0);
  for (std::int64_t n : saved) add(Glps::eAuditEntryMessage, n, true);
  if (tamperAtEnd) add(Glps::eAuditEntryTamper, -1, true);
  document.recordedSize = offset;
  for (std::int64_t n : tail) add(Glps::eAuditEntryMessage, n, false);
  document.foundSize = offset;
  return document;
}

TEST(TrailChecksTest, NumbersAsTheLogsOwnRulesAllow) {
  using glps::audit::CheckedDocument;
  struct Case {
    const char* what;
    std::vector<CheckedDocument> documents;
    std::int64_t catalog;
    std::vector<std::string> findings;  // kind and message number of each, in order
  };
  const Case cases[] = {
      {"one document", {Document("a", {1, 2, 3}, {})}, 3, {}},
      {"across documents", {Document("a", {1, 2}, {}), Document("b", {3, 4}, {})}, 4, {}},
      {"an unsaved tail continues", {Document("a", {1, 2}, {3, 4})}, 2, {}},
      {"the next document hands a tail's numbers out again",
       {Document("a", {1, 2}, {3, 4}), Document("b", {3, 4, 5}, {})},
       5,
       {}},
      {"a gap", {Document("a", {1, 2, 4})}, 4, {"number-gap 4"}},
      {"a repeat", {Document("a", {1, 2, 2, 3})}, 3, {"number-repeat 2"}},
      {"a gap between documents",
       {Document("a", {1, 2}, {}), Document("b", {5}, {})},
       5,
       {"number-gap 5"}},
      {"not starting at 1", {Document("a", {2, 3})}, 3, {"number-gap 2"}},
      {"a tail that does not continue", {Document("a", {1, 2}, {7})}, 2, {"tail-numbering 7"}},
      {"catalog behind", {Document("a", {1, 2, 3})}, 2, {"catalog-mismatch 2"}},
      {"catalog ahead", {Document("a", {1, 2, 3})}, 9, {"catalog-mismatch 9"}},
      {"empty log", {Document("a", {}, {})}, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> found;
    for (const KECGlpsAuditFinding& f :
         glps::audit::CheckTrail(c.documents, c.documents.size(), c.catalog)) {
      found.push_back(std::string(KECGlpsAudit::FindingKindName(f.m_eKind)) + " " +
                      std::to_string(f.m_nEntry));
      EXPECT_FALSE(f.m_bRecorded);
    }
    EXPECT_EQ(found, c.findings);
  }
}

TEST(TrailChecksTest, ATamperEntryAfterTheLastGoodMessageRecordsAFinding) {
  // Message 3 was cut before the library's tamper entry: the trail itself reports it.
  const auto recorded = glps::audit::CheckTrail({Document("a", {1, 2, 4}, {}, true)}, 1, 4);
  ASSERT_EQ(recorded.size(), 1u);
  EXPECT_TRUE(recorded[0].m_bRecorded);
  // A tamper entry before the gap's last good message does not account for the gap.
  const auto open =
      glps::audit::CheckTrail({Document("a", {1}, {}, true), Document("b", {2, 4}, {})}, 2, 4);
  ASSERT_EQ(open.size(), 1u);
  EXPECT_FALSE(open[0].m_bRecorded);
}

TEST(TrailReaderTest, AnyBytesGiveEntriesThatCoverThem) {
  const glps::audit::EntryTexts texts = glps::audit::EntryTexts::FromTextService();
  const std::string inputs[] = {
      "",
      "no line break at all",
      "<BR",
      "&#99999999;&#xD800;&bogus;&&<B><I><U>x</U></I></B><BR><BR><BR>\n\n",
      "<H2>unterminated",
      "<HR>",
      "1  2026-01-01  10:00:00 +00:00  u  m<BR>\n1  x<BR>\n",
      "<I>(caption only)<BR><BR></I>",
  };
  for (const std::string& bytes : inputs) {
    SCOPED_TRACE(bytes);
    const glps::audit::DocumentEntries read =
        glps::audit::ReadDocumentEntries(bytes, "d.html", 3, false, texts);
    ASSERT_EQ(read.entries.size(), read.marks.size());
    std::int64_t end = 0;
    for (std::size_t i = 0; i < read.entries.size(); ++i) {
      const KECGlpsAuditEntry& entry = read.entries[i];
      EXPECT_GE(entry.m_nOffset, end);
      end = entry.m_nOffset + entry.m_nLength;
      EXPECT_EQ(entry.m_bSaved, end <= 3);
      EXPECT_EQ(read.marks[i].offset, entry.m_nOffset);
      EXPECT_EQ(read.marks[i].number, entry.m_nNumber);
    }
    // The marks alone (what verification reads) are the same.
    const glps::audit::DocumentEntries marks =
        glps::audit::ReadDocumentEntries(bytes, "d.html", 3, false, texts, false);
    EXPECT_TRUE(marks.entries.empty());
    ASSERT_EQ(marks.marks.size(), read.marks.size());
    EXPECT_EQ(marks.boundaries, read.boundaries);
    EXPECT_LE(end, static_cast<std::int64_t>(bytes.size()));
    EXPECT_TRUE(std::is_sorted(read.boundaries.begin(), read.boundaries.end()));
  }
}

// What verification reads (the marks alone, from each line's first span) bounds and numbers the
// entries as reading the whole text does, for documents of the entries the library writes mixed
// with markup, entities and runs that cross the text kept of a line.
TEST(TrailReaderTest, MarksWithoutTextsAreThoseOfTheWholeText) {
  const glps::audit::EntryTexts texts = glps::audit::EntryTexts::FromTextService();
  const std::string longText(150, 'x');
  const std::vector<std::string> pieces = {
      "12 &nbsp;2026-12-10 &nbsp;17:48:04 +00:00 &nbsp;user &nbsp;<B>Sample weighed.</B><BR>\n",
      "7 &nbsp;2026-12-10 &nbsp;09:00:00.125 +01:00 &nbsp;u &nbsp;plain message<BR>\n",
      "3 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;u &nbsp;<B>" + longText + "</B><BR>\n",
      "4 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;" + longText + "&amp;&lt;<BR>\n",
      "5 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;u &nbsp;m:<B> &nbsp;'ctx'</B><BR>\n",
      "<BR>\n",
      "<BR>\n<H2>" + texts.tamperTitle + "</H2>",
      "<H2>heading &amp; more</H2>",
      "<HR size=3 noshade><BR>\n",
      "crash text<BR>\n&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;detail<BR>\n<BR>\n",
      "<BR>\n&nbsp;&nbsp;&nbsp;&nbsp;&nbsp;only detail<BR>\n",
      "<B>bold line</B><BR>\n",
      "&#x41;&#66;&bogus;&& <I>i</I><U>u</U> <X> < >",
      longText + "<B>" + longText + "</B>" + longText,
      "\n",
      "<BR><BR>\n",
      "12 &nbsp;2026",
      // Prefixes at the edges of the quick reading of a message line: other encodings of the
      // blanks, signs, an offset with seconds, too many digits, dates just within and past the
      // longest, style before it, markup after it that does or does not end it.
      "-5 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00:30 &nbsp;u &nbsp;<B>m</B><BR>\n",
      "8&nbsp; 2026-12-10&nbsp; 09:00:00 +01:00&nbsp; u<BR>\n",
      "1234567890123456789 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;u<BR>\n",
      "1 &nbsp;" + std::string(32, '1') + " &nbsp;09:00:00 +01:00 &nbsp;u<BR>\n",
      "1 &nbsp;" + std::string(33, '1') + " &nbsp;09:00:00 +01:00 &nbsp;u<BR>\n",
      "1 &nbsp;" + std::string(80, '1') + " &nbsp;09:00:00 +01:00 &nbsp;u<BR>\n",
      "<I>13 &nbsp;2026-12-10 &nbsp;09:00:00.5 +01:00 &nbsp;u</I><BR>\n",
      "9 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;u &nbsp;<B>unclosed bold<BR>\n",
      "10 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;u <<BR> <B<BR>> <br><BR>\n",
      "11 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;u<H2>" + texts.tamperTitle + "</H2>",
      "11 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;u<hr size=2>",
      "14 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;a < b" + std::string(70, 'y') + "><BR>\n",
      "15 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;u<BR><BR>\n",
      "16 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00 &nbsp;",
      // Times and offsets one byte off their form, each byte just outside the digits ('/' and
      // ':'), a byte that would carry into the next when compared eight at a time, and optional
      // parts cut short.
      "17 &nbsp;2026-12-10 &nbsp;09:0/:00 +01:00 &nbsp;u<BR>\n",
      "18 &nbsp;2026-12-10 &nbsp;09::0:00 +01:00 &nbsp;u<BR>\n",
      "19 &nbsp;2026-12-10 &nbsp;\xFA"
      "9:00:00 +01:00 &nbsp;u<BR>\n",
      "20 &nbsp;2026-12-10 &nbsp;09:00:00.12 +01:00 &nbsp;u<BR>\n",
      "21 &nbsp;2026-12-10 &nbsp;09:00:00 *01:00 &nbsp;u<BR>\n",
      "22 &nbsp;2026-12-10 &nbsp;09:00:00 -01:0\xF9 &nbsp;u<BR>\n",
      "23 &nbsp;2026-12-10 &nbsp;09:00:00 +01:00:3 &nbsp;u<BR>\n",
      "24 &nbsp;2026-12-10 &nbsp;09:00:00.999 -12:00:59 &nbsp;u<BR>\n",
  };
  std::mt19937 rng(1210);
  for (int round = 0; round < 2000; ++round) {
    std::string bytes = rng() % 4 == 0 ? "<I>(d.html)<BR><BR></I>" : "";
    for (std::size_t n = rng() % 12; n > 0; --n) bytes += pieces[rng() % pieces.size()];
    const std::int64_t recorded = static_cast<std::int64_t>(rng() % (bytes.size() + 1));
    const bool applicationLog = rng() % 2 == 0;
    SCOPED_TRACE(bytes);
    const glps::audit::DocumentEntries whole =
        glps::audit::ReadDocumentEntries(bytes, "d.html", recorded, applicationLog, texts);
    const glps::audit::DocumentEntries marks =
        glps::audit::ReadDocumentEntries(bytes, "d.html", recorded, applicationLog, texts, false);
    ASSERT_EQ(marks.marks.size(), whole.marks.size());
    for (std::size_t i = 0; i < marks.marks.size(); ++i) {
      const glps::audit::EntryMark& a = marks.marks[i];
      const glps::audit::EntryMark& b = whole.marks[i];
      EXPECT_EQ(a.offset, b.offset) << i;
      EXPECT_EQ(a.length, b.length) << i;
      EXPECT_EQ(a.number, b.number) << i;
      EXPECT_EQ(a.saved, b.saved) << i;
      // Without the texts, start and exit messages are messages, and the extra note a text line.
      const Glps::EAuditEntryKind kind =
          b.kind == Glps::eAuditEntryStart || b.kind == Glps::eAuditEntryExit
              ? Glps::eAuditEntryMessage
              : (b.kind == Glps::eAuditEntryExtraNote ? Glps::eAuditEntryText : b.kind);
      EXPECT_EQ(a.kind, kind) << i;
    }
    EXPECT_EQ(marks.boundaries, whole.boundaries);
    // Handed to a sink one by one, the entries are those read whole, with the same marks.
    std::vector<KECGlpsAuditEntry> handed;
    const glps::audit::EntrySink sink = [&handed](KECGlpsAuditEntry& entry) {
      handed.push_back(std::move(entry));
    };
    glps::audit::DocumentEntries streamed;
    glps::audit::DocumentReader(texts).Read(bytes, "d.html", recorded, applicationLog, true,
                                            &streamed, &sink);
    EXPECT_TRUE(streamed.entries.empty());
    ASSERT_EQ(handed.size(), whole.entries.size());
    for (std::size_t i = 0; i < handed.size(); ++i) {
      const KECGlpsAuditEntry& a = handed[i];
      const KECGlpsAuditEntry& b = whole.entries[i];
      EXPECT_EQ(std::make_tuple(a.m_eKind, a.m_nNumber, a.m_strDate, a.m_strTime, a.m_strUser,
                                a.m_strMessage, a.m_strContext, a.m_bHasContext, a.m_bBold,
                                a.m_vDetails, a.m_nOffset, a.m_nLength, a.m_bSaved),
                std::make_tuple(b.m_eKind, b.m_nNumber, b.m_strDate, b.m_strTime, b.m_strUser,
                                b.m_strMessage, b.m_strContext, b.m_bHasContext, b.m_bBold,
                                b.m_vDetails, b.m_nOffset, b.m_nLength, b.m_bSaved))
          << i;
    }
    EXPECT_EQ(streamed.boundaries, whole.boundaries);
    ASSERT_EQ(streamed.marks.size(), whole.marks.size());
    if (HasFailure()) break;
  }
}

}  // namespace
