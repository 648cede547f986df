// SPDX-License-Identifier: Apache-2.0
#include "audit/trail_checks.h"

#include <algorithm>
#include <utility>

namespace glps {
namespace audit {
namespace {

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

void TrailCheck::Begin(const std::string& name, std::int64_t recordedSize, std::int64_t foundSize) {
  ++m_nDocument;
  m_strName = name;
  m_nRecordedSize = recordedSize;
  m_nFoundSize = foundSize;
  m_bEndsOnEntry = false;
  m_bInTail = false;
  m_nTailLast = 0;
  m_nFirstFinding = m_vFindings.size();
}

void TrailCheck::Marks(const DocumentEntries& batch) {
  const std::size_t d = m_nDocument - 1;
  const std::vector<std::int64_t>& ends = batch.boundaries;
  if (!m_bEndsOnEntry)
    m_bEndsOnEntry = std::binary_search(ends.begin(), ends.end(), m_nRecordedSize);
  for (const EntryMark& entry : batch.marks) {
    const Position at{d, entry.offset};
    if (entry.kind == Glps::eAuditEntryTamper && entry.saved) {
      m_bAnyTamper = true;
      m_lastTamper = at;
    }
    if (!IsNumbered(entry)) continue;
    const std::int64_t n = entry.number;
    if (!entry.saved) {
      if (!m_bInTail) {
        m_bInTail = true;
        m_nTailLast = m_nLast;
      }
      if (n != m_nTailLast + 1) {
        m_vFindings.push_back(Finding(Glps::eAuditTailNumbering, m_strName, entry.offset, n,
                                      "message " + Number(n) + " in the unsaved tail follows " +
                                          Number(m_nTailLast) + " (expected " +
                                          Number(m_nTailLast + 1) + ")"));
      }
      m_nTailLast = n;
      continue;
    }
    if (n > m_nLast + 1) {
      m_vNumberFindings.push_back({m_vFindings.size(), m_lastAt});
      m_vFindings.push_back(
          Finding(Glps::eAuditNumberGap, m_strName, entry.offset, n,
                  n == m_nLast + 2
                      ? "message " + Number(m_nLast + 1) + " is missing before message " + Number(n)
                      : "messages " + Number(m_nLast + 1) + " to " + Number(n - 1) +
                            " are missing before message " + Number(n)));
    } else if (n <= m_nLast) {
      m_vNumberFindings.push_back({m_vFindings.size(), m_lastAt});
      m_vFindings.push_back(
          Finding(Glps::eAuditNumberRepeat, m_strName, entry.offset, n,
                  "message " + Number(n) + " follows message " + Number(m_nLast)));
    }
    m_nLast = n;
    m_lastAt = at;
    if (m_strLastDocument != m_strName) m_strLastDocument = m_strName;
    m_nLastOffset = entry.offset;
  }
}

void TrailCheck::End() {
  if (m_nFoundSize < m_nRecordedSize || m_bEndsOnEntry) return;
  // Listed before the document's own number findings, as where it was cut comes first.
  m_vFindings.insert(m_vFindings.begin() + static_cast<std::ptrdiff_t>(m_nFirstFinding),
                     Finding(Glps::eAuditCutInsideEntry, m_strName, m_nRecordedSize, -1,
                             "the recorded size " + Number(m_nRecordedSize) +
                                 " does not fall on the end of an entry"));
  for (auto& numbered : m_vNumberFindings) {
    if (numbered.first >= m_nFirstFinding) ++numbered.first;
  }
}

void TrailCheck::Add(const CheckedDocument& document) {
  if (document.foundSize < 0) return;
  Begin(document.name, document.recordedSize, document.foundSize);
  Marks(document.entries);
  End();
}

std::vector<KECGlpsAuditFinding> TrailCheck::Finish(std::int64_t catalogLastNumber) {
  const bool anyMessage = m_nLastOffset >= 0;
  if (catalogLastNumber != m_nLast) {
    m_vFindings.push_back(
        Finding(Glps::eAuditCatalogMismatch, anyMessage ? m_strLastDocument : "log.xml",
                m_nLastOffset, catalogLastNumber,
                "log.xml's catalog gives " + Number(catalogLastNumber) +
                    " as the last message number, the last saved message is " +
                    (anyMessage ? "number " + Number(m_nLast) : std::string("none"))));
  }
  for (const auto& numbered : m_vNumberFindings) {
    m_vFindings[numbered.first].m_bRecorded = m_bAnyTamper && m_lastTamper > numbered.second;
  }
  return std::move(m_vFindings);
}

KECGlpsAuditEntry TrailEvents::EntryAt(std::int64_t offset, std::int64_t length) {
  // A message's texts are on its first line, a crash entry's first line is its text: a few KiB of
  // an entry are enough, however long it is.
  const std::string& bytes = *m_pBytes;
  const std::size_t from = static_cast<std::size_t>(offset);
  const std::size_t size = static_cast<std::size_t>(std::min<std::int64_t>(length, 4096));
  const std::string piece = from < bytes.size() ? bytes.substr(from, size) : std::string();
  m_reader.Read(piece, m_strName, INT64_MAX, m_bApplicationLog, true, &m_one);
  KECGlpsAuditEntry entry;
  if (!m_one.entries.empty()) entry = std::move(m_one.entries.front());
  return entry;
}

std::string TrailEvents::TimeOf(const KECGlpsAuditEntry& entry) {
  return entry.m_strDate.empty() ? std::string() : entry.m_strDate + " " + entry.m_strTime;
}

void TrailEvents::Begin(const std::string& name, const std::string& bytes) {
  m_strName = name;
  m_pBytes = &bytes;
  m_nEntries = 0;
}

void TrailEvents::Marks(const DocumentEntries& batch) {
  for (const EntryMark& mark : batch.marks) {
    ++m_nEntries;
    if (mark.kind == Glps::eAuditEntryTamper || mark.kind == Glps::eAuditEntryCrash) {
      if (!m_bLastTimeRead) {
        m_strLastTime = TimeOf(EntryAt(m_nLastOffset, m_nLastLength));
        m_bLastTimeRead = true;
      }
      KECGlpsAuditEvent found;
      found.m_eKind = mark.kind;
      found.m_strDocument = m_strName;
      found.m_nOffset = mark.offset;
      found.m_nEntry = m_nEntries;
      found.m_bSaved = mark.saved;
      found.m_nMessageBefore = m_nLastMessage;
      found.m_strTimeBefore = m_strLastTime;
      found.m_strText = EntryAt(mark.offset, mark.length).m_strMessage;
      m_vEvents.push_back(std::move(found));
      continue;
    }
    if (!IsNumbered(mark)) continue;
    // A message: its time is read only when an event is next to it.
    m_nLastMessage = mark.number;
    m_nLastOffset = mark.offset;
    m_nLastLength = mark.length;
    m_bLastTimeRead = false;
    if (m_nWaiting < m_vEvents.size()) {
      m_strLastTime = TimeOf(EntryAt(mark.offset, mark.length));
      m_bLastTimeRead = true;
      for (; m_nWaiting < m_vEvents.size(); ++m_nWaiting) {
        m_vEvents[m_nWaiting].m_nMessageAfter = m_nLastMessage;
        m_vEvents[m_nWaiting].m_strTimeAfter = m_strLastTime;
      }
    }
  }
}

void TrailEvents::End() {
  // An event in a later document may follow this document's last message.
  if (!m_bLastTimeRead) {
    m_strLastTime = TimeOf(EntryAt(m_nLastOffset, m_nLastLength));
    m_bLastTimeRead = true;
  }
  m_pBytes = nullptr;
}

std::vector<KECGlpsAuditFinding> CheckTrail(const std::vector<CheckedDocument>& documents,
                                            std::size_t count, std::int64_t catalogLastNumber) {
  TrailCheck check;
  for (std::size_t d = 0; d < count && d < documents.size(); ++d) check.Add(documents[d]);
  return check.Finish(catalogLastNumber);
}

}  // namespace audit
}  // namespace glps
