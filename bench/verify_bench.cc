// SPDX-License-Identifier: Apache-2.0
// The auditor's check of many logs: `glps verify --recursive` of 64 logs with one job and with two,
// and `md5sum` of the same files, each run as a child process.

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "glps/glps.h"
#include "support/records.h"

namespace glps_bench {
namespace {

namespace fs = std::filesystem;

constexpr int kLogs = 64;

// 64 copies of one experiment log written through the service: a document of about 1.2 MiB
// (12,000 messages), its sidecar and a linked data file of 512 KiB.
struct ManyLogs {
  std::string root;
  std::vector<std::string> files;  // every file verify reads: log.xml and the protected files
  std::int64_t bytes = 0;
};

std::unique_ptr<ManyLogs> g_manyLogs;

const ManyLogs& Logs() {
  if (g_manyLogs) return *g_manyLogs;
  auto logs = std::make_unique<ManyLogs>();
  logs->root = Scratch() + "/many";
  const std::string first = logs->root + "/log-00";
  fs::create_directories(first);
  std::string data;
  for (int i = 0; data.size() < 512 * 1024; ++i) {
    data += "S" + std::to_string(i) + "," + std::to_string(1.0 + i * 0.0001) + ",Müller\n";
  }
  {
    std::FILE* out = std::fopen((first + "/data.csv").c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), out);
    std::fclose(out);
  }
  KECGlpsServices* service = KECGlpsServices::Instance();
  bool opened = false;
  service->LogExpInit(first, true, KECGlpsLogInfo(), KECGlpsLogInfoCrash(),
                      glps_test::Experiment("Many"), nullptr, &opened);
  service->LogExpLink("data.csv");
  for (int i = 0; i < 12000; ++i) service->LogExpMsg(kMessage);
  KECGlpsLogInfo info;
  service->LogExpExit(&info);
  KECGlpsServices::Destroy();
  for (int i = 1; i < kLogs; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "/log-%02d", i);
    fs::copy(first, logs->root + name, fs::copy_options::recursive);
  }
  for (const auto& entry : fs::recursive_directory_iterator(logs->root)) {
    if (!entry.is_regular_file()) continue;
    logs->files.push_back(entry.path().string());
    logs->bytes += static_cast<std::int64_t>(entry.file_size());
  }
  g_manyLogs = std::move(logs);
  return *g_manyLogs;
}

void Finish(benchmark::State& state, const ManyLogs& logs, double cpu, double wall) {
  const double n = static_cast<double>(std::max<benchmark::IterationCount>(state.iterations(), 1));
  state.SetBytesProcessed(state.iterations() * logs.bytes);
  state.counters["child_cpu_s"] = cpu / n;
  state.counters["child_wall_s"] = wall / n;
  state.counters["MiB"] = static_cast<double>(logs.bytes) / kMiB;
  state.counters["logs"] = kLogs;
}

}  // namespace

// `glps verify --recursive` of the 64 logs with state.range(0) jobs.
void BM_VerifyLogs(benchmark::State& state) {
#ifdef GLPS_TOOL_PATH
  const ManyLogs& logs = Logs();
  const std::vector<std::string> argv = {
      GLPS_TOOL_PATH, "verify",        "--recursive", logs.root,
      "--quiet",      "--no-progress", "--jobs",      std::to_string(state.range(0))};
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    ChildRun run;
    if (!RunChild(argv, &run)) {
      state.SkipWithError("glps verify could not be run");
      return;
    }
    cpu += run.cpu;
    wall += run.wall;
  }
  Finish(state, logs, cpu, wall);
#else
  state.SkipWithError("built without the glps command");
#endif
}

// `md5sum` of the same files: the limit of reading and fingerprinting them.
void BM_Md5sum(benchmark::State& state) {
  const ManyLogs& logs = Logs();
  std::vector<std::string> argv = {"md5sum"};
  argv.insert(argv.end(), logs.files.begin(), logs.files.end());
  double cpu = 0, wall = 0;
  for (auto _ : state) {
    ChildRun run;
    if (!RunChild(argv, &run)) {
      state.SkipWithError("md5sum could not be run");
      return;
    }
    cpu += run.cpu;
    wall += run.wall;
  }
  Finish(state, logs, cpu, wall);
}

BENCHMARK(BM_VerifyLogs)
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();
BENCHMARK(BM_Md5sum)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace glps_bench
