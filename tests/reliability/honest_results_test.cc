// SPDX-License-Identifier: Apache-2.0
// Results that tell the truth: the info a host is handed after a save or an exit is that of the
// log.xml on disk whatever the result, and a refused experiment leaves the log opened before as it
// was.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <functional>
#include <string>

#include "platform/platform_syscalls.h"
#include "session/log_session.h"
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
using glps_test::ReadFileBytes;
using ::testing::HasSubstr;

class HonestResultsTest : public glps_test::HostTest {
 protected:
  void TearDown() override {
    glps::platform::RestoreSysCalls();
    HostTest::TearDown();
  }
  std::string Dir() const { return tmp_ / "log"; }

  // A log saved twice; returns the info of the first save in `older` and of the last.
  KECGlpsLogInfo MakeLog(const std::string& dir, KECGlpsLogInfo* older) {
    mkdir(dir.c_str(), 0755);
    KECGlpsLogInfo info;
    EXPECT_TRUE(OpenExp(dir, info));
    EXPECT_TRUE(service_->LogExpMsg("first"));
    EXPECT_TRUE(service_->LogExpSave("", older));
    EXPECT_TRUE(service_->LogExpMsg("second"));
    EXPECT_TRUE(service_->LogExpExit(&info));
    return info;
  }
};

// A session that is not valid writes nothing, and hands back the info of the log.xml on disk, not
// the info the host came with: a read-only log.xml opened with an older info, and a log that
// another writer holds and saves meanwhile. The same for the application log.
TEST_F(HonestResultsTest, ASessionThatIsNotValidHandsBackTheInfoOnDisk) {
  {
    SCOPED_TRACE("read-only log.xml");
    KECGlpsLogInfo older;
    const KECGlpsLogInfo last = MakeLog(Dir(), &older);
    ASSERT_NE(older, last);
    ASSERT_EQ(chmod((Dir() + "/log.xml").c_str(), 0444), 0);
    unsigned error = 0;
    EXPECT_FALSE(OpenExp(Dir(), older, &error));
    EXPECT_EQ(error, glps_test::kErrorUnusable);
    KECGlpsLogInfo info = older;
    EXPECT_FALSE(service_->LogExpSave("", &info));
    EXPECT_EQ(info, last);
    info = older;
    EXPECT_FALSE(service_->LogExpExit(&info));
    EXPECT_EQ(info, last);
    EXPECT_EQ(InfoOf(Dir() + "/log.xml"), last);
    ASSERT_EQ(chmod((Dir() + "/log.xml").c_str(), 0644), 0);
  }
  {
    SCOPED_TRACE("another writer holds the log");
    const std::string dir = tmp_ / "held";
    KECGlpsLogInfo older;
    const KECGlpsLogInfo last = MakeLog(dir, &older);
    KECGlpsLogInfo info = last;
    {
      KECGlpsLogSession holder(dir, "GLP-Log-Exp", "Exp", last);
      ASSERT_TRUE(holder.IsValid());
      unsigned error = 0;
      EXPECT_FALSE(OpenExp(dir, last, &error));
      EXPECT_EQ(error, glps_test::kErrorUnusable);
      ASSERT_TRUE(holder.WriteText("<B>the holder's entry</B>"));
      ASSERT_TRUE(holder.Save());
      EXPECT_FALSE(service_->LogExpSave("", &info));
      EXPECT_EQ(info, holder.GetLogInfo());
      EXPECT_EQ(info, InfoOf(dir + "/log.xml"));
      ASSERT_TRUE(holder.Close());
      info = last;
      EXPECT_FALSE(service_->LogExpExit(&info));
      EXPECT_EQ(info, holder.GetLogInfo());
    }
    // The holder's log goes on, untampered, with the info the refused host was handed.
    ASSERT_TRUE(OpenExp(dir, info));
    ASSERT_TRUE(service_->LogExpExit(nullptr));
    EXPECT_EQ(CountTamperTitles(dir), 0);
  }
  {
    SCOPED_TRACE("read-only application log");
    KECGlpsLogInfo info;
    ASSERT_TRUE(service_->LogAppInit(info));
    ASSERT_TRUE(service_->LogAppExit(&info));
    const KECGlpsLogInfo older = info;
    ASSERT_TRUE(service_->LogAppInit(info));
    ASSERT_TRUE(service_->LogAppExit(&info));
    ASSERT_EQ(chmod((AppDir() + "/log.xml").c_str(), 0444), 0);
    EXPECT_FALSE(service_->LogAppInit(older));
    KECGlpsLogInfo handed = older;
    EXPECT_FALSE(service_->LogAppExit(&handed));
    EXPECT_EQ(handed, info);
  }
}

// The experiment opened before a refused one stays open with its unsaved entries; the host's next
// exit saves it, and it opens again untampered with everything in it.
TEST_F(HonestResultsTest, ARefusedExperimentLeavesTheLogOpenedBeforeAsItWas) {
  mkdir(Dir().c_str(), 0755);
  ASSERT_TRUE(OpenExp(Dir(), KECGlpsLogInfo()));
  ASSERT_TRUE(service_->LogExpMsg("before the refusal, unsaved"));
  const std::string other = tmp_ / "other";
  mkdir(other.c_str(), 0755);
  KECGlpsLogInfoExperiment old = glps_test::Experiment("Old");
  old.m_bExtra = true;
  old.m_nVersion = 399;
  unsigned error = 0;
  bool opened = false;
  EXPECT_FALSE(service_->LogExpInit(other, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(), old,
                                    &error, &opened));
  EXPECT_EQ(error, 0xE02A2712u);
  EXPECT_FALSE(opened);
  EXPECT_EQ(service_->GetLogExpDirectory(), Dir());
  EXPECT_TRUE(service_->LogExpMsg("after the refusal"));
  KECGlpsLogInfo info;
  ASSERT_TRUE(service_->LogExpExit(&info));
  EXPECT_TRUE(ListDirectory(other).empty());

  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(CountTamperTitles(Dir()), 0);
  const std::string html = ReadFileBytes(Dir() + "/" + Documents(Dir()).front());
  EXPECT_THAT(html, HasSubstr("before the refusal, unsaved"));
  EXPECT_THAT(html, HasSubstr("after the refusal"));
}

std::string g_failingPath;

int FsyncFailingFor(int fd) {
  char buffer[4096];
  const ssize_t n =
      readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), buffer, sizeof(buffer));
  if (n > 0 && std::string(buffer, static_cast<std::size_t>(n)) == g_failingPath) {
    errno = EIO;
    return -1;
  }
  return ::fsync(fd);
}

// A save can fail after it wrote log.xml (here the document's fsync fails): the result is false,
// and the info handed over is the new one. The host that keeps it opens the log untampered; a host
// that kept its old info on false would get a tamper entry.
TEST_F(HonestResultsTest, AFalseSaveHandsOverTheInfoOfTheLogXmlItWrote) {
  KECGlpsLogInfo older;
  const KECGlpsLogInfo saved = MakeLog(Dir(), &older);
  ASSERT_TRUE(OpenExp(Dir(), saved));
  ASSERT_TRUE(service_->LogExpMsg("third"));
  g_failingPath = Dir() + "/" + Documents(Dir()).front();
  glps::platform::CurrentSysCalls().fsync = &FsyncFailingFor;
  glps::platform::CurrentSysCalls().fdatasync = &FsyncFailingFor;
  KECGlpsLogInfo info = saved;
  EXPECT_FALSE(service_->LogExpSave("", &info));
  glps::platform::RestoreSysCalls();
  EXPECT_NE(info, saved);
  EXPECT_EQ(info, InfoOf(Dir() + "/log.xml"));
  // The service is gone without another save, as after a crash.
  KECGlpsServices::Destroy();
  service_ = KECGlpsServices::Instance();

  const std::string copy = tmp_ / "copy";
  std::filesystem::copy(Dir(), copy);
  ASSERT_TRUE(OpenExp(Dir(), info));
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(CountTamperTitles(Dir()), 0);
  EXPECT_THAT(ReadFileBytes(Dir() + "/" + Documents(Dir()).front()), HasSubstr("third"));
  ASSERT_TRUE(OpenExp(copy, saved));
  ASSERT_TRUE(service_->LogExpExit(nullptr));
  EXPECT_EQ(CountTamperTitles(copy), 1) << "the old info kept after a false result";
}

}  // namespace
