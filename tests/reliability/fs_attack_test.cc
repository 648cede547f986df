// SPDX-License-Identifier: Apache-2.0
// Attacks through the file system by someone who can read and write a log directory's files with an
// account of their own, while the host runs: locks, swapped and re-pointed files, links, read-only
// files, races. Each test performs the attack and shows what the library does instead of what the
// attacker wanted. Raced attacks are repeated a bounded number of times.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "reliability/reliability_support.h"
#include "session/log_session.h"

namespace {

using glps_test::CountTamperTitles;
using glps_test::InfoOf;
using glps_test::ReadFileBytes;
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
  int tampered = 0;
  int forgedAccepted = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  int tries = 0;
  for (; tries < 2000 && std::chrono::steady_clock::now() < end; ++tries) {
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
  std::printf("log.xml swap race: %d openings, %d tampered, %d forged copies accepted\n", tries,
              tampered, forgedAccepted);
}

}  // namespace
