// SPDX-License-Identifier: Apache-2.0
// The benchmark program: runs the benchmarks (Google Benchmark flags apply), prints them as usual,
// and with --table=FILE writes the summary table of the measurements against their
// baselines, taking the median of the repetitions of each.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "bench_common.h"

namespace {

// One measured run: wall-clock and CPU seconds per iteration, and the counters.
struct Sample {
  double seconds = 0;
  double cpuSeconds = 0;
  std::map<std::string, double> counters;
};

// Prints like the console reporter and keeps every run, keyed by "function/args".
class CollectingReporter : public benchmark::ConsoleReporter {
 public:
  CollectingReporter() : benchmark::ConsoleReporter(OO_None) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type != Run::RT_Iteration || run.error_occurred || run.iterations == 0) continue;
      std::string key = run.run_name.function_name;
      if (!run.run_name.args.empty()) key += "/" + run.run_name.args;
      Sample sample;
      sample.seconds = run.real_accumulated_time / static_cast<double>(run.iterations);
      sample.cpuSeconds = run.cpu_accumulated_time / static_cast<double>(run.iterations);
      for (const auto& counter : run.counters)
        sample.counters[counter.first] = counter.second.value;
      m_samples[key].push_back(sample);
    }
    ConsoleReporter::ReportRuns(runs);
  }

  bool Has(const std::string& key) const { return m_samples.count(key) != 0; }

  // Median over the repetitions of the wall-clock time per iteration.
  double Seconds(const std::string& key) const {
    std::vector<double> values;
    for (const Sample& sample : Samples(key)) values.push_back(sample.seconds);
    return Median(values);
  }

  // Median over the repetitions of the CPU time per iteration (user and system, this process).
  double CpuSeconds(const std::string& key) const {
    std::vector<double> values;
    for (const Sample& sample : Samples(key)) values.push_back(sample.cpuSeconds);
    return Median(values);
  }

  double Counter(const std::string& key, const std::string& counter) const {
    std::vector<double> values;
    for (const Sample& sample : Samples(key)) {
      const auto it = sample.counters.find(counter);
      if (it != sample.counters.end()) values.push_back(it->second);
    }
    return Median(values);
  }

  std::size_t Repetitions(const std::string& key) const { return Samples(key).size(); }

 private:
  const std::vector<Sample>& Samples(const std::string& key) const {
    static const std::vector<Sample> kNone;
    const auto it = m_samples.find(key);
    return it == m_samples.end() ? kNone : it->second;
  }

  static double Median(std::vector<double> values) {
    if (values.empty()) return NAN;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
  }

  std::map<std::string, std::vector<Sample>> m_samples;
};

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Verdict(bool met) { return met ? "met" : "**not met**"; }

// The summary table in Markdown. The logging and opening figures compare CPU time (user and
// system), which other work on a shared machine disturbs less than wall-clock time; the wall-clock
// ratio is given beside it. Saving waits for the disk and is judged by wall-clock time.
std::string Table(const CollectingReporter& r) {
  std::ostringstream out;
  out << "| # | Measurement | glps | Baseline (same run) | Figure | Target | |\n"
      << "|---|---|---|---|---|---|---|\n";

  const std::string msg1 = "BM_LogExpMsg/1", msg1000 = "BM_LogExpMsg/1000";
  const std::string raw = "BM_RawLimit", plain = "BM_PlainLogger";
  const std::string oneWrite = "BM_OneWriteLimit", floor = "BM_WriteAndDigest";
  const std::string composition = "BM_MessageComposition";
  if (r.Has(msg1) && r.Has(oneWrite)) {
    const double ratio = r.CpuSeconds(oneWrite) / r.CpuSeconds(msg1);
    out << "| 1 | `LogExpMsg`, 60-byte message, log of 1 document | "
        << Format("%.0f", 1 / r.CpuSeconds(msg1)) << " msg/s ("
        << Format("%.3f", r.CpuSeconds(msg1) * 1e6) << " µs each) | one-write limit, the entry's "
        << "bytes in one write with an MD5 update and a fingerprint read: "
        << Format("%.0f", 1 / r.CpuSeconds(oneWrite)) << " msg/s ("
        << Format("%.3f", r.CpuSeconds(oneWrite) * 1e6) << " µs) | " << Format("%.3f", ratio)
        << " of the limit (wall clock: " << Format("%.3f", r.Seconds(oneWrite) / r.Seconds(msg1))
        << ") | ≥ 0.8 | " << Verdict(ratio >= 0.8) << " |\n";
  }
  if (r.Has(msg1) && r.Has(plain)) {
    const double ratio = r.CpuSeconds(plain) / r.CpuSeconds(msg1);
    out << "| 1b | The same against a plain logger | " << Format("%.3f", r.CpuSeconds(msg1) * 1e6)
        << " µs | a plain logger, the entry's bytes in one write, no fingerprint: "
        << Format("%.0f", 1 / r.CpuSeconds(plain)) << " msg/s ("
        << Format("%.3f", r.CpuSeconds(plain) * 1e6) << " µs) | " << Format("%.3f", ratio)
        << " of the plain logger (wall clock: "
        << Format("%.3f", r.Seconds(plain) / r.Seconds(msg1)) << ") | ≥ 0.6 | "
        << Verdict(ratio >= 0.6) << " |\n";
  }
  if (r.Has(msg1) && r.Has(raw)) {
    const double ratio = r.CpuSeconds(raw) / r.CpuSeconds(msg1);
    out << "| 1c | The same against three writes | " << Format("%.3f", r.CpuSeconds(msg1) * 1e6)
        << " µs | raw limit, the three report items' texts in 3 writes with an MD5 update and a "
        << "fingerprint read each: " << Format("%.0f", 1 / r.CpuSeconds(raw)) << " msg/s ("
        << Format("%.3f", r.CpuSeconds(raw) * 1e6) << " µs) | " << Format("%.3f", ratio)
        << " of the limit (wall clock: " << Format("%.3f", r.Seconds(raw) / r.Seconds(msg1))
        << ") | ≥ 0.85 | " << Verdict(ratio >= 0.85) << " |\n";
  }
  if (r.Has(msg1) && r.Has(floor) && r.Has(composition)) {
    const double rest = r.CpuSeconds(msg1) - r.CpuSeconds(floor) - r.CpuSeconds(composition);
    out << "| 1d | Where the time of one `LogExpMsg` goes | "
        << Format("%.3f", r.CpuSeconds(msg1) * 1e6) << " µs | the write and the MD5 update of the "
        << "entry's bytes " << Format("%.3f", r.CpuSeconds(floor) * 1e6)
        << " µs + composing the entry (prefix from the host's clock, time texts and user name; "
           "HTML "
        << "of the three report items) " << Format("%.3f", r.CpuSeconds(composition) * 1e6)
        << " µs | the library's own work " << Format("%.3f", rest * 1e6) << " µs | | |\n";
  }
  if (r.Has(msg1) && r.Has(msg1000)) {
    const double ratio = r.CpuSeconds(msg1000) / r.CpuSeconds(msg1);
    out << "| 2 | `LogExpMsg` into a log of 1,000 documents ("
        << Format("%.0f", r.Counter(msg1000, "records")) << " records) | "
        << Format("%.2f", r.CpuSeconds(msg1000) * 1e6) << " µs/msg | log of 1 document ("
        << Format("%.0f", r.Counter(msg1, "records"))
        << " records): " << Format("%.2f", r.CpuSeconds(msg1) * 1e6) << " µs/msg | "
        << Format("%.3f", ratio)
        << "× the cost (wall clock: " << Format("%.3f", r.Seconds(msg1000) / r.Seconds(msg1))
        << "×) | ≤ 1.10× | " << Verdict(ratio <= 1.10) << " |\n";
  }
  const std::string open = "BM_OpenLog", dgst = "BM_OpensslDgst";
  if (r.Has(open) && r.Has(dgst)) {
    const double dgstCpu = r.Counter(dgst, "child_cpu_s");
    const double ratio = r.CpuSeconds(open) / dgstCpu;
    out << "| 3 | `LogExpInit` of an untampered log, "
        << Format("%.1f", r.Counter(open, "protected_MiB")) << " MiB in 256 documents and their "
        << "sidecars | " << Format("%.0f", r.CpuSeconds(open) * 1e3) << " ms ("
        << Format("%.0f", r.Seconds(open) * 1e3) << " ms wall clock); bytes read per byte: "
        << "documents " << Format("%.4f", r.Counter(open, "document_reads")) << "×, sidecars "
        << Format("%.4f", r.Counter(open, "sidecar_reads")) << "×, log.xml ("
        << Format("%.0f", r.Counter(open, "log_xml_KiB")) << " KiB) "
        << Format("%.2f", r.Counter(open, "log_xml_reads")) << "×; "
        << Format("%.0f", r.Counter(open, "read_calls")) << " read calls | `openssl dgst -md5` "
        << "of the same files: " << Format("%.0f", dgstCpu * 1e3) << " ms ("
        << Format("%.0f", r.Seconds(dgst) * 1e3) << " ms wall clock) | " << Format("%.3f", ratio)
        << "× the limit (wall clock: " << Format("%.3f", r.Seconds(open) / r.Seconds(dgst))
        << "×) | ≤ 1.15× | " << Verdict(ratio <= 1.15) << " |\n";
  }
  for (const char* save : {"BM_LogExpSave/1", "BM_LogExpSave/1000"}) {
    if (!r.Has(save)) continue;
    const double ratio = r.Counter(save, "ratio");
    out << "| 4" << (std::string(save) == "BM_LogExpSave/1" ? "a" : "b")
        << " | `LogExpSave` of a log of " << Format("%.0f", r.Counter(save, "records"))
        << " records (log.xml " << Format("%.0f", r.Counter(save, "log_xml_KiB")) << " KiB) | "
        << Format("%.2f", r.Counter(save, "save_ms")) << " ms wall clock ("
        << Format("%.2f", r.Counter(save, "save_cpu_ms")) << " ms CPU) | one durable small write "
        << "in the same directory (4 KiB written over a file's start, then fsync), right after "
        << "each save: " << Format("%.2f", r.Counter(save, "durable_write_ms")) << " ms | "
        << Format("%.2f", ratio) << "× the write | ≤ 2.5× | " << Verdict(ratio <= 2.5) << " |\n";
  }
  const std::string rss1 = "BM_PeakRss/1", rss256 = "BM_PeakRss/256";
  if (r.Has(rss1) && r.Has(rss256)) {
    const double small = r.Counter(rss1, "peak_rss_KiB");
    const double large = r.Counter(rss256, "peak_rss_KiB");
    out << "| 5 | Peak resident memory of a process that opens a log of 256 MiB and logs 10,000 "
        << "messages | " << Format("%.0f", large)
        << " KiB | the same with a log of 1 MiB: " << Format("%.0f", small) << " KiB | "
        << Format("%+.0f", large - small) << " KiB | within 1024 KiB | "
        << Verdict(std::fabs(large - small) <= 1024) << " |\n";
  }
  const std::string verify1 = "BM_VerifyLogs/1", verify2 = "BM_VerifyLogs/2", md5 = "BM_Md5sum";
  if (r.Has(verify1) && r.Has(verify2)) {
    const double one = r.Counter(verify1, "child_wall_s");
    const double two = r.Counter(verify2, "child_wall_s");
    out << "| 6 | `glps verify --recursive` of " << Format("%.0f", r.Counter(verify2, "logs"))
        << " logs (" << Format("%.1f", r.Counter(verify2, "MiB")) << " MiB), 2 jobs on "
        << "2 cores | " << Format("%.0f", two * 1e3) << " ms wall clock ("
        << Format("%.0f", r.Counter(verify2, "child_cpu_s") * 1e3) << " ms CPU) | the same with "
        << "1 job: " << Format("%.0f", one * 1e3) << " ms wall clock ("
        << Format("%.0f", r.Counter(verify1, "child_cpu_s") * 1e3) << " ms CPU) | "
        << Format("%.2f", one / two) << "× as fast | ≥ 1.7× | " << Verdict(one / two >= 1.7)
        << " |\n";
  }
  if (r.Has(verify1) && r.Has(md5)) {
    const double mib = r.Counter(verify1, "MiB");
    const double glpsCpu = r.Counter(verify1, "child_cpu_s");
    const double md5Cpu = r.Counter(md5, "child_cpu_s");
    out << "| 7 | Bytes read per second by `glps verify --recursive --jobs 1` (fingerprints, "
        << "log.xml, the trail's checks) | " << Format("%.0f", mib / glpsCpu)
        << " MiB per CPU second (" << Format("%.0f", mib / r.Counter(verify1, "child_wall_s"))
        << " MiB/s wall clock) | `md5sum` of the same files: " << Format("%.0f", mib / md5Cpu)
        << " MiB per CPU second (" << Format("%.0f", mib / r.Counter(md5, "child_wall_s"))
        << " MiB/s wall clock) | " << Format("%.3f", glpsCpu / md5Cpu)
        << "× the time of md5sum (wall clock: "
        << Format("%.3f", r.Counter(verify1, "child_wall_s") / r.Counter(md5, "child_wall_s"))
        << "×) | ≤ 1.15× | " << Verdict(glpsCpu / md5Cpu <= 1.15) << " |\n";
  }
  const std::string pdf1 = "BM_PdfCopy/1000", pdf10 = "BM_PdfCopy/10000";
  const std::string text10 = "BM_PlainTextCopy/10000", inputs10 = "BM_CopyInputs/10000";
  if (r.Has(pdf1) && r.Has(pdf10)) {
    const double entries1 = r.Counter(pdf1, "entries");
    const double entries10 = r.Counter(pdf10, "entries");
    const double per1 = r.CpuSeconds(pdf1) / entries1;
    const double per10 = r.CpuSeconds(pdf10) / entries10;
    const double ratio = per10 / per1;
    const double wallRatio = (r.Seconds(pdf10) / entries10) / (r.Seconds(pdf1) / entries1);
    out << "| 8 | PDF copy of a log (`glps pdf`: `KECGlpsAuditCopy::WritePdf`), "
        << Format("%.0f", entries10) << " entries, " << Format("%.0f", r.Counter(pdf10, "pages"))
        << " pages, " << Format("%.0f", r.Counter(pdf10, "pdf_KiB")) << " KiB | "
        << Format("%.0f", r.CpuSeconds(pdf10) * 1e3) << " ms (" << Format("%.0f", per10 * 1e6)
        << " µs per entry; " << Format("%.0f", r.Seconds(pdf10) * 1e3)
        << " ms wall clock) | the same with " << Format("%.0f", entries1)
        << " entries: " << Format("%.0f", r.CpuSeconds(pdf1) * 1e3) << " ms ("
        << Format("%.0f", per1 * 1e6) << " µs per entry) | " << Format("%.3f", ratio)
        << "× the cost per entry (wall clock: " << Format("%.3f", wallRatio)
        << "×) | ≤ 1.15× (proportional) | " << Verdict(ratio <= 1.15) << " |\n";
    if (r.Has(text10) && r.Has(inputs10)) {
      const double inputs = r.CpuSeconds(inputs10);
      out << "| 8a | Where the time of the copy of " << Format("%.0f", entries10)
          << " entries goes | " << Format("%.0f", r.CpuSeconds(pdf10) * 1e3)
          << " ms | the same text (" << Format("%.0f", r.Counter(text10, "text_KiB"))
          << " KiB) written to a plain file, replaced and made durable as the copy is: "
          << Format("%.2f", r.CpuSeconds(text10) * 1e3) << " ms ("
          << Format("%.2f", r.Seconds(text10) * 1e3) << " ms wall clock); verifying the log and "
          << "reading its trail back: " << Format("%.0f", inputs * 1e3) << " ms | layout and PDF "
          << Format("%.0f", (r.CpuSeconds(pdf10) - inputs) * 1e3) << " ms; the copy takes "
          << Format("%.0f", r.CpuSeconds(pdf10) / r.CpuSeconds(text10))
          << "× the CPU time of the plain file | | |\n";
    }
  }
  const std::string unsealed = "BM_SealedSave/0", sealed = "BM_SealedSave/1";
  const std::string computation = "BM_SealComputation";
  if (r.Has(unsealed) && r.Has(sealed) && r.Has(computation)) {
    const double sealWrites = r.Counter(sealed, "seal_writes");
    const double sealBytes = r.Counter(sealed, "seal_bytes");
    const double cpu = r.Counter(sealed, "cpu_us"), cpu0 = r.Counter(unsealed, "cpu_us");
    const double compute = r.CpuSeconds(computation) * 1e6;
    const bool met = sealWrites <= 1.0 && sealBytes <= 1024 && compute <= 50;
    out << "| 9 | What a seal adds to `LogExpSave` (a log of 1 document, one message per save) | "
        << "the seal's computation (its line, one HMAC-SHA-256, one HKDF step, a SHA-256 per key "
        << "slot): " << Format("%.1f", compute) << " µs CPU; per save "
        << Format("%.2f", sealWrites) << " write of " << Format("%.0f", sealBytes)
        << " bytes to log.seal, " << Format("%.2f", r.Counter(sealed, "key_writes")) << " writes ("
        << Format("%.0f", r.Counter(sealed, "key_bytes"))
        << " bytes in all) to log.seal-key, its two slots, and "
        << Format("%.2f", r.Counter(sealed, "seal_syncs")) << " syncs of the two files; the "
        << "sealed save: " << Format("%.2f", r.Seconds(sealed) * 1e3) << " ms wall clock, "
        << Format("%.0f", cpu)
        << " µs CPU | the same save unsealed: " << Format("%.2f", r.Seconds(unsealed) * 1e3)
        << " ms wall clock, " << Format("%.0f", cpu0) << " µs CPU | "
        << Format("%+.2f", (r.Seconds(sealed) - r.Seconds(unsealed)) * 1e3) << " ms wall clock and "
        << Format("%+.0f", cpu - cpu0) << " µs CPU per save, mostly the "
        << "syncs of the seal line and of the key's two slots | one write of at most 1 KiB to the "
        << "seal file; the seal's computation at most 50 µs | " << Verdict(met) << " |\n";
  }
  const std::string bigVerify = "BM_BigTrail/0", bigLog = "BM_BigTrail/1";
  const std::string bigJson = "BM_BigTrail/2", bigPdf = "BM_BigTrail/3";
  if (r.Has(bigVerify) && r.Has(bigLog) && r.Has(bigJson) && r.Has(bigPdf)) {
    const auto figures = [&](const std::string& key) {
      return Format("%.2f", r.Counter(key, "child_cpu_s")) + " s CPU (" +
             Format("%.2f", r.Counter(key, "child_wall_s")) + " s wall clock), " +
             Format("%.0f", r.Counter(key, "peak_KiB") / 1024) + " MiB peak";
    };
    const double slowest =
        std::max({r.Counter(bigLog, "child_cpu_s"), r.Counter(bigJson, "child_cpu_s"),
                  r.Counter(bigPdf, "child_cpu_s")});
    out << "| 10 | `glps log`, `glps log --json` and `glps pdf` of one document of "
        << Format("%.0f", r.Counter(bigLog, "entries")) << " tiny entries ("
        << Format("%.0f", r.Counter(bigLog, "document_MB")) << " MB) | log: " << figures(bigLog)
        << "; --json: " << figures(bigJson) << "; pdf: " << figures(bigPdf)
        << " | `glps verify` of the same log: " << figures(bigVerify) << " | the slowest "
        << Format("%.1f", slowest / r.Counter(bigVerify, "child_cpu_s"))
        << "× the CPU time of verify | within 10 s of CPU each | " << Verdict(slowest <= 10)
        << " |\n";
  }
  const std::string memorySmall = "BM_TrailMemory/1", memoryLarge = "BM_TrailMemory/1024";
  if (r.Has(memorySmall) && r.Has(memoryLarge)) {
    const double large = r.Counter(memoryLarge, "peak_KiB") / 1024;
    const double small = r.Counter(memorySmall, "peak_KiB") / 1024;
    out << "| 10a | Peak resident memory of `glps log --json` of a log of "
        << Format("%.0f", r.Counter(memoryLarge, "MiB")) << " MiB (1024 documents) | "
        << Format("%.1f", large) << " MiB ("
        << Format("%.1f", r.Counter(memoryLarge, "child_cpu_s"))
        << " s CPU) | the same of a log of " << Format("%.0f", r.Counter(memorySmall, "MiB"))
        << " MiB: " << Format("%.1f", small) << " MiB | " << Format("%+.1f", large - small)
        << " MiB | within 64 MiB | " << Verdict(large <= 64) << " |\n";
  }
  std::size_t repetitions = 0;
  for (const std::string& key : {msg1, raw, open, dgst, std::string("BM_LogExpSave/1000")}) {
    repetitions = std::max(repetitions, r.Repetitions(key));
  }
  out << "\nEach figure is the median of " << repetitions
      << " repetitions, run interleaved (peak memory: one child process each).\n";
  return out.str();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 7 && std::strcmp(argv[1], glps_bench::kChildFlag) == 0) {
    return glps_bench::ChildPeakRss(argv[2], argv[3], argv[4], std::strtoll(argv[5], nullptr, 10),
                                    std::strtol(argv[6], nullptr, 10));
  }
  std::string tablePath;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--table=", 8) == 0) {
      tablePath = argv[i] + 8;
    } else {
      argv[kept++] = argv[i];
    }
  }
  argc = kept;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  CollectingReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  glps_bench::RemoveScratch();
  if (!tablePath.empty()) {
    std::ofstream out(tablePath, std::ios::trunc);
    out << Table(reporter);
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", tablePath.c_str());
      return 1;
    }
  }
  return 0;
}
