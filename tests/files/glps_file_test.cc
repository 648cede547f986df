// SPDX-License-Identifier: Apache-2.0
#include "files/glps_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

namespace {

using glps_test::ReadFileBytes;
using glps_test::SysCallsGuard;
using glps_test::TempDir;
using glps_test::WriteFileBytes;

// Records every hook call.
class RecordingFile : public KECGlpsFile {
 public:
  struct Call {
    bool write;
    std::uint32_t requested;
    KECGlpsIoResult result;
  };
  using KECGlpsFile::KECGlpsFile;
  std::vector<Call> calls;

 protected:
  void OnRead(void*, std::uint32_t count, const KECGlpsIoResult& result) override {
    calls.push_back({false, count, result});
  }
  void OnWritten(const void*, std::uint32_t count, const KECGlpsIoResult& result) override {
    calls.push_back({true, count, result});
  }
};

bool operator==(const RecordingFile::Call& a, const RecordingFile::Call& b) {
  return a.write == b.write && a.requested == b.requested && a.result == b.result;
}

ssize_t ReadFailing(int, void*, size_t) {
  errno = EIO;
  return -1;
}
ssize_t WriteFailing(int, const void*, size_t) {
  errno = ENOSPC;
  return -1;
}
int g_fstatCalls = 0;
int FstatFailingAfterFirst(int fd, struct stat* st) {
  if (g_fstatCalls++ == 0) return ::fstat(fd, st);
  errno = EIO;
  return -1;
}

TEST(GlpsFileTest, NewFileIsCreatedEmptyAndNamed) {
  TempDir dir;
  KECGlpsFile file(dir / "GLP-Log-1.html");
  EXPECT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetSize(), 0);
  EXPECT_EQ(file.GetFileName(), "GLP-Log-1.html");
  EXPECT_TRUE(std::ifstream(dir / "GLP-Log-1.html").good());
}

TEST(GlpsFileTest, ExistingFileIsReadFromTheStartAndWrittenAtThePosition) {
  TempDir dir;
  WriteFileBytes(dir / "f", "0123456789");
  KECGlpsFile file(dir / "f");
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetSize(), 10);
  char buffer[4];
  EXPECT_EQ(file.Read(buffer, 4), KECGlpsIoResult(true, 4));
  EXPECT_EQ(std::string(buffer, 4), "0123");
  // No seek to the end first: the write lands at the position.
  EXPECT_EQ(file.Write(std::string("ab")), KECGlpsIoResult(true, 2));
  EXPECT_EQ(ReadFileBytes(dir / "f"), "0123ab6789");
  EXPECT_EQ(file.Read(buffer, 4), KECGlpsIoResult(true, 4));
  EXPECT_EQ(file.Read(buffer, 4), KECGlpsIoResult(true, 0));
  EXPECT_TRUE(file.Flush());
}

TEST(GlpsFileTest, TruncateCutsOrExtendsAndTheNextWriteAppends) {
  TempDir dir;
  KECGlpsFile file(dir / "f");
  ASSERT_TRUE(file.IsOpen());
  ASSERT_EQ(file.Write(std::string("0123456789")), KECGlpsIoResult(true, 10));

  EXPECT_TRUE(file.Truncate(4));
  EXPECT_EQ(file.GetSize(), 4);
  file.Write(std::string("X"));
  EXPECT_EQ(ReadFileBytes(dir / "f"), "0123X");

  EXPECT_TRUE(file.Truncate(8));
  EXPECT_EQ(file.GetSize(), 8);
  file.Write(std::string("Y"));
  EXPECT_EQ(ReadFileBytes(dir / "f"), std::string("0123X\0\0\0Y", 9));

  EXPECT_FALSE(file.Truncate(-1));
  EXPECT_EQ(file.GetSize(), 9);
}

TEST(GlpsFileTest, HooksSeeEveryReadAndWriteWithRequestedCountAndResult) {
  TempDir dir;
  WriteFileBytes(dir / "f", "abc");
  RecordingFile file(dir / "f");
  ASSERT_TRUE(file.IsOpen());
  char buffer[8];
  file.Read(buffer, 8);
  file.Read(buffer, 8);
  file.Write(std::string("hello"));
  EXPECT_EQ(file.Write(std::string()), KECGlpsIoResult(true, 0));
  {
    SysCallsGuard guard;
    guard.calls().read = &ReadFailing;
    guard.calls().write = &WriteFailing;
    EXPECT_EQ(file.Read(buffer, 8), KECGlpsIoResult(false, 0));
    EXPECT_EQ(file.Write("xy", 2), KECGlpsIoResult(false, 0));
  }
  const std::vector<RecordingFile::Call> expected = {
      {false, 8, {true, 3}}, {false, 8, {true, 0}},  {true, 5, {true, 5}},
      {true, 0, {true, 0}},  {false, 8, {false, 0}}, {true, 2, {false, 0}},
  };
  EXPECT_EQ(file.calls, expected);
  EXPECT_EQ(ReadFileBytes(dir / "f"), "abchello");
}

// Every path that must not open: the object answers false, (false, 0) or 0 and calls no hook.
TEST(GlpsFileTest, ObjectThatDidNotOpenAnswersFailureAndCallsNoHook) {
  TempDir dir;
  WriteFileBytes(dir / "real", "content");
  ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(mkdir((dir / "subdir").c_str(), 0755), 0);
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  WriteFileBytes(dir / "readonly", "keep");
  ASSERT_EQ(chmod((dir / "readonly").c_str(), 0444), 0);
  ASSERT_EQ(link((dir / "real").c_str(), (dir / "second-name").c_str()), 0);

  for (const char* name :
       {"missing-dir/f.html", "link", "subdir", "fifo", "readonly", "second-name"}) {
    SCOPED_TRACE(name);
    RecordingFile file(dir / name);
    EXPECT_FALSE(file.IsOpen());
    char buffer[4];
    EXPECT_EQ(file.Read(buffer, 4), KECGlpsIoResult(false, 0));
    EXPECT_EQ(file.Write(std::string("data")), KECGlpsIoResult(false, 0));
    EXPECT_EQ(file.Write(std::string()), KECGlpsIoResult(false, 0));
    EXPECT_FALSE(file.Truncate(0));
    EXPECT_FALSE(file.Flush());
    EXPECT_EQ(file.GetSize(), 0);
    EXPECT_TRUE(file.calls.empty());
  }
  EXPECT_EQ(ReadFileBytes(dir / "real"), "content");
  EXPECT_EQ(ReadFileBytes(dir / "readonly"), "keep");
  EXPECT_TRUE(std::filesystem::is_symlink(dir / "link"));
}

TEST(GlpsFileTest, SizeThatCannotBeReadIsNotMistakenForAnEmptyFile) {
  TempDir dir;
  WriteFileBytes(dir / "f", "content");
  SysCallsGuard guard;
  g_fstatCalls = 0;
  guard.calls().fstat = &FstatFailingAfterFirst;
  KECGlpsFile file(dir / "f");
  ASSERT_TRUE(file.IsOpen());
  EXPECT_EQ(file.GetSize(), -1);
}

// Locks that readers take on a file (a shared flock, a POSIX read lock, from this process or
// another) never keep the writer out: a reader must not be able to stop the host. Writers of a log
// are kept apart by the log's lock instead.
TEST(GlpsFileTest, ReadersLocksDoNotStopTheWriter) {
  TempDir dir;
  const std::string path = dir / "doc.html";
  WriteFileBytes(path, "<P>entry</P>");
  const int flockReader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  const int posixReader = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(flockReader, 0);
  ASSERT_GE(posixReader, 0);
  ASSERT_EQ(flock(flockReader, LOCK_SH), 0);
  struct flock readLock = {};
  readLock.l_type = F_RDLCK;
  readLock.l_whence = SEEK_SET;
  ASSERT_EQ(fcntl(posixReader, F_OFD_SETLK, &readLock), 0);
  {
    KECGlpsFile writer(path);
    ASSERT_TRUE(writer.IsOpen());
    ASSERT_TRUE(writer.Truncate(12));
    EXPECT_EQ(writer.Write(std::string("<P>more</P>")), KECGlpsIoResult(true, 11));
  }
  close(flockReader);
  close(posixReader);
  EXPECT_EQ(ReadFileBytes(path), "<P>entry</P><P>more</P>");
}

}  // namespace
