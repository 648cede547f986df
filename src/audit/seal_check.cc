// SPDX-License-Identifier: Apache-2.0
#include "audit/seal_check.h"

#include <algorithm>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "audit/file_check.h"
#include "crypto/md5_hash.h"
#include "crypto/seal_crypto.h"
#include "filemanager/file_manager_data.h"
#include "files/read_only_fingerprint.h"
#include "seal/seal_format.h"

namespace glps {
namespace audit {
namespace {

// A seal file is a line per save; one this large is not the library's.
const std::int64_t kMaxSealFileRead = std::int64_t{256} << 20;
// Seal N is checked under k_N, N derivations from the verification key. Seals are numbered one per
// line; a number can run ahead of the lines only by seals lost from the file. The check derives
// keys for seals numbered below the number of the file's lines plus this many lost seals; a seal
// numbered higher is reported unchecked, so that bytes anyone can append cannot cost millions of
// derivations.
const std::uint64_t kLostSealsAllowed = 1024;

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

std::string KindText(Glps::EFileType kind) {
  switch (kind) {
    case Glps::FileLog: return "a document";
    case Glps::FileMetaData: return "a sidecar";
    case Glps::FileLink: return "a linked file";
    default: return "a file of kind " + KECGlpsAudit::FileKindName(kind);
  }
}

// A document's sealed prefix, as one seal committed to it.
struct Checkpoint {
  std::int64_t size = 0;
  std::string md5;
  std::uint64_t seal = 0;
  std::string time;
};

// The fingerprint texts of a document's sealed prefixes, as far as its bytes reach, and its size.
struct PrefixDigests {
  std::vector<std::string> digests;  // one for each length sealed; empty beyond the file's end
  std::int64_t fileSize = -1;
};

// Fingerprints the prefixes of a file whose lengths `sizes` names (ascending, distinct) from its
// bytes, given in order, in one pass. Owned by its caller, for one file.
class PrefixDigester {
 public:
  PrefixDigester(const std::vector<std::int64_t>& sizes, std::vector<std::string>* digests)
      : m_sizes(sizes), m_digests(digests) {
    m_digests->assign(sizes.size(), std::string());
    TakeDue();
  }

  // The next `count` bytes of the file.
  void Update(const char* data, std::size_t count) {
    while (count > 0 && m_next < m_sizes.size()) {
      // No update crosses the next prefix's end, so its fingerprint can be taken there.
      const std::size_t part =
          static_cast<std::size_t>(std::min<std::int64_t>(count, m_sizes[m_next] - m_done));
      m_digest.Update(data, part);
      m_done += static_cast<std::int64_t>(part);
      data += part;
      count -= part;
      TakeDue();
    }
  }

  // Every prefix has its fingerprint.
  bool Complete() const { return m_next == m_sizes.size(); }
  // The bytes taken so far.
  std::int64_t Done() const { return m_done; }

 private:
  void TakeDue() {
    while (m_next < m_sizes.size() && m_sizes[m_next] <= m_done) {
      (*m_digests)[m_next++] = m_digest.FingerprintText();
    }
  }

  const std::vector<std::int64_t>& m_sizes;
  std::vector<std::string>* m_digests;
  crypto::Md5Hash m_digest;
  // Bytes taken; the prefixes before m_next have their fingerprints.
  std::int64_t m_done = 0;
  std::size_t m_next = 0;
};

// The sealed prefixes of the file `name`, read for them alone (up to the longest). False, with the
// reason, when the file cannot be read.
bool ReadPrefixDigests(const platform::Directory& directory, const std::string& name,
                       const std::vector<std::int64_t>& sizes, PrefixDigests* prefixes,
                       std::string* error) {
  platform::FileFacts facts;
  const platform::FileHandle file = platform::OpenReadOnly(directory, name, &facts);
  if (file == platform::kInvalidHandle) {
    *error = facts.kind == platform::FileFacts::Kind::kMissing ? "missing" : "cannot be read";
    return false;
  }
  PrefixDigester digester(sizes, &prefixes->digests);
  std::vector<char> buffer(65536);
  bool ok = true;
  while (!digester.Complete()) {
    const std::uint32_t ask = static_cast<std::uint32_t>(std::min<std::int64_t>(
        sizes.back() - digester.Done(), static_cast<std::int64_t>(buffer.size())));
    const platform::IoResult got = platform::Read(file, buffer.data(), ask);
    if (!got.first) {
      ok = false;
      *error = "a read failed";
      break;
    }
    if (got.second == 0) break;
    digester.Update(buffer.data(), got.second);
  }
  const std::int64_t size = platform::Size(file);
  platform::Close(file);
  if (!ok) return false;
  prefixes->fileSize = digester.Complete() ? std::max(size, digester.Done()) : digester.Done();
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

// The seals as walked at construction, and what Finish needs of them.
struct SealCheck::Walk {
  // A seal in file order.
  struct Walked {
    std::uint64_t number;
    std::string time;
    bool verified;
    KECGlpsLogInfo logXml;
  };
  // A document that seals sealed: every prefix every verified seal sealed, ordered by length and
  // seal, the distinct lengths among them, and their fingerprints once the document was read.
  struct SealedDocument {
    std::vector<Checkpoint> points;
    std::vector<std::int64_t> sizes;
    bool read = false;
    PrefixDigests prefixes;
  };
  // A file other than a document, as its last seal sealed it.
  struct LastSealed {
    seal::SealedFile file;
    std::uint64_t seal;
    bool verified;
  };
  // A verified seal: its number, time, place in file order and line.
  struct SealedBy {
    std::uint64_t seal = 0;
    std::string time;
    std::size_t position = 0;
    std::int64_t line = 0;
  };
  // A verified seal that bound log.xml's header and documents.
  struct Bound {
    SealedBy by;
    seal::LogBinding binding;
  };

  Walk(const platform::Directory& logDirectory, const KECGlpsAuditLogState& logState,
       KECGlpsAuditSeal* result)
      : directory(logDirectory),
        state(logState),
        report(result),
        documentNames(seal::DocumentNames(logState.m_vRecords)) {
    for (std::size_t i = 0; i < documentNames.size(); ++i) placeOf.emplace(documentNames[i], i);
  }

  void FailAt(std::size_t position) { firstFailing = std::min(firstFailing, position); }
  std::size_t PositionOf(std::uint64_t seal) const {
    const auto it = positionOf.find(seal);
    return it != positionOf.end() ? it->second : 0;
  }

  // Folds a seal line into the sealed state, keeping the sealed documents' places up to date.
  void Fold(const seal::SealLine& line);
  // At a verified seal: its documents must be log.xml's first documents.
  void CheckDocumentsAt(const SealedBy& by);
  // A finding about the documents as sealed; only the earliest seal's is kept.
  void NoteDocuments(const SealedBy& by, const std::string& text);
  // What every verified seal bound, against log.xml as read: the kind of every file it sealed,
  // its header, and its documents in their order.
  void CheckBindings();

  const platform::Directory& directory;
  const KECGlpsAuditLogState& state;
  SealReport report;
  std::vector<Walked> walked;
  // The file-order position (in `walked`) from which the seals are not intact.
  std::size_t firstFailing = SIZE_MAX;
  std::map<std::uint64_t, std::size_t> positionOf;
  seal::SealState sealed;
  std::map<std::string, SealedDocument> documents;
  std::map<std::string, LastSealed> others;
  // Keys derived from the verification key.
  std::uint64_t derivations = 0;

  // log.xml's documents in record order, and the place of each name (its first record).
  std::vector<std::string> documentNames;
  std::map<std::string, std::size_t> placeOf;
  // Each name with each kind that verified seals sealed it as, and the first such seal.
  std::map<std::pair<std::string, Glps::EFileType>, SealedBy> kinds;
  std::vector<Bound> bound;
  // The places in log.xml of the documents of the sealed state (SIZE_MAX for a name that is not
  // one of log.xml's documents); changed since a verified seal last looked at them.
  std::multiset<std::size_t> places;
  bool documentsChanged = false;
  // The earliest seal whose documents are not log.xml's first ones, and why.
  bool documentsFound = false;
  SealedBy documentsBy;
  std::string documentsText;
};

void SealCheck::Walk::Fold(const seal::SealLine& line) {
  const auto place = [this](const std::string& name) {
    const auto it = placeOf.find(name);
    return it != placeOf.end() ? it->second : SIZE_MAX;
  };
  const auto isDocument = [this](const std::string& name) {
    const auto it = sealed.find(name);
    return it != sealed.end() && it->second.kind == Glps::FileLog;
  };
  // Each name once, whatever the line holds.
  std::map<std::string, bool> wasDocument;
  for (const std::string& name : line.gone) wasDocument.emplace(name, isDocument(name));
  for (const seal::SealedFile& file : line.changed) {
    wasDocument.emplace(file.name, isDocument(file.name));
  }
  seal::FoldSeal(line, &sealed);
  for (const auto& [name, was] : wasDocument) {
    const bool is = isDocument(name);
    if (was == is) continue;
    documentsChanged = true;
    if (is) {
      places.insert(place(name));
    } else {
      places.erase(places.find(place(name)));
    }
  }
}

void SealCheck::Walk::NoteDocuments(const SealedBy& by, const std::string& text) {
  if (documentsFound && documentsBy.position <= by.position) return;
  documentsFound = true;
  documentsBy = by;
  documentsText = text;
}

void SealCheck::Walk::CheckDocumentsAt(const SealedBy& by) {
  // Seals come in file order: a finding held is of an earlier seal.
  if (!documentsChanged || documentsFound) return;
  documentsChanged = false;
  // The n documents sealed must be log.xml's first n: every one placed before n. A sealed document
  // that is none of log.xml's is a changed record, reported by its name.
  if (places.empty() || *places.rbegin() == SIZE_MAX || *places.rbegin() < places.size()) return;
  // Then one of log.xml's first n documents is not one of them, or repeats one.
  const std::size_t count = places.size();
  std::string found;
  for (std::size_t i = 0; i < count && found.empty(); ++i) {
    const std::string& name = documentNames[i];
    const auto it = sealed.find(name);
    if (it == sealed.end() || it->second.kind != Glps::FileLog) {
      found = name + ", which it did not seal (a document put or moved before the ones it sealed)";
    } else if (placeOf[name] != i) {
      found = name + " a second time";
    }
  }
  NoteDocuments(by, SealName(by.seal) + " (" + by.time + ") sealed " +
                        (count == 1 ? std::string("1 document, but log.xml's first is ")
                                    : std::to_string(count) + " documents, but log.xml's first " +
                                          std::to_string(count) + " include ") +
                        found);
}

void SealCheck::Walk::CheckBindings() {
  std::multimap<std::string, const KECGlpsFileManagerData*> records;
  for (const KECGlpsFileManagerData& record : state.m_vRecords) {
    records.emplace(record.m_strFileName, &record);
  }
  // Every file sealed keeps its name and kind and stays protected: the library never removes a
  // record of a sealed log, nor changes a record's kind.
  for (const auto& [sealedAs, by] : kinds) {
    const auto& [name, kind] = sealedAs;
    std::string found;
    bool recorded = false;
    const auto named = records.equal_range(name);
    for (auto it = named.first; it != named.second; ++it) {
      const KECGlpsFileManagerData& record = *it->second;
      recorded = true;
      if (record.m_eType != kind) {
        found = "recorded as " + KindText(record.m_eType);
      } else if (!record.m_bHashed) {
        found = "recorded unprotected";
      }
      if (!found.empty()) break;
    }
    if (!recorded) found = "no longer recorded in log.xml";
    if (found.empty()) continue;
    report.Add(Glps::eAuditSealRecordChanged, static_cast<std::int64_t>(by.seal), by.line, name, -1,
               "sealed as " + KindText(kind) + " by " + SealName(by.seal) + " (" + by.time +
                   "), but " + found,
               true);
    FailAt(by.position);
  }

  // The header and the documents in their order, as each seal that bound them bound them.
  const std::string header = seal::HeaderHash(state.m_header);
  std::vector<std::int64_t> counts;
  for (const Bound& seal : bound) counts.push_back(seal.binding.documents);
  const std::map<std::int64_t, std::string> hashes = seal::DocumentsHashes(documentNames, counts);
  bool headerReported = false;
  for (const Bound& seal : bound) {
    const SealedBy& by = seal.by;
    if (!headerReported && !seal.binding.header.empty() && seal.binding.header != header) {
      headerReported = true;
      report.Add(Glps::eAuditSealHeaderChanged, static_cast<std::int64_t>(by.seal), by.line,
                 "log.xml", -1,
                 "log.xml's header (content type and version, creation time and user, "
                 "modification, source, description, GUID) is not the one " +
                     SealName(by.seal) + " (" + by.time + ") sealed",
                 true);
      FailAt(by.position);
    }
    const std::int64_t count = seal.binding.documents;
    const auto hash = hashes.find(count);
    if (hash == hashes.end()) {
      NoteDocuments(by, SealName(by.seal) + " (" + by.time + ") sealed " + std::to_string(count) +
                            " documents, but log.xml records " +
                            std::to_string(documentNames.size()));
    } else if (hash->second != seal.binding.documentsHash) {
      NoteDocuments(by, (count == 1 ? std::string("log.xml's first document is not the one ")
                                    : "log.xml's first " + std::to_string(count) +
                                          " documents are not, in their order, the ones ") +
                            SealName(by.seal) + " (" + by.time + ") sealed");
    }
  }
  if (documentsFound) {
    report.Add(Glps::eAuditSealDocumentsChanged, static_cast<std::int64_t>(documentsBy.seal),
               documentsBy.line, "log.xml", -1, documentsText, true);
    FailAt(documentsBy.position);
  }
}

SealCheck::SealCheck(const platform::Directory& directory, const std::string& keyText,
                     const KECGlpsLogInfo& logXml, const KECGlpsAuditLogState& logState,
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
  m_pWalk.reset(new Walk(directory, logState, result));
  Walk& w = *m_pWalk;

  // The seals in file order, each under its own key, derived forward from k0, as far as the file's
  // length can account for.
  const std::uint64_t lineCount = file.lines.size() + (file.incompleteTail ? 1 : 0);
  const std::uint64_t derivableBelow = lineCount + kLostSealsAllowed;
  std::int64_t previous = -1;
  std::string previousTime;
  for (std::size_t i = 0; i < file.lines.size(); ++i) {
    const std::int64_t lineNumber = static_cast<std::int64_t>(i) + 2;
    seal::SealLine line;
    std::string text;
    if (!seal::ParseSealLine(file.lines[i], &line, &text)) {
      report.Add(Glps::eAuditSealMalformed, -1, lineNumber, seal::kSealFileName, -1,
                 "line " + std::to_string(lineNumber) + " is not a seal", true);
      w.FailAt(w.walked.size());
      continue;
    }
    const std::size_t position = w.walked.size();
    const std::int64_t number = static_cast<std::int64_t>(line.number);
    bool verified = false;
    if (number <= previous) {
      report.Add(Glps::eAuditSealOutOfOrder, number, lineNumber, seal::kSealFileName, -1,
                 SealName(line.number) + " follows " + SealName(previous) +
                     ": seals are numbered upwards, one per save",
                 true);
      w.FailAt(position);
    } else if (line.number >= derivableBelow) {
      report.Add(
          Glps::eAuditSealNumberTooHigh, number, lineNumber, seal::kSealFileName, -1,
          SealName(line.number) + " is numbered beyond what the seal file can account for (" +
              std::to_string(lineCount) + " lines): not checked, and the seals between are missing",
          true);
      w.FailAt(position);
      previous = number;
    } else {
      if (number > previous + 1) {
        report.Add(Glps::eAuditSealMissing, number, lineNumber, seal::kSealFileName, -1,
                   (number == previous + 2 ? SealName(previous + 1) + " is"
                                           : "seals " + std::to_string(previous + 1) + " to " +
                                                 std::to_string(number - 1) + " are") +
                       " missing before " + SealName(line.number) + ": removed from the seal file",
                   true);
        w.FailAt(position);
      }
      for (; w.derivations < line.number; ++w.derivations) seal::NextKey(key, &key);
      verified = crypto::EqualInConstantTime(seal::MacOf(key, logId, text), line.mac);
      if (!verified) {
        report.Add(Glps::eAuditSealBadMac, number, lineNumber, seal::kSealFileName, -1,
                   SealName(line.number) +
                       " does not verify: it was changed, or it is a seal of another log or "
                       "made with another key",
                   true);
        w.FailAt(position);
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
    w.positionOf.emplace(line.number, position);
    w.walked.push_back({line.number, line.time, verified, line.logXml});
    w.Fold(line);
    const Walk::SealedBy by{line.number, line.time, position, lineNumber};
    if (verified) {
      w.CheckDocumentsAt(by);
      if (line.bound) w.bound.push_back({by, line.binding});
    }
    for (const seal::SealedFile& sealed : line.changed) {
      if (!verified) {
        w.others.erase(sealed.name);
        continue;
      }
      w.kinds.emplace(std::make_pair(sealed.name, sealed.kind), by);
      if (sealed.kind == Glps::FileLog) {
        w.documents[sealed.name].points.push_back(
            {sealed.size, sealed.md5, line.number, line.time});
        continue;
      }
      const auto before = w.others.find(sealed.name);
      if (sealed.kind == Glps::FileLink && before != w.others.end() &&
          before->second.file.kind == Glps::FileLink && before->second.file != sealed) {
        report.Add(Glps::eAuditSealRelinked, number, lineNumber, sealed.name, -1,
                   "linked again with other content, sealed by " + SealName(line.number) + " (" +
                       line.time + "); " + SealName(before->second.seal) +
                       " sealed its earlier content",
                   false);
      }
      w.others[sealed.name] = {sealed, line.number, true};
    }
  }
  if (file.incompleteTail) {
    report.Add(Glps::eAuditSealIncompleteLine, -1, static_cast<std::int64_t>(file.lines.size()) + 2,
               seal::kSealFileName, -1,
               "the seal file ends in a line cut short: a save was interrupted while it sealed",
               false);
  }
  if (w.walked.empty()) {
    report.Add(Glps::eAuditSealMissing, -1, -1, seal::kSealFileName, -1,
               "the seal file holds no seal", true);
  }

  // log.xml and its records against the last seal.
  if (!w.walked.empty()) {
    const Walk::Walked& last = w.walked.back();
    result->m_bLogXmlCovered = last.verified && last.logXml == logXml;
    if (!result->m_bLogXmlCovered) {
      std::string text;
      if (!last.verified) {
        text = "the last seal does not verify, so no seal covers log.xml";
      } else {
        const auto older = std::find_if(
            w.walked.begin(), w.walked.end(),
            [&](const Walk::Walked& walked) { return walked.verified && walked.logXml == logXml; });
        text = older != w.walked.end()
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
      const seal::SealState recorded = seal::StateOfRecords(logState.m_vRecords, {});
      std::string differing;
      for (const auto& [name, entry] : recorded) {
        const auto it = w.sealed.find(name);
        if (it == w.sealed.end() || it->second.kind != entry.kind ||
            it->second.size != entry.size || it->second.md5 != entry.md5) {
          differing = name;
          break;
        }
      }
      for (const auto& [name, entry] : w.sealed) {
        if (differing.empty() && recorded.count(name) == 0) differing = name;
      }
      if (!differing.empty()) {
        report.Add(Glps::eAuditSealRecordsDiffer, static_cast<std::int64_t>(last.number), -1,
                   differing, -1,
                   "log.xml records this file otherwise than the last seal does, though the seal "
                   "covers log.xml",
                   true);
        w.FailAt(w.walked.size() - 1);
      }
    }
  }

  // What every seal bound of log.xml.
  w.CheckBindings();

  // The lengths sealed of each document, for the one pass over it.
  for (auto& [name, document] : w.documents) {
    std::sort(document.points.begin(), document.points.end(),
              [](const Checkpoint& a, const Checkpoint& b) {
                return a.size != b.size ? a.size < b.size : a.seal < b.seal;
              });
    for (const Checkpoint& point : document.points) {
      if (document.sizes.empty() || document.sizes.back() != point.size) {
        document.sizes.push_back(point.size);
      }
    }
  }
}

SealCheck::~SealCheck() = default;

std::uint64_t SealCheck::KeyDerivations() const { return m_pWalk ? m_pWalk->derivations : 0; }

void SealCheck::DocumentRead(const std::string& name, const std::string& bytes) {
  if (!m_pWalk) return;
  const auto found = m_pWalk->documents.find(name);
  if (found == m_pWalk->documents.end() || found->second.read) return;
  Walk::SealedDocument& document = found->second;
  PrefixDigester digester(document.sizes, &document.prefixes.digests);
  digester.Update(bytes.data(), bytes.size());
  document.prefixes.fileSize = static_cast<std::int64_t>(bytes.size());
  document.read = true;
}

void SealCheck::Finish() {
  if (!m_pWalk) return;
  Walk& w = *m_pWalk;
  SealReport& report = w.report;

  // Every document: each prefix every seal sealed, from the one read of it.
  for (auto& [name, document] : w.documents) {
    const std::vector<std::int64_t>& sizes = document.sizes;
    std::string readError;
    if (!document.read && IsPlainFileName(name)) {
      document.read = ReadPrefixDigests(w.directory, name, sizes, &document.prefixes, &readError);
    }
    if (!IsPlainFileName(name)) readError = "not a plain file name";
    const bool read = document.read;
    const std::vector<std::string>& digests = document.prefixes.digests;
    const std::int64_t fileSize = document.prefixes.fileSize;
    std::int64_t intactUpTo = 0;
    bool reported = false;
    for (const Checkpoint& point : document.points) {
      const std::size_t at = static_cast<std::size_t>(
          std::lower_bound(sizes.begin(), sizes.end(), point.size) - sizes.begin());
      const bool shortFile = !read || point.size > fileSize || point.size < 0;
      const bool matches = !shortFile && digests[at] == point.md5;
      if (matches) {
        intactUpTo = std::max(intactUpTo, point.size);
        continue;
      }
      w.FailAt(w.PositionOf(point.seal));
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
  for (const auto& [name, last] : w.others) {
    if (!last.verified || w.sealed.count(name) == 0) continue;
    const seal::SealedFile& sealed = last.file;
    const std::string seal = SealName(last.seal);
    std::string text;
    bool shortFile = false;
    if (!IsPlainFileName(name)) {
      text = "sealed by " + seal + ", but not a plain file name";
      shortFile = true;
    } else {
      crypto::Sha256Hash sha256;
      const FoundFile found = FingerprintReadOnly(w.directory, name, INT64_MAX, nullptr, nullptr,
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
    w.FailAt(w.PositionOf(last.seal));
  }

  if (report.m_seal->m_bKeyFile) {
    report.Add(Glps::eAuditSealKeyPresent, -1, -1, seal::kKeyFileName, -1,
               "the current sealing key lies in this directory: whoever has had this copy could "
               "add seals after the last one",
               false);
  }

  // Intact through the last seal before the first one that fails, in file order.
  std::size_t end = std::min(w.firstFailing, w.walked.size());
  while (end > 0 && !w.walked[end - 1].verified) --end;
  if (end > 0) {
    report.m_seal->m_nIntactThrough = static_cast<std::int64_t>(w.walked[end - 1].number);
    report.m_seal->m_strIntactThroughTime = w.walked[end - 1].time;
  }
}

}  // namespace audit
}  // namespace glps
