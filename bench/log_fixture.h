// SPDX-License-Identifier: Apache-2.0
// Log directories for the benchmarks, built directly on disk in the form the library writes them,
// so that a log of hundreds of megabytes or a thousand documents takes seconds to make.
#ifndef GLPS_BENCH_LOG_FIXTURE_H_
#define GLPS_BENCH_LOG_FIXTURE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "glps/records.h"
#include "support/temp_dir.h"

namespace glps_bench {

using glps_test::RemoveTree;

// One experiment log made by MakeLog: its directory, the info the host would hold for it, and
// its protected files (documents and sidecars, the files an opening must fingerprint).
struct LogFixture {
  std::string directory;
  std::string experiment;
  KECGlpsLogInfo info;
  std::vector<std::string> protectedFiles;
  std::int64_t protectedBytes = 0;
  std::int64_t documentBytes = 0;
  std::size_t records = 0;
  std::int64_t logXmlBytes = 0;
  std::int64_t lastDocumentSize = 0;
};

// Builds an untampered experiment log of `documents` documents in `directory` (created, and
// emptied first): every document but the last holds `documentSize` bytes of entries, the last
// `lastSize` (below 1 MiB, so that an opening continues it and changes nothing on disk); each
// has an empty sidecar; log.xml records them all, with the index pages when there are several.
// With `numbered`, the entries are numbered on from 1 across the documents (else every entry has
// the same number, which the trail's checks find repeated).
LogFixture MakeLog(const std::string& directory, const std::string& experiment, unsigned documents,
                   std::int64_t documentSize, std::int64_t lastSize, bool numbered = false);

// The base name the service gives the documents of an experiment's log.
std::string ExperimentBaseName(const std::string& experiment);

// A fresh directory for the benchmark's logs: under $GLPS_BENCH_DIR when set, else under the
// system's temporary directory. Removed by RemoveTree (support/temp_dir.h) at the end of the run.
std::string MakeScratchDirectory();

// Sizes in bytes.
constexpr std::int64_t kKiB = 1024;
constexpr std::int64_t kMiB = 1024 * kKiB;

}  // namespace glps_bench

#endif  // GLPS_BENCH_LOG_FIXTURE_H_
