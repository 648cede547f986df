// SPDX-License-Identifier: Apache-2.0
// What the service tells the host about its logs besides the results of its calls: the error codes
// of LogExpInit, what the last opening of a log found (KECGlpsLogOpening) and why the last call on
// a log that failed did (KECGlpsLogError).
#ifndef GLPS_LOG_STATUS_H_
#define GLPS_LOG_STATUS_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "glps/audit.h"
#include "glps/export.h"
#include "glps/records.h"

namespace Glps {

// The error codes that KECGlpsServices::LogExpInit writes to its `error` output.
enum ELogError : std::uint32_t {
  // No error (LogExpInit writes none; KECGlpsLogError::Code of a failure of another operation).
  eErrorNone = 0,
  // The log cannot be used: KECGlpsLogOpening::Unusable says why.
  eErrorLogUnusable = 0xE02A2711u,
  // The experiment is refused: it was made by an earlier version (m_bExtra set) below version 400.
  eErrorExperimentRefused = 0xE02A2712u,
};

// What the last opening of a log found, in one word (KECGlpsLogOpening::State).
enum ELogOpening : std::int32_t {
  // The log has not been opened since the service was made.
  eLogOpeningNone = 0,
  // No log was in the directory (and the host expected none): a new log was started.
  eLogOpeningNew = 1,
  // The log goes on: its log.xml is the one the host's info names, and every protected file is as
  // its record says.
  eLogOpeningIntact = 2,
  // The log goes on, but was changed outside the trail: log.xml is not the one the host's info
  // names, or a protected file differs from its record. The records were re-based on the files as
  // found.
  eLogOpeningTampered = 3,
  // The log cannot be written (KECGlpsLogOpening::Unusable and Reason say why): entries are not
  // recorded, and nothing in the directory was changed.
  eLogOpeningUnusable = 4,
};

// Why a log cannot be used.
enum ELogUnusable : std::int32_t {
  // It can.
  eLogUsable = 0,
  // No directory was given (an empty path).
  eLogUnusableNoDirectory = 1,
  // The directory cannot be opened: missing, not a directory, a symbolic link, or no permission.
  eLogUnusableDirectory = 2,
  // The log's lock (log.lock) cannot be had: another writer, in this process or another, holds the
  // log, or this account cannot write the lock file.
  eLogUnusableLocked = 3,
  // log.xml is read-only.
  eLogUnusableReadOnly = 4,
  // log.xml is there but cannot be read or is not a complete log archive.
  eLogUnusableLogXml = 5,
  // No document could be opened or created to write the entries into.
  eLogUnusableDocument = 6,
};

}  // namespace Glps

// What the last opening of a log found (KECGlpsServices::GetLogAppOpening, GetLogExpOpening):
// whether the log was new, intact, tampered with or cannot be used; for a tampered log, log.xml
// against the host's info and every protected file that did not match its record, as found before
// the records were re-based; for a log that cannot be used, why.
//
// A value, cheap to copy: copies share one unchangeable description. New accessors may be added in
// later versions without changing the layout of the class. A default-constructed value describes no
// opening (eLogOpeningNone).
class GLPS_API KECGlpsLogOpening {
 public:
  // The library's description; hosts only pass values around.
  struct Data;

  KECGlpsLogOpening();
  explicit KECGlpsLogOpening(std::shared_ptr<const Data> data);
  KECGlpsLogOpening(const KECGlpsLogOpening& other);
  KECGlpsLogOpening& operator=(const KECGlpsLogOpening& other);
  ~KECGlpsLogOpening();

  // The opening in one word.
  Glps::ELogOpening State() const;
  // The log's directory as the host gave it.
  const std::string& Directory() const;
  // The log can be written (also when it was found tampered with).
  bool IsUsable() const;
  // Why it cannot; eLogUsable when it can.
  Glps::ELogUnusable Unusable() const;
  // Why it cannot, for a person, with the system's reason where there is one ("another writer holds
  // the lock (log.lock)", "/data/exp: No such file or directory"); empty when it can.
  const std::string& Reason() const;
  // The system's error number behind Reason; 0 when there is none.
  int SystemError() const;

  // log.xml is not the one the host's info names, or a protected file differs from its record:
  // what KECGlpsServices::IsLogAppTampered answers after the opening. Also set for a log that
  // cannot be used when what could be read of it did not match.
  bool IsTampered() const;
  // The info the host handed to the opening (the no-log-info value when it knew none).
  const KECGlpsLogInfo& ExpectedInfo() const;
  // The info of the log.xml found (the no-log-info value when there was none, or it could not be
  // read whole).
  const KECGlpsLogInfo& FoundInfo() const;
  // log.xml is the one the expected info names (no log.xml and no info also match).
  bool LogXmlMatches() const;
  // The protected files that log.xml records and that the opening verified.
  std::size_t ProtectedCount() const;
  // Every protected file that did not match its record, in record order, as found before the
  // records were re-based: its record (kind, name, recorded size and fingerprint), its status, and
  // the size and fingerprint found.
  const std::vector<KECGlpsAuditFile>& Files() const;
  // Every record of log.xml that breaks the rules of a record set (kind eAuditRecordBreaksRules):
  // the library acts on none of them and keeps them as evidence. Only a log.xml written by someone
  // else holds such records, so it does not match the host's info either.
  const std::vector<KECGlpsAuditFinding>& RecordFindings() const;
  // A document was longer than its record, its recorded part intact: entries were written after the
  // last save and never saved (the previous run ended without saving them; a crash). The tail was
  // cut off.
  bool HadUnsavedTail() const;
  // The host reported that its previous run ended abnormally, and a crash entry was written: for
  // an experiment log, the crash record given to LogExpInit; for the application log, LogAppCrash
  // after the opening.
  bool CrashReported() const;
  // A tamper entry was written for this opening: by LogExpInit for an experiment log found
  // tampered (unless a crash was reported), by LogAppTampered for the application log.
  bool TamperEntryWritten() const;

  // The opening in one line for a person: "new log", "intact: 4 protected files as recorded",
  // "TAMPERED: log.xml is not the one the info names; 1 file modified: GLP-Log-A_0001.html", "NOT
  // USABLE: another writer holds the lock (log.lock)".
  std::string Summary() const;

 private:
  // Never null.
  std::shared_ptr<const Data> m_pData;
};

// Why the last call on a log that failed did (KECGlpsServices::GetLogAppLastError,
// GetLogExpLastError), in the spirit of errno: what failed, on which file, and the system's reason.
// A failure is kept until another call on the same log fails, or the log is opened again.
//
// A value, cheap to copy, that new accessors may be added to in later versions without changing the
// layout of the class. A default-constructed value describes no failure.
class GLPS_API KECGlpsLogError {
 public:
  // The library's description; hosts only pass values around.
  struct Data;

  KECGlpsLogError();
  explicit KECGlpsLogError(std::shared_ptr<const Data> data);
  KECGlpsLogError(const KECGlpsLogError& other);
  KECGlpsLogError& operator=(const KECGlpsLogError& other);
  ~KECGlpsLogError();

  // A failure is described (false for the default value).
  bool IsFailure() const;
  // The operation of KECGlpsServices that failed ("LogExpSave").
  const std::string& Operation() const;
  // The error code LogExpInit wrote (eErrorLogUnusable, eErrorExperimentRefused); eErrorNone for
  // the other operations.
  Glps::ELogError Code() const;
  // What failed, in words ("log.xml could not be written").
  const std::string& What() const;
  // The file concerned: a name in the log's directory, or the directory's path; empty when none.
  const std::string& File() const;
  // The system's error number (errno) behind the failure; 0 when the system reported none (the
  // library refused on its own, or nothing was there to do it with).
  int SystemError() const;
  // The system's text for SystemError ("No space left on device"), or the library's own reason for
  // refusing ("the file has more than one name"); empty when there is none.
  const std::string& SystemReason() const;
  // The whole failure in one line: "LogExpSave: log.xml could not be written (log.xml): No space
  // left on device". Empty for no failure.
  std::string Text() const;

 private:
  // Never null.
  std::shared_ptr<const Data> m_pData;
};

#endif  // GLPS_LOG_STATUS_H_
