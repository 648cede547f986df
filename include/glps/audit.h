// SPDX-License-Identifier: Apache-2.0
// KECGlpsAudit: the read-only view of a log directory that an auditor (or the host) takes without
// opening the log: the verdict of every file that log.xml records, log.xml against the host's info,
// the checks that need no info, and the trail itself, entry by entry.
#ifndef GLPS_AUDIT_H_
#define GLPS_AUDIT_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "glps/export.h"
#include "glps/records.h"

namespace Glps {

// What became of one file that a record of log.xml names, by the one rule that also decides,
// when the library opens a log, whether it was tampered with.
enum EAuditFileStatus : std::int32_t {
  eAuditFileIntact = 0,           // size and fingerprint as recorded
  eAuditFileModified = 1,         // same size, other fingerprint (or a size no file can have)
  eAuditFileGrownIntact = 2,      // longer than recorded, the recorded part intact: an unsaved tail
  eAuditFileGrownModified = 3,    // longer than recorded, the recorded part changed
  eAuditFileShrunk = 4,           // shorter than recorded
  eAuditFileMissing = 5,          // nothing under that name
  eAuditFileNotRegular = 6,       // a directory, a symbolic link (never followed), a FIFO, ...
  eAuditFileUnreadable = 7,       // present but could not be read (the reason is given)
  eAuditFileBadName = 8,          // the record's name is not a plain file name: nothing looked at
  eAuditFileUnprotected = 9,      // an unprotected record (the index pages): not checked
  eAuditFileMultiplyLinked = 10,  // a regular file with more than one name: shared with elsewhere
};

// log.xml against the info the host kept for the log.
enum EAuditInfoCheck : std::int32_t {
  eAuditInfoNotGiven = 0,  // no info: log.xml cannot be authenticated
  eAuditInfoMatches = 1,
  eAuditInfoDiffers = 2,
};

// The verdict on a whole log. The values are the exit statuses of `glps verify` (2 is its usage
// error). log.xml is authenticated by the info the host kept, or, for a sealed log, by its seals
// checked with the log's verification key.
enum EAuditVerdict : std::int32_t {
  // Every protected file intact, the trail consistent, and log.xml authenticated: it matches the
  // info, or the seals verify, every sealed byte is intact and the last seal covers log.xml.
  eAuditIntact = 0,
  // A file or log.xml differs, the trail is not consistent, or (with a verification key) a seal
  // fails: changed, missing, another log's, made with another key, a sealed byte changed, log.xml
  // covered by no seal.
  eAuditNotIntact = 1,
  // Consistent, every protected file intact, but neither an info nor a verification key was given.
  eAuditNotAuthenticated = 3,
  eAuditUnreadable = 4,  // the directory or its log.xml cannot be read or is damaged
  // Intact now (authenticated, or consistent when neither an info nor a verification key was
  // given), but the trail holds tamper entries: the library found the log changed outside the
  // trail when it opened it earlier, reported it there and took the change in. What was changed
  // then is part of what is intact now; the report's events say where each tamper entry stands.
  eAuditTamperRecorded = 5,
};

// What the check of a sealed log's seals found (see KECGlpsAuditSeal). Notes do not fail the
// verdict; every other kind does.
enum EAuditSealFindingKind : std::int32_t {
  eAuditSealNoSealFile = 0,  // a verification key was given, but the log has no seal file
  eAuditSealUnreadable = 1,  // the seal file cannot be read, or has no header
  eAuditSealWrongKey = 2,    // the key is not this seal file's: a wrong key, or another log's seals
  eAuditSealMalformed = 3,   // a line of the seal file that is not a seal
  eAuditSealBadMac = 4,      // a seal that does not verify: changed, or made with another key
  eAuditSealMissing = 5,     // seals missing between two others or before the first (removed)
  eAuditSealOutOfOrder = 6,  // a seal numbered as or below one before it
  eAuditSealPrefixChanged = 7,  // a document's bytes differ from what a seal sealed
  eAuditSealFileShort = 8,      // a sealed file is shorter than sealed, missing or unreadable
  eAuditSealFileChanged = 9,    // a sealed file other than a document differs from its last seal
  eAuditSealLogXmlNotCovered = 10,  // log.xml is not the one the last seal covers
  eAuditSealRecordsDiffer = 11,     // the last seal's files are not log.xml's protected records
  // Notes.
  eAuditSealIncompleteLine = 12,  // the seal file ends in a line cut short (a save interrupted)
  eAuditSealClockBack = 13,       // a seal's time lies before the time of the seal before it
  eAuditSealRelinked = 14,        // a linked file was sealed with other content by a later seal
  eAuditSealKeyPresent = 15,      // the current sealing key lies in the directory
  // Failing, like those before the notes.
  // A file a seal sealed is no longer recorded in log.xml, or recorded more than once, as another
  // kind or unprotected.
  eAuditSealRecordChanged = 16,
  // The documents a seal sealed are not log.xml's first documents, in the order sealed.
  eAuditSealDocumentsChanged = 17,
  // log.xml's header is not the one a seal sealed.
  eAuditSealHeaderChanged = 18,
  // A seal numbered beyond what the seal file's length can account for: not checked.
  eAuditSealNumberTooHigh = 19,
  // A document sealed at a size the library cannot have given it: shorter than a seal before
  // sealed it, or, sealed before the document the library wrote on (a closed document), at
  // another size.
  eAuditSealDocumentResized = 20,
  // A seal lists more files than log.xml's records can account for: it and the seals after it
  // are not checked.
  eAuditSealTooLarge = 21,
};

// What a check that needs no info found wrong.
enum EAuditFindingKind : std::int32_t {
  // A message number that does not follow the one before it in the saved part of the trail: a gap
  // (numbers missing) or a number that repeats or goes back.
  eAuditNumberGap = 0,
  eAuditNumberRepeat = 1,
  // The catalog's last message number is not the number of the last saved message.
  eAuditCatalogMismatch = 2,
  // A document's recorded size does not fall on the end of an entry.
  eAuditCutInsideEntry = 3,
  // An unsaved tail whose numbers do not continue its document's saved part.
  eAuditTailNumbering = 4,
  // A file named like one of this log's documents or sidecars that no record holds.
  eAuditUnrecordedDocument = 5,
  // An index page that names a file no record holds.
  eAuditIndexNamesUnrecorded = 6,
  // A document that could not be read for the checks (too large, unreadable).
  eAuditDocumentNotChecked = 7,
  // A record of log.xml that the library would never have written (a kind it does not know, a name
  // that is not plain or is one of its own, a name two records share, a sidecar without its
  // document, ...): the library acts on no such record.
  eAuditRecordBreaksRules = 8,
};

// The kinds of the entries of a trail.
enum EAuditEntryKind : std::int32_t {
  eAuditEntryCaption = 0,    // the document's own name at its start
  eAuditEntryMessage = 1,    // a numbered message (with a context in an experiment log)
  eAuditEntryStart = 2,      // the application's start message
  eAuditEntryExit = 3,       // the application's exit message (with its closing rule)
  eAuditEntryCrash = 4,      // the report of an abnormal end of the host's previous run
  eAuditEntryExtraNote = 5,  // the note on an experiment made by an earlier version
  eAuditEntryTamper = 6,     // the library found the log changed outside the trail
  eAuditEntryTitle = 7,      // another heading
  eAuditEntryRule = 8,       // a horizontal rule of its own
  eAuditEntryText = 9,       // any other line (a report item of the host's)
};

// Where the bytes an entry was read from stand against log.xml's records: only the first is
// vouched for by the verification (as far as the verdict vouches for log.xml itself).
enum EAuditEntryStanding : std::int32_t {
  // Within the part of its document that log.xml records, and that part is as recorded.
  eAuditStandingIntact = 0,
  // Within the recorded part, which is not as recorded: changed, cut short, or a file with a second
  // name, shared with another place (the file's status says which).
  eAuditStandingModified = 1,
  // After the recorded part: written after the last save, or appended by anyone since.
  eAuditStandingUnsavedTail = 2,
  // In a file named like one of the log's documents that no record of log.xml holds.
  eAuditStandingUnrecorded = 3,
};

}  // namespace Glps

// The record that log.xml keeps of one file of the log directory, checked against the file found.
struct GLPS_API KECGlpsAuditFile {
  std::size_t m_nNumber = 0;  // position in record order, from 1
  KECGlpsFileManagerData m_record;
  Glps::EAuditFileStatus m_eStatus = Glps::eAuditFileMissing;
  // The record breaks the rules the library keeps its record sets by (a finding of kind
  // eAuditRecordBreaksRules says which): the library protects nothing on its account, so the file
  // is looked at but does not count among the protected files.
  bool m_bBreaksRules = false;
  // The size of the regular file found; -1 when none was found or the record was not looked at.
  std::int64_t m_nFoundSize = -1;
  // The fingerprint of the first min(recorded, found) bytes; empty when nothing was hashed.
  std::string m_strFoundHash;
  // Why an unreadable file could not be read ("Permission denied", ...); empty otherwise.
  std::string m_strReason;
};

// A way a file can differ from its record, with the words that name it in a summary of what
// differs ("2 files modified").
struct GLPS_API KECGlpsAuditDifference {
  Glps::EAuditFileStatus m_eStatus = Glps::eAuditFileModified;
  const char* m_pszWords = "";  // a static text
};

// A name in the log directory that no record holds.
struct GLPS_API KECGlpsAuditUnregistered {
  std::string m_strName;
  std::string m_strType;      // "file", "directory", "symlink", "other" or "unknown"
  std::int64_t m_nSize = -1;  // for a file; -1 otherwise
};

// One fault that a check needing no info found, with where it was found. -1 and empty texts stand
// for "not applicable".
struct GLPS_API KECGlpsAuditFinding {
  Glps::EAuditFindingKind m_eKind = Glps::eAuditNumberGap;
  std::string m_strDocument;    // the document (or other file) concerned
  std::int64_t m_nOffset = -1;  // byte offset in it
  std::int64_t m_nEntry = -1;   // the message number concerned
  std::string m_strText;        // what was found, for a person
  // A tamper entry later in the trail records that the log was changed outside the trail there:
  // the library itself has reported what this finding shows, so it does not fail the verdict.
  bool m_bRecorded = false;
};

// One finding of the check of a log's seals. -1 and empty texts stand for "not applicable".
struct GLPS_API KECGlpsAuditSealFinding {
  Glps::EAuditSealFindingKind m_eKind = Glps::eAuditSealMalformed;
  std::int64_t m_nSeal = -1;    // the seal concerned (its number)
  std::int64_t m_nLine = -1;    // its line in the seal file, from 1 (the header is line 1)
  std::string m_strFile;        // the file concerned
  std::int64_t m_nOffset = -1;  // where in it the difference begins (at or after this byte)
  std::string m_strText;        // what was found, for a person
  bool m_bFails = true;         // false for a note
};

// What a log directory holds of sealing, and, when a verification key was given, what the check
// of its seals found. A seal file cut at its end cannot be told from one that ends there: the
// number and time of the last seal are given so that they can be compared with what else is known
// of the log (the host's last save, a copy taken earlier, a seal count reported before).
struct GLPS_API KECGlpsAuditSeal {
  bool m_bSealFile = false;       // the directory holds a seal file (log.seal)
  bool m_bKeyFile = false;        // the directory holds the current sealing key (log.seal-key)
  bool m_bChecked = false;        // a verification key was given: the seals were checked
  std::string m_strLogId;         // the seal identity in the seal file's header
  std::int64_t m_nSeals = 0;      // seal lines in the seal file
  std::int64_t m_nLastSeal = -1;  // the number of the last of them
  std::string m_strLastTime;      // its time, "YYYY-MM-DDTHH:MM:SS.ffffffZ"
  // Checked only: every seal up to and including this one verifies and every byte they sealed is
  // intact (-1: not even seal 0), with that seal's time; and the last seal covers log.xml.
  std::int64_t m_nIntactThrough = -1;
  std::string m_strIntactThroughTime;
  bool m_bLogXmlCovered = false;
  std::vector<KECGlpsAuditSealFinding> m_vFindings;

  // Findings that fail the verdict.
  std::size_t FailingCount() const;
  // Checked, and nothing fails.
  bool IsIntact() const { return m_bChecked && FailingCount() == 0; }
  // The sealing in one line for a person: "sealed and intact through save N at TIME", what fails,
  // or, unchecked, the seals as the seal file counts them; always with the number of seals and the
  // time of the last. Empty for a log that holds nothing of sealing and was not checked.
  std::string Summary() const;
};

// A tamper or a crash entry of the trail, with the messages between which it was written. A
// tamper entry records that the library, opening the log, found log.xml or a file changed outside
// the trail (the entry does not say which: the library then took the files as it found them into
// its records); a crash entry, that the host's previous run ended abnormally (when the same
// opening also found the log changed, the crash entry stands in for the tamper entry). -1 and
// empty texts stand for "not applicable".
struct GLPS_API KECGlpsAuditEvent {
  Glps::EAuditEntryKind m_eKind = Glps::eAuditEntryTamper;  // tamper or crash
  std::string m_strDocument;
  std::int64_t m_nOffset = 0;  // where the entry starts in the document
  std::int64_t m_nEntry = 0;   // its place among the entries of its document, from 1
  bool m_bSaved = true;        // within the part of its document that log.xml records
  // The last message before it and the first after it in the trail, each with the date and time
  // it carries ("YYYY-MM-DD HH:MM:SS +HH:MM", local to the writer): the entry was written between
  // them.
  std::int64_t m_nMessageBefore = -1;
  std::string m_strTimeBefore;
  std::int64_t m_nMessageAfter = -1;
  std::string m_strTimeAfter;
  std::string m_strText;  // the tamper entry's title; the crash entry's first line
};

// A log's log.xml as read: header, metadata, catalog and file records.
struct GLPS_API KECGlpsAuditLogState {
  KECGlpsLogHeader m_header;
  KECGlpsLogMetaData m_metaData;
  KECGlpsLogCatalog m_catalog;
  std::vector<KECGlpsFileManagerData> m_vRecords;
};

// The result of verifying one log directory. A plain value.
struct GLPS_API KECGlpsAuditReport {
  std::string m_strDirectory;
  // Not empty when the directory or its log.xml could not be read; nothing below is then filled.
  std::string m_strError;
  KECGlpsAuditLogState m_state;
  // Hash text (SHA-256 in Base64) and size of log.xml as read.
  KECGlpsLogInfo m_logXml;
  Glps::EAuditInfoCheck m_eInfoCheck = Glps::eAuditInfoNotGiven;
  KECGlpsLogInfo m_info;  // the info checked against, when one was given
  std::vector<KECGlpsAuditFile> m_vFiles;
  // Sorted by name (byte order).
  std::vector<KECGlpsAuditUnregistered> m_vUnregistered;
  // The log's lock file was found (it is the log's, not unregistered, and never opened).
  bool m_bLockFile = false;
  std::vector<KECGlpsAuditFinding> m_vFindings;
  // Bytes hashed: log.xml and the recorded part of every protected file found.
  std::int64_t m_nBytesHashed = 0;
  // The log's sealing (nothing when it is not sealed and no verification key was given).
  KECGlpsAuditSeal m_seal;
  // The tamper and crash entries of the recorded documents, in the order of the trail.
  std::vector<KECGlpsAuditEvent> m_vEvents;

  std::size_t ProtectedCount() const;
  std::size_t ProtectedIntactCount() const;
  std::size_t CountWithStatus(Glps::EAuditFileStatus status) const;
  // Findings that fail the verdict (those no tamper entry records).
  std::size_t OpenFindingCount() const;
  // Tamper entries within the recorded parts of the documents: what eAuditTamperRecorded counts.
  std::size_t RecordedTamperCount() const;
  // With `requireInfo`, a log that neither an info nor its checked seals authenticate is not intact
  // rather than not authenticated. A log whose trail records tampering is eAuditTamperRecorded
  // when it would otherwise be intact or not authenticated.
  Glps::EAuditVerdict Verdict(bool requireInfo = false) const;
  // log.xml is authenticated: it matches the info, or the checked seals are intact (the last one
  // covering log.xml).
  bool IsAuthenticated() const;
};

// One entry of a trail, as read back from the documents. Texts are as the host passed them (the
// HTML decoded); -1 and empty texts stand for "not applicable".
struct GLPS_API KECGlpsAuditEntry {
  Glps::EAuditEntryKind m_eKind = Glps::eAuditEntryText;
  std::int64_t m_nNumber = -1;  // message number
  std::string m_strDate;        // "YYYY-MM-DD", local to the writer
  std::string m_strTime;        // "HH:MM:SS +HH:MM"
  std::string m_strUser;
  std::string m_strMessage;  // the message; a crash's first line; a heading's or line's text
  std::string m_strContext;  // the context of an experiment log's context message
  bool m_bHasContext = false;
  bool m_bBold = false;                 // the message is set in bold
  std::vector<std::string> m_vDetails;  // a crash's detail lines, without their indentation
  std::string m_strDocument;            // the document's file name
  std::int64_t m_nOffset = 0;           // where the entry starts in the document
  std::int64_t m_nLength = 0;           // its bytes, line ends included
  // The entry lies within the part of its document that log.xml records; false for an unsaved
  // tail.
  bool m_bSaved = true;
  // Where the bytes it was read from stand (filled by verification; ReadTrail verifies too).
  Glps::EAuditEntryStanding m_eStanding = Glps::eAuditStandingIntact;
};

// A log's entries in order: the documents in record order, each from its start to its end as found
// (an unsaved tail included, its entries marked), then the documents that no record holds, by name.
struct GLPS_API KECGlpsAuditTrail {
  std::string m_strDirectory;
  // Not empty when the directory or its log.xml could not be read; nothing below is then filled.
  std::string m_strError;
  bool m_bApplicationLog = false;  // log.xml's content type says application log
  std::vector<KECGlpsAuditEntry> m_vEntries;
  // Documents that could not be read, each with the reason.
  std::vector<std::string> m_vProblems;
};

// A log directory held open (glps/audit_walk.h).
class KECGlpsAuditLogDirectory;

// Called while files are hashed, with the bytes hashed so far and the bytes to hash in all.
using KECGlpsAuditProgress = std::function<void(std::int64_t done, std::int64_t total)>;

// Called with each entry of the trail, in order, as verification reads it from the very bytes it
// fingerprints (its standing filled in); the entry may be taken (moved from).
using KECGlpsAuditEntrySink = std::function<void(KECGlpsAuditEntry& entry)>;

// What a log is verified against besides its own records.
struct GLPS_API KECGlpsAuditRequest {
  // The info the host kept for the log; null: none.
  const KECGlpsLogInfo* m_pInfo = nullptr;
  // The verification key of a sealed log, as setting up sealing handed it out (KECGlpsSeal::Init,
  // `glps seal init`); empty: the seals are not checked, only described.
  std::string m_strSealKey;
  KECGlpsAuditProgress m_progress;
  // Set: the trail's entries are handed to it while the log is verified, each document's from the
  // bytes its fingerprint and the verdict were taken from, so that what is shown beside the verdict
  // is what was verified (a file changed or swapped meanwhile cannot put other entries there).
  // The entries are not kept: memory does not grow with the trail. The documents of the trail are
  // read as KECGlpsAuditTrail describes: after the recorded ones, the files named like documents
  // that no record holds (eAuditStandingUnrecorded).
  KECGlpsAuditEntrySink m_entries;
};

// Verifies log directories one after the other, reusing its buffers from one log to the next (a
// log's documents are read whole for the checks that need no info). Owned by its caller; one
// thread at a time, several verifiers in several threads at once.
class GLPS_API KECGlpsAuditVerifier {
 public:
  KECGlpsAuditVerifier();
  ~KECGlpsAuditVerifier();
  KECGlpsAuditVerifier(const KECGlpsAuditVerifier&) = delete;
  KECGlpsAuditVerifier& operator=(const KECGlpsAuditVerifier&) = delete;

  // As KECGlpsAudit::Verify.
  KECGlpsAuditReport Verify(const std::string& directory, const KECGlpsLogInfo* info,
                            const KECGlpsAuditProgress& progress = nullptr);
  KECGlpsAuditReport Verify(const std::string& directory, const KECGlpsAuditRequest& request);
  KECGlpsAuditReport Verify(const KECGlpsAuditLogDirectory& directory,
                            const KECGlpsAuditRequest& request);

 private:
  struct Buffers;
  // Never null.
  std::unique_ptr<Buffers> m_pBuffers;
};

// The read-only audit of log directories. Nothing in a directory is created, written, truncated,
// locked, renamed or deleted, and no modification time changes; symbolic links are never followed,
// and the log's lock file is never opened. Needs no open log and no service: a host may call it at
// any time, also on a log that it has open, and from several threads at once (each call reads on
// its own; nothing is shared between calls).
class GLPS_API KECGlpsAudit {
 public:
  // The name of the lock file that an open log holds in its directory.
  static const char* LockFileName();

  // Reads log.xml of `directory`. False, with the reason in `error`, when the directory is missing
  // or not a directory, or log.xml is missing, not a regular file, unreadable or not a complete log
  // archive; `state` is then left as it was.
  static bool ReadLogState(const std::string& directory, KECGlpsAuditLogState* state,
                           std::string* error);

  // Verifies the log in `directory`: every recorded file against its record, log.xml against
  // `info` when it is not null, and the checks that need no info (numbering, catalog, entry
  // boundaries, unrecorded documents, index pages). To verify many logs in turn, a
  // KECGlpsAuditVerifier does the same with less memory traffic.
  static KECGlpsAuditReport Verify(const std::string& directory, const KECGlpsLogInfo* info,
                                   const KECGlpsAuditProgress& progress = nullptr);
  // The same, and for a sealed log with its verification key, the seals: every seal verifies under
  // its key (derived one way from the verification key, so nobody who later held a sealing key
  // could make an earlier seal), the seals are numbered without gaps, every document still begins
  // with the bytes every seal sealed (one pass over each document), every other sealed file is as
  // its last seal says (linked files also by the SHA-256 taken when they were linked), and the last
  // seal covers log.xml and its records. What was written after the last seal is an unsealed tail.
  static KECGlpsAuditReport Verify(const std::string& directory,
                                   const KECGlpsAuditRequest& request);
  // The same for a directory held open, as a walk hands it out (glps/audit_walk.h): every file is
  // read through it, whatever is renamed meanwhile; the report names it by its Path().
  static KECGlpsAuditReport Verify(const KECGlpsAuditLogDirectory& directory,
                                   const KECGlpsAuditRequest& request);

  // Reads the trail of the log in `directory` back from its documents (verifying it, without an
  // info, so that each entry's standing is known).
  static KECGlpsAuditTrail ReadTrail(const std::string& directory);
  // Verifies the log as Verify(directory, request) does and fills `trail` from the same reading
  // (see KECGlpsAuditRequest::m_entries, which it sets): the verdict and the entries come from the
  // same bytes. Every entry is kept; for a trail of any size, hand the entries to a sink instead.
  static KECGlpsAuditReport ReadVerifiedTrail(const std::string& directory,
                                              const KECGlpsAuditRequest& request,
                                              KECGlpsAuditTrail* trail);
  // The documents of the report's trail that could not be read, each as "NAME: reason" (what
  // KECGlpsAuditTrail::m_vProblems holds).
  static std::vector<std::string> UnreadDocuments(const KECGlpsAuditReport& report);

  // "intact", "modified", "grown-intact", "grown-modified", "shrunk", "missing", "not-regular",
  // "unreadable", "bad-name", "unprotected", "multiply-linked".
  static const char* StatusName(Glps::EAuditFileStatus status);
  // Every status of a file that is not as its record says, in the order a summary of what differs
  // names them, each with its words, which follow a count of files ("2 files modified"):
  // "modified", "grown with the recorded part intact (an unsaved tail)", "grown and changed",
  // "shorter than recorded" (the file was cut, or its record raised), "missing", "not regular (a
  // directory, a symbolic link, a FIFO, ...)", "with more than one name (hard link)", "named by a
  // record with a bad name", "unreadable". Intact and unprotected files differ from nothing and are
  // not among them.
  static std::vector<KECGlpsAuditDifference> Differences();
  // "message", "start", "exit", "crash", "extra-note", "tamper", "caption", "title", "rule",
  // "text".
  static const char* EntryKindName(Glps::EAuditEntryKind kind);
  // "intact", "modified", "unsaved-tail", "unrecorded-document".
  static const char* StandingName(Glps::EAuditEntryStanding standing);
  // The event in one sentence for a person: what it is, where it stands, between which messages
  // it was written and, for a tamper entry, that the trail does not say which files were found
  // changed. Texts read from the log are given as they are (a caller escapes them for display).
  static std::string EventSummary(const KECGlpsAuditEvent& event);
  // "intact", "not-intact", "not-authenticated", "unreadable", "tamper-recorded".
  static const char* VerdictName(Glps::EAuditVerdict verdict);
  // "number-gap", "number-repeat", "catalog-mismatch", "cut-inside-entry", "tail-numbering",
  // "unrecorded-document", "index-names-unrecorded", "document-not-checked",
  // "record-breaks-rules".
  static const char* FindingKindName(Glps::EAuditFindingKind kind);
  // "log", "metadata", "index-main", "index-menu", "link", "none", or "kind-N".
  static std::string FileKindName(Glps::EFileType kind);
  // "no-seal-file", "seal-file-unreadable", "wrong-key", "malformed-seal", "bad-mac",
  // "seals-missing", "seal-out-of-order", "sealed-bytes-changed", "sealed-file-short",
  // "sealed-file-changed", "log-xml-not-sealed", "records-differ-from-seal",
  // "incomplete-seal-line", "clock-back", "relinked", "sealing-key-present",
  // "sealed-record-changed", "sealed-documents-changed", "sealed-header-changed",
  // "seal-number-too-high", "sealed-document-resized", "seal-too-large".
  static const char* SealFindingKindName(Glps::EAuditSealFindingKind kind);
};

#endif  // GLPS_AUDIT_H_
