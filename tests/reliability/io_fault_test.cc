// SPDX-License-Identifier: Apache-2.0
// I/O faults injected under the platform unit (its SysCalls seam) while a host logs and saves an
// experiment log: each must give a false result, keep the last saved log.xml whole and matching the
// info the host is handed, and lose no entry that was saved.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/platform.h"
#include "platform/platform_syscalls.h"
#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/stored_records.h"
#include "support/tree_snapshot.h"

namespace {

using glps_test::CountTamperTitles;
using glps_test::Documents;
using glps_test::InfoOf;
using glps_test::ListDirectory;
using glps_test::LoadRecords;
using glps_test::ReadFileBytes;
using glps_test::TreeSnapshot;
using ::testing::HasSubstr;
using ::testing::Not;

namespace platform = glps::platform;

// kSync: a file's sync, of its data (fdatasync) or of everything (fsync).
enum class Call { kWrite, kSync, kRename, kOpen };

// The one fault armed at a time: the call it hits, the path it hits (exactly, or every path that
// starts with it), the errno it gives, and for writes how many bytes get through first.
struct Fault {
  Call call;
  std::string path;
  bool prefix;
  int error;
  std::uint32_t pass;
};

Fault g_fault;
bool g_armed = false;
std::uint32_t g_passed = 0;
int g_hits = 0;

std::string PathOf(int fd) {
  char buffer[PATH_MAX];
  const ssize_t n =
      readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof(buffer));
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

bool Hits(Call call, const std::string& path) {
  if (!g_armed || call != g_fault.call) return false;
  return g_fault.prefix ? path.compare(0, g_fault.path.size(), g_fault.path) == 0
                        : path == g_fault.path;
}

ssize_t FaultyWrite(int fd, const void* buffer, size_t count) {
  if (!Hits(Call::kWrite, PathOf(fd))) return ::write(fd, buffer, count);
  if (g_passed < g_fault.pass) {
    const ssize_t n = ::write(fd, buffer, std::min<size_t>(count, g_fault.pass - g_passed));
    if (n > 0) g_passed += static_cast<std::uint32_t>(n);
    return n;
  }
  ++g_hits;
  errno = g_fault.error;
  return -1;
}

int FaultyFsync(int fd) {
  if (!Hits(Call::kSync, PathOf(fd))) return ::fsync(fd);
  ++g_hits;
  errno = g_fault.error;
  return -1;
}

int FaultyFdatasync(int fd) {
  if (!Hits(Call::kSync, PathOf(fd))) return ::fdatasync(fd);
  ++g_hits;
  errno = g_fault.error;
  return -1;
}

// The path of a name relative to a directory descriptor.
std::string PathAt(int dirfd, const char* name) {
  if (name[0] == '/' || dirfd == AT_FDCWD) return name;
  return PathOf(dirfd) + "/" + name;
}

int FaultyRename(int fromDir, const char* from, int toDir, const char* to) {
  if (!Hits(Call::kRename, PathAt(fromDir, from))) return ::renameat(fromDir, from, toDir, to);
  ++g_hits;
  errno = g_fault.error;
  return -1;
}

int FaultyOpen(int dirfd, const char* path, int flags, mode_t mode) {
  if (!Hits(Call::kOpen, PathAt(dirfd, path))) return ::openat(dirfd, path, flags, mode);
  ++g_hits;
  errno = g_fault.error;
  return -1;
}

void Arm(const Fault& fault) {
  g_fault = fault;
  g_armed = true;
  g_passed = 0;
  platform::SysCalls& calls = platform::CurrentSysCalls();
  calls.write = &FaultyWrite;
  calls.fsync = &FaultyFsync;
  calls.fdatasync = &FaultyFdatasync;
  calls.renameat = &FaultyRename;
  calls.openat = &FaultyOpen;
}

void Disarm() {
  g_armed = false;
  platform::RestoreSysCalls();
}

class IoFaultTest : public glps_test::HostTest {
 protected:
  void TearDown() override {
    Disarm();
    HostTest::TearDown();
  }
};

TEST_F(IoFaultTest, FaultsGiveFalseResultsAndLoseNoSavedEntry) {
  enum class Op { kMessage, kSave };
  // Where a fault is aimed, relative to the log directory and its one document "<base>.html".
  enum class Aim { kDocument, kLogXmlTemp, kSidecarTemp, kDirectory };
  // How the host goes on: exits once the fault is gone, exits while it lasts, or dies at once.
  enum class End { kExit, kExitDuringFault, kCrash };
  struct Case {
    const char* what;
    Call call;
    Aim aim;
    int error;
    std::uint32_t pass;
    Op op;
    End end;
    bool logXmlKept;   // the failed operation left log.xml as it was
    bool pendingLost;  // the entry logged before the fault never reaches a saved log.xml
    bool tampered;     // the next opening reports the log tampered
  };
  const Case cases[] = {
      // what, call, aim, errno, bytes through, operation, end, log.xml kept, pending lost, tampered
      {"document write fails", Call::kWrite, Aim::kDocument, EIO, 0, Op::kMessage, End::kExit, true,
       false, false},
      {"document short write, then disk full", Call::kWrite, Aim::kDocument, ENOSPC, 7,
       Op::kMessage, End::kExit, true, false, false},
      {"log.xml: disk full", Call::kWrite, Aim::kLogXmlTemp, ENOSPC, 0, Op::kSave, End::kExit, true,
       false, false},
      {"log.xml: short write, then disk full", Call::kWrite, Aim::kLogXmlTemp, ENOSPC, 100,
       Op::kSave, End::kExit, true, false, false},
      {"log.xml: EIO on sync", Call::kSync, Aim::kLogXmlTemp, EIO, 0, Op::kSave, End::kExit, true,
       false, false},
      {"log.xml: rename fails", Call::kRename, Aim::kLogXmlTemp, EIO, 0, Op::kSave, End::kExit,
       true, false, false},
      {"log.xml: no file can be created", Call::kOpen, Aim::kLogXmlTemp, ENOSPC, 0, Op::kSave,
       End::kExit, true, false, false},
      {"log.xml: disk stays full through the exit", Call::kWrite, Aim::kLogXmlTemp, ENOSPC, 0,
       Op::kSave, End::kExitDuringFault, true, true, true},
      {"log.xml: disk full, then the host dies", Call::kWrite, Aim::kLogXmlTemp, ENOSPC, 0,
       Op::kSave, End::kCrash, true, true, true},
      {"document: EIO on sync", Call::kSync, Aim::kDocument, EIO, 0, Op::kSave, End::kExit, false,
       false, false},
      {"document: EIO on sync, then the host dies", Call::kSync, Aim::kDocument, EIO, 0, Op::kSave,
       End::kCrash, false, false, false},
      {"sidecar: disk full", Call::kWrite, Aim::kSidecarTemp, ENOSPC, 0, Op::kSave, End::kExit,
       false, false, false},
      {"sidecar: rename fails, then the host dies", Call::kRename, Aim::kSidecarTemp, EIO, 0,
       Op::kSave, End::kCrash, false, false, false},
      {"directory: EIO on sync after the renames", Call::kSync, Aim::kDirectory, EIO, 0, Op::kSave,
       End::kExit, false, false, false},
      // The sidecar's save failed after its new file took the old one's place; its record still
      // holds the old fingerprint, and the host died before another save: reported tampered, as
      // a sidecar that could not be saved is.
      {"directory: EIO on sync after the renames, then the host dies", Call::kSync, Aim::kDirectory,
       EIO, 0, Op::kSave, End::kCrash, false, false, true},
  };

  int hits = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    glps_test::TempDir root;
    glps_test::PlantSentinels(root.path());
    char real[PATH_MAX];
    ASSERT_NE(realpath(root.path().c_str(), real), nullptr);
    const std::string dir = std::string(real) + "/log";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    const TreeSnapshot outside(real, dir);

    ASSERT_TRUE(OpenExp(dir, KECGlpsLogInfo()));
    ASSERT_TRUE(service_->LogExpMsg("saved one"));
    ASSERT_TRUE(service_->LogExpMsg("saved two"));
    KECGlpsLogInfo saved;
    ASSERT_TRUE(service_->LogExpSave("", &saved));
    ASSERT_TRUE(service_->LogExpMsg("pending"));
    // The sidecar changes with the next save.
    ASSERT_TRUE(service_->LogExpMetaDataEntity(
        KECGlpsLogMetaDataEntity(static_cast<Glps::ELogEntity>(1), 7, KCGenGUID(true))));
    const std::string logXml = dir + "/log.xml";
    const std::string logXmlBefore = ReadFileBytes(logXml);
    const std::string document = Documents(dir).front();
    const std::string base = document.substr(0, document.size() - 5);

    Fault fault{c.call, "", true, c.error, c.pass};
    switch (c.aim) {
      case Aim::kDocument:
        fault.path = dir + "/" + document;
        fault.prefix = false;
        break;
      case Aim::kLogXmlTemp: fault.path = dir + "/.log.xml.tmp-"; break;
      case Aim::kSidecarTemp: fault.path = dir + "/." + base + ".xml.tmp-"; break;
      case Aim::kDirectory:
        fault.path = dir;
        fault.prefix = false;
        break;
    }
    g_hits = 0;
    Arm(fault);
    KECGlpsLogInfo reported = saved;
    const bool result = c.op == Op::kMessage ? service_->LogExpMsg("during the fault")
                                             : service_->LogExpSave("", &reported);
    if (c.end != End::kExitDuringFault) Disarm();
    EXPECT_GT(g_hits, 0) << "the fault was never hit";
    hits += g_hits;
    EXPECT_FALSE(result);

    bool loaded = false;
    LoadRecords(dir, &loaded);
    EXPECT_TRUE(loaded) << "log.xml does not load";
    if (c.logXmlKept) {
      EXPECT_EQ(ReadFileBytes(logXml), logXmlBefore);
    }
    EXPECT_EQ(reported, InfoOf(logXml)) << "the info handed to the host is not that of log.xml";
    for (const std::string& name : ListDirectory(dir)) {
      EXPECT_EQ(name.find(".tmp-"), std::string::npos) << name;
    }

    KECGlpsLogInfo info = reported;
    if (c.end == End::kCrash) {
      KECGlpsServices::Destroy();  // the open log goes unsaved, as when the host dies
      service_ = KECGlpsServices::Instance();
    } else {
      // A host that cannot save when it exits is told so.
      EXPECT_EQ(service_->LogExpExit(&info), c.end == End::kExit);
      Disarm();
      EXPECT_EQ(info, InfoOf(logXml));
    }

    // Reopened with the last info the host was handed: nothing that was saved is lost; entries
    // written before the fault that never reached a saved log.xml are cut, and the log is reported
    // tampered.
    ASSERT_TRUE(OpenExp(dir, info));
    ASSERT_TRUE(service_->LogExpExit(nullptr));
    EXPECT_EQ(CountTamperTitles(dir), c.tampered ? 1 : 0);
    std::string html;
    for (const std::string& name : Documents(dir)) html += ReadFileBytes(dir + "/" + name);
    EXPECT_THAT(html, HasSubstr("<B>saved one</B>"));
    EXPECT_THAT(html, HasSubstr("<B>saved two</B>"));
    if (c.pendingLost) {
      EXPECT_THAT(html, Not(HasSubstr("<B>pending</B>")));
    } else {
      EXPECT_THAT(html, HasSubstr("<B>pending</B>"));
    }
    EXPECT_TRUE(TreeSnapshot(real, dir) == outside);
  }
  std::printf("io faults: %zu cases, %d failing system calls injected\n",
              sizeof(cases) / sizeof(cases[0]), hits);
}

}  // namespace
