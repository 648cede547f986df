// SPDX-License-Identifier: Apache-2.0
// KECGlpsSeal: sealing a log, so that an auditor holding the log's verification key can
// authenticate a copy of it without the info the host keeps (docs/seal.md).
#ifndef GLPS_SEAL_H_
#define GLPS_SEAL_H_

#include <string>

#include "glps/export.h"

// Sealing is chosen per log. A sealed log's directory holds, beside its other files (which keep
// their formats), the seal file "log.seal" and the current sealing key "log.seal-key" (mode 0600).
// Every save of a sealed log appends a seal to the seal file, a MAC under the current sealing key
// of the save's log.xml and of every protected file's name, size and fingerprint (linked files also
// with a SHA-256 taken when they were linked), and replaces the key by the next one, derived one
// way, overwriting it before the save returns. Whoever holds the computer from some time on can
// add seals after that time, and can cut the seal file's end, but cannot make a seal of an earlier
// save nor make a changed sealed byte verify. The auditor checks the seals with the verification
// key (KECGlpsAudit::Verify with KECGlpsAuditRequest::m_strSealKey, `glps verify --seal-key`).
//
// A sealed log cannot be cleared (ClearLogExp returns false): clearing deletes the sealed trail.
// Export copies neither file. A log that is not sealed behaves exactly as it did before sealing
// existed: no seal is written and no file is added.
//
// All calls are safe from several threads; none throws.
class GLPS_API KECGlpsSeal {
 public:
  // Sets up sealing of the log in `directory` (an existing directory, which may hold no log yet):
  // makes a random verification key, seals the log as it is now as seal 0 (its log.xml and the
  // files it records; for a directory without log.xml, the empty log), stores the first sealing key
  // and hands the verification key out in `verificationKey`, as 64 hexadecimal digits in eight
  // groups joined by '-'. The verification key is stored nowhere: whoever sets up sealing gives it
  // to the auditors and keeps it away from the computer. False, with the reason in `error`, when
  // the directory cannot be opened, another writer holds the log (a host has it open), the log is
  // sealed already, its log.xml cannot be read, or a file cannot be written. A setup interrupted
  // before it stored its key can be run again.
  static bool Init(const std::string& directory, std::string* verificationKey, std::string* error);

  // The directory holds a seal file or a sealing key.
  static bool IsSealed(const std::string& directory);

  // The text is a verification key in the form Init hands out (blanks and '-' ignored, letter case
  // too).
  static bool IsVerificationKey(const std::string& text);

  // "log.seal" and "log.seal-key".
  static const char* SealFileName();
  static const char* KeyFileName();
};

#endif  // GLPS_SEAL_H_
