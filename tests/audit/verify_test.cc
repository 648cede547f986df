// SPDX-License-Identifier: Apache-2.0
// KECGlpsAudit::Verify: the status of every kind of change to a recorded file, the verdict, the
// info check, unregistered names and the log's lock file, and that nothing is changed.
#include "glps/audit.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "crypto/md5_hash.h"
#include "glps/glps.h"
#include "platform/platform.h"
#include "platform/platform_syscalls.h"
#include "session/session_data_storage.h"
#include "support/stored_records.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

namespace {

using glps_test::Fingerprint;
using glps_test::ReadFileBytes;
using glps_test::RecordOf;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

// The audit of `dir`, with `info` when it is not null.
KECGlpsAuditReport VerifyLogDirectory(const std::string& dir, const KECGlpsLogInfo* info) {
  return KECGlpsAudit::Verify(dir, info);
}

// Writes log.xml with these records through the library's storage; returns its info.
KECGlpsLogInfo WriteLogXml(const std::string& dir,
                           const std::vector<KECGlpsFileManagerData>& records) {
  KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
  *storage.GetFileData() = records;
  EXPECT_TRUE(storage.Save());
  return storage.GetLogInfo();
}

void FlipByte(const std::string& path, std::size_t at) {
  std::string bytes = ReadFileBytes(path);
  ASSERT_LT(at, bytes.size());
  bytes[at] ^= 0x20;
  WriteFileBytes(path, bytes);
}

const char kContent[] = "sample,mass\nS1,1.0032\nS2,0.9981\n";

TEST(VerifyTest, EveryChangeToAProtectedFileHasItsStatus) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> change;
    Glps::EAuditFileStatus status;
    std::int64_t foundSize;
  };
  const std::int64_t size = sizeof(kContent) - 1;
  const Case cases[] = {
      {"untouched", [](const std::string&) {}, Glps::eAuditFileIntact, size},
      {"byte changed", [](const std::string& p) { FlipByte(p, 4); }, Glps::eAuditFileModified,
       size},
      {"tail appended", [](const std::string& p) { WriteFileBytes(p, ReadFileBytes(p) + "S3"); },
       Glps::eAuditFileGrownIntact, size + 2},
      {"changed and grown",
       [](const std::string& p) {
         FlipByte(p, 4);
         WriteFileBytes(p, ReadFileBytes(p) + "S3");
       },
       Glps::eAuditFileGrownModified, size + 2},
      {"cut short", [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 10), 0); },
       Glps::eAuditFileShrunk, 10},
      {"emptied", [](const std::string& p) { WriteFileBytes(p, ""); }, Glps::eAuditFileShrunk, 0},
      {"deleted", [](const std::string& p) { unlink(p.c_str()); }, Glps::eAuditFileMissing, -1},
      {"replaced by a directory",
       [](const std::string& p) {
         unlink(p.c_str());
         mkdir(p.c_str(), 0755);
       },
       Glps::eAuditFileNotRegular, -1},
      {"replaced by a link to an intact copy",
       [](const std::string& p) {
         ASSERT_EQ(rename(p.c_str(), (p + ".copy").c_str()), 0);
         ASSERT_EQ(symlink((p + ".copy").c_str(), p.c_str()), 0);
       },
       Glps::eAuditFileNotRegular, -1},
      {"given a second name (a hard link)",
       [](const std::string& p) { ASSERT_EQ(link(p.c_str(), (p + ".second").c_str()), 0); },
       Glps::eAuditFileMultiplyLinked, size},
      {"made read-only", [](const std::string& p) { ASSERT_EQ(chmod(p.c_str(), 0444), 0); },
       Glps::eAuditFileIntact, size},
      {"replaced by a FIFO (must not block)",
       [](const std::string& p) {
         unlink(p.c_str());
         ASSERT_EQ(mkfifo(p.c_str(), 0644), 0);
       },
       Glps::eAuditFileNotRegular, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteFileBytes(dir / "data.csv", kContent);
    WriteLogXml(dir.path(), {RecordOf(Glps::FileLink, "data.csv", kContent)});
    c.change(dir / "data.csv");

    const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), nullptr);
    ASSERT_EQ(report.m_strError, "");
    ASSERT_EQ(report.m_vFiles.size(), 1u);
    EXPECT_EQ(KECGlpsAudit::StatusName(report.m_vFiles[0].m_eStatus),
              std::string(KECGlpsAudit::StatusName(c.status)));
    EXPECT_EQ(report.m_vFiles[0].m_nFoundSize, c.foundSize);
    EXPECT_EQ(static_cast<int>(report.Verdict()), c.status == Glps::eAuditFileIntact ? 3 : 1)
        << "no info: intact files give a consistent but unauthenticated log";
    EXPECT_EQ(report.m_eInfoCheck, Glps::eAuditInfoNotGiven);
  }
}

// The summaries of what differs (the command's and the printable copy's) take their words from
// here: every status but intact and unprotected has words, once.
TEST(VerifyTest, EveryWayAFileCanDifferHasItsWordsOnce) {
  std::map<int, int> words;
  for (const KECGlpsAuditDifference& difference : KECGlpsAudit::Differences()) {
    ++words[difference.m_eStatus];
    EXPECT_STRNE(difference.m_pszWords, "");
  }
  int status = 0;
  for (; std::string(KECGlpsAudit::StatusName(static_cast<Glps::EAuditFileStatus>(status))) !=
         "unknown";
       ++status) {
    SCOPED_TRACE(KECGlpsAudit::StatusName(static_cast<Glps::EAuditFileStatus>(status)));
    const bool differs = status != Glps::eAuditFileIntact && status != Glps::eAuditFileUnprotected;
    EXPECT_EQ(words[status], differs ? 1 : 0);
  }
  EXPECT_EQ(status, Glps::eAuditFileMultiplyLinked + 1);
  EXPECT_EQ(words.size(), static_cast<std::size_t>(status));
}

TEST(VerifyTest, WhatTheRecordSaysDecidesWhatIsChecked) {
  struct Case {
    const char* what;
    KECGlpsFileManagerData record;
    Glps::EAuditFileStatus status;
    int exitStatus;
  };
  const std::string other = "something else entirely";
  KECGlpsFileManagerData sizeOnly = RecordOf(Glps::FileLink, "data.csv", kContent);
  sizeOnly.m_strHash.clear();
  KECGlpsFileManagerData sizeOnlyWrongSize = sizeOnly;
  sizeOnlyWrongSize.m_nSize -= 1;
  KECGlpsFileManagerData negative = RecordOf(Glps::FileLink, "data.csv", kContent);
  negative.m_nSize = -5;
  const Case cases[] = {
      {"an index page, whatever its content",
       RecordOf(Glps::FileIndexMain, "GLP-Main.html", other, false), Glps::eAuditFileUnprotected,
       3},
      {"an index page's record under another name breaks the rules of a record set",
       RecordOf(Glps::FileIndexMenu, "gone.html", other, false), Glps::eAuditFileUnprotected, 1},
      {"a protected record of a kind the library never writes breaks them too",
       RecordOf(static_cast<Glps::EFileType>(99), "data.csv", kContent), Glps::eAuditFileIntact, 1},
      {"a name with a directory part", RecordOf(Glps::FileLink, "../data.csv", kContent),
       Glps::eAuditFileBadName, 1},
      {"a name with a backslash", RecordOf(Glps::FileLink, "a\\data.csv", kContent),
       Glps::eAuditFileBadName, 1},
      {"the name ..", RecordOf(Glps::FileLink, "..", kContent), Glps::eAuditFileBadName, 1},
      {"an empty fingerprint compares the size only", sizeOnly, Glps::eAuditFileIntact, 3},
      {"an empty fingerprint and another size", sizeOnlyWrongSize, Glps::eAuditFileGrownIntact, 1},
      {"a negative size", negative, Glps::eAuditFileModified, 1},
      {"another file's fingerprint",
       RecordOf(Glps::FileLink, "data.csv", std::string(kContent).replace(0, 1, "S")),
       Glps::eAuditFileModified, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteFileBytes(dir / "data.csv", kContent);
    if (c.record.m_strFileName == "GLP-Main.html") WriteFileBytes(dir / "GLP-Main.html", kContent);
    WriteLogXml(dir.path(), {c.record});
    const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), nullptr);
    ASSERT_EQ(report.m_vFiles.size(), 1u);
    EXPECT_EQ(KECGlpsAudit::StatusName(report.m_vFiles[0].m_eStatus),
              std::string(KECGlpsAudit::StatusName(c.status)));
    EXPECT_EQ(static_cast<int>(report.Verdict()), c.exitStatus);
  }
}

TEST(VerifyTest, AFileThatCannotBeReadIsUnreadable) {
  static int failOpen = 0;
  static int failRead = 0;
  struct Case {
    const char* what;
    int* fault;
    int error;
  };
  const Case cases[] = {{"open refused", &failOpen, EACCES}, {"read error", &failRead, EIO}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteFileBytes(dir / "data.csv", kContent);
    WriteFileBytes(dir / "other.csv", kContent);
    WriteLogXml(dir.path(), {RecordOf(Glps::FileLink, "data.csv", kContent),
                             RecordOf(Glps::FileLink, "other.csv", kContent)});
    glps_test::SysCallsGuard restorer;
    // Faults hit data.csv only: its open fails, or every read from its descriptor fails.
    static int dataFd = -1;
    failOpen = failRead = 0;
    *c.fault = c.error;
    glps::platform::SysCalls& calls = glps::platform::CurrentSysCalls();
    calls.openat = [](int dirfd, const char* path, int flags, mode_t mode) -> int {
      const bool data = std::strcmp(path, "data.csv") == 0;
      if (data && failOpen != 0) {
        errno = failOpen;
        return -1;
      }
      const int fd = ::openat(dirfd, path, flags, mode);
      if (data) {
        dataFd = fd;
      } else if (fd == dataFd) {
        dataFd = -1;  // the number is reused for another file
      }
      return fd;
    };
    calls.read = [](int fd, void* buffer, size_t count) -> ssize_t {
      if (fd == dataFd && failRead != 0) {
        errno = failRead;
        return -1;
      }
      return ::read(fd, buffer, count);
    };
    const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), nullptr);
    glps::platform::RestoreSysCalls();
    ASSERT_EQ(report.m_strError, "");
    ASSERT_EQ(report.m_vFiles.size(), 2u);
    EXPECT_EQ(report.m_vFiles[0].m_eStatus, Glps::eAuditFileUnreadable);
    EXPECT_EQ(report.m_vFiles[1].m_eStatus, Glps::eAuditFileIntact);
    EXPECT_EQ(static_cast<int>(report.Verdict()), 1);
  }
}

// Every file call the library's file code makes during a verification, of a log whose files
// are missing, grown and changed: only read-only opens, and no call that changes anything.
TEST(VerifyTest, OnlyReadOnlyCallsAreMade) {
  TempDir dir;
  WriteFileBytes(dir / "data.csv", std::string(kContent) + "tail");
  WriteFileBytes(dir / "other.csv", "x");
  WriteLogXml(dir.path(),
              {RecordOf(Glps::FileLink, "data.csv", kContent),
               RecordOf(Glps::FileLink, "other.csv", "y"), RecordOf(Glps::FileLink, "gone.csv", ""),
               RecordOf(Glps::FileIndexMain, "GLP-Main.html", "", false)});
  // The log's lock, as an open log holds it: never opened by the audit.
  WriteFileBytes(dir / KECGlpsAudit::LockFileName(), "");
  chmod((dir / KECGlpsAudit::LockFileName()).c_str(), 0600);
  static std::vector<int> openFlags;
  static int changingCalls = 0;
  static int lockOpens = 0;
  openFlags.clear();
  changingCalls = 0;
  lockOpens = 0;
  glps_test::SysCallsGuard restorer;
  glps::platform::SysCalls& calls = glps::platform::CurrentSysCalls();
  calls.openat = [](int dirfd, const char* path, int flags, mode_t mode) -> int {
    openFlags.push_back(flags);
    if (std::strstr(path, "log.lock") != nullptr) ++lockOpens;
    return ::openat(dirfd, path, flags, mode);
  };
  calls.write = [](int, const void*, size_t) -> ssize_t { return ++changingCalls, -1; };
  calls.ftruncate = [](int, off_t) -> int { return ++changingCalls, -1; };
  calls.renameat = [](int, const char*, int, const char*) -> int { return ++changingCalls, -1; };
  calls.lock = [](int, int, struct flock*) -> int { return ++changingCalls, -1; };
  calls.fchmod = [](int, mode_t) -> int { return ++changingCalls, -1; };
  calls.unlinkat = [](int, const char*, int) -> int { return ++changingCalls, -1; };
  calls.fsync = [](int) -> int { return ++changingCalls, -1; };
  calls.fdatasync = [](int) -> int { return ++changingCalls, -1; };
  calls.sync_file_range = [](int, off64_t, off64_t, unsigned) -> int {
    return ++changingCalls, -1;
  };
  const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), nullptr);
  glps::platform::RestoreSysCalls();

  ASSERT_EQ(report.m_vFiles.size(), 4u);
  EXPECT_EQ(report.m_vFiles[0].m_eStatus, Glps::eAuditFileGrownIntact);
  EXPECT_EQ(report.m_vFiles[1].m_eStatus, Glps::eAuditFileModified);
  EXPECT_EQ(report.m_vFiles[2].m_eStatus, Glps::eAuditFileMissing);
  EXPECT_GE(openFlags.size(), 3u) << "log.xml and the files went through the platform unit";
  for (int flags : openFlags) {
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
    EXPECT_EQ(flags & (O_CREAT | O_TRUNC | O_APPEND), 0);
  }
  EXPECT_EQ(changingCalls, 0);
  EXPECT_EQ(lockOpens, 0);
  EXPECT_TRUE(report.m_bLockFile);
  EXPECT_TRUE(report.m_vUnregistered.empty()) << "the lock is the log's, not unregistered";
  EXPECT_FALSE(glps::platform::PathExists(dir / "gone.csv"));
}

// A document is read once: its fingerprint over the recorded part and the checks of its entries,
// the unsaved tail's included, come from the same read.
TEST(VerifyTest, ADocumentIsReadOnceForItsFingerprintAndItsEntries) {
  TempDir dir;
  const auto entry = [](int number) {
    return std::to_string(number) +
           " &nbsp;2026-12-10 &nbsp;17:48:04 +00:00 &nbsp;u &nbsp;<B>weighed</B><BR>\n";
  };
  const std::string saved = entry(1) + entry(2);
  // The tail skips number 3: only its entries can tell.
  const std::string document = saved + entry(4);
  WriteFileBytes(dir / "GLP-Log-E_0001.html", document);
  WriteLogXml(dir.path(), {RecordOf(Glps::FileLog, "GLP-Log-E_0001.html", saved)});
  glps_test::ReadCounter reads;
  const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), nullptr);
  const std::int64_t documentBytesRead = reads.BytesRead("GLP-Log-E_0001.html");

  ASSERT_EQ(report.m_vFiles.size(), 1u);
  EXPECT_EQ(report.m_vFiles[0].m_eStatus, Glps::eAuditFileGrownIntact);
  EXPECT_EQ(documentBytesRead, static_cast<std::int64_t>(document.size()));
  std::vector<Glps::EAuditFindingKind> kinds;
  for (const KECGlpsAuditFinding& finding : report.m_vFindings) kinds.push_back(finding.m_eKind);
  EXPECT_THAT(kinds, ::testing::Contains(Glps::eAuditTailNumbering));
  EXPECT_THAT(kinds, ::testing::Not(::testing::Contains(Glps::eAuditDocumentNotChecked)));
  EXPECT_THAT(kinds, ::testing::Not(::testing::Contains(Glps::eAuditCutInsideEntry)));
}

TEST(VerifyTest, WithoutPermissionToReadAFileItIsUnreadable) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  WriteFileBytes(dir / "data.csv", kContent);
  WriteLogXml(dir.path(), {RecordOf(Glps::FileLink, "data.csv", kContent)});
  chmod((dir / "data.csv").c_str(), 0);
  const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), nullptr);
  ASSERT_EQ(report.m_vFiles.size(), 1u);
  EXPECT_EQ(report.m_vFiles[0].m_eStatus, Glps::eAuditFileUnreadable);
  EXPECT_EQ(static_cast<int>(report.Verdict()), 1);
}

TEST(VerifyTest, FilesNoRecordNamesAreListedAndDoNotDecide) {
  TempDir dir;
  WriteFileBytes(dir / "data.csv", kContent);
  WriteFileBytes(dir / "notes.txt", "12345");
  mkdir((dir / "extra").c_str(), 0755);
  ASSERT_EQ(symlink("data.csv", (dir / "alias").c_str()), 0);
  WriteLogXml(dir.path(), {RecordOf(Glps::FileLink, "data.csv", kContent)});
  const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), nullptr);
  std::map<std::string, std::pair<std::string, std::int64_t>> found;
  for (const auto& entry : report.m_vUnregistered)
    found[entry.m_strName] = {entry.m_strType, entry.m_nSize};
  const std::map<std::string, std::pair<std::string, std::int64_t>> expected = {
      {"notes.txt", {"file", 5}}, {"extra", {"directory", -1}}, {"alias", {"symlink", -1}}};
  EXPECT_EQ(found, expected) << "log.xml and data.csv are not listed";
  EXPECT_EQ(report.Verdict(), Glps::eAuditNotAuthenticated);
}

TEST(VerifyTest, LogXmlIsCheckedAgainstTheInfoWhenOneIsGiven) {
  TempDir dir;
  WriteFileBytes(dir / "data.csv", kContent);
  const KECGlpsLogInfo info =
      WriteLogXml(dir.path(), {RecordOf(Glps::FileLink, "data.csv", kContent)});
  ASSERT_TRUE(info.IsValid());
  KECGlpsLogInfo otherHash = info;
  otherHash.m_strLogHash[0] = otherHash.m_strLogHash[0] == 'A' ? 'B' : 'A';
  KECGlpsLogInfo otherSize = info;
  otherSize.m_nLogSize += 1;
  struct Case {
    const char* what;
    const KECGlpsLogInfo* info;
    Glps::EAuditInfoCheck check;
    int exitStatus;
  };
  const KECGlpsLogInfo none;
  const Case cases[] = {{"no info", nullptr, Glps::eAuditInfoNotGiven, 3},
                        {"the info of this log.xml", &info, Glps::eAuditInfoMatches, 0},
                        {"another hash", &otherHash, Glps::eAuditInfoDiffers, 1},
                        {"another size", &otherSize, Glps::eAuditInfoDiffers, 1},
                        {"the no-log-info value", &none, Glps::eAuditInfoDiffers, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), c.info);
    EXPECT_EQ(report.m_eInfoCheck, c.check);
    EXPECT_EQ(report.m_logXml, info);
    EXPECT_EQ(static_cast<int>(report.Verdict()), c.exitStatus);
    EXPECT_EQ(report.ProtectedIntactCount(), 1u);
  }
}

// log.xml swapped for a forged copy (another fingerprint for the file) over and over while it is
// verified: the info is checked on the very bytes whose records are reported, so a report whose
// log.xml matches the info never shows the forged record.
TEST(VerifyTest, LogXmlSwappedWhileVerifiedIsJudgedByTheBytesRead) {
  TempDir dir;
  WriteFileBytes(dir / "data.csv", kContent);
  const KECGlpsFileManagerData genuineRecord = RecordOf(Glps::FileLink, "data.csv", kContent);
  const KECGlpsLogInfo info = WriteLogXml(dir.path(), {genuineRecord});
  const std::string genuine = ReadFileBytes(dir / "log.xml");
  KECGlpsFileManagerData forgedRecord = genuineRecord;
  forgedRecord.m_strHash[0] = forgedRecord.m_strHash[0] == 'A' ? 'B' : 'A';
  WriteLogXml(dir.path(), {forgedRecord});
  ASSERT_EQ(rename((dir / "log.xml").c_str(), (dir / "swap").c_str()), 0);
  WriteFileBytes(dir / "log.xml", genuine);

  std::atomic<bool> stop(false);
  std::thread swapper([&] {
    while (!stop) {
      renameat2(AT_FDCWD, (dir / "swap").c_str(), AT_FDCWD, (dir / "log.xml").c_str(),
                RENAME_EXCHANGE);
    }
  });
  int matching = 0;
  int forgedShown = 0;
  for (int i = 0; i < 1000; ++i) {
    const KECGlpsAuditReport report = VerifyLogDirectory(dir.path(), &info);
    if (report.m_eInfoCheck != Glps::eAuditInfoMatches) continue;
    ++matching;
    if (report.m_vFiles.size() != 1 ||
        report.m_vFiles[0].m_record.m_strHash != genuineRecord.m_strHash)
      ++forgedShown;
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(forgedShown, 0) << "of " << matching << " reports whose log.xml matched the info";
}

TEST(VerifyTest, ALogThatCannotBeReadIsUnreadable) {
  struct Case {
    const char* what;
    std::function<std::string(const TempDir&)> make;  // returns the directory to verify
  };
  const Case cases[] = {
      {"no such directory", [](const TempDir& t) { return t / "absent"; }},
      {"a file, not a directory",
       [](const TempDir& t) {
         WriteFileBytes(t / "file", "x");
         return t / "file";
       }},
      {"no log.xml", [](const TempDir& t) { return t.path(); }},
      {"log.xml is not an archive",
       [](const TempDir& t) {
         WriteFileBytes(t / "log.xml", "<html>not a log</html>");
         return t.path();
       }},
      {"log.xml cut short",
       [](const TempDir& t) {
         WriteLogXml(t.path(), {RecordOf(Glps::FileLink, "data.csv", kContent)});
         const std::string bytes = ReadFileBytes(t / "log.xml");
         WriteFileBytes(t / "log.xml", bytes.substr(0, bytes.size() / 2));
         return t.path();
       }},
      {"log.xml is a directory",
       [](const TempDir& t) {
         mkdir((t / "log.xml").c_str(), 0755);
         return t.path();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const std::string dir = c.make(tmp);
    const KECGlpsLogInfo info;
    const KECGlpsAuditReport report = VerifyLogDirectory(dir, &info);
    EXPECT_NE(report.m_strError, "");
    EXPECT_TRUE(report.m_vFiles.empty());
    EXPECT_EQ(report.Verdict(), Glps::eAuditUnreadable);
  }
}

}  // namespace
