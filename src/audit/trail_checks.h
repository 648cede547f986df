// SPDX-License-Identifier: Apache-2.0
// The checks of a log that need no info: what the trail and log.xml must agree on whoever wrote
// them, found from the documents' entries alone.
#ifndef GLPS_AUDIT_TRAIL_CHECKS_H_
#define GLPS_AUDIT_TRAIL_CHECKS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "audit/trail_reader.h"
#include "glps/audit.h"

namespace glps {
namespace audit {

// One document of the log as read for the checks, in record order. A plain value.
struct CheckedDocument {
  std::string name;
  std::int64_t recordedSize = 0;
  std::int64_t foundSize = -1;  // -1: not read (the file checks say why)
  DocumentEntries entries;
};

// The findings about message numbers and entry boundaries:
// - the saved parts of the documents, in record order, hold the numbers 1, 2, 3, ... without gap
//   or repeat: a number is handed out once and saved with the entry that carries it;
// - an unsaved tail (the entries a session wrote after its last save before it ended without
//   saving) continues the numbers of its own document's saved part; a later document may hand the
//   same numbers out again, since its session went on from the number last saved;
// - the catalog's last number is that of the last saved message;
// - a document's recorded size falls on the end of an entry.
// A number finding is marked recorded when a tamper entry follows the last good message before it:
// the library has then reported the change that the finding shows.
// Of `documents`, the first `count` are the log's.
std::vector<KECGlpsAuditFinding> CheckTrail(const std::vector<CheckedDocument>& documents,
                                            std::size_t count, std::int64_t catalogLastNumber);

}  // namespace audit
}  // namespace glps

#endif  // GLPS_AUDIT_TRAIL_CHECKS_H_
