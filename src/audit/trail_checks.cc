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

void TrailCheck::Add(const CheckedDocument& document) {
  const std::size_t d = m_nDocument++;
  if (document.foundSize < 0) return;
  const std::vector<std::int64_t>& ends = document.entries.boundaries;
  if (document.foundSize >= document.recordedSize &&
      !std::binary_search(ends.begin(), ends.end(), document.recordedSize)) {
    m_vFindings.push_back(Finding(Glps::eAuditCutInsideEntry, document.name, document.recordedSize,
                                  -1,
                                  "the recorded size " + Number(document.recordedSize) +
                                      " does not fall on the end of an entry"));
  }
  bool inTail = false;
  std::int64_t tailLast = 0;
  const EntryMark* lastHere = nullptr;
  for (const EntryMark& entry : document.entries.marks) {
    const Position at{d, entry.offset};
    if (entry.kind == Glps::eAuditEntryTamper && entry.saved) {
      m_bAnyTamper = true;
      m_lastTamper = at;
    }
    if (!IsNumbered(entry)) continue;
    const std::int64_t n = entry.number;
    if (!entry.saved) {
      if (!inTail) {
        inTail = true;
        tailLast = m_nLast;
      }
      if (n != tailLast + 1) {
        m_vFindings.push_back(Finding(Glps::eAuditTailNumbering, document.name, entry.offset, n,
                                      "message " + Number(n) + " in the unsaved tail follows " +
                                          Number(tailLast) + " (expected " + Number(tailLast + 1) +
                                          ")"));
      }
      tailLast = n;
      continue;
    }
    if (n > m_nLast + 1) {
      m_vNumberFindings.push_back({m_vFindings.size(), m_lastAt});
      m_vFindings.push_back(
          Finding(Glps::eAuditNumberGap, document.name, entry.offset, n,
                  n == m_nLast + 2
                      ? "message " + Number(m_nLast + 1) + " is missing before message " + Number(n)
                      : "messages " + Number(m_nLast + 1) + " to " + Number(n - 1) +
                            " are missing before message " + Number(n)));
    } else if (n <= m_nLast) {
      m_vNumberFindings.push_back({m_vFindings.size(), m_lastAt});
      m_vFindings.push_back(
          Finding(Glps::eAuditNumberRepeat, document.name, entry.offset, n,
                  "message " + Number(n) + " follows message " + Number(m_nLast)));
    }
    m_nLast = n;
    m_lastAt = at;
    lastHere = &entry;
  }
  if (lastHere != nullptr) {
    m_strLastDocument = document.name;
    m_nLastOffset = lastHere->offset;
  }
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

KECGlpsAuditEntry TrailEvents::EntryOf(const CheckedDocument& document, const std::string& bytes,
                                       const EntryMark& mark) {
  // A message's texts are on its first line, a crash entry's first line is its text: a few KiB of
  // an entry are enough, however long it is.
  const std::size_t from = static_cast<std::size_t>(mark.offset);
  const std::size_t length = static_cast<std::size_t>(std::min<std::int64_t>(mark.length, 4096));
  const std::string piece = from < bytes.size() ? bytes.substr(from, length) : std::string();
  m_pReader->Read(piece, document.name, INT64_MAX, m_bApplicationLog, true, &m_one);
  KECGlpsAuditEntry entry;
  if (!m_one.entries.empty()) entry = std::move(m_one.entries.front());
  return entry;
}

void TrailEvents::Add(const CheckedDocument& document, const std::string& bytes) {
  if (document.foundSize < 0) return;
  const std::vector<EntryMark>& marks = document.entries.marks;
  for (std::size_t i = 0; i < marks.size(); ++i) {
    const EntryMark& mark = marks[i];
    const bool event = mark.kind == Glps::eAuditEntryTamper || mark.kind == Glps::eAuditEntryCrash;
    if (!event && !IsNumbered(mark)) continue;
    const KECGlpsAuditEntry entry = EntryOf(document, bytes, mark);
    if (event) {
      KECGlpsAuditEvent found;
      found.m_eKind = mark.kind;
      found.m_strDocument = document.name;
      found.m_nOffset = mark.offset;
      found.m_nEntry = static_cast<std::int64_t>(i) + 1;
      found.m_bSaved = mark.saved;
      found.m_nMessageBefore = m_nLastMessage;
      found.m_strTimeBefore = m_strLastTime;
      found.m_strText = entry.m_strMessage;
      m_vEvents.push_back(std::move(found));
      continue;
    }
    // A message: the time of those waiting for it, and of the next ones.
    m_nLastMessage = mark.number;
    m_strLastTime =
        entry.m_strDate.empty() ? std::string() : entry.m_strDate + " " + entry.m_strTime;
    for (; m_nWaiting < m_vEvents.size(); ++m_nWaiting) {
      m_vEvents[m_nWaiting].m_nMessageAfter = m_nLastMessage;
      m_vEvents[m_nWaiting].m_strTimeAfter = m_strLastTime;
    }
    // Only the messages next to an event are needed: on to the last message before the next event
    // (or before the document's end, which an event in a later document follows).
    std::size_t nextEvent = i + 1;
    while (nextEvent < marks.size() && marks[nextEvent].kind != Glps::eAuditEntryTamper &&
           marks[nextEvent].kind != Glps::eAuditEntryCrash) {
      ++nextEvent;
    }
    std::size_t before = nextEvent;
    while (before > i + 1 && !IsNumbered(marks[before - 1])) --before;
    if (before > i + 1) i = before - 2;  // the loop's ++i lands on that message
  }
}

std::vector<KECGlpsAuditFinding> CheckTrail(const std::vector<CheckedDocument>& documents,
                                            std::size_t count, std::int64_t catalogLastNumber) {
  TrailCheck check;
  for (std::size_t d = 0; d < count && d < documents.size(); ++d) check.Add(documents[d]);
  return check.Finish(catalogLastNumber);
}

}  // namespace audit
}  // namespace glps
