// SPDX-License-Identifier: Apache-2.0
// Attacks through the file system by someone who can read and write a log directory's files with an
// account of their own, while the host runs: locks, swapped and re-pointed files, links, read-only
// files, races. Each test performs the attack and shows what the library does instead of what the
// attacker wanted. Raced attacks are repeated a bounded number of times.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <grp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/platform_syscalls.h"
#include "session/log_session.h"
#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/stored_records.h"
#include "support/tree_snapshot.h"

namespace {

using glps_test::CountTamperTitles;
using glps_test::InfoOf;
using glps_test::ReadFileBytes;
using glps_test::TreeSnapshot;
using glps_test::WriteFileBytes;

const char kDocument[] = "GLP-Log-Exp_0001.html";
const char kSidecar[] = "GLP-Log-Exp_0001.xml";
const Glps::ELogEntity kEntityType = static_cast<Glps::ELogEntity>(1);

// A log directory "<tmp>/log" with sentinels around it.
class FileSystemAttackTest : public glps_test::HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    glps_test::PlantSentinels(tmp_.path());
  }
  // The log directory; a test that makes several logs names each.
  std::string Dir() const { return tmp_ / name_; }
  std::string PathOf(const std::string& name) const { return Dir() + "/" + name; }

  // A saved and closed log: one document with two entries, a linked file and a sidecar with one
  // entity. Returns the info the host keeps.
  KECGlpsLogInfo MakeLog() {
    mkdir(Dir().c_str(), 0755);
    WriteFileBytes(PathOf("data.csv"), "sample,mass\nS1,1.0032\n");
    KECGlpsLogInfo info;
    EXPECT_TRUE(OpenExp(Dir(), info));
    EXPECT_TRUE(service_->LogExpLink("data.csv"));
    EXPECT_TRUE(service_->LogExpMetaDataName("Titration 7"));
    EXPECT_TRUE(
        service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(kEntityType, 7, KCGenGUID(true))));
    EXPECT_TRUE(service_->LogExpMsg("Sample 12 weighed: 1.0032 g"));
    EXPECT_TRUE(service_->LogExpMsg("Sample 13 weighed: 0.9981 g"));
    EXPECT_TRUE(service_->LogExpExit(&info));
    return info;
  }

  std::string name_ = "log";
};

// Attack: someone who can only read takes a shared lock on a protected file and edits it (with
// another account's write permission) while the host opens the log. The lock used to make the
// verification skip the file, and the forged content was then registered for good.
TEST_F(FileSystemAttackTest, LockedFilesAreVerifiedLikeAnyOther) {
  struct Case {
    const char* file;
    std::string (*forge)(std::string bytes);
  };
  const Case cases[] = {
      {"data.csv", [](std::string b) { return b.replace(b.find("1.0032"), 6, "1.0302"); }},
      {kSidecar,
       [](std::string b) { return b.replace(b.find("<m_nHandle>7<"), 13, "<m_nHandle>8<"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    name_ = std::string("log-") + c.file;
    const KECGlpsLogInfo info = MakeLog();
    const std::string path = PathOf(c.file);
    const std::string forged = c.forge(ReadFileBytes(path));
    ASSERT_NE(forged, ReadFileBytes(path));
    WriteFileBytes(path, forged);
    const int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(flock(reader, LOCK_SH), 0);

    unsigned error = 0;
    EXPECT_TRUE(OpenExp(Dir(), info, &error));
    EXPECT_EQ(error, 0u);
    KECGlpsLogInfo after;
    EXPECT_TRUE(service_->LogExpExit(&after));
    close(reader);
    EXPECT_EQ(CountTamperTitles(Dir()), 1) << "the change was not reported";
  }
}

// Attack: log.xml is swapped for a forged copy, over and over, while the host opens the log. The
// opening used to hash log.xml and parse it in two readings, so a forged copy renamed over it in
// between was taken for the genuine one. Now the bytes that are parsed are the bytes that are
// hashed: an opening that is not tampered has read the genuine log.xml.
TEST_F(FileSystemAttackTest, LogXmlSwappedWhileTheLogOpensIsNeverTakenForTheGenuineOne) {
  const KECGlpsLogInfo info = MakeLog();
  const std::string genuine = ReadFileBytes(PathOf("log.xml"));
  {
    KECGlpsLogSession session(Dir(), "GLP-Log-Exp", "Exp", info);
    ASSERT_FALSE(session.IsTampered());
    ASSERT_EQ(session.GetMetaData().m_strExpName, "Titration 7");
  }
  // The forged copy differs in the metadata only, and has the same size.
  std::string forged = genuine;
  const std::string::size_type at = forged.find("Titration 7");
  ASSERT_NE(at, std::string::npos);
  forged[at + 10] = '8';

  std::atomic<bool> stop(false);
  WriteFileBytes(PathOf("swap"), forged);
  std::thread swapper([&] {
    // Each exchange of the two names is one atomic step, so the swaps come as fast as they can.
    while (!stop) {
      renameat2(AT_FDCWD, PathOf("swap").c_str(), AT_FDCWD, PathOf("log.xml").c_str(),
                RENAME_EXCHANGE);
    }
  });
  // Until the swaps have hit the openings often enough, however fast either side runs (a bound on
  // the tries in case they never do).
  constexpr int kHits = 200;
  constexpr int kMaxTries = 20000;
  int tampered = 0;
  int forgedAccepted = 0;
  int tries = 0;
  for (; tampered < kHits && tries < kMaxTries; ++tries) {
    KECGlpsLogSession session(Dir(), "GLP-Log-Exp", "Exp", info);
    if (session.IsTampered()) {
      ++tampered;
    } else if (session.GetMetaData().m_strExpName != "Titration 7") {
      ++forgedAccepted;
    }
  }
  stop = true;
  swapper.join();
  EXPECT_EQ(forgedAccepted, 0) << "of " << tries << " openings, " << tampered << " tampered";
  EXPECT_EQ(tampered, kHits) << "the swaps hit too few of " << tries << " openings";
  std::printf("log.xml swap race: %d openings, %d tampered, %d forged copies accepted\n", tries,
              tampered, forgedAccepted);
}

// Attack: the reader's lock sits on the current document, with the weighing edited, and is let go
// at a moment of the reader's choosing while the host opens the log. The edit was adopted without a
// tamper entry in most tries; now every try reports it, and the host is never stopped.
TEST_F(FileSystemAttackTest, AnEditedCurrentDocumentIsReportedHoweverTheLockIsTimed) {
  constexpr int kTries = 20;
  for (int i = 0; i < kTries; ++i) {
    SCOPED_TRACE(i);
    name_ = "log-" + std::to_string(i);
    const KECGlpsLogInfo info = MakeLog();
    const std::string path = PathOf(kDocument);
    std::string bytes = ReadFileBytes(path);
    const std::string::size_type at = bytes.find("1.0032");
    ASSERT_NE(at, std::string::npos);
    bytes.replace(at, 6, "1.0302");
    WriteFileBytes(path, bytes);
    const int reader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    ASSERT_EQ(flock(reader, LOCK_SH), 0);
    // Let go after 0 to 1.9 ms, while the opening runs.
    std::thread release([reader, i] {
      std::this_thread::sleep_for(std::chrono::microseconds(100 * i));
      close(reader);
    });
    unsigned error = 0;
    EXPECT_TRUE(OpenExp(Dir(), info, &error));
    release.join();
    EXPECT_EQ(error, 0u);
    EXPECT_TRUE(service_->LogExpExit(nullptr));
    EXPECT_EQ(CountTamperTitles(Dir()), 1) << "the edit was adopted unreported";
  }
}

// Attack: with the log open, its directory is renamed away and a symbolic link to another log's
// directory is put in its place. Saving, clearing and exporting used to write into and delete from
// that other directory. Now every operation stays in the directory the session opened.
TEST_F(FileSystemAttackTest, ARepointedLogDirectoryIsNeverFollowed) {
  mkdir((tmp_ / "victim").c_str(), 0755);
  WriteFileBytes(tmp_ / "victim/log.xml", "<victim's log.xml/>");
  WriteFileBytes(tmp_ / "victim/" + std::string(kDocument), "victim's document");
  WriteFileBytes(tmp_ / "victim/" + std::string(kSidecar), "victim's sidecar");
  WriteFileBytes(tmp_ / "victim/data.csv", "victim's data");
  const KECGlpsLogInfo info = MakeLog();
  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_EQ(rename(Dir().c_str(), (tmp_ / "moved").c_str()), 0);
  ASSERT_EQ(symlink((tmp_ / "victim").c_str(), Dir().c_str()), 0);
  const TreeSnapshot victim(tmp_ / "victim", "");

  EXPECT_TRUE(service_->LogExpMsg("after the move"));
  KECGlpsLogInfo saved;
  EXPECT_TRUE(service_->LogExpSave("", &saved));
  EXPECT_TRUE(TreeSnapshot(tmp_ / "victim", "") == victim) << "the save wrote elsewhere";
  EXPECT_EQ(saved, InfoOf(tmp_ / "moved/log.xml"));
  EXPECT_THAT(ReadFileBytes(tmp_ / "moved/" + std::string(kDocument)),
              ::testing::HasSubstr("after the move"));
  // Export into a link to a directory is refused as well.
  ASSERT_EQ(symlink((tmp_ / "victim").c_str(), (tmp_ / "victim-link").c_str()), 0);
  EXPECT_FALSE(service_->ExportLogExp(tmp_ / "victim-link"));
  EXPECT_TRUE(service_->ClearLogExp());
  EXPECT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_TRUE(TreeSnapshot(tmp_ / "victim", "") == victim) << "clearing deleted elsewhere";
  EXPECT_FALSE(glps::platform::PathExists(tmp_ / "moved/data.csv"));
}

// Attack: the current document is replaced by a hard link to a file outside the log (with the very
// bytes recorded, so that only the link count tells). The outside file used to be cut and appended
// to. Now a file with a second name does not match, is never written, and the log goes on in a new
// document; clearing does not delete it either.
TEST_F(FileSystemAttackTest, AHardLinkedDocumentIsNeverWritten) {
  const KECGlpsLogInfo info = MakeLog();
  const std::string outside = tmp_ / "outside.html";
  WriteFileBytes(outside, ReadFileBytes(PathOf(kDocument)) + "outside's own tail");
  const std::string outsideBytes = ReadFileBytes(outside);
  ASSERT_EQ(unlink(PathOf(kDocument).c_str()), 0);
  ASSERT_EQ(link(outside.c_str(), PathOf(kDocument).c_str()), 0);

  ASSERT_TRUE(OpenExp(Dir(), info));
  EXPECT_TRUE(service_->LogExpMsg("into a new document"));
  EXPECT_TRUE(service_->LogExpSave("", nullptr));
  const std::string next = ReadFileBytes(PathOf("GLP-Log-Exp_0002.html"));
  EXPECT_THAT(next, ::testing::HasSubstr(Txts::GetString(18631))) << "no tamper entry";
  EXPECT_THAT(next, ::testing::HasSubstr("into a new document"));
  EXPECT_FALSE(service_->ClearLogExp()) << "the linked document cannot be deleted";
  EXPECT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(ReadFileBytes(outside), outsideBytes);
  EXPECT_EQ(ReadFileBytes(PathOf(kDocument)), outsideBytes);
}

// Attack: an account that can only read the log directory takes locks: a shared flock on the
// directory, on the current document, a read lock on the document, and tries the log's lock file.
// Every LogExpInit used to fail while it held them. Now only a process that can write the log can
// keep another writer out.
TEST_F(FileSystemAttackTest, AReaderCanStopNobody) {
  const KECGlpsLogInfo info = MakeLog();
  ASSERT_EQ(chmod(tmp_.path().c_str(), 0755), 0);
  struct stat lockFile;
  ASSERT_EQ(lstat(PathOf("log.lock").c_str(), &lockFile), 0);
  EXPECT_EQ(lockFile.st_mode & 07777, 0600u);
  int toParent[2], toChild[2];
  ASSERT_EQ(pipe2(toParent, O_CLOEXEC), 0);
  ASSERT_EQ(pipe2(toChild, O_CLOEXEC), 0);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The reader: another account when the tests run as root.
    if (geteuid() == 0) {
      const uid_t nobody = 65534;
      if (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0) _exit(10);
      if (open(PathOf("log.lock").c_str(), O_RDONLY) >= 0) _exit(11);
    }
    const int dir = open(Dir().c_str(), O_RDONLY | O_DIRECTORY);
    const int doc = open(PathOf(kDocument).c_str(), O_RDONLY);
    const int doc2 = open(PathOf(kDocument).c_str(), O_RDONLY);
    struct flock readLock = {};
    readLock.l_type = F_RDLCK;
    if (dir < 0 || doc < 0 || doc2 < 0 || flock(dir, LOCK_SH) != 0 || flock(doc, LOCK_SH) != 0 ||
        fcntl(doc2, F_OFD_SETLK, &readLock) != 0) {
      _exit(12);
    }
    char go = 'l';
    if (write(toParent[1], &go, 1) != 1 || read(toChild[0], &go, 1) != 1) _exit(13);
    _exit(0);
  }
  close(toParent[1]);
  close(toChild[0]);
  char locked = 0;
  ASSERT_EQ(read(toParent[0], &locked, 1), 1) << "the reader could not take its locks";

  unsigned error = 0;
  EXPECT_TRUE(OpenExp(Dir(), info, &error));
  EXPECT_EQ(error, 0u);
  EXPECT_TRUE(service_->LogExpMsg("while the reader holds its locks"));
  KECGlpsLogInfo saved;
  EXPECT_TRUE(service_->LogExpExit(&saved));

  ASSERT_EQ(write(toChild[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  close(toParent[0]);
  close(toChild[1]);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << WEXITSTATUS(status);
  EXPECT_EQ(CountTamperTitles(Dir()), 0);
  EXPECT_THAT(ReadFileBytes(PathOf(kDocument)),
              ::testing::HasSubstr("while the reader holds its locks"));
}

// Attack: a second writer's files are reached through other paths. Export used to overwrite a
// same-named document of a log another session held; a document deleted or replaced under its
// name while the log was open took the entries, and the save reported success.
TEST_F(FileSystemAttackTest, NoSecondWriterIsActedOnAndALostDocumentFailsTheSave) {
  const KECGlpsLogInfo info = MakeLog();
  // Another log, held by its session, whose document has the same name.
  const std::string other = tmp_ / "other";
  mkdir(other.c_str(), 0755);
  {
    KECGlpsLogSession held(other, "GLP-Log-Exp", "Exp", KECGlpsLogInfo());
    ASSERT_TRUE(held.IsValid());
    ASSERT_TRUE(held.WriteText("the other log's entry"));
    ASSERT_TRUE(held.Save());
    ASSERT_TRUE(OpenExp(Dir(), info));
    const TreeSnapshot before(other, "");
    EXPECT_FALSE(service_->ExportLogExp(other));
    EXPECT_TRUE(TreeSnapshot(other, "") == before) << "export wrote into a held log";
  }
  // A plain directory: a read-only file or one with a second name there is not replaced.
  const std::string target = tmp_ / "target";
  mkdir(target.c_str(), 0755);
  WriteFileBytes(target + "/" + kDocument, "read-only");
  ASSERT_EQ(chmod((target + "/" + kDocument).c_str(), 0444), 0);
  WriteFileBytes(tmp_ / "theirs.csv", "theirs");
  ASSERT_EQ(link((tmp_ / "theirs.csv").c_str(), (target + "/data.csv").c_str()), 0);
  EXPECT_FALSE(service_->ExportLogExp(target));
  EXPECT_EQ(ReadFileBytes(target + "/" + kDocument), "read-only");
  EXPECT_EQ(ReadFileBytes(tmp_ / "theirs.csv"), "theirs");

  // The document removed, then replaced, under its name while the log is open.
  for (bool replace : {false, true}) {
    SCOPED_TRACE(replace ? "replaced" : "removed");
    ASSERT_TRUE(service_->LogExpMsg("before"));
    ASSERT_TRUE(service_->LogExpSave("", nullptr));
    const std::string moved = tmp_ / "moved.html";
    ASSERT_EQ(rename(PathOf(kDocument).c_str(), moved.c_str()), 0);
    if (replace) WriteFileBytes(PathOf(kDocument), ReadFileBytes(moved));
    service_->LogExpMsg("into a document no longer in the log");
    EXPECT_FALSE(service_->LogExpSave("", nullptr));
    if (!replace) {
      ASSERT_EQ(rename(moved.c_str(), PathOf(kDocument).c_str()), 0);
    }
  }
  service_->LogExpExit(nullptr);
}

// Attack: write bits all clear are the read-only attribute, for every user, root included. The raw
// file used to append to a read-only document as root, re-basing cut one, and clearing deleted
// read-only files. Now none of that happens; a log whose current document is read-only is not
// usable.
TEST_F(FileSystemAttackTest, ReadOnlyFilesAreReadOnlyForRootToo) {
  const KECGlpsLogInfo info = MakeLog();
  // Grown behind the log's back, and read-only.
  WriteFileBytes(PathOf(kDocument), ReadFileBytes(PathOf(kDocument)) + "appended");
  const std::string document = ReadFileBytes(PathOf(kDocument));
  ASSERT_EQ(chmod(PathOf(kDocument).c_str(), 0444), 0);
  unsigned error = 0;
  EXPECT_FALSE(OpenExp(Dir(), info, &error));
  EXPECT_EQ(error, glps_test::kErrorUnusable);
  EXPECT_FALSE(service_->LogExpMsg("never written"));
  EXPECT_FALSE(service_->ClearLogExp());
  service_->LogExpExit(nullptr);
  EXPECT_EQ(ReadFileBytes(PathOf(kDocument)), document) << "a read-only document was cut";

  // Clearing a usable log leaves its read-only files in place and says so.
  ASSERT_EQ(chmod(PathOf(kDocument).c_str(), 0644), 0);
  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_EQ(chmod(PathOf("data.csv").c_str(), 0444), 0);
  EXPECT_FALSE(service_->ClearLogExp());
  EXPECT_EQ(ReadFileBytes(PathOf("data.csv")), "sample,mass\nS1,1.0032\n");
  service_->LogExpExit(nullptr);
}

// Attack: a linked file that the host can only read. Linking one of mode 0444 (owned by another
// account when the tests run as root) used to record an empty fingerprint, and every later opening
// reported the log tampered, as did a chmod 444 after linking. Now both verify intact; a file that
// cannot be read is not linked, and no record is kept.
TEST_F(FileSystemAttackTest, ReadOnlyLinkedFilesVerifyIntact) {
  mkdir(Dir().c_str(), 0755);
  WriteFileBytes(PathOf("readonly.csv"), "a,b\n1,2\n");
  ASSERT_EQ(chmod(PathOf("readonly.csv").c_str(), 0444), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(chown(PathOf("readonly.csv").c_str(), 65534, 65534), 0);
  }
  WriteFileBytes(PathOf("later.csv"), "c,d\n");
  WriteFileBytes(PathOf("unreadable.csv"), "x");
  ASSERT_EQ(chmod(PathOf("unreadable.csv").c_str(), 0), 0);

  KECGlpsLogInfo info;
  ASSERT_TRUE(OpenExp(Dir(), info));
  EXPECT_TRUE(service_->LogExpLink("readonly.csv"));
  EXPECT_EQ(service_->GetLogExpLinkHashInfo("readonly.csv"),
            std::make_pair(glps_test::Fingerprint("a,b\n1,2\n"), std::int64_t{8}));
  EXPECT_TRUE(service_->LogExpLink("later.csv"));
  if (geteuid() != 0) {
    EXPECT_FALSE(service_->LogExpLink("unreadable.csv"));
    EXPECT_EQ(service_->GetLogExpLinkHashInfo("unreadable.csv"),
              std::make_pair(std::string(), std::int64_t{0}));
  }
  ASSERT_TRUE(service_->LogExpExit(&info));
  ASSERT_EQ(chmod(PathOf("later.csv").c_str(), 0444), 0);
  for (int opening = 0; opening < 2; ++opening) {
    ASSERT_TRUE(OpenExp(Dir(), info));
    ASSERT_TRUE(service_->LogExpExit(&info));
  }
  EXPECT_EQ(CountTamperTitles(Dir()), 0);
}

// Attack: a second host keeps trying to open the log while the first saves, over and over. Saves
// used to return true with the sidecar recorded empty (its fingerprint taken while the second
// opener held it), and the next opening was tampered. Now every save that returns true recorded
// true fingerprints.
TEST_F(FileSystemAttackTest, ARefusedSecondOpenerNeverSpoilsASave) {
  const KECGlpsLogInfo first = MakeLog();
  ASSERT_TRUE(OpenExp(Dir(), first));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The second host: opens and is refused, again and again, until it is killed.
    for (;;) {
      KECGlpsLogSession second(Dir(), "GLP-Log-Exp", "Exp", first);
      if (second.IsValid()) _exit(1);
    }
  }
  // Killed when the test ends, also when an assertion ends it early.
  struct SecondHost {
    pid_t pid;
    void Kill() {
      if (pid <= 0) return;
      kill(pid, SIGKILL);
      waitpid(pid, nullptr, 0);
      pid = -1;
    }
    ~SecondHost() { Kill(); }
  } secondHost{pid};
  constexpr int kSaves = 150;
  int spoiled = 0;
  KECGlpsLogInfo info;
  for (int i = 0; i < kSaves; ++i) {
    ASSERT_TRUE(
        service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(kEntityType, i, KCGenGUID(true))));
    if (!service_->LogExpSave("", &info)) continue;
    bool loaded = false;
    for (const KECGlpsFileManagerData& record : glps_test::LoadRecords(Dir(), &loaded)) {
      if (record.m_eType != Glps::FileMetaData) continue;
      if (record.m_strHash != glps_test::Fingerprint(ReadFileBytes(PathOf(record.m_strFileName))) ||
          record.m_nSize == 0) {
        ++spoiled;
      }
    }
  }
  const pid_t ended = waitpid(pid, nullptr, WNOHANG);
  EXPECT_EQ(ended, 0) << "the second host ended: it opened the log";
  if (ended == pid) secondHost.pid = -1;
  secondHost.Kill();
  ASSERT_TRUE(service_->LogExpExit(&info));
  EXPECT_EQ(spoiled, 0) << "of " << kSaves << " saves";
  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(CountTamperTitles(Dir()), 0);
}

// Attack: a linked file is replaced by a large sparse file. Each opening used to hash it twice
// (re-basing, then verifying again). Now each protected file is read at most once per opening.
TEST_F(FileSystemAttackTest, EachFileIsReadAtMostOncePerOpening) {
  const KECGlpsLogInfo info = MakeLog();
  constexpr off_t kSparse = off_t{64} << 20;
  const int fd = open(PathOf("data.csv").c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, kSparse), 0);
  close(fd);

  static int g_linkFd = -1;
  static std::uint64_t g_linkBytes = 0;
  g_linkFd = -1;
  g_linkBytes = 0;
  glps::platform::SysCalls& calls = glps::platform::CurrentSysCalls();
  calls.openat = [](int dirfd, const char* name, int flags, mode_t mode) -> int {
    const int opened = ::openat(dirfd, name, flags, mode);
    if (std::strcmp(name, "data.csv") == 0) {
      g_linkFd = opened;
    } else if (opened == g_linkFd) {
      g_linkFd = -1;
    }
    return opened;
  };
  calls.read = [](int fd, void* buffer, size_t count) -> ssize_t {
    const ssize_t n = ::read(fd, buffer, count);
    if (fd == g_linkFd && n > 0) g_linkBytes += static_cast<std::uint64_t>(n);
    return n;
  };
  const bool opened = OpenExp(Dir(), info);
  glps::platform::RestoreSysCalls();
  ASSERT_TRUE(opened);
  EXPECT_EQ(g_linkBytes, static_cast<std::uint64_t>(kSparse));
  EXPECT_EQ(service_->GetLogExpLinkHashInfo("data.csv").second, std::int64_t{kSparse});
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(CountTamperTitles(Dir()), 1);
}

}  // namespace
