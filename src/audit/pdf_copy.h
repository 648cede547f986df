// SPDX-License-Identifier: Apache-2.0
// The printable copy of a log's trail: a PDF laid out from a plain description of what the copy
// holds (the first page's facts, every document with its entries, the file records). Reading the
// log and deciding its verdict happen elsewhere; this unit only lays out and writes.
#ifndef GLPS_AUDIT_PDF_COPY_H_
#define GLPS_AUDIT_PDF_COPY_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace glps {
namespace audit {

// What an entry of a document is. Crash, extra-note and tamper entries are set apart in the copy.
enum class PdfEntryKind {
  kMessage,    // a numbered message
  kStart,      // the numbered start message of a run
  kExit,       // the numbered exit message of a run
  kCrash,      // the report that the host's previous run ended abnormally
  kExtraNote,  // the note written for an experiment that needs one
  kTamper,     // the title written when the log was found changed outside the library
  kText,       // anything else the document holds, shown as it is
  kRule,       // a horizontal rule of its own
};

// Where the bytes of an entry stand against log.xml's records (as KECGlpsAuditEntry's standing).
// The copy marks every entry, and every page, that shows one that is not intact.
enum class PdfStanding {
  kIntact,       // in the recorded part of its document, which is as recorded
  kModified,     // in the recorded part, which is not as recorded
  kUnsavedTail,  // after the recorded part
  kUnrecorded,   // in a document that no record holds
};

// One entry as its document shows it. Texts are UTF-8 as read from the document; bytes that are
// not UTF-8 and control characters are shown escaped ("\xNN"), so nothing is lost or hidden.
struct PdfEntry {
  PdfEntryKind kind = PdfEntryKind::kMessage;
  std::string number;  // empty for entries without a number (crash, extra note, tamper, text)
  std::string date;
  std::string time;
  std::string user;
  std::string message;
  bool bold = false;  // the document shows the message in bold
  // The entry has a context, shown after the message as ":  'context'" in bold.
  bool hasContext = false;
  std::string context;
  std::vector<std::string> details;  // further lines of the entry (a crash report's detail lines)
  // The entry lies within the part of its document that log.xml records. The copy marks where a
  // document's unsaved tail begins.
  bool saved = true;
  PdfStanding standing = PdfStanding::kIntact;
};

struct PdfDocument {
  std::string name;  // the document's file name
  // The entries, when the copy holds them (PdfCopy::readEntries not set).
  std::vector<PdfEntry> entries;
  // Where the recorded part of the document stands (kUnrecorded: no record holds the document).
  PdfStanding recorded = PdfStanding::kIntact;
};

// Hands the entries of the document at `index` (of PdfCopy::documents) to `visit`, in order, the
// same each time it is called. False when they cannot be read: the copy is then not written.
using PdfEntryReader =
    std::function<bool(std::size_t index, const std::function<void(const PdfEntry&)>& visit)>;

// Receives the PDF's bytes as they are written; false stops the copy.
using PdfWriter = std::function<bool(const char* data, std::size_t size)>;

// Called while the copy is laid out, with the entries laid out so far and in all.
using PdfProgress = std::function<void(std::size_t done, std::size_t total)>;

// How a verdict reads at a glance; the first page colours it accordingly.
enum class PdfTone { kGood, kWarning, kBad };

// One record of the log's file manager, with the status the verification found for it.
struct PdfFileRecord {
  std::string kind;         // "log", "link", "metadata", ...
  std::string name;         // file name (possibly not UTF-8; shown escaped)
  std::int64_t size = 0;    // recorded size in bytes
  std::string fingerprint;  // recorded MD5 fingerprint text; empty for unprotected files
  std::string status;       // "intact", "modified", ...
  bool problem = false;     // the status is a finding: the copy marks it
};

// Everything the copy shows. The counts of documents, entries, crash and tamper entries on the
// first page are taken from the documents' entries, so they always agree with the pages that
// follow.
struct PdfCopy {
  std::string logDirectory;  // as the caller names it
  std::string logTitle;      // a short name of the log for the page headers
  std::string experiment;    // empty for the application log
  std::string firstTime;     // date and time of the first entry; empty when the log has none
  std::string lastTime;      // date and time of the last entry
  std::string verdict;       // one line: the verdict of the verification
  std::vector<std::string> verdictDetails;  // further lines of the verdict (findings, the info)
  PdfTone verdictTone = PdfTone::kWarning;
  std::string logXmlSha256;   // hex
  std::string toolVersion;    // e.g. "glps 0.1.0"
  std::int64_t copyTime = 0;  // seconds since 1970 (UTC): the time of the copy, in the metadata too
  std::vector<PdfDocument> documents;
  std::vector<PdfFileRecord> records;
  std::vector<std::string> unregistered;  // files in the directory that no record names
  std::vector<std::string> linkedFiles;   // names of the linked files
  // Set: the documents' entries are read through it, once for each pass of the layout (three), and
  // never held all at once; not set: PdfDocument::entries holds them.
  PdfEntryReader readEntries;
  PdfProgress progress;  // may be empty
};

// Lays out `copy` and writes the PDF through `write`, as it is made: A4 pages, a first page with
// the log, its counts, the verdict and room for a reviewer's sign-off; then every document from a
// new page, its entries in order; then the file records. Every page has a header naming the log
// and the document and a footer "N of M"; an entry whose bytes are not intact carries its standing
// in the margin, and every page that shows one says so. The metadata carry the title, the creator
// (the tool's version) and `copyTime` as creation date; the same `copy` gives the same bytes.
// Fonts come from fontconfig (DejaVu Sans, with whatever installed font covers other scripts).
// Memory does not grow with the number of entries beyond a few bytes per page. False, with a
// reason in `error`, when the entries cannot be read, `write` fails or Cairo fails. `pages` (may
// be null) receives the number of pages.
bool RenderPdfCopy(const PdfCopy& copy, const PdfWriter& write, std::string* error,
                   std::size_t* pages = nullptr);

// The same, the PDF returned in `pdf` (unspecified on failure).
bool RenderPdfCopy(const PdfCopy& copy, std::string* pdf, std::string* error,
                   std::size_t* pages = nullptr);

// The text as shown in the copy: valid UTF-8 passes, each byte of an invalid sequence and each
// control character becomes "\xNN" (tab, line feed and carriage return become a blank, as a browser
// shows them).
std::string PdfDisplayText(const std::string& text);

}  // namespace audit
}  // namespace glps

#endif  // GLPS_AUDIT_PDF_COPY_H_
