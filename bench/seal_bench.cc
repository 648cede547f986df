// SPDX-License-Identifier: Apache-2.0
// What sealing adds to a save: the same save of the same log, sealed and not, with the writes and
// syncs of each save counted through the platform unit.
#include <time.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.h"
#include "crypto/seal_crypto.h"
#include "glps/glps.h"
#include "platform/platform_syscalls.h"
#include "seal/seal_format.h"

namespace glps_bench {
namespace {

// What one save wrote and synced, by file: the seal file, the key file, everything else.
enum SealFile { kSeals, kKey, kRest, kFiles };
struct WriteCount {
  std::uint64_t writes[kFiles] = {};
  std::uint64_t bytes[kFiles] = {};
  std::uint64_t syncs[kFiles] = {};
};
WriteCount g_writes;
SealFile g_fdFile[4096];
glps::platform::SysCalls g_calls;

SealFile FileOf(int fd) { return fd >= 0 && fd < 4096 ? g_fdFile[fd] : kRest; }

int CountingOpen(int dirfd, const char* path, int flags, mode_t mode) {
  const int fd = g_calls.openat(dirfd, path, flags, mode);
  if (fd >= 0 && fd < 4096) {
    const char* base = std::strrchr(path, '/');
    base = base == nullptr ? path : base + 1;
    g_fdFile[fd] = std::strcmp(base, KECGlpsSeal::SealFileName()) == 0  ? kSeals
                   : std::strcmp(base, KECGlpsSeal::KeyFileName()) == 0 ? kKey
                                                                        : kRest;
  }
  return fd;
}

ssize_t CountingWrite(int fd, const void* buffer, size_t count) {
  const ssize_t n = g_calls.write(fd, buffer, count);
  const SealFile file = FileOf(fd);
  ++g_writes.writes[file];
  if (n > 0) g_writes.bytes[file] += static_cast<std::uint64_t>(n);
  return n;
}

int CountingFsync(int fd) {
  ++g_writes.syncs[FileOf(fd)];
  return g_calls.fsync(fd);
}

int CountingFdatasync(int fd) {
  ++g_writes.syncs[FileOf(fd)];
  return g_calls.fdatasync(fd);
}

// The CPU time of the calling thread so far, user and kernel (where the syncs submit their
// writes) together.
double ThreadCpuSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// LogExpSave after one message, of a log of one document, sealed when state.range(0) is 1. The
// time measured is the save's, wall clock; the saving thread's CPU time and the writes and syncs
// are counters, per save.
void BM_SealedSave(benchmark::State& state) {
  const bool sealed = state.range(0) == 1;
  const LogFixture log =
      MakeLog(Scratch() + (sealed ? "/sealed" : "/unsealed"), "Sealing", 1, 4 * kKiB, 4 * kKiB);
  if (sealed) {
    std::string key, error;
    if (!KECGlpsSeal::Init(log.directory, &key, &error)) {
      state.SkipWithError(("sealing was not set up: " + error).c_str());
      return;
    }
  }
  // Counted from the opening on: the sealing key's file may be opened once, there.
  glps::platform::SysCalls& calls = glps::platform::CurrentSysCalls();
  g_calls = calls;
  std::fill(std::begin(g_fdFile), std::end(g_fdFile), kRest);
  calls.openat = &CountingOpen;
  calls.write = &CountingWrite;
  calls.fsync = &CountingFsync;
  calls.fdatasync = &CountingFdatasync;
  if (!OpenExperimentLog(log)) {
    glps::platform::RestoreSysCalls();
    state.SkipWithError("the log did not open");
    return;
  }
  KECGlpsServices* service = KECGlpsServices::Instance();
  KECGlpsLogInfo info;
  double cpu = 0;
  WriteCount total;
  std::uint64_t saves = 0;
  using Clock = std::chrono::steady_clock;
  for (auto _ : state) {
    service->LogExpMsg(kMessage);
    g_writes = WriteCount();
    const double cpuStart = ThreadCpuSeconds();
    const Clock::time_point start = Clock::now();
    const bool saved = service->LogExpSave(std::string(), &info);
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - start).count());
    cpu += ThreadCpuSeconds() - cpuStart;
    if (!saved) {
      state.SkipWithError("the save failed");
      break;
    }
    for (int file = 0; file < kFiles; ++file) {
      total.writes[file] += g_writes.writes[file];
      total.bytes[file] += g_writes.bytes[file];
      total.syncs[file] += g_writes.syncs[file];
    }
    ++saves;
  }
  KECGlpsServices::Destroy();
  glps::platform::RestoreSysCalls();
  RemoveTree(log.directory);
  const double n = static_cast<double>(std::max<std::uint64_t>(saves, 1));
  state.counters["cpu_us"] = cpu / n * 1e6;
  state.counters["seal_writes"] = static_cast<double>(total.writes[kSeals]) / n;
  state.counters["seal_bytes"] = static_cast<double>(total.bytes[kSeals]) / n;
  state.counters["key_writes"] = static_cast<double>(total.writes[kKey]) / n;
  state.counters["key_bytes"] = static_cast<double>(total.bytes[kKey]) / n;
  state.counters["other_writes"] = static_cast<double>(total.writes[kRest]) / n;
  state.counters["seal_syncs"] = static_cast<double>(total.syncs[kSeals] + total.syncs[kKey]) / n;
}

// The computation of one seal, without its file work: the seal line of a save that changed a
// document and its sidecar, with the hashes of log.xml's header and documents that it binds, its
// HMAC-SHA-256, the next key (HKDF) and the SHA-256 checks of the key file's two slots. CPU time.
void BM_SealComputation(benchmark::State& state) {
  namespace seal = glps::seal;
  glps::crypto::SecretKey key;
  if (!key.Randomize()) {
    state.SkipWithError("no random key");
    return;
  }
  const std::string logId = seal::LogIdOf(key);
  const std::vector<KECGlpsFileManagerData> records = {
      {Glps::FileLog, "GLP-Log-Sealing_0001.html", "loz/zHgq+3jW4yRg+b2DDw==", 5743, true},
      {Glps::FileMetaData, "GLP-Log-Sealing_0001.xml", "Iw3lMvjoWHFwrHKv34fMWw==", 693, true}};
  seal::SealState before = seal::StateOfRecords(records, {});
  KECGlpsLogHeader header;
  header.m_eContentType = static_cast<KCGenStandardFileHeader::EContentType>(534);
  header.m_usContentVersion = 410;
  header.m_tmCreation.SetNow();
  header.m_guid = KCGenGUID(true);
  const std::string slot(160, 'k');
  std::uint64_t number = 1;
  for (auto _ : state) {
    std::vector<KECGlpsFileManagerData> now = records;
    now[0].m_nSize += static_cast<std::int64_t>(number);
    seal::SealLine line;
    line.number = number++;
    line.time = seal::TimeNow();
    line.logXml.m_strLogHash = "iVfSkQV2MWdRaW9QK2hhvO1ENlv+NEldaV3ZJAno3CE=";
    line.logXml.m_nLogSize = 2691;
    line.bound = true;
    line.binding = seal::BindingOf(&header, now);
    const seal::SealState after = seal::StateOfRecords(now, {});
    seal::SetChanges(before, after, &line);
    line.mac = seal::MacOf(key, logId, seal::SealText(line));
    glps::crypto::SecretKey next;
    bool ok = !line.mac.empty() && seal::NextKey(key, &next);
    for (int i = 0; i < 2; ++i) {
      glps::crypto::Sha256Hash slotHash;
      ok = ok && slotHash.Update(slot.data(), slot.size()) && !slotHash.FinishText().empty();
    }
    benchmark::DoNotOptimize(seal::SealLineText(line));
    if (!ok) {
      state.SkipWithError("a seal could not be computed");
      break;
    }
    key = next;
    before = after;
  }
}

}  // namespace

BENCHMARK(BM_SealComputation)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SealedSave)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace glps_bench
