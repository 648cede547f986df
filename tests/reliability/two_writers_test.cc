// SPDX-License-Identifier: Apache-2.0
// Two processes open the same experiment log. The first (a child process) holds it and keeps
// working; the second (the test process) is refused, and nothing it tries changes the log. Once the
// first has exited, the second opens the log with the first's info, untampered.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <sstream>
#include <string>

#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/stored_records.h"
#include "support/tree_snapshot.h"

namespace {

using glps_test::CountTamperTitles;
using glps_test::Documents;
using glps_test::Experiment;
using glps_test::InfoOf;
using glps_test::ReadFileBytes;
using glps_test::TreeSnapshot;
using ::testing::HasSubstr;

const Glps::ELogEntity kEntityType = static_cast<Glps::ELogEntity>(4);

void SendInfo(int fd, const KECGlpsLogInfo& info) {
  const std::string line = info.m_strLogHash + " " + std::to_string(info.m_nLogSize) + "\n";
  if (write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(3);
}

KECGlpsLogInfo ReceiveInfo(int fd) {
  std::string line;
  char c;
  while (read(fd, &c, 1) == 1 && c != '\n') line += c;
  KECGlpsLogInfo info;
  std::istringstream(line) >> info.m_strLogHash >> info.m_nLogSize;
  return info;
}

// The first writer: opens the log, logs `fill` bytes of filler and three entries, saves, logs one
// more entry without saving and reports its info; waits for a byte on `in`; then logs, adds an
// entity, exits the log and reports the info it received.
[[noreturn]] void RunFirstWriter(const std::string& dir, std::size_t fill, int out, int in) {
  KECGlpsServices* service = KECGlpsServices::Instance();
  bool ok = service->LogExpInit(dir, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                                Experiment("Shared"), nullptr, nullptr);
  const std::string filler(200, 'f');
  for (std::size_t written = 0; written < fill; written += filler.size()) {
    ok = service->LogExpMsg(filler) && ok;
  }
  for (const char* text : {"first one", "first two", "first three"}) {
    ok = service->LogExpMsg(text) && ok;
  }
  KECGlpsLogInfo info;
  ok = service->LogExpSave("", &info) && ok;
  ok = service->LogExpMsg("first unsaved while the second opens") && ok;
  SendInfo(out, info);
  char go;
  if (read(in, &go, 1) != 1) _exit(4);
  ok = service->LogExpMsg("first after the second tried") && ok;
  ok = service->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(kEntityType, 9, KCGenGUID(true))) &&
       ok;
  ok = service->LogExpExit(&info) && ok;
  SendInfo(out, info);
  _exit(ok ? 0 : 5);
}

class TwoWritersTest : public glps_test::HostTest {};

TEST_F(TwoWritersTest, SecondWriterIsRefusedAndChangesNothing) {
  struct Case {
    const char* what;
    std::size_t fill;
  };
  // Past 1 MiB the second writer's opening would start a new document of its own.
  const Case cases[] = {{"current document below the size limit", 0},
                        {"current document past the size limit", 1100000}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    glps_test::TempDir root;
    glps_test::PlantSentinels(root.path());
    const std::string dir = root / "log";
    ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
    glps_test::WriteFileBytes(dir + "/data.csv", "x,y\n");

    int toParent[2], toChild[2];
    ASSERT_EQ(pipe2(toParent, O_CLOEXEC), 0);
    ASSERT_EQ(pipe2(toChild, O_CLOEXEC), 0);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) RunFirstWriter(dir, c.fill, toParent[1], toChild[0]);
    close(toParent[1]);
    close(toChild[0]);

    const KECGlpsLogInfo firstSaved = ReceiveInfo(toParent[0]);
    ASSERT_TRUE(firstSaved.IsValid());
    const TreeSnapshot before(root.path(), "");

    // The second writer, with the info the first handed out: refused, and every operation a host
    // might still try fails or changes nothing on disk.
    unsigned error = 0;
    bool opened = false;
    EXPECT_FALSE(service_->LogExpInit(dir, true, firstSaved, KECGlpsLogInfoCrash(),
                                      Experiment("Shared"), &error, &opened));
    EXPECT_EQ(error, glps_test::kErrorUnusable);
    EXPECT_TRUE(opened);
    EXPECT_FALSE(service_->LogExpMsg("second"));
    service_->LogExpLink("data.csv");
    service_->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(kEntityType, 1, KCGenGUID(true)));
    KECGlpsLogInfo info = firstSaved;
    EXPECT_FALSE(service_->LogExpSave("", &info));
    EXPECT_EQ(info, firstSaved);
    EXPECT_FALSE(service_->ClearLogExp());
    EXPECT_FALSE(service_->LogExpExit(&info));
    EXPECT_EQ(info, firstSaved);
    EXPECT_TRUE(TreeSnapshot(root.path(), "") == before) << "the second writer changed files";

    // The first keeps working and exits normally.
    ASSERT_EQ(write(toChild[1], "c", 1), 1);
    const KECGlpsLogInfo firstExit = ReceiveInfo(toParent[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    close(toParent[0]);
    close(toChild[1]);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the first writer saw a failure";
    EXPECT_EQ(firstExit, InfoOf(dir + "/log.xml"));

    // Now the second opens it with the first's info: untampered, everything the first wrote.
    error = 0;
    ASSERT_TRUE(service_->LogExpInit(dir, true, firstExit, KECGlpsLogInfoCrash(),
                                     Experiment("Shared"), &error, &opened));
    EXPECT_EQ(error, 0u);
    EXPECT_EQ(service_->GetLogExpMetaDataEntity(kEntityType, 9).size(), 1u);
    EXPECT_TRUE(service_->GetLogExpMetaDataEntity(kEntityType, 1).empty());
    EXPECT_TRUE(service_->LogExpMsg("second, after the first"));
    ASSERT_TRUE(service_->LogExpExit(&info));
    EXPECT_EQ(CountTamperTitles(dir), 0);
    std::string html;
    for (const std::string& name : Documents(dir)) html += ReadFileBytes(dir + "/" + name);
    for (const char* text : {"first one", "first three", "first unsaved while the second opens",
                             "first after the second tried", "second, after the first"}) {
      EXPECT_THAT(html, HasSubstr(std::string("<B>") + text + "</B>"));
    }
    EXPECT_THAT(html, ::testing::Not(HasSubstr("<B>second</B>")));
  }
}

}  // namespace
