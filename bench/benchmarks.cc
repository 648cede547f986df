// SPDX-License-Identifier: Apache-2.0
// The benchmarks, each next to the baseline it is compared with in the same run.
#include <fcntl.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "glps/glps.h"
#include "platform/platform.h"
#include "platform/platform_syscalls.h"
#include "support/records.h"

extern char** environ;

namespace glps_bench {

const char kMessage[] = "Sample S-0042 weighed: 12.34567 g on balance B-07 (checked).";
static_assert(sizeof(kMessage) - 1 == 60, "the typical message has 60 bytes");

namespace {

// --- Helpers ------------------------------------------------------------------------------------

// The three report-item texts of one message entry, as the service renders them (a six-digit
// message number, as after a few hundred thousand messages).
std::vector<std::string> MessageItems() {
  KCGenTime time(true);
  std::string date, timeOfDay, user;
  time.DateString(&date);
  time.TimeString(&timeOfDay, false);
  KCGenUserInfo::Instance()->GetCurrentUserName(&user);
  const std::string prefix = "123456" + Glps::g_strSeparator + date + Glps::g_strSeparator +
                             timeOfDay + Glps::g_strSeparator + user + Glps::g_strSeparator;
  return {KCRptRepItNormal(prefix, false, false, false).GetHtml(),
          KCRptRepItNormal(kMessage, true, false, false).GetHtml(), KCRptRepItNewLine(1).GetHtml()};
}

// What went through the platform unit's open and read while counting, by kind of file.
enum FileKind { kDocument, kSidecar, kLogXml, kOther, kKinds };
struct ReadCount {
  std::uint64_t bytes[kKinds] = {};
  std::uint64_t calls = 0;
};
ReadCount g_reads;
FileKind g_fdKind[4096];
glps::platform::SysCalls g_realCalls;

bool EndsWith(const char* text, const char* tail) {
  const std::size_t n = std::strlen(text), m = std::strlen(tail);
  return n >= m && std::strcmp(text + n - m, tail) == 0;
}

int CountingOpen(int dirfd, const char* path, int flags, mode_t mode) {
  const int fd = g_realCalls.openat(dirfd, path, flags, mode);
  if (fd >= 0 && fd < 4096) {
    g_fdKind[fd] = std::strcmp(path, "log.xml") == 0 || EndsWith(path, "/log.xml") ? kLogXml
                   : EndsWith(path, ".xml")                                        ? kSidecar
                   : EndsWith(path, ".html")                                       ? kDocument
                                                                                   : kOther;
  }
  return fd;
}

ssize_t CountingRead(int fd, void* buffer, size_t count) {
  const ssize_t n = g_realCalls.read(fd, buffer, count);
  if (n > 0) g_reads.bytes[fd >= 0 && fd < 4096 ? g_fdKind[fd] : kOther] += n;
  ++g_reads.calls;
  return n;
}

// Bytes this process has read through read(2) and friends, from /proc/self/io.
std::uint64_t ProcessReadBytes() {
  std::ifstream in("/proc/self/io");
  std::string key;
  std::uint64_t value = 0;
  while (in >> key >> value) {
    if (key == "rchar:") return value;
  }
  return 0;
}

// Runs a command with its output thrown away; true when it exited with 0. Adds the CPU time the
// command took (user and system) to *cpuSeconds.
bool RunQuiet(const std::vector<std::string>& argv, double* cpuSeconds) {
  ChildRun run;
  if (!RunChild(argv, &run)) return false;
  *cpuSeconds += run.cpu;
  return run.exitStatus == 0;
}

// Runs this program as the peak-memory child on `log`; its VmHWM in KiB, or -1.
long PeakRssOfChild(const LogFixture& log, long messages) {
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return -1;
  const std::string size = std::to_string(log.info.m_nLogSize);
  const std::string count = std::to_string(messages);
  std::vector<std::string> argv = {"/proc/self/exe",      kChildFlag, log.directory, log.experiment,
                                   log.info.m_strLogHash, size,       count};
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
  posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  pid_t pid = 0;
  const int rc = posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipeFds[1]);
  std::string out;
  char buffer[256];
  ssize_t n;
  while (rc == 0 && (n = read(pipeFds[0], buffer, sizeof buffer)) > 0) out.append(buffer, n);
  close(pipeFds[0]);
  if (rc != 0) return -1;
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return std::strtol(out.c_str(), nullptr, 10);
}

// The last document of a fixture, which logging appends to.
std::string LastDocument(const LogFixture& log) {
  return log.protectedFiles[log.protectedFiles.size() - 2];
}

// --- 1 and 2: logging ---------------------------------------------------------------------------

// LogExpMsg of the typical message into a log of state.range(0) documents.
void BM_LogExpMsg(benchmark::State& state) {
  const unsigned documents = static_cast<unsigned>(state.range(0));
  const LogFixture log = MakeLog(Scratch() + "/logging-" + std::to_string(documents), "Logging",
                                 documents, 4 * kKiB, 4 * kKiB);
  if (!OpenExperimentLog(log)) {
    state.SkipWithError("the log did not open");
    return;
  }
  KECGlpsServices* service = KECGlpsServices::Instance();
  for (auto _ : state) {
    if (!service->LogExpMsg(kMessage)) {
      state.SkipWithError("LogExpMsg failed");
      break;
    }
  }
  KECGlpsServices::Destroy();
  RemoveTree(log.directory);
  state.SetItemsProcessed(state.iterations());
  state.counters["records"] = static_cast<double>(log.records);
}

// The limit of the above: the same three writes per message to one file, each followed by the
// MD5 update and one fingerprint read (Base64 of a finalised copy of the running digest).
void BM_RawLimit(benchmark::State& state) {
  const std::string path = Scratch() + "/raw-limit.html";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const std::vector<std::string> items = MessageItems();
  EVP_MD_CTX* running = EVP_MD_CTX_new();
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  EVP_DigestInit_ex(running, EVP_md5(), nullptr);
  std::string fingerprint;
  std::int64_t size = 0;
  for (auto _ : state) {
    for (const std::string& item : items) {
      if (write(fd, item.data(), item.size()) != static_cast<ssize_t>(item.size())) {
        state.SkipWithError("write failed");
        break;
      }
      EVP_DigestUpdate(running, item.data(), item.size());
      unsigned char digest[EVP_MAX_MD_SIZE];
      unsigned int length = 0;
      EVP_MD_CTX_copy_ex(copy, running);
      EVP_DigestFinal_ex(copy, digest, &length);
      unsigned char text[32];
      const int textLength = EVP_EncodeBlock(text, digest, static_cast<int>(length));
      fingerprint.assign(reinterpret_cast<const char*>(text), static_cast<std::size_t>(textLength));
      size += static_cast<std::int64_t>(item.size());
      benchmark::DoNotOptimize(fingerprint);
      benchmark::DoNotOptimize(size);
    }
  }
  EVP_MD_CTX_free(copy);
  EVP_MD_CTX_free(running);
  close(fd);
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations());
}

// The limit of one entry written whole: the entry's bytes (the three report items' texts) in one
// write to one file, then the MD5 update and, with `fingerprint`, one fingerprint read; nothing
// else. Without the fingerprint read it is the floor of any tamper-evident logger that writes each
// entry once: the write and the digest of its bytes.
void OneWrite(benchmark::State& state, bool fingerprint) {
  const std::string path = Scratch() + "/one-write-limit.html";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const std::vector<std::string> items = MessageItems();
  const std::string entry = items[0] + items[1] + items[2];
  EVP_MD_CTX* running = EVP_MD_CTX_new();
  EVP_MD_CTX* copy = EVP_MD_CTX_new();
  EVP_DigestInit_ex(running, EVP_md5(), nullptr);
  std::string text;
  std::int64_t size = 0;
  for (auto _ : state) {
    if (write(fd, entry.data(), entry.size()) != static_cast<ssize_t>(entry.size())) {
      state.SkipWithError("write failed");
      break;
    }
    EVP_DigestUpdate(running, entry.data(), entry.size());
    if (fingerprint) {
      unsigned char digest[EVP_MAX_MD_SIZE];
      unsigned int length = 0;
      EVP_MD_CTX_copy_ex(copy, running);
      EVP_DigestFinal_ex(copy, digest, &length);
      unsigned char encoded[32];
      const int textLength = EVP_EncodeBlock(encoded, digest, static_cast<int>(length));
      text.assign(reinterpret_cast<const char*>(encoded), static_cast<std::size_t>(textLength));
      benchmark::DoNotOptimize(text);
    }
    size += static_cast<std::int64_t>(entry.size());
    benchmark::DoNotOptimize(size);
  }
  EVP_MD_CTX_free(copy);
  EVP_MD_CTX_free(running);
  close(fd);
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations());
}

void BM_OneWriteLimit(benchmark::State& state) { OneWrite(state, true); }
void BM_WriteAndDigest(benchmark::State& state) { OneWrite(state, false); }

// The part of LogExpMsg that the floor above does not do: the message prefix made from the host's
// clock, time texts and user name, and the HTML of the three report items joined into the entry,
// as the service composes it (storage kept from entry to entry). No file is touched.
void BM_MessageComposition(benchmark::State& state) {
  long number = 0;
  std::string prefix, element, entry;
  for (auto _ : state) {
    prefix.clear();
    prefix += Gen::convert2str(++number);
    prefix += Glps::g_strSeparator;
    KCGenTime time(false);
    KCTimeMasterClock::Instance()->GetTimeStamp(&time, false);
    time.DateString(&element);
    prefix += element;
    prefix += Glps::g_strSeparator;
    time.TimeString(&element, false);
    prefix += element;
    prefix += Glps::g_strSeparator;
    KCGenUserInfo::Instance()->GetCurrentUserName(&element);
    prefix += element;
    prefix += Glps::g_strSeparator;
    entry.clear();
    entry += KCRptRepItNormal(prefix, false, false, false).GetHtml();
    entry += KCRptRepItNormal(kMessage, true, false, false).GetHtml();
    entry += KCRptRepItNewLine(1).GetHtml();
    benchmark::DoNotOptimize(entry);
  }
  state.SetItemsProcessed(state.iterations());
}

// A plain logger: the entry's bytes in one write, and no fingerprint.
void BM_PlainLogger(benchmark::State& state) {
  const std::string path = Scratch() + "/plain-logger.html";
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const std::vector<std::string> items = MessageItems();
  const std::string entry = items[0] + items[1] + items[2];
  for (auto _ : state) {
    if (write(fd, entry.data(), entry.size()) != static_cast<ssize_t>(entry.size())) {
      state.SkipWithError("write failed");
      break;
    }
  }
  close(fd);
  unlink(path.c_str());
  state.SetItemsProcessed(state.iterations());
}

// --- 3: opening ---------------------------------------------------------------------------------

// LogExpInit of the untampered 256 MiB log. Each opening replaces the session of the one before,
// unsaved, so the log on disk stays as it was.
void BM_OpenLog(benchmark::State& state) {
  const LogFixture& log = LargeLog();
  // One opening with every read counted, before the timed ones. Reads that do not go through the
  // platform unit are the rest of the process's.
  {
    glps::platform::SysCalls& calls = glps::platform::CurrentSysCalls();
    g_realCalls = calls;
    calls.openat = &CountingOpen;
    calls.read = &CountingRead;
    g_reads = ReadCount();
    const std::uint64_t before = ProcessReadBytes();
    const bool opened = OpenExperimentLog(log);
    const std::uint64_t all = ProcessReadBytes() - before;
    glps::platform::RestoreSysCalls();
    KECGlpsServices::Destroy();
    if (!opened) {
      state.SkipWithError("the log did not open");
      return;
    }
    std::uint64_t platform = 0;
    for (std::uint64_t bytes : g_reads.bytes) platform += bytes;
    const double documentBytes = static_cast<double>(log.documentBytes);
    const double sidecarBytes = static_cast<double>(log.protectedBytes - log.documentBytes);
    state.counters["document_reads"] =
        static_cast<double>(g_reads.bytes[kDocument]) / documentBytes;
    state.counters["sidecar_reads"] = static_cast<double>(g_reads.bytes[kSidecar]) / sidecarBytes;
    state.counters["log_xml_reads"] =
        static_cast<double>(g_reads.bytes[kLogXml] + (all - platform)) /
        static_cast<double>(log.logXmlBytes);
    state.counters["other_read_KiB"] = static_cast<double>(g_reads.bytes[kOther]) / kKiB;
    state.counters["read_calls"] = static_cast<double>(g_reads.calls);
  }
  for (auto _ : state) {
    if (!OpenExperimentLog(log)) {
      state.SkipWithError("the log did not open");
      break;
    }
  }
  KECGlpsServices::Destroy();
  state.SetBytesProcessed(state.iterations() * log.protectedBytes);
  state.counters["protected_MiB"] = static_cast<double>(log.protectedBytes) / kMiB;
  state.counters["log_xml_KiB"] = static_cast<double>(log.logXmlBytes) / kKiB;
}

// The limit: `openssl dgst -md5` of the same protected files.
void BM_OpensslDgst(benchmark::State& state) {
  const LogFixture& log = LargeLog();
  std::vector<std::string> argv = {"openssl", "dgst", "-md5"};
  argv.insert(argv.end(), log.protectedFiles.begin(), log.protectedFiles.end());
  double cpuSeconds = 0;
  for (auto _ : state) {
    if (!RunQuiet(argv, &cpuSeconds)) {
      state.SkipWithError("openssl dgst failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * log.protectedBytes);
  // The work is the child's: its CPU time per run, for comparison with the opening's own.
  state.counters["child_cpu_s"] =
      cpuSeconds / static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
}

// --- 4: saving ----------------------------------------------------------------------------------

// LogExpSave of a log of state.range(0) documents (two records each), after one message, against
// one durable small write in the same directory: 4 KiB written over the start of a file that is
// already there, then fsync. Each save is followed by one such write, both timed by the wall
// clock; how long the disk takes varies from one moment to the next on a shared machine, and the
// pairing compares the two at the same moments. The figure is the ratio of the medians of the
// repetition's rounds. The process's CPU time during each save is kept too.
void BM_LogExpSave(benchmark::State& state) {
  const unsigned documents = static_cast<unsigned>(state.range(0));
  const LogFixture log = MakeLog(Scratch() + "/saving-" + std::to_string(documents), "Saving",
                                 documents, 4 * kKiB, 4 * kKiB);
  if (!OpenExperimentLog(log)) {
    state.SkipWithError("the log did not open");
    return;
  }
  KECGlpsServices* service = KECGlpsServices::Instance();
  const std::string smallPath = log.directory + "/durable-write.bin";
  const int small = open(smallPath.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const std::string block(4 * kKiB, 'w');
  const bool created =
      small >= 0 &&
      pwrite(small, block.data(), block.size(), 0) == static_cast<ssize_t>(block.size()) &&
      fsync(small) == 0;
  KECGlpsLogInfo info;
  std::vector<double> saves, writes, cpu;
  using Clock = std::chrono::steady_clock;
  const auto cpuNow = [] {
    struct timespec ts;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
  };
  for (auto _ : state) {
    if (!created) {
      state.SkipWithError("the file of the durable write could not be made");
      break;
    }
    service->LogExpMsg(kMessage);
    const double cpuStart = cpuNow();
    const Clock::time_point start = Clock::now();
    const bool saved = service->LogExpSave(std::string(), &info);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    cpu.push_back(cpuNow() - cpuStart);
    state.SetIterationTime(seconds);

    const Clock::time_point writeStart = Clock::now();
    const bool written =
        pwrite(small, block.data(), block.size(), 0) == static_cast<ssize_t>(block.size()) &&
        fsync(small) == 0;
    const double write = std::chrono::duration<double>(Clock::now() - writeStart).count();
    if (!saved || !written) {
      state.SkipWithError("the save or the durable write failed");
      break;
    }
    saves.push_back(seconds);
    writes.push_back(write);
  }
  if (small >= 0) close(small);
  KECGlpsServices::Destroy();
  RemoveTree(log.directory);
  const auto median = [](std::vector<double> values) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
  };
  state.counters["records"] = static_cast<double>(log.records);
  state.counters["log_xml_KiB"] = static_cast<double>(info.m_nLogSize) / kKiB;
  state.counters["save_ms"] = median(saves) * 1e3;
  state.counters["durable_write_ms"] = median(writes) * 1e3;
  state.counters["save_cpu_ms"] = median(cpu) * 1e3;
  state.counters["ratio"] = median(writes) > 0 ? median(saves) / median(writes) : 0;
}

// --- 5: memory ----------------------------------------------------------------------------------

// Peak resident memory of a child process that opens a log of state.range(0) MiB of documents
// and logs 10,000 messages into it.
void BM_PeakRss(benchmark::State& state) {
  const long mebibytes = static_cast<long>(state.range(0));
  const long kMessages = 10000;
  std::unique_ptr<LogFixture> own;
  const LogFixture* log = nullptr;
  if (mebibytes == 256) {
    log = &LargeLog();
  } else {
    own.reset(new LogFixture(MakeLog(Scratch() + "/memory-" + std::to_string(mebibytes), "Memory",
                                     static_cast<unsigned>(mebibytes), kMiB, kMiB - 4 * kKiB)));
    log = own.get();
  }
  long peak = -1;
  for (auto _ : state) {
    peak = PeakRssOfChild(*log, kMessages);
    // The child appended to the last document without saving; cut it back to its record.
    if (truncate(LastDocument(*log).c_str(), kMiB - 4 * kKiB) != 0) peak = -1;
    if (peak < 0) {
      state.SkipWithError("the child failed");
      break;
    }
  }
  if (own) RemoveTree(own->directory);
  state.counters["peak_rss_KiB"] = static_cast<double>(peak);
  state.counters["protected_MiB"] = static_cast<double>(log->protectedBytes) / kMiB;
}

}  // namespace

// --- Shared state -------------------------------------------------------------------------------

namespace {
std::string g_scratch;
std::unique_ptr<LogFixture> g_largeLog;
}  // namespace

bool RunChild(const std::vector<std::string>& argv, ChildRun* run) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return false;
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) != pid) return false;
  run->wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run->cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
             static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  run->peakKiB = static_cast<double>(usage.ru_maxrss);
  run->exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return WIFEXITED(status);
}

const std::string& Scratch() {
  if (g_scratch.empty()) g_scratch = MakeScratchDirectory();
  return g_scratch;
}

void RemoveScratch() {
  if (!g_scratch.empty()) RemoveTree(g_scratch);
  g_scratch.clear();
  g_largeLog.reset();
}

const LogFixture& LargeLog() {
  if (!g_largeLog) {
    g_largeLog.reset(
        new LogFixture(MakeLog(Scratch() + "/large", "Large", 256, kMiB, kMiB - 4 * kKiB)));
  }
  return *g_largeLog;
}

bool OpenExperimentLog(const LogFixture& log) {
  unsigned int error = 0;
  bool opened = false;
  const bool ok = KECGlpsServices::Instance()->LogExpInit(
      log.directory, true, log.info, KECGlpsLogInfoCrash(), glps_test::Experiment(log.experiment),
      &error, &opened);
  if (!ok || !opened) return false;
  if (log.protectedFiles.empty()) return true;
  // A log found tampered gets a tamper entry at once: its last document grows.
  struct stat st;
  return stat(LastDocument(log).c_str(), &st) == 0 && st.st_size == log.lastDocumentSize;
}

int ChildPeakRss(const std::string& directory, const std::string& experiment,
                 const std::string& hash, std::int64_t size, long messages) {
  LogFixture log;
  log.directory = directory;
  log.experiment = experiment;
  log.info.m_strLogHash = hash;
  log.info.m_nLogSize = size;
  if (!OpenExperimentLog(log)) return 2;
  KECGlpsServices* service = KECGlpsServices::Instance();
  for (long i = 0; i < messages; ++i) {
    if (!service->LogExpMsg(kMessage)) return 3;
  }
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.compare(0, 6, "VmHWM:") == 0) {
      std::printf("%ld\n", std::strtol(line.c_str() + 6, nullptr, 10));
      std::fflush(stdout);
      KECGlpsServices::Destroy();
      return 0;
    }
  }
  return 4;
}

BENCHMARK(BM_LogExpMsg)->Arg(1)->Arg(1000);
BENCHMARK(BM_RawLimit);
BENCHMARK(BM_OneWriteLimit);
BENCHMARK(BM_WriteAndDigest);
BENCHMARK(BM_MessageComposition);
BENCHMARK(BM_PlainLogger);
BENCHMARK(BM_OpenLog)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_OpensslDgst)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();
BENCHMARK(BM_LogExpSave)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond)->UseManualTime();
BENCHMARK(BM_PeakRss)->Arg(1)->Arg(256)->Iterations(1)->Repetitions(1);

}  // namespace glps_bench
