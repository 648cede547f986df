// SPDX-License-Identifier: Apache-2.0
// The tamper and crash entries of a log's trail (KECGlpsAuditEvent), as `glps verify` and
// `glps log` show them.
#ifndef GLPS_TOOLS_EVENTS_H_
#define GLPS_TOOLS_EVENTS_H_

#include <ostream>

#include "glps/audit.h"
#include "json_out.h"

namespace glps_tool {

// The lines "tamper and crash entries:" and one per entry, a tamper entry as a finding, a crash
// entry as information; nothing when the trail holds neither.
void PrintEvents(const KECGlpsAuditReport& report, std::ostream& out);

// The entries as the JSON of docs/json.md ("events").
Json EventsJson(const KECGlpsAuditReport& report);

}  // namespace glps_tool

#endif  // GLPS_TOOLS_EVENTS_H_
