// SPDX-License-Identifier: Apache-2.0
#include "audit/seal_check.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <string_view>
#include <utility>
#include <vector>

#include "audit/file_check.h"
#include "crypto/md5_hash.h"
#include "crypto/seal_crypto.h"
#include "filemanager/file_manager_data.h"
#include "filemanager/record_set.h"
#include "files/read_only_fingerprint.h"
#include "seal/seal_format.h"

namespace glps {
namespace audit {
namespace {

// A seal file is a line per save; one this large is not the library's.
const std::int64_t kMaxSealFileRead = std::int64_t{256} << 20;
// Seal N is checked under k_N, N derivations from the verification key. Seals are numbered one per
// line; a number can run ahead of the seals only by seals lost from the file. The check derives
// keys for seals numbered below the number of the file's well-formed seal lines plus this many
// lost seals; a seal numbered higher is reported unchecked, so that bytes anyone can append (lines
// that are not seals among them) cannot cost millions of derivations.
const std::uint64_t kLostSealsAllowed = 1024;
// The library never removes a record of a sealed log, so every name its seals sealed is among
// log.xml's protected records. The check follows at most that many names and this many more (room
// for records a damaged log.xml lost); a seal that lists more stops the check there, so that its
// memory and work are bounded by log.xml's, whatever the seal file holds.
const std::size_t kLostRecordsAllowed = 1024;
// Findings of one kind listed; the others are counted in one more finding of the kind.
const std::size_t kListedPerKind = 16;

// The seal file's text, read once; its lines are read in place.
class SealFileText {
 public:
  // False, with the reason, when the file cannot be read or has no header line.
  bool Read(const platform::Directory& directory, std::string* error) {
    if (!ReadWhole(directory, seal::kSealFileName, &m_text, kMaxSealFileRead, error)) return false;
    const std::size_t headerEnd = m_text.find('\n');
    if (headerEnd == std::string::npos) {
      *error = "it has no header line";
      return false;
    }
    m_header = std::string_view(m_text).substr(0, headerEnd);
    m_bodyStart = headerEnd + 1;
    m_wholeEnd = m_text.rfind('\n') + 1;
    m_lines = static_cast<std::size_t>(
        std::count(m_text.begin() + static_cast<std::ptrdiff_t>(m_bodyStart), m_text.end(), '\n'));
    return true;
  }

  std::string_view Header() const { return m_header; }
  // The whole lines after the header.
  std::size_t LineCount() const { return m_lines; }
  // The file ends in a line cut short.
  bool IncompleteTail() const { return m_wholeEnd < m_text.size(); }
  // Calls `visit(line, index)` for each whole line after the header, in order, while it returns
  // true.
  template <typename Visit>
  void ForEachLine(Visit visit) const {
    const std::string_view text(m_text);
    std::size_t index = 0;
    for (std::size_t start = m_bodyStart; start < m_wholeEnd; ++index) {
      const std::size_t end = text.find('\n', start);
      if (!visit(text.substr(start, end - start), index)) return;
      start = end + 1;
    }
  }

 private:
  std::string m_text;
  std::string_view m_header;
  std::size_t m_bodyStart = 0;
  std::size_t m_wholeEnd = 0;
  std::size_t m_lines = 0;
};

// The seals as the seal file counts them (none of it verified).
void DescribeSealText(const SealFileText& file, KECGlpsAuditSeal* seal) {
  seal::ParseHeaderLine(file.Header(), &seal->m_strLogId);
  seal::SealLine line;
  file.ForEachLine([&](std::string_view text, std::size_t) {
    if (seal::ParseSealLine(text, &line, nullptr, false)) {
      ++seal->m_nSeals;
      seal->m_nLastSeal = static_cast<std::int64_t>(line.number);
      seal->m_strLastTime = line.time;
    }
    return true;
  });
}

// Which of the sealing files the directory holds.
void FindSealingFiles(const platform::Directory& directory, KECGlpsAuditSeal* seal) {
  std::int64_t size = -1;
  seal->m_bKeyFile = !TypeOf(directory, seal::kKeyFileName, &size).empty();
  seal->m_bSealFile = !TypeOf(directory, seal::kSealFileName, &size).empty();
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

// Collects the findings: the first few of each kind, then only their number.
class SealReport {
 public:
  explicit SealReport(KECGlpsAuditSeal* seal) : m_seal(seal) {}

  void Add(Glps::EAuditSealFindingKind kind, std::int64_t sealNumber, std::int64_t line,
           const std::string& file, std::int64_t offset, const std::string& text, bool fails) {
    std::size_t& listed = m_listed[kind];
    if (listed == kListedPerKind) {
      Unlisted& unlisted = m_unlisted[kind];
      ++unlisted.count;
      unlisted.fails = unlisted.fails || fails;
      return;
    }
    ++listed;
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

  // For each kind with findings not listed, one finding that counts them.
  void CountUnlisted() {
    for (const auto& [kind, unlisted] : m_unlisted) {
      KECGlpsAuditSealFinding finding;
      finding.m_eKind = kind;
      finding.m_strText =
          std::to_string(unlisted.count) + " more findings of this kind, not listed";
      finding.m_bFails = unlisted.fails;
      m_seal->m_vFindings.push_back(finding);
    }
    m_unlisted.clear();
  }

  KECGlpsAuditSeal* m_seal;

 private:
  struct Unlisted {
    std::size_t count = 0;
    bool fails = false;
  };
  std::map<Glps::EAuditSealFindingKind, std::size_t> m_listed;
  std::map<Glps::EAuditSealFindingKind, Unlisted> m_unlisted;
};

}  // namespace

void DescribeSeals(const platform::Directory& directory, KECGlpsAuditSeal* seal) {
  *seal = KECGlpsAuditSeal();
  FindSealingFiles(directory, seal);
  if (!seal->m_bSealFile) return;
  SealFileText file;
  std::string error;
  if (file.Read(directory, &error)) DescribeSealText(file, seal);
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
  // A document's size as a verified seal sealed it, and that seal.
  struct SealedSize {
    std::int64_t size = 0;
    SealedBy by;
  };

  Walk(const platform::Directory& logDirectory, const KECGlpsAuditLogState& logState,
       KECGlpsAuditSeal* result)
      : directory(logDirectory), state(logState), report(result) {
    std::size_t protectedRecords = 0;
    for (const KECGlpsFileManagerData& record : logState.m_vRecords) {
      protectedRecords += record.m_bHashed ? 1 : 0;
      if (record.m_eType != Glps::FileLog) continue;
      placeOf.emplace(record.m_strFileName, documentNames.size());
      documentNames.push_back(record.m_strFileName);
      soundDocument.push_back(CheckRecordAlone(record) == RecordFault::kNone);
    }
    namesAllowed = protectedRecords + kLostRecordsAllowed;
  }

  void FailAt(std::size_t position) { firstFailing = std::min(firstFailing, position); }
  std::size_t PositionOf(std::uint64_t seal) const {
    const auto it = positionOf.find(seal);
    return it != positionOf.end() ? it->second : 0;
  }
  const std::string& TimeOf(std::uint64_t seal) const { return walked[PositionOf(seal)].time; }
  std::size_t PlaceOf(const std::string& name) const {
    const auto it = placeOf.find(name);
    return it != placeOf.end() ? it->second : SIZE_MAX;
  }

  // Folds a seal line into the sealed state, keeping the sealed documents' places up to date.
  // False when the names sealed would then be more than log.xml can account for (nothing more is
  // to be folded then).
  bool Fold(const seal::SealLine& line);
  // At a verified seal: a document it seals shorter than before, or a closed document it seals at
  // another size, is reported; the documents it seals before the one the library writes on are
  // closed, at the sizes it seals.
  void CheckSizesAt(const seal::SealLine& line, const SealedBy& by);
  // At a verified seal: its documents must be log.xml's first documents.
  void CheckDocumentsAt(const SealedBy& by);
  // A finding about the documents as sealed; only the earliest seal's is kept.
  void NoteDocuments(const SealedBy& by, const std::string& text);
  // What every verified seal bound, against log.xml as read: the one record and the kind of every
  // file it sealed, its header, and its documents in their order.
  void CheckBindings();

  const platform::Directory& directory;
  const KECGlpsAuditLogState& state;
  SealReport report;
  std::vector<Walked> walked;
  // The file-order position (in `walked`) from which the seals are not intact.
  std::size_t firstFailing = SIZE_MAX;
  // A seal listed more files than log.xml can account for: the walk stopped before it.
  bool stopped = false;
  std::map<std::uint64_t, std::size_t> positionOf;
  seal::SealState sealed;
  std::map<std::string, SealedDocument> documents;
  std::map<std::string, LastSealed> others;
  // Keys derived from the verification key.
  std::uint64_t derivations = 0;
  // Names folded into `sealed` that it did not hold, and how many it may take in all.
  std::size_t namesSealed = 0;
  std::size_t namesAllowed = 0;

  // log.xml's documents in record order, the place of each name (its first record), and whether
  // each record keeps the rules by itself (the library writes only on such a document).
  std::vector<std::string> documentNames;
  std::map<std::string, std::size_t> placeOf;
  std::vector<bool> soundDocument;
  // Each name with the kinds that verified seals sealed it as (two at most: a second one is a
  // finding already), each with the first such seal.
  std::map<std::string, std::vector<std::pair<Glps::EFileType, SealedBy>>> kinds;
  std::vector<Bound> bound;
  // The places in log.xml of the documents of the sealed state (SIZE_MAX for a name that is not
  // one of log.xml's documents), and of those among them that keep the rules; changed since a
  // verified seal last looked at them.
  std::multiset<std::size_t> places;
  std::multiset<std::size_t> soundPlaces;
  bool documentsChanged = false;
  // The earliest seal whose documents are not log.xml's first ones, and why.
  bool documentsFound = false;
  SealedBy documentsBy;
  std::string documentsText;
  // The documents that became documents of the sealed state since the last verified seal, the one
  // the library wrote on at that seal (its last sound document), and the documents closed so far.
  std::vector<std::string> newDocuments;
  std::string lastDocument;
  std::map<std::string, SealedSize> closed;
  // The longest prefix of each document that a verified seal sealed, and the first seal of it.
  std::map<std::string, SealedSize> longest;
  std::set<std::string> resizedReported;
};

bool SealCheck::Walk::Fold(const seal::SealLine& line) {
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
  // As seal::FoldSeal, counting the names new to the state.
  for (const seal::SealedFile& file : line.changed) {
    if (sealed.insert_or_assign(file.name, file).second) ++namesSealed;
  }
  for (const std::string& name : line.gone) sealed.erase(name);
  if (namesSealed > namesAllowed) return false;
  for (const auto& [name, was] : wasDocument) {
    const bool is = isDocument(name);
    if (was == is) continue;
    documentsChanged = true;
    const std::size_t place = PlaceOf(name);
    const bool sound = place != SIZE_MAX && soundDocument[place];
    if (is) {
      places.insert(place);
      if (sound) soundPlaces.insert(place);
      newDocuments.push_back(name);
    } else {
      places.erase(places.find(place));
      if (sound) soundPlaces.erase(soundPlaces.find(place));
    }
  }
  return true;
}

void SealCheck::Walk::CheckSizesAt(const seal::SealLine& line, const SealedBy& by) {
  // The library only appends to a document, and writes only on the last document of its records
  // that keeps the rules, starting a new one after it: so no seal seals a document shorter than a
  // seal before it did, and every other document keeps the size it was sealed at once a later one
  // was sealed. Either would let a later seal cut the trail where no save ended, or add to a
  // document that the trail has left.
  for (const seal::SealedFile& file : line.changed) {
    if (file.kind != Glps::FileLog) continue;
    const auto before = longest.find(file.name);
    const auto was = closed.find(file.name);
    std::string found;
    if (was != closed.end() && was->second.size != file.size) {
      found = SealName(was->second.by.seal) + " (" + was->second.by.time + ") sealed it at " +
              std::to_string(was->second.size) +
              " bytes with a later document, which the library then wrote on instead";
    } else if (before != longest.end() && file.size < before->second.size) {
      found = SealName(before->second.by.seal) + " (" + before->second.by.time + ") sealed it at " +
              std::to_string(before->second.size) + " bytes, and a document only grows";
    }
    if (before == longest.end() || file.size > before->second.size) {
      longest[file.name] = SealedSize{file.size, by};
    }
    if (found.empty() || !resizedReported.insert(file.name).second) continue;
    report.Add(Glps::eAuditSealDocumentResized, static_cast<std::int64_t>(by.seal), by.line,
               file.name, -1,
               found + ", but " + SealName(by.seal) + " (" + by.time + ") seals it at " +
                   std::to_string(file.size) + " bytes",
               true);
    FailAt(by.position);
  }
  const std::string last =
      soundPlaces.empty() ? std::string() : documentNames[*soundPlaces.rbegin()];
  // The documents sealed before and not written on then are closed already: only the one written
  // on then and the documents new since can be closed now.
  if (!lastDocument.empty()) newDocuments.push_back(lastDocument);
  for (const std::string& name : newDocuments) {
    const auto it = sealed.find(name);
    if (name == last || it == sealed.end() || it->second.kind != Glps::FileLog) continue;
    closed.emplace(name, SealedSize{it->second.size, by});
  }
  newDocuments.clear();
  lastDocument = last;
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
  // Every file sealed keeps its one record, its name and kind, and stays protected: the library
  // never removes a record of a sealed log, nor adds a second one of a name, nor changes a
  // record's kind.
  for (const auto& [name, sealedKinds] : kinds) {
    const auto named = records.equal_range(name);
    const std::size_t count = static_cast<std::size_t>(std::distance(named.first, named.second));
    for (const auto& [kind, by] : sealedKinds) {
      std::string found;
      if (count == 0) {
        found = "no longer recorded in log.xml";
      } else if (count > 1) {
        found = "recorded " + std::to_string(count) + " times";
      } else if (named.first->second->m_eType != kind) {
        found = "recorded as " + KindText(named.first->second->m_eType);
      } else if (!named.first->second->m_bHashed) {
        found = "recorded unprotected";
      }
      if (found.empty()) continue;
      report.Add(Glps::eAuditSealRecordChanged, static_cast<std::int64_t>(by.seal), by.line, name,
                 -1,
                 "sealed as " + KindText(kind) + " by " + SealName(by.seal) + " (" + by.time +
                     "), but " + found,
                 true);
      FailAt(by.position);
    }
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
  *result = KECGlpsAuditSeal();
  FindSealingFiles(directory, result);
  result->m_bChecked = true;
  // The seal file is read once: what is counted of it is what is checked.
  SealFileText file;
  std::string error;
  const bool read = result->m_bSealFile && file.Read(directory, &error);
  if (read) DescribeSealText(file, result);
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
  std::string logId;
  if (!read || !seal::ParseHeaderLine(file.Header(), &logId)) {
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

  // The seals in file order, each under its own key, derived forward from k0, as far as the
  // well-formed seal lines can account for.
  const std::uint64_t seals = static_cast<std::uint64_t>(result->m_nSeals);
  const std::uint64_t derivableBelow = seals + kLostSealsAllowed;
  std::int64_t previous = -1;
  std::string previousTime;
  const auto tooLarge = [&w](std::int64_t number, std::int64_t lineNumber,
                             const std::string& what) {
    w.report.Add(Glps::eAuditSealTooLarge, number, lineNumber, seal::kSealFileName, -1,
                 what + " more files than log.xml's records can account for (" +
                     std::to_string(w.namesAllowed - kLostRecordsAllowed) +
                     " protected records, and room for " + std::to_string(kLostRecordsAllowed) +
                     " lost ones): it and the seals after it are not checked",
                 true);
    w.FailAt(w.walked.size());
    w.stopped = true;
  };
  seal::SealLine line;
  std::string text;
  file.ForEachLine([&](std::string_view lineText, std::size_t i) {
    const std::int64_t lineNumber = static_cast<std::int64_t>(i) + 2;
    // A line with more fields than files can be sealed is not even read for them.
    const std::size_t blanks =
        static_cast<std::size_t>(std::count(lineText.begin(), lineText.end(), ' '));
    if (blanks > w.namesAllowed + 5) {
      tooLarge(-1, lineNumber, "line " + std::to_string(lineNumber) + " lists");
      return false;
    }
    if (!seal::ParseSealLine(lineText, &line, &text)) {
      w.report.Add(Glps::eAuditSealMalformed, -1, lineNumber, seal::kSealFileName, -1,
                   "line " + std::to_string(lineNumber) + " is not a seal", true);
      w.FailAt(w.walked.size());
      return true;
    }
    const std::size_t position = w.walked.size();
    const std::int64_t number = static_cast<std::int64_t>(line.number);
    bool verified = false;
    if (number <= previous) {
      w.report.Add(Glps::eAuditSealOutOfOrder, number, lineNumber, seal::kSealFileName, -1,
                   SealName(line.number) + " follows " + SealName(previous) +
                       ": seals are numbered upwards, one per save",
                   true);
      w.FailAt(position);
    } else if (line.number >= derivableBelow) {
      w.report.Add(Glps::eAuditSealNumberTooHigh, number, lineNumber, seal::kSealFileName, -1,
                   SealName(line.number) +
                       " is numbered beyond what the seal file can account for (" +
                       std::to_string(seals) +
                       " seal lines): not checked, and the seals between are missing",
                   true);
      w.FailAt(position);
      previous = number;
    } else {
      if (number > previous + 1) {
        w.report.Add(Glps::eAuditSealMissing, number, lineNumber, seal::kSealFileName, -1,
                     (number == previous + 2 ? SealName(previous + 1) + " is"
                                             : "seals " + std::to_string(previous + 1) + " to " +
                                                   std::to_string(number - 1) + " are") +
                         " missing before " + SealName(line.number) +
                         ": removed from the seal file",
                     true);
        w.FailAt(position);
      }
      for (; w.derivations < line.number; ++w.derivations) seal::NextKey(key, &key);
      verified = crypto::EqualInConstantTime(seal::MacOf(key, logId, text), line.mac);
      if (!verified) {
        w.report.Add(Glps::eAuditSealBadMac, number, lineNumber, seal::kSealFileName, -1,
                     SealName(line.number) +
                         " does not verify: it was changed, or it is a seal of another log or "
                         "made with another key",
                     true);
        w.FailAt(position);
      } else if (!previousTime.empty() && line.time < previousTime) {
        w.report.Add(Glps::eAuditSealClockBack, number, lineNumber, seal::kSealFileName, -1,
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
    if (!w.Fold(line)) {
      tooLarge(number, lineNumber,
               SealName(line.number) + " (line " + std::to_string(lineNumber) +
                   ") and the seals before it seal");
      w.FailAt(position);
      return false;
    }
    const Walk::SealedBy by{line.number, line.time, position, lineNumber};
    if (verified) {
      w.CheckSizesAt(line, by);
      w.CheckDocumentsAt(by);
      if (line.bound) w.bound.push_back({by, line.binding});
    }
    for (const seal::SealedFile& sealed : line.changed) {
      if (!verified) {
        w.others.erase(sealed.name);
        continue;
      }
      std::vector<std::pair<Glps::EFileType, Walk::SealedBy>>& sealedKinds = w.kinds[sealed.name];
      const bool known = std::any_of(sealedKinds.begin(), sealedKinds.end(),
                                     [&](const auto& entry) { return entry.first == sealed.kind; });
      if (!known && sealedKinds.size() < 2) sealedKinds.emplace_back(sealed.kind, by);
      if (sealed.kind == Glps::FileLog) {
        w.documents[sealed.name].points.push_back({sealed.size, sealed.md5, line.number});
        continue;
      }
      const auto before = w.others.find(sealed.name);
      if (sealed.kind == Glps::FileLink && before != w.others.end() &&
          before->second.file.kind == Glps::FileLink && before->second.file != sealed) {
        w.report.Add(Glps::eAuditSealRelinked, number, lineNumber, sealed.name, -1,
                     "linked again with other content, sealed by " + SealName(line.number) + " (" +
                         line.time + "); " + SealName(before->second.seal) +
                         " sealed its earlier content",
                     false);
      }
      w.others[sealed.name] = {sealed, line.number, true};
    }
    return true;
  });
  if (file.IncompleteTail() && !w.stopped) {
    w.report.Add(Glps::eAuditSealIncompleteLine, -1,
                 static_cast<std::int64_t>(file.LineCount()) + 2, seal::kSealFileName, -1,
                 "the seal file ends in a line cut short: a save was interrupted while it sealed",
                 false);
  }
  if (w.walked.empty() && !w.stopped) {
    w.report.Add(Glps::eAuditSealMissing, -1, -1, seal::kSealFileName, -1,
                 "the seal file holds no seal", true);
  }

  // log.xml and its records against the last seal; when the walk stopped, no seal checked is the
  // last.
  if (!w.walked.empty() && !w.stopped) {
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
      w.report.Add(Glps::eAuditSealLogXmlNotCovered, static_cast<std::int64_t>(last.number), -1,
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
        w.report.Add(Glps::eAuditSealRecordsDiffer, static_cast<std::int64_t>(last.number), -1,
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

const std::vector<std::int64_t>* SealCheck::SealedSizes(const std::string& name) const {
  if (!m_pWalk) return nullptr;
  const auto found = m_pWalk->documents.find(name);
  return found != m_pWalk->documents.end() ? &found->second.sizes : nullptr;
}

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
                   "sealed by " + SealName(point.seal) + " (" + w.TimeOf(point.seal) + "), but " +
                       readError,
                   true);
      } else if (shortFile) {
        report.Add(Glps::eAuditSealFileShort, static_cast<std::int64_t>(point.seal), -1, name,
                   fileSize,
                   "is " + std::to_string(fileSize) + " bytes long, but " + SealName(point.seal) +
                       " (" + w.TimeOf(point.seal) + ") sealed its first " +
                       std::to_string(point.size) + " bytes",
                   true);
      } else {
        report.Add(Glps::eAuditSealPrefixChanged, static_cast<std::int64_t>(point.seal), -1, name,
                   intactUpTo,
                   "bytes changed between byte " + std::to_string(intactUpTo) + " and byte " +
                       std::to_string(point.size) + ": its first " + std::to_string(point.size) +
                       " bytes are not the ones " + SealName(point.seal) + " (" +
                       w.TimeOf(point.seal) + ") sealed",
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

  report.CountUnlisted();

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
