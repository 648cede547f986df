// SPDX-License-Identifier: Apache-2.0
// Reading a log document's entries back from the HTML that the library and the host's report items
// wrote into it.
#ifndef GLPS_AUDIT_TRAIL_READER_H_
#define GLPS_AUDIT_TRAIL_READER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "glps/audit.h"

namespace glps {
namespace audit {

// The texts of the entries that the library writes itself, as the host's text service gives them;
// the reader recognises those entries by them. A plain value.
struct EntryTexts {
  std::string tamperTitle;
  std::string extraNote;
  // The start and exit messages of the application log, with "%1" for the product's title and
  // "%2" for its version.
  std::string startPattern;
  std::string exitPattern;
  std::string productTitle;

  // The texts from the text service in use.
  static EntryTexts FromTextService();
};

// Where an entry is and what kind it is: what the checks need of it.
struct EntryMark {
  Glps::EAuditEntryKind kind = Glps::eAuditEntryText;
  bool saved = true;         // within the document's recorded part
  std::int64_t number = -1;  // a message's number
  std::int64_t offset = 0;
  std::int64_t length = 0;
};

// The entries of one document (with their texts, when asked), their marks, and the offsets at
// which an entry ends (0 and the end of every entry, in increasing order): a save always leaves a
// document at one of them.
struct DocumentEntries {
  std::vector<KECGlpsAuditEntry> entries;
  std::vector<EntryMark> marks;
  std::vector<std::int64_t> boundaries;
};

// Receives the entries of a document one by one, in order, as they are read; it may take the
// entry's contents (the reader forgets them).
using EntrySink = std::function<void(KECGlpsAuditEntry& entry)>;

// Receives the marks of a document a batch at a time, in order: `batch.marks` and
// `batch.boundaries` hold those made since the last batch (the boundaries in increasing order,
// the first batch beginning with 0); the last batch comes when the document is read.
using MarkSink = std::function<void(const DocumentEntries& batch)>;

// A sink that lets the marks go, for a reading that wants the entries alone.
inline const MarkSink kNoMarks = [](const DocumentEntries&) {};

// Reads log documents' entries back. Holds the buffers of the last document read, so that
// reading many documents in turn allocates little. One thread at a time; owned by its caller.
class DocumentReader {
 public:
  explicit DocumentReader(const EntryTexts& texts);
  ~DocumentReader();
  DocumentReader(const DocumentReader&) = delete;
  DocumentReader& operator=(const DocumentReader&) = delete;

  // Reads the entries of the document `name` from its bytes into `result` (replacing what it
  // held). Entries that end after `recordedSize` are marked unsaved. Any bytes are accepted: what
  // is not an entry of a known kind becomes a text entry, and a last line without its line break
  // becomes an entry of its own. Without `withTexts`, only the marks are made (the entries stay
  // empty), and start, exit and extra-note entries count as messages and text lines; the
  // entries' bounds and numbers are the same either way.
  //
  // The markup is the small closed set that the report items write ("<B>", "<I>", "<U>", "<BR>",
  // "<H2>", "<HR ...>" and the entities of their texts), so a tokenizer of its own reads it
  // exactly and keeps every byte offset; an unknown tag stays in the text as it stands.
  //
  // With `sink` (and `withTexts`), the entries are handed to it as they are read instead of being
  // kept in `result`, and only the lines of the entry being read are held. With `marks`, the marks
  // and boundaries go to it in batches and `result` keeps none: with both, the memory needed does
  // not grow with the number of entries.
  //
  // `saveEnds` (may be null): offsets, ascending, at which saves are known to have left the
  // document (where seals sealed it). No entry reads on over one, so that each entry before it is
  // read from the bytes before it alone, as it was when saved, whatever was written after.
  void Read(const std::string& bytes, const std::string& name, std::int64_t recordedSize,
            bool applicationLog, bool withTexts, DocumentEntries* result,
            const EntrySink* sink = nullptr, const std::vector<std::int64_t>* saveEnds = nullptr,
            const MarkSink* marks = nullptr);

 private:
  struct Workspace;
  const EntryTexts m_texts;
  // The decoded text, spans and lines of the last document; never null.
  std::unique_ptr<Workspace> m_pWorkspace;
};

// One document read by a reader of its own (tests, one-off reads).
DocumentEntries ReadDocumentEntries(const std::string& bytes, const std::string& name,
                                    std::int64_t recordedSize, bool applicationLog,
                                    const EntryTexts& texts, bool withTexts = true);

}  // namespace audit
}  // namespace glps

#endif  // GLPS_AUDIT_TRAIL_READER_H_
