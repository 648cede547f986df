// SPDX-License-Identifier: Apache-2.0
#include "files/platform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "files/file_test_util.h"
#include "gtest/gtest.h"
#include "support/temp_dir.h"

namespace {

namespace platform = glps::platform;
using glps_test::ModeOf;
using glps_test::ReadFileBytes;
using glps_test::SysCallsGuard;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// --- Injected faults. Plain functions, so they fit the table; their settings live here. ---------

int g_failAfterCalls = 0;  // calls that still succeed before the injected failure
int g_injectedErrno = EIO;

ssize_t WriteFailingAfter(int fd, const void* buffer, size_t count) {
  if (g_failAfterCalls-- > 0) return ::write(fd, buffer, count);
  errno = g_injectedErrno;
  return -1;
}
int RenameFailing(const char*, const char*) {
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

// --- Opening
// --------------------------------------------------------------------------------------

TEST(PlatformOpenTest, CreatesMissingFileEmptyWithCloexecAndBlockingMode) {
  TempDir dir;
  const std::string path = dir / "new.html";
  platform::FileHandle fd = platform::OpenExclusive(path);
  ASSERT_NE(fd, platform::kInvalidHandle);
  EXPECT_EQ(platform::Size(fd), 0);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  EXPECT_EQ(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  EXPECT_EQ(ModeOf(path) & 0777, 0644u & ~static_cast<unsigned>(umask(umask(0))));
  platform::Close(fd);
}

TEST(PlatformOpenTest, RefusesWhatIsNotARegularFileWithoutBlocking) {
  TempDir dir;
  WriteFileBytes(dir / "real", "content");
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "subdir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);

  for (const char* name : {"link", "dangling", "subdir", "fifo", "missing-dir/file"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(platform::OpenExclusive(dir / name), platform::kInvalidHandle);
  }
  // Neither the link's target nor the dangling link's target was touched or created.
  EXPECT_EQ(ReadFileBytes(dir / "real"), "content");
  EXPECT_FALSE(std::filesystem::exists(dir / "nowhere"));
}

TEST(PlatformOpenTest, SecondOpenFailsUntilTheFirstIsClosed) {
  TempDir dir;
  const std::string path = dir / "held";
  platform::FileHandle first = platform::OpenExclusive(path);
  ASSERT_NE(first, platform::kInvalidHandle);
  EXPECT_EQ(platform::OpenExclusive(path), platform::kInvalidHandle);
  platform::Close(first);
  platform::FileHandle again = platform::OpenExclusive(path);
  EXPECT_NE(again, platform::kInvalidHandle);
  platform::Close(again);
}

// --- Reading, writing, size, truncate ------------------------------------------------------------

TEST(PlatformIoTest, WriteReadTruncateAndSeekWorkAtThePosition) {
  TempDir dir;
  platform::FileHandle fd = platform::OpenExclusive(dir / "f");
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
  platform::FileHandle fd = platform::OpenExclusive(dir / "f");
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
  guard.calls().lstat = [](const char*, struct stat*) {
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
  EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"log.xml"});
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
      {"fsync fails", [](platform::SysCalls& c) { c.fsync = &FsyncFailing; }},
      {"rename fails", [](platform::SysCalls& c) { c.rename = &RenameFailing; }},
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
    EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"log.xml"});
  }
}

TEST(PlatformReplaceTest, RefusesReadOnlyFilesLinksAndDirectories) {
  TempDir dir;
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
  EXPECT_EQ(DirectoryEntries(dir.path()),
            (std::vector<std::string>{"link", "readonly", "subdir", "target"}));
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
