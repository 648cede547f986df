// SPDX-License-Identifier: Apache-2.0
#include "files/glps_file.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "files/file_test_util.h"
#include "gtest/gtest.h"
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
  KECGlpsFile holder(dir / "held");
  ASSERT_TRUE(holder.IsOpen());

  for (const char* name : {"missing-dir/f.html", "link", "subdir", "fifo", "held"}) {
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

// Forks a child that tries to open `path` as a writer; its exit status tells whether it could.
bool ChildProcessCanOpen(const std::string& path) {
  pid_t pid = fork();
  if (pid == 0) {
    KECGlpsFile file(path);
    _exit(file.IsOpen() ? 0 : 3);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
    ADD_FAILURE() << "child process did not run";
    return false;
  }
  return WEXITSTATUS(status) == 0;
}

TEST(GlpsFileTest, SecondWriterFailsHereAndInAnotherProcessWhileReadersRead) {
  TempDir dir;
  const std::string path = dir / "doc.html";
  {
    auto first = std::make_unique<KECGlpsFile>(path);
    ASSERT_TRUE(first->IsOpen());
    ASSERT_EQ(first->Write(std::string("<P>entry</P>")), KECGlpsIoResult(true, 12));

    KECGlpsFile second(path);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_FALSE(ChildProcessCanOpen(path));

    std::ifstream reader(path, std::ios::binary);
    std::string seen;
    EXPECT_TRUE(std::getline(reader, seen));
    EXPECT_EQ(seen, "<P>entry</P>");

    first.reset();
    EXPECT_TRUE(ChildProcessCanOpen(path));
    KECGlpsFile third(path);
    EXPECT_TRUE(third.IsOpen());
  }
  // The content was neither flushed away nor truncated by any of the openings.
  EXPECT_EQ(ReadFileBytes(path), "<P>entry</P>");
}

}  // namespace
