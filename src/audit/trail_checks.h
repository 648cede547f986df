// SPDX-License-Identifier: Apache-2.0
// The checks of a log that need no info: what the trail and log.xml must agree on whoever wrote
// them, found from the documents' entries alone.
#ifndef GLPS_AUDIT_TRAIL_CHECKS_H_
#define GLPS_AUDIT_TRAIL_CHECKS_H_

#include <cstdint>
#include <string>
#include <utility>
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
//
// The documents come in record order, each as its marks are made (Begin, the batches of its marks,
// End), and nothing of them is kept: the check's memory does not grow with the trail. Owned by
// the verification of one log.
class TrailCheck {
 public:
  // The next document of the log, read whole (`foundSize` bytes). A document not read is passed
  // over (the file checks say why): it is not begun.
  void Begin(const std::string& name, std::int64_t recordedSize, std::int64_t foundSize);
  // The document's next marks and boundaries (a batch of a MarkSink, or all of them).
  void Marks(const DocumentEntries& batch);
  void End();
  // Begin, Marks and End of a document read whole (one not read, foundSize < 0, is passed over).
  void Add(const CheckedDocument& document);
  // A saved tamper entry was among the documents so far.
  bool TamperEntrySaved() const { return m_bAnyTamper; }
  // The findings, once every document was added.
  std::vector<KECGlpsAuditFinding> Finish(std::int64_t catalogLastNumber);

 private:
  // Where something is in the trail: the document's position among those read, and the offset.
  using Position = std::pair<std::size_t, std::int64_t>;

  std::vector<KECGlpsAuditFinding> m_vFindings;
  // Each number finding with the position of the last good message before it.
  std::vector<std::pair<std::size_t, Position>> m_vNumberFindings;
  std::size_t m_nDocument = 0;  // documents begun
  bool m_bAnyTamper = false;
  Position m_lastTamper{0, -1};
  std::int64_t m_nLast = 0;  // the number of the last saved message so far
  Position m_lastAt{0, -1};
  // Where the last saved message is (none yet: log.xml is named).
  std::string m_strLastDocument;
  std::int64_t m_nLastOffset = -1;
  // The document being read: its name, sizes, whether an entry ends at its recorded size, and
  // its unsaved tail so far.
  std::string m_strName;
  std::int64_t m_nRecordedSize = 0;
  std::int64_t m_nFoundSize = 0;
  bool m_bEndsOnEntry = false;
  bool m_bInTail = false;
  std::int64_t m_nTailLast = 0;
  std::size_t m_nFirstFinding = 0;  // the first of its findings
};

// The tamper and crash entries of a trail (KECGlpsAuditEvent), each with the messages between
// which it was written. The documents come in record order, each as its marks are made (Begin
// with the document's bytes, which the marks' offsets point into, the batches of its marks, End);
// only the texts of the messages next to an entry are read. Owned by the verification of one log.
class TrailEvents {
 public:
  explicit TrailEvents(bool applicationLog)
      : m_reader(EntryTexts::FromTextService()), m_bApplicationLog(applicationLog) {}

  // `bytes` must stay as they are until End.
  void Begin(const std::string& name, const std::string& bytes);
  void Marks(const DocumentEntries& batch);
  void End();
  // The events, once every document was added.
  std::vector<KECGlpsAuditEvent> Finish() { return std::move(m_vEvents); }

 private:
  // The date and time ("YYYY-MM-DD HH:MM:SS +HH:MM") of the message at `offset`, and the text of
  // the entry there (a crash entry's first line), read from the document's bytes.
  KECGlpsAuditEntry EntryAt(std::int64_t offset, std::int64_t length);
  static std::string TimeOf(const KECGlpsAuditEntry& entry);

  DocumentReader m_reader;  // of its own: the verification's is reading the document
  const bool m_bApplicationLog;
  std::vector<KECGlpsAuditEvent> m_vEvents;
  // Events from this one on still wait for the first message after them.
  std::size_t m_nWaiting = 0;
  // The last message so far: its number (-1: none yet), its date and time once read, and, while
  // its time is not read, where it is in the document being read.
  std::int64_t m_nLastMessage = -1;
  std::string m_strLastTime;
  bool m_bLastTimeRead = true;
  std::int64_t m_nLastOffset = 0;
  std::int64_t m_nLastLength = 0;
  // The document being read.
  std::string m_strName;
  const std::string* m_pBytes = nullptr;
  std::int64_t m_nEntries = 0;  // its marks so far
  DocumentEntries m_one;        // the entries of one entry's bytes, reused
};

// The same over documents held together: of `documents`, the first `count` are the log's.
std::vector<KECGlpsAuditFinding> CheckTrail(const std::vector<CheckedDocument>& documents,
                                            std::size_t count, std::int64_t catalogLastNumber);

}  // namespace audit
}  // namespace glps

#endif  // GLPS_AUDIT_TRAIL_CHECKS_H_
