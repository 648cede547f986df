// SPDX-License-Identifier: Apache-2.0
// Big trails shown to an auditor, each command run as a child process with its output thrown away:
// `glps log`, `glps log --json` and `glps pdf` of one document of 1,000,000 tiny entries (time and
// peak memory) against `glps verify` of the same log; and the peak memory of `glps log --json` of
// a log of 1 GiB against that of a log of 1 MiB.
#include <sys/stat.h>

#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench_common.h"
#include "glps/glps.h"
#include "support/records.h"

namespace glps_bench {
namespace {

constexpr long kTinyEntries = 1000000;

// A log written through the service in one run: one document of kTinyEntries messages of two
// letters each.
const std::string* TinyLog(double* documentBytes) {
  static std::unique_ptr<std::string> directory;
  static double bytes = 0;
  if (!directory) {
    const std::string made = Scratch() + "/tiny";
    if (mkdir(made.c_str(), 0755) != 0) return nullptr;
    KECGlpsServices* service = KECGlpsServices::Instance();
    KECGlpsLogInfo info;
    bool ok = service->LogExpInit(made, true, info, KECGlpsLogInfoCrash(),
                                  glps_test::Experiment("Tiny"), nullptr, nullptr);
    for (long i = 0; ok && i < kTinyEntries; ++i) ok = service->LogExpMsg("ok");
    ok = ok && service->LogExpExit(&info);
    KECGlpsServices::Destroy();
    if (!ok) return nullptr;
    struct stat st;
    const std::string document = made + "/" + ExperimentBaseName("Tiny") + "_0001.html";
    bytes = stat(document.c_str(), &st) == 0 ? static_cast<double>(st.st_size) : 0;
    directory = std::make_unique<std::string>(made);
  }
  *documentBytes = bytes;
  return directory.get();
}

void Report(benchmark::State& state, const ChildRun& run) {
  state.counters["child_cpu_s"] = run.cpu;
  state.counters["child_wall_s"] = run.wall;
  state.counters["peak_KiB"] = run.peakKiB;
}

}  // namespace

// On the tiny entries' log: 0 `glps verify`, 1 `glps log`, 2 `glps log --json`, 3 `glps pdf`.
void BM_BigTrail(benchmark::State& state) {
#ifdef GLPS_TOOL_PATH
  double documentBytes = 0;
  const std::string* log = TinyLog(&documentBytes);
  if (log == nullptr) {
    state.SkipWithError("the log could not be written");
    return;
  }
  const std::vector<std::vector<std::string>> commands = {
      {"verify", *log, "--quiet", "--no-progress"},
      {"log", *log},
      {"log", *log, "--json"},
      {"pdf", *log, "-o", Scratch() + "/tiny.pdf", "--time", "0", "--quiet"}};
  std::vector<std::string> argv = {GLPS_TOOL_PATH};
  const std::vector<std::string>& command = commands.at(static_cast<std::size_t>(state.range(0)));
  argv.insert(argv.end(), command.begin(), command.end());
  ChildRun run;
  for (auto _ : state) {
    if (!RunChild(argv, &run)) {
      state.SkipWithError("glps could not be run");
      return;
    }
  }
  Report(state, run);
  state.counters["entries"] = kTinyEntries;
  state.counters["document_MB"] = documentBytes / 1e6;
#else
  state.SkipWithError("built without the glps command");
#endif
}

// `glps log --json` of a log of state.range(0) documents of 1 MiB, their entries numbered on.
void BM_TrailMemory(benchmark::State& state) {
#ifdef GLPS_TOOL_PATH
  const unsigned documents = static_cast<unsigned>(state.range(0));
  const LogFixture log = MakeLog(Scratch() + "/memory-" + std::to_string(documents), "Memory",
                                 documents, kMiB, kMiB, true);
  const std::vector<std::string> argv = {GLPS_TOOL_PATH, "log", log.directory, "--json"};
  ChildRun run;
  for (auto _ : state) {
    if (!RunChild(argv, &run)) {
      state.SkipWithError("glps could not be run");
      return;
    }
  }
  RemoveTree(log.directory);
  Report(state, run);
  state.counters["MiB"] = static_cast<double>(log.documentBytes) / kMiB;
#else
  state.SkipWithError("built without the glps command");
#endif
}

BENCHMARK(BM_BigTrail)
    ->DenseRange(0, 3)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();
BENCHMARK(BM_TrailMemory)
    ->Arg(1)
    ->Arg(1024)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->UseRealTime();

}  // namespace glps_bench
