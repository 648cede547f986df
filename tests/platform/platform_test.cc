// SPDX-License-Identifier: Apache-2.0
#include "platform/platform.h"
#include "platform/platform_syscalls.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/log_reading.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

namespace {

namespace platform = glps::platform;
using glps_test::ListDirectory;
using glps_test::ModeOf;
using glps_test::ReadFileBytes;
using glps_test::SysCallsGuard;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

// --- Injected faults. Plain functions, so they fit the table; their settings live here. ---------

int g_failAfterCalls = 0;  // calls that still succeed before the injected failure
int g_injectedErrno = EIO;

ssize_t WriteFailingAfter(int fd, const void* buffer, size_t count) {
  if (g_failAfterCalls-- > 0) return ::write(fd, buffer, count);
  errno = g_injectedErrno;
  return -1;
}
int RenameFailing(int, const char*, int, const char*) {
  errno = EXDEV;
  return -1;
}
int FsyncFailing(int) {
  errno = EIO;
  return -1;
}
ssize_t WriteInterruptedOnce(int fd, const void* buffer, size_t count) {
  static bool interrupted = false;
  interrupted = !interrupted;
  if (interrupted) {
    errno = EINTR;
    return -1;
  }
  return ::write(fd, buffer, count);
}

// --- Opening -------------------------------------------------------------------------------------

// Opens `name` of the directory `dir` for writing.
platform::FileHandle OpenIn(const std::string& dir, const std::string& name,
                            platform::OpenMode mode = platform::OpenMode::kExistingOrNew,
                            platform::OpenRefusal* refusal = nullptr) {
  return platform::OpenForWriting(*platform::OpenDirectory(dir), name, mode, refusal);
}

TEST(PlatformOpenTest, CreatesMissingFileEmptyWithCloexecAndBlockingMode) {
  TempDir dir;
  const std::string path = dir / "new.html";
  platform::FileHandle fd = OpenIn(dir.path(), "new.html");
  ASSERT_NE(fd, platform::kInvalidHandle);
  EXPECT_EQ(platform::Size(fd), 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(ModeOf(path) & 0777, 0644u & ~static_cast<unsigned>(umask(umask(0))));
  platform::Close(fd);
}

// Refused whoever runs the test, root included: what is not a regular file, a file with a second
// name, a read-only file; a new file only where nothing is, an existing one only where one is.
TEST(PlatformOpenTest, RefusesWhatMustNotBeWrittenWithoutBlocking) {
  TempDir dir;
  TempDir outside;
  WriteFileBytes(dir / "real", "content");
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "subdir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  WriteFileBytes(outside / "theirs", "theirs");
  ASSERT_EQ(link((outside / "theirs").c_str(), (dir / "second-name").c_str()), 0);
  WriteFileBytes(dir / "readonly", "keep");
  ASSERT_EQ(chmod((dir / "readonly").c_str(), 0444), 0);

  struct Case {
    const char* name;
    platform::OpenMode mode;
    platform::OpenRefusal refusal;
  };
  using M = platform::OpenMode;
  using R = platform::OpenRefusal;
  const Case cases[] = {
      {"link", M::kExistingOrNew, R::kNotRegular},
      {"dangling", M::kExistingOrNew, R::kNotRegular},
      {"subdir", M::kExistingOrNew, R::kNotRegular},
      {"fifo", M::kExistingOrNew, R::kNotRegular},
      {"second-name", M::kExistingOrNew, R::kMultiplyLinked},
      {"readonly", M::kExistingOrNew, R::kReadOnly},
      {"real", M::kNew, R::kExists},
      {"dangling", M::kNew, R::kExists},
      {"missing", M::kExisting, R::kMissing},
      {"missing-dir/file", M::kExistingOrNew, R::kFailed},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform::OpenRefusal refusal = R::kNone;
    EXPECT_EQ(OpenIn(dir.path(), c.name, c.mode, &refusal), platform::kInvalidHandle);
    EXPECT_EQ(refusal, c.refusal);
  }
  // Nothing was touched or created: not the links' targets, not the file with the second name.
  EXPECT_EQ(ReadFileBytes(dir / "real"), "content");
  EXPECT_EQ(ReadFileBytes(outside / "theirs"), "theirs");
  EXPECT_EQ(ReadFileBytes(dir / "readonly"), "keep");
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
  EXPECT_FALSE(std::filesystem::exists(dir / "missing"));
}

// The file is reached through the directory opened at first: a directory renamed away and replaced
// by a link to another one does not send the operations there.
TEST(PlatformOpenTest, OperationsStayInTheDirectoryOpenedFirst) {
  TempDir root;
  ASSERT_EQ(mkdir((root / "log").c_str(), 0755), 0);
  ASSERT_EQ(mkdir((root / "other").c_str(), 0755), 0);
  const platform::DirectoryPtr log = platform::OpenDirectory(root / "log");
  ASSERT_TRUE(log->IsOpen());
  ASSERT_EQ(rename((root / "log").c_str(), (root / "moved").c_str()), 0);
  ASSERT_EQ(symlink((root / "other").c_str(), (root / "log").c_str()), 0);

  EXPECT_TRUE(platform::ReplaceFile(*log, "log.xml", "x"));
  platform::Close(platform::OpenForWriting(*log, "doc.html", platform::OpenMode::kNew));
  EXPECT_TRUE(platform::DeleteFile(*log, "log.xml"));
  EXPECT_EQ(ListDirectory(root / "moved"), std::vector<std::string>{"doc.html"});
  EXPECT_TRUE(ListDirectory(root / "other").empty());
  // A link as the directory's own last component is refused.
  EXPECT_FALSE(platform::OpenDirectory(root / "log")->IsOpen());
}

// The log's lock: one holder at a time, in this process or another; the file is created with mode
// 0600 and never written.
TEST(PlatformLockTest, OneHolderAtATimeAndTheLockFileIsPrivate) {
  TempDir dir;
  const platform::DirectoryPtr directory = platform::OpenDirectory(dir.path());
  EXPECT_EQ(platform::TakeLock(*directory, "log.lock", false), platform::kInvalidHandle);
  const platform::FileHandle first = platform::TakeLock(*directory, "log.lock", true);
  ASSERT_NE(first, platform::kInvalidHandle);
  EXPECT_EQ(ModeOf(dir / "log.lock") & 0777, 0600u);
  EXPECT_EQ(platform::TakeLock(*directory, "log.lock", true), platform::kInvalidHandle);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    const platform::DirectoryPtr again = platform::OpenDirectory(dir.path());
    _exit(platform::TakeLock(*again, "log.lock", true) == platform::kInvalidHandle ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process took the lock";
  platform::Close(first);
  const platform::FileHandle second = platform::TakeLock(*directory, "log.lock", true);
  EXPECT_NE(second, platform::kInvalidHandle);
  platform::Close(second);
  EXPECT_EQ(ReadFileBytes(dir / "log.lock"), "");
}

TEST(PlatformDeleteTest, RemovesNamesButNeverSharedReadOnlyFilesOrDirectories) {
  TempDir dir;
  TempDir outside;
  WriteFileBytes(dir / "plain", "x");
  WriteFileBytes(outside / "theirs", "theirs");
  ASSERT_EQ(link((outside / "theirs").c_str(), (dir / "second-name").c_str()), 0);
  WriteFileBytes(dir / "readonly", "keep");
  ASSERT_EQ(chmod((dir / "readonly").c_str(), 0444), 0);
  ASSERT_EQ(symlink((outside / "theirs").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "subdir").c_str(), 0755), 0);
  const platform::DirectoryPtr directory = platform::OpenDirectory(dir.path());
  EXPECT_TRUE(platform::DeleteFile(*directory, "plain"));
  EXPECT_TRUE(platform::DeleteFile(*directory, "missing"));
  EXPECT_TRUE(platform::DeleteFile(*directory, "link"));
  EXPECT_FALSE(platform::DeleteFile(*directory, "second-name"));
  EXPECT_FALSE(platform::DeleteFile(*directory, "readonly"));
  EXPECT_FALSE(platform::DeleteFile(*directory, "subdir"));
  EXPECT_EQ(ListDirectory(dir.path()),
            (std::vector<std::string>{"readonly", "second-name", "subdir"}));
  EXPECT_EQ(ReadFileBytes(outside / "theirs"), "theirs");
}

// --- Reading, writing, size, truncate ------------------------------------------------------------

TEST(PlatformIoTest, WriteReadTruncateAndSeekWorkAtThePosition) {
  TempDir dir;
  platform::FileHandle fd = OpenIn(dir.path(), "f");
  ASSERT_NE(fd, platform::kInvalidHandle);
  EXPECT_EQ(platform::Write(fd, "abcdef", 6), platform::IoResult(true, 6));
  EXPECT_TRUE(platform::Seek(fd, 2));
  char buffer[10] = {};
  EXPECT_EQ(platform::Read(fd, buffer, sizeof(buffer)), platform::IoResult(true, 4));
  EXPECT_EQ(std::string(buffer, 4), "cdef");
  EXPECT_EQ(platform::Read(fd, buffer, sizeof(buffer)), platform::IoResult(true, 0));

  EXPECT_TRUE(platform::Truncate(fd, 3));
  EXPECT_EQ(platform::Write(fd, "X", 1), platform::IoResult(true, 1));
  EXPECT_EQ(ReadFileBytes(dir / "f"), "abcX");
  EXPECT_TRUE(platform::Truncate(fd, 6));
  EXPECT_EQ(platform::Write(fd, "Y", 1), platform::IoResult(true, 1));
  EXPECT_EQ(ReadFileBytes(dir / "f"), std::string("abcX\0\0Y", 7));
  EXPECT_EQ(platform::Size(fd), 7);

  EXPECT_FALSE(platform::Truncate(fd, -1));
  EXPECT_FALSE(platform::Seek(fd, -1));
  EXPECT_EQ(platform::Size(fd), 7);
  EXPECT_TRUE(platform::Sync(fd));
  platform::Close(fd);
}

TEST(PlatformIoTest, InvalidHandleFailsEverywhere) {
  char buffer[4];
  EXPECT_EQ(platform::Read(platform::kInvalidHandle, buffer, 4), platform::IoResult(false, 0));
  EXPECT_EQ(platform::Write(platform::kInvalidHandle, "ab", 2), platform::IoResult(false, 0));
  EXPECT_FALSE(platform::Truncate(platform::kInvalidHandle, 0));
  EXPECT_FALSE(platform::Sync(platform::kInvalidHandle));
  EXPECT_EQ(platform::Size(platform::kInvalidHandle), -1);
}

TEST(PlatformIoTest, InterruptedWriteIsRetried) {
  TempDir dir;
  SysCallsGuard guard;
  platform::FileHandle fd = OpenIn(dir.path(), "f");
  ASSERT_NE(fd, platform::kInvalidHandle);
  guard.calls().write = &WriteInterruptedOnce;
  EXPECT_EQ(platform::Write(fd, "hello", 5), platform::IoResult(true, 5));
  platform::Close(fd);
  EXPECT_EQ(ReadFileBytes(dir / "f"), "hello");
}

TEST(PlatformPathTest, PathExistsForAnythingThatTakesTheName) {
  TempDir dir;
  WriteFileBytes(dir / "file", "x");
  ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "subdir").c_str(), 0755), 0);
  for (const char* name : {"file", "dangling", "subdir"}) {
    SCOPED_TRACE(name);
    EXPECT_TRUE(platform::PathExists(dir / name));
  }
  EXPECT_FALSE(platform::PathExists(dir / "missing"));
  EXPECT_FALSE(platform::PathExists(dir / "file/below-a-file"));

  SysCallsGuard guard;
  guard.calls().fstatat = [](int, const char*, struct stat*, int) {
    errno = EACCES;
    return -1;
  };
  EXPECT_TRUE(platform::PathExists(dir / "missing"));
}

// --- ReplaceFile ---------------------------------------------------------------------------------

TEST(PlatformReplaceTest, CreatesOrReplacesAndKeepsPermissions) {
  TempDir dir;
  const std::string path = dir / "log.xml";
  EXPECT_TRUE(platform::ReplaceFile(path, "first"));
  EXPECT_EQ(ReadFileBytes(path), "first");

  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  const std::string big(3 * 65536 + 17, 'z');
  EXPECT_TRUE(platform::ReplaceFile(path, big));
  EXPECT_EQ(ReadFileBytes(path), big);
  EXPECT_EQ(ModeOf(path), 0600u);
  EXPECT_TRUE(platform::ReplaceFile(path, ""));
  EXPECT_EQ(ReadFileBytes(path), "");
  EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"log.xml"});
}

TEST(PlatformReplaceTest, FailureLeavesOldFileAndNoTemporaryFile) {
  struct Case {
    const char* name;
    void (*inject)(platform::SysCalls&);
  };
  const Case cases[] = {
      {"write fails at once",
       [](platform::SysCalls& c) {
         g_failAfterCalls = 0;
         g_injectedErrno = ENOSPC;
         c.write = &WriteFailingAfter;
       }},
      {"the temporary file's sync fails",
       [](platform::SysCalls& c) { c.fdatasync = &FsyncFailing; }},
      {"rename fails", [](platform::SysCalls& c) { c.renameat = &RenameFailing; }},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    TempDir dir;
    const std::string path = dir / "log.xml";
    WriteFileBytes(path, "old content");
    {
      SysCallsGuard guard;
      test.inject(guard.calls());
      EXPECT_FALSE(platform::ReplaceFile(path, "new content"));
    }
    EXPECT_EQ(ReadFileBytes(path), "old content");
    EXPECT_EQ(ListDirectory(dir.path()), std::vector<std::string>{"log.xml"});
  }
}

// The two steps of a replacement: nothing is under the name until Commit, a replacement that is not
// committed leaves the old file and no temporary file, and the file synced alongside the
// replacement is synced whether the replacement succeeds or not.
TEST(PlatformReplaceTest, PreparedReplacementTakesTheNameOnlyWhenCommitted) {
  TempDir dir;
  const platform::DirectoryPtr directory = platform::OpenDirectory(dir.path());
  WriteFileBytes(dir / "log.xml", "old");
  WriteFileBytes(dir / "doc.html", "entries");
  const platform::FileHandle document =
      platform::OpenForWriting(*directory, "doc.html", platform::OpenMode::kExisting);
  ASSERT_NE(document, platform::kInvalidHandle);
  {
    platform::Replacement discarded;
    ASSERT_TRUE(discarded.Prepare(*directory, "log.xml", "never"));
    EXPECT_EQ(ListDirectory(dir.path()).size(), 3u) << "the temporary file is there";
  }
  EXPECT_EQ(ReadFileBytes(dir / "log.xml"), "old");
  EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{"doc.html", "log.xml"}));

  struct Case {
    const char* what;
    platform::FileHandle alongside;
    bool failingSync;
    bool committed;
    bool alongsideSynced;
  };
  const Case cases[] = {
      {"both synced", document, false, true, true},
      {"nothing to sync alongside", platform::kInvalidHandle, false, true, false},
      {"every sync fails", document, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    platform::Replacement replacement;
    ASSERT_TRUE(replacement.Prepare(*directory, "log.xml", c.what));
    EXPECT_NE(ReadFileBytes(dir / "log.xml"), c.what) << "not in place before the commit";
    bool alongsideSynced = !c.alongsideSynced;
    bool inPlace = !c.committed;
    {
      SysCallsGuard guard;
      if (c.failingSync) guard.calls().fdatasync = &FsyncFailing;
      EXPECT_EQ(replacement.CommitAfterSyncingWith(c.alongside, &alongsideSynced, &inPlace),
                c.committed);
    }
    EXPECT_EQ(alongsideSynced, c.alongsideSynced);
    EXPECT_EQ(inPlace, c.committed);
    EXPECT_EQ(ReadFileBytes(dir / "log.xml") == c.what, c.committed);
    EXPECT_EQ(ListDirectory(dir.path()), (std::vector<std::string>{"doc.html", "log.xml"}));
    EXPECT_FALSE(replacement.Commit()) << "committed once";
  }
  platform::Close(document);
}

TEST(PlatformReplaceTest, RefusesReadOnlyAndSharedFilesLinksAndDirectories) {
  TempDir dir;
  TempDir outside;
  WriteFileBytes(outside / "theirs", "theirs");
  ASSERT_EQ(link((outside / "theirs").c_str(), (dir / "second-name").c_str()), 0);
  WriteFileBytes(dir / "readonly", "keep");
  ASSERT_EQ(chmod((dir / "readonly").c_str(), 0444), 0);
  WriteFileBytes(dir / "target", "target");
  ASSERT_EQ(symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "subdir").c_str(), 0755), 0);

  // Root may write a 0444 file; the refusal must not depend on who runs the test.
  EXPECT_FALSE(platform::ReplaceFile(dir / "readonly", "new"));
  EXPECT_EQ(ReadFileBytes(dir / "readonly"), "keep");
  EXPECT_FALSE(platform::ReplaceFile(dir / "link", "new"));
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
  EXPECT_EQ(ReadFileBytes(dir / "target"), "target");
  EXPECT_FALSE(platform::ReplaceFile(dir / "subdir", "new"));
  EXPECT_FALSE(platform::ReplaceFile(dir / "missing-dir/file", "new"));
  EXPECT_FALSE(platform::ReplaceFile(dir / "second-name", "new"));
  EXPECT_EQ(ReadFileBytes(outside / "theirs"), "theirs");
  EXPECT_EQ(ListDirectory(dir.path()),
            (std::vector<std::string>{"link", "readonly", "second-name", "subdir", "target"}));
}

// --- ReadWholeFile -------------------------------------------------------------------------------

TEST(PlatformReadWholeTest, ReadsUpToTheCapAndRefusesOtherFiles) {
  TempDir dir;
  const std::string content(70000, 'q');
  WriteFileBytes(dir / "f", content);
  std::string out = "unchanged";
  EXPECT_TRUE(platform::ReadWholeFile(dir / "f", &out));
  EXPECT_EQ(out, content);
  out = "unchanged";
  EXPECT_TRUE(platform::ReadWholeFile(dir / "f", &out, 70000));
  EXPECT_EQ(out, content);
  out = "unchanged";
  EXPECT_FALSE(platform::ReadWholeFile(dir / "f", &out, 69999));
  EXPECT_EQ(out, "unchanged");

  WriteFileBytes(dir / "empty", "");
  EXPECT_TRUE(platform::ReadWholeFile(dir / "empty", &out, 0));
  EXPECT_EQ(out, "");

  ASSERT_EQ(symlink((dir / "f").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  out = "unchanged";
  for (const char* name : {"link", "fifo", "missing"}) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(platform::ReadWholeFile(dir / name, &out));
  }
  EXPECT_FALSE(platform::ReadWholeFile(dir.path(), &out));
  EXPECT_EQ(out, "unchanged");
}

}  // namespace
