// SPDX-License-Identifier: Apache-2.0
// The printable copy: the PDF of a log of 1,000 and of 10,000 entries (KECGlpsAuditCopy::WritePdf,
// what `glps pdf` does), against writing the same text to a plain file, and against the part of
// the copy that is not layout (verifying the log and reading its trail back).
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <map>
#include <memory>
#include <string>

#include "bench_common.h"
#include "glps/audit_copy.h"
#include "glps/glps.h"
#include "platform/platform.h"
#include "support/records.h"

namespace glps_bench {
namespace {

// A log written through the service in one run: `entries` messages, every tenth with a context;
// and the text of its trail as the copy shows it, one line per entry.
struct CopyLog {
  std::string directory;
  std::string text;
};

std::string TrailText(const std::string& directory) {
  const KECGlpsAuditTrail trail = KECGlpsAudit::ReadTrail(directory);
  std::string text;
  for (const KECGlpsAuditEntry& entry : trail.m_vEntries) {
    if (entry.m_nNumber >= 0) text += std::to_string(entry.m_nNumber) + "  ";
    if (!entry.m_strDate.empty()) {
      text += entry.m_strDate + "  " + entry.m_strTime + "  " + entry.m_strUser + "  ";
    }
    text += entry.m_strMessage;
    if (entry.m_bHasContext) text += ":  '" + entry.m_strContext + "'";
    text += '\n';
    for (const std::string& line : entry.m_vDetails) text += "     " + line + '\n';
  }
  return text;
}

const CopyLog* LogOfEntries(long entries) {
  static std::map<long, std::unique_ptr<CopyLog>> logs;
  std::unique_ptr<CopyLog>& log = logs[entries];
  if (log) return log.get();
  auto made = std::make_unique<CopyLog>();
  made->directory = Scratch() + "/copy-" + std::to_string(entries);
  if (mkdir(made->directory.c_str(), 0755) != 0) return nullptr;
  KECGlpsServices* service = KECGlpsServices::Instance();
  KECGlpsLogInfo info;
  bool ok = service->LogExpInit(made->directory, true, info, KECGlpsLogInfoCrash(),
                                glps_test::Experiment("Copy"), nullptr, nullptr);
  for (long i = 1; ok && i < entries; ++i) {
    ok = i % 10 == 0 ? service->LogExpMsgContext(kMessage, "Balance B-07")
                     : service->LogExpMsg(kMessage);
  }
  ok = ok && service->LogExpExit(&info);
  KECGlpsServices::Destroy();
  if (!ok) return nullptr;
  made->text = TrailText(made->directory);
  log = std::move(made);
  return log.get();
}

constexpr std::int64_t kCopyTime = 1767225600;  // 2026-01-01 00:00:00 UTC

void BM_PdfCopy(benchmark::State& state) {
  const CopyLog* log = LogOfEntries(static_cast<long>(state.range(0)));
  if (log == nullptr) {
    state.SkipWithError("the log could not be written");
    return;
  }
  KECGlpsAuditCopyOptions options;
  options.m_nTime = kCopyTime;
  const std::string out = Scratch() + "/copy.pdf";
  KECGlpsAuditCopyResult result;
  for (auto _ : state) {
    result = KECGlpsAuditCopy::WritePdf(log->directory, options, out);
    if (result.m_eStatus != Glps::eAuditCopyMade) {
      state.SkipWithError(("no copy: " + result.m_strError).c_str());
      break;
    }
  }
  struct stat st;
  const bool sized = stat(out.c_str(), &st) == 0;
  state.counters["entries"] = static_cast<double>(result.m_nEntries);
  state.counters["pages"] = static_cast<double>(result.m_nPages);
  state.counters["pdf_KiB"] = sized ? static_cast<double>(st.st_size) / 1024 : 0;
}

// The same text, written to a plain file as the copy is written (replaced whole and made durable).
void BM_PlainTextCopy(benchmark::State& state) {
  const CopyLog* log = LogOfEntries(static_cast<long>(state.range(0)));
  if (log == nullptr) {
    state.SkipWithError("the log could not be written");
    return;
  }
  const std::string out = Scratch() + "/copy.txt";
  for (auto _ : state) {
    if (!glps::platform::ReplaceFile(out, log->text)) {
      state.SkipWithError("cannot write the text");
      break;
    }
  }
  state.counters["text_KiB"] = static_cast<double>(log->text.size()) / 1024;
}

// What the copy does besides its layout: the verification and the trail read back.
void BM_CopyInputs(benchmark::State& state) {
  const CopyLog* log = LogOfEntries(static_cast<long>(state.range(0)));
  if (log == nullptr) {
    state.SkipWithError("the log could not be written");
    return;
  }
  for (auto _ : state) {
    const KECGlpsAuditReport report = KECGlpsAudit::Verify(log->directory, nullptr);
    const KECGlpsAuditTrail trail = KECGlpsAudit::ReadTrail(log->directory);
    benchmark::DoNotOptimize(report.m_vFiles.size() + trail.m_vEntries.size());
  }
}

}  // namespace

BENCHMARK(BM_PdfCopy)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_PlainTextCopy)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CopyInputs)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace glps_bench
