// SPDX-License-Identifier: Apache-2.0
// KECGlpsAuditWalk: which directories it hands out as logs, verifying them through the directory it
// found, the expected logs it reports missing, the directories it cannot read, and a tree deeper
// than a path can name, with names moved while the walk is below them.
#include "glps/audit_walk.h"

#include <dirent.h>
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform_syscalls.h"
#include "session/session_data_storage.h"
#include "support/deep_tree.h"
#include "support/stored_records.h"
#include "support/syscalls.h"
#include "support/temp_dir.h"

namespace {

using glps_test::RecordOf;
using glps_test::TempDir;
using glps_test::WriteFileBytes;
using ::testing::HasSubstr;

const char kContent[] = "sample,mass\nS1,1.0032\n";

// A log of one linked file in `dir` (made when missing): consistent, so verified as not
// authenticated without an info.
void MakeLog(const std::string& dir) {
  std::filesystem::create_directories(dir);
  WriteFileBytes(dir + "/data.csv", kContent);
  KECGlpsLogSessionDataStorage storage(dir + "/log.xml");
  *storage.GetFileData() = {RecordOf(Glps::FileLink, "data.csv", kContent)};
  ASSERT_TRUE(storage.Save());
}

std::vector<KECGlpsAuditWalkItem> WalkAll(const std::string& root,
                                          const std::vector<std::string>& expected = {}) {
  KECGlpsAuditWalk walk(root, expected);
  std::vector<KECGlpsAuditWalkItem> items;
  KECGlpsAuditWalkItem item;
  while (walk.Next(&item)) items.push_back(item);
  return items;
}

const char* KindWord(Glps::EAuditWalkItem kind) {
  switch (kind) {
    case Glps::eAuditWalkLog: return "log";
    case Glps::eAuditWalkUnreadable: return "unreadable";
    case Glps::eAuditWalkMissing: return "missing";
  }
  return "?";
}

// "kind relative: reason" per item.
std::vector<std::string> Lines(const std::vector<KECGlpsAuditWalkItem>& items) {
  std::vector<std::string> lines;
  for (const KECGlpsAuditWalkItem& item : items) {
    lines.push_back(std::string(KindWord(item.m_eKind)) + " " + item.m_strRelative +
                    (item.m_strReason.empty() ? "" : ": " + item.m_strReason));
  }
  return lines;
}

KECGlpsAuditReport VerifyItem(const KECGlpsAuditWalkItem& item) {
  return KECGlpsAudit::Verify(item.m_directory, KECGlpsAuditRequest());
}

TEST(WalkTest, EveryDirectoryHoldingALogsFilesIsHandedOutAndVerifiedAsFound) {
  TempDir tmp;
  const std::string root = tmp.path();
  MakeLog(root + "/good");
  MakeLog(root + "/good/inner");
  MakeLog(root + "/linked");
  ASSERT_EQ(rename((root + "/linked/log.xml").c_str(), (root + "/linked.xml").c_str()), 0);
  ASSERT_EQ(symlink("../linked.xml", (root + "/linked/log.xml").c_str()), 0);
  std::filesystem::create_directories(root + "/fifo");
  ASSERT_EQ(mkfifo((root + "/fifo/log.xml").c_str(), 0644), 0);
  std::filesystem::create_directories(root + "/dir/log.xml");
  std::filesystem::create_directories(root + "/plain/deeper");
  WriteFileBytes(root + "/plain/notes.txt", "no log here");
  for (const char* file :
       {"docs-only/GLP-Log-Assay_0001.html", "sidecar-only/GLP-Log-Assay_0001.xml",
        "sealed-only/log.seal", "key-only/log.seal-key", "lock-only/log.lock",
        "index-only/GLP-Main.html"}) {
    const std::string path = root + "/" + file;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    WriteFileBytes(path, "?");
  }
  ASSERT_EQ(symlink("good", (root + "/link-to-good").c_str()), 0);

  const std::vector<KECGlpsAuditWalkItem> items = WalkAll(root);
  EXPECT_EQ(Lines(items), (std::vector<std::string>{"log dir", "log docs-only", "log fifo",
                                                    "log good", "log good/inner", "log index-only",
                                                    "log key-only", "log linked", "log lock-only",
                                                    "log sealed-only", "log sidecar-only"}))
      << "no symbolic link followed, no directory without a log's files";

  // Each is verified through the directory the walk opened, and named by the walk's path.
  for (const KECGlpsAuditWalkItem& item : items) {
    SCOPED_TRACE(item.m_strRelative);
    EXPECT_EQ(item.m_strPath, root + "/" + item.m_strRelative);
    const KECGlpsAuditReport report = VerifyItem(item);
    EXPECT_EQ(report.m_strDirectory, item.m_strPath);
    if (item.m_strRelative.rfind("good", 0) == 0) {
      EXPECT_EQ(report.Verdict(), Glps::eAuditNotAuthenticated) << report.m_strError;
    } else {
      EXPECT_EQ(report.Verdict(), Glps::eAuditUnreadable);
      const bool odd = item.m_strRelative == "linked" || item.m_strRelative == "fifo" ||
                       item.m_strRelative == "dir";
      EXPECT_THAT(report.m_strError, HasSubstr(odd ? "log.xml: not a regular file" : "no log.xml"));
    }
  }
}

TEST(WalkTest, AVerificationReadsTheDirectoryTheWalkFoundWhateverTakesItsName) {
  TempDir tmp;
  const std::string root = tmp / "root";
  MakeLog(root + "/log");
  MakeLog(tmp / "intact");
  std::string changed = kContent;
  changed[3] ^= 0x20;
  WriteFileBytes(root + "/log/data.csv", changed);

  KECGlpsAuditWalk walk(root);
  KECGlpsAuditWalkItem item;
  ASSERT_TRUE(walk.Next(&item));
  ASSERT_EQ(item.m_strRelative, "log");
  // The changed log moved away, a link to an intact one in its place.
  ASSERT_EQ(rename((root + "/log").c_str(), (tmp / "moved").c_str()), 0);
  ASSERT_EQ(symlink((tmp / "intact").c_str(), (root + "/log").c_str()), 0);

  EXPECT_EQ(KECGlpsAudit::Verify(item.m_strPath, nullptr).Verdict(), Glps::eAuditNotAuthenticated)
      << "the path leads to the intact log now";
  const KECGlpsAuditReport report = VerifyItem(item);
  EXPECT_EQ(report.Verdict(), Glps::eAuditNotIntact);
  ASSERT_EQ(report.m_vFiles.size(), 1u);
  EXPECT_EQ(report.m_vFiles[0].m_eStatus, Glps::eAuditFileModified);
  EXPECT_FALSE(walk.Next(&item));
}

// The walk's openings of directories, failing with an error number for one name; and its listings,
// failing for the directory of that name.
std::string g_faultName;
int g_faultError = 0;
bool g_faultInListing = false;

int FaultyOpenat(int dirfd, const char* path, int flags, mode_t mode) {
  if (!g_faultInListing && (flags & O_DIRECTORY) != 0 && g_faultName == path) {
    errno = g_faultError;
    return -1;
  }
  return ::openat(dirfd, path, flags, mode);
}

int FaultyFcntl(int fd, int cmd, int arg) {
  if (g_faultInListing && cmd == F_DUPFD_CLOEXEC) {
    char target[PATH_MAX + 1] = {};
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t size = readlink(link.c_str(), target, PATH_MAX);
    const std::string name = "/" + g_faultName;
    if (size > static_cast<ssize_t>(name.size()) &&
        std::string(target, static_cast<std::size_t>(size))
                .compare(size - name.size(), name.size(), name) == 0) {
      errno = g_faultError;
      return -1;
    }
  }
  return ::fcntl(fd, cmd, arg);
}

TEST(WalkTest, ADirectoryThatCannotBeReadIsReportedAndTheWalkGoesOn) {
  struct Case {
    const char* what;
    int error;
    bool inListing;
    const char* reason;
  };
  const Case cases[] = {
      {"permission denied", EACCES, false, "Permission denied"},
      {"vanished", ENOENT, false, "vanished during the walk"},
      {"replaced by a link", ELOOP, false, "replaced during the walk by a symbolic link or a file"},
      {"replaced by a file", ENOTDIR, false,
       "replaced during the walk by a symbolic link or a file"},
      {"an I/O error opening it", EIO, false, "Input/output error"},
      {"an I/O error listing it", EIO, true, "its listing failed: Input/output error"},
  };
  TempDir tmp;
  MakeLog(tmp / "a");
  MakeLog(tmp / "b");
  MakeLog(tmp / "b/under");
  MakeLog(tmp / "c");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    glps_test::SysCallsGuard guard;
    g_faultName = "b";
    g_faultError = c.error;
    g_faultInListing = c.inListing;
    guard.calls().openat = FaultyOpenat;
    guard.calls().fcntl = FaultyFcntl;
    // An expected log below it is missing for that reason.
    EXPECT_EQ(Lines(WalkAll(tmp.path(), {"b/under", "c"})),
              (std::vector<std::string>{
                  "log a", std::string("unreadable b: ") + c.reason, "log c",
                  "missing b/under: not found: " + (tmp / "b") + " cannot be read"}));
  }
  EXPECT_EQ(Lines(WalkAll(tmp / "absent")),
            (std::vector<std::string>{"unreadable : No such file or directory"}));
}

TEST(WalkTest, EachExpectedLogIsFoundOrMissingWithTheReason) {
  TempDir tmp;
  const std::string root = tmp.path();
  MakeLog(root + "/good");
  std::filesystem::create_directories(root + "/emptied");
  ASSERT_EQ(symlink("good", (root + "/link").c_str()), 0);
  WriteFileBytes(root + "/file", "not a directory");
  const std::vector<KECGlpsAuditWalkItem> items =
      WalkAll(root, {"good", "./emptied", "link", "file", "gone", "not/there/either", ""});
  EXPECT_EQ(Lines(items),
            (std::vector<std::string>{"log ", "log emptied", "log good",
                                      "missing file: not found: a file is there, not a directory",
                                      "missing gone: not found",
                                      "missing link: not found: a symbolic link is there (not "
                                      "followed)",
                                      "missing not/there/either: not found"}));
  // An expected directory without any of a log's files is verified, and cannot be.
  EXPECT_THAT(VerifyItem(items[1]).m_strError, HasSubstr("no log.xml"));
  EXPECT_EQ(items[6].m_strPath, root + "/not/there/either");
}

// The number of descriptors the process has open.
int OpenDescriptors() {
  int count = 0;
  DIR* fds = opendir("/proc/self/fd");
  while (fds != nullptr && readdir(fds) != nullptr) ++count;
  if (fds != nullptr) closedir(fds);
  return count;
}

TEST(WalkTest, ALogDeeperThanAPathCanNameIsFoundWithFewDescriptorsAndVerified) {
  TempDir tmp;
  // 6,000 bytes of path below the root, far more levels than the walk keeps open.
  const int depth = 600;
  const std::string name = "directory";
  glps_test::DirectoryChain chain(tmp / "a", name, depth);
  MakeLog(tmp / "log");
  ASSERT_TRUE(chain.MoveIn(tmp.path(), "log"));
  MakeLog(tmp / "b");
  ASSERT_GT(chain.DeepestPath().size(), static_cast<std::size_t>(PATH_MAX));

  const int before = OpenDescriptors();
  int most = before;
  std::string deepLog = "a";
  for (int level = 0; level < depth; ++level) deepLog += "/" + name;
  deepLog += "/log";
  KECGlpsAuditWalk walk(tmp.path(), {deepLog});
  std::vector<KECGlpsAuditWalkItem> items;
  KECGlpsAuditWalkItem item;
  while (walk.Next(&item)) {
    most = std::max(most, OpenDescriptors());
    items.push_back(item);
  }
  ASSERT_EQ(items.size(), 2u) << ::testing::PrintToString(Lines(items));
  EXPECT_EQ(items[0].m_eKind, Glps::eAuditWalkLog) << "the expected log is found";
  EXPECT_EQ(items[0].m_strRelative, deepLog);
  EXPECT_EQ(items[0].m_strPath, chain.DeepestPath() + "/log");
  EXPECT_EQ(items[1].m_strRelative, "b") << "the walk came back up the chain";
  EXPECT_LE(most - before, 70) << "descriptors held while walking a chain " << depth << " deep";

  const KECGlpsAuditReport report = VerifyItem(items[0]);
  EXPECT_EQ(report.Verdict(), Glps::eAuditNotAuthenticated) << report.m_strError;
  EXPECT_EQ(report.m_strDirectory, chain.DeepestPath() + "/log");
}

TEST(WalkTest, ADirectoryMovedWhileTheWalkIsBelowItIsFoundAgainOrReported) {
  for (const bool replaced : {false, true}) {
    SCOPED_TRACE(replaced ? "its parent replaced by another directory" : "moved away");
    TempDir tmp;
    const std::string root = tmp.path();
    // root/x/c/d/.../d/log and root/x/e: x is far enough above the deep log that the walk has
    // closed it by then.
    std::filesystem::create_directories(root + "/x");
    glps_test::DirectoryChain chain(root + "/x/c", "d", 100);
    MakeLog(root + "/log");
    ASSERT_TRUE(chain.MoveIn(root, "log"));
    MakeLog(root + "/x/e");

    KECGlpsAuditWalk walk(root);
    KECGlpsAuditWalkItem item;
    ASSERT_TRUE(walk.Next(&item));
    ASSERT_EQ(item.m_strPath, chain.DeepestPath() + "/log");
    // c leaves x: ".." of c no longer leads to x.
    ASSERT_EQ(rename((root + "/x/c").c_str(), (root + "/c").c_str()), 0);
    if (replaced) {
      ASSERT_EQ(rename((root + "/x").c_str(), (root + "/x-old").c_str()), 0);
      MakeLog(root + "/x");
    }
    std::vector<KECGlpsAuditWalkItem> rest;
    while (walk.Next(&item)) rest.push_back(item);
    if (replaced) {
      EXPECT_EQ(Lines(rest), (std::vector<std::string>{
                                 "unreadable x: moved or replaced during the walk: what the "
                                 "walk had not read of it is not verified"}))
          << "the new x is not the directory the walk was in";
    } else {
      EXPECT_EQ(Lines(rest), (std::vector<std::string>{"log x/e"}));
    }
  }
}

}  // namespace
