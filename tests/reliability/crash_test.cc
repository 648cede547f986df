// SPDX-License-Identifier: Apache-2.0
// A host that logs and saves in a loop is killed with SIGKILL at random moments, again and again,
// over one experiment log; after every kill the test checks what the trail promises and
// reopens the log with the last info the host received, as a restarted host would.
//
// The host is a child of the test process (fork, no exec). It reports on a pipe, one line per
// event, written only after the call it reports has returned:
//   "O <0|1>"                 LogExpInit returned (the result)
//   "S <hash> <size> <id>"    LogExpSave or LogExpExit returned this info; every entry up to and
//                             including <id> was written before it
//   "F <id>"                  LogExpMsg of entry <id> failed (never expected)
//   "P"                       the run wrote all it writes and waits to be killed
//
// Each kill comes once the host has reported a number of lines, then after a short delay; both
// come from the seed. So what a campaign reaches (saved entries, a second document) is decided by
// the host's own progress, the same on a slow or busy machine as on a fast one; only the phase a
// kill hits within a call depends on the timing.
// Environment: GLPS_CRASH_KILLS (default 200) and GLPS_CRASH_SEED (default 20261210) reproduce or
// extend a run.
//
// The same campaign runs over a sealed log: after every kill each seal in the seal file still
// verifies under the verification key (only what was written after the last seal may be unsealed),
// and once the restarted host has saved, its seals cover the whole log again: the sealing key left
// by the kill sealed that save.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/host_fixture.h"
#include "support/log_reading.h"
#include "support/records.h"
#include "support/stored_records.h"
#include "support/tree_snapshot.h"

namespace {

using glps_test::CountTamperTitles;
using glps_test::Documents;
using glps_test::Experiment;
using glps_test::Fingerprint;
using glps_test::InfoOf;
using glps_test::LoadRecords;
using glps_test::ReadFileBytes;
using glps_test::TreeSnapshot;

constexpr std::uint64_t kIdsPerRun = 10000000;

std::uint64_t SplitMix(std::uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

// The message of entry `id`: its own number, then 20 to 999 letters and digits that only the number
// decides, so that the test knows every byte the entry must have in its document.
std::string Body(std::uint64_t id) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  char head[32];
  std::snprintf(head, sizeof(head), "E%llu:", static_cast<unsigned long long>(id));
  std::string body = head;
  std::uint64_t state = SplitMix(id);
  const std::size_t length = 20 + state % 980;
  while (body.size() < length) {
    state = SplitMix(state);
    body += kChars[state % (sizeof(kChars) - 1)];
  }
  return body;
}

void Send(int fd, const std::string& line) {
  const std::string text = line + "\n";
  // Shorter than PIPE_BUF: one write puts the whole line into the pipe, or nothing.
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) _exit(3);
}

std::string InfoLine(const KECGlpsLogInfo& info, std::uint64_t lastId) {
  return "S " + (info.m_strLogHash.empty() ? std::string("-") : info.m_strLogHash) + " " +
         std::to_string(info.m_nLogSize) + " " + std::to_string(lastId);
}

// Entries one run of the host writes at most; then it waits to be killed. Bounds the size of the
// log (and so the time the test takes) however fast the disk is.
constexpr std::uint64_t kMaxEntriesPerRun = 120;

// The host: opens the log with `info`, then logs a few entries, sometimes a metadata entity, and
// saves, over and over; now and then it exits the log and opens it again. Never returns.
[[noreturn]] void RunHost(const std::string& dir, KECGlpsLogInfo info, std::uint64_t firstId,
                          std::uint32_t seed, int fd) {
  KECGlpsServices* service = KECGlpsServices::Instance();
  std::mt19937 rng(seed);
  const auto open = [&]() {
    unsigned error = 0;
    bool opened = false;
    const bool ok = service->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), Experiment("Crash"),
                                        &error, &opened);
    Send(fd, ok ? "O 1" : "O 0");
  };
  open();
  std::uint64_t id = firstId;
  while (id - firstId < kMaxEntriesPerRun) {
    const unsigned entries = 1 + rng() % 6;
    for (unsigned i = 0; i < entries; ++i, ++id) {
      if (!service->LogExpMsg(Body(id))) Send(fd, "F " + std::to_string(id));
    }
    if (rng() % 4 == 0) {
      service->LogExpMetaDataEntity(KECGlpsLogMetaDataEntity(
          static_cast<Glps::ELogEntity>(1), static_cast<int>(id % 100), KCGenGUID(true)));
    }
    service->LogExpSave("", &info);
    Send(fd, InfoLine(info, id - 1));
    if (rng() % 16 == 0) {
      service->LogExpExit(&info);
      Send(fd, InfoLine(info, id - 1));
      open();
    }
  }
  Send(fd, "P");
  for (;;) pause();
}

// What the child reported before it died.
struct HostReport {
  bool openFailed = false;
  bool writeFailed = false;
  bool saved = false;  // at least one "S" line
  KECGlpsLogInfo info;
  std::uint64_t lastSavedId = 0;
};

void ParseLines(const std::string& text, HostReport* report) {
  std::istringstream in(text);
  std::string tag;
  while (in >> tag) {
    if (tag == "O") {
      int ok = 0;
      in >> ok;
      if (!ok) report->openFailed = true;
    } else if (tag == "S") {
      std::string hash;
      in >> hash >> report->info.m_nLogSize >> report->lastSavedId;
      report->info.m_strLogHash = hash == "-" ? std::string() : hash;
      report->saved = true;
    } else if (tag == "F") {
      std::string id;
      in >> id;
      report->writeFailed = true;
    }
  }
}

// Forks the host, kills it `delay` after it reported its `lines`-th line (at once when it waits to
// be killed), and returns what it reported.
HostReport RunAndKill(const std::string& dir, const KECGlpsLogInfo& info, std::uint64_t firstId,
                      std::uint32_t seed, int lines, std::chrono::microseconds delay,
                      bool* killedByUs) {
  int fds[2];
  HostReport report;
  if (pipe2(fds, O_CLOEXEC) != 0) {
    ADD_FAILURE() << "pipe";
    return report;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    RunHost(dir, info, firstId, seed, fds[1]);
  }
  close(fds[1]);
  if (pid < 0) {
    ADD_FAILURE() << "fork";
    close(fds[0]);
    return report;
  }
  std::string received;
  char buffer[4096];
  // However long the host takes to get there.
  bool waiting = false;
  while (std::count(received.begin(), received.end(), '\n') < lines && !waiting) {
    const ssize_t n = read(fds[0], buffer, sizeof(buffer));
    if (n <= 0) break;  // the host died on its own; waitpid tells
    received.append(buffer, static_cast<std::size_t>(n));
    waiting = received.find("P\n") != std::string::npos;
  }
  const auto deadline = std::chrono::steady_clock::now() + delay;
  while (!waiting) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() < 0) break;
    pollfd pfd{fds[0], POLLIN, 0};
    if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
      if (std::chrono::steady_clock::now() >= deadline) break;
      continue;
    }
    const ssize_t n = read(fds[0], buffer, sizeof(buffer));
    if (n <= 0) break;
    received.append(buffer, static_cast<std::size_t>(n));
  }
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
  *killedByUs = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
  // Whatever the host wrote before it died is in the pipe, in whole lines.
  for (ssize_t n; (n = read(fds[0], buffer, sizeof(buffer))) > 0;) {
    received.append(buffer, static_cast<std::size_t>(n));
  }
  close(fds[0]);
  ParseLines(received, &report);
  return report;
}

// What the directory holds after a kill, judged against the log.xml on disk, before anything opens
// the log again.
struct DiskState {
  bool logXmlPresent = false;
  bool logXmlLoads = false;
  bool infoMatches = false;
  int unsavedTails = 0;              // documents longer than their record, the recorded part intact
  int newerSidecars = 0;             // sidecars rewritten by a save whose log.xml was not written
  int halfSidecars = 0;              // sidecars that are not a complete archive
  std::vector<std::string> damaged;  // protected bytes that no longer match their record
};

DiskState Inspect(const std::string& dir, const KECGlpsLogInfo& lastInfo) {
  DiskState state;
  const std::string logXml = dir + "/log.xml";
  state.logXmlPresent = KCGenFileUtils::FileExists(logXml);
  state.infoMatches = InfoOf(logXml) == lastInfo;
  if (!state.logXmlPresent) return state;
  bool loaded = false;
  const std::vector<KECGlpsFileManagerData> records = LoadRecords(dir, &loaded);
  state.logXmlLoads = loaded;
  for (const KECGlpsFileManagerData& record : records) {
    if (!record.m_bHashed) continue;
    const std::string bytes = ReadFileBytes(dir + "/" + record.m_strFileName);
    const std::int64_t size = static_cast<std::int64_t>(bytes.size());
    const bool prefixIntact =
        size >= record.m_nSize && Fingerprint(bytes.substr(0, record.m_nSize)) == record.m_strHash;
    if (record.m_eType == Glps::FileMetaData) {
      const auto close = bytes.rfind("</boost_serialization>");
      if (close == std::string::npos ||
          bytes.find_first_not_of(" \r\n", close + 22) != std::string::npos) {
        ++state.halfSidecars;
      }
      if (!prefixIntact || size != record.m_nSize) ++state.newerSidecars;
    } else if (!prefixIntact) {
      state.damaged.push_back(record.m_strFileName);
    } else if (size > record.m_nSize) {
      ++state.unsavedTails;
    }
  }
  return state;
}

// Counts, over the registered documents' recorded bytes, every entry by id; an entry whose bytes
// differ from what its id decides counts as damaged.
void CountEntries(const std::string& dir, std::map<std::uint64_t, int>* counts, int* damaged) {
  bool loaded = false;
  for (const KECGlpsFileManagerData& record : LoadRecords(dir, &loaded)) {
    if (record.m_eType != Glps::FileLog) continue;
    const std::string html =
        ReadFileBytes(dir + "/" + record.m_strFileName).substr(0, record.m_nSize);
    for (auto at = html.find("<B>E"); at != std::string::npos; at = html.find("<B>E", at + 1)) {
      const std::uint64_t id = std::strtoull(html.c_str() + at + 4, nullptr, 10);
      const std::string expected = "<B>" + Body(id) + "</B>";
      if (html.compare(at, expected.size(), expected) != 0) ++*damaged;
      ++(*counts)[id];
    }
  }
}

int EnvInt(const char* name, int fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? std::atoi(value) : fallback;
}

// What the check of a sealed log's seals found that means a seal no longer verifies, as opposed to
// an unsealed tail: log.xml or a sidecar written after the last seal by the save the kill cut.
bool BreaksASeal(const KECGlpsAuditSealFinding& finding) {
  return finding.m_bFails && finding.m_eKind != Glps::eAuditSealLogXmlNotCovered &&
         !(finding.m_eKind == Glps::eAuditSealFileChanged &&
           glps_test::EndsWith(finding.m_strFile, ".xml"));
}

// The campaign over one log, sealed (set up after its first run) or not.
void CrashCampaign(bool sealed) {
  const int kills = EnvInt("GLPS_CRASH_KILLS", 200);
  const std::uint32_t seed = static_cast<std::uint32_t>(EnvInt("GLPS_CRASH_SEED", 20261210));
  glps_test::TempDir root;
  glps_test::PlantSentinels(root.path());
  const std::string dir = root / "log";
  ASSERT_EQ(mkdir(dir.c_str(), 0755), 0);
  glps_test::PrepareHost(root / "app", "tester");
  const TreeSnapshot outside(root.path(), dir);

  // A first document close to the size limit, so that the log starts its second document (and
  // writes its index pages) early in the run, however fast the disk lets the host write.
  KECGlpsLogInfo info;
  {
    KECGlpsServices* service = KECGlpsServices::Instance();
    ASSERT_TRUE(service->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), Experiment("Crash"),
                                    nullptr, nullptr));
    ASSERT_TRUE(service->LogExpMsg(std::string(1000000, 'p')));
    ASSERT_TRUE(service->LogExpExit(&info));
    KECGlpsServices::Destroy();
  }
  KECGlpsAuditRequest sealCheck;
  if (sealed) {
    std::string error;
    ASSERT_TRUE(KECGlpsSeal::Init(dir, &sealCheck.m_strSealKey, &error)) << error;
  }
  int brokenSeals = 0, unsealedAfterRestart = 0, unsealedTails = 0;

  std::mt19937 rng(seed);
  // Runs killed after more lines reach the host's saves and exits; those killed before its first
  // line hit the opening. The delay after the line spreads the kills over the call that follows.
  std::uniform_int_distribution<int> linesBeforeKill(0, 8);
  std::uniform_int_distribution<int> delayUs(0, 20000);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> savedRanges;  // [first, last] per run
  std::map<std::string, std::string> savedBytes;  // document -> bytes vouched for at last reopen

  int killed = 0, reopenFailures = 0, hostFailures = 0, logXmlBroken = 0, damagedFiles = 0;
  int tamperedReopens = 0, wrongTamper = 0, byInfo = 0, byTail = 0, bySidecar = 0;
  int halfSidecars = 0;
  std::uint64_t lost = 0, damagedEntries = 0, duplicated = 0, changedBytes = 0, savedTotal = 0;
  const auto start = std::chrono::steady_clock::now();

  for (int run = 0; run < kills; ++run) {
    const std::uint64_t firstId = (run + 1) * kIdsPerRun;
    bool killedByUs = false;
    const std::uint32_t hostSeed = rng();
    const int lines = linesBeforeKill(rng);
    const HostReport report = RunAndKill(dir, info, firstId, hostSeed, lines,
                                         std::chrono::microseconds(delayUs(rng)), &killedByUs);
    if (killedByUs) ++killed;
    if (!killedByUs || report.openFailed || report.writeFailed) ++hostFailures;
    if (report.saved) {
      info = report.info;
      if (report.lastSavedId >= firstId) savedRanges.emplace_back(firstId, report.lastSavedId);
    }

    const DiskState state = Inspect(dir, info);
    if (state.logXmlPresent ? !state.logXmlLoads : info.IsValid()) ++logXmlBroken;
    damagedFiles += static_cast<int>(state.damaged.size());
    halfSidecars += state.halfSidecars;
    const bool tamperDue = !state.infoMatches || state.unsavedTails > 0 || state.newerSidecars > 0;
    byInfo += !state.infoMatches;
    byTail += state.unsavedTails > 0;
    bySidecar += state.newerSidecars > 0;
    if (sealed) {
      const KECGlpsAuditReport killedReport = KECGlpsAudit::Verify(dir, sealCheck);
      unsealedTails += !killedReport.m_seal.m_bLogXmlCovered;
      for (const KECGlpsAuditSealFinding& finding : killedReport.m_seal.m_vFindings) {
        if (!BreaksASeal(finding)) continue;
        ++brokenSeals;
        ADD_FAILURE() << "run " << run << ": " << KECGlpsAudit::SealFindingKindName(finding.m_eKind)
                      << ": " << finding.m_strFile << ": " << finding.m_strText;
      }
    }

    // Reopen as the restarted host does, with the last info it received, and close again.
    KECGlpsServices* service = KECGlpsServices::Instance();
    const int titlesBefore = CountTamperTitles(dir);
    unsigned error = 0;
    bool opened = false;
    if (!service->LogExpInit(dir, true, info, KECGlpsLogInfoCrash(), Experiment("Crash"), &error,
                             &opened) ||
        error != 0) {
      ++reopenFailures;
    }
    KECGlpsLogInfo closed;
    if (!service->LogExpExit(&closed) || closed != InfoOf(dir + "/log.xml")) ++reopenFailures;
    info = closed;
    KECGlpsServices::Destroy();
    if (sealed) {
      const KECGlpsAuditReport restarted = KECGlpsAudit::Verify(dir, sealCheck);
      if (!restarted.m_seal.IsIntact() || !restarted.m_seal.m_bLogXmlCovered) {
        ++unsealedAfterRestart;
        ADD_FAILURE() << "run " << run << ": after the restart " << restarted.m_seal.Summary();
      }
    }
    const int titles = CountTamperTitles(dir) - titlesBefore;
    if (titles == 1) ++tamperedReopens;
    if (titles != (tamperDue ? 1 : 0)) {
      ++wrongTamper;
      ADD_FAILURE() << "run " << run << ": " << titles << " tamper titles; due: " << tamperDue;
    }

    // Every byte vouched for at the last reopen is still there, and every entry saved before the
    // last info the host received is in its document once, byte for byte.
    for (const auto& [name, bytes] : savedBytes) {
      if (ReadFileBytes(dir + "/" + name).compare(0, bytes.size(), bytes) != 0) ++changedBytes;
    }
    std::map<std::uint64_t, int> counts;
    int damaged = 0;
    CountEntries(dir, &counts, &damaged);
    damagedEntries += damaged;
    savedTotal = 0;
    for (const auto& [first, last] : savedRanges) {
      for (std::uint64_t id = first; id <= last; ++id, ++savedTotal) {
        const auto it = counts.find(id);
        if (it == counts.end()) ++lost;
      }
    }
    for (const auto& [id, count] : counts) duplicated += count > 1;
    bool loaded = false;
    savedBytes.clear();
    for (const KECGlpsFileManagerData& record : LoadRecords(dir, &loaded)) {
      if (record.m_eType == Glps::FileLog) {
        savedBytes[record.m_strFileName] = ReadFileBytes(dir + "/" + record.m_strFileName);
      }
    }
    if (!(TreeSnapshot(root.path(), dir) == outside)) {
      ADD_FAILURE() << "run " << run << ": something outside the log directory changed";
      break;
    }
    if (lost > 0 || changedBytes > 0 || damagedFiles > 0 || logXmlBroken > 0 || brokenSeals > 0 ||
        unsealedAfterRestart > 0) {
      ADD_FAILURE() << "run " << run << " broke the log; stopping";
      break;
    }
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::uint64_t bytes = 0;
  for (const std::string& name : Documents(dir)) bytes += ReadFileBytes(dir + "/" + name).size();
  // Left behind by kills, inside the log directory: documents started by an opening whose log.xml
  // was never written (never emptied or reused later), and temporary files of interrupted saves.
  bool loaded = false;
  std::set<std::string> registered;
  for (const KECGlpsFileManagerData& record : LoadRecords(dir, &loaded)) {
    registered.insert(record.m_strFileName);
  }
  int orphans = 0, temporaries = 0;
  for (const std::string& name : glps_test::ListDirectory(dir)) {
    if (name.find(".tmp-") != std::string::npos)
      ++temporaries;
    else if (name != "log.xml" && name != KECGlpsSeal::SealFileName() &&
             name != KECGlpsSeal::KeyFileName() && registered.count(name) == 0)
      ++orphans;
  }
  if (sealed) {
    std::printf(
        "sealed: %d kills left log.xml unsealed until the restart; %d broken seals, %d "
        "restarts not sealed\n",
        unsealedTails, brokenSeals, unsealedAfterRestart);
  }
  std::printf(
      "crash loop: seed %u, %d kills, %d reopen failures, %d host failures, %llu saved entries, "
      "%llu lost, %llu damaged, %llu duplicated, %llu changed documents, %d log.xml not loading, "
      "%d damaged files, %d half sidecars; %d reopens tampered (%d by info, %d by unsaved tail, "
      "%d by sidecar), %d wrong tamper reports; %zu documents, %llu bytes; left behind: %d "
      "unregistered files, %d temporary files; %.1f s\n",
      seed, killed, reopenFailures, hostFailures, static_cast<unsigned long long>(savedTotal),
      static_cast<unsigned long long>(lost), static_cast<unsigned long long>(damagedEntries),
      static_cast<unsigned long long>(duplicated), static_cast<unsigned long long>(changedBytes),
      logXmlBroken, damagedFiles, halfSidecars, tamperedReopens, byInfo, byTail, bySidecar,
      wrongTamper, Documents(dir).size(), static_cast<unsigned long long>(bytes), orphans,
      temporaries, seconds);

  EXPECT_EQ(killed, kills);
  EXPECT_EQ(reopenFailures, 0);
  EXPECT_EQ(hostFailures, 0);
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(damagedEntries, 0u);
  EXPECT_EQ(duplicated, 0u);
  EXPECT_EQ(changedBytes, 0u);
  EXPECT_EQ(logXmlBroken, 0);
  EXPECT_EQ(damagedFiles, 0);
  EXPECT_EQ(halfSidecars, 0);
  EXPECT_EQ(wrongTamper, 0);
  EXPECT_GT(savedTotal, 0u);
  EXPECT_GE(Documents(dir).size(), 2u);
  EXPECT_EQ(brokenSeals, 0);
  EXPECT_EQ(unsealedAfterRestart, 0);
  glps_test::ReleaseHost();
}

TEST(CrashLoop, KilledHostLosesNoSavedEntryAndTamperIsReportedOnlyWhereDue) {
  CrashCampaign(false);
}

TEST(CrashLoop, KilledHostOfASealedLogLeavesSealsThatVerifyAndAKeyThatSealsOn) {
  CrashCampaign(true);
}

}  // namespace
