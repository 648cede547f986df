// SPDX-License-Identifier: Apache-2.0
#include "events.h"

#include "text.h"

namespace glps_tool {

void PrintEvents(const KECGlpsAuditReport& report, std::ostream& out) {
  if (report.m_vEvents.empty()) return;
  out << "tamper and crash entries:\n";
  for (const KECGlpsAuditEvent& event : report.m_vEvents) {
    const bool tamper = event.m_eKind == Glps::eAuditEntryTamper;
    out << "  " << (tamper ? "TAMPER" : "crash (information)") << ": "
        << Printable(KECGlpsAudit::EventSummary(event)) << '\n';
  }
}

Json EventsJson(const KECGlpsAuditReport& report) {
  Json events = Json::array();
  const auto nullIfNegative = [](std::int64_t n) { return n < 0 ? Json(nullptr) : Json(n); };
  const auto nullIfEmpty = [](const std::string& s) {
    return s.empty() ? Json(nullptr) : Json(ToUtf8Lossy(s));
  };
  for (const KECGlpsAuditEvent& event : report.m_vEvents) {
    Json item;
    item["kind"] = KECGlpsAudit::EntryKindName(event.m_eKind);
    AddExactText(&item, "document", event.m_strDocument);
    item["offset"] = event.m_nOffset;
    item["entry"] = event.m_nEntry;
    item["saved"] = event.m_bSaved;
    item["message_before"] = nullIfNegative(event.m_nMessageBefore);
    item["time_before"] = nullIfEmpty(event.m_strTimeBefore);
    item["message_after"] = nullIfNegative(event.m_nMessageAfter);
    item["time_after"] = nullIfEmpty(event.m_strTimeAfter);
    item["text"] = ToUtf8Lossy(event.m_strText);
    item["summary"] = ToUtf8Lossy(KECGlpsAudit::EventSummary(event));
    events.push_back(item);
  }
  return events;
}

}  // namespace glps_tool
