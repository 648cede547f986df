// SPDX-License-Identifier: Apache-2.0
// `glps verify` in-process: the status of every kind of change, the exit status, the info check,
// and agreement with what the library decides when it opens the same log.
#include "verify.h"

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

#include "files/md5_hash.h"
#include "files/platform.h"
#include "files/platform_syscalls.h"
#include "glps/glps.h"
#include "session/log_session.h"
#include "session/session_data_storage.h"
#include "support/temp_dir.h"

namespace {

using glps_test::ReadFileBytes;
using glps_test::TempDir;
using glps_test::WriteFileBytes;
using glps_tool::FileStatus;
using glps_tool::InfoCheck;
using glps_tool::VerifyLogDirectory;
using glps_tool::VerifyReport;

std::string Fingerprint(const std::string& bytes) {
  glps::crypto::Md5Hash hash;
  hash.Update(bytes.data(), bytes.size());
  return hash.FingerprintText();
}

KECGlpsFileManagerData Record(Glps::EFileType kind, const std::string& name,
                              const std::string& content, bool hashed = true) {
  KECGlpsFileManagerData record;
  record.m_eType = kind;
  record.m_strFileName = name;
  record.m_bHashed = hashed;
  if (hashed) {
    record.m_strHash = Fingerprint(content);
    record.m_nSize = static_cast<std::int64_t>(content.size());
  }
  return record;
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

// Puts the real system calls back when the test ends.
struct SysCallsRestorer {
  ~SysCallsRestorer() { glps::platform::RestoreSysCalls(); }
};

const char kContent[] = "sample,mass\nS1,1.0032\nS2,0.9981\n";

TEST(VerifyTest, EveryChangeToAProtectedFileHasItsStatus) {
  struct Case {
    const char* what;
    std::function<void(const std::string& path)> change;
    FileStatus status;
    std::int64_t foundSize;
  };
  const std::int64_t size = sizeof(kContent) - 1;
  const Case cases[] = {
      {"untouched", [](const std::string&) {}, FileStatus::kIntact, size},
      {"byte changed", [](const std::string& p) { FlipByte(p, 4); }, FileStatus::kModified, size},
      {"tail appended", [](const std::string& p) { WriteFileBytes(p, ReadFileBytes(p) + "S3"); },
       FileStatus::kGrownIntact, size + 2},
      {"changed and grown",
       [](const std::string& p) {
         FlipByte(p, 4);
         WriteFileBytes(p, ReadFileBytes(p) + "S3");
       },
       FileStatus::kGrownModified, size + 2},
      {"cut short", [](const std::string& p) { ASSERT_EQ(truncate(p.c_str(), 10), 0); },
       FileStatus::kShrunk, 10},
      {"emptied", [](const std::string& p) { WriteFileBytes(p, ""); }, FileStatus::kShrunk, 0},
      {"deleted", [](const std::string& p) { unlink(p.c_str()); }, FileStatus::kMissing, -1},
      {"replaced by a directory",
       [](const std::string& p) {
         unlink(p.c_str());
         mkdir(p.c_str(), 0755);
       },
       FileStatus::kNotRegular, -1},
      {"replaced by a link to an intact copy",
       [](const std::string& p) {
         ASSERT_EQ(rename(p.c_str(), (p + ".copy").c_str()), 0);
         ASSERT_EQ(symlink((p + ".copy").c_str(), p.c_str()), 0);
       },
       FileStatus::kNotRegular, -1},
      {"given a second name (a hard link)",
       [](const std::string& p) { ASSERT_EQ(link(p.c_str(), (p + ".second").c_str()), 0); },
       FileStatus::kMultiplyLinked, size},
      {"made read-only", [](const std::string& p) { ASSERT_EQ(chmod(p.c_str(), 0444), 0); },
       FileStatus::kIntact, size},
      {"replaced by a FIFO (must not block)",
       [](const std::string& p) {
         unlink(p.c_str());
         ASSERT_EQ(mkfifo(p.c_str(), 0644), 0);
       },
       FileStatus::kNotRegular, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteFileBytes(dir / "data.csv", kContent);
    WriteLogXml(dir.path(), {Record(Glps::FileLink, "data.csv", kContent)});
    c.change(dir / "data.csv");

    const VerifyReport report = VerifyLogDirectory(dir.path(), nullptr);
    ASSERT_EQ(report.error, "");
    ASSERT_EQ(report.records.size(), 1u);
    EXPECT_EQ(glps_tool::StatusName(report.records[0].status),
              std::string(glps_tool::StatusName(c.status)));
    EXPECT_EQ(report.records[0].foundSize, c.foundSize);
    EXPECT_EQ(report.ExitStatus(), c.status == FileStatus::kIntact ? 0 : 1);
    EXPECT_EQ(report.infoCheck, InfoCheck::kNotChecked);
  }
}

TEST(VerifyTest, WhatTheRecordSaysDecidesWhatIsChecked) {
  struct Case {
    const char* what;
    KECGlpsFileManagerData record;
    FileStatus status;
    int exitStatus;
  };
  const std::string other = "something else entirely";
  KECGlpsFileManagerData sizeOnly = Record(Glps::FileLink, "data.csv", kContent);
  sizeOnly.m_strHash.clear();
  KECGlpsFileManagerData sizeOnlyWrongSize = sizeOnly;
  sizeOnlyWrongSize.m_nSize -= 1;
  KECGlpsFileManagerData negative = Record(Glps::FileLink, "data.csv", kContent);
  negative.m_nSize = -5;
  const Case cases[] = {
      {"an index page, whatever its content", Record(Glps::FileIndexMain, "data.csv", other, false),
       FileStatus::kUnprotected, 0},
      {"an unprotected record of a missing file",
       Record(Glps::FileIndexMenu, "gone.html", other, false), FileStatus::kUnprotected, 0},
      {"a name with a directory part", Record(Glps::FileLink, "../data.csv", kContent),
       FileStatus::kBadName, 1},
      {"a name with a backslash", Record(Glps::FileLink, "a\\data.csv", kContent),
       FileStatus::kBadName, 1},
      {"the name ..", Record(Glps::FileLink, "..", kContent), FileStatus::kBadName, 1},
      {"an empty fingerprint compares the size only", sizeOnly, FileStatus::kIntact, 0},
      {"an empty fingerprint and another size", sizeOnlyWrongSize, FileStatus::kGrownIntact, 1},
      {"a negative size", negative, FileStatus::kModified, 1},
      {"another file's fingerprint",
       Record(Glps::FileLink, "data.csv", std::string(kContent).replace(0, 1, "S")),
       FileStatus::kModified, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir dir;
    WriteFileBytes(dir / "data.csv", kContent);
    WriteLogXml(dir.path(), {c.record});
    const VerifyReport report = VerifyLogDirectory(dir.path(), nullptr);
    ASSERT_EQ(report.records.size(), 1u);
    EXPECT_EQ(glps_tool::StatusName(report.records[0].status),
              std::string(glps_tool::StatusName(c.status)));
    EXPECT_EQ(report.ExitStatus(), c.exitStatus);
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
    WriteLogXml(dir.path(), {Record(Glps::FileLink, "data.csv", kContent),
                             Record(Glps::FileLink, "other.csv", kContent)});
    SysCallsRestorer restorer;
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
    const VerifyReport report = VerifyLogDirectory(dir.path(), nullptr);
    glps::platform::RestoreSysCalls();
    ASSERT_EQ(report.error, "");
    ASSERT_EQ(report.records.size(), 2u);
    EXPECT_EQ(report.records[0].status, FileStatus::kUnreadable);
    EXPECT_EQ(report.records[1].status, FileStatus::kIntact);
    EXPECT_EQ(report.ExitStatus(), 1);
  }
}

// Every file call the library's file code makes during a verification, of a log whose files
// are missing, grown and changed: only read-only opens, and no call that changes anything.
TEST(VerifyTest, OnlyReadOnlyCallsAreMade) {
  TempDir dir;
  WriteFileBytes(dir / "data.csv", std::string(kContent) + "tail");
  WriteFileBytes(dir / "other.csv", "x");
  WriteLogXml(dir.path(),
              {Record(Glps::FileLink, "data.csv", kContent),
               Record(Glps::FileLink, "other.csv", "y"), Record(Glps::FileLink, "gone.csv", ""),
               Record(Glps::FileIndexMain, "GLP-Main.html", "", false)});
  static std::vector<int> openFlags;
  static int changingCalls = 0;
  openFlags.clear();
  changingCalls = 0;
  SysCallsRestorer restorer;
  glps::platform::SysCalls& calls = glps::platform::CurrentSysCalls();
  calls.openat = [](int dirfd, const char* path, int flags, mode_t mode) -> int {
    openFlags.push_back(flags);
    return ::openat(dirfd, path, flags, mode);
  };
  calls.write = [](int, const void*, size_t) -> ssize_t { return ++changingCalls, -1; };
  calls.ftruncate = [](int, off_t) -> int { return ++changingCalls, -1; };
  calls.renameat = [](int, const char*, int, const char*) -> int { return ++changingCalls, -1; };
  calls.lock = [](int, int, struct flock*) -> int { return ++changingCalls, -1; };
  calls.fchmod = [](int, mode_t) -> int { return ++changingCalls, -1; };
  calls.unlinkat = [](int, const char*, int) -> int { return ++changingCalls, -1; };
  calls.fsync = [](int) -> int { return ++changingCalls, -1; };
  const VerifyReport report = VerifyLogDirectory(dir.path(), nullptr);
  glps::platform::RestoreSysCalls();

  ASSERT_EQ(report.records.size(), 4u);
  EXPECT_EQ(report.records[0].status, FileStatus::kGrownIntact);
  EXPECT_EQ(report.records[1].status, FileStatus::kModified);
  EXPECT_EQ(report.records[2].status, FileStatus::kMissing);
  EXPECT_GE(openFlags.size(), 3u) << "log.xml and the files went through the platform unit";
  for (int flags : openFlags) {
    EXPECT_EQ(flags & O_ACCMODE, O_RDONLY);
    EXPECT_EQ(flags & (O_CREAT | O_TRUNC | O_APPEND), 0);
  }
  EXPECT_EQ(changingCalls, 0);
  EXPECT_FALSE(glps::platform::PathExists(dir / "gone.csv"));
}

TEST(VerifyTest, WithoutPermissionToReadAFileItIsUnreadable) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  TempDir dir;
  WriteFileBytes(dir / "data.csv", kContent);
  WriteLogXml(dir.path(), {Record(Glps::FileLink, "data.csv", kContent)});
  chmod((dir / "data.csv").c_str(), 0);
  const VerifyReport report = VerifyLogDirectory(dir.path(), nullptr);
  ASSERT_EQ(report.records.size(), 1u);
  EXPECT_EQ(report.records[0].status, FileStatus::kUnreadable);
  EXPECT_EQ(report.ExitStatus(), 1);
}

TEST(VerifyTest, FilesNoRecordNamesAreListedAndDoNotDecide) {
  TempDir dir;
  WriteFileBytes(dir / "data.csv", kContent);
  WriteFileBytes(dir / "notes.txt", "12345");
  mkdir((dir / "extra").c_str(), 0755);
  ASSERT_EQ(symlink("data.csv", (dir / "alias").c_str()), 0);
  WriteLogXml(dir.path(), {Record(Glps::FileLink, "data.csv", kContent)});
  const VerifyReport report = VerifyLogDirectory(dir.path(), nullptr);
  std::map<std::string, std::pair<std::string, std::int64_t>> found;
  for (const auto& entry : report.unregistered) found[entry.name] = {entry.type, entry.size};
  const std::map<std::string, std::pair<std::string, std::int64_t>> expected = {
      {"notes.txt", {"file", 5}}, {"extra", {"directory", -1}}, {"alias", {"symlink", -1}}};
  EXPECT_EQ(found, expected) << "log.xml and data.csv are not listed";
  EXPECT_EQ(report.ExitStatus(), 0);
}

TEST(VerifyTest, LogXmlIsCheckedAgainstTheInfoWhenOneIsGiven) {
  TempDir dir;
  WriteFileBytes(dir / "data.csv", kContent);
  const KECGlpsLogInfo info =
      WriteLogXml(dir.path(), {Record(Glps::FileLink, "data.csv", kContent)});
  ASSERT_TRUE(info.IsValid());
  KECGlpsLogInfo otherHash = info;
  otherHash.m_strLogHash[0] = otherHash.m_strLogHash[0] == 'A' ? 'B' : 'A';
  KECGlpsLogInfo otherSize = info;
  otherSize.m_nLogSize += 1;
  struct Case {
    const char* what;
    const KECGlpsLogInfo* info;
    InfoCheck check;
    int exitStatus;
  };
  const KECGlpsLogInfo none;
  const Case cases[] = {{"no info", nullptr, InfoCheck::kNotChecked, 0},
                        {"the info of this log.xml", &info, InfoCheck::kMatches, 0},
                        {"another hash", &otherHash, InfoCheck::kDiffers, 1},
                        {"another size", &otherSize, InfoCheck::kDiffers, 1},
                        {"the no-log-info value", &none, InfoCheck::kDiffers, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const VerifyReport report = VerifyLogDirectory(dir.path(), c.info);
    EXPECT_EQ(report.infoCheck, c.check);
    EXPECT_EQ(report.logXml, info);
    EXPECT_EQ(report.ExitStatus(), c.exitStatus);
    EXPECT_EQ(report.ProtectedIntactCount(), 1u);
  }
}

// log.xml swapped for a forged copy (another fingerprint for the file) over and over while it is
// verified: the info is checked on the very bytes whose records are reported, so a report whose
// log.xml matches the info never shows the forged record.
TEST(VerifyTest, LogXmlSwappedWhileVerifiedIsJudgedByTheBytesRead) {
  TempDir dir;
  WriteFileBytes(dir / "data.csv", kContent);
  const KECGlpsFileManagerData genuineRecord = Record(Glps::FileLink, "data.csv", kContent);
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
    const VerifyReport report = VerifyLogDirectory(dir.path(), &info);
    if (report.infoCheck != InfoCheck::kMatches) continue;
    ++matching;
    if (report.records.size() != 1 || report.records[0].record.m_strHash != genuineRecord.m_strHash)
      ++forgedShown;
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(forgedShown, 0) << "of " << matching << " reports whose log.xml matched the info";
}

TEST(VerifyTest, ALogThatCannotBeReadGivesExitStatusTwo) {
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
         WriteLogXml(t.path(), {Record(Glps::FileLink, "data.csv", kContent)});
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
    const VerifyReport report = VerifyLogDirectory(dir, &info);
    EXPECT_NE(report.error, "");
    EXPECT_TRUE(report.records.empty());
    EXPECT_EQ(report.ExitStatus(), 2);
  }
}

TEST(VerifyTest, InfoTextIsHashColonSize) {
  struct Case {
    const char* text;
    bool ok;
    const char* hash;
    std::int64_t size;
  };
  const Case cases[] = {
      {"abc=:123", true, "abc=", 123},
      {"a:b:7", true, "a:b", 7},
      {":0", true, "", 0},
      {"abc", false, "", 0},
      {"abc:", false, "", 0},
      {"abc:-1", false, "", 0},
      {"abc:12x", false, "", 0},
      {"abc: 12", false, "", 0},
      {"abc:99999999999999999999", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    KECGlpsLogInfo info;
    EXPECT_EQ(glps_tool::ParseLogInfo(c.text, &info), c.ok);
    if (c.ok) {
      EXPECT_EQ(info.m_strLogHash, c.hash);
      EXPECT_EQ(info.m_nLogSize, c.size);
    }
  }
}

// --- Agreement with the library ---------------------------------------------------------------

class AgreementTest : public ::testing::Test {
 protected:
  void SetUp() override { KCGenUserInfo::Instance()->SetCurrentUserName("tester"); }
  void TearDown() override {
    KECGlpsServices::Destroy();
    KCGenUserInfo::Instance()->ClearOverrides();
  }
};

// The changes made outside the library that the library's own tests make: verify says "not intact"
// exactly when the library, opening the log with the same info, finds it tampered, and it names
// the file that changed.
TEST_F(AgreementTest, VerifyDecidesAsOpeningTheLogDoes) {
  struct Case {
    const char* what;
    std::function<void(const std::string& dir, const std::string& document)> change;
    // Expected status per file kind; kinds not listed are intact.
    std::map<Glps::EFileType, FileStatus> statuses;
    InfoCheck infoCheck;
    int exitStatus;
  };
  const auto sidecar = [](const std::string& document) {
    return KCGenFileUtils::MakeNameExtension(document, "xml");
  };
  const Case cases[] = {
      {"untouched", [](const std::string&, const std::string&) {}, {}, InfoCheck::kMatches, 0},
      {"document byte",
       [](const std::string&, const std::string& d) { FlipByte(d, 5); },
       {{Glps::FileLog, FileStatus::kModified}},
       InfoCheck::kMatches,
       1},
      {"document grown (an unsaved tail)",
       [](const std::string&, const std::string& d) { WriteFileBytes(d, ReadFileBytes(d) + "x"); },
       {{Glps::FileLog, FileStatus::kGrownIntact}},
       InfoCheck::kMatches,
       1},
      {"document shrunk",
       [](const std::string&, const std::string& d) { ASSERT_EQ(truncate(d.c_str(), 20), 0); },
       {{Glps::FileLog, FileStatus::kShrunk}},
       InfoCheck::kMatches,
       1},
      {"document missing",
       [](const std::string&, const std::string& d) { unlink(d.c_str()); },
       {{Glps::FileLog, FileStatus::kMissing}},
       InfoCheck::kMatches,
       1},
      {"sidecar byte",
       [&](const std::string&, const std::string& d) { FlipByte(sidecar(d), 60); },
       {{Glps::FileMetaData, FileStatus::kModified}},
       InfoCheck::kMatches,
       1},
      {"linked file byte",
       [](const std::string& dir, const std::string&) { FlipByte(dir + "/data.csv", 1); },
       {{Glps::FileLink, FileStatus::kModified}},
       InfoCheck::kMatches,
       1},
      {"linked file replaced by a directory",
       [](const std::string& dir, const std::string&) {
         unlink((dir + "/data.csv").c_str());
         mkdir((dir + "/data.csv").c_str(), 0755);
       },
       {{Glps::FileLink, FileStatus::kNotRegular}},
       InfoCheck::kMatches,
       1},
      {"log.xml changed",
       [](const std::string& dir, const std::string&) {
         WriteFileBytes(dir + "/log.xml", ReadFileBytes(dir + "/log.xml") + "\r\n");
       },
       {},
       InfoCheck::kDiffers,
       1},
      {"log.xml missing",
       [](const std::string& dir, const std::string&) { unlink((dir + "/log.xml").c_str()); },
       {},
       InfoCheck::kNotChecked,
       2},
  };
  KECGlpsServices* service = KECGlpsServices::Instance();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir tmp;
    const std::string dir = tmp / "log";
    mkdir(dir.c_str(), 0755);
    WriteFileBytes(dir + "/data.csv", "a,b\n1,2\n");
    KECGlpsLogInfoExperiment experiment;
    experiment.m_strExperiment = "E";
    KECGlpsLogInfo info;
    ASSERT_TRUE(
        service->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), experiment, nullptr, nullptr));
    ASSERT_TRUE(service->LogExpLink("data.csv"));
    ASSERT_TRUE(service->LogExpMsg("entry"));
    ASSERT_TRUE(service->LogExpExit(&info));
    const VerifyReport before = VerifyLogDirectory(dir, &info);
    ASSERT_EQ(before.ExitStatus(), 0);
    std::string document;
    for (const auto& check : before.records) {
      if (check.record.m_eType == Glps::FileLog) document = dir + "/" + check.record.m_strFileName;
    }
    ASSERT_NE(document, "");

    c.change(dir, document);

    const VerifyReport report = VerifyLogDirectory(dir, &info);
    EXPECT_EQ(report.ExitStatus(), c.exitStatus);
    EXPECT_EQ(report.infoCheck, c.infoCheck);
    for (const auto& check : report.records) {
      const auto expected = c.statuses.find(check.record.m_eType);
      const FileStatus status =
          expected != c.statuses.end() ? expected->second : FileStatus::kIntact;
      EXPECT_EQ(glps_tool::StatusName(check.status), std::string(glps_tool::StatusName(status)))
          << check.record.m_strFileName;
    }

    // The library's verdict, on a copy (opening re-bases the records and cuts files back).
    const std::string copy = tmp / "copy";
    std::filesystem::copy(dir, copy, std::filesystem::copy_options::recursive);
    bool tampered;
    {
      KECGlpsLogSession session(copy, "GLP-Log-E", "E", info);
      tampered = session.IsTampered();
    }
    EXPECT_EQ(report.ExitStatus() != 0, tampered);
  }
}

}  // namespace
