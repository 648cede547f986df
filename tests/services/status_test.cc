// SPDX-License-Identifier: Apache-2.0
// What the service tells the host besides its results: what each opening found, why the last
// failing call failed (with the system's reason), and whether messages are recorded.
#include <errno.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "glps/glps.h"
#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/stored_records.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

namespace {

using glps_test::Documents;
using glps_test::Experiment;
using glps_test::InfoOf;
using glps_test::ListDirectory;
using glps_test::ReadFileBytes;
using glps_test::WriteFileBytes;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

class StatusTest : public glps_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    mkdir(ExpDir().c_str(), 0755);
  }

  std::string ExpDir() const { return tmp_ / "exp"; }

  bool Open(const KECGlpsLogInfo& info, const KECGlpsLogInfoCrash& crash = KECGlpsLogInfoCrash(),
            unsigned* error = nullptr, const std::string& dir = std::string()) {
    return service_->LogExpInit(dir.empty() ? ExpDir() : dir, true, info, crash, Experiment("Exp"),
                                error, nullptr);
  }

  // A saved experiment log with two messages; returns the info to keep.
  KECGlpsLogInfo MakeLog() {
    EXPECT_TRUE(Open(KECGlpsLogInfo()));
    EXPECT_TRUE(service_->LogExpMsg("one"));
    EXPECT_TRUE(service_->LogExpMsg("two"));
    KECGlpsLogInfo info;
    EXPECT_TRUE(service_->LogExpExit(&info));
    return info;
  }

  std::string Document() const { return ExpDir() + "/" + Documents(ExpDir()).front(); }
};

// --- What an opening found -------------------------------------------------------------------

TEST_F(StatusTest, NewThenIntactThenTamperedWithWhichFileAndHow) {
  EXPECT_EQ(service_->GetLogExpOpening().State(), Glps::eLogOpeningNone);
  ASSERT_TRUE(Open(KECGlpsLogInfo()));
  KECGlpsLogOpening opening = service_->GetLogExpOpening();
  EXPECT_EQ(opening.State(), Glps::eLogOpeningNew);
  EXPECT_TRUE(opening.IsUsable());
  EXPECT_FALSE(opening.IsTampered());
  EXPECT_EQ(opening.Directory(), ExpDir());
  EXPECT_EQ(opening.Summary(), "new log");
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));

  ASSERT_TRUE(Open(info));
  opening = service_->GetLogExpOpening();
  EXPECT_EQ(opening.State(), Glps::eLogOpeningIntact);
  EXPECT_TRUE(opening.LogXmlMatches());
  EXPECT_EQ(opening.FoundInfo(), info);
  EXPECT_EQ(opening.ProtectedCount(), 2u) << "the document and its sidecar";
  EXPECT_THAT(opening.Files(), IsEmpty());
  EXPECT_EQ(opening.Summary(), "intact: 2 protected files as recorded");
  ASSERT_TRUE(service_->LogExpMsg("three"));
  ASSERT_TRUE(service_->LogExpExit(&info));

  // One byte of the document changed, its size kept.
  const std::string document = Document();
  std::string bytes = ReadFileBytes(document);
  const std::string recordedHash = glps_test::Fingerprint(bytes);
  bytes[bytes.find("three")] = 'T';
  WriteFileBytes(document, bytes);
  ASSERT_TRUE(Open(info));
  opening = service_->GetLogExpOpening();
  EXPECT_EQ(opening.State(), Glps::eLogOpeningTampered);
  EXPECT_TRUE(opening.IsUsable());
  EXPECT_TRUE(opening.IsTampered());
  EXPECT_TRUE(opening.LogXmlMatches()) << "the host's info still names log.xml";
  ASSERT_EQ(opening.Files().size(), 1u);
  const KECGlpsAuditFile& file = opening.Files()[0];
  EXPECT_EQ(file.m_record.m_strFileName, Documents(ExpDir()).front());
  EXPECT_EQ(file.m_eStatus, Glps::eAuditFileModified);
  EXPECT_EQ(file.m_record.m_strHash, recordedHash);
  EXPECT_EQ(file.m_strFoundHash, glps_test::Fingerprint(bytes));
  EXPECT_EQ(file.m_nFoundSize, static_cast<std::int64_t>(bytes.size()));
  EXPECT_TRUE(opening.TamperEntryWritten());
  EXPECT_FALSE(opening.HadUnsavedTail());
  EXPECT_EQ(opening.Summary(), "TAMPERED: 1 file modified: " + file.m_record.m_strFileName);
  // The description handed out stays as it was, whatever the service does next.
  ASSERT_TRUE(service_->LogExpExit(&info));
  ASSERT_TRUE(Open(info));
  EXPECT_EQ(opening.State(), Glps::eLogOpeningTampered);
  EXPECT_EQ(service_->GetLogExpOpening().State(), Glps::eLogOpeningIntact);
}

TEST_F(StatusTest, AnInfoThatDoesNotNameLogXmlAndRecordsThatBreakTheRules) {
  const KECGlpsLogInfo info = MakeLog();
  KECGlpsLogInfo other = info;
  other.m_nLogSize += 1;
  ASSERT_TRUE(Open(other));
  KECGlpsLogOpening opening = service_->GetLogExpOpening();
  EXPECT_EQ(opening.State(), Glps::eLogOpeningTampered);
  EXPECT_FALSE(opening.LogXmlMatches());
  EXPECT_EQ(opening.ExpectedInfo(), other);
  EXPECT_EQ(opening.FoundInfo(), info);
  EXPECT_THAT(opening.Files(), IsEmpty());
  EXPECT_EQ(opening.Summary(), "TAMPERED: log.xml is not the one the info names");
  KECGlpsLogInfo kept;
  ASSERT_TRUE(service_->LogExpExit(&kept));

  // Someone adds a record whose name leads out of the directory.
  ASSERT_TRUE(glps_test::EditRecords(ExpDir(), [](std::vector<KECGlpsFileManagerData>* records) {
    records->push_back(glps_test::MakeRecord(Glps::FileLink, "../outside", "", 0));
  }));
  ASSERT_TRUE(Open(kept));
  opening = service_->GetLogExpOpening();
  EXPECT_EQ(opening.State(), Glps::eLogOpeningTampered);
  EXPECT_FALSE(opening.LogXmlMatches());
  ASSERT_EQ(opening.RecordFindings().size(), 1u);
  EXPECT_EQ(opening.RecordFindings()[0].m_eKind, Glps::eAuditRecordBreaksRules);
  EXPECT_EQ(opening.RecordFindings()[0].m_strDocument, "../outside");
  EXPECT_THAT(opening.Summary(), HasSubstr("1 record breaks the rules of a record set"));
}

// The host crashed after writing entries it never saved: the opening finds the unsaved tail, and
// the host's crash record is reported instead of a tamper entry.
TEST_F(StatusTest, AnUnsavedTailAndAReportedCrash) {
  const KECGlpsLogInfo info = MakeLog();
  ASSERT_TRUE(Open(info));
  ASSERT_TRUE(service_->LogExpMsg("never saved"));
  KECGlpsServices::Destroy();  // the crash: nothing saved
  service_ = KECGlpsServices::Instance();

  KECGlpsLogInfoCrash crash;
  crash.m_bCrashed = true;
  ASSERT_TRUE(Open(info, crash));
  const KECGlpsLogOpening opening = service_->GetLogExpOpening();
  EXPECT_EQ(opening.State(), Glps::eLogOpeningTampered);
  EXPECT_TRUE(opening.HadUnsavedTail());
  ASSERT_EQ(opening.Files().size(), 1u);
  EXPECT_EQ(opening.Files()[0].m_eStatus, Glps::eAuditFileGrownIntact);
  EXPECT_GT(opening.Files()[0].m_nFoundSize, opening.Files()[0].m_record.m_nSize);
  EXPECT_TRUE(opening.CrashReported());
  EXPECT_FALSE(opening.TamperEntryWritten()) << "a reported crash suppresses the tamper entry";
}

// Every reason a log cannot be used, each with what the host is told.
TEST_F(StatusTest, WhyALogCannotBeUsed) {
  const KECGlpsLogInfo info = MakeLog();
  struct Case {
    const char* name;
    std::function<std::string()> prepare;  // returns the directory to open
    Glps::ELogUnusable why;
    int systemError;
    const char* reason;
  };
  const std::string damaged = tmp_ / "damaged";
  const std::vector<Case> cases = {
      {"no directory", [] { return std::string(); }, Glps::eLogUnusableNoDirectory, 0,
       "no log directory was given"},
      {"missing directory", [this] { return std::string(tmp_ / "missing"); },
       Glps::eLogUnusableDirectory, ENOENT, "No such file or directory"},
      {"held by the application log",
       [this] {
         EXPECT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
         return AppDir();
       },
       Glps::eLogUnusableLocked, 0, "another writer holds the lock"},
      {"log.xml read-only",
       [this] {
         chmod((ExpDir() + "/log.xml").c_str(), 0444);
         return ExpDir();
       },
       Glps::eLogUnusableReadOnly, 0, "log.xml is read-only"},
      {"log.xml damaged",
       [&damaged] {
         mkdir(damaged.c_str(), 0755);
         WriteFileBytes(damaged + "/log.xml", "<?xml version=\"1.0\"?><not a log");
         return damaged;
       },
       Glps::eLogUnusableLogXml, 0, "log.xml is not a complete log archive"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string dir = c.prepare();
    // The host hands over the info of the very log.xml there, so nothing but the reason counts.
    const KECGlpsLogInfo given = dir == ExpDir() ? info : InfoOf(dir + "/log.xml");
    unsigned error = 0;
    EXPECT_FALSE(service_->LogExpInit(dir, true, given, KECGlpsLogInfoCrash(), Experiment("Exp"),
                                      &error, nullptr));
    EXPECT_EQ(error, Glps::eErrorLogUnusable);
    const KECGlpsLogOpening opening = service_->GetLogExpOpening();
    EXPECT_EQ(opening.State(), Glps::eLogOpeningUnusable);
    EXPECT_FALSE(opening.IsUsable());
    EXPECT_EQ(opening.Unusable(), c.why);
    EXPECT_EQ(opening.SystemError(), c.systemError);
    EXPECT_THAT(opening.Reason(), HasSubstr(c.reason));
    EXPECT_EQ(opening.Summary(), "NOT USABLE: " + opening.Reason());
    const KECGlpsLogError failure = service_->GetLogExpLastError();
    EXPECT_EQ(failure.Operation(), "LogExpInit");
    EXPECT_EQ(failure.Code(), Glps::eErrorLogUnusable);
    EXPECT_EQ(failure.SystemReason(), opening.Reason());
    EXPECT_EQ(failure.Text(), "LogExpInit: the log cannot be used" +
                                  (dir.empty() ? "" : " (" + dir + ")") + ": " + opening.Reason());
    EXPECT_TRUE(service_->IsLogExpOpen());
    EXPECT_FALSE(service_->IsLogExpRecording());
    EXPECT_FALSE(service_->LogExpExit(nullptr));
    service_->LogAppExit(nullptr);
    chmod((ExpDir() + "/log.xml").c_str(), 0644);
  }
}

// --- Why the last call failed --------------------------------------------------------------------

int g_faultyWriteError = ENOSPC;

ssize_t FailingWrite(int, const void*, size_t) {
  errno = g_faultyWriteError;
  return -1;
}

int FailingSync(int) {
  errno = EIO;
  return -1;
}

int FailingRename(int, const char*, int, const char*) {
  errno = EROFS;
  return -1;
}

TEST_F(StatusTest, TheLastFailureNamesTheOperationTheFileAndTheSystemsReason) {
  const KECGlpsLogInfo info = MakeLog();
  ASSERT_TRUE(Open(info));
  EXPECT_FALSE(service_->GetLogExpLastError().IsFailure());
  const std::string document = Documents(ExpDir()).front();
  {
    glps_test::SysCallsGuard guard;
    guard.calls().write = FailingWrite;
    EXPECT_FALSE(service_->LogExpMsg("no room"));
  }
  KECGlpsLogError failure = service_->GetLogExpLastError();
  EXPECT_TRUE(failure.IsFailure());
  EXPECT_EQ(failure.Operation(), "LogExpMsg");
  EXPECT_EQ(failure.Code(), Glps::eErrorNone);
  EXPECT_EQ(failure.File(), document);
  EXPECT_EQ(failure.SystemError(), ENOSPC);
  EXPECT_EQ(failure.SystemReason(), "No space left on device");
  EXPECT_EQ(failure.Text(),
            "LogExpMsg: an entry could not be written (" + document + "): No space left on device");
  // Kept while other calls succeed.
  EXPECT_TRUE(service_->LogExpMsg("room again"));
  EXPECT_EQ(service_->GetLogExpLastError().Text(), failure.Text());
  EXPECT_FALSE(service_->GetLogAppLastError().IsFailure()) << "each log has its own";
  ASSERT_TRUE(service_->LogExpSave("", nullptr)) << "the sidecar saved, and not again below";

  {
    glps_test::SysCallsGuard guard;
    guard.calls().fdatasync = FailingSync;
    EXPECT_FALSE(service_->LogExpSave("", nullptr));
  }
  failure = service_->GetLogExpLastError();
  EXPECT_EQ(failure.Operation(), "LogExpSave");
  EXPECT_EQ(failure.What(), "the document could not be made durable");
  EXPECT_EQ(failure.File(), document);
  EXPECT_EQ(failure.SystemError(), EIO);

  {
    glps_test::SysCallsGuard guard;
    guard.calls().renameat = FailingRename;
    EXPECT_FALSE(service_->LogExpSave("", nullptr));
  }
  failure = service_->GetLogExpLastError();
  EXPECT_EQ(failure.Text(),
            "LogExpSave: log.xml could not be written (log.xml): Read-only file system");

  // Refused by the library itself: no system error.
  EXPECT_FALSE(service_->LogExpLink("log.xml"));
  EXPECT_EQ(service_->GetLogExpLastError().SystemError(), 0);
  EXPECT_THAT(service_->GetLogExpLastError().Text(),
              HasSubstr("LogExpLink: the name is not one a linked file may have"));
  EXPECT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(service_->GetLogExpLastError().Operation(), "LogExpLink") << "kept after the exit";

  // A new opening starts afresh.
  ASSERT_TRUE(Open(InfoOf(ExpDir() + "/log.xml")));
  EXPECT_FALSE(service_->GetLogExpLastError().IsFailure());
  EXPECT_EQ(service_->GetLogExpLastError().Text(), "");
}

TEST_F(StatusTest, ARefusedExperimentAndCallsWithoutALog) {
  KECGlpsLogInfoExperiment old = Experiment("Old", true, 399);
  unsigned error = 0;
  EXPECT_FALSE(service_->LogExpInit(ExpDir(), true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), old,
                                    &error, nullptr));
  EXPECT_EQ(error, Glps::eErrorExperimentRefused);
  KECGlpsLogError failure = service_->GetLogExpLastError();
  EXPECT_EQ(failure.Code(), Glps::eErrorExperimentRefused);
  EXPECT_EQ(failure.Text(),
            "LogExpInit: the experiment is refused: made by version 399, below 400");
  EXPECT_EQ(service_->GetLogExpOpening().State(), Glps::eLogOpeningNone) << "nothing was opened";

  EXPECT_FALSE(service_->LogExpSave("", nullptr));
  EXPECT_EQ(service_->GetLogExpLastError().Text(), "LogExpSave: no experiment log is open");
  EXPECT_FALSE(service_->LogAppExit(nullptr));
  EXPECT_EQ(service_->GetLogAppLastError().Text(), "LogAppExit: no application log is open");
}

// --- Whether messages are recorded ---------------------------------------------------------------

TEST_F(StatusTest, WhetherMessagesAreRecorded) {
  EXPECT_FALSE(service_->IsLogExpOpen());
  EXPECT_FALSE(service_->IsLogExpRecording());
  // Logging switched off.
  EXPECT_TRUE(service_->LogExpInit(ExpDir(), false, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                   Experiment("Exp"), nullptr, nullptr));
  EXPECT_FALSE(service_->IsLogExpRecording());
  // Refused, with no log open before: LogExpMsg says true and writes nothing.
  EXPECT_FALSE(service_->LogExpInit(ExpDir(), true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                    Experiment("Old", true, 300), nullptr, nullptr));
  EXPECT_TRUE(service_->LogExpMsg("lost"));
  EXPECT_FALSE(service_->IsLogExpOpen());
  EXPECT_FALSE(service_->IsLogExpRecording());
  EXPECT_THAT(ListDirectory(ExpDir()), IsEmpty());
  // Open and usable.
  ASSERT_TRUE(Open(KECGlpsLogInfo()));
  EXPECT_TRUE(service_->IsLogExpOpen());
  EXPECT_TRUE(service_->IsLogExpRecording());
  // Switched off while open: the log stays open, LogExpMsg writes nothing.
  EXPECT_TRUE(service_->LogExpInit(ExpDir(), false, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                   Experiment("Exp"), nullptr, nullptr));
  EXPECT_TRUE(service_->IsLogExpOpen());
  EXPECT_FALSE(service_->IsLogExpRecording());

  EXPECT_FALSE(service_->IsLogAppRecording());
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  EXPECT_TRUE(service_->IsLogAppOpen());
  EXPECT_TRUE(service_->IsLogAppRecording());
  KECQrmsServices::Instance()->SetAllowed(Qrms::RightAppGlpLog, false);
  EXPECT_TRUE(service_->IsLogAppOpen());
  EXPECT_FALSE(service_->IsLogAppRecording()) << "the right withdrawn silences messages";
  KECQrmsServices::Instance()->SetAllowed(Qrms::RightAppGlpLog, true);
  EXPECT_TRUE(service_->LogAppExit(nullptr));
  EXPECT_FALSE(service_->IsLogAppOpen());
}

// The application log's opening, and the entries the host asks for afterwards.
TEST_F(StatusTest, TheApplicationLogsOpeningRecordsTheEntriesTheHostAskedFor) {
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogAppExit(&info));
  // Opened without the info kept: found tampered; the entry is written when the host asks.
  ASSERT_TRUE(service_->LogAppInit(KECGlpsLogInfo()));
  EXPECT_EQ(service_->GetLogAppOpening().State(), Glps::eLogOpeningTampered);
  EXPECT_FALSE(service_->GetLogAppOpening().TamperEntryWritten());
  ASSERT_TRUE(service_->LogAppTampered(service_->IsLogAppTampered(), false));
  KECGlpsLogInfoCrash crash;
  crash.m_bCrashed = true;
  ASSERT_TRUE(service_->LogAppCrash(crash));
  EXPECT_TRUE(service_->GetLogAppOpening().TamperEntryWritten());
  EXPECT_TRUE(service_->GetLogAppOpening().CrashReported());
  ASSERT_TRUE(service_->LogAppExit(&info));
  EXPECT_EQ(service_->GetLogAppOpening().State(), Glps::eLogOpeningTampered) << "kept after exit";
}

// (check_version.cmake compares the version libglps.so reports with the headers'.)
TEST(VersionTest, TheVersionMacrosCompare) {
  EXPECT_TRUE(Glps::IsLibraryCompatible());
  EXPECT_TRUE(GLPS_VERSION_AT_LEAST(GLPS_VERSION_MAJOR, GLPS_VERSION_MINOR, GLPS_VERSION_PATCH));
  EXPECT_FALSE(GLPS_VERSION_AT_LEAST(GLPS_VERSION_MAJOR, GLPS_VERSION_MINOR + 1, 0));
}

}  // namespace
