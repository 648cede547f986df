// SPDX-License-Identifier: Apache-2.0
#include "audit/seal_check.h"

#include <algorithm>
#include <map>
#include <set>
#include <vector>

#include "audit/file_check.h"
#include "filemanager/file_manager_data.h"
#include "files/md5_hash.h"
#include "files/read_only_fingerprint.h"
#include "files/seal_crypto.h"
#include "seal/seal_format.h"

namespace glps {
namespace audit {
namespace {

// A seal file is a line per save; one this large is not the library's.
const std::int64_t kMaxSealFileRead = std::int64_t{256} << 20;
// Seal numbers count saves. A seal numbered higher is not looked at: its key would take too long
// to derive.
const std::uint64_t kMaxSealNumber = 10000000;

// The seal file split into its lines: the header, the whole lines after it, and whether a line cut
// short ends it.
struct SealFileLines {
  std::string header;
  std::vector<std::string> lines;
  bool incompleteTail = false;
};

bool ReadSealFile(const platform::Directory& directory, SealFileLines* file, std::string* error) {
  std::string text;
  if (!ReadWhole(directory, seal::kSealFileName, &text, kMaxSealFileRead, error)) return false;
  std::size_t start = 0;
  bool first = true;
  for (;;) {
    const std::size_t end = text.find('\n', start);
    if (end == std::string::npos) break;
    std::string line = text.substr(start, end - start);
    if (first) {
      file->header = std::move(line);
      first = false;
    } else {
      file->lines.push_back(std::move(line));
    }
    start = end + 1;
  }
  file->incompleteTail = start < text.size();
  if (first) {
    *error = "it has no header line";
    return false;
  }
  return true;
}

std::string SealName(std::uint64_t number) { return "seal " + std::to_string(number); }

// A document's sealed prefix, as one seal committed to it.
struct Checkpoint {
  std::int64_t size = 0;
  std::string md5;
  std::uint64_t seal = 0;
  std::string time;
};

// The fingerprint text of every prefix of the file `name` whose length `sizes` (ascending,
// distinct) names, in one reading; `fileSize` receives the file's size. Prefixes longer than the
// file get no text. False, with the reason, when the file cannot be read.
bool PrefixDigests(const platform::Directory& directory, const std::string& name,
                   const std::vector<std::int64_t>& sizes, std::vector<std::string>* digests,
                   std::int64_t* fileSize, std::string* error) {
  digests->assign(sizes.size(), std::string());
  platform::FileFacts facts;
  const platform::FileHandle file = platform::OpenReadOnly(directory, name, &facts);
  if (file == platform::kInvalidHandle) {
    *error = facts.kind == platform::FileFacts::Kind::kMissing ? "missing" : "cannot be read";
    return false;
  }
  crypto::Md5Hash digest;
  std::vector<char> buffer(65536);
  std::int64_t done = 0;
  std::size_t next = 0;
  bool ok = true;
  while (next < sizes.size() && sizes[next] <= 0) (*digests)[next++] = digest.FingerprintText();
  while (ok && next < sizes.size()) {
    // No read crosses the next prefix's end, so its digest can be taken there.
    const std::int64_t left = sizes[next] - done;
    const std::uint32_t ask = static_cast<std::uint32_t>(
        std::min<std::int64_t>(left, static_cast<std::int64_t>(buffer.size())));
    const platform::IoResult got = platform::Read(file, buffer.data(), ask);
    if (!got.first) {
      ok = false;
      *error = "a read failed";
      break;
    }
    if (got.second == 0) break;
    digest.Update(buffer.data(), got.second);
    done += got.second;
    while (next < sizes.size() && sizes[next] == done) {
      (*digests)[next++] = digest.FingerprintText();
    }
  }
  std::int64_t size = platform::Size(file);
  platform::Close(file);
  if (!ok) return false;
  *fileSize = next < sizes.size() ? done : std::max(size, done);
  return true;
}

// Collects the findings and works out how far the seals are intact.
class SealReport {
 public:
  explicit SealReport(KECGlpsAuditSeal* seal) : m_seal(seal) {}

  void Add(Glps::EAuditSealFindingKind kind, std::int64_t sealNumber, std::int64_t line,
           const std::string& file, std::int64_t offset, const std::string& text, bool fails) {
    KECGlpsAuditSealFinding finding;
    finding.m_eKind = kind;
    finding.m_nSeal = sealNumber;
    finding.m_nLine = line;
    finding.m_strFile = file;
    finding.m_nOffset = offset;
    finding.m_strText = text;
    finding.m_bFails = fails;
    m_seal->m_vFindings.push_back(finding);
  }

  KECGlpsAuditSeal* m_seal;
};

}  // namespace

void DescribeSeals(const platform::Directory& directory, KECGlpsAuditSeal* seal) {
  *seal = KECGlpsAuditSeal();
  std::int64_t size = -1;
  seal->m_bKeyFile = !TypeOf(directory, seal::kKeyFileName, &size).empty();
  seal->m_bSealFile = !TypeOf(directory, seal::kSealFileName, &size).empty();
  if (!seal->m_bSealFile) return;
  SealFileLines file;
  std::string error;
  if (!ReadSealFile(directory, &file, &error)) return;
  seal::ParseHeaderLine(file.header, &seal->m_strLogId);
  for (const std::string& text : file.lines) {
    seal::SealLine line;
    if (!seal::ParseSealLine(text, &line, nullptr)) continue;
    ++seal->m_nSeals;
    seal->m_nLastSeal = static_cast<std::int64_t>(line.number);
    seal->m_strLastTime = line.time;
  }
}

void CheckSeals(const platform::Directory& directory, const std::string& keyText,
                const KECGlpsLogInfo& logXml, const std::vector<KECGlpsFileManagerData>& records,
                KECGlpsAuditSeal* result) {
  DescribeSeals(directory, result);
  result->m_bChecked = true;
  SealReport report(result);
  crypto::SecretKey key;
  if (!seal::ParseVerificationKey(keyText, &key)) {
    report.Add(Glps::eAuditSealWrongKey, -1, -1, "", -1,
               "the key given is not a verification key (64 hexadecimal digits)", true);
    return;
  }
  if (!result->m_bSealFile) {
    report.Add(Glps::eAuditSealNoSealFile, -1, -1, seal::kSealFileName, -1,
               "the log has no seal file: it was never sealed, or its seal file was removed", true);
    return;
  }
  SealFileLines file;
  std::string error;
  std::string logId;
  if (!ReadSealFile(directory, &file, &error) || !seal::ParseHeaderLine(file.header, &logId)) {
    report.Add(Glps::eAuditSealUnreadable, -1, -1, seal::kSealFileName, -1,
               error.empty() ? "its first line is not a seal file's header" : error, true);
    return;
  }
  const std::string keyLogId = seal::LogIdOf(key);
  if (logId != keyLogId) {
    report.Add(Glps::eAuditSealWrongKey, -1, 1, seal::kSealFileName, -1,
               "the key is not the one of this seal file (the seal file is of log " + logId +
                   ", the key of log " + keyLogId + "): a wrong key, or the seals of another log",
               true);
    return;
  }

  // The seals in file order, each under its own key, derived forward from k0.
  struct Walked {
    std::uint64_t number;
    std::string time;
    bool verified;
    KECGlpsLogInfo logXml;
  };
  std::vector<Walked> walked;
  // File-order positions (in `walked`) from which the seals are not intact.
  std::size_t firstFailing = SIZE_MAX;
  std::map<std::uint64_t, std::size_t> positionOf;
  std::uint64_t keyNumber = 0;
  std::int64_t previous = -1;
  std::string previousTime;
  seal::SealState state;
  // Documents: every prefix every verified seal sealed. Other files: their last sealed content.
  std::map<std::string, std::vector<Checkpoint>> checkpoints;
  struct LastSealed {
    seal::SealedFile file;
    std::uint64_t seal;
    bool verified;
  };
  std::map<std::string, LastSealed> others;
  const auto failAt = [&](std::size_t position) {
    firstFailing = std::min(firstFailing, position);
  };

  for (std::size_t i = 0; i < file.lines.size(); ++i) {
    const std::int64_t lineNumber = static_cast<std::int64_t>(i) + 2;
    seal::SealLine line;
    std::string text;
    if (!seal::ParseSealLine(file.lines[i], &line, &text) || line.number > kMaxSealNumber) {
      report.Add(Glps::eAuditSealMalformed, -1, lineNumber, seal::kSealFileName, -1,
                 "line " + std::to_string(lineNumber) + " is not a seal", true);
      failAt(walked.size());
      continue;
    }
    const std::size_t position = walked.size();
    const std::int64_t number = static_cast<std::int64_t>(line.number);
    bool verified = false;
    if (number <= previous) {
      report.Add(Glps::eAuditSealOutOfOrder, number, lineNumber, seal::kSealFileName, -1,
                 SealName(line.number) + " follows " + SealName(previous) +
                     ": seals are numbered upwards, one per save",
                 true);
      failAt(position);
    } else {
      if (number > previous + 1) {
        report.Add(Glps::eAuditSealMissing, number, lineNumber, seal::kSealFileName, -1,
                   (number == previous + 2 ? SealName(previous + 1) + " is"
                                           : "seals " + std::to_string(previous + 1) + " to " +
                                                 std::to_string(number - 1) + " are") +
                       " missing before " + SealName(line.number) + ": removed from the seal file",
                   true);
        failAt(position);
      }
      for (; keyNumber < line.number; ++keyNumber) seal::NextKey(key, &key);
      verified = crypto::EqualInConstantTime(seal::MacOf(key, logId, text), line.mac);
      if (!verified) {
        report.Add(Glps::eAuditSealBadMac, number, lineNumber, seal::kSealFileName, -1,
                   SealName(line.number) +
                       " does not verify: it was changed, or it is a seal of another log or "
                       "made with another key",
                   true);
        failAt(position);
      } else if (!previousTime.empty() && line.time < previousTime) {
        report.Add(Glps::eAuditSealClockBack, number, lineNumber, seal::kSealFileName, -1,
                   SealName(line.number) + " at " + line.time +
                       " is dated before the seal before it (" + previousTime +
                       "): the computer's clock was set back",
                   false);
      }
      previous = number;
      if (verified) previousTime = line.time;
    }
    positionOf.emplace(line.number, position);
    walked.push_back({line.number, line.time, verified, line.logXml});
    seal::FoldSeal(line, &state);
    for (const seal::SealedFile& sealed : line.changed) {
      if (!verified) {
        others.erase(sealed.name);
        continue;
      }
      if (sealed.kind == Glps::FileLog) {
        checkpoints[sealed.name].push_back({sealed.size, sealed.md5, line.number, line.time});
        continue;
      }
      const auto before = others.find(sealed.name);
      if (sealed.kind == Glps::FileLink && before != others.end() &&
          before->second.file.kind == Glps::FileLink && before->second.file != sealed) {
        report.Add(Glps::eAuditSealRelinked, number, lineNumber, sealed.name, -1,
                   "linked again with other content, sealed by " + SealName(line.number) + " (" +
                       line.time + "); " + SealName(before->second.seal) +
                       " sealed its earlier content",
                   false);
      }
      others[sealed.name] = {sealed, line.number, true};
    }
  }
  if (file.incompleteTail) {
    report.Add(Glps::eAuditSealIncompleteLine, -1, static_cast<std::int64_t>(file.lines.size()) + 2,
               seal::kSealFileName, -1,
               "the seal file ends in a line cut short: a save was interrupted while it sealed",
               false);
  }
  if (walked.empty()) {
    report.Add(Glps::eAuditSealMissing, -1, -1, seal::kSealFileName, -1,
               "the seal file holds no seal", true);
  }

  // log.xml and its records against the last seal.
  if (!walked.empty()) {
    const Walked& last = walked.back();
    result->m_bLogXmlCovered = last.verified && last.logXml == logXml;
    if (!result->m_bLogXmlCovered) {
      std::string text;
      if (!last.verified) {
        text = "the last seal does not verify, so no seal covers log.xml";
      } else {
        const auto older = std::find_if(walked.begin(), walked.end(), [&](const Walked& w) {
          return w.verified && w.logXml == logXml;
        });
        text = older != walked.end()
                   ? "log.xml is the one " + SealName(older->number) +
                         " sealed, not the one of the last seal (" + SealName(last.number) + ")"
                   : "log.xml is not the one the last seal (" + SealName(last.number) + ", " +
                         last.time +
                         ") sealed: it was written after the last seal (an unsealed tail) or "
                         "changed";
      }
      report.Add(Glps::eAuditSealLogXmlNotCovered, static_cast<std::int64_t>(last.number), -1,
                 "log.xml", -1, text, true);
    } else {
      const seal::SealState recorded = seal::StateOfRecords(records, {});
      std::string differing;
      for (const auto& [name, entry] : recorded) {
        const auto it = state.find(name);
        if (it == state.end() || it->second.kind != entry.kind || it->second.size != entry.size ||
            it->second.md5 != entry.md5) {
          differing = name;
          break;
        }
      }
      for (const auto& [name, entry] : state) {
        if (differing.empty() && recorded.count(name) == 0) differing = name;
      }
      if (!differing.empty()) {
        report.Add(Glps::eAuditSealRecordsDiffer, static_cast<std::int64_t>(last.number), -1,
                   differing, -1,
                   "log.xml records this file otherwise than the last seal does, though the seal "
                   "covers log.xml",
                   true);
        failAt(walked.size() - 1);
      }
    }
  }

  // Every document: each prefix every seal sealed, in one pass.
  for (auto& [name, points] : checkpoints) {
    std::sort(points.begin(), points.end(), [](const Checkpoint& a, const Checkpoint& b) {
      return a.size != b.size ? a.size < b.size : a.seal < b.seal;
    });
    std::vector<std::int64_t> sizes;
    for (const Checkpoint& point : points) {
      if (sizes.empty() || sizes.back() != point.size) sizes.push_back(point.size);
    }
    std::vector<std::string> digests;
    std::int64_t fileSize = -1;
    std::string readError;
    const bool read = IsPlainFileName(name) &&
                      PrefixDigests(directory, name, sizes, &digests, &fileSize, &readError);
    if (!IsPlainFileName(name)) readError = "not a plain file name";
    std::int64_t intactUpTo = 0;
    bool reported = false;
    for (const Checkpoint& point : points) {
      const std::size_t at = static_cast<std::size_t>(
          std::lower_bound(sizes.begin(), sizes.end(), point.size) - sizes.begin());
      const bool shortFile = !read || point.size > fileSize || point.size < 0;
      const bool matches = !shortFile && digests[at] == point.md5;
      if (matches) {
        intactUpTo = std::max(intactUpTo, point.size);
        continue;
      }
      failAt(positionOf.count(point.seal) ? positionOf[point.seal] : 0);
      if (reported) continue;
      reported = true;
      if (!read) {
        report.Add(Glps::eAuditSealFileShort, static_cast<std::int64_t>(point.seal), -1, name, -1,
                   "sealed by " + SealName(point.seal) + " (" + point.time + "), but " + readError,
                   true);
      } else if (shortFile) {
        report.Add(
            Glps::eAuditSealFileShort, static_cast<std::int64_t>(point.seal), -1, name, fileSize,
            "is " + std::to_string(fileSize) + " bytes long, but " + SealName(point.seal) + " (" +
                point.time + ") sealed its first " + std::to_string(point.size) + " bytes",
            true);
      } else {
        report.Add(Glps::eAuditSealPrefixChanged, static_cast<std::int64_t>(point.seal), -1, name,
                   intactUpTo,
                   "bytes changed between byte " + std::to_string(intactUpTo) + " and byte " +
                       std::to_string(point.size) + ": its first " + std::to_string(point.size) +
                       " bytes are not the ones " + SealName(point.seal) + " (" + point.time +
                       ") sealed",
                   true);
      }
    }
  }

  // Every other sealed file (sidecars, linked files): as its last seal says.
  for (const auto& [name, last] : others) {
    if (!last.verified || state.count(name) == 0) continue;
    const seal::SealedFile& sealed = last.file;
    const std::string seal = SealName(last.seal);
    std::string text;
    bool shortFile = false;
    if (!IsPlainFileName(name)) {
      text = "sealed by " + seal + ", but not a plain file name";
      shortFile = true;
    } else {
      crypto::Sha256Hash sha256;
      const FoundFile found = FingerprintReadOnly(directory, name, INT64_MAX, nullptr, nullptr,
                                                  nullptr, nullptr, INT64_MAX, &sha256);
      const std::string foundSha256 = sha256.FinishText();
      if (found.state != FoundFile::State::kRegular) {
        text = "sealed by " + seal + ", but " +
               (found.state == FoundFile::State::kMissing ? "missing" : "not a readable file");
        shortFile = true;
      } else if (found.size != sealed.size || found.hash != sealed.md5) {
        text = "is " + std::to_string(found.size) + " bytes with MD5 " + found.hash + "; " + seal +
               " sealed " + std::to_string(sealed.size) + " bytes with MD5 " +
               (sealed.md5.empty() ? std::string("(none)") : sealed.md5);
      } else if (!sealed.sha256.empty() && foundSha256 != sealed.sha256) {
        text = "its size and MD5 are as " + seal +
               " sealed them, but not its SHA-256: another file with the same MD5 (a collision)";
      } else {
        continue;
      }
    }
    report.Add(shortFile ? Glps::eAuditSealFileShort : Glps::eAuditSealFileChanged,
               static_cast<std::int64_t>(last.seal), -1, name, -1, text, true);
    failAt(positionOf.count(last.seal) ? positionOf[last.seal] : 0);
  }

  if (result->m_bKeyFile) {
    report.Add(Glps::eAuditSealKeyPresent, -1, -1, seal::kKeyFileName, -1,
               "the current sealing key lies in this directory: whoever has had this copy could "
               "add seals after the last one",
               false);
  }

  // Intact through the last seal before the first one that fails, in file order.
  std::size_t end = std::min(firstFailing, walked.size());
  while (end > 0 && !walked[end - 1].verified) --end;
  if (end > 0) {
    result->m_nIntactThrough = static_cast<std::int64_t>(walked[end - 1].number);
    result->m_strIntactThroughTime = walked[end - 1].time;
  }
}

}  // namespace audit
}  // namespace glps
