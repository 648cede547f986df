// SPDX-License-Identifier: Apache-2.0
#include "audit/trail_checks.h"

#include <algorithm>
#include <utility>

namespace glps {
namespace audit {
namespace {

// Where something is in the trail: the document's position in record order, and the byte offset.
using Position = std::pair<std::size_t, std::int64_t>;

bool IsNumbered(const EntryMark& entry) {
  return entry.kind == Glps::eAuditEntryMessage || entry.kind == Glps::eAuditEntryStart ||
         entry.kind == Glps::eAuditEntryExit;
}

KECGlpsAuditFinding Finding(Glps::EAuditFindingKind kind, const std::string& document,
                            std::int64_t offset, std::int64_t entry, const std::string& text) {
  KECGlpsAuditFinding finding;
  finding.m_eKind = kind;
  finding.m_strDocument = document;
  finding.m_nOffset = offset;
  finding.m_nEntry = entry;
  finding.m_strText = text;
  return finding;
}

std::string Number(std::int64_t n) { return std::to_string(n); }

}  // namespace

std::vector<KECGlpsAuditFinding> CheckTrail(const std::vector<CheckedDocument>& documents,
                                            std::size_t count, std::int64_t catalogLastNumber) {
  std::vector<KECGlpsAuditFinding> findings;
  // Each number finding with the position of the last good message before it.
  std::vector<std::pair<std::size_t, Position>> numberFindings;
  bool anyTamper = false;
  Position lastTamper{0, -1};

  std::int64_t last = 0;  // the number of the last saved message so far
  Position lastAt{0, -1};
  const EntryMark* lastEntry = nullptr;
  const std::string* lastDocument = nullptr;  // null: log.xml
  for (std::size_t d = 0; d < count && d < documents.size(); ++d) {
    const CheckedDocument& document = documents[d];
    if (document.foundSize < 0) continue;
    const std::vector<std::int64_t>& ends = document.entries.boundaries;
    if (document.foundSize >= document.recordedSize &&
        !std::binary_search(ends.begin(), ends.end(), document.recordedSize)) {
      findings.push_back(Finding(Glps::eAuditCutInsideEntry, document.name, document.recordedSize,
                                 -1,
                                 "the recorded size " + Number(document.recordedSize) +
                                     " does not fall on the end of an entry"));
    }
    bool inTail = false;
    std::int64_t tailLast = 0;
    for (const EntryMark& entry : document.entries.marks) {
      const Position at{d, entry.offset};
      if (entry.kind == Glps::eAuditEntryTamper && entry.saved) {
        anyTamper = true;
        lastTamper = at;
      }
      if (!IsNumbered(entry)) continue;
      const std::int64_t n = entry.number;
      if (!entry.saved) {
        if (!inTail) {
          inTail = true;
          tailLast = last;
        }
        if (n != tailLast + 1) {
          findings.push_back(Finding(Glps::eAuditTailNumbering, document.name, entry.offset, n,
                                     "message " + Number(n) + " in the unsaved tail follows " +
                                         Number(tailLast) + " (expected " + Number(tailLast + 1) +
                                         ")"));
        }
        tailLast = n;
        continue;
      }
      if (n > last + 1) {
        numberFindings.push_back({findings.size(), lastAt});
        findings.push_back(
            Finding(Glps::eAuditNumberGap, document.name, entry.offset, n,
                    n == last + 2
                        ? "message " + Number(last + 1) + " is missing before message " + Number(n)
                        : "messages " + Number(last + 1) + " to " + Number(n - 1) +
                              " are missing before message " + Number(n)));
      } else if (n <= last) {
        numberFindings.push_back({findings.size(), lastAt});
        findings.push_back(Finding(Glps::eAuditNumberRepeat, document.name, entry.offset, n,
                                   "message " + Number(n) + " follows message " + Number(last)));
      }
      last = n;
      lastAt = at;
      lastEntry = &entry;
      lastDocument = &document.name;
    }
  }
  if (catalogLastNumber != last) {
    findings.push_back(Finding(Glps::eAuditCatalogMismatch,
                               lastDocument != nullptr ? *lastDocument : std::string("log.xml"),
                               lastEntry ? lastEntry->offset : -1, catalogLastNumber,
                               "log.xml's catalog gives " + Number(catalogLastNumber) +
                                   " as the last message number, the last saved message is " +
                                   (lastEntry ? "number " + Number(last) : std::string("none"))));
  }
  for (const auto& numbered : numberFindings) {
    findings[numbered.first].m_bRecorded = anyTamper && lastTamper > numbered.second;
  }
  return findings;
}

}  // namespace audit
}  // namespace glps
