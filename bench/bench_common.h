// SPDX-License-Identifier: Apache-2.0
// What the benchmark program's parts share: the scratch directory, the logs built in it, the
// message that is logged, and the peak-memory child.
#ifndef GLPS_BENCH_BENCH_COMMON_H_
#define GLPS_BENCH_BENCH_COMMON_H_

#include <cstdint>
#include <string>
#include <vector>

#include "log_fixture.h"

namespace glps_bench {

// The typical message: 60 bytes.
extern const char kMessage[];

// The run's scratch directory, made on first use; RemoveScratch deletes it with every log in it.
const std::string& Scratch();
void RemoveScratch();

// The log of 256 MiB of documents (256 documents), built once per run and shared by the opening
// and memory benchmarks; neither leaves it changed.
const LogFixture& LargeLog();

// Opens `log` through the service as the host does, with the info it holds for it; false when it
// did not open, or (for a log with known files) was found tampered.
bool OpenExperimentLog(const LogFixture& log);

// Entry of the child process that measures peak resident memory: opens the log in `directory`
// and logs `messages` messages, then prints its peak resident set (VmHWM) in KiB. Returns the
// process's exit code.
int ChildPeakRss(const std::string& directory, const std::string& experiment,
                 const std::string& hash, std::int64_t size, long messages);
constexpr char kChildFlag[] = "--glps-child-peak-rss";

// What one run of a command took: CPU (user and system) and wall-clock seconds, peak resident KiB,
// and its exit status.
struct ChildRun {
  double cpu = 0;
  double wall = 0;
  double peakKiB = 0;
  int exitStatus = -1;
};

// Runs `argv` with its standard output thrown away and fills `run`; false when it could not be run
// or was killed.
bool RunChild(const std::vector<std::string>& argv, ChildRun* run);

}  // namespace glps_bench

#endif  // GLPS_BENCH_BENCH_COMMON_H_
